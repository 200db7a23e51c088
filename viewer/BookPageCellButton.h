#pragma once

#include "platform/ui/Button.h"

// A page's button in the thumbnail strip: the picture takes its shape, but a
// tap anywhere in the page's cell (the bands beside a picture of another
// shape included) is the button's.
class BookPageCellButton : public ui::Button {
public:
    BookPageCellButton() : ui::Button(ui::ButtonType::Custom) {}

    // The cell, in the button's bounds space.
    void setCell(const ui::Rect& cell) { cell_ = cell; }
    bool pointInside(ui::Point point, const ui::Event* event) const override;

private:
    ui::Rect cell_;
};
