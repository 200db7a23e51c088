#pragma once

#include <memory>

class MicInput;

// The reading screen's side of the microphone settings screen: the monitor
// it lent comes back when that screen leaves.
class MicSettingViewControllerDelegate {
public:
    virtual ~MicSettingViewControllerDelegate() = default;
    virtual void returnMicInputObject(const std::shared_ptr<MicInput>& micInput) = 0;
};
