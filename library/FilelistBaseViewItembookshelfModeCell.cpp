#include "library/FilelistBaseViewItembookshelfModeCell.h"

#include "foundation/BookCommon.h"
#include "foundation/OptimizeFilename.h"
#include "foundation/Settings.h"
#include "foundation/ThemeLoader.h"
#include "library/BookshelfShelfView.h"
#include "library/FilelistBaseViewController.h"
#include "library/FilelistBaseViewItemListModeCell.h"
#include "platform/core/Path.h"

#include <cmath>

namespace {

bool isPad() { return BookCommon::getDeviceDisplayType() == 1; }

gfx::Rect themeRect(const std::shared_ptr<Settings>& settings, bool folder, bool label) {
    std::shared_ptr<ThemeLoader> theme = settings ? settings->themeLoader() : nullptr;
    ThemeLoader fallback;
    const ThemeLoader& t = theme ? *theme : fallback;
    if (label) return t.getFolderLabelRect();
    return folder ? t.getBookShelfFolderPos() : t.getBookShelfBookPos();
}

// The folder a folder entry stands for: a path, or a remote folder's address.
std::optional<std::string> folderOfItem(const FilelistItem& item) {
    switch (item.type()) {
    case FilelistBaseViewController::kTypeSharedDocuments: return BookCommon::getBooksDocumentsFolder();
    case FilelistBaseViewController::kTypeDownloadFolder: return BookCommon::getBooksTempRoot();
    default: return ThumbsCreate::sourceOfItem(item);
    }
}

std::shared_ptr<ThemeLoader> currentTheme(const std::shared_ptr<Settings>& settings) {
    return settings ? settings->themeLoader() : nullptr;
}

}  // namespace

FilelistBaseViewItembookshelfModeCell::FilelistBaseViewItembookshelfModeCell(const std::string& reuseIdentifier)
    : FilelistBaseViewItemCell(reuseIdentifier) {
    setSelectionStyle(ui::TableViewCellSelectionStyle::None);
}

ui::Size FilelistBaseViewItembookshelfModeCell::coverSize() { return isPad() ? ui::Size{134, 166} : ui::Size{96, 118}; }

int FilelistBaseViewItembookshelfModeCell::numInBookshelfLineForWidth(double width, bool pad, bool landscape) {
    if (pad) {
        if (width < 438) return 2;
        if (width < 694) return 3;
        if (width < 768) return 4;
        if (width < 981) return 5;
        if (width < 1194) return 6;
        if (width < 1350) return 7;
        return 8;
    }
    if (!landscape) return width < 414 ? 3 : 4;
    if (width < 568) return 4;
    if (width < 736) return 5;
    if (width < 896) return 6;
    if (width < 926) return 7;
    return 8;
}

int FilelistBaseViewItembookshelfModeCell::getNumInBookshelfLine(bool landscape) {
    const gfx::Rect screen = BookCommon::getScreenRectNew();
    double width = screen.width();
    if (isPad()) {
        const gfx::EdgeInsets safe = BookCommon::getSafeAreaNew();
        width -= safe.left + safe.right;
    }
    return numInBookshelfLineForWidth(width, isPad(), landscape);
}

ui::Point FilelistBaseViewItembookshelfModeCell::getPointOfBookshelf(int index, bool landscape) {
    const int n = getNumInBookshelfLine(landscape);
    const gfx::EdgeInsets safe = BookCommon::getSafeAreaNew();
    const double width = BookCommon::getWindowRect().width() - safe.left - safe.right;
    const double step = n > 1 ? (width - 50 - coverSize().width) / (n - 1) : 0;
    // Rows span the whole window: the first cover stands 25 points inside
    // the safe area (clear of a phone's sensor housing in landscape).
    return {std::trunc(safe.left + 25 + index * step), isPad() ? 27.0 : 15.0};
}

