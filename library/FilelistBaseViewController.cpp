#include "library/FilelistBaseViewController.h"

#include "foundation/ActiveLog.h"
#include "foundation/AppDelegateServices.h"
#include "foundation/ArraySort.h"
#include "foundation/BookCommon.h"
#include "foundation/Settings.h"
#include "foundation/ThemeLoader.h"
#include "foundation/iCloudKeyValueStoreCommon.h"
#include "foundation/ui/ColorDefine.h"
#include "foundation/ui/IndicatorWithBGView.h"
#include "foundation/ui/QNAlertView.h"
#include "library/BookshelfTopBottomAppendView.h"
#include "library/FilelistBaseViewDummyCell.h"
#include "library/FilelistBaseViewHeaderCell.h"
#include "library/FilelistBaseViewItemListModeCell.h"
#include "library/FilelistBaseViewItembookshelfModeCell.h"
#include "library/LibraryServices.h"
#include "library/LocalFilelistViewController.h"
#include "platform/core/CloudKeyValueStore.h"
#include "platform/core/FileManager.h"
#include "platform/core/Path.h"
#include "platform/core/PropertyList.h"
#include "platform/core/Unicode.h"
#include "platform/core/UserDefaults.h"
#include "platform/ui/Application.h"
#include "platform/core/DeviceProfile.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/TransitionCoordinator.h"
#include "platform/ui/Window.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr const char* kDefaultsBookshelfMode = "bookshelfMode";
constexpr const char* kDefaultsBookshelfModeRemote = "bookshelfModeRemote";
constexpr const char* kDefaultsStreamMode = "isStreamMode";

// Seconds since 1970 of the date a Date sort uses; reads (and keeps) the
// creation date of a local item the first time.
double creationSeconds(FilelistItem& item) {
    if (!item.creationDate() && item.location() == FilelistItem::kLocal) {
        auto full = BookCommon::fromBooksToFromRoot(item.pathFromBooks());
        if (full) {
            auto attrs = sys::FileManager::attributesOfItem(*full, true);
            if (attrs) item.setCreationDate(attrs->creationDate);
        }
    }
    return item.creationDate() ? item.creationDate()->timeIntervalSince1970() : 0.0;
}

}  // namespace

FilelistBaseViewController::FilelistBaseViewController(ui::TableViewStyle style) : ui::TableViewController(style) {
    settings_ = AppDelegateServices::sharedSettings();
    if (!settings_) settings_ = Settings::settings();
}

FilelistBaseViewController::~FilelistBaseViewController() {
    thumbsCreateStartCancel_ = true;
    stopThumbsRun();
    registerCloudChanges(false);
    if (thumbsReloadTimer_) thumbsReloadTimer_->invalidate();
}

void FilelistBaseViewController::setSortState(int mode, bool descending, bool bookmarkDate) {
    sortMode_ = std::clamp(mode, 0, 3);
    isSortDescendingOrder_ = descending;
    isDateSortModeBookmarkDate_ = bookmarkDate;
}

// ---- Sort keys ---------------------------------------------------------------------------

std::string FilelistBaseViewController::groupPrefix(int32_t type, int d) {
    if (d == 2) return "";
    const bool filesFirst = d == 1;
    switch (type) {
    case kTypeDownloadFolder:
    case kTypeSharedDocuments: return filesFirst ? "F" : "A";
    case kTypeLibraryDownload: return filesFirst ? "G" : "B";
    case kTypeFolder: return filesFirst ? "H" : "C";
    case kTypeShortcut: return filesFirst ? "I" : "D";
    default: return filesFirst ? "A" : "E";
    }
}

int64_t FilelistBaseViewController::dateOffset(int32_t type, int d) {
    if (d == 2) return 0;
    const bool filesFirst = d == 1;
    switch (type) {
    case kTypeDownloadFolder:
    case kTypeSharedDocuments: return filesFirst ? 1576800000 : 0;
    case kTypeLibraryDownload: return filesFirst ? 2522880000 : 0;
    case kTypeFolder: return filesFirst ? 2838240000 : 1261440000;
    case kTypeShortcut: return filesFirst ? 3153600000 : 1576800000;
    default: return filesFirst ? 0 : 3153600000;
    }
}

std::optional<FilelistBaseViewController::SortChoice> FilelistBaseViewController::readSortChoice(const std::string& path) {
    auto d = sys::PropertyList::readDictionary(path);
    if (!d) return std::nullopt;
    SortChoice c;
    // Each value counts only with its own type; a mode outside the four
    // known ones is no mode.
    const sys::PlistValue& mode = d->get("mode");
    if (mode.isInteger() && mode.integerValue() >= 0 && mode.integerValue() <= 3) c.mode = int(mode.integerValue());
    const sys::PlistValue& desc = d->get("descendingOrder");
    if (desc.isBool() || desc.isInteger()) c.descendingOrder = desc.boolValue();
    const sys::PlistValue& bm = d->get("sortModeBookmarkDate");
    if (bm.isBool() || bm.isInteger()) c.bookmarkDate = bm.boolValue();
    return c;
}

bool FilelistBaseViewController::writeSortChoice(const std::string& path, const SortChoice& c) {
    sys::PlistDictionary d{{"mode", sys::PlistValue(int64_t(c.mode))},
                           {"descendingOrder", sys::PlistValue(c.descendingOrder)},
                           {"sortModeBookmarkDate", sys::PlistValue(c.bookmarkDate)}};
    return sys::PropertyList::writeFile(sys::PlistValue(d), path);
}

// ---- Building and sorting ----------------------------------------------------------------------

void FilelistBaseViewController::updateBaseFileList() {
    updateFileListArray();
    originalItemList_ = getFileListArray();
    createItemListFromOriginalItemList();
}

void FilelistBaseViewController::needUpdateFilelist() {
    updateBaseFileList();
    dummyCellCount_ = getRequiredDummyCellCount();
    if (isViewLoaded()) tableView()->reloadData();
}

void FilelistBaseViewController::createItemListFromOriginalItemList() {
    itemList_.clear();
    keyItem_ = -1;
    if (!searchString_) {
        itemList_ = originalItemList_;
    } else {
        // A plain substring search ignoring case (no diacritic folding); both
        // sides in one normal form, since names on disk may be decomposed.
        auto fold = [](const std::string& s) { return sys::Unicode::lowercase(sys::Unicode::nfc(s)); };
        std::string needle = fold(*searchString_);
        for (const auto& item : originalItemList_) {
            if (!item || !item->filename()) continue;
            if (fold(*item->filename()).find(needle) != std::string::npos) itemList_.push_back(item);
        }
    }
    sortItemList();
}

