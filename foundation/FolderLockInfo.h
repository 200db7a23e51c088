#pragma once

#include "platform/core/PlistValue.h"

#include <string>

// A folder's lock record, "directory.plist" in the folder (a remote folder
// keeps its copy under the remote-book setting base). A property-list array:
//   current form: [locked (integer), "k7QWZR3m", passcode hash, biometrics allowed (bool)]
//                 (3 entries: biometrics off)
//   old form:     [locked (integer), passcode in plain text]
// A missing, unreadable or shorter record means not locked.
class FolderLockInfo {
public:
    static constexpr const char* kFileName = "directory.plist";
    // Entry 1 of the current form; in the old form it marks "no passcode".
    static constexpr const char* kFixedText = "k7QWZR3m";

    FolderLockInfo() = default;
    // The record as read from an array of any length; entries of the wrong
    // type read as absent (0, "", NO).
    static FolderLockInfo fromArray(const sys::PlistArray& array);
    // The folder's record; an empty (not locked) one when there is none.
    static FolderLockInfo readFromFolder(const std::string& folder);
    static std::string recordPath(const std::string& folder);

    // A current-form record for a passcode.
    static FolderLockInfo lockedWithPasscode(const std::string& passcode, bool unlockWithTouchID);
    sys::PlistArray toArray() const;
    // Writes the record atomically into the folder.
    bool writeToFolder(const std::string& folder) const;

    int entryCount() const { return entryCount_; }
    bool isOldForm() const { return entryCount_ == 2; }
    bool isCurrentForm() const { return entryCount_ >= 3; }
    // Entry 0 is non-zero.
    bool isPasscodeLock() const { return isPasscodeLock_; }
    // The old form with the fixed text as its passcode: explicitly not locked.
    bool isUnlockedMarker() const;
    // In the current form a passcode counts as present; in the old form when
    // the plain passcode is not "".
    bool hasPasscode() const;
    const std::string& passcodeHash() const { return passcodeHash_; }
    bool isUnlockWithTouchID() const { return isUnlockWithTouchID_; }

private:
    int entryCount_ = 0;
    bool isPasscodeLock_ = false;
    std::string plainPasscode_;  // old form only
    std::string passcodeHash_;
    bool isUnlockWithTouchID_ = false;
};
