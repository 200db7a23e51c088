// Edit mode of the local list: selecting, moving, deleting, new folders,
// renames from the detail screens and drag reordering in the bookshelf.
#include "library/LocalFilelistViewController.h"

#include "foundation/BookCommon.h"
#include "foundation/Settings.h"
#include "foundation/ui/ColorDefine.h"
#include "foundation/ui/IndicatorWithBGView.h"
#include "foundation/ui/QNAlertView.h"
#include "library/BookshelfBookButton.h"
#include "library/BookshelfDragCover.h"
#include "library/FileConfigViewController.h"
#include "library/FilelistBaseViewItemCell.h"
#include "library/FilelistBaseViewItembookshelfModeCell.h"
#include "library/FolderDetailViewControllerEx.h"
#include "library/FolderSelectViewController.h"
#include "library/LBlibraryDeleteViewController.h"
#include "platform/core/DeviceProfile.h"
#include "platform/core/FileManager.h"
#include "platform/core/Path.h"
#include "platform/core/PropertyList.h"
#include "platform/core/RunLoop.h"
#include "platform/ui/Application.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/NavigationItem.h"
#include "platform/ui/Window.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>

namespace {

using sys::Path;

constexpr int64_t kTagMovePicker = 1;
constexpr int64_t kTagDeleteQuestion = 2;

std::string tr(const char* key) { return BookCommon::localizedStringWithOnOff(key); }

std::string join(const std::string& a, const std::string& b) { return Path::stringByAppendingPathComponent(a, b); }

// Tool-bar pictures take the bar's tint, as the library's other bar buttons do.
std::shared_ptr<const ui::Image> barImage(const char* name) {
    auto image = BookCommon::imageNamed(name);
    return image ? image->withRenderingMode(ui::ImageRenderingMode::AlwaysTemplate) : image;
}

// The entry's name on disk (a locked folder's shown name lacks ".lock_").
std::string diskName(const FilelistItem& item) { return Path::lastPathComponent(item.pathFromBooks().value_or("")); }

void showMessage(const std::string& title, const std::string& message) {
    auto alert = std::make_shared<QNAlertView>(title, message, std::weak_ptr<QNAlertViewDelegate>(), tr("OK"),
                                               std::vector<std::string>{});
    alert->show();
}

// Whether the path is a thing of the kind its entry claims: a real folder
// for folder entries, a regular file for the others (never a link).
bool isOfKind(const std::string& path, bool folder) {
    struct stat st{};
    if (::lstat(path.c_str(), &st) != 0) return false;
    return folder ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode);
}

// Deletes an entry's file in `folder` with its side files. A link put in
// the entry's place is removed itself, never what it points to; anything
// else of another kind than the entry claims is left alone.
bool deleteEntry(const std::string& folder, const FilelistItem& item) {
    const std::string name = diskName(item);
    if (name.empty()) return false;
    const std::string path = join(folder, name);
    struct stat st{};
    const bool isLink = ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
    if (!isLink && !isOfKind(path, item.type() == FilelistBaseViewController::kTypeFolder)) return false;
    return BookCommon::deleteBook(path);
}

}  // namespace

// ---- Selection ----------------------------------------------------------------------------------

bool LocalFilelistViewController::canSelectForEdit(int32_t type) {
    return type != kTypeLibraryDownload && type != kTypeDownloadFolder && type != kTypeSharedDocuments;
}

bool LocalFilelistViewController::isCanEditItem(int64_t index) {
    if (index < 0 || index >= static_cast<int64_t>(itemList().size())) return false;
    return canSelectForEdit(itemList()[size_t(index)]->type());
}

bool LocalFilelistViewController::isSelectedWithIndexNo(int64_t index) {
    if (!isEditMode() || index < 0 || index >= static_cast<int64_t>(itemList().size())) return false;
    return selectedPaths_.count(itemList()[size_t(index)]->pathFromBooks().value_or("")) != 0;
}

void LocalFilelistViewController::didSelectBookInEditModeWithIndexNo(int64_t index) {
    if (!isEditMode() || !isCanEditItem(index)) return;
    const std::string key = itemList()[size_t(index)]->pathFromBooks().value_or("");
    if (!selectedPaths_.erase(key)) selectedPaths_.insert(key);
    fileSelectedCount_ = int64_t(selectedPaths_.size());
    if (editMoveItemBtn_) editMoveItemBtn_->setEnabled(fileSelectedCount_ > 0);
    if (editDeleteItemBtn_) editDeleteItemBtn_->setEnabled(fileSelectedCount_ > 0);
    if (isViewLoaded()) tableView()->reloadData();
}

