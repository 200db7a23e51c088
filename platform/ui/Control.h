#pragma once

#include "platform/ui/View.h"

#include <functional>
#include <memory>
#include <vector>

namespace ui {

// Control events, with the platform's bit values.
enum ControlEvent : unsigned {
    ControlEventTouchDown = 1u << 0,
    ControlEventTouchDownRepeat = 1u << 1,
    ControlEventTouchDragInside = 1u << 2,
    ControlEventTouchDragOutside = 1u << 3,
    ControlEventTouchDragEnter = 1u << 4,
    ControlEventTouchDragExit = 1u << 5,
    ControlEventTouchUpInside = 1u << 6,
    ControlEventTouchUpOutside = 1u << 7,
    ControlEventTouchCancel = 1u << 8,
    ControlEventValueChanged = 1u << 12,
    ControlEventPrimaryActionTriggered = 1u << 13,
    ControlEventEditingDidBegin = 1u << 16,
    ControlEventEditingChanged = 1u << 17,
    ControlEventEditingDidEnd = 1u << 18,
    ControlEventEditingDidEndOnExit = 1u << 19,
    ControlEventAllTouchEvents = 0x00000FFFu,
    ControlEventAllEditingEvents = 0x000F0000u,
    ControlEventAllEvents = 0xFFFFFFFFu,
};

// Control states; combinations are or-ed.
enum ControlState : unsigned {
    ControlStateNormal = 0,
    ControlStateHighlighted = 1u << 0,
    ControlStateDisabled = 1u << 1,
    ControlStateSelected = 1u << 2,
};

enum class ContentHorizontalAlignment { Center, Left, Right, Fill };
enum class ContentVerticalAlignment { Center, Top, Bottom, Fill };

// A view that turns touches into control events sent to its actions
// (target-action per event mask). Tracking follows the platform: a touch
// that starts on the control highlights it, dragging reports inside and
// outside (with 70 points of slack around the bounds), and lifting the
// finger sends touch-up-inside or touch-up-outside.
class Control : public View {
public:
    using Action = std::function<void(Control& sender)>;
    using ActionId = uint64_t;

    Control();
    explicit Control(const Rect& frame);

    // Runs `action` for each event of `events`, in the order actions were added.
    ActionId addAction(unsigned events, Action action);
    // The same, dropped once `owner` is gone (a screen that may go away first).
    ActionId addAction(unsigned events, Action action, std::weak_ptr<const void> owner);
    void removeAction(ActionId id);
    void removeActions(unsigned events = ControlEventAllEvents);
    size_t actionCount(unsigned events) const;
    void sendActions(unsigned events);

    bool isEnabled() const { return enabled_; }
    virtual void setEnabled(bool e);
    bool isSelected() const { return selected_; }
    virtual void setSelected(bool s);
    bool isHighlighted() const { return highlighted_; }
    virtual void setHighlighted(bool h);
    unsigned state() const;

    bool isTracking() const { return tracking_; }
    bool isTouchInside() const { return touchInside_; }

    ContentHorizontalAlignment contentHorizontalAlignment() const { return hAlign_; }
    void setContentHorizontalAlignment(ContentHorizontalAlignment a);
    ContentVerticalAlignment contentVerticalAlignment() const { return vAlign_; }
    void setContentVerticalAlignment(ContentVerticalAlignment a);

    // Tracking hooks; returning false from begin or continue ends tracking.
    virtual bool beginTracking(Touch& touch, const Event& event);
    virtual bool continueTracking(Touch& touch, const Event& event);
    virtual void endTracking(Touch& touch, const Event& event);
    virtual void cancelTracking(const Event& event);

    void touchesBegan(const TouchSet& touches, const Event& event) override;
    void touchesMoved(const TouchSet& touches, const Event& event) override;
    void touchesEnded(const TouchSet& touches, const Event& event) override;
    void touchesCancelled(const TouchSet& touches, const Event& event) override;

    // The slack around the bounds that still counts as inside while tracking
    // (as does wherever pointInside answers yes).
    static constexpr double kTrackingSlack = 70.0;

protected:
    // Called when enabled, selected or highlighted changed.
    virtual void stateDidChange() {}
    // Events a touch-up-inside also sends (buttons add the primary action).
    virtual unsigned touchUpInsideExtraEvents() const { return 0; }

private:
    struct Entry {
        ActionId id;
        unsigned events;
        Action action;
        std::weak_ptr<const void> owner;
        bool hasOwner;
    };
    bool insideWithSlack(const Touch& t) const;

    std::vector<Entry> actions_;
    ActionId nextId_ = 1;
    bool enabled_ = true;
    bool selected_ = false;
    bool highlighted_ = false;
    bool tracking_ = false;
    bool touchInside_ = false;
    ContentHorizontalAlignment hAlign_ = ContentHorizontalAlignment::Center;
    ContentVerticalAlignment vAlign_ = ContentVerticalAlignment::Center;
};

}  // namespace ui
