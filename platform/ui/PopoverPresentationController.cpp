#include "platform/ui/PopoverPresentationController.h"

#include "platform/ui/View.h"

#include <algorithm>

namespace ui {

namespace {
constexpr double kMargin = 10;
constexpr double kGap = 8;
}  // namespace

Rect PopoverPresentationController::anchorInWindow() const {
    if (auto item = barButtonItem()) {
        if (auto v = item->view()) return v->convertRectTo(v->bounds(), nullptr);
    }
    if (auto v = sourceView()) {
        // A rectangle given for the view at an earlier size (a window made
        // smaller since) counts only where it lies within the view now.
        const Rect b = v->bounds();
        const Rect r = sourceRect_;
        const double x0 = std::clamp(r.minX(), b.minX(), b.maxX());
        const double x1 = std::clamp(r.maxX(), b.minX(), b.maxX());
        const double y0 = std::clamp(r.minY(), b.minY(), b.maxY());
        const double y1 = std::clamp(r.maxY(), b.minY(), b.maxY());
        return v->convertRectTo(Rect(x0, y0, x1 - x0, y1 - y0), nullptr);
    }
    return Rect::null();
}

Rect PopoverPresentationController::frameFor(Size size, const Rect& wb) const {
    Rect a = anchorInWindow();
    double w = std::min(size.width, wb.width() - 2 * kMargin);
    double h = std::min(size.height, wb.height() - 2 * kMargin);
    auto clampX = [&](double x) { return std::clamp(x, wb.minX() + kMargin, wb.maxX() - kMargin - w); };
    auto clampY = [&](double y) { return std::clamp(y, wb.minY() + kMargin, wb.maxY() - kMargin - h); };
    if (a.isNull()) return Rect(wb.minX() + (wb.width() - w) / 2, wb.minY() + (wb.height() - h) / 2, w, h);
    double cx = a.minX() + a.width() / 2 - w / 2;
    double cy = a.minY() + a.height() / 2 - h / 2;
    bool down = arrows_ & PopoverArrowDirectionUp;    // the arrow points up: the popover is below
    bool up = arrows_ & PopoverArrowDirectionDown;    // the popover is above
    bool right = arrows_ & PopoverArrowDirectionLeft;
    bool left = arrows_ & PopoverArrowDirectionRight;
    if (down && a.maxY() + kGap + h <= wb.maxY() - kMargin) return Rect(clampX(cx), a.maxY() + kGap, w, h);
    if (up && a.minY() - kGap - h >= wb.minY() + kMargin) return Rect(clampX(cx), a.minY() - kGap - h, w, h);
    if (right && a.maxX() + kGap + w <= wb.maxX() - kMargin) return Rect(a.maxX() + kGap, clampY(cy), w, h);
    if (left && a.minX() - kGap - w >= wb.minX() + kMargin) return Rect(a.minX() - kGap - w, clampY(cy), w, h);
    // Nowhere beside it: as close as the window allows.
    return Rect(clampX(cx), clampY(a.maxY() + kGap), w, h);
}

}  // namespace ui