void LocalFilelistViewController::onSelectAllBtn() {
    if (isDragging() || !isEditMode()) return;
    bool allSelected = true;
    for (int64_t i = 0; i < static_cast<int64_t>(itemList().size()); ++i)
        if (isCanEditItem(i) && !isSelectedWithIndexNo(i)) allSelected = false;
    selectedPaths_.clear();
    if (!allSelected)
        for (int64_t i = 0; i < static_cast<int64_t>(itemList().size()); ++i)
            if (isCanEditItem(i)) selectedPaths_.insert(itemList()[size_t(i)]->pathFromBooks().value_or(""));
    fileSelectedCount_ = int64_t(selectedPaths_.size());
    if (editMoveItemBtn_) editMoveItemBtn_->setEnabled(fileSelectedCount_ > 0);
    if (editDeleteItemBtn_) editDeleteItemBtn_->setEnabled(fileSelectedCount_ > 0);
    if (isViewLoaded()) tableView()->reloadData();
}

// ---- Entering and leaving -----------------------------------------------------------------------

void LocalFilelistViewController::onChangeEditMode() {
    if (!isViewLoaded()) return;
    for (ui::TableViewCell* c : tableView()->visibleCells()) {
        auto* cell = dynamic_cast<FilelistBaseViewItemCell*>(c);
        if (!cell) continue;
        cell->setIsEditMode(isEditMode());
        for (auto& slot : cell->book()) slot.setIsSelected(false);
        cell->modeChangeWithAnimation();
    }
    tableView()->reloadData();
}

void LocalFilelistViewController::onEditBtn() {
    if (isEditMode()) return;
    setIsEditMode(true);
    removeInitialHelpView();
    selectedPaths_.clear();
    fileSelectedCount_ = 0;
    onChangeEditMode();
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    auto call = [weak](auto fn) {
        return [weak, fn](ui::BarButtonItem&) {
            if (auto self = std::dynamic_pointer_cast<LocalFilelistViewController>(weak.lock())) ((*self).*fn)();
        };
    };
    navigationItem()->setRightBarButtonItem(
        ui::BarButtonItem::withTitle(tr("Done"), ui::BarButtonItemStyle::Plain, call(&LocalFilelistViewController::onEditDone)));
    editMoveItemBtn_ =
        ui::BarButtonItem::withTitle(tr("Move"), ui::BarButtonItemStyle::Plain, call(&LocalFilelistViewController::onMoveFiles));
    editDeleteItemBtn_ = ui::BarButtonItem::withTitle(tr("Delete"), ui::BarButtonItemStyle::Plain,
                                                      call(&LocalFilelistViewController::onDeleteFiles));
    editMoveItemBtn_->setWidth(70);
    editDeleteItemBtn_->setWidth(70);
    editMoveItemBtn_->setEnabled(false);
    editDeleteItemBtn_->setEnabled(false);
    if (sys::DeviceProfile::current().systemMajorVersion() >= 26) {
        editDeleteItemBtn_->setStyle(ui::BarButtonItemStyle::Done);
        editDeleteItemBtn_->setTintColor(ColorDefine::redTextColor());
    }
    auto newFolder = [weak](ui::BarButtonItem&) {
        if (auto self = std::dynamic_pointer_cast<LocalFilelistViewController>(weak.lock())) self->addNewFolder();
    };
    setToolbarItems({ui::BarButtonItem::withImage(barImage("toolbar_newfolder"),
                                                  ui::BarButtonItemStyle::Plain, newFolder),
                     editMoveItemBtn_, editDeleteItemBtn_,
                     ui::BarButtonItem::withImage(barImage("allselectbtn"), ui::BarButtonItemStyle::Plain,
                                                  call(&LocalFilelistViewController::onSelectAllBtn)),
                     ui::BarButtonItem::flexibleSpace()},
                    true);
    if (auto* nav = navigationController()) nav->setToolbarHidden(false, true);
}

