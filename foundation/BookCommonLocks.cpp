#include "foundation/BookCommonLocks.h"

#include "foundation/FolderLockInfo.h"
#include "foundation/LibMD5.h"
#include "platform/core/Clock.h"
#include "platform/core/DeviceProfile.h"
#include "platform/core/Path.h"

#include <cmath>

namespace {

const std::string kLockPrefix = ".lock_";

// How long a biometric capability answer stays good.
constexpr double kBiometricsCacheSeconds = 60.0;

struct BiometricsCache {
    std::function<bool()> evaluator;
    bool valid = false;
    bool result = false;
    double evaluatedAt = 0;
};

BiometricsCache& biometrics() {
    static BiometricsCache cache;
    return cache;
}

}  // namespace

std::string BookCommonLocks::passcodeToHash(const std::string& passcode) {
    std::string salted = "QuorVENd___" + passcode;
    return LibMD5::getMD5StringHexWithBytes(salted.data(), salted.size());
}

bool BookCommonLocks::canEvaluateBiometrics() {
    auto& cache = biometrics();
    double now = sys::Clock::now();
    if (cache.valid && std::fabs(now - cache.evaluatedAt) <= kBiometricsCacheSeconds) {
        return cache.result;
    }
    cache.result = cache.evaluator ? cache.evaluator()
                                   : sys::DeviceProfile::current().biometry != sys::DeviceProfile::Biometry::None;
    cache.evaluatedAt = now;
    cache.valid = true;
    return cache.result;
}

void BookCommonLocks::setBiometricsEvaluator(std::function<bool()> evaluator) {
    auto& cache = biometrics();
    cache.evaluator = std::move(evaluator);
    cache.valid = false;
}

bool BookCommonLocks::isFolderLocked(const std::string& folder, std::string* pPassCodeHash,
                                     bool* pIsTouchIDEnable) {
    FolderLockInfo info = FolderLockInfo::readFromFolder(folder);
    if (info.isOldForm() && info.isUnlockedMarker()) {
        if (pPassCodeHash) pPassCodeHash->clear();
        if (pIsTouchIDEnable) *pIsTouchIDEnable = false;
        return false;
    }
    // The capability is asked whatever the record says, so that a screen
    // that lists many folders settles the cache on the first one.
    bool biometricsAvailable = canEvaluateBiometrics();
    if (info.isPasscodeLock() && info.hasPasscode()) {
        if (pPassCodeHash) *pPassCodeHash = info.passcodeHash();
        if (pIsTouchIDEnable) *pIsTouchIDEnable = biometricsAvailable && info.isUnlockWithTouchID();
        return true;
    }
    if (pPassCodeHash) pPassCodeHash->clear();
    return false;
}

bool BookCommonLocks::isFolderLocked(const std::string& folder) {
    return isFolderLocked(folder, nullptr, nullptr);
}

bool BookCommonLocks::isFolderNameChangedForLock(const std::string& path) {
    std::string name = sys::Path::lastPathComponent(path);
    return name.size() > kLockPrefix.size() && name.compare(0, kLockPrefix.size(), kLockPrefix) == 0;
}

std::optional<std::string> BookCommonLocks::getNewNameFolderForLock(const std::string& path, bool isLock) {
    std::string name = sys::Path::lastPathComponent(path);
    std::string parent = sys::Path::stringByDeletingLastPathComponent(path);
    if (isFolderNameChangedForLock(path)) {
        if (isLock) return std::nullopt;
        return sys::Path::stringByAppendingPathComponent(parent, name.substr(kLockPrefix.size()));
    }
    if (!isLock) return std::nullopt;
    return sys::Path::stringByAppendingPathComponent(parent, kLockPrefix + name);
}

std::string BookCommonLocks::getLockedFolderOriginalName(const std::string& path) {
    if (!isFolderNameChangedForLock(path)) return path;
    return sys::Path::stringByAppendingPathComponent(sys::Path::stringByDeletingLastPathComponent(path), sys::Path::lastPathComponent(path).substr(kLockPrefix.size()));
}
