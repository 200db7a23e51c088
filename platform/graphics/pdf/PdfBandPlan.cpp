#include "platform/graphics/pdf/PdfBandPlan.h"

#include <algorithm>
#include <cmath>

namespace gfx {

PdfBandPlan::PdfBandPlan(int height) : height_(std::max(1, height)) {}

int PdfBandPlan::nextRows(double secondsLeft) const {
    double rows;
    if (lastRows_ == 0) {
        rows = 1;
    } else if (ramping_) {
        rows = 2.0 * lastRows_;
    } else {
        const double seconds = std::min(std::max(kBandSeconds, kOverheadShare * fixed_), kLongestBandSeconds);
        // A band grows at most twofold: rows further down may cost more.
        rows = std::min((seconds - fixed_) / std::max(perRow_, 1e-9), 2.0 * lastRows_);
    }
    if (secondsLeft >= 0 && lastRows_ > 0) {
        const double rate = lastSeconds_ / lastRows_;
        rows = std::min(rows, std::max(secondsLeft - fixed_, 0.0) / std::max(rate, 1e-9));
    }
    if (!std::isfinite(rows)) rows = 1;
    return int(std::clamp(std::floor(rows), 1.0, double(height_)));
}

void PdfBandPlan::drawn(int rows, double seconds) {
    rows = std::max(rows, 1);
    seconds = std::max(seconds, 0.0);
    if (lastRows_ > 0 && rows > lastRows_) {
        // Two bands of different heights tell the fixed part from the rows'.
        const double perRow = (seconds - lastSeconds_) / (rows - lastRows_);
        if (perRow > 0) fixed_ = std::max(0.0, seconds - rows * perRow);
    }
    // The last band's rate: a band measured long (the thread kept waiting
    // for a processor meanwhile) makes the next band short, not every band
    // after it.
    perRow_ = std::max((seconds - fixed_) / rows, 1e-9);
    if (ramping_ && (seconds >= kBandSeconds / 2 || rows * 2 > height_)) ramping_ = false;
    lastRows_ = rows;
    lastSeconds_ = seconds;
}

}  // namespace gfx
