#pragma once

#include "foundation/VolumeButtonCheckDelegate.h"
#include "platform/core/OutputVolume.h"
#include "platform/core/RunLoop.h"

#include <memory>
#include <optional>

// Turns volume-button presses into page turns: while checking, the output
// volume is held at a middle value, every change away from it is reported as
// a press and the volume is put back, so the next press in either direction
// changes it again. Main thread only.
class VolumeButtonCheck : public std::enable_shared_from_this<VolumeButtonCheck> {
public:
    static std::shared_ptr<VolumeButtonCheck> sharedInstance();

    void startCheckingVolumeButton();
    void stopCheckingVolumeButton();
    // Puts the output volume to `volume` and lets changes count again.
    void setVolume(float volume);

    void setDelegate(VolumeButtonCheckDelegate* delegate) { delegate_ = delegate; }
    VolumeButtonCheckDelegate* delegate() const { return delegate_; }

    float initialVolume() const { return initialVolume_; }
    bool disableChange() const { return disableChange_; }
    bool isChecking() const { return observer_.has_value(); }

private:
    VolumeButtonCheck() = default;
    void observe();
    void stopObserving();
    void volumeChanged(float newVolume);
    void setVolumeLater(double delay);

    std::shared_ptr<sys::OutputVolume> output_;
    std::optional<sys::OutputVolume::Token> observer_;
    sys::RunLoop::TimerRef pendingSet_;
    float initialVolume_ = 0;
    bool disableChange_ = false;
    VolumeButtonCheckDelegate* delegate_ = nullptr;
};