void FilelistBaseViewController::applyDateSort(int d) {
    std::vector<int64_t> keys;
    keys.reserve(itemList_.size());
    int64_t i = 0;
    for (auto& item : itemList_) {
        double t;
        if (isDateSortModeBookmarkDate_) {
            t = item->bookmarkDate() ? item->bookmarkDate()->timeIntervalSince1970() : 0.0;
            if (t == 0.0) t = creationSeconds(*item);
        } else {
            t = creationSeconds(*item);
        }
        keys.push_back(i + static_cast<int64_t>(std::trunc(t + double(dateOffset(item->type(), d)))) * 65536);
        ++i;
    }
    ArraySort::sortIntegerArray(keys, &itemList_, nullptr, !isSortDescendingOrder_);
}

void FilelistBaseViewController::sortItemList() {
    const int d = settings_ ? settings_->directorySortMode() : 1;
    if (sortMode_ == kSortName || sortMode_ == kSortDate || sortMode_ == kSortUser) {
        std::vector<std::string> keys;
        keys.reserve(itemList_.size());
        for (const auto& item : itemList_) keys.push_back(groupPrefix(item->type(), d) + item->filename().value_or(""));
        ArraySort::sortFileListArrayNSString(keys, &itemList_);
        if (sortMode_ == kSortName && isSortDescendingOrder_) std::reverse(itemList_.begin(), itemList_.end());
    }
    if (sortMode_ == kSortDate) {
        applyDateSort(d);
    } else if (sortMode_ == kSortStatus) {
        std::vector<std::string> keys;
        keys.reserve(itemList_.size());
        for (const auto& item : itemList_) {
            const char* s = item->readingPageNo() == 0                          ? "B"
                            : item->readingPageNo() + 1 == item->numberOfPages() ? "Z"
                                                                                 : "A";
            keys.push_back(groupPrefix(item->type(), d) + s + item->filename().value_or(""));
        }
        ArraySort::sortFileListArrayNSString(keys, &itemList_);
        if (isSortDescendingOrder_) std::reverse(itemList_.begin(), itemList_.end());
    } else if (sortMode_ == kSortUser) {
        if (getFilelistMode() == 0) setUserSortOrderToItemList();
        std::vector<int64_t> keys;
        keys.reserve(itemList_.size());
        for (const auto& item : itemList_) keys.push_back(item->remoteOriginalIndexNo());
        ArraySort::sortIntegerArray(keys, &itemList_, nullptr, isSortDescendingOrder_);
    }
}

void FilelistBaseViewController::onSelectSortMode(int mode, bool isDescendingOrder, bool isDateSortModeBookmarkDate) {
    setSortState(mode, isDescendingOrder, isDateSortModeBookmarkDate);
    if (mode == kSortDate && itemList_.size() > 100) {
        ui::Window* window = ui::Application::shared().keyWindow();
        activityIndicator_ = std::make_shared<IndicatorWithBGView>();
        if (window) window->addSubview(activityIndicator_);
        activityIndicator_->setPosition();
        activityIndicator_->startAnimating();
        std::weak_ptr<ui::ViewController> weak = weak_from_this();
        sys::RunLoop::main().schedule(0.01, [weak] {
            if (auto self = std::dynamic_pointer_cast<FilelistBaseViewController>(weak.lock())) self->changeSortModeDo();
        });
    } else {
        activityIndicator_.reset();
        changeSortModeDo();
    }
}

void FilelistBaseViewController::changeSortModeDo() {
    sortItemList();
    if (isViewLoaded()) tableView()->reloadData();
    if (auto file = getSortConfigFile())
        writeSortChoice(*file, SortChoice{sortMode_, isSortDescendingOrder_, isDateSortModeBookmarkDate_});
    if (activityIndicator_) {
        activityIndicator_->stopAnimating();
        activityIndicator_->removeFromSuperview();
        activityIndicator_.reset();
    }
}

void FilelistBaseViewController::loadSortState() {
    auto file = getSortConfigFile();
    if (!file) return;
    if (auto choice = readSortChoice(*file)) {
        setSortState(choice->mode, choice->descendingOrder, choice->bookmarkDate);
        return;
    }
    // A folder without its own choice takes the one of the list it was opened from.
    auto* nav = navigationController();
    if (!nav) return;
    if (auto* below = dynamic_cast<FilelistBaseViewController*>(nav->viewControllerBelow(this)))
        setSortState(below->sortMode(), below->isSortDescendingOrder(), below->isDateSortModeBookmarkDate());
}

// ---- Presentation ----------------------------------------------------------------------------

std::string FilelistBaseViewController::bookShelfModeSettingKey() const {
    return getFilelistMode() == 0 ? kDefaultsBookshelfMode : kDefaultsBookshelfModeRemote;
}

void FilelistBaseViewController::onChangeBookShelfMode(int segment) {
    if (getFilelistMode() == 0) {
        changeBookshelfMode(segment == 1 ? 1 : 0, true);
        return;
    }
    const int previous = fileListViewMode_;
    const int mode = segment == 2 ? 1 : 0;
    isStreamingMode_ = segment != 0;
    sys::UserDefaults::standard().setBool(isStreamingMode_, kDefaultsStreamMode);
    changeBookshelfMode(mode, segment == 2 || previous == 1);
}

void FilelistBaseViewController::changeBookshelfMode(int mode, bool reloadTable) {
    fileListViewMode_ = mode;
    keyItem_ = -1;
    auto& defaults = sys::UserDefaults::standard();
    defaults.setInteger(mode, bookShelfModeSettingKey());
    defaults.synchronize();
    // The local list's choice is also the settings' own (kept with them).
    if (getFilelistMode() == 0 && settings_ && settings_->getIsBookshelfMode() != (mode == 1))
        settings_->setBookshelfMode(mode == 1);
    dummyCellCount_ = getRequiredDummyCellCount();
    if (isViewLoaded()) {
        if (reloadTable) {
            tableView()->reloadData();
        } else {
            for (ui::TableViewCell* cell : tableView()->visibleCells()) {
                if (auto* item = dynamic_cast<FilelistBaseViewItemCell*>(cell)) {
                    item->setIsStreamingMode(isStreamingMode_);
                    item->modeChangeWithAnimation();
                }
            }
        }
        setTintColor(mode == 1);
        tableView()->setBackgroundColor(mode == 1 ? ui::Color::black() : ColorDefine::background());
        loadBookshelfAppendBg();
        updateBackgroundFollowScroll();
    }
}

