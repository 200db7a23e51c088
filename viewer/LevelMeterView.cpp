#include "viewer/LevelMeterView.h"

#include "platform/graphics/Canvas.h"

#include <algorithm>

LevelMeterView::LevelMeterView(const ui::Rect& frame) : ui::View(frame) {
    setBackgroundColor(ui::Color(gfx::Rgba{0.5, 0.5, 0.5, 1}));
}

void LevelMeterView::setLevel(double peak, double average) {
    peak_ = peak;
    average_ = average;
    setNeedsDisplay();
}

void LevelMeterView::setBorder(double threshold) {
    border_ = threshold;
    setNeedsDisplay();
}

double LevelMeterView::xOf(double decibels) const {
    return std::max(0.0, (decibels + 50) * bounds().width() / 50);
}

void LevelMeterView::draw(gfx::Canvas& canvas, const ui::Rect&) {
    const double w = bounds().width(), h = bounds().height();
    if (w <= 0 || h <= 0) return;
    const double y = h / 2;
    const gfx::Rgba peakColour = peak_ >= border_ ? gfx::Rgba{1, 0, 0, 1} : gfx::Rgba{126 / 255.0, 206 / 255.0, 0.953125, 1};
    canvas.drawLine({0, y}, {xOf(peak_), y}, peakColour, h, gfx::LineCap::Round);
    canvas.drawLine({0, y}, {xOf(average_), y}, gfx::Rgba{0, 161 / 255.0, 0.91015625, 1}, h, gfx::LineCap::Round);
    const double bx = xOf(border_);
    canvas.drawLine({bx, 0}, {bx, h}, gfx::Rgba{1, 0, 0, 1}, 3, gfx::LineCap::Butt);
}
