#pragma once

#include "platform/ui/Control.h"

namespace ui {

// An on/off control 51 x 31 points. A tap flips it; a drag decides by the
// side the finger ends on. Either sends value-changed when the state changed.
class Switch : public Control {
public:
    Switch();
    explicit Switch(const Rect& frame);

    bool isOn() const { return on_; }
    // Sends no event.
    void setOn(bool on, bool animated = false);

    Color onTintColor() const { return onTint_; }
    void setOnTintColor(const Color& c);
    Color thumbTintColor() const { return thumbTint_; }
    void setThumbTintColor(const Color& c);

    Size sizeThatFits(Size size) const override;
    void layoutSubviews() override;

    bool beginTracking(Touch& touch, const Event& event) override;
    void endTracking(Touch& touch, const Event& event) override;

    static constexpr double kWidth = 51;
    static constexpr double kHeight = 31;

private:
    void placeKnob();

    bool on_ = false;
    Color onTint_ = Color::systemGreen();
    Color thumbTint_ = Color::whiteColor();
    std::shared_ptr<View> knob_;
    Point startPoint_;
};

}  // namespace ui