int FilelistBaseViewController::numberOfBooksInRow() const {
    if (fileListViewMode_ != 1) return 1;
    return std::max(1, FilelistBaseViewItembookshelfModeCell::getNumInBookshelfLine(
                           BookCommon::isLandscapeSwitchOSVersionWithViewController()));
}

namespace {
double shelfHeight() { return BookCommon::getDeviceDisplayType() == 1 ? 200.0 : 139.0; }
}  // namespace

double FilelistBaseViewController::getCellHeight() const {
    if (fileListViewMode_ == 1) return shelfHeight();
    const int style = settings_ ? settings_->bookListStyle() : 1;
    if (style == 0 || (getFilelistMode() != 0 && style == 2)) return 60.0;
    return 80.0;
}

int FilelistBaseViewController::getRequiredDummyCellCount() {
    const double height = isViewLoaded() ? view()->bounds().height() : ui::Screen::main().bounds().height();
    const int rows = static_cast<int>(itemList_.size()) / numberOfBooksInRow();
    return std::max(0, static_cast<int>(std::trunc(height / getCellHeight() + 1.0)) - rows);
}

void FilelistBaseViewController::loadBookshelfAppendBg() {
    if (bgBookshelfAppendImageViewTop_ || !isViewLoaded()) return;
    ui::TableView* tv = tableView();
    auto background = std::make_shared<ui::View>(tv->bounds());
    background->setUserInteractionEnabled(false);
    tv->setBackgroundView(background);
    // The pieces are made with a shelf's height whatever the presentation
    // now shown: made in list mode they would otherwise hold squashed shelves.
    const double cell = shelfHeight();
    bgBookshelfAppendImageViewTop_ = std::make_shared<BookshelfTopBottomAppendView>(cell, 3);
    const int bottomCells = static_cast<int>(std::trunc(BookCommon::getScreenHeight() / cell * 2 + 1));
    bgBookshelfAppendImageViewBottom_ = std::make_shared<BookshelfTopBottomAppendView>(cell, bottomCells);
    for (auto* piece : {bgBookshelfAppendImageViewTop_.get(), bgBookshelfAppendImageViewBottom_.get()}) {
        piece->setSettings(settings_);
        piece->setHidden(true);
    }
    background->addSubview(bgBookshelfAppendImageViewTop_);
    background->addSubview(bgBookshelfAppendImageViewBottom_);
}

void FilelistBaseViewController::updateBackgroundFollowScroll() {
    if (!bgBookshelfAppendImageViewTop_ || !isViewLoaded()) return;
    auto& top = *bgBookshelfAppendImageViewTop_;
    auto& bottom = *bgBookshelfAppendImageViewBottom_;
    ui::TableView* tv = tableView();
    ui::View* background = tv->backgroundView();
    if (fileListViewMode_ != 1 || !background) {
        top.setHidden(true);
        bottom.setHidden(true);
        return;
    }
    const double width = tv->bounds().width();
    // A piece is drawn with its bottom or top edge on a row's bottom edge,
    // and only while that row is on screen.
    auto rowBottom = [&](const ui::IndexPath& ip) -> std::optional<double> {
        if (!tv->cellForRowAtIndexPath(ip)) return std::nullopt;
        return tv->convertPointTo({0, tv->rectForRowAtIndexPath(ip).maxY()}, background).y;
    };
    if (auto y = rowBottom({0, 0})) {
        const double h = top.cellCount() * top.cellHeight();
        top.setFrame({0, *y - h, width, h});
        top.updateBgImage({0, 0, width, h});
        top.setHidden(false);
    } else {
        top.setHidden(true);
    }
    ui::IndexPath last{0, 0};
    if (const int fillers = tv->numberOfRowsInSection(2); fillers > 0) last = {2, fillers - 1};
    else if (const int rows = tv->numberOfRowsInSection(1); rows > 0) last = {1, rows - 1};
    if (auto y = rowBottom(last)) {
        const double h = bottom.cellCount() * bottom.cellHeight();
        bottom.setFrame({0, *y, width, h});
        bottom.updateBgImage({0, 0, width, h});
        bottom.setHidden(false);
    } else {
        bottom.setHidden(true);
    }
}

void FilelistBaseViewController::applyNewerBarLook() {
    // From system version 26 the list shows through a bar without a
    // background, whatever the presentation.
    if (sys::DeviceProfile::current().systemMajorVersion() < 26) return;
    if (auto* nav = navigationController()) {
        ui::NavigationBar* bar = nav->navigationBar();
        bar->setTransparent(true);
        bar->setShadowHidden(true);
        bar->setTranslucent(true);
        setNewerBarForeground(fileListViewMode_ == 1);
    }
    setExtendedLayoutIncludesOpaqueBars(true);
    setEdgesForExtendedLayout(ui::RectEdgeAll);
}

void FilelistBaseViewController::setNewerBarForeground(bool bookshelf) {
    // The bar without a background shows what is under it: the list, or the
    // shelf, whose wall is dark in every theme (its status bar is light too).
    // There the title and the buttons are light, as on the dark bars before;
    // elsewhere they take the label colour of the look.
    if (auto* nav = navigationController()) {
        const ui::Color foreground = bookshelf ? ui::Color::whiteColor() : ui::Color::label();
        ui::NavigationBar* bar = nav->navigationBar();
        bar->setTitleColor(foreground);
        bar->setTintColor(foreground);
    }
}

bool FilelistBaseViewController::darkBars() const {
    return fileListViewMode_ == 1 && sys::DeviceProfile::current().systemMajorVersion() < 26;
}

