#pragma once

#include "platform/ui/View.h"

#include <cstdint>

// The box of a notice: its background and the hairlines that part the
// message from the buttons and the buttons from each other.
class QNNoticeViewLineView : public ui::View {
public:
    QNNoticeViewLineView() = default;
    explicit QNNoticeViewLineView(const ui::Rect& frame) : ui::View(frame) {}

    // y of the line above the first button row.
    double buttonHeight() const { return buttonHeight_; }
    void setButtonHeight(double h);
    // Height of one button row.
    double buttonLineHeight() const { return buttonLineHeight_; }
    void setButtonLineHeight(double h);
    int64_t buttonNum() const { return buttonNum_; }
    void setButtonNum(int64_t n);

    // The separators as line segments (from, to), in bounds coordinates.
    struct Segment {
        ui::Point from;
        ui::Point to;
    };
    std::vector<Segment> separators() const;

    void draw(gfx::Canvas& canvas, const ui::Rect& rect) override;

    static constexpr double kLineWidth = 0.5;

private:
    double buttonHeight_ = 0;
    double buttonLineHeight_ = 45.0;
    int64_t buttonNum_ = 0;
};
