#include "viewer/LBPageLabel.h"

#include "platform/ui/Touch.h"

LBPageLabel::LBPageLabel() { setUserInteractionEnabled(true); }

LBPageLabel::LBPageLabel(const ui::Rect& frame) : ui::Label(frame) { setUserInteractionEnabled(true); }

void LBPageLabel::setTarget(std::weak_ptr<const void> target, Action action) {
    target_ = std::move(target);
    action_ = std::move(action);
}

void LBPageLabel::touchesEnded(const ui::TouchSet& touches, const ui::Event& event) {
    ui::TouchRef touch = !event.allTouches.empty() ? event.allTouches.front()
                         : !touches.empty()         ? touches.front()
                                                    : nullptr;
    if (!touch || !superview()) return;
    const ui::Point p = touch->locationInView(superview());
    if (!ui::rectContainsPoint(frame(), p)) return;
    auto alive = target_.lock();
    if (alive && action_) {
        Action run = action_;  // the action may replace or release this label
        run();
    }
}
