#pragma once

#include "platform/core/DeviceProfile.h"

#include <functional>
#include <memory>
#include <string>

namespace ui {

// Owner authentication by face or fingerprint. A desktop has neither, so
// the process's biometrics (shared()) report them unavailable and every
// evaluation fails; tests install a FakeBiometrics.
class Biometrics {
public:
    using Completion = std::function<void(bool success, const std::string& error)>;

    virtual ~Biometrics() = default;
    static std::shared_ptr<Biometrics> shared();
    static void setShared(std::shared_ptr<Biometrics> b);

    virtual bool canEvaluate() const { return false; }
    virtual sys::DeviceProfile::Biometry biometryType() const { return sys::DeviceProfile::Biometry::None; }
    // The answer comes on a later turn of the main loop.
    virtual void evaluate(const std::string& reason, Completion completion);

    static constexpr const char* kUnavailable = "Biometry is not available.";
};

}  // namespace ui
