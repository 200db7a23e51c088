#include "viewer/BookReadProgressView.h"

#include <algorithm>
#include <cmath>

BookReadProgressView::BookReadProgressView() { setBackgroundColor(ui::Color::clear()); }

BookReadProgressView::BookReadProgressView(const ui::Rect& frame) : ui::View(frame) {
    setBackgroundColor(ui::Color::clear());
}

void BookReadProgressView::setProgress(double progress) {
    if (!std::isfinite(progress)) progress = 0;
    progress_ = std::clamp(progress, 0.0, 1.0);
    setNeedsDisplay();
}

void BookReadProgressView::setPageToLeft(bool on) {
    pageToLeft_ = on;
    setNeedsDisplay();
}

void BookReadProgressView::filledSpan(double* from, double* to) const {
    const double w = bounds().width(), h = bounds().height();
    const double len = std::max(0.0, w - 2 * h);
    if (pageToLeft_) {
        *from = w - h;
        *to = w - h - progress_ * len;
    } else {
        *from = h;
        *to = h + progress_ * len;
    }
}

void BookReadProgressView::draw(gfx::Canvas& canvas, const ui::Rect&) {
    const double w = bounds().width(), h = bounds().height();
    if (w <= 0 || h <= 0) return;
    const double len = std::max(0.0, w - 2 * h);
    const bool light = toolbarColor_ != 0;
    // The blue channels are a 256th short of the others on purpose: these are
    // the colours the bar has always had.
    const gfx::Rgba track = light ? gfx::Rgba{202 / 255.0, 206 / 255.0, 213 / 256.0, 1}
                                  : gfx::Rgba{30 / 255.0, 30 / 255.0, 30 / 256.0, 1};
    const gfx::Rgba fill = light ? gfx::Rgba{148 / 255.0, 157 / 255.0, 175 / 256.0, 1}
                                 : gfx::Rgba{100 / 255.0, 100 / 255.0, 100 / 256.0, 1};
    const double y = h / 2;
    canvas.drawLine({h, y}, {h + len, y}, track, h, gfx::LineCap::Round);
    double from = 0, to = 0;
    filledSpan(&from, &to);
    canvas.drawLine({from, y}, {to, y}, fill, h, gfx::LineCap::Round);
}
