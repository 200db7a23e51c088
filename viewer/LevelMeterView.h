#pragma once

#include "platform/ui/View.h"

// The sound level meter of the sound page-turn panel: the peak bar, the
// average bar over it and a red mark at the threshold, from -50 dB at the
// left edge to 0 dB at the right.
class LevelMeterView : public ui::View {
public:
    explicit LevelMeterView(const ui::Rect& frame);

    // Decibels of full scale; redraws.
    void setLevel(double peak, double average);
    void setBorder(double threshold);
    double peak() const { return peak_; }
    double average() const { return average_; }
    double border() const { return border_; }
    // Where a level in decibels sits across the meter.
    double xOf(double decibels) const;

    void draw(gfx::Canvas& canvas, const ui::Rect& rect) override;

private:
    double average_ = -160;
    double peak_ = -160;
    double border_ = -10;
};
