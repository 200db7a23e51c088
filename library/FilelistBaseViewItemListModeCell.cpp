#include "library/FilelistBaseViewItemListModeCell.h"

#include "foundation/BookCommon.h"
#include "foundation/OptimizeFilename.h"
#include "foundation/QNTextEncoding.h"
#include "foundation/Settings.h"
#include "foundation/ui/ColorDefine.h"
#include "library/FilelistBaseViewController.h"
#include "platform/core/FileManager.h"
#include "platform/core/Path.h"
#include "platform/ui/Screen.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

using Item = FilelistItem;

std::shared_ptr<ui::Label> makeLabel() {
    auto l = std::make_shared<ui::Label>();
    l->setFont(gfx::Font::system(14));
    return l;
}

std::string withoutExtension(const std::string& name) { return sys::Path::stringByDeletingPathExtension(name); }

// The colour of an archive entry name shown in place of an info line.
ui::Color auxTextColor() {
    if (!ui::Color::hasNamed("ColorAuxTextLabel"))
        ui::Color::setNamed("ColorAuxTextLabel",
                            ui::Color::dynamic(ui::Color::rgb255(46, 125, 80), ui::Color::rgb255(120, 200, 150)));
    return ui::Color::named("ColorAuxTextLabel");
}

}  // namespace

FilelistBaseViewItemListModeCell::FilelistBaseViewItemListModeCell(const std::string& reuseIdentifier)
    : FilelistBaseViewItemCell(reuseIdentifier) {}

void FilelistBaseViewItemListModeCell::setupCellViews(FilelistBaseViewController* controller) {
    FilelistBaseViewItemCell::setupCellViews(controller);
    settings_ = controller ? controller->settings() : nullptr;
    auto* content = contentView();
    selectedItemBackgroundView_ = std::make_shared<ui::View>();
    selectedItemBackgroundView_->setBackgroundColor(ColorDefine::selectedBookBackground());
    selectedItemBackgroundView_->setHidden(true);
    content->addSubview(selectedItemBackgroundView_);
    separator_ = std::make_shared<ui::View>();
    separator_->setBackgroundColor(ColorDefine::lightGray());
    addSubview(separator_);
    thumbsImageView_ = std::make_shared<ui::ImageView>();
    thumbsImageView_->setContentMode(ui::ContentMode::ScaleAspectFit);
    content->addSubview(thumbsImageView_);
    downloadIconView_ = std::make_shared<ui::ImageView>(ui::Image::named("download_icon"));
    content->addSubview(downloadIconView_);
    filename_ = makeLabel();
    filename_->setLineBreakMode(ui::LineBreakMode::TruncateMiddle);
    content->addSubview(filename_);
    infoLabel_ = makeLabel();
    infoLabel_->setLineBreakMode(ui::LineBreakMode::TruncateMiddle);
    content->addSubview(infoLabel_);
    pageLabel_ = makeLabel();
    pageLabel_->setTextColor(ColorDefine::labelPage());
    content->addSubview(pageLabel_);
    bookmarkDateLabel_ = makeLabel();
    bookmarkDateLabel_->setTextColor(ui::Color::rgb(0.5, 0.5, 1.0));
    bookmarkDateLabel_->setTextAlignment(ui::TextAlignment::Left);
    content->addSubview(bookmarkDateLabel_);
    fileDateLabel_ = makeLabel();
    fileDateLabel_->setTextColor(ui::Color::white(0.5));
    fileDateLabel_->setTextAlignment(ui::TextAlignment::Right);
    content->addSubview(fileDateLabel_);
    fileSizeView_ = makeLabel();
    fileSizeView_->setTextColor(ui::Color::rgb(0.5, 0.5, 0.7));
    content->addSubview(fileSizeView_);
    statusIconImageView_ = std::make_shared<ui::ImageView>();
    content->addSubview(statusIconImageView_);
    cacheStatusImageView_ = std::make_shared<ui::ImageView>();
    content->addSubview(cacheStatusImageView_);
    selectIconImageView_ = std::make_shared<ui::ImageView>();
    selectIconImageView_->setAlpha(0);
    content->addSubview(selectIconImageView_);
}

