#include "foundation/FolderLockInfo.h"

#include "foundation/BookCommon.h"
#include "platform/core/FileManager.h"
#include "platform/core/Path.h"
#include "platform/core/PropertyList.h"

FolderLockInfo FolderLockInfo::fromArray(const sys::PlistArray& array) {
    FolderLockInfo info;
    info.entryCount_ = int(std::min<size_t>(array.size(), 4));
    if (array.size() < 2) {
        info.entryCount_ = 0;
        return info;
    }
    // Entry 0 was written as an integer; a boolean is read the same way, any
    // other type is not a lock.
    const sys::PlistValue& lock = array[0];
    info.isPasscodeLock_ = lock.isNumber() && lock.integerValue() != 0;
    if (array.size() == 2) {
        info.plainPasscode_ = array[1].asString();
        info.passcodeHash_ = BookCommon::passcodeToHash(info.plainPasscode_);
        return info;
    }
    info.passcodeHash_ = array[2].asString();
    if (array.size() >= 4 && array[3].isNumber()) info.isUnlockWithTouchID_ = array[3].boolValue();
    return info;
}

std::string FolderLockInfo::recordPath(const std::string& folder) {
    return BookCommon::getDirectrySettingFile(folder, false, kFileName);
}

FolderLockInfo FolderLockInfo::readFromFolder(const std::string& folder) {
    auto array = sys::PropertyList::readArray(recordPath(folder));
    if (!array) return FolderLockInfo();
    return fromArray(*array);
}

FolderLockInfo FolderLockInfo::lockedWithPasscode(const std::string& passcode, bool unlockWithTouchID) {
    FolderLockInfo info;
    info.entryCount_ = 4;
    info.isPasscodeLock_ = true;
    info.passcodeHash_ = BookCommon::passcodeToHash(passcode);
    info.isUnlockWithTouchID_ = unlockWithTouchID;
    return info;
}

sys::PlistArray FolderLockInfo::toArray() const {
    return {sys::PlistValue(int64_t(isPasscodeLock_ ? 1 : 0)), sys::PlistValue(kFixedText),
            sys::PlistValue(passcodeHash_), sys::PlistValue(isUnlockWithTouchID_)};
}

bool FolderLockInfo::writeToFolder(const std::string& folder) const {
    const std::string path = recordPath(folder);
    // A remote folder's record lives in a place of our own that the first
    // lock makes; a local folder must already be there.
    if (BookCommon::isURL(folder))
        sys::FileManager::createDirectory(sys::Path::stringByDeletingLastPathComponent(path), true);
    return sys::PropertyList::writeFile(sys::PlistValue(toArray()), path);
}

bool FolderLockInfo::isUnlockedMarker() const { return isOldForm() && plainPasscode_ == kFixedText; }

bool FolderLockInfo::hasPasscode() const {
    if (isCurrentForm()) return true;
    if (isOldForm()) return !plainPasscode_.empty();
    return false;
}
