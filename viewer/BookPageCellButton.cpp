#include "viewer/BookPageCellButton.h"

bool BookPageCellButton::pointInside(ui::Point point, const ui::Event* event) const {
    return ui::Button::pointInside(point, event) || ui::rectContainsPoint(cell_, point);
}
