#include "platform/ui/FakeBiometrics.h"

#include "platform/core/RunLoop.h"

namespace ui {

bool FakeBiometrics::canEvaluate() const {
    ++capabilityQueries;
    return available;
}

sys::DeviceProfile::Biometry FakeBiometrics::biometryType() const {
    return available ? type : sys::DeviceProfile::Biometry::None;
}

void FakeBiometrics::evaluate(const std::string& reason, Completion completion) {
    reasons.push_back(reason);
    bool ok = available && succeed;
    std::string error = !available ? kUnavailable : ok ? "" : "Authentication failed.";
    if (completion) sys::RunLoop::main().post([completion, ok, error] { completion(ok, error); });
}

}  // namespace ui