void FilelistBaseViewController::setTintColor(bool bookshelf) {
    // From system version 26 the bars stay transparent whatever the shelf;
    // only what is written on the navigation bar follows it.
    if (sys::DeviceProfile::current().systemMajorVersion() >= 26) {
        setNewerBarForeground(bookshelf);
        setNeedsStatusBarAppearanceUpdate();
        return;
    }
    // The shelf's bars are dark, as the default theme's bar pictures are;
    // a theme adds its bar colour and its bar pictures.
    if (auto* nav = navigationController()) {
        const ui::BarStyle style = bookshelf ? ui::BarStyle::Black : ui::BarStyle::Default;
        ui::NavigationBar* bar = nav->navigationBar();
        ui::Toolbar* toolbar = nav->toolbar();
        bar->setBarStyle(style);
        toolbar->setBarStyle(style);
        std::shared_ptr<ThemeLoader> theme = bookshelf && settings_ ? settings_->themeLoader() : nullptr;
        if (theme) {
            const auto color = theme->getBookshelfBarColor();
            nav->view()->setTintColor(color ? std::optional<ui::Color>(ui::Color(*color)) : std::nullopt);
            ui::ImageRef navImage;
            ui::ImageRef toolImage;
            if (BookCommon::getDeviceDisplayType() == 1 || BookCommon::isDeviceType5_5inch()) {
                navImage = theme->getBookshelfNavigationbarBGImage(true);
                toolImage = theme->getBookshelfTookbarBGImage(true);
            } else if (BookCommon::isDeviceTypeXR_XMax()) {
                navImage = theme->getBookshelfNavigationbarBGImage(true);
                toolImage = theme->getBookshelfTookbarBGImage(false);
            } else {
                navImage = theme->getBookshelfNavigationbarBGImage(false);
                toolImage = theme->getBookshelfTookbarBGImage(true);
            }
            bar->setBackgroundImage(navImage);
            toolbar->setBackgroundImage(toolImage);
        } else {
            nav->view()->setTintColor(std::nullopt);
            bar->setBackgroundImage(nullptr);
            toolbar->setBackgroundImage(nullptr);
        }
    }
    setNeedsStatusBarAppearanceUpdate();
}

unsigned FilelistBaseViewController::supportedInterfaceOrientations() const {
    return static_cast<unsigned>(BookCommon::supportedInterfaceOrientationsForLB());
}

ui::StatusBarStyle FilelistBaseViewController::preferredStatusBarStyle() const {
    return fileListViewMode_ == 1 ? ui::StatusBarStyle::LightContent : ui::StatusBarStyle::Default;
}

// ---- Table -------------------------------------------------------------------------------------

int FilelistBaseViewController::tableViewNumberOfRowsInSection(ui::TableView&, int section) {
    if (section == 0) return 1;
    if (section == 1) {
        const int n = numberOfBooksInRow();
        return (static_cast<int>(itemList_.size()) + n - 1) / n;
    }
    return dummyCellCount_;
}

double FilelistBaseViewController::tableViewHeightForRowAtIndexPath(ui::TableView&, const ui::IndexPath& ip) {
    return ip.section == 0 ? getHeaderHeight() : getCellHeight();
}

FilelistBaseViewHeaderCell* FilelistBaseViewController::headerCell() {
    if (!isViewLoaded()) return nullptr;
    return dynamic_cast<FilelistBaseViewHeaderCell*>(tableView()->cellForRowAtIndexPath({0, 0}));
}

std::shared_ptr<ui::TableViewCell> FilelistBaseViewController::tableViewCellForRowAtIndexPath(ui::TableView& tv,
                                                                                            const ui::IndexPath& ip) {
    const bool shelf = fileListViewMode_ == 1;
    if (ip.section == 0) {
        const std::string id = shelf ? "HDB" : "HD";
        auto cell = std::dynamic_pointer_cast<FilelistBaseViewHeaderCell>(tv.dequeueReusableCell(id));
        if (!cell) {
            cell = std::make_shared<FilelistBaseViewHeaderCell>(id);
            cell->setupCellViews(this);
        } else {
            cell->setListModeSelected();
            cell->showTitles();
        }
        // A header made again (or taken back from the pool) shows as the
        // scroll position says, not as it was when it left the screen.
        cell->setHeaderHidden(!isHeaderCellSetVisible_, false);
        cell->updateStatus();
        return cell;
    }
    if (ip.section == 2) {
        const std::string id = shelf ? "DBS" : "DFL";
        auto cell = std::dynamic_pointer_cast<FilelistBaseViewDummyCell>(tv.dequeueReusableCell(id));
        if (!cell) {
            cell = std::make_shared<FilelistBaseViewDummyCell>(id);
            cell->setupCellViews(this);
            cell->setFileListMode(fileListViewMode_);
        }
        return cell;
    }
    const std::string id = shelf ? "BS" : "FL";
    auto cell = std::dynamic_pointer_cast<FilelistBaseViewItemCell>(tv.dequeueReusableCell(id));
    if (!cell) {
        if (shelf) cell = std::make_shared<FilelistBaseViewItembookshelfModeCell>(id);
        else cell = std::make_shared<FilelistBaseViewItemListModeCell>(id);
        cell->setupCellViews(this);
    }
    fillItemCell(*cell, ip.row);
    if (shelf) showShelfHighlight(*cell);
    return cell;
}

void FilelistBaseViewController::fillItemCell(ui::TableViewCell& tableCell, int row) {
    auto& cell = static_cast<FilelistBaseViewItemCell&>(tableCell);
    const bool shelf = fileListViewMode_ == 1;
    cell.setSelectionStyle(shelf ? ui::TableViewCellSelectionStyle::None : ui::TableViewCellSelectionStyle::Blue);
    cell.setLineNo(row);
    cell.setIsEditMode(isEditMode_);
    cell.setIsSelectDownloadMode(isSelectDownloadMode());
    cell.setIsStreamingMode(isStreamingMode_);
    cell.setIsDateLabelBookmarkMode(isDateSortModeBookmarkDate_);
    const int n = numberOfBooksInRow();
    auto& slots = cell.book();
    for (int k = 0; k < n && k < static_cast<int>(slots.size()); ++k) {
        const int64_t index = int64_t(row) * n + k;
        auto& slot = slots[size_t(k)];
        if (index < static_cast<int64_t>(itemList_.size())) {
            slot.setIsInvalidItem(false);
            slot.setThumbs(nullptr);
            slot.setIsSelected((isEditMode_ || getFilelistMode() != 0) ? isSelectedWithIndexNo(index) : false);
            slot.setIsCanSelected(isCanEditItem(index));
            slot.setIsEnableDetailButton(isEnableDetailButton(index));
            slot.updateBookItem(itemList_[size_t(index)]);
        } else {
            slot.setIsInvalidItem(true);
            slot.updateBookItem(nullptr);
        }
    }
    for (size_t k = size_t(n); k < slots.size(); ++k) {
        slots[k].setIsInvalidItem(true);
        slots[k].updateBookItem(nullptr);
    }
    cell.updateCellItem(true);
}

