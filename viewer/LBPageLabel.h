#pragma once

#include "platform/ui/Label.h"

#include <functional>
#include <memory>

// A label that runs an action when a touch ends inside it (the page number
// of the menu sheet opens the page preview this way).
class LBPageLabel : public ui::Label {
public:
    using Action = std::function<void()>;

    LBPageLabel();
    explicit LBPageLabel(const ui::Rect& frame);

    // `target` is not kept alive: the action is dropped once it is gone.
    void setTarget(std::weak_ptr<const void> target, Action action);

    void touchesEnded(const ui::TouchSet& touches, const ui::Event& event) override;

private:
    std::weak_ptr<const void> target_;
    Action action_;
};
