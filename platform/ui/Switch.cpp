#include "platform/ui/Switch.h"

#include <cmath>

namespace ui {

namespace {
constexpr double kInset = 2;
}  // namespace

Switch::Switch() : Switch(Rect(0, 0, kWidth, kHeight)) {}

Switch::Switch(const Rect& frame) : Control(Rect(frame.x(), frame.y(), kWidth, kHeight)) {
    knob_ = std::make_shared<View>();
    knob_->setUserInteractionEnabled(false);
    knob_->setBackgroundColor(thumbTint_);
    knob_->setShadowColor(Color::black());
    knob_->setShadowOpacity(0.2);
    knob_->setShadowOffset({0, 2});
    knob_->setShadowRadius(3);
    addSubview(knob_);
    setCornerRadius(kHeight / 2);
    setBackgroundColor(Color::systemGray5());
    placeKnob();
}

void Switch::setOn(bool on, bool animated) {
    if (on == on_) return;
    on_ = on;
    if (animated) {
        View::animate(0.25, [this] {
            placeKnob();
            setBackgroundColor(on_ ? onTint_ : Color::systemGray5());
        });
    } else {
        placeKnob();
        setBackgroundColor(on_ ? onTint_ : Color::systemGray5());
    }
}

void Switch::setOnTintColor(const Color& c) {
    onTint_ = c;
    if (on_) setBackgroundColor(c);
}

void Switch::setThumbTintColor(const Color& c) {
    thumbTint_ = c;
    knob_->setBackgroundColor(c);
}

Size Switch::sizeThatFits(Size) const { return {kWidth, kHeight}; }

void Switch::placeKnob() {
    Rect b = bounds();
    double d = b.height() - 2 * kInset;
    double x = on_ ? b.maxX() - kInset - d : b.x() + kInset;
    knob_->setFrame(Rect(x, b.y() + kInset, d, d));
    knob_->setCornerRadius(d / 2);
}

void Switch::layoutSubviews() { placeKnob(); }

bool Switch::beginTracking(Touch& touch, const Event&) {
    startPoint_ = touch.locationInView(this);
    return true;
}

void Switch::endTracking(Touch& touch, const Event&) {
    if (!isTouchInside()) return;
    Point p = touch.locationInView(this);
    bool target = std::fabs(p.x - startPoint_.x) > 10 ? p.x > bounds().x() + bounds().width() / 2 : !on_;
    if (target == on_) return;
    setOn(target, true);
    sendActions(ControlEventValueChanged);
}

}  // namespace ui
