#include "foundation/ui/QNNoticeViewLineView.h"

void QNNoticeViewLineView::setButtonHeight(double h) {
    buttonHeight_ = h;
    setNeedsDisplay();
}

void QNNoticeViewLineView::setButtonLineHeight(double h) {
    buttonLineHeight_ = h;
    setNeedsDisplay();
}

void QNNoticeViewLineView::setButtonNum(int64_t n) {
    buttonNum_ = n;
    setNeedsDisplay();
}

std::vector<QNNoticeViewLineView::Segment> QNNoticeViewLineView::separators() const {
    const double w = bounds().width();
    const double h = bounds().height();
    std::vector<Segment> out;
    out.push_back({{0, buttonHeight_}, {w, buttonHeight_}});
    if (buttonNum_ == 3) {
        for (int i = 1; i <= 2; ++i) {
            double y = buttonHeight_ + i * buttonLineHeight_;
            out.push_back({{0, y}, {w, y}});
        }
    } else if (buttonNum_ == 2) {
        out.push_back({{w / 2, buttonHeight_}, {w / 2, h}});
    }
    return out;
}

void QNNoticeViewLineView::draw(gfx::Canvas& canvas, const ui::Rect&) {
    gfx::Rgba grey = resolve(ui::Color::gray());
    for (const auto& s : separators()) canvas.drawLine(s.from, s.to, grey, kLineWidth);
}