void FilelistBaseViewController::tableViewDidSelectRowAtIndexPath(ui::TableView& tv, const ui::IndexPath& ip) {
    if (ip.section != 1 || fileListViewMode_ != 0) return;
    lastSelectIndexPath_ = ip;
    actionSheetSourceRect_ = tv.convertRectTo(tv.rectForRowAtIndexPath(ip), view());
    if (isEditMode_) {
        tv.deselectRowAtIndexPath(ip, false);
        didSelectBookInEditModeWithIndexNo(ip.row);
    } else {
        didSelectBook(ip.row, ip);
    }
}

bool FilelistBaseViewController::tableViewCanFocusRowAtIndexPath(ui::TableView&, const ui::IndexPath& ip) {
    return ip.section == 1 && fileListViewMode_ == 0 && ip.row >= 0 && size_t(ip.row) < itemList_.size();
}

std::vector<ui::KeyCommand> FilelistBaseViewController::keyCommands() const {
    if (fileListViewMode_ != 1) return {};
    auto* self = const_cast<FilelistBaseViewController*>(this);
    const int n = std::max(1, numberOfBooksInRow());
    auto move = [self](int step) { return [self, step](const ui::KeyCommand&) { self->moveShelfHighlight(step); }; };
    return {
        ui::KeyCommand::make(ui::KeyInput::leftArrow, 0, move(-1)),
        ui::KeyCommand::make(ui::KeyInput::rightArrow, 0, move(1)),
        ui::KeyCommand::make(ui::KeyInput::upArrow, 0, move(-n)),
        ui::KeyCommand::make(ui::KeyInput::downArrow, 0, move(n)),
        ui::KeyCommand::make(ui::KeyInput::returnKey, 0,
                             [self](const ui::KeyCommand&) {
                                 const int64_t index = self->keyItem_;
                                 if (index < 0 || size_t(index) >= self->itemList_.size()) return;
                                 auto* tv = self->tableView();
                                 const int per = std::max(1, self->numberOfBooksInRow());
                                 ui::View* cover = nullptr;
                                 if (auto* cell = dynamic_cast<FilelistBaseViewItembookshelfModeCell*>(
                                         tv->cellForRowAtIndexPath({1, int(index / per)})))
                                     cover = cell->button(int(index % per));
                                 ui::Point middle;
                                 if (cover) middle = {cover->bounds().width() / 2, cover->bounds().height() / 2};
                                 self->onSingleTouch(index, middle, cover);
                             }),
    };
}

void FilelistBaseViewController::moveShelfHighlight(int step) {
    auto* tv = tableView();
    const int64_t count = int64_t(itemList_.size());
    if (!tv || count == 0) return;
    const int n = std::max(1, numberOfBooksInRow());
    tv->layoutIfNeeded();
    int64_t at = keyItem_;
    if (at < 0 || at >= count) {
        // The first cover of the first shelf at least half in sight.
        const double top = tv->contentOffset().y + tv->adjustedContentInset().top;
        const int rows = tv->numberOfRowsInSection(1);
        int row = std::max(0, rows - 1);
        for (int r = 0; r < rows; ++r) {
            const ui::Rect rect = tv->rectForRowAtIndexPath({1, r});
            if (rect.y() + rect.height() / 2 >= top) {
                row = r;
                break;
            }
        }
        at = std::min<int64_t>(int64_t(row) * n, count - 1);
    } else if (at + step >= 0 && at + step < count) {
        at += step;
    } else if (step > 0 && at / n < (count - 1) / n) {
        at = count - 1;  // down to a shorter last shelf
    }
    keyItem_ = at;
    for (ui::TableViewCell* cell : tv->visibleCells()) showShelfHighlight(*cell);
    tv->scrollToRowAtIndexPath({1, int(at / n)}, ui::TableViewScrollPosition::None, false);
}

void FilelistBaseViewController::showShelfHighlight(ui::TableViewCell& tableCell) {
    auto* cell = dynamic_cast<FilelistBaseViewItembookshelfModeCell*>(&tableCell);
    if (!cell) return;
    for (int i = 0; i < FilelistBaseViewItembookshelfModeCell::kMaxNumInBookshelfLine; ++i) {
        BookshelfBookButton* cover = cell->button(i);
        cover->setKeyHighlighted(keyItem_ >= 0 && !cover->isHidden() && cover->indexNo() == keyItem_);
    }
}

void FilelistBaseViewController::onSingleTouch(int64_t index, ui::Point point, ui::View* view) {
    if (view) {
        ui::Point p = view->convertPointTo(point, this->view());
        actionSheetSourceRect_ = {p.x - 10, p.y - 10, 20, 20};
    }
    if (isEditMode_) didSelectBookInEditModeWithIndexNo(index);
    else didSelectBook(index, std::nullopt);
}

bool FilelistBaseViewController::tableViewCanEditRowAtIndexPath(ui::TableView&, const ui::IndexPath& ip) {
    if (getFilelistMode() != 0 || fileListViewMode_ != 0 || ip.section != 1) return false;
    if (ip.row < 0 || ip.row >= static_cast<int>(itemList_.size())) return false;
    const int32_t type = itemList_[size_t(ip.row)]->type();
    return type != kTypeDownloadFolder && type != kTypeSharedDocuments;
}

void FilelistBaseViewController::didSelectBook(int64_t index, const std::optional<ui::IndexPath>& indexPath) {
    (void)index;
    if (!indexPath) lastSelectIndexPath_.reset();
}

void FilelistBaseViewController::onRefresh() {
    if (auto* rc = refreshControl()) {
        rc->beginRefreshing();
        rc->endRefreshing();
    }
}

