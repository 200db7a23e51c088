#pragma once

#include "library/PassCodeRequetDelegate.h"

#include <functional>
#include <memory>
#include <string>

// Asks for biometric unlock of a locked folder, with the reason
// "<folder> is locked.". The answer reaches the delegate on the main
// thread: success, cancelled by the user or the system, or any other
// failure (the caller then asks for the passcode itself).
class PassCodeRequet : public std::enable_shared_from_this<PassCodeRequet> {
public:
    enum class Outcome { Success, Cancelled, Failed };
    // The platform's biometric check: shows `reason`, answers through the
    // completion (any thread).
    using Authenticator = std::function<void(const std::string& reason, std::function<void(Outcome)> completion)>;

    PassCodeRequet() = default;

    void setPassCodeHash(const std::string& v) { target_.passCodeHash = v; }
    const std::string& passCodeHash() const { return target_.passCodeHash; }
    void setPath(const std::string& v) { target_.path = v; }
    const std::string& path() const { return target_.path; }
    void setPathFromBooks(const std::string& v) { target_.pathFromBooks = v; }
    const std::string& pathFromBooks() const { return target_.pathFromBooks; }
    void setActionID(int64_t v) { target_.actionID = v; }
    int64_t actionID() const { return target_.actionID; }
    void setDelegate(std::weak_ptr<PassCodeRequetDelegate> d) { delegate_ = std::move(d); }
    const PassCodeTarget& target() const { return target_; }

    void requestPasscode();
    // The reason shown: the folder's own name (without ".lock_") + " is locked.".
    std::string reason() const;

    // Installed by the platform layer; without one the device has no
    // biometrics and every request fails (the passcode screen follows).
    static void setAuthenticator(Authenticator authenticator);

private:
    void answer(Outcome outcome);

    PassCodeTarget target_;
    std::weak_ptr<PassCodeRequetDelegate> delegate_;
};
