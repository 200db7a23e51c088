#include "viewer/BrightnessBackView.h"

void BrightnessBackView::touchesEnded(const ui::TouchSet&, const ui::Event&) {
    auto keep = target_.lock();
    if (keep && action_) action_();
}

std::vector<ui::KeyCommand> BrightnessBackView::keyCommands() const {
    std::weak_ptr<const void> target = target_;
    std::function<void()> action = action_;
    auto close = [target, action](const ui::KeyCommand&) {
        auto keep = target.lock();
        if (keep && action) action();
    };
    return {ui::KeyCommand::make(ui::KeyInput::escape, 0, close), ui::KeyCommand::make(ui::KeyInput::returnKey, 0, close)};
}
