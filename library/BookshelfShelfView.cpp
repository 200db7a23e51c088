#include "library/BookshelfShelfView.h"

#include "foundation/AppDelegateServices.h"
#include "foundation/BookCommon.h"
#include "foundation/Settings.h"
#include "foundation/ThemeLoader.h"

BookshelfShelfView::BookshelfShelfView() {
    setUserInteractionEnabled(false);
    setBackgroundColor(ui::Color::rgb255(74, 49, 31));
}

std::shared_ptr<ThemeLoader> BookshelfShelfView::currentTheme() {
    auto services = AppDelegateServices::installed();
    auto settings = services ? services->settings() : nullptr;
    return settings ? settings->themeLoader() : nullptr;
}

ui::ImageRef BookshelfShelfView::themeImage() const {
    auto theme = currentTheme();
    if (!theme) return nullptr;
    // Looked up at every drawing: a theme change shows on the next frame.
    return theme->getBookshelfBGImageNew(BookCommon::getScreenRectNew().width());
}

void BookshelfShelfView::draw(gfx::Canvas& canvas, const ui::Rect& rect) {
    (void)rect;
    const ui::Rect b = bounds();
    if (auto image = themeImage()) {
        image->draw(canvas, b);
        return;
    }
    // Grain: a few faint horizontal streaks on the back wall.
    for (double y = 9; y < b.height() - kBoardHeight; y += 17)
        canvas.fillRect({0, y, b.width(), 1}, gfx::Rgba{1, 1, 1, 0.04});
    const double top = b.height() - kBoardHeight;
    canvas.fillRect({0, top - 4, b.width(), 4}, gfx::Rgba{0, 0, 0, 0.35});
    canvas.fillRect({0, top, b.width(), kBoardHeight}, gfx::Rgba{0.62, 0.43, 0.27, 1});
    canvas.fillRect({0, top, b.width(), 2}, gfx::Rgba{0.78, 0.58, 0.40, 1});
    canvas.fillRect({0, b.height() - 2, b.width(), 2}, gfx::Rgba{0.35, 0.23, 0.14, 1});
}