void FilelistBaseViewController::onRotateView(bool landscape) {
    (void)landscape;
    if (!isViewLoaded()) return;
    // Filler rows down to the new bottom.
    dummyCellCount_ = getRequiredDummyCellCount();
    tableView()->reloadData();
}

void FilelistBaseViewController::scrollViewDidScroll(ui::ScrollView& sv) {
    if (&sv == tableView()) updateBackgroundFollowScroll();
    auto* tv = dynamic_cast<ui::TableView*>(&sv);
    if (!tv || tv->numberOfSections() < 1) return;
    const double y = sv.contentOffset().y;
    double d = 0;
    if (y <= 500) {
        const ui::Rect row = tv->rectForRowAtIndexPath({0, 0});
        if (auto* nav = navigationController()) {
            ui::View* navView = nav->view();
            ui::Point bottom = tv->convertPointTo({0, row.maxY()}, navView);
            ui::Rect bar = nav->navigationBar()->convertRectTo(nav->navigationBar()->bounds(), navView);
            d = bottom.y - bar.maxY();
        } else {
            ui::View* parent = tv->superview() ? tv->superview() : tv;
            d = tv->convertPointTo({0, row.maxY()}, parent).y - tv->safeAreaInsets().top;
        }
    }
    const bool visible = y < d;
    if (visible != isHeaderCellSetVisible_) {
        if (auto* header = headerCell()) header->setHeaderHidden(!visible, true);
    }
    isHeaderCellSetVisible_ = visible;
}

// ---- Search -------------------------------------------------------------------------------------

void FilelistBaseViewController::searchBarTextDidBeginEditing(ui::SearchBar& bar) {
    searchBarTemp_ = &bar;
    if (bar.text().empty()) setupSearchMaskView();
}

void FilelistBaseViewController::setupSearchMaskView() {
    if (!isViewLoaded()) return;
    if (!searchMaskView_) {
        searchMaskView_ = std::make_shared<ui::Button>(ui::ButtonType::Custom);
        searchMaskView_->setBackgroundColor(ui::Color::black().withAlpha(0.5));
        std::weak_ptr<ui::ViewController> weak = weak_from_this();
        searchMaskView_->addAction(ui::ControlEventTouchDown, [weak](ui::Control&) {
            if (auto self = std::dynamic_pointer_cast<FilelistBaseViewController>(weak.lock())) self->tapSearchMaskView();
        });
        view()->addSubview(searchMaskView_);
    } else {
        searchMaskView_->setHidden(false);
        view()->bringSubviewToFront(searchMaskView_.get());
    }
    const double count = std::max<double>(50, double(originalItemList_.size()));
    searchMaskView_->setFrame({0, getHeaderHeight(), BookCommon::getScreenHeight(), getCellHeight() * count});
}

void FilelistBaseViewController::searchBarTextDidChange(ui::SearchBar&, const std::string& text) { onSetSearchString(text); }

void FilelistBaseViewController::onSetSearchString(const std::string& text) {
    if (!text.empty()) {
        if (searchMaskView_) searchMaskView_->setHidden(true);
        searchString_ = text;
    } else {
        setupSearchMaskView();
        searchString_.reset();
    }
    createItemListFromOriginalItemList();
    dummyCellCount_ = getRequiredDummyCellCount();
    // Only the rows: the header keeps its search bar (and the keyboard).
    if (isViewLoaded()) tableView()->reloadSections({1, 2}, ui::TableViewRowAnimation::None);
}

void FilelistBaseViewController::searchBarSearchButtonClicked(ui::SearchBar& bar) {
    bar.resignFirstResponder();
    if (searchMaskView_) searchMaskView_->setHidden(true);
}

// Cancel (and Escape in the field) leaves the search: the field emptied and
// let go, the whole list shown again.
void FilelistBaseViewController::searchBarCancelButtonClicked(ui::SearchBar& bar) {
    searchBarTemp_ = &bar;
    endSearch();
}

void FilelistBaseViewController::tapSearchMaskView() {
    if (searchMaskView_) searchMaskView_->setHidden(true);
    searchString_.reset();
    if (searchBarTemp_) searchBarTemp_->resignFirstResponder();
}

void FilelistBaseViewController::endSearch() {
    if (searchBarTemp_) {
        searchBarTemp_->setText("");
        searchBarTemp_->resignFirstResponder();
    }
    // After the field: emptying it asks for the mask again.
    if (searchMaskView_) searchMaskView_->setHidden(true);
    if (!searchString_) return;
    searchString_.reset();
    createItemListFromOriginalItemList();
    dummyCellCount_ = getRequiredDummyCellCount();
    if (isViewLoaded()) tableView()->reloadSections({1, 2}, ui::TableViewRowAnimation::None);
}

// ---- Thumbnails ------------------------------------------------------------------------------

void FilelistBaseViewController::reCreateThumbs() {
    auto alert = std::make_shared<QNAlertView>(
        "", BookCommon::localizedStringWithOnOff("Do you want to regenerate thumbnails?"),
        std::weak_ptr<QNAlertViewDelegate>(std::dynamic_pointer_cast<FilelistBaseViewController>(shared_from_this())),
        std::nullopt,
        std::vector<std::string>{BookCommon::localizedStringWithOnOff("Yes"),
                                 BookCommon::localizedStringWithOnOff("Cancel")});
    alert->setCancelButtonIndex(1);
    alert->setUserTag(1);
    alert->show(this);
}

void FilelistBaseViewController::alertViewClickedButtonAtIndex(QNAlertView& alert, int64_t buttonIndex) {
    if (alert.userTag() == 1 && buttonIndex != alert.cancelButtonIndex()) reloadThumbs(false);
}

void FilelistBaseViewController::reloadThumbs(bool keepExisting) {
    stopThumbsRun();
    for (const auto& item : itemList_) {
        const int32_t type = item->type();
        if (type == kTypeDownloadFolder || type == kTypeSharedDocuments) continue;
        std::optional<std::string> full = item->location() == FilelistItem::kLocal
                                              ? BookCommon::fromBooksToFromRoot(item->pathFromBooks())
                                              : item->remoteURL();
        if (!full) continue;
        if (type == kTypeFolder || type == kTypeLibraryDownload) {
            if (!keepExisting)
                if (auto thumb = BookCommon::getThumbsFilenameForFolder(*full, false))
                    sys::FileManager::removeItem(*thumb);
            continue;
        }
        if (!keepExisting) {
            std::string thumb = BookCommon::getThumbsFilename(*full, false);
            if (!thumb.empty()) sys::FileManager::removeItem(thumb);
        }
        const std::string marker = ThumbsCreate::markerPathForItem(*item, false);
        if (!marker.empty()) sys::FileManager::removeItem(marker);
    }
    if (isViewLoaded()) tableView()->reloadData();
    thumbsCreateStart(true);
}

