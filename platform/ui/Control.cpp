#include "platform/ui/Control.h"

#include <algorithm>

namespace ui {

Control::Control() = default;
Control::Control(const Rect& frame) : View(frame) {}

Control::ActionId Control::addAction(unsigned events, Action action) {
    actions_.push_back({nextId_, events, std::move(action), {}, false});
    return nextId_++;
}

Control::ActionId Control::addAction(unsigned events, Action action, std::weak_ptr<const void> owner) {
    actions_.push_back({nextId_, events, std::move(action), std::move(owner), true});
    return nextId_++;
}

void Control::removeAction(ActionId id) {
    actions_.erase(std::remove_if(actions_.begin(), actions_.end(), [id](const Entry& e) { return e.id == id; }),
                   actions_.end());
}

void Control::removeActions(unsigned events) {
    for (auto& e : actions_) e.events &= ~events;
    actions_.erase(std::remove_if(actions_.begin(), actions_.end(), [](const Entry& e) { return e.events == 0; }),
                   actions_.end());
}

size_t Control::actionCount(unsigned events) const {
    size_t n = 0;
    for (auto& e : actions_)
        if ((e.events & events) && !(e.hasOwner && e.owner.expired())) ++n;
    return n;
}

void Control::sendActions(unsigned events) {
    // An action may remove the control or change its actions: work on a copy
    // and keep the control alive until all have run.
    auto keep = weak_from_this().lock();
    std::vector<Entry> copy = actions_;
    for (auto& e : copy) {
        if (!(e.events & events)) continue;
        if (e.hasOwner) {
            auto owner = e.owner.lock();
            if (!owner) continue;
            e.action(*this);
        } else {
            e.action(*this);
        }
    }
}

void Control::setEnabled(bool e) {
    if (e == enabled_) return;
    enabled_ = e;
    if (!e) setHighlighted(false);
    stateDidChange();
    setNeedsDisplay();
}

void Control::setSelected(bool s) {
    if (s == selected_) return;
    selected_ = s;
    stateDidChange();
    setNeedsDisplay();
}

void Control::setHighlighted(bool h) {
    if (h == highlighted_) return;
    highlighted_ = h;
    stateDidChange();
    setNeedsDisplay();
}

unsigned Control::state() const {
    unsigned s = ControlStateNormal;
    if (highlighted_) s |= ControlStateHighlighted;
    if (!enabled_) s |= ControlStateDisabled;
    if (selected_) s |= ControlStateSelected;
    return s;
}

void Control::setContentHorizontalAlignment(ContentHorizontalAlignment a) {
    hAlign_ = a;
    setNeedsLayout();
}

void Control::setContentVerticalAlignment(ContentVerticalAlignment a) {
    vAlign_ = a;
    setNeedsLayout();
}

bool Control::beginTracking(Touch&, const Event&) { return true; }
bool Control::continueTracking(Touch&, const Event&) { return true; }
void Control::endTracking(Touch&, const Event&) {}
void Control::cancelTracking(const Event&) {}

bool Control::insideWithSlack(const Touch& t) const {
    Point p = t.locationInView(this);
    return rectContainsPoint(rectInset(bounds(), -kTrackingSlack, -kTrackingSlack), p) || pointInside(p, nullptr);
}

void Control::touchesBegan(const TouchSet& touches, const Event& event) {
    if (!enabled_) {
        View::touchesBegan(touches, event);
        return;
    }
    Touch& t = *touches.front();
    tracking_ = true;
    touchInside_ = true;
    setHighlighted(true);
    if (!beginTracking(t, event)) tracking_ = false;
    sendActions(ControlEventTouchDown | (t.tapCount() > 1 ? ControlEventTouchDownRepeat : 0u));
}

void Control::touchesMoved(const TouchSet& touches, const Event& event) {
    if (!enabled_) {
        View::touchesMoved(touches, event);
        return;
    }
    Touch& t = *touches.front();
    bool inside = insideWithSlack(t);
    bool was = touchInside_;
    touchInside_ = inside;
    setHighlighted(inside);
    if (tracking_ && !continueTracking(t, event)) {
        tracking_ = false;
        endTracking(t, event);
    }
    unsigned ev = inside ? ControlEventTouchDragInside : ControlEventTouchDragOutside;
    if (inside != was) ev |= inside ? ControlEventTouchDragEnter : ControlEventTouchDragExit;
    sendActions(ev);
}

void Control::touchesEnded(const TouchSet& touches, const Event& event) {
    if (!enabled_) {
        View::touchesEnded(touches, event);
        return;
    }
    Touch& t = *touches.front();
    touchInside_ = insideWithSlack(t);
    setHighlighted(false);
    if (tracking_) endTracking(t, event);
    tracking_ = false;
    if (touchInside_)
        sendActions(ControlEventTouchUpInside | touchUpInsideExtraEvents());
    else
        sendActions(ControlEventTouchUpOutside);
    touchInside_ = false;
}

void Control::touchesCancelled(const TouchSet& touches, const Event& event) {
    if (!enabled_) {
        View::touchesCancelled(touches, event);
        return;
    }
    setHighlighted(false);
    if (tracking_) cancelTracking(event);
    tracking_ = false;
    touchInside_ = false;
    sendActions(ControlEventTouchCancel);
}

}  // namespace ui
