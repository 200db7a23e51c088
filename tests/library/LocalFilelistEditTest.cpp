#include "LibraryTestSupport.h"

#include "foundation/BookCommon.h"
#include "foundation/FolderLockInfo.h"
#include "foundation/HistoryCollector.h"
#include "foundation/ui/TextInputViewController.h"
#include "library/BookshelfBookButton.h"
#include "library/FolderDetailViewControllerEx.h"
#include "library/FolderSelectViewController.h"
#include "library/LBlibraryDeleteViewController.h"
#include "library/LocalFilelistViewController.h"
#include "library/FileConfigViewController.h"
#include "library/MediaServerOpener.h"
#include "platform/core/PropertyList.h"
#include "platform/ui/Button.h"

#include <unistd.h>

#include <filesystem>

using librarytest::LibraryTest;
using Local = LocalFilelistViewController;
namespace fs = std::filesystem;

namespace {

FilelistItem item(const std::string& name) {
    FilelistItem i;
    i.setFilename(name);
    return i;
}

std::vector<std::string> order(const FilelistBaseViewController::ItemList& list) {
    std::vector<std::string> out;
    for (const auto& i : list) out.push_back(i->filename().value_or("?"));
    return out;
}

class LocalFilelistEditTest : public LibraryTest {
protected:
    std::shared_ptr<Local> list;
    std::shared_ptr<ui::NavigationController> nav;

