#pragma once

#include "foundation/DeviceScreenState.h"

// The screen state read from the window layer: the main screen's
// orientation and bounds, the application's key window (its bounds, safe
// area and status bar) and its idle timer. The application installs it at
// start-up (DeviceScreenState::setShared) once it has made its window.
class WindowScreenState : public DeviceScreenState {
public:
    int interfaceOrientation() const override;
    gfx::Rect mainScreenBounds() const override;
    double screenScale() const override;
    gfx::Rect applicationFrame() const override;
    gfx::Rect statusBarFrame() const override;
    double statusBarManagerHeight() const override;
    std::optional<gfx::Rect> keyWindowBounds() const override;
    gfx::EdgeInsets keyWindowSafeArea() const override;
    void setIdleTimerDisabled(bool disabled) override;
};
