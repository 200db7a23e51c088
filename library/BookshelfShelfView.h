#pragma once

#include "platform/ui/Image.h"
#include "platform/ui/View.h"

#include <memory>

class ThemeLoader;

// The picture of one shelf of the bookshelf presentation: the current
// theme's shelf picture for the screen's width, or, where the theme has
// none, a dark wooden back wall with a lighter board along the bottom drawn
// here, so rows and fillers line up shelf by shelf either way.
class BookshelfShelfView : public ui::View {
public:
    BookshelfShelfView();
    void draw(gfx::Canvas& canvas, const ui::Rect& rect) override;

    // The theme's picture for this shelf (nullptr: the drawn shelf).
    ui::ImageRef themeImage() const;
    // The loader of the settings the application hands out, if any.
    static std::shared_ptr<ThemeLoader> currentTheme();

    // Height of the board at the bottom of each shelf, in points.
    static constexpr double kBoardHeight = 14;
};
