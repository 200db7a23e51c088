#include "library/LabelForBoolshelf.h"

#include <algorithm>
#include <cmath>

LabelForBoolshelf::LabelForBoolshelf() = default;

void LabelForBoolshelf::draw(gfx::Canvas& canvas, const ui::Rect& rect) {
    if (text().empty()) return;
    if (!isOutlined()) {
        ui::Label::draw(canvas, rect);
        return;
    }
    // The outline: the text in the border colour one point out in every
    // direction around its place, then the text itself on top, laid out as
    // the label lays it out.
    gfx::TextOptions o;
    o.alignment = textAlignment();
    o.lineBreak = lineBreakMode();
    const double lineHeight = font().lineHeight();
    const int fit = lineHeight > 0 ? std::max(1, int(std::floor(bounds().height() / lineHeight + 1e-6))) : 1;
    o.numberOfLines = numberOfLines() == 0 ? fit : std::min(numberOfLines(), fit);
    const ui::Rect place = textRect();
    const gfx::Rgba border = resolve(borderColor_);
    for (int dx = -1; dx <= 1; ++dx)
        for (int dy = -1; dy <= 1; ++dy)
            if (dx != 0 || dy != 0)
                canvas.drawText(text(), font(), {place.x() + dx, place.y() + dy, place.width(), place.height()}, border, o);
    canvas.drawText(text(), font(), place, resolve(textColor()), o);
}