void LocalFilelistViewController::onEditDone() {
    if (!isEditMode()) return;
    if (isDragging()) endDrag(true);
    setIsEditMode(false);
    onChangeEditMode();
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    navigationItem()->setRightBarButtonItem(
        ui::BarButtonItem::withTitle(tr("Edit"), ui::BarButtonItemStyle::Plain, [weak](ui::BarButtonItem&) {
            if (auto self = std::dynamic_pointer_cast<LocalFilelistViewController>(weak.lock())) self->onEditBtn();
        }));
    editMoveItemBtn_.reset();
    editDeleteItemBtn_.reset();
    showToolBar();
    selectedPaths_.clear();
    fileSelectedCount_ = 0;
}

// ---- Moving -------------------------------------------------------------------------------------

void LocalFilelistViewController::onMoveFiles() {
    if (isDragging()) return;
    if (fileSelectedCount_ == 0) {
        onEditDone();
        return;
    }
    auto* nav = navigationController();
    if (!nav) return;
    auto picker = std::make_shared<FolderSelectViewController>(ui::TableViewStyle::Plain);
    picker->setDelegate(std::static_pointer_cast<FolderSelectViewControllerDelegate>(selfRef()));
    picker->setUserTag(kTagMovePicker);
    picker->setIsRoot_(true);
    picker->setSettings_(settings());
    picker->setSelectFolderText_(tr("Move to this folder"));
    const std::string here = folderPath();
    if (BookCommon::isLeafbrightLibraryDownloadDirectory(here)) {
        // Moves out of the library site's folder would lose what it tracks.
        std::string base = here;
        while (!base.empty() && base != "/" && Path::lastPathComponent(base) != ".BookLibrary")
            base = Path::stringByDeletingLastPathComponent(base);
        if (Path::lastPathComponent(base) == ".BookLibrary") picker->setBasePath_(base);
    }
    nav->pushViewController(picker, true);
}

bool LocalFilelistViewController::isSameOrInsideFolder(const std::string& folder, const std::string& destination) {
    auto clean = [](std::string p) {
        while (p.size() > 1 && p.back() == '/') p.pop_back();
        return p;
    };
    const std::string a = clean(folder);
    const std::string b = clean(destination);
    if (b == a || (b.size() > a.size() && b.compare(0, a.size(), a) == 0 && b[a.size()] == '/')) return true;
    // The same question after links, for a destination reached through one.
    char* ra = ::realpath(a.c_str(), nullptr);
    char* rb = ::realpath(b.c_str(), nullptr);
    bool inside = false;
    if (ra && rb) {
        const std::string x(ra), y(rb);
        inside = y == x || (y.size() > x.size() && y.compare(0, x.size(), x) == 0 && (x == "/" || y[x.size()] == '/'));
    }
    std::free(ra);
    std::free(rb);
    return inside;
}

int LocalFilelistViewController::moveSelectedTo(const std::string& folder) {
    int failed = 0;
    const std::string here = folderPath();
    ItemList chosen;
    for (const auto& item : itemList())
        if (selectedPaths_.count(item->pathFromBooks().value_or(""))) chosen.push_back(item);
    for (auto it = chosen.rbegin(); it != chosen.rend(); ++it) {
        const std::string name = diskName(**it);
        if (name.empty()) {
            ++failed;
            continue;
        }
        const std::string from = join(here, name);
        if ((*it)->type() == kTypeFolder && isSameOrInsideFolder(from, folder)) {
            ++failed;
            continue;
        }
        // moveBook refuses to replace: a book of the same name stays where it is.
        if (!BookCommon::moveBook(from, join(folder, name))) {
            ++failed;
            continue;
        }
        selectedPaths_.erase((*it)->pathFromBooks().value_or(""));
        needUpdateFilelist();
    }
    return failed;
}

void LocalFilelistViewController::finishSelectFolder(FolderSelectViewController& picker,
                                                     const std::optional<std::string>& folder) {
    if (picker.userTag() != kTagMovePicker) return;
    auto keep = selfRef();
    auto* nav = navigationController();
    if (!folder || *folder == folderPath()) {
        if (nav) nav->popToViewController(keep.get(), true);
        return;
    }
    const int failed = moveSelectedTo(*folder);
    if (failed > 0) showMessage(tr("Error"), tr("Cannot move some files."));
    onEditDone();
    if (auto thumbs = BookCommon::getThumbsFilenameForFolder(folderPath(), false)) sys::FileManager::removeItem(*thumbs);
    setNeedUpdateFlag(nav);
    if (nav) nav->popToViewController(keep.get(), true);
}

// ---- Deleting -----------------------------------------------------------------------------------

