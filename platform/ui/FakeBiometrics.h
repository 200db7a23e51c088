#pragma once

#include "platform/ui/Biometrics.h"

#include <string>
#include <vector>

namespace ui {

// Biometrics for tests: present or not, succeeding or not, counting how
// often it was asked.
class FakeBiometrics : public Biometrics {
public:
    bool available = true;
    bool succeed = true;
    sys::DeviceProfile::Biometry type = sys::DeviceProfile::Biometry::FaceID;
    mutable int capabilityQueries = 0;
    std::vector<std::string> reasons;

    bool canEvaluate() const override;
    sys::DeviceProfile::Biometry biometryType() const override;
    void evaluate(const std::string& reason, Completion completion) override;
};

}  // namespace ui
