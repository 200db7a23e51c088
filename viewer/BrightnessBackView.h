#pragma once

#include "platform/ui/View.h"

#include <functional>
#include <memory>
#include <vector>

// The clear full-window view under the brightness panel: a touch that ends
// on it (outside the slider) closes the panel.
class BrightnessBackView : public ui::View {
public:
    using ui::View::View;
    void setTargetClose(std::weak_ptr<const void> target, std::function<void()> action) {
        target_ = std::move(target);
        action_ = std::move(action);
    }
    void touchesEnded(const ui::TouchSet& touches, const ui::Event& event) override;
    // Over every screen while the panel shows: Escape and Return close it,
    // and no key reaches the screens beneath.
    bool isKeyOverlay() const override { return true; }
    std::vector<ui::KeyCommand> keyCommands() const override;

private:
    std::weak_ptr<const void> target_;
    std::function<void()> action_;
};