void LocalFilelistViewController::onDeleteFiles() {
    if (isDragging()) return;
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    struct Answer : QNAlertViewDelegate {
        std::weak_ptr<ui::ViewController> list;
        void alertViewClickedButtonAtIndex(QNAlertView& alert, int64_t index) override {
            if (alert.userTag() != kTagDeleteQuestion || index == alert.cancelButtonIndex()) return;
            auto self = std::dynamic_pointer_cast<LocalFilelistViewController>(list.lock());
            if (!self) return;
            auto indicator = std::make_shared<IndicatorWithBGView>();
            if (ui::Window* window = ui::Application::shared().keyWindow()) {
                window->addSubview(indicator);
                indicator->setPosition();
                indicator->startAnimating();
            }
            std::weak_ptr<ui::ViewController> weak = self;
            sys::RunLoop::main().schedule(0, [weak, indicator] {
                indicator->removeFromSuperview();
                if (auto s = std::dynamic_pointer_cast<LocalFilelistViewController>(weak.lock())) s->deleteFilesDo();
            });
        }
    };
    auto answer = std::make_shared<Answer>();
    answer->list = weak;
    auto alert = std::make_shared<QNAlertView>("", tr("Are you sure you want to delete this file?"), answer, tr("Cancel"),
                                               std::vector<std::string>{tr("Delete")});
    alert->setUserTag(kTagDeleteQuestion);
    alert->setUserInfo(std::shared_ptr<QNAlertViewDelegate>(answer));  // lives as long as the question
    alert->show();
}

void LocalFilelistViewController::deleteFilesDo() {
    if (fileSelectedCount_ == 0) {
        onEditDone();
        return;
    }
    const std::string here = folderPath();
    auto& shown = mutableItemList();
    auto& original = mutableOriginalItemList();
    for (int64_t i = static_cast<int64_t>(shown.size()) - 1; i >= 0; --i) {
        ItemRef item = shown[size_t(i)];
        const std::string key = item->pathFromBooks().value_or("");
        if (!selectedPaths_.count(key) || !canSelectForEdit(item->type())) continue;
        if (!deleteEntry(here, *item)) continue;
        selectedPaths_.erase(key);
        // By path: a locked ".lock_X" and a plain "X" share a shown name.
        original.erase(std::remove_if(original.begin(), original.end(),
                                      [&](const ItemRef& o) { return o->pathFromBooks().value_or("") == key; }),
                       original.end());
        shown.erase(shown.begin() + i);
    }
    if (auto thumbs = BookCommon::getThumbsFilenameForFolder(here, false)) sys::FileManager::removeItem(*thumbs);
    if (isViewLoaded()) tableView()->reloadData();
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    sys::RunLoop::main().schedule(0, [weak] {
        if (auto self = std::dynamic_pointer_cast<LocalFilelistViewController>(weak.lock())) self->onEditDone();
    });
}

bool LocalFilelistViewController::tableViewCommitsEditingStyle(ui::TableView&) { return true; }

void LocalFilelistViewController::tableViewCommitEditingStyle(ui::TableView& tv, ui::TableViewCellEditingStyle style,
                                                              const ui::IndexPath& ip) {
    if (style != ui::TableViewCellEditingStyle::Delete || ip.section != 1) return;
    auto& shown = mutableItemList();
    if (ip.row < 0 || ip.row >= static_cast<int>(shown.size())) return;
    ItemRef item = shown[size_t(ip.row)];
    if (!canSelectForEdit(item->type())) return;
    if (!deleteEntry(folderPath(), *item)) return;
    const std::string key = item->pathFromBooks().value_or("");
    auto& original = mutableOriginalItemList();
    original.erase(std::remove_if(original.begin(), original.end(),
                                  [&](const ItemRef& o) { return o->pathFromBooks().value_or("") == key; }),
                   original.end());
    shown.erase(shown.begin() + ip.row);
    tv.beginUpdates();
    tv.deleteRowsAtIndexPaths({ip}, ui::TableViewRowAnimation::Fade);
    tv.endUpdates();
    if (auto thumbs = BookCommon::getThumbsFilenameForFolder(folderPath(), false)) sys::FileManager::removeItem(*thumbs);
}

// ---- New folders and the user order -------------------------------------------------------------