void FilelistBaseViewItembookshelfModeCell::setupCellViews(FilelistBaseViewController* controller) {
    controller_ = controller;
    makeSlots(kMaxNumInBookshelfLine);
    settings_ = controller ? controller->settings() : nullptr;
    setBackgroundColor(ui::Color::clear());
    contentView()->setBackgroundColor(ui::Color::clear());
    bgImageView_ = std::make_shared<BookshelfShelfView>();
    contentView()->addSubview(bgImageView_);
    for (auto& b : buttons_) {
        b = std::make_shared<BookshelfBookButton>();
        b->setDelegate(controller);
        auto* label = b->filenameText();
        label->setFont(gfx::Font::system(isPad() ? 12 : 10));
        label->setTextAlignment(ui::TextAlignment::Center);
        label->setTextColor(ui::Color::whiteColor());
        label->setNumberOfLines(0);
        label->setLineBreakMode(ui::LineBreakMode::TruncateTail);
        const ui::Size mark = b->bookmarkImageView()->sizeThatFits({0, 0});
        const ui::Point at = isPad() ? ui::Point{120, 40} : ui::Point{85, 30};
        b->bookmarkImageView()->setFrame({at.x - mark.width / 2, at.y - mark.height / 2, mark.width, mark.height});
        contentView()->addSubview(b);
    }
}

void FilelistBaseViewItembookshelfModeCell::setSubViewsPos() {
    if (!bgImageView_) return;
    const ui::Rect b = bounds();
    // The shelf runs under the whole row, safe area or not.
    bgImageView_->setFrame({-contentView()->frame().x(), 0, b.width(), b.height()});
    const bool landscape = BookCommon::isLandscapeSwitchOSVersionWithViewController();
    const ui::Size size = coverSize();
    for (int i = 0; i < kMaxNumInBookshelfLine; ++i) {
        ui::Point p = getPointOfBookshelf(i, landscape);
        buttons_[size_t(i)]->setFrame({p.x, p.y, size.width, size.height});
        buttons_[size_t(i)]->filenameText()->setFrame(themeRect(settings_, true, true));
        buttons_[size_t(i)]->selectedImageView()->setAlpha(isEditMode() ? 1 : 0);
    }
}

void FilelistBaseViewItembookshelfModeCell::layoutSubviews() {
    FilelistBaseViewItemCell::layoutSubviews();
    setSubViewsPos();
}