bool FilelistBaseViewItemListModeCell::isSimpleStyle() const {
    if (!settings_) return false;
    int style = settings_->bookListStyle();
    bool remote = controller_ && controller_->getFilelistMode() != 0;
    return style == 0 || (remote && style == 2);
}

bool FilelistBaseViewItemListModeCell::isOpenable(const FilelistItem& item) const {
    return isStreamingMode() || item.location() == Item::kLocal || item.type() == 0;
}

std::string FilelistBaseViewItemListModeCell::folderIconName(const FilelistItem& item, bool detailStyle) {
    const std::string p = detailStyle ? "thumbs_" : "";
    switch (item.type()) {
    case 0:
        if (item.isFolderLocked()) return p + (item.isFolderNoBackupFlag() ? "folder_l_nb_f" : "folder_l_f");
        if (item.isFolderScanFiles()) return p + "folder_scan_f";
        return p + (item.isFolderNoBackupFlag() ? "folder_nb_f" : "folder_f");
    case 5: return p + "folder_remote_f";
    case 6: return p + "folder_f";
    case 7: return p + "folder_temp_f";
    case 8: return p + "folder_documents_f";
    default: return "";
    }
}

std::string FilelistBaseViewItemListModeCell::cacheStatusImageName(int64_t cacheStatus) {
    if (cacheStatus == 0) return "";
    return cacheStatus == 1 ? "cache_incomplete" : "cache";
}

std::string FilelistBaseViewItemListModeCell::statusIconName(const FilelistItem& item) {
    const bool mark = item.isExistBookmark();
    if (item.type() == 2) {
        if (mark) return item.imageType() == 1 ? "book_new_b" : "book_fin_b";
        return item.imageType() == 1 ? "book_new" : "book_fin";
    }
    const int64_t page = item.readingPageNo();
    const int64_t pages = item.numberOfPages();
    const bool finished = page + 1 == pages || (page + 2 == pages && item.is2Pageloaded());
    const bool inFolder = item.readingFolder() && !item.readingFolder()->empty();
    std::string base;
    if (page == 0) base = inFolder ? "book_folder_read1" : "book_new";
    else if (finished) base = inFolder ? "book_folder_fin" : "book_fin";
    else base = inFolder ? "book_folder_read1" : "book_read1";
    return mark ? base + "_b" : base;
}

void FilelistBaseViewItemListModeCell::setThumbnail(bool createThumbs) {
    auto& slot = book()[0];
    auto job = ThumbsCreate::thumbsCreate()->getImage(slot.item(), createThumbs);
    const gfx::ImageRef image = job ? job->image() : nullptr;
    if (image) {
        thumbsImageView_->setImage(ui::Image::withBitmap(image));
    } else {
        thumbsImageView_->setImage(ui::Image::named("thumbs_noimage"));
    }
    loadThumbs_ = image != nullptr;
    infoLabelTextTitileAux_ = job ? job->filenameInArchive() : std::nullopt;
    slot.setThumbs(job);
}