std::string LocalFilelistViewController::freeFolderName(const std::string& folder, const std::string& base) {
    auto taken = [&](const std::string& name) {
        struct stat st{};
        return ::lstat(join(folder, name).c_str(), &st) == 0;
    };
    std::string name = base;
    for (int n = 2; taken(name); ++n) name = base + " " + std::to_string(n);
    return name;
}

bool LocalFilelistViewController::writeUserOrder() {
    const std::string file = BookCommon::getSortUserListFile(folderPath());
    if (file.empty()) return false;
    sys::PlistArray names;
    for (const auto& item : itemList())
        if (item->filename()) names.push_back(sys::PlistValue(*item->filename()));
    return sys::PropertyList::writeFile(sys::PlistValue(std::move(names)), file);
}

bool LocalFilelistViewController::addNewFolder() {
    if (isDragging()) return false;
    const std::string here = folderPath();
    const std::string name = freeFolderName(here, tr("Untitled Folder"));
    if (!sys::FileManager::createDirectory(join(here, name), false)) {
        showMessage("", tr("Error creating new folder."));
        return false;
    }
    auto item = std::make_shared<FilelistItem>();
    item->setType(kTypeFolder);
    item->setFilename(name);
    item->setPathFromBooks(pathFromBooks().empty() ? name : join(pathFromBooks(), name));
    item->setCreationDate(sys::Date::now());
    item->setRemoteOriginalIndexNo(kUnsortedUserIndex);
    mutableItemList().push_back(item);
    writeUserOrder();
    setUserSortOrderToItemList();
    needUpdateFilelist();
    if (isViewLoaded()) {
        for (int64_t i = 0; i < static_cast<int64_t>(itemList().size()); ++i) {
            if (itemList()[size_t(i)]->pathFromBooks() != item->pathFromBooks()) continue;
            const int row = int(i / std::max(1, numberOfBooksInRow()));
            if (row < tableView()->numberOfRowsInSection(1))
                tableView()->scrollToRowAtIndexPath({1, row}, ui::TableViewScrollPosition::None, true);
            break;
        }
    }
    return true;
}

// ---- Drag reordering ----------------------------------------------------------------------------

int LocalFilelistViewController::dragColumnForX(double x, const std::vector<double>& slotX) {
    for (size_t i = 0; i + 1 < slotX.size(); ++i)
        if (x < (slotX[i] + slotX[i + 1]) / 2) return int(i);
    return slotX.empty() ? 0 : int(slotX.size()) - 1;
}

int64_t LocalFilelistViewController::dragTargetIndex(int column, int row, int perLine, int64_t count) {
    if (count <= 0) return 0;
    const int64_t target = int64_t(column) + int64_t(std::max(1, perLine)) * int64_t(row);
    return std::clamp<int64_t>(target, 0, count - 1);
}

int64_t LocalFilelistViewController::moveEntry(ItemList& list, int64_t from, int64_t target) {
    if (from < 0 || from >= static_cast<int64_t>(list.size())) return from;
    ItemRef item = list[size_t(from)];
    list.erase(list.begin() + from);
    // After the removal the entry that was at `target` sits one place
    // earlier when it came after `from`; inserting at `target` puts the
    // dragged entry under the finger either way.
    const int64_t at = std::clamp<int64_t>(target, 0, static_cast<int64_t>(list.size()));
    list.insert(list.begin() + at, item);
    return at;
}

bool LocalFilelistViewController::onLongPress(int64_t index, ui::Point point, ui::View* view) {
    if (!isEditMode()) {
        didSelectDetailBtn(index);
        return false;
    }
    if (isDragging() || fileListViewMode() != 1 || !isViewLoaded()) return false;
    if (index < 0 || index >= static_cast<int64_t>(itemList().size())) return false;
    ui::TableView* table = tableView();
    table->setScrollEnabled(false);
    draggingItemIndex_ = index;
    itemList()[size_t(index)]->setDragging(true);
    // Drawn as the shelf's theme draws the entry, and held where the finger
    // took it (the cover does not jump to centre itself under the finger).
    dragginbBtn_ = BookshelfDragCover::make(*itemList()[size_t(index)], dynamic_cast<BookshelfBookButton*>(view),
                                            settings());
    const ui::Size size = dragginbBtn_->bounds().size;
    table->addSubview(dragginbBtn_);
    table->reloadData();
    draggingOffset_ = {point.x - size.width / 2, point.y - size.height / 2};
    draggingPosIndexX_ = -1;
    draggingPosIndexY_ = -1;
    touchesMoved(point, view);
    return true;
}