void FilelistBaseViewController::stopThumbsRun() {
    thumbsCreateStartCancel_ = true;
    if (thumbsThread_.joinable() && !thumbsThread_.isCurrent()) thumbsThread_.join();
}

void FilelistBaseViewController::thumbsCreateStart(bool manual) {
    // The run walks a copy, taken here on the main thread; marks for a
    // manual reload are set here too, so the worker only reads the items.
    ItemList copy = itemList_;
    if (manual)
        for (auto& item : copy) item->setRemoteThumbsManualReload(true);
    const int style = settings_ ? settings_->bookListStyle() : 1;
    const bool noThumbs = style == 0 || (getFilelistMode() != 0 && style == 2);
    {
        std::lock_guard<std::mutex> lock(thumbsLock_);
        if (thumbsCreateStartRunning_) return;
        if (thumbsThread_.joinable()) thumbsThread_.join();  // a finished run
        thumbsCreateStartCancel_ = false;
        if (noThumbs) return;
        thumbsCreateStartRunning_ = true;
    }
    thumbsThread_ = sys::Thread(
        [this, copy = std::move(copy)](const std::atomic<bool>& stop) {
            // Taken here and let go at the end: the finished run keeps no maker alive.
            auto generator = ThumbsCreate::thumbsCreate();
            for (const auto& item : copy) {
                if (stop.load() || thumbsCreateStartCancel_.load()) break;
                generator->addQue(item);
            }
            thumbsCreateStartRunning_ = false;
        },
        "thumbs-queue");
}

void FilelistBaseViewController::thumbsReLoad() {
    if (!isViewLoaded()) return;
    for (ui::TableViewCell* cell : tableView()->visibleCells()) {
        auto* row = dynamic_cast<FilelistBaseViewItemListModeCell*>(cell);
        if (row && !row->loadThumbs()) row->updateCellItem(true);
        // Covers made while the screen came in were told to nobody: the
        // shelf takes them up now.
        if (auto* shelf = dynamic_cast<FilelistBaseViewItembookshelfModeCell*>(cell)) shelf->updateCellThumbs(true);
    }
}

void FilelistBaseViewController::updateItem(const std::shared_ptr<ThumbsCreateImageObject>& entry) {
    (void)entry;
    if (!isViewLoaded()) return;
    for (ui::TableViewCell* cell : tableView()->visibleCells()) {
        auto ip = tableView()->indexPathForCell(*cell);
        if (!ip || ip->section != 1) continue;
        if (auto* row = dynamic_cast<FilelistBaseViewItemCell*>(cell)) row->updateCellThumbs(false);
    }
}

void FilelistBaseViewController::finishReadBook() {
    if (isViewLoaded()) tableView()->reloadData();
}

// ---- Cloud key-value changes -------------------------------------------------------------------

void FilelistBaseViewController::registerCloudChanges(bool on) {
    auto& center = sys::NotificationCenter::defaultCenter();
    if (!on) {
        if (cloudToken_) center.removeObserver(*cloudToken_);
        cloudToken_.reset();
        return;
    }
    if (cloudToken_) return;
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    cloudToken_ = center.addObserver(sys::CloudKeyValueStore::kDidChangeExternallyNotification,
                                     [weak](const sys::Notification& n) {
                                         std::vector<std::string> keys;
                                         auto it = n.userInfo.find(sys::CloudKeyValueStore::kChangedKeysKey);
                                         if (it != n.userInfo.end())
                                             if (auto* k = std::any_cast<std::vector<std::string>>(&it->second)) keys = *k;
                                         sys::RunLoop::main().post([weak, keys] {
                                             auto self = std::dynamic_pointer_cast<FilelistBaseViewController>(weak.lock());
                                             if (!self) return;
                                             // A remote row keeps no key: it is its address's.
                                             auto keyOf = [](const FilelistItem& item) {
                                                 if (item.nameHash() || !item.remoteURL()) return item.nameHash();
                                                 return iCloudKeyValueStoreCommon::getKeyWithFilepath(*item.remoteURL());
                                             };
                                             for (const auto& item : self->itemList_) {
                                                 const auto own = keyOf(*item);
                                                 if (own && std::find(keys.begin(), keys.end(), *own) != keys.end()) {
                                                     if (!self->tableView()->isEditing()) self->needUpdateFilelist();
                                                     return;
                                                 }
                                             }
                                         });
                                     });
    if (auto store = sys::CloudKeyValueStore::defaultStore()) store->synchronize();
}

// ---- Tool-bar actions ---------------------------------------------------------------------------

void FilelistBaseViewController::onAboutBtn() {
    if (!navigationController()) return;
    nextIsNotFileSelectView_ = true;
    BookCommon::pushAboutViewController(*this);
}

void FilelistBaseViewController::onStatisticsBtn() {
    if (!navigationController()) return;
    nextIsNotFileSelectView_ = true;
    BookCommon::pushStatisticsInformationViewController(*this);
}

void FilelistBaseViewController::onGoHomeBtn() {
    if (auto* nav = navigationController()) nav->popToRootViewController(true);
}

void FilelistBaseViewController::onHistoryBtn() {
    auto services = LibraryServices::installed();
    if (!services) return;
    auto local = std::dynamic_pointer_cast<LocalFilelistViewController>(shared_from_this());
    auto screen = services->makeHistoryViewController(local);
    if (screen) BookCommon::lbCommonPresentViewController(*this, screen, true);
}

void FilelistBaseViewController::onMediaServerBtn() {
    auto services = LibraryServices::installed();
    if (!services) return;
    auto screen = services->makeMediaServerViewController(settings_);
    if (!screen || !navigationController()) return;
    nextIsNotFileSelectView_ = true;
    navigationController()->pushViewController(screen, true);
    // What the settings change (the list style, the home folder) shows in
    // every list once the user is back.
    LocalFilelistViewController::setNeedUpdateFlag(navigationController());
}

