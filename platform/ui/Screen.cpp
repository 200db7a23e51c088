#include "platform/ui/Screen.h"

#include "platform/core/NotificationCenter.h"

#include <algorithm>

namespace ui {

Screen::Screen() : orientation_(sys::DeviceProfile::current().initialOrientation) {}

Screen& Screen::main() {
    static Screen* s = new Screen;
    return *s;
}

Rect Screen::bounds() const {
    sys::DeviceProfile p = sys::DeviceProfile::current();
    if (isLandscape(orientation_)) return Rect(0, 0, p.screenHeight, p.screenWidth);
    return Rect(0, 0, p.screenWidth, p.screenHeight);
}

Rect Screen::nativeBounds() const {
    sys::DeviceProfile p = sys::DeviceProfile::current();
    return Rect(0, 0, p.screenWidth * p.scale, p.screenHeight * p.scale);
}

double Screen::scale() const { return sys::DeviceProfile::current().scale; }

void Screen::setBrightness(double b) {
    b = std::clamp(b, 0.0, 1.0);
    if (b == brightness_) return;
    brightness_ = b;
    sys::NotificationCenter::defaultCenter().post(brightnessDidChangeNotification, this);
}

void Screen::reset() {
    orientation_ = sys::DeviceProfile::current().initialOrientation;
    brightness_ = 1.0;
}

}  // namespace ui