void FilelistBaseViewItemListModeCell::updateCellItem(bool createThumbs) {
    if (book().empty()) return;
    auto& slot = book()[0];
    infoLabelTextTitileAux_.reset();
    infoLabelTextDefault_.reset();
    const std::shared_ptr<FilelistItem> item = slot.item();
    const std::string badge = item ? cacheStatusImageName(item->cacheStatus()) : "";
    cacheStatusImageView_->setImage(badge.empty() ? nullptr : ui::Image::named(badge));
    setupSelectedImage();
    const bool simple = isSimpleStyle();
    filename_->setFont(simple ? gfx::Font::system(14) : gfx::Font::boldSystem(14));
    pageLabel_->setText("");
    bookmarkDateLabel_->setText("");
    fileDateLabel_->setText("");
    fileSizeView_->setText("");
    statusIconImageView_->setImage(nullptr);
    loadThumbs_ = false;
    hasPageInfo_ = false;
    if (!item) {
        filename_->setText("");
        infoLabel_->setText("");
        thumbsImageView_->setImage(nullptr);
        setSubViewsPos();
        return;
    }
    // The row's own background, under the shading of a tapped row (the
    // content view above it stays clear) and the accessory.
    setBackgroundColor(item->isLastReadingFile() ? ColorDefine::lastReadBookBackground() : ColorDefine::background());
    setAccessoryType(!isEditMode() && slot.isEnableDetailButton() ? ui::TableViewCellAccessoryType::DetailDisclosureButton
                                                                  : ui::TableViewCellAccessoryType::None);

    const int32_t type = item->type();
    const bool folderLike = type == 0 || type == 5 || type == 6 || type == 7 || type == 8;
    if (folderLike) {
        thumbsImageView_->setImage(ui::Image::named(folderIconName(*item, !simple)));
        filename_->setTextColor(ColorDefine::labelFolder());
    } else {
        if (!simple) setThumbnail(createThumbs);
        if (item->readingPageNo() >= 1 && item->numberOfPages() != 0) {
            char text[64];
            std::snprintf(text, sizeof text, "%lld/%lld", static_cast<long long>(item->readingPageNo() + 1),
                          static_cast<long long>(item->numberOfPages()));
            pageLabel_->setText(text);
            hasPageInfo_ = true;
        }
        if (item->numberOfPages() != 0 && item->bookmarkDate())
            bookmarkDateLabel_->setText(BookCommon::getLocalDateStringTodayShort(*item->bookmarkDate()).value_or(""));
        if (!item->creationDate() && item->location() == Item::kLocal) {
            auto full = BookCommon::fromBooksToFromRoot(item->pathFromBooks());
            if (full) {
                auto attrs = sys::FileManager::attributesOfItem(*full, true);
                if (attrs) item->setCreationDate(attrs->creationDate);
            }
        }
        if (item->creationDate()) fileDateLabel_->setText(BookCommon::getLocalDateStringToday(*item->creationDate()));
        if (item->remoteInfo()) {
            const sys::PlistValue& size = item->remoteInfo()->get("booksize");
            if (size.isNumber()) fileSizeView_->setText(BookCommon::strSizeFormatFromValue(size.integerValue()));
        }
        filename_->setTextColor(item->location() == Item::kLocal || item->remoteCanStreaming() ? ColorDefine::label()
                                                                                               : ColorDefine::labelGray());
        std::string status = statusIconName(*item);
        if (simple) thumbsImageView_->setImage(BookCommon::imageNamed(status));
        else statusIconImageView_->setImage(BookCommon::imageNamed(status + "_s"));
    }

    // Name and info line.
    const bool optimize = settings_ && settings_->isOptimizeFilename();
    const std::string filename = item->filename().value_or("");
    std::optional<std::string> aux;
    auto shorten = [&](const std::string& s) { return OptimizeFilename::getOptimizedString(s, &aux); };
    bool infoLine = false;
    std::string name;
    switch (type) {
    case 8:
        name = BookCommon::localizedStringWithOnOff("Shared Documents");
        infoLabelTextDefault_ = BookCommon::localizedStringWithOnOff("File Sharing with iTunes");
        infoLine = true;
        pageLabel_->setText("");
        break;
    case 7: {
        char text[32];
        std::snprintf(text, sizeof text, " (%d)", BookCommon::getFilesInDownloads());
        name = BookCommon::getTempFolderName() + text;
        infoLabelTextDefault_ = BookCommon::localizedStringWithOnOff("Not Backed Up to iTunes");
        infoLine = true;
        pageLabel_->setText("");
        break;
    }
    case 6:
        name = BookCommon::localizedStringWithOnOff("Leafbright Library");
        infoLabelTextDefault_ = BookCommon::localizedStringWithOnOff("Download from Library");
        infoLine = true;
        break;
    case 5: {
        pageLabel_->setText("");
        std::string base = withoutExtension(filename);
        if (simple && !optimize) {
            name = base;
        } else {
            name = optimize ? shorten(base) : base;
            infoLabelTextDefault_ = aux;
            infoLine = aux.has_value();
        }
        break;
    }
    case 2:
        if (simple && !optimize) {
            name = filename;
        } else {
            name = optimize ? shorten(filename) : filename;
            infoLabelTextDefault_ = aux;
        }
        break;
    default: {
        std::string base = item->location() == Item::kLocal && type != 0 ? withoutExtension(filename) : filename;
        if (simple && !optimize) {
            name = base;
        } else {
            name = optimize ? shorten(type == 0 ? filename : base) : filename;
            infoLabelTextDefault_ = aux;
            infoLine = aux.has_value();
        }
        break;
    }
    }
    if (type == 6 || type == 7 || type == 8) hasPageInfo_ = false;
    filename_->setText(name);
    updateInfoLabel();
    // A file with an info line keeps the three-line layout of a book being
    // read: its name below the dates, its reading state shown. Only folders
    // move their name up to make room for the second line.
    lineCount_ = hasPageInfo_ || (infoLine && !folderLike) ? 3 : infoLine ? 2 : 1;
    isInfoLine_ = infoLine;
    setSubViewsPos();
}