void FilelistBaseViewController::onSettingsBtn() {
    auto services = LibraryServices::installed();
    if (!services) return;
    auto screen = services->makeSettingViewController(settings_, 0);
    if (!screen || !navigationController()) return;
    nextIsNotFileSelectView_ = true;
    navigationController()->pushViewController(screen, true);
    // What the settings change (the list style, the home folder) shows in
    // every list once the user is back.
    LocalFilelistViewController::setNeedUpdateFlag(navigationController());
}

void FilelistBaseViewController::startUpLeafbright() {
    if (isEndStartupFunction_) return;
    isEndStartupFunction_ = true;
    const std::string temp = BookCommon::getBooksTempRoot();
    sys::FileManager::removeItem(sys::Path::stringByAppendingPathComponent(temp, "download_temp.zip"));
    sys::FileManager::removeItem(sys::Path::stringByAppendingPathComponent(temp, "sync_temp.bin"));
    if (auto services = LibraryServices::installed()) services->setBookTransfer(services->makeBookTransfer(settings_));
}

// ---- Screen life cycle -------------------------------------------------------------------------

void FilelistBaseViewController::viewDidLoad() {
    ui::TableViewController::viewDidLoad();
    setEdgesForExtendedLayout(ui::RectEdgeNone);
    tableView()->setSeparatorStyle(ui::TableViewSeparatorStyle::None);
    ActiveLog::writeCheckpoint("FileSelectView viewDidLoad");
    const ui::Rect app = BookCommon::getWindowRect();
    actionSheetSourceRect_ = {0, std::trunc(app.height() / 3), app.width(), 10};
    if (isRootViewController_) startUpLeafbright();
    auto refresh = std::make_shared<ui::RefreshControl>();
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    refresh->addAction(ui::ControlEventValueChanged, [weak](ui::Control&) {
        if (auto self = std::dynamic_pointer_cast<FilelistBaseViewController>(weak.lock())) self->onRefresh();
    });
    setRefreshControl(refresh);
    const sys::PlistValue stored = sys::UserDefaults::standard().objectForKey(bookShelfModeSettingKey());
    fileListViewMode_ = stored.isNumber() && stored.integerValue() == 1 ? 1 : 0;
    loadSortState();
    applyNewerBarLook();
    loadBookshelfAppendBg();
}

void FilelistBaseViewController::viewWillAppear(bool animated) {
    ui::TableViewController::viewWillAppear(animated);
    // The bar is shared with the screens pushed over this one; take the look back.
    applyNewerBarLook();
    checkLastReadingMark();
    updateFileInfo();
    if (viewWillAppearFirstDone_) sortItemList();
    viewWillAppearFirstDone_ = true;
    setBookListcontentInset();
    dummyCellCount_ = getRequiredDummyCellCount();
    tableView()->reloadData();
    if (navigationDirectionIsPush_) {
        // The header starts tucked under the bar; pulling the list down shows it.
        tableView()->layoutIfNeeded();
        const double minY = tableView()->minimumContentOffset().y;
        const double maxY = std::max(minY, tableView()->maximumContentOffset().y);
        tableView()->setContentOffset({0, std::min(maxY, minY + getHeaderHeight())}, false);
    }
    // Whatever the offset came to, the header follows it from the start.
    scrollViewDidScroll(*tableView());
    setTintColor(fileListViewMode_ == 1);
    auto& defaults = sys::UserDefaults::standard();
    const sys::PlistValue storedMode = defaults.objectForKey(bookShelfModeSettingKey());
    const int mode = storedMode.isNumber() && storedMode.integerValue() == 1 ? 1 : 0;
    const bool streaming = defaults.boolForKey(kDefaultsStreamMode);
    if (mode != fileListViewMode_ || (getFilelistMode() != 0 && streaming != isStreamingMode_)) {
        isStreamingMode_ = streaming;
        changeBookshelfMode(mode, true);
    }
    tableView()->setBackgroundColor(fileListViewMode_ == 1 ? ui::Color::black() : ColorDefine::background());
    if (getFilelistMode() != 0) isStreamingMode_ = streaming;
}

void FilelistBaseViewController::viewDidAppear(bool animated) {
    ui::TableViewController::viewDidAppear(animated);
    auto generator = ThumbsCreate::thumbsCreate();
    generator->setDelegate(std::weak_ptr<ThumbsCreateDelegate>(
        std::dynamic_pointer_cast<FilelistBaseViewController>(shared_from_this())));
    generator->suspendTask(false);
    thumbsCreateStart(false);
    if (thumbsReloadTimer_) thumbsReloadTimer_->invalidate();
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    thumbsReloadTimer_ = sys::RunLoop::main().schedule(0.5, [weak] {
        if (auto self = std::dynamic_pointer_cast<FilelistBaseViewController>(weak.lock())) self->thumbsReLoad();
    });
    registerCloudChanges(settings_ && settings_->iCloudEnable());
    navigationDirectionIsPush_ = false;
}

void FilelistBaseViewController::viewWillDisappear(bool animated) {
    ui::TableViewController::viewWillDisappear(animated);
    auto generator = ThumbsCreate::thumbsCreate();
    generator->setDelegate({});
    generator->cancelAllTask();
    if (nextIsNotFileSelectView_) setTintColor(false);
    nextIsNotFileSelectView_ = false;
    registerCloudChanges(false);
    // The queueing run never outlives the screen's time on screen.
    stopThumbsRun();
}

void FilelistBaseViewController::viewDidLayoutSubviews() {
    ui::TableViewController::viewDidLayoutSubviews();
    updateBackgroundFollowScroll();
}

void FilelistBaseViewController::viewWillTransitionToSize(ui::Size size,
                                                          const std::shared_ptr<ui::TransitionCoordinator>& c) {
    ui::TableViewController::viewWillTransitionToSize(size, c);
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    auto alongside = [weak, size](const ui::TransitionCoordinatorContext&) {
        auto self = std::dynamic_pointer_cast<FilelistBaseViewController>(weak.lock());
        if (!self) return;
        BookCommon::viewWillTransitionToSize(size);
        self->onRotateView(size.width > size.height);
        self->actionSheetSourceRect_ = {0, std::trunc(size.height / 3), size.width, 10};
    };
    if (!c || !c->animateAlongsideTransition(alongside)) alongside({});
}
