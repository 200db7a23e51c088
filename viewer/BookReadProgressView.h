#pragma once

#include "platform/ui/View.h"

#include <cstdint>

// The thin reading-progress line under the page ribbon: how far into the
// book the reader is, filling from the side where the book begins.
class BookReadProgressView : public ui::View {
public:
    BookReadProgressView();
    explicit BookReadProgressView(const ui::Rect& frame);

    double progress() const { return progress_; }
    // Clamped to 0 ... 1; redraws.
    void setProgress(double progress);
    bool pageToLeft() const { return pageToLeft_; }
    // A book that runs from right to left fills from the right; redraws.
    void setPageToLeft(bool on);
    // The tool-bar colour scheme (0 dark, anything else light); the light
    // colours are used for a light bar. Does not redraw by itself.
    int64_t toolbarColor() const { return toolbarColor_; }
    void setToolbarColor_(int64_t color) { toolbarColor_ = color; }

    // Where the filled part runs, along the line's centre (tests and drawing).
    void filledSpan(double* from, double* to) const;

    void draw(gfx::Canvas& canvas, const ui::Rect& rect) override;

private:
    double progress_ = 0;
    bool pageToLeft_ = false;
    int64_t toolbarColor_ = 0;
};
