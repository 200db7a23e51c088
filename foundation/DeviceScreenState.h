#pragma once

#include "platform/core/DeviceProfile.h"
#include "platform/graphics/EdgeInsets.h"
#include "platform/graphics/Geometry.h"

#include <memory>
#include <optional>

// What the device facts read about the screen right now: the interface
// orientation, the main screen, the application frame, the status bar and
// the key window. The plain form answers from the current DeviceProfile with
// one full-screen window in the orientation it was told; the window layer
// installs a subclass that reads its real windows. Main thread only.
class DeviceScreenState {
public:
    virtual ~DeviceScreenState() = default;

    static std::shared_ptr<DeviceScreenState> shared();
    // nullptr: back to a plain state made from the profile on next use.
    static void setShared(std::shared_ptr<DeviceScreenState> state);

    // The status bar's orientation (1 portrait, 2 upside down, 3 and 4 landscape).
    virtual int interfaceOrientation() const;
    // The main screen's bounds (from system version 8 on they follow the orientation).
    virtual gfx::Rect mainScreenBounds() const;
    virtual double screenScale() const;
    // The key window's frame less the status bar at its top.
    virtual gfx::Rect applicationFrame() const;
    virtual gfx::Rect statusBarFrame() const;
    // The status-bar height of the foreground scene (0 without one).
    virtual double statusBarManagerHeight() const;
    // The key window's bounds; nothing when there is no window.
    virtual std::optional<gfx::Rect> keyWindowBounds() const;
    virtual gfx::EdgeInsets keyWindowSafeArea() const;

    // The platform's idle timer (the screen dims and locks unless disabled).
    virtual void setIdleTimerDisabled(bool disabled) { idleTimerDisabled_ = disabled; }
    bool isIdleTimerDisabled() const { return idleTimerDisabled_; }
    // Asks the window layer to re-check the allowed orientations.
    virtual void attemptRotationToDeviceOrientation() { ++rotationAttempts_; }
    int rotationAttempts() const { return rotationAttempts_; }

    // The plain form's state (tests, and the window layer until it has its own).
    void setInterfaceOrientation(int orientation) { orientation_ = orientation; }
    // A window smaller than the screen (split screen); nothing: full screen.
    void setWindowSize(std::optional<gfx::Size> size) { windowSize_ = size; }
    void setHasWindow(bool has) { hasWindow_ = has; }

protected:
    sys::DeviceProfile profile() const { return sys::DeviceProfile::current(); }
    bool orientationFollowsBounds() const;
    bool isLandscape() const;

private:
    std::optional<int> orientation_;
    std::optional<gfx::Size> windowSize_;
    bool hasWindow_ = true;
    bool idleTimerDisabled_ = false;
    int rotationAttempts_ = 0;
};