void FilelistBaseViewItemListModeCell::updateCellThumbs(bool createThumbs) {
    if (book().empty() || !book()[0].item() || isSimpleStyle()) return;
    int32_t type = book()[0].item()->type();
    if (type < 1 || type > 4) return;
    setThumbnail(createThumbs);
    updateInfoLabel();
}

void FilelistBaseViewItemListModeCell::updateInfoLabel() {
    const auto& item = book().empty() ? nullptr : book()[0].item();
    const bool defaultEmpty = !infoLabelTextDefault_ || infoLabelTextDefault_->empty();
    if (item && item->type() == 1 && defaultEmpty && infoLabelTextTitileAux_ &&
        *infoLabelTextTitileAux_ != filename_->text() && QNTextEncoding::isASCIIOnlyString(filename_->text())) {
        infoLabel_->setText(*infoLabelTextTitileAux_);
        infoLabel_->setTextColor(auxTextColor());
        return;
    }
    infoLabel_->setText(infoLabelTextDefault_.value_or(""));
    infoLabel_->setTextColor(ui::Color::white(0.5));
}

void FilelistBaseViewItemListModeCell::setupSelectedImage() {
    if (book().empty()) return;
    const auto& slot = book()[0];
    if (!isEditMode()) {
        selectIconImageView_->setImage(BookCommon::imageNamed("book_notselect"));
    } else if (!slot.isCanSelected()) {
        selectIconImageView_->setImage(nullptr);
    } else {
        selectIconImageView_->setImage(BookCommon::imageNamed(slot.isSelected() ? "book_select" : "book_notselect"));
        selectIconImageView_->setAlpha(1);
    }
    selectedItemBackgroundView_->setHidden(!(isSelectDownloadMode() && slot.isSelected()));
}

void FilelistBaseViewItemListModeCell::modeChangeWithAnimation() {
    setupSelectedImage();
    const bool edit = isEditMode();
    ui::View::animate(0.3, [&] {
        setSubViewsPos();
        selectIconImageView_->setAlpha(edit ? 1 : 0);
    });
    const bool detail = !book().empty() && book()[0].isEnableDetailButton();
    setAccessoryType(!edit && detail ? ui::TableViewCellAccessoryType::DetailDisclosureButton
                                     : ui::TableViewCellAccessoryType::None);
}

