#include "foundation/WindowScreenState.h"

#include "platform/ui/Application.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Window.h"

int WindowScreenState::interfaceOrientation() const {
    if (ui::Window* w = ui::Application::shared().keyWindow()) return static_cast<int>(w->orientation());
    return static_cast<int>(ui::Screen::main().orientation());
}

gfx::Rect WindowScreenState::mainScreenBounds() const { return ui::Screen::main().bounds(); }

double WindowScreenState::screenScale() const { return ui::Screen::main().scale(); }

std::optional<gfx::Rect> WindowScreenState::keyWindowBounds() const {
    if (ui::Window* w = ui::Application::shared().keyWindow()) return w->bounds();
    return std::nullopt;
}

gfx::EdgeInsets WindowScreenState::keyWindowSafeArea() const {
    if (ui::Window* w = ui::Application::shared().keyWindow()) return w->windowSafeAreaInsets();
    return {};
}

gfx::Rect WindowScreenState::statusBarFrame() const { return ui::Application::shared().statusBarFrame(); }

double WindowScreenState::statusBarManagerHeight() const {
    if (ui::Window* w = ui::Application::shared().keyWindow()) return w->statusBarHeight();
    return 0;
}

gfx::Rect WindowScreenState::applicationFrame() const {
    gfx::Rect window = keyWindowBounds().value_or(mainScreenBounds());
    double bar = statusBarManagerHeight();
    return gfx::Rect(window.x(), window.y() + bar, window.width(), window.height() - bar);
}

void WindowScreenState::setIdleTimerDisabled(bool disabled) {
    DeviceScreenState::setIdleTimerDisabled(disabled);
    ui::Application::shared().setIdleTimerDisabled(disabled);
}
