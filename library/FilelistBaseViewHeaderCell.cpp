#include "library/FilelistBaseViewHeaderCell.h"

#include "foundation/BookCommon.h"
#include "foundation/ui/ColorDefine.h"
#include "library/BookshelfShelfView.h"
#include "library/FilelistBaseViewController.h"
#include "platform/core/DeviceProfile.h"
#include "platform/ui/Image.h"
#include "platform/ui/Screen.h"

namespace {

std::vector<std::string> listModeTitles(const FilelistBaseViewController* controller) {
    if (controller && controller->getFilelistMode() != 0)
        return {BookCommon::localizedStringWithOnOff("Download"), BookCommon::localizedStringWithOnOff("Streaming"),
                BookCommon::localizedStringWithOnOff("Bookshelf")};
    return {BookCommon::localizedStringWithOnOff("List"), BookCommon::localizedStringWithOnOff("Bookshelf")};
}

}  // namespace

FilelistBaseViewHeaderCell::FilelistBaseViewHeaderCell(const std::string& reuseIdentifier)
    : ui::TableViewCell(ui::TableViewCellStyle::Default, reuseIdentifier) {
    setSelectionStyle(ui::TableViewCellSelectionStyle::None);
}

void FilelistBaseViewHeaderCell::setupCellViews(FilelistBaseViewController* controller) {
    controller_ = controller;
    // On the bookshelf the header is clear: the shelves drawn behind the
    // table above the first row show through it.
    contentView()->setBackgroundColor(ui::Color::clear());
    segmentListModeSelect_ = std::make_shared<ui::SegmentedControl>(listModeTitles(controller));
    segmentListModeSelect_->setTitleFont(gfx::Font::system(11));
    segmentBackground_ = segmentListModeSelect_->backgroundColor();
    segmentTint_ = segmentListModeSelect_->selectedSegmentTintColor();
    segmentListModeSelect_->addAction(ui::ControlEventValueChanged, [controller](ui::Control& c) {
        if (controller) controller->onChangeBookShelfMode(static_cast<ui::SegmentedControl&>(c).selectedSegmentIndex());
    });
    contentView()->addSubview(segmentListModeSelect_);
    setListModeSelected();

    segmentSortModeSelect_ = std::make_shared<SortModeSelectedView>(controller);
    segmentSortModeSelect_->setDelegate(controller);
    contentView()->addSubview(segmentSortModeSelect_);

    searchBar_ = std::make_shared<ui::SearchBar>();
    searchBar_->setDelegate(controller);
    searchBar_->setShowsCancelButton(false);
    searchBar_->setBackgroundColor(ui::Color::clear());
    searchFieldColor_ = searchBar_->searchTextField()->backgroundColor();
    contentView()->addSubview(searchBar_);

    thumbsReCreateButton_ = std::make_shared<ui::Button>(ui::ButtonType::Custom);
    thumbsReCreateButton_->setImage(ui::Image::named("reload_icon"));
    thumbsReCreateButton_->addAction(ui::ControlEventTouchUpInside, [controller](ui::Control&) {
        if (controller) controller->reCreateThumbs();
    });
    contentView()->addSubview(thumbsReCreateButton_);

    if (controller && controller->getFilelistMode() != 0 && controller->fileListViewMode() == 0) {
        auto makeButton = [this](const std::string& title, void (FilelistBaseViewController::*action)()) {
            auto b = std::make_shared<ui::Button>(ui::ButtonType::System);
            b->setTitle(BookCommon::localizedStringWithOnOff(title));
            b->setTitleColor(ColorDefine::redTextColor());
            FilelistBaseViewController* target = controller_;
            b->addAction(ui::ControlEventTouchUpInside, [target, action](ui::Control&) {
                if (target) (target->*action)();
            });
            contentView()->addSubview(b);
            return b;
        };
        downloadAllButton_ = makeButton("Download all files", &FilelistBaseViewController::onDownloadAll);
        downloadAllWithFolderButton_ =
            makeButton("Create a folder and download all", &FilelistBaseViewController::onDownloadAllWithFolder);
        separator1_ = std::make_shared<ui::View>();
        separator1_->setBackgroundColor(ColorDefine::lightGray());
        contentView()->addSubview(separator1_);
        separator2_ = std::make_shared<ui::View>();
        separator2_->setBackgroundColor(ColorDefine::lightGray());
        contentView()->addSubview(separator2_);
    }
    if (sys::DeviceProfile::current().systemMajorVersion() >= 26 && controller && !controller->isHeaderCellSetVisible())
        setHeaderHidden(true, false);
    updateStatus();
}

