#pragma once

#include "platform/ui/View.h"

// The picture of one shelf of the bookshelf presentation: a dark wooden
// back wall with a lighter board along the bottom. Stands for the default
// theme's shelf image, so rows and fillers line up shelf by shelf.
class BookshelfShelfView : public ui::View {
public:
    BookshelfShelfView();
    void draw(gfx::Canvas& canvas, const ui::Rect& rect) override;

    // Height of the board at the bottom of each shelf, in points.
    static constexpr double kBoardHeight = 14;
};
