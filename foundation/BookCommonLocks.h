#pragma once

#include <functional>
#include <optional>
#include <string>

// BookCommon's operations for folder locks.
// Class operations only; reach them through BookCommon.
//
// A locked folder carries a record ("directory.plist", see FolderLockInfo)
// and is renamed to ".lock_" + its name. Main thread only.
class BookCommonLocks {
public:
    // Upper-case hex MD5 of the salted passcode; the record and the start-up
    // passcode both store this form, so it must never change.
    static std::string passcodeToHash(const std::string& passcode);

    // Reads the folder's lock record. When locked: true, *pPassCodeHash gets
    // the stored hash and *pIsTouchIDEnable whether biometrics may unlock it
    // (allowed by the record and available on the device). When not locked:
    // false, *pPassCodeHash is cleared and *pIsTouchIDEnable left alone.
    // Either pointer may be null. A folder path or a folder URL.
    static bool isFolderLocked(const std::string& folder, std::string* pPassCodeHash,
                               bool* pIsTouchIDEnable);
    static bool isFolderLocked(const std::string& folder);

    // The last component is longer than ".lock_" and begins with it.
    static bool isFolderNameChangedForLock(const std::string& path);
    // Where to move the folder to lock or unlock it; nothing when the folder
    // is already in the asked state.
    static std::optional<std::string> getNewNameFolderForLock(const std::string& path, bool isLock);
    // The path under the folder's own name (unchanged for an unlocked name).
    static std::string getLockedFolderOriginalName(const std::string& path);

    // Whether the device can evaluate biometric owner authentication. Asked
    // at most once a minute; the answer is cached in between.
    static bool canEvaluateBiometrics();
    // The platform's biometric capability test; without one, the device
    // profile's biometry answers. Setting it forgets the cached answer.
    static void setBiometricsEvaluator(std::function<bool()> evaluator);

protected:
    BookCommonLocks() = default;
};
