#include "foundation/VolumeButtonCheck.h"

#include <algorithm>
#include <cmath>

std::shared_ptr<VolumeButtonCheck> VolumeButtonCheck::sharedInstance() {
    static std::shared_ptr<VolumeButtonCheck> instance(new VolumeButtonCheck());
    return instance;
}

void VolumeButtonCheck::observe() {
    if (observer_ || !output_) return;
    std::weak_ptr<VolumeButtonCheck> weak = weak_from_this();
    observer_ = output_->addObserver([weak](float v) {
        if (auto self = weak.lock()) self->volumeChanged(v);
    });
}

void VolumeButtonCheck::stopObserving() {
    if (observer_ && output_) output_->removeObserver(*observer_);
    observer_.reset();
}

void VolumeButtonCheck::setVolumeLater(double delay) {
    if (pendingSet_) pendingSet_->invalidate();
    std::weak_ptr<VolumeButtonCheck> weak = weak_from_this();
    float v = initialVolume_;
    pendingSet_ = sys::RunLoop::main().schedule(
        delay,
        [weak, v] {
            if (auto self = weak.lock()) self->setVolume(v);
        },
        0, sys::RunLoop::Owner(weak));
}

void VolumeButtonCheck::startCheckingVolumeButton() {
    if (output_) stopCheckingVolumeButton();
    output_ = sys::OutputVolume::shared();
    if (!output_->activate()) {
        output_.reset();
        return;
    }
    // Kept away from both ends, so that a press in either direction changes it.
    initialVolume_ = std::clamp(output_->volume(), 0.15f, 0.9f);
    disableChange_ = true;
    setVolumeLater(0.5);
    observe();
}

void VolumeButtonCheck::stopCheckingVolumeButton() {
    if (pendingSet_) pendingSet_->invalidate();
    pendingSet_.reset();
    stopObserving();
    output_.reset();
}

void VolumeButtonCheck::setVolume(float volume) {
    if (output_) output_->setVolume(volume);
    disableChange_ = false;
}

void VolumeButtonCheck::volumeChanged(float newVolume) {
    if (disableChange_ || !output_) return;
    float current = output_->volume();
    // The program's own reset, or a change under one hundredth.
    if (static_cast<int>(current * 100) == static_cast<int>(initialVolume_ * 100)) return;
    if (initialVolume_ > newVolume) {
        if (delegate_) delegate_->onVolumeButton(1);
    } else if (initialVolume_ < newVolume) {
        if (delegate_) delegate_->onVolumeButton(0);
    }
    // The delegate may have stopped the check.
    if (!output_) return;
    stopObserving();
    disableChange_ = true;
    setVolumeLater(0.1);
    observe();
}