void FilelistBaseViewItemListModeCell::setSubViewsPos() {
    const ui::Rect b = contentView()->bounds();
    const double W = b.width();
    // The content view starts where the safe area does.
    const double L = contentView()->safeAreaInsets().left;
    const double w = W - 34 - L;
    const double A = 22;
    const double e = isEditMode() ? 50 : 0;
    selectedItemBackgroundView_->setFrame(b);
    const auto& item = book().empty() ? nullptr : book()[0].item();
    const bool openable = item && isOpenable(*item);
    const bool local = item && item->location() == Item::kLocal;
    if (!isSimpleStyle()) {
        thumbsImageView_->setFrame({L + 1 + e, 0, 56, 80});
        pageLabel_->setFrame({L + 84 + e, 10, 60, 20});
        bookmarkDateLabel_->setFrame({L + 147 + e, 10, 100, 20});
        fileDateLabel_->setFrame({L + w - 110 - A + e, 10, 100, 20});
        selectIconImageView_->setFrame({L - 37 + e, 24, 32, 32});
        statusIconImageView_->setFrame({L + 62 + e, 10, 20, 20});
        fileSizeView_->setFrame({L + 84 + e, 10, 150, 20});
        downloadIconView_->setFrame({L + 62 + e, 10, 20, 20});
        cacheStatusImageView_->setFrame({L + w + 10 - A + e, 12, 32, 16});
        const bool upper = lineCount_ == 2 && openable;
        const double y1 = upper ? 22 : 30;
        const double y2 = upper ? 40 : 48;
        filename_->setFrame({L + 64 + e, y1, w - 64 - A - e, 20});
        infoLabel_->setFrame({L + 64 + e, y2, w - 64 - e, 20});
        statusIconImageView_->setHidden(lineCount_ == 2);
        pageLabel_->setHidden(false);
        bookmarkDateLabel_->setHidden(false);
        fileDateLabel_->setHidden(false);
        // In a narrow row (a small window) the page, the reading date and
        // the file's date would run into one another: the reading date
        // follows the page's text, and the file's date, kept to the right,
        // is left out where it has no room of its own.
        const auto textWidth = [](ui::Label& l) {
            return l.text().empty() ? 0.0 : std::ceil(l.sizeThatFits({0, 0}).width);
        };
        const double pageEnd = L + 84 + e + textWidth(*pageLabel_);
        const double readX = std::max(L + 147 + e, pageEnd + 6);
        bookmarkDateLabel_->setFrame({readX, 10, 100, 20});
        const double readEnd = bookmarkDateLabel_->text().empty() ? pageEnd : readX + textWidth(*bookmarkDateLabel_);
        const double dateWidth = textWidth(*fileDateLabel_);
        const ui::Rect dateFrame = fileDateLabel_->frame();
        if (dateWidth > 0 && dateFrame.maxX() - dateWidth < readEnd + 8) fileDateLabel_->setHidden(true);
        thumbsImageView_->setAlpha(1);
        const double on = openable ? 1 : 0;
        statusIconImageView_->setAlpha(on);
        pageLabel_->setAlpha(on);
        bookmarkDateLabel_->setAlpha(on);
        cacheStatusImageView_->setAlpha(on);
        fileSizeView_->setAlpha(1 - on);
        downloadIconView_->setAlpha(item && !openable ? 1 : 0);
    } else {
        // As the detail style, inside the safe area.
        thumbsImageView_->setFrame({L + e + 1, 14, 32, 32});
        downloadIconView_->setFrame({L + e + 7, 20, 20, 20});
        cacheStatusImageView_->setFrame({L + e + 1, 35, 32, 16});
        selectIconImageView_->setFrame({L + e - 37, 12, 32, 32});
        if (isInfoLine_) {
            filename_->setFrame({L + e + 40, 12, w - 64 - A - e, 20});
            infoLabel_->setFrame({L + e + 40, 30, w - 64 - e, 20});
        } else {
            filename_->setFrame({L + e + 40, 20, w - 64 - A - e, 20});
            infoLabel_->setFrame({L + e + 40, 30, 0, 0});
        }
        fileSizeView_->setFrame({L + w - 40 - A + e, 30, 150, 20});
        pageLabel_->setHidden(true);
        bookmarkDateLabel_->setHidden(true);
        fileDateLabel_->setHidden(true);
        statusIconImageView_->setHidden(true);
        thumbsImageView_->setAlpha(openable ? 1 : 0);
        cacheStatusImageView_->setAlpha(openable ? 1 : 0);
        downloadIconView_->setAlpha(item && !openable ? 1 : 0);
        fileSizeView_->setAlpha(local ? 0 : 1);
    }
}

void FilelistBaseViewItemListModeCell::layoutSubviews() {
    FilelistBaseViewItemCell::layoutSubviews();
    setSubViewsPos();
    const double px = 1.0 / ui::Screen::main().scale();
    const ui::Rect b = bounds();
    separator_->setFrame({10, b.height() - px, b.width() - 10, px});
}
