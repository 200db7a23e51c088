#include "foundation/DeviceScreenState.h"

#include <algorithm>

namespace {
std::shared_ptr<DeviceScreenState>& slot() {
    static std::shared_ptr<DeviceScreenState> s;
    return s;
}
}  // namespace

std::shared_ptr<DeviceScreenState> DeviceScreenState::shared() {
    auto& s = slot();
    if (!s) s = std::make_shared<DeviceScreenState>();
    return s;
}

void DeviceScreenState::setShared(std::shared_ptr<DeviceScreenState> state) { slot() = std::move(state); }

int DeviceScreenState::interfaceOrientation() const {
    if (orientation_) return *orientation_;
    return static_cast<int>(profile().initialOrientation);
}

bool DeviceScreenState::isLandscape() const {
    int o = interfaceOrientation();
    return o == 3 || o == 4;
}

bool DeviceScreenState::orientationFollowsBounds() const { return profile().systemMajorVersion() >= 8; }

gfx::Rect DeviceScreenState::mainScreenBounds() const {
    auto p = profile();
    if (orientationFollowsBounds() && isLandscape()) return gfx::Rect(0, 0, p.screenHeight, p.screenWidth);
    return gfx::Rect(0, 0, p.screenWidth, p.screenHeight);
}

double DeviceScreenState::screenScale() const { return profile().scale; }

std::optional<gfx::Rect> DeviceScreenState::keyWindowBounds() const {
    if (!hasWindow_) return std::nullopt;
    gfx::Rect screen = mainScreenBounds();
    if (windowSize_) return gfx::Rect(0, 0, windowSize_->width, windowSize_->height);
    return gfx::Rect(0, 0, screen.width(), screen.height());
}

gfx::Rect DeviceScreenState::statusBarFrame() const {
    auto p = profile();
    double h = p.statusBarHeight(static_cast<sys::DeviceProfile::Orientation>(interfaceOrientation()));
    gfx::Rect screen = mainScreenBounds();
    // Before version 8 the bar is given in portrait coordinates: a landscape
    // bar stands upright along the screen's side.
    if (!orientationFollowsBounds() && isLandscape()) return gfx::Rect(0, 0, h, screen.height());
    return gfx::Rect(0, 0, screen.width(), h);
}

double DeviceScreenState::statusBarManagerHeight() const {
    auto p = profile();
    return p.statusBarHeight(static_cast<sys::DeviceProfile::Orientation>(interfaceOrientation()));
}

gfx::Rect DeviceScreenState::applicationFrame() const {
    auto window = keyWindowBounds().value_or(mainScreenBounds());
    gfx::Rect bar = statusBarFrame();
    double barHeight = std::min(bar.width(), bar.height());
    if (!orientationFollowsBounds() && isLandscape())
        return gfx::Rect(barHeight, 0, window.width() - barHeight, window.height());
    return gfx::Rect(0, barHeight, window.width(), window.height() - barHeight);
}

gfx::EdgeInsets DeviceScreenState::keyWindowSafeArea() const {
    if (!hasWindow_) return {};
    auto i = profile().safeAreaInsets(static_cast<sys::DeviceProfile::Orientation>(interfaceOrientation()));
    return gfx::EdgeInsets{i.top, i.left, i.bottom, i.right};
}
