#pragma once

#include "platform/ui/Control.h"
#include "platform/ui/Image.h"

#include <map>

namespace ui {

// A value between a minimum and a maximum chosen by dragging a thumb along
// a track. Only a touch that starts on the thumb moves it; the value follows
// the finger in the slider's own coordinates, so a slider turned by half a
// turn runs from right to left. Value-changed is sent while dragging
// (continuous) or once when the finger lifts.
class Slider : public Control {
public:
    Slider();
    explicit Slider(const Rect& frame);
    ~Slider() override;

    double value() const { return value_; }
    // Clamped to the range; sends no event.
    void setValue(double v, bool animated = false);
    double minimumValue() const { return min_; }
    void setMinimumValue(double v);
    double maximumValue() const { return max_; }
    void setMaximumValue(double v);
    bool isContinuous() const { return continuous_; }
    void setContinuous(bool c) { continuous_ = c; }

    Color minimumTrackTintColor() const;
    void setMinimumTrackTintColor(std::optional<Color> c);
    Color maximumTrackTintColor() const { return maxTint_; }
    void setMaximumTrackTintColor(const Color& c);
    Color thumbTintColor() const { return thumbTint_; }
    void setThumbTintColor(const Color& c);
    void setMinimumTrackImage(ImageRef image, unsigned state = ControlStateNormal);
    void setMaximumTrackImage(ImageRef image, unsigned state = ControlStateNormal);
    void setThumbImage(ImageRef image, unsigned state = ControlStateNormal);
    ImageRef thumbImage(unsigned state) const;

    Rect trackRect() const;
    Rect thumbRect() const;
    Size sizeThatFits(Size size) const override;
    void draw(gfx::Canvas& canvas, const Rect& rect) override;

    bool beginTracking(Touch& touch, const Event& event) override;
    bool continueTracking(Touch& touch, const Event& event) override;
    void endTracking(Touch& touch, const Event& event) override;

private:
    Size thumbSize() const;
    double fraction(double v) const;
    double shownValue() const;
    ImageRef stateImage(const std::map<unsigned, ImageRef>& m) const;

    double value_ = 0;
    double min_ = 0;
    double max_ = 1;
    bool continuous_ = true;
    std::optional<Color> minTint_;
    Color maxTint_ = Color::systemGray4();
    Color thumbTint_ = Color::whiteColor();
    std::map<unsigned, ImageRef> minImages_, maxImages_, thumbImages_;
    double grabOffset_ = 0;
    double valueAtStart_ = 0;
    // An animated change moves the thumb from here to the value.
    double animFrom_ = 0;
    double animStart_ = -1;
    double animDuration_ = 0;
};

}  // namespace ui
