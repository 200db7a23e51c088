#pragma once

#include "platform/ui/View.h"

namespace ui {

enum class ProgressViewStyle { Default, Bar };

// A thin bar filled from the left to show progress from 0 to 1. An
// animated change slides the fill on the run loop's clock.
class ProgressView : public View {
public:
    explicit ProgressView(ProgressViewStyle style = ProgressViewStyle::Default);

    double progress() const { return progress_; }
    // Clamped to 0..1.
    void setProgress(double p, bool animated = false);
    Color progressTintColor() const;
    void setProgressTintColor(std::optional<Color> c);
    Color trackTintColor() const { return trackTint_; }
    void setTrackTintColor(const Color& c);
    ProgressViewStyle style() const { return style_; }

    // The fill's frame (its model value).
    Rect fillFrame() const { return fill_->frame(); }

    Size sizeThatFits(Size size) const override;
    void layoutSubviews() override;
    void tintColorDidChange() override;

private:
    Rect fillRect() const;
    ProgressViewStyle style_;
    double progress_ = 0;
    std::optional<Color> progressTint_;
    Color trackTint_ = Color::systemGray5();
    std::shared_ptr<View> fill_;
};

}  // namespace ui
