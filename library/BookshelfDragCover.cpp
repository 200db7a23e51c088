#include "library/BookshelfDragCover.h"

#include "foundation/FilelistItem.h"
#include "foundation/Settings.h"
#include "foundation/ThemeLoader.h"
#include "library/BookshelfBookButton.h"
#include "library/FilelistBaseViewItembookshelfModeCell.h"

bool BookshelfDragCover::usesFolderPosition(int32_t type) { return type == 0 || type == 6 || type == 7 || type == 8; }

ui::Rect BookshelfDragCover::coverRect(const std::shared_ptr<Settings>& settings, bool folder) {
    std::shared_ptr<ThemeLoader> theme = settings ? settings->themeLoader() : nullptr;
    ThemeLoader fallback;
    const ThemeLoader& t = theme ? *theme : fallback;
    const gfx::Rect r = folder ? t.getBookShelfFolderPos() : t.getBookShelfBookPos();
    return {r.x(), r.y(), r.width(), r.height()};
}

std::shared_ptr<BookshelfBookButton> BookshelfDragCover::make(const FilelistItem& item,
                                                              const BookshelfBookButton* source,
                                                              const std::shared_ptr<Settings>& settings) {
    auto button = std::make_shared<BookshelfBookButton>();
    const ui::Size size = FilelistBaseViewItembookshelfModeCell::coverSize();
    button->setFrame({0, 0, size.width, size.height});
    button->setAlpha(0.8);
    button->setUserInteractionEnabled(false);
    const bool folder = usesFolderPosition(item.type());
    std::shared_ptr<ThemeLoader> theme = settings ? settings->themeLoader() : nullptr;
    ui::ImageRef picture = source ? source->image() : nullptr;
    if (!picture && theme) picture = folder ? theme->getBookshelfFolderImage() : theme->getBookshelfBookImage();
    button->setImage(picture);
    ui::ImageView* thumb = button->bookThumbView();
    thumb->setContentMode(ui::ContentMode::ScaleAspectFit);
    thumb->setFrame(coverRect(settings, folder));
    if (source) {
        thumb->setImage(source->bookThumbView()->image());
        // A theme's folder picture is the whole cover: no icon over it.
        thumb->setHidden(source->bookThumbView()->isHidden());
    }
    button->bookmarkImageView()->setHidden(true);
    button->filenameText()->setHidden(true);
    return button;
}

std::vector<double> BookshelfDragCover::slotCentres(const std::shared_ptr<Settings>& settings, bool landscape) {
    const int perLine = FilelistBaseViewItembookshelfModeCell::getNumInBookshelfLine(landscape);
    const ui::Rect cover = coverRect(settings, false);
    std::vector<double> out;
    for (int i = 0; i < perLine; ++i)
        out.push_back(FilelistBaseViewItembookshelfModeCell::getPointOfBookshelf(i, landscape).x + cover.x() +
                      cover.width() / 2);
    return out;
}