    // A folder screen on screen, in edit mode.
    void showFolder(const std::string& pathFromBooks, bool edit = true) {
        list = std::make_shared<Local>();
        list->setPathFromBooks(pathFromBooks);
        list->setDontRestoreLastStatus(true);
        nav = showInNavigation(list);
        if (edit) list->onEditBtn();
    }
    int64_t indexOf(const std::string& pathFromBooks) const {
        const auto& items = list->itemList();
        for (size_t i = 0; i < items.size(); ++i)
            if (items[i]->pathFromBooks() == pathFromBooks) return int64_t(i);
        return -1;
    }
    void select(const std::string& pathFromBooks) {
        const int64_t i = indexOf(pathFromBooks);
        ASSERT_GE(i, 0) << pathFromBooks;
        list->didSelectBookInEditModeWithIndexNo(i);
    }
};

// The books of the reading history, newest first, as its file holds them.
std::vector<std::string> historyPaths() {
    HistoryCollector::relaseHistory();
    std::vector<std::string> out;
    for (const auto& h : HistoryCollector::getHistory().value_or(std::vector<BookHistory>{}))
        out.push_back(h.pathFromBooks().value_or("?"));
    return out;
}

void read(const std::string& pathFromBooks) {
    BookHistory h;
    h.setPathFromBooks(pathFromBooks);
    h.setBookTitle(sys::Path::lastPathComponent(pathFromBooks));
    HistoryCollector::addHistory(h);
}

// ---- The drag's index arithmetic -------------------------------------------------------------

TEST(LocalFilelistDragArithmetic, ColumnsAndTargets) {
    const std::vector<double> slots{50, 150, 250, 350};
    EXPECT_EQ(Local::dragColumnForX(-20, slots), 0);
    EXPECT_EQ(Local::dragColumnForX(99, slots), 0);
    EXPECT_EQ(Local::dragColumnForX(101, slots), 1);
    EXPECT_EQ(Local::dragColumnForX(299, slots), 2);
    // Past the last midpoint is the last column, not the first.
    EXPECT_EQ(Local::dragColumnForX(301, slots), 3);
    EXPECT_EQ(Local::dragColumnForX(5000, slots), 3);
    EXPECT_EQ(Local::dragColumnForX(10, {}), 0);

    EXPECT_EQ(Local::dragTargetIndex(2, 1, 4, 20), 6);
    EXPECT_EQ(Local::dragTargetIndex(3, 9, 4, 7), 6);  // below the last shelf: the last entry
    EXPECT_EQ(Local::dragTargetIndex(0, -3, 4, 7), 0);
    EXPECT_EQ(Local::dragTargetIndex(1, 0, 4, 0), 0);
}

TEST(LocalFilelistDragArithmetic, MovedEntryLandsUnderTheFinger) {
    auto make = [] {
        FilelistBaseViewController::ItemList l;
        for (const char* n : {"A", "B", "C", "D", "E"}) l.push_back(std::make_shared<FilelistItem>(item(n)));
        return l;
    };
    auto l = make();
    // Forward by one slot: the entry moves (it used to land where it was).
    EXPECT_EQ(Local::moveEntry(l, 0, 1), 1);
    EXPECT_EQ(order(l), (std::vector<std::string>{"B", "A", "C", "D", "E"}));
    l = make();
    EXPECT_EQ(Local::moveEntry(l, 1, 3), 3);
    EXPECT_EQ(order(l), (std::vector<std::string>{"A", "C", "D", "B", "E"}));
    l = make();
    EXPECT_EQ(Local::moveEntry(l, 4, 0), 0);
    EXPECT_EQ(order(l), (std::vector<std::string>{"E", "A", "B", "C", "D"}));
    l = make();
    EXPECT_EQ(Local::moveEntry(l, 0, 4), 4);  // to the very end
    EXPECT_EQ(order(l), (std::vector<std::string>{"B", "C", "D", "E", "A"}));
    l = make();
    EXPECT_EQ(Local::moveEntry(l, 9, 0), 9);  // nothing there: nothing moves
    EXPECT_EQ(order(l), (std::vector<std::string>{"A", "B", "C", "D", "E"}));
}

// ---- Selecting ------------------------------------------------------------------------------

TEST_F(LocalFilelistEditTest, SelectAllSkipsTheFixedEntriesAndButtonsFollowTheCount) {
    touch(join(documents(), "a.zip"));
    touch(join(documents(), "b.zip"));
    mkdir(join(documents(), ".BookLibrary"));
    showFolder("");
    ASSERT_TRUE(list->isEditMode());
    EXPECT_FALSE(list->editMoveItemBtn()->isEnabled());
    list->onSelectAllBtn();
    EXPECT_EQ(list->fileSelectedCount(), 2);
    EXPECT_FALSE(list->isSelectedWithIndexNo(indexOf(".BookLibrary")));
    select("a.zip");
    EXPECT_TRUE(list->editMoveItemBtn()->isEnabled());
    EXPECT_TRUE(list->editDeleteItemBtn()->isEnabled());
    select("b.zip");
    EXPECT_FALSE(list->editMoveItemBtn()->isEnabled());
    EXPECT_FALSE(list->editDeleteItemBtn()->isEnabled());
    list->onSelectAllBtn();
    list->onSelectAllBtn();  // all selected: a second press unselects all
    EXPECT_EQ(list->fileSelectedCount(), 0);
    list->onEditDone();
    EXPECT_FALSE(list->isEditMode());
}

// ---- Moving ---------------------------------------------------------------------------------

TEST_F(LocalFilelistEditTest, MovesBooksButNeverAFolderIntoItselfNorOverAnExistingBook) {
    const std::string docs = documents();
    touch(join(docs, "a.zip"), "new a");
    touch(join(docs, "b.zip"), "b");
    mkdir(join(docs, "Shelf/Inner"));
    touch(join(docs, "Shelf/a.zip"), "old a");
    read("Shelf/a.zip");
    read("b.zip");
    read("a.zip");
    showFolder("");
    select("a.zip");
    select("b.zip");
    select("Shelf");
    // Into its own subfolder: the folder stays; the books move, except the
    // one whose name is taken there.
    EXPECT_EQ(list->moveSelectedTo(join(docs, "Shelf/Inner")), 1);
    EXPECT_TRUE(fs::is_directory(join(docs, "Shelf/Inner")));
    EXPECT_TRUE(fs::exists(join(docs, "Shelf/Inner/a.zip")));
    EXPECT_TRUE(fs::exists(join(docs, "Shelf/Inner/b.zip")));
    // The history follows the books moved, in its order; the book that
    // stayed keeps its entry.
    EXPECT_EQ(historyPaths(), (std::vector<std::string>{"Shelf/Inner/a.zip", "Shelf/Inner/b.zip", "Shelf/a.zip"}));

    touch(join(docs, "c.zip"), "new c");
    touch(join(docs, "Shelf/c.zip"), "old c");
    list->onEditDone();
    list->needUpdateFilelist();
    list->onEditBtn();
    select("c.zip");
    select("Shelf");
    EXPECT_EQ(list->moveSelectedTo(join(docs, "Shelf")), 2);
    EXPECT_EQ(test::readFile(join(docs, "Shelf/c.zip")), "old c");
    EXPECT_EQ(test::readFile(join(docs, "c.zip")), "new c");
    EXPECT_TRUE(Local::isSameOrInsideFolder(join(docs, "Shelf"), join(docs, "Shelf/")));
    EXPECT_FALSE(Local::isSameOrInsideFolder(join(docs, "Shelf"), join(docs, "Shelf2")));
}

TEST_F(LocalFilelistEditTest, MovingALockedFolderKeepsItsLockedName) {
    const std::string docs = documents();
    mkdir(join(docs, ".lock_Secret"));
    touch(join(docs, ".lock_Secret/x.zip"));
    mkdir(join(docs, "Target"));
    read(".lock_Secret2/y.zip");
    read(".lock_Secret/x.zip");
    showFolder("");
    select(".lock_Secret");
    EXPECT_EQ(list->moveSelectedTo(join(docs, "Target")), 0);
    EXPECT_TRUE(fs::exists(join(docs, "Target/.lock_Secret/x.zip")));
    EXPECT_FALSE(fs::exists(join(docs, "Target/Secret")));
    // The books inside a folder moved are read from its new place; a folder
    // whose name only begins the same stays.
    EXPECT_EQ(historyPaths(), (std::vector<std::string>{"Target/.lock_Secret/x.zip", ".lock_Secret2/y.zip"}));
}

TEST_F(LocalFilelistEditTest, PickerListsRealFoldersAndReturnsTheChosenPath) {
    const std::string docs = documents();
    mkdir(join(docs, "b"));
    mkdir(join(docs, "a"));
    mkdir(join(docs, ".hidden"));
    mkdir(join(docs, ".lock_Locked"));
    mkdir(join(docs, "Inbox"));
    touch(join(docs, "book.zip"));
    fs::create_directory_symlink("/tmp", join(docs, "link"));
    EXPECT_EQ(FolderSelectViewController::readFolderNames(docs, true),
              (std::vector<std::string>{".lock_Locked", "a", "b"}));

    struct Recorder : FolderSelectViewControllerDelegate {
        std::vector<std::optional<std::string>> got;
        void finishSelectFolder(FolderSelectViewController&, const std::optional<std::string>& f) override {
            got.push_back(f);
        }
    };
    auto recorder = std::make_shared<Recorder>();
    auto picker = std::make_shared<FolderSelectViewController>();
    picker->setDelegate(recorder);
    picker->setIsRoot_(true);
    picker->setSettings_(settings);
    picker->setSelectFolderText_("Move to this folder");
    nav = showInNavigation(picker);
    EXPECT_EQ(picker->title(), "Documents");
    ASSERT_TRUE(tapText("a"));
    driver->advance(1);
    ASSERT_EQ(nav->viewControllers().size(), 2u);
    auto* deeper = dynamic_cast<FolderSelectViewController*>(nav->topViewController());
    ASSERT_TRUE(deeper);
    EXPECT_FALSE(deeper->hasExtraRow());
    deeper->onChoose();
    deeper->onCancel();
    ASSERT_EQ(recorder->got.size(), 2u);
    EXPECT_EQ(recorder->got[0], join(docs, "a"));
    EXPECT_EQ(recorder->got[1], std::nullopt);
}

TEST_F(LocalFilelistEditTest, PickerEntersALockedFolderOnlyWithItsPasscode) {
    const std::string locked = join(documents(), ".lock_Vault");
    mkdir(join(locked, "Inside"));
    ASSERT_TRUE(FolderLockInfo::lockedWithPasscode("4321", false).writeToFolder(locked));
    auto services = std::make_shared<librarytest::PasscodeServices>();
    LibraryServices::install(services);
    auto picker = std::make_shared<FolderSelectViewController>();
    picker->setIsRoot_(true);
    nav = showInNavigation(picker);
    ASSERT_TRUE(tapText("Vault"));
    driver->advance(1);
    ASSERT_EQ(services->asked.size(), 1u);
    EXPECT_EQ(services->asked[0].path, locked);
    EXPECT_EQ(services->asked[0].passCodeHash, BookCommon::passcodeToHash("4321"));
    EXPECT_EQ(nav->viewControllers().size(), 1u);  // not entered yet
    if (ui::ViewController* shown = nav->presentedViewController()) shown->dismiss(false);
    auto answer = services->answer.lock();
    ASSERT_TRUE(answer);
    answer->passCodeInputComplete(1, locked, "", "4321");
    driver->advance(1);
    ASSERT_EQ(nav->viewControllers().size(), 2u);
    auto* inside = dynamic_cast<FolderSelectViewController*>(nav->topViewController());
    ASSERT_TRUE(inside);
    EXPECT_EQ(inside->title(), "Vault");
    EXPECT_EQ(inside->filelistArray_(), std::vector<std::string>{"Inside"});
}

// ---- Deleting -------------------------------------------------------------------------------

TEST_F(LocalFilelistEditTest, DeleteGoesByPathAndKeepsWhatCouldNotBeDeleted) {
    const std::string docs = documents();
    mkdir(join(docs, ".lock_X"));
    mkdir(join(docs, "X"));
    touch(join(docs, "X/keep.zip"));
    touch(join(docs, "gone.zip"));
    touch(join(docs, "swapped.zip"));
    showFolder("");
    select(".lock_X");
    select("gone.zip");
    select("swapped.zip");
    // The book became a folder behind the list's back: not the kind the
    // entry claims, so it is left alone and stays listed.
    fs::remove(join(docs, "swapped.zip"));
    mkdir(join(docs, "swapped.zip/inside"));
    list->deleteFilesDo();
    EXPECT_FALSE(fs::exists(join(docs, ".lock_X")));
    EXPECT_FALSE(fs::exists(join(docs, "gone.zip")));
    EXPECT_TRUE(fs::exists(join(docs, "X/keep.zip")));
    EXPECT_TRUE(fs::exists(join(docs, "swapped.zip/inside")));
    EXPECT_GE(indexOf("X"), 0);
    EXPECT_GE(indexOf("swapped.zip"), 0);
    EXPECT_LT(indexOf(".lock_X"), 0);
    EXPECT_LT(indexOf("gone.zip"), 0);
    int originals = 0;
    for (const auto& i : list->originalItemList()) originals += i->pathFromBooks() == "X";
    EXPECT_EQ(originals, 1);

    // A swipe delete of a row whose file cannot go keeps the row.
    list->onEditDone();
    const int64_t row = indexOf("swapped.zip");
    list->tableViewCommitEditingStyle(*list->tableView(), ui::TableViewCellEditingStyle::Delete, {1, int(row)});
    EXPECT_GE(indexOf("swapped.zip"), 0);
    list->tableViewCommitEditingStyle(*list->tableView(), ui::TableViewCellEditingStyle::Delete, {1, int(indexOf("X"))});
    EXPECT_LT(indexOf("X"), 0);
    EXPECT_FALSE(fs::exists(join(docs, "X")));
}

TEST_F(LocalFilelistEditTest, DeletesRemoveLinksNeverWhatTheyPointAt) {
    test::TempDir outside("outside");
    touch(join(outside.path(), "precious.zip"), "keep me");
    mkdir(join(outside.path(), "site/sub"));
    touch(join(outside.path(), "site/sub/page.jpg"));
    const std::string docs = documents();
    fs::create_symlink(join(outside.path(), "precious.zip"), join(docs, "link.zip"));
    showFolder("");
    select("link.zip");
    list->deleteFilesDo();
    EXPECT_FALSE(fs::is_symlink(join(docs, "link.zip")));
    EXPECT_EQ(test::readFile(join(outside.path(), "precious.zip")), "keep me");

    const std::string lib = join(docs, ".BookLibrary");
    mkdir(lib);
    fs::create_directory_symlink(join(outside.path(), "site"), join(lib, "linked"));
    EXPECT_TRUE(LBlibraryDeleteViewController::removeLibraryFolder(join(lib, "linked")));
    EXPECT_TRUE(fs::exists(join(outside.path(), "site/sub/page.jpg")));
    touch(join(lib, "plain.txt"));
    EXPECT_FALSE(LBlibraryDeleteViewController::removeLibraryFolder(join(lib, "plain.txt")));
    EXPECT_TRUE(fs::exists(join(lib, "plain.txt")));
    mkdir(join(lib, "real/sub"));
    EXPECT_TRUE(LBlibraryDeleteViewController::removeLibraryFolder(join(lib, "real")));
    EXPECT_FALSE(fs::exists(join(lib, "real")));
    EXPECT_FALSE(LBlibraryDeleteViewController::removeLibraryFolder(join(lib, "real")));
}

// ---- New folders, user order and dragging ---------------------------------------------------

TEST_F(LocalFilelistEditTest, NewFoldersAreNumberedAndComeLastInTheUserOrder) {
    touch(join(documents(), "b.zip"));
    touch(join(documents(), "a.zip"));
    showFolder("");
    ASSERT_TRUE(list->addNewFolder());
    ASSERT_TRUE(list->addNewFolder());
    fs::create_symlink("/nonexistent", join(documents(), "Untitled Folder 3"));  // a dangling link takes a name too
    ASSERT_TRUE(list->addNewFolder());
    EXPECT_TRUE(fs::is_directory(join(documents(), "Untitled Folder")));
    EXPECT_TRUE(fs::is_directory(join(documents(), "Untitled Folder 2")));
    EXPECT_TRUE(fs::is_directory(join(documents(), "Untitled Folder 4")));
    auto names = Local::readUserOrder(BookCommon::getSortUserListFile(documents()));
    ASSERT_TRUE(names);
    ASSERT_FALSE(names->empty());
    EXPECT_EQ(names->back(), "Untitled Folder 4");
}

TEST_F(LocalFilelistEditTest, DraggingACoverSwitchesToUserOrderAndWritesIt) {
    for (const char* n : {"a.zip", "b.zip", "c.zip", "d.zip"}) touch(join(documents(), n));
    showFolder("", false);
    list->changeBookshelfMode(1, true);
    driver->advance(0.5);
    list->onEditBtn();
    driver->advance(0.5);
    ASSERT_EQ(order(list->itemList()), (std::vector<std::string>{"a.zip", "b.zip", "c.zip", "d.zip"}));
    auto covers = driver->findAllOf<BookshelfBookButton>();
    BookshelfBookButton* first = nullptr;
    BookshelfBookButton* third = nullptr;
    for (auto* c : covers) {
        if (c->indexNo() == 0 && c->superview()) first = c;
        if (c->indexNo() == 2 && c->superview()) third = c;
    }
    ASSERT_TRUE(first && third);
    const ui::Point from = first->convertPointToWindow({first->bounds().width() / 2, first->bounds().height() / 2});
    const ui::Point to = third->convertPointToWindow({third->bounds().width() / 2, third->bounds().height() / 2});
    driver->touchDown(from);
    // A cover is picked up after a full second held still, not before.
    driver->advance(0.9);
    ASSERT_FALSE(list->isDragging());
    driver->advance(0.2);
    ASSERT_TRUE(list->isDragging());
    for (int i = 1; i <= 5; ++i)
        driver->touchMove({from.x + (to.x - from.x) * i / 5, from.y + (to.y - from.y) * i / 5});
    driver->touchUp(to);
    driver->advance(0.5);
    EXPECT_FALSE(list->isDragging());
    EXPECT_EQ(order(list->itemList()), (std::vector<std::string>{"b.zip", "c.zip", "a.zip", "d.zip"}));
    EXPECT_EQ(list->sortMode(), FilelistBaseViewController::kSortUser);
    auto choice = FilelistBaseViewController::readSortChoice(*list->getSortConfigFile());
    ASSERT_TRUE(choice);
    EXPECT_EQ(choice->mode, 3);
    EXPECT_FALSE(choice->descendingOrder);
    auto names = Local::readUserOrder(BookCommon::getSortUserListFile(documents()));
    ASSERT_TRUE(names);
    EXPECT_EQ(*names, (std::vector<std::string>{"b.zip", "c.zip", "a.zip", "d.zip"}));
    // A new screen on the folder reads the same order.
    list->onEditDone();
    showFolder("", false);
    EXPECT_EQ(order(list->itemList()), (std::vector<std::string>{"b.zip", "c.zip", "a.zip", "d.zip"}));
}

// ---- Folder information: renames and the lock ----------------------------------------------------

TEST_F(LocalFilelistEditTest, FolderRenamesTwiceAndLocksWithAPasscode) {
    const std::string docs = documents();
    mkdir(join(docs, "Old"));
    touch(join(docs, "Old/x.zip"));
    read("Old/x.zip");
    showFolder("", false);
    ASSERT_TRUE(list->openEntryDetailScreen(indexOf("Old")));
    driver->advance(1);
    auto* detail = dynamic_cast<FolderDetailViewControllerEx*>(nav->topViewController());
    ASSERT_TRUE(detail);
    EXPECT_FALSE(detail->isPasscodeLock());
    auto sheet = std::make_shared<TextInputViewController>();
    ASSERT_TRUE(detail->onFinishTextInput(*sheet, "Middle", "Old"));
    EXPECT_TRUE(fs::exists(join(docs, "Middle/x.zip")));
    ASSERT_TRUE(detail->onFinishTextInput(*sheet, "New", "Middle"));
    EXPECT_TRUE(fs::exists(join(docs, "New/x.zip")));
    EXPECT_EQ(historyPaths(), std::vector<std::string>{"New/x.zip"}) << "the history lost the book in the folder";
    EXPECT_EQ(detail->directoryPath_(), join(docs, "New"));
    // Never onto another folder.
    mkdir(join(docs, "Other"));
    EXPECT_FALSE(detail->onFinishTextInput(*sheet, "Other", "New"));
    EXPECT_TRUE(fs::exists(join(docs, "New/x.zip")));
    EXPECT_TRUE(fs::is_empty(join(docs, "Other")));
    // A name the list refuses keeps the sheet open and the folder as it is.
    EXPECT_FALSE(detail->onFinishTextInput(*sheet, ".dot", "New"));
    EXPECT_TRUE(fs::exists(join(docs, "New")));

    detail->passcodeFlagChange(true);
    EXPECT_TRUE(fs::exists(join(docs, ".lock_New/x.zip")));
    EXPECT_EQ(historyPaths(), std::vector<std::string>{".lock_New/x.zip"});
    EXPECT_FALSE(BookCommon::isFolderLocked(join(docs, ".lock_New")));  // no passcode yet
    detail->onInputPassCode("12");
    detail->onInputPassCode("1234");
    auto record = sys::PropertyList::readArray(join(docs, ".lock_New/directory.plist"));
    ASSERT_TRUE(record);
    ASSERT_EQ(record->size(), 4u);
    std::string hash;
    EXPECT_TRUE(BookCommon::isFolderLocked(join(docs, ".lock_New"), &hash, nullptr));
    EXPECT_EQ(hash, BookCommon::passcodeToHash("1234"));
    // Renaming the locked folder keeps its prefix on disk.
    ASSERT_TRUE(detail->onFinishTextInput(*sheet, "Last", "New"));
    EXPECT_TRUE(fs::exists(join(docs, ".lock_Last/x.zip")));
    EXPECT_EQ(detail->displayName(), "Last");
    // Unlocking drops the prefix and the lock, and keeps the hash for a relock.
    detail->passcodeFlagChange(false);
    EXPECT_TRUE(fs::exists(join(docs, "Last/x.zip")));
    EXPECT_FALSE(BookCommon::isFolderLocked(join(docs, "Last")));
    detail->passcodeFlagChange(true);
    EXPECT_TRUE(BookCommon::isFolderLocked(join(docs, ".lock_Last"), &hash, nullptr));
    EXPECT_EQ(hash, BookCommon::passcodeToHash("1234"));
}

TEST(FolderDetailNames, LockStateAdjustsThePrefix) {
    EXPECT_EQ(FolderDetailViewControllerEx::nameForLockState("A", true), ".lock_A");
    EXPECT_EQ(FolderDetailViewControllerEx::nameForLockState(".lock_A", true), ".lock_A");
    EXPECT_EQ(FolderDetailViewControllerEx::nameForLockState(".lock_A", false), "A");
    EXPECT_EQ(FolderDetailViewControllerEx::nameForLockState(".lock_", false), ".lock_");
}

// ---- The detail button of the list view ------------------------------------------------------

// Records the shortcuts handed to the site editor.
struct EditorRecorder : MediaServerOpener {
    std::vector<std::pair<std::string, std::string>> edited;  // url, display name
    void pushToMediaServer(const std::shared_ptr<LocalFilelistViewController>&, const sys::PlistDictionary&) override {}
    bool restoreRemoteList(const std::shared_ptr<LocalFilelistViewController>&) override { return false; }
    void editShortcut(const std::shared_ptr<LocalFilelistViewController>&, const sys::PlistDictionary& record,
                      const std::string& displayName) override {
        edited.emplace_back(record.getString("url"), displayName);
    }
};

class LocalFilelistDetailTest : public LocalFilelistEditTest {
protected:
    void TearDown() override {
        MediaServerOpener::install(nullptr);
        LocalFilelistEditTest::TearDown();
    }
    // The list-view row of an entry, drawn.
    ui::TableViewCell* rowOf(const std::string& pathFromBooks) {
        const int64_t i = indexOf(pathFromBooks);
        if (i < 0) return nullptr;
        return list->tableView()->cellForRowAtIndexPath({1, int(i)});
    }
    static ui::Button* detailButtonOf(ui::View& v) {
        // The accessory is the cell's last button.
        const auto& subs = v.subviews();
        for (auto it = subs.rbegin(); it != subs.rend(); ++it) {
            if (auto* b = dynamic_cast<ui::Button*>(it->get())) return b;
        }
        return nullptr;
    }
    // Taps the row's detail button; false when the row shows none.
    bool tapDetail(const std::string& pathFromBooks) {
        ui::TableViewCell* cell = rowOf(pathFromBooks);
        if (!cell || cell->accessoryType() != ui::TableViewCellAccessoryType::DetailDisclosureButton) return false;
        ui::Button* b = detailButtonOf(*cell);
        if (!b) return false;
        driver->tap(*b);
        driver->advance(1);
        return true;
    }
    void showListView() {
        showFolder("", false);
        list->setFileListViewMode(0);
        list->tableView()->reloadData();
        driver->advance(0.5);
    }
};

TEST_F(LocalFilelistDetailTest, FolderBookAndShortcutRowsOpenTheirOwnScreens) {
    const std::string docs = documents();
    mkdir(join(docs, "Comics"));
    touch(join(docs, "Comics/a.zip"));
    touch(join(docs, "book.zip"));
    touch(join(docs, "paper.pdf"));
    sys::PlistDictionary site;
    site.set("url", sys::PlistValue(std::string("smb://127.0.0.1/share")));
    site.set("title", sys::PlistValue(std::string("NAS")));
    ASSERT_TRUE(sys::PropertyList::writeFile(sys::PlistValue(site), join(docs, "NAS.shortcut")));
    auto editor = std::make_shared<EditorRecorder>();
    MediaServerOpener::install(editor);
    showListView();

    ASSERT_TRUE(tapDetail("Comics"));
    auto* folder = dynamic_cast<FolderDetailViewControllerEx*>(nav->topViewController());
    ASSERT_TRUE(folder);
    EXPECT_EQ(folder->directoryPath_(), join(docs, "Comics"));
    nav->popViewController(false);
    driver->advance(0.5);

    ASSERT_TRUE(tapDetail("book.zip"));
    auto* file = dynamic_cast<FileConfigViewController*>(nav->topViewController());
    ASSERT_TRUE(file);
    EXPECT_EQ(file->fileFullpath_(), join(docs, "book.zip"));
    nav->popViewController(false);
    driver->advance(0.5);

    ASSERT_TRUE(tapDetail("paper.pdf"));
    EXPECT_TRUE(dynamic_cast<FileConfigViewController*>(nav->topViewController()));
    nav->popViewController(false);
    driver->advance(0.5);

    // The library-site entry's screen removes its folder; back on the list
    // the entry is gone.
    mkdir(join(docs, ".BookLibrary"));
    touch(join(docs, ".BookLibrary/got.zip"));
    list->needUpdateFilelist();
    driver->advance(0.5);
    ASSERT_TRUE(tapDetail(".BookLibrary"));
    auto* removal = dynamic_cast<LBlibraryDeleteViewController*>(nav->topViewController());
    ASSERT_TRUE(removal);
    removal->tableViewDidSelectRowAtIndexPath(*removal->tableView(), {0, 0});
    driver->advance(1);
    EXPECT_EQ(nav->topViewController(), list.get());
    EXPECT_FALSE(fs::exists(join(docs, ".BookLibrary")));
    EXPECT_LT(indexOf(".BookLibrary"), 0);

    ASSERT_TRUE(tapDetail("NAS.shortcut"));
    ASSERT_EQ(editor->edited.size(), 1u);
    EXPECT_EQ(editor->edited[0].first, "smb://127.0.0.1/share");
    EXPECT_EQ(editor->edited[0].second, "NAS");
    EXPECT_EQ(list->lastSelectShortcutName(), std::optional<std::string>("NAS.shortcut"));
    EXPECT_EQ(nav->viewControllers().size(), 1u);

    // In edit mode no row offers the button.
    list->onEditBtn();
    driver->advance(0.5);
    EXPECT_FALSE(tapDetail("Comics"));
    EXPECT_FALSE(tapDetail("book.zip"));
}

TEST_F(LocalFilelistDetailTest, ThemeFilesHaveNoButton) {
    const std::string docs = documents();
    touch(join(docs, "Harbour.lbt"));
    touch(join(docs, "book.zip"));
    showListView();
    ASSERT_GE(indexOf("Harbour.lbt"), 0);
    ui::TableViewCell* theme = rowOf("Harbour.lbt");
    ASSERT_TRUE(theme);
    EXPECT_EQ(theme->accessoryType(), ui::TableViewCellAccessoryType::None);
    ASSERT_TRUE(rowOf("book.zip"));
    EXPECT_EQ(rowOf("book.zip")->accessoryType(), ui::TableViewCellAccessoryType::DetailDisclosureButton);
    // Even asked directly, a theme opens nothing.
    list->didSelectDetailBtn(indexOf("Harbour.lbt"));
    driver->advance(1);
    EXPECT_EQ(nav->viewControllers().size(), 1u);
}

// The name screens of the detail button: the temporary folder's shown name
// and a cloud shortcut's file name.
TEST_F(LocalFilelistDetailTest, TemporaryFolderAndCloudShortcutsAreRenamedOnTheirNameScreen) {
    const std::string docs = documents();
    touch(join(downloads(), "fetched.zip"));
    sys::PlistDictionary cloud;
    cloud.set("url", sys::PlistValue(std::string("onedrive://acct/Comics/")));
    cloud.set("title", sys::PlistValue(std::string("Drive")));
    ASSERT_TRUE(sys::PropertyList::writeFile(sys::PlistValue(cloud), join(docs, "Drive.shortcut")));
    touch(join(docs, "Taken.shortcut"), "not mine");
    auto editor = std::make_shared<EditorRecorder>();
    MediaServerOpener::install(editor);
    list = std::make_shared<Local>();
    list->setIsRootViewController(true);
    list->setDontRestoreLastStatus(true);
    nav = std::make_shared<ui::NavigationController>(list);
    window->setRootViewController(nav);
    driver->advance(0.5);
    list->setFileListViewMode(0);
    list->tableView()->reloadData();
    driver->advance(0.5);
    const std::string tempRow = "*";

    // The temporary folder: its shown name is edited and the list follows.
    ASSERT_TRUE(tapDetail(tempRow));
    auto* input = dynamic_cast<TextInputViewController*>(nav->topViewController());
    ASSERT_TRUE(input);
    EXPECT_EQ(input->textLabel_(), "Temporary Folder Name");
    EXPECT_EQ(input->textToEdit_(), BookCommon::getTempFolderName());
    input->textField_()->setText("");
    input->textFieldDidEnd(*input->textField_());  // empty: nothing changes
    driver->advance(1);
    EXPECT_NE(BookCommon::getTempFolderName(), "");
    ASSERT_TRUE(tapDetail(tempRow));
    input = dynamic_cast<TextInputViewController*>(nav->topViewController());
    ASSERT_TRUE(input);
    input->textField_()->setText("Inbox shelf");
    input->textFieldDidEnd(*input->textField_());
    driver->advance(1);
    EXPECT_EQ(BookCommon::getTempFolderName(), "Inbox shelf");
    EXPECT_EQ(nav->viewControllers().size(), 1u);
    driver->advance(0.5);
    ASSERT_GE(indexOf(tempRow), 0);
    EXPECT_EQ(list->itemList()[size_t(indexOf(tempRow))]->filename(), std::optional<std::string>("Inbox shelf (1)"));
    BookCommon::setTempFolderName("");

    // A cloud shortcut has no site editor: its name screen renames the file.
    ASSERT_TRUE(tapDetail("Drive.shortcut"));
    EXPECT_TRUE(editor->edited.empty());
    input = dynamic_cast<TextInputViewController*>(nav->topViewController());
    ASSERT_TRUE(input);
    EXPECT_EQ(input->textLabel_(), "Shortcut name");
    EXPECT_EQ(input->textToEdit_(), "Drive");
    input->textField_()->setText("Cloud comics");
    input->textFieldDidEnd(*input->textField_());
    driver->advance(1);
    EXPECT_FALSE(fs::exists(join(docs, "Drive.shortcut")));
    ASSERT_TRUE(fs::exists(join(docs, "Cloud comics.shortcut")));
    EXPECT_EQ(sys::PropertyList::readFile(join(docs, "Cloud comics.shortcut"))->asDictionary().getString("url"),
              "onedrive://acct/Comics/");
    driver->advance(0.5);
    // A name that would leave the folder, or is taken, leaves the file alone.
    for (const char* bad : {"../escape", "Taken"}) {
        ASSERT_TRUE(tapDetail("Cloud comics.shortcut")) << bad;
        input = dynamic_cast<TextInputViewController*>(nav->topViewController());
        ASSERT_TRUE(input);
        input->textField_()->setText(bad);
        input->textFieldDidEnd(*input->textField_());
        driver->advance(1);
        EXPECT_TRUE(fs::exists(join(docs, "Cloud comics.shortcut"))) << bad;
    }
    EXPECT_FALSE(fs::exists(join(documents(), "../escape.shortcut")));
    EXPECT_EQ(test::readFile(join(docs, "Taken.shortcut")), "not mine");
}

TEST_F(LocalFilelistDetailTest, ALockedFolderShowsItsInformationOnlyAfterThePasscode) {
    const std::string locked = join(documents(), ".lock_Vault");
    mkdir(join(locked, "Inside"));
    ASSERT_TRUE(FolderLockInfo::lockedWithPasscode("4321", false).writeToFolder(locked));
    auto services = std::make_shared<librarytest::PasscodeServices>();
    LibraryServices::install(services);
    showListView();
    ASSERT_TRUE(tapDetail(".lock_Vault"));
    ASSERT_EQ(services->asked.size(), 1u);
    EXPECT_EQ(services->asked[0].path, locked);
    EXPECT_EQ(nav->viewControllers().size(), 1u);  // nothing shown yet
    if (ui::ViewController* shown = nav->presentedViewController()) shown->dismiss(false);
    auto answer = services->answer.lock();
    ASSERT_TRUE(answer);
    // Cancelling leaves the list as it is.
    answer->passCodeInputCancel(services->asked[0].actionID);
    driver->advance(1);
    EXPECT_EQ(nav->viewControllers().size(), 1u);
    // The right passcode opens the folder's information, not the folder.
    answer->passCodeInputComplete(services->asked[0].actionID, locked, "", "4321");
    driver->advance(1);
    auto* folder = dynamic_cast<FolderDetailViewControllerEx*>(nav->topViewController());
    ASSERT_TRUE(folder);
    EXPECT_EQ(folder->directoryPath_(), locked);
}

}  // namespace