void FilelistBaseViewHeaderCell::setListModeSelected() {
    if (!controller_ || !segmentListModeSelect_) return;
    if (controller_->getFilelistMode() == 0) {
        segmentListModeSelect_->setSelectedSegmentIndex(controller_->fileListViewMode());
    } else if (controller_->fileListViewMode() == 0) {
        segmentListModeSelect_->setSelectedSegmentIndex(controller_->isStreamingMode() ? 1 : 0);
    } else {
        segmentListModeSelect_->setSelectedSegmentIndex(2);
    }
}

void FilelistBaseViewHeaderCell::showTitles() {
    if (!segmentListModeSelect_) return;
    const auto titles = listModeTitles(controller_);
    for (size_t i = 0; i < titles.size(); ++i) segmentListModeSelect_->setTitle(titles[i], int(i));
    searchBar_->showSystemWords();
}

void FilelistBaseViewHeaderCell::updateStatus() {
    if (!controller_ || !segmentSortModeSelect_) return;
    const bool shelf = controller_->fileListViewMode() == 1;
    setBackgroundColor(shelf ? ui::Color::clear() : ColorDefine::background());
    // The field keeps its light look over the dark shelves, in the dark look
    // too: what it shows is drawn as on a light field.
    if (shelf) searchBar_->searchTextField()->setBackgroundColor(ui::Color::white(1.0, 0.85));
    else searchBar_->searchTextField()->setBackgroundColor(searchFieldColor_);
    searchBar_->setFieldKeepsLightLook(shelf);
    // So does the list/bookshelf switch: its own see-through grey would leave
    // dark titles on the dark wood in the light look.
    if (shelf) {
        segmentListModeSelect_->setBackgroundColor(ui::Color::white(1.0, 0.85));
        segmentListModeSelect_->setSelectedSegmentTintColor(ui::Color::whiteColor());
        segmentListModeSelect_->setTitleColor(ui::Color::black());
    } else {
        segmentListModeSelect_->setBackgroundColor(segmentBackground_);
        segmentListModeSelect_->setSelectedSegmentTintColor(segmentTint_);
        segmentListModeSelect_->setTitleColor(ui::Color::label());
    }
    segmentSortModeSelect_->setIsDateSortModeBookmarkDate(controller_->isDateSortModeBookmarkDate());
    segmentSortModeSelect_->setIsDescendingOrder(controller_->isSortDescendingOrder());
    segmentSortModeSelect_->setSelectedIndex(controller_->sortMode());
}

void FilelistBaseViewHeaderCell::setHeaderHidden(bool hidden, bool animated) {
    if (hidden == isHeaderHidden_) return;
    isHeaderHidden_ = hidden;
    const double a = hidden ? 0 : 1;
    auto apply = [this, a] {
        segmentListModeSelect_->setAlpha(a);
        segmentSortModeSelect_->setAlpha(a);
        searchBar_->setAlpha(a);
        thumbsReCreateButton_->setAlpha(a);
        // The line under the row stays; the one between the buttons goes with them.
        if (downloadAllButton_) downloadAllButton_->setAlpha(a);
        if (downloadAllWithFolderButton_) downloadAllWithFolderButton_->setAlpha(a);
        if (separator2_) separator2_->setAlpha(a);
    };
    if (animated) ui::View::animate(0.5, apply);
    else apply();
}

void FilelistBaseViewHeaderCell::layoutSubviews() {
    ui::TableViewCell::layoutSubviews();
    if (!segmentListModeSelect_) return;
    // Laid out in the content view, which starts where the safe area does.
    const ui::Rect b = contentView()->bounds();
    const double W = b.width();
    const double H = b.height();
    const ui::EdgeInsets safe = contentView()->safeAreaInsets();
    const double S = safe.left + safe.right;
    const double off = controller_ && controller_->getFilelistMode() != 0 && controller_->fileListViewMode() == 0 ? 100 : 0;
    const double x0 = (W - 250) / 2;
    segmentListModeSelect_->setFrame({x0, 20, 250, 40});
    // Both start where the safe area does (a phone's sensor housing in landscape).
    searchBar_->setFrame({safe.left, H - 95 - off, W - S, 55});
    // On the shelves the row's bottom edge is the top shelf's plank: the
    // translucent sort buttons stand on it rather than over it.
    const bool shelf = controller_ && controller_->fileListViewMode() == 1;
    const double plank = shelf ? BookshelfShelfView::kBoardHeight : 0;
    segmentSortModeSelect_->setFrame({safe.left, H - 40 - off, W - S, 40 - plank});
    thumbsReCreateButton_->setFrame({x0 - 52, 23, 32, 32});
    thumbsReCreateButton_->setHidden(x0 - 52 < 0);
    if (downloadAllButton_) {
        const double px = 1.0 / ui::Screen::main().scale();
        downloadAllButton_->setFrame({0, H - 100, W, 50});
        downloadAllWithFolderButton_->setFrame({0, H - 50, W, 50});
        separator1_->setFrame({10, H - px, W - 10, px});
        separator2_->setFrame({10, H - 50 - px, W - 10, px});
    }
}