void LocalFilelistViewController::touchesMoved(ui::Point point, ui::View* view) {
    if (!isDragging() || !view || !isViewLoaded()) return;
    ui::TableView* table = tableView();
    const ui::Point p = view->convertPointTo(point, table);
    dragginbBtn_->setCenter({p.x - draggingOffset_.x, p.y - draggingOffset_.y});
    const bool landscape = BookCommon::isLandscapeSwitchOSVersionWithViewController();
    const int perLine = FilelistBaseViewItembookshelfModeCell::getNumInBookshelfLine(landscape);
    // The drop slots lie between the covers as the theme places them.
    const std::vector<double> slotX = BookshelfDragCover::slotCentres(settings(), landscape);
    const int column = dragColumnForX(p.x, slotX);
    const int row = int(std::floor((p.y - getHeaderHeight()) / std::max(1.0, getCellHeight())));
    if (column == draggingPosIndexX_ && row == draggingPosIndexY_) return;
    draggingPosIndexX_ = column;
    draggingPosIndexY_ = row;
    const int64_t target = dragTargetIndex(column, std::max(0, row), perLine, int64_t(itemList().size()));
    if (target == draggingItemIndex_) return;
    draggingItemIndex_ = moveEntry(mutableItemList(), draggingItemIndex_, target);
    if (sortMode() != kSortUser) {
        setSortState(kSortUser, false, isDateSortModeBookmarkDate());
        if (auto file = getSortConfigFile()) writeSortChoice(*file, SortChoice{kSortUser, false, isDateSortModeBookmarkDate()});
    }
    table->reloadData();
}

void LocalFilelistViewController::endDrag(bool save) {
    if (!isDragging()) return;
    if (isViewLoaded()) {
        tableView()->setScrollEnabled(true);
        tableView()->setUserInteractionEnabled(true);
    }
    if (draggingItemIndex_ >= 0 && draggingItemIndex_ < static_cast<int64_t>(itemList().size()))
        itemList()[size_t(draggingItemIndex_)]->setDragging(false);
    dragginbBtn_->removeFromSuperview();
    dragginbBtn_.reset();
    if (save) {
        writeUserOrder();
        setUserSortOrderToItemList();
    }
    draggingItemIndex_ = -1;
    if (isViewLoaded()) tableView()->reloadData();
}

void LocalFilelistViewController::touchMovingFinish(ui::View*) { endDrag(true); }

// ---- The detail screens' answers --------------------------------------------------------------------

void LocalFilelistViewController::changePasscodeSetting(const std::string&) { setNeedUpdateFileList(true); }

bool LocalFilelistViewController::openEntryDetailScreen(int64_t index) {
    auto* nav = navigationController();
    if (!nav || index < 0 || index >= static_cast<int64_t>(itemList().size())) return false;
    const auto& item = itemList()[size_t(index)];
    const auto full = BookCommon::fromBooksToFromRoot(item->pathFromBooks());
    if (!full) return false;
    setFolderDetailIndex(index);
    if (item->type() == kTypeFolder) {
        auto screen = std::make_shared<FolderDetailViewControllerEx>(ui::TableViewStyle::Grouped);
        screen->setDelegate(std::static_pointer_cast<FolderDetailViewControllerExDelegate>(selfRef()));
        screen->setDirectoryPath_(*full);
        screen->setIsScanDirectory_(item->isFolderScanFiles());
        setNextIsNotFileSelectView(true);
        nav->pushViewController(screen, true);
        return true;
    }
    if (item->type() == kTypeBook || item->type() == kTypeImage || item->type() == kTypePdf) {
        auto screen = std::make_shared<FileConfigViewController>(ui::TableViewStyle::Grouped);
        screen->setFileFullpath_(*full);
        screen->setSettings_(settings());
        screen->setIsTheLastFileInDirectory_(item->isLastReadingFile());
        setNextIsNotFileSelectView(true);
        nav->pushViewController(screen, true);
        return true;
    }
    if (item->type() == kTypeLibraryDownload) {
        auto screen = std::make_shared<LBlibraryDeleteViewController>(ui::TableViewStyle::Grouped);
        screen->setTargetPath_(*full);
        // The screen may remove the folder: the list is read again on return.
        setNeedUpdateFileList(true);
        nav->pushViewController(screen, true);
        return true;
    }
    return false;
}
