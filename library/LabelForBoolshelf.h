#pragma once

#include "platform/ui/Label.h"

// The name under a folder on a shelf. With a horizontal shadow offset the
// text gets a dark outline, so white names read on light folder pictures;
// without one it draws as a plain label.
class LabelForBoolshelf : public ui::Label {
public:
    LabelForBoolshelf();

    ui::Color borderColor() const { return borderColor_; }
    void setBorderColor(const ui::Color& c) {
        borderColor_ = c;
        setNeedsDisplay();
    }
    ui::Size shadowOffset() const { return shadowOffset_; }
    void setShadowOffset(ui::Size s) {
        shadowOffset_ = s;
        setNeedsDisplay();
    }
    bool isOutlined() const { return shadowOffset_.width != 0; }

    void draw(gfx::Canvas& canvas, const ui::Rect& rect) override;

private:
    ui::Color borderColor_ = ui::Color::rgb(0, 0, 0, 0.3);
    ui::Size shadowOffset_{0, 0};
};
