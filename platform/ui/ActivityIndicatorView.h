#pragma once

#include "platform/ui/View.h"

namespace ui {

enum class ActivityIndicatorStyle { Medium, Large };

// The spinning busy sign: twelve spokes whose brightness turns once a
// second on the run loop's clock. Hidden while stopped unless told otherwise.
class ActivityIndicatorView : public View {
public:
    explicit ActivityIndicatorView(ActivityIndicatorStyle style = ActivityIndicatorStyle::Medium);
    ~ActivityIndicatorView() override;

    ActivityIndicatorStyle style() const { return style_; }
    void setStyle(ActivityIndicatorStyle s);
    Color color() const { return color_; }
    void setColor(const Color& c);
    bool hidesWhenStopped() const { return hidesWhenStopped_; }
    void setHidesWhenStopped(bool h);

    void startAnimating();
    void stopAnimating();
    bool isAnimating() const { return animating_; }

    // The spoke drawn brightest at this moment (0 to 11, clockwise from the top).
    int leadingSpoke() const;

    Size sizeThatFits(Size size) const override;
    void draw(gfx::Canvas& canvas, const Rect& rect) override;
    void didMoveToWindow() override;

private:
    void updateFrameClient();
    ActivityIndicatorStyle style_;
    Color color_ = Color::secondaryLabel();
    bool hidesWhenStopped_ = true;
    bool animating_ = false;
    double startTime_ = 0;
};

}  // namespace ui