void FilelistBaseViewItembookshelfModeCell::fillSlot(int i, bool createThumbs, bool thumbsOnly) {
    auto& slot = book()[size_t(i)];
    auto& cover = *buttons_[size_t(i)];
    if (slot.isInvalidItem() || !slot.item()) {
        cover.setHidden(true);
        return;
    }
    const auto& item = slot.item();
    cover.setHidden(item->dragging());
    const int n = getNumInBookshelfLine(BookCommon::isLandscapeSwitchOSVersionWithViewController());
    cover.setIndexNo(i + lineNo() * n);
    // What cannot be picked (the fixed entries) carries no mark.
    auto* mark = cover.selectedImageView();
    if (!slot.isCanSelected()) {
        mark->setImage(BookCommon::imageNamed("book_notselect"));
        mark->setHidden(true);
    } else {
        mark->setImage(BookCommon::imageNamed(slot.isSelected() ? "book_select" : "book_notselect"));
        mark->setHidden(false);
    }
    mark->setAlpha(isEditMode() ? 1 : 0);
    const bool names = settings_ && settings_->isDisplayFoldername();
    const bool optimize = settings_ && settings_->isOptimizeFilename();
    const std::string filename = item->filename().value_or("");
    const int32_t type = item->type();
    auto* thumb = cover.bookThumbView();
    auto* label = cover.filenameText();
    auto theme = currentTheme(settings_);
    if (type == 0 || type == 5 || type == 6 || type == 7 || type == 8) {
        cover.bookmarkImageView()->setHidden(true);
        label->setHidden(!names);
        // A theme's folder picture is the whole cover; without one the
        // folder's icon stands on the shelf.
        ui::ImageRef folderImage;
        if (theme) folderImage = type == 5 ? theme->getBookshelfRemoteFolderImage() : theme->getBookshelfFolderImage();
        cover.setImage(folderImage);
        // White names get a dark outline where the theme's folder pictures show.
        const bool outline = theme && theme->isFolderImage() && names;
        label->setShadowOffset(outline ? ui::Size{1, 1} : ui::Size{0, 0});
        // Where the theme shows folders' own pictures, a folder whose cover
        // was made shows it in the theme's folder frame.
        gfx::ImageRef picture;
        if (type != 5 && theme && theme->isFolderImage())
            if (auto folder = folderOfItem(*item)) picture = ThumbsCreate::folderThumbnail(*folder);
        if (picture) {
            thumb->setHidden(false);
            thumb->setFrame(themeRect(settings_, true, false));
            thumb->setImage(ui::Image::withBitmap(picture));
        } else {
            thumb->setHidden(folderImage != nullptr);
            thumb->setFrame(themeRect(settings_, false, false));
            thumb->setImage(ui::Image::named(FilelistBaseViewItemListModeCell::folderIconName(*item, true)));
        }
        if (thumbsOnly) return;
        std::string text;
        if (type == 6) {
            text = BookCommon::localizedStringWithOnOff("Leafbright Library");
        } else if (type == 8) {
            text = BookCommon::localizedStringWithOnOff("Shared Documents");
        } else if (type == 7) {
            text = BookCommon::getTempFolderName();
        } else if (names) {
            std::string base = item->location() == FilelistItem::kLocal && type != 0
                                   ? sys::Path::stringByDeletingPathExtension(filename)
                                   : filename;
            text = optimize ? OptimizeFilename::getOptimizedString(base) : base;
        }
        label->setText(text);
        return;
    }
    if (type == 4) {
        if (thumbsOnly) return;
        thumb->setHidden(false);
        thumb->setFrame(themeRect(settings_, false, false));
        cover.setImage(theme ? theme->getBookshelfBookImage() : nullptr);
        thumb->setImage(ui::Image::named(BookCommon::getDeviceDisplayType() == 1 ? "bookshelf_theme_ipad" : "bookshelf_theme"));
        cover.bookmarkImageView()->setHidden(true);
        // The theme's picture says what it is: its file name stays hidden.
        label->setHidden(true);
        label->setText(sys::Path::stringByDeletingPathExtension(filename));
        return;
    }
    // Books, images and PDFs show their cover.
    thumb->setHidden(false);
    thumb->setFrame(themeRect(settings_, false, false));
    label->setHidden(true);
    cover.bookmarkImageView()->setHidden(!item->isLastReadingFile());
    cover.setImage(theme ? theme->getBookshelfBookImage() : nullptr);
    auto job = ThumbsCreate::thumbsCreate()->getImage(item, createThumbs);
    ui::ImageRef noLoad = theme ? theme->getBookshelfNoLoadImage() : nullptr;
    if (!noLoad) noLoad = ui::Image::named("thumbs_noimage");
    thumb->setImage(job && job->image() ? ui::Image::withBitmap(job->image()) : noLoad);
    slot.setThumbs(job);
}

void FilelistBaseViewItembookshelfModeCell::updateCellItem(bool createThumbs) {
    const int n = getNumInBookshelfLine(BookCommon::isLandscapeSwitchOSVersionWithViewController());
    for (int i = 0; i < kMaxNumInBookshelfLine; ++i) {
        if (i >= n) {
            buttons_[size_t(i)]->setHidden(true);
            continue;
        }
        fillSlot(i, createThumbs, false);
    }
}

void FilelistBaseViewItembookshelfModeCell::updateCellThumbs(bool createThumbs) {
    const int n = getNumInBookshelfLine(BookCommon::isLandscapeSwitchOSVersionWithViewController());
    for (int i = 0; i < n && i < kMaxNumInBookshelfLine; ++i) {
        const auto& item = book()[size_t(i)].item();
        // Folders too: their cover is made from a book's.
        if (!item || item->type() == 4 || item->type() == 5) continue;
        fillSlot(i, createThumbs, true);
    }
}

void FilelistBaseViewItembookshelfModeCell::modeChangeWithAnimation() {
    ui::View::animate(0.3, [this] { setSubViewsPos(); });
    if (isEditMode()) updateCellItem(false);
}
