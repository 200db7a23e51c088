#pragma once

#include "platform/core/DeviceProfile.h"
#include "platform/ui/Geometry.h"

namespace ui {

using InterfaceOrientation = sys::DeviceProfile::Orientation;

inline bool isLandscape(InterfaceOrientation o) {
    return o == InterfaceOrientation::LandscapeLeft || o == InterfaceOrientation::LandscapeRight;
}

// The display, as the current device profile describes it: its size in
// points for the interface orientation, its scale and its brightness.
class Screen {
public:
    static Screen& main();

    // Full screen in points for the present orientation (origin 0, 0).
    Rect bounds() const;
    // The portrait screen in pixels.
    Rect nativeBounds() const;
    double scale() const;
    InterfaceOrientation orientation() const { return orientation_; }
    void setOrientation(InterfaceOrientation o) { orientation_ = o; }

    // 0 (darkest) to 1; the desktop shell may apply it to the window.
    double brightness() const { return brightness_; }
    void setBrightness(double b);

    // Back to the current profile's start orientation and full brightness.
    void reset();

    static constexpr const char* brightnessDidChangeNotification = "UIScreenBrightnessDidChangeNotification";

private:
    Screen();
    InterfaceOrientation orientation_;
    double brightness_ = 1.0;
};

}  // namespace ui
