#include "LibraryTestSupport.h"

#include "library/FilelistBaseViewController.h"
#include "library/FilelistBaseViewHeaderCell.h"
#include "library/FilelistBaseViewItembookshelfModeCell.h"
#include "library/SortModeSelectedView.h"

#include <vector>

using librarytest::LibraryTest;
using Item = FilelistBaseViewController::ItemRef;

namespace {

// A list whose rows are given by the test.
class FakeList : public FilelistBaseViewController {
public:
    ItemList items;
    int mode = 0;
    std::optional<std::string> sortFile;
    int getFilelistMode() const override { return mode; }
    ItemList getFileListArray() override { return items; }
    std::optional<std::string> getSortConfigFile() override { return sortFile; }
    double getHeaderHeight() const override { return 150; }
};

Item item(int32_t type, const std::string& name, double created = 0, int64_t page = 0, int64_t pages = 0) {
    auto i = std::make_shared<FilelistItem>();
    i->setType(type);
    i->setFilename(name);
    i->setLocation(FilelistItem::kRemote);  // no file behind it: dates are what the test says
    if (created != 0) i->setCreationDate(sys::Date(created));
    i->setReadingPageNo(page);
    i->setNumberOfPages(pages);
    return i;
}

std::vector<std::string> names(const FilelistBaseViewController& list) {
    std::vector<std::string> out;
    for (const auto& i : list.itemList()) out.push_back(i->filename().value_or("?"));
    return out;
}

class FilelistSortTest : public LibraryTest {
protected:
    std::shared_ptr<FakeList> list(std::vector<Item> items) {
        auto l = std::make_shared<FakeList>();
        l->items = std::move(items);
        l->updateBaseFileList();
        return l;
    }
    std::vector<Item> mixed() {
        return {item(1, "b.zip"), item(0, "Comics"), item(5, "site.shortcut"), item(7, "Downloads (3)"),
                item(6, ".BookLibrary"), item(3, "a.pdf")};
    }
    void directories(const char* word) { settings->setValueForKey("directorySortMode", sys::PlistValue(word)); }
};

TEST_F(FilelistSortTest, NameSortGroupsFoldersAheadOrBehindFilesAndDescendingReversesEverything) {
    directories("folder");  // any word but "file" and "mix": folders first
    auto l = list(mixed());
    EXPECT_EQ(names(*l), (std::vector<std::string>{"Downloads (3)", ".BookLibrary", "Comics", "site.shortcut", "a.pdf",
                                                   "b.zip"}));
    l->onSelectSortMode(0, true, false);
    EXPECT_EQ(names(*l), (std::vector<std::string>{"b.zip", "a.pdf", "site.shortcut", "Comics", ".BookLibrary",
                                                   "Downloads (3)"}));

    directories("file");  // the default: files first
    auto f = list(mixed());
    EXPECT_EQ(names(*f), (std::vector<std::string>{"a.pdf", "b.zip", "Downloads (3)", ".BookLibrary", "Comics",
                                                   "site.shortcut"}));

    directories("mix");  // one order for everything
    auto m = list(mixed());
    EXPECT_EQ(names(*m), (std::vector<std::string>{".BookLibrary", "Comics", "Downloads (3)", "a.pdf", "b.zip",
                                                   "site.shortcut"}));
}

TEST_F(FilelistSortTest, NamesWithNumbersSortByValue) {
    auto l = list({item(1, "Vol 10.zip"), item(1, "Vol 2.zip"), item(1, "Vol 1.zip")});
    EXPECT_EQ(names(*l), (std::vector<std::string>{"Vol 1.zip", "Vol 2.zip", "Vol 10.zip"}));
}

TEST_F(FilelistSortTest, DateSortNewestFirstWithGroupOffsets) {
    directories("folder");
    auto l = list({item(1, "old.zip", 1000000), item(1, "new.zip", 2000000), item(0, "Folder", 3000000)});
    l->onSelectSortMode(1, false, false);
    // Files carry the largest offset when folders come first, so a file of
    // any date lists before a newer folder.
    EXPECT_EQ(names(*l), (std::vector<std::string>{"new.zip", "old.zip", "Folder"}));
    l->onSelectSortMode(1, true, false);
    EXPECT_EQ(names(*l), (std::vector<std::string>{"Folder", "old.zip", "new.zip"}));

    directories("file");
    auto f = list({item(1, "old.zip", 1000000), item(0, "Folder", 500)});
    f->onSelectSortMode(1, false, false);
    EXPECT_EQ(names(*f), (std::vector<std::string>{"Folder", "old.zip"}));
}

TEST_F(FilelistSortTest, DateSortKeepsNameOrderWithinOneSecondAndFallsBackToCreationDate) {
    auto l = list({item(1, "b.zip", 5000), item(1, "a.zip", 5000), item(1, "c.zip", 4000)});
    l->onSelectSortMode(1, true, false);  // oldest first
    EXPECT_EQ(names(*l), (std::vector<std::string>{"c.zip", "a.zip", "b.zip"}));

    auto marked = item(1, "read.zip", 1000);
    marked->setBookmarkDate(sys::Date(9000));
    auto b = list({marked, item(1, "unread.zip", 8000), item(1, "older.zip", 2000)});
    b->onSelectSortMode(1, false, true);  // bookmark date, newest first
    EXPECT_EQ(names(*b), (std::vector<std::string>{"read.zip", "unread.zip", "older.zip"}));
}

TEST_F(FilelistSortTest, StatusSortPutsReadingThenUnreadThenFinished) {
    auto l = list({item(1, "done.zip", 0, 9, 10), item(1, "new.zip", 0, 0, 10), item(1, "half.zip", 0, 4, 10),
                   item(1, "another.zip", 0, 0, 0)});
    l->onSelectSortMode(2, false, false);
    EXPECT_EQ(names(*l), (std::vector<std::string>{"half.zip", "another.zip", "new.zip", "done.zip"}));
    l->onSelectSortMode(2, true, false);
    EXPECT_EQ(names(*l), (std::vector<std::string>{"done.zip", "new.zip", "another.zip", "half.zip"}));
}

TEST_F(FilelistSortTest, SearchFiltersIgnoringCaseAndAnEmptyTextShowsEverything) {
    auto l = list({item(1, "Alpha.zip"), item(1, "beta.zip"), item(1, "ALPHABET.cbz"), item(1, "Ärger.zip")});
    l->onSetSearchString("alpha");
    EXPECT_EQ(names(*l), (std::vector<std::string>{"ALPHABET.cbz", "Alpha.zip"}));
    l->onSetSearchString("ärg");
    EXPECT_EQ(names(*l), (std::vector<std::string>{"Ärger.zip"}));
    l->onSetSearchString("");
    EXPECT_EQ(l->itemList().size(), 4u);
    EXPECT_FALSE(l->searchString().has_value());
}

TEST_F(FilelistSortTest, SortChoiceFileIsReadWithTypesCheckedAndWrittenOnEveryChange) {
    test::TempDir dir;
    const std::string file = dir.file(".local.sort");
    sys::PropertyList::writeFile(sys::PlistDictionary{{"mode", sys::PlistValue("1")},
                                                      {"descendingOrder", sys::PlistValue("YES")},
                                                      {"sortModeBookmarkDate", sys::PlistValue(true)}},
                                 file);
    auto c = FilelistBaseViewController::readSortChoice(file);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->mode, 0);  // a string is no mode
    EXPECT_FALSE(c->descendingOrder);
    EXPECT_TRUE(c->bookmarkDate);
    sys::PropertyList::writeFile(sys::PlistDictionary{{"mode", sys::PlistValue(int64_t(42))}}, file);
    EXPECT_EQ(FilelistBaseViewController::readSortChoice(file)->mode, 0);
    sys::PropertyList::writeFile(sys::PlistArray{sys::PlistValue(int64_t(2))}, file);
    EXPECT_FALSE(FilelistBaseViewController::readSortChoice(file));

    auto l = list({item(1, "a.zip", 10), item(1, "b.zip", 20)});
    l->sortFile = file;
    l->onSelectSortMode(2, true, false);
    auto stored = sys::PropertyList::readDictionary(file);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->get("mode"), sys::PlistValue(int64_t(2)));
    EXPECT_EQ(stored->get("descendingOrder"), sys::PlistValue(true));
    EXPECT_EQ(stored->get("sortModeBookmarkDate"), sys::PlistValue(false));
}

TEST_F(FilelistSortTest, AFolderWithoutItsOwnChoiceTakesTheSortOfTheListBelow) {
    test::TempDir dir;
    auto parent = std::make_shared<FakeList>();
    parent->sortFile = dir.file("parent.sort");
    FilelistBaseViewController::writeSortChoice(*parent->sortFile, {1, true, true});
    auto nav = std::make_shared<ui::NavigationController>(parent);
    window->setRootViewController(nav);
    driver->advance(0.1);
    EXPECT_EQ(parent->sortMode(), 1);

    auto child = std::make_shared<FakeList>();
    child->sortFile = dir.file("child.sort");  // not there yet
    nav->pushViewController(child, false);
    driver->advance(0.1);
    EXPECT_EQ(child->sortMode(), 1);
    EXPECT_TRUE(child->isSortDescendingOrder());
    EXPECT_TRUE(child->isDateSortModeBookmarkDate());

    auto own = std::make_shared<FakeList>();
    own->sortFile = dir.file("own.sort");
    FilelistBaseViewController::writeSortChoice(*own->sortFile, {2, false, false});
    nav->pushViewController(own, false);
    driver->advance(0.1);
    EXPECT_EQ(own->sortMode(), 2);
    EXPECT_FALSE(own->isSortDescendingOrder());
}

TEST_F(FilelistSortTest, ShortListsGetFillerRowsAndLongListsNone) {
    auto shortList = std::make_shared<FakeList>();
    shortList->items = {item(1, "a.zip")};
    auto nav = std::make_shared<ui::NavigationController>(shortList);
    window->setRootViewController(nav);
    driver->advance(0.1);
    shortList->needUpdateFilelist();
    const double height = shortList->view()->bounds().height();
    EXPECT_EQ(shortList->dummyCellCount(), int(height / 80 + 1) - 1);
    EXPECT_GT(shortList->dummyCellCount(), 5);
    // A window made taller is filled to its new bottom.
    ASSERT_TRUE(window->resize({800, 1200}));
    driver->advance(1.0);
    const double taller = shortList->view()->bounds().height();
    ASSERT_GT(taller, height);
    EXPECT_EQ(shortList->dummyCellCount(), int(taller / 80 + 1) - 1);

    auto longList = std::make_shared<FakeList>();
    for (int i = 0; i < 40; ++i) longList->items.push_back(item(1, "book" + std::to_string(i) + ".zip"));
    nav->pushViewController(longList, false);
    driver->advance(0.1);
    longList->needUpdateFilelist();
    EXPECT_EQ(longList->dummyCellCount(), 0);
    EXPECT_EQ(longList->tableView()->numberOfRowsInSection(1), 40);
}

TEST_F(FilelistSortTest, BookshelfModeIsRememberedAndPacksCoversIntoShelves) {
    auto l = std::make_shared<FakeList>();
    for (int i = 0; i < 7; ++i) l->items.push_back(item(1, "b" + std::to_string(i) + ".zip"));
    auto nav = std::make_shared<ui::NavigationController>(l);
    window->setRootViewController(nav);
    driver->advance(0.1);
    l->needUpdateFilelist();
    l->onChangeBookShelfMode(1);
    EXPECT_EQ(l->fileListViewMode(), 1);
    EXPECT_EQ(sys::UserDefaults::standard().integerForKey("bookshelfMode"), 1);
    EXPECT_EQ(l->numberOfBooksInRow(), 3);  // a 390-point phone in portrait
    EXPECT_EQ(l->tableView()->numberOfRowsInSection(1), 3);
    EXPECT_EQ(l->getCellHeight(), 139.0);

    // A new screen starts in the remembered presentation.
    auto next = std::make_shared<FakeList>();
    nav->pushViewController(next, false);
    driver->advance(0.1);
    EXPECT_EQ(next->fileListViewMode(), 1);
}

TEST(BookshelfGeometry, CoversPerShelfFollowTheUsableWidth) {
    using Cell = FilelistBaseViewItembookshelfModeCell;
    EXPECT_EQ(Cell::numInBookshelfLineForWidth(390, false, false), 3);
    EXPECT_EQ(Cell::numInBookshelfLineForWidth(414, false, false), 4);
    EXPECT_EQ(Cell::numInBookshelfLineForWidth(844, false, true), 6);
    EXPECT_EQ(Cell::numInBookshelfLineForWidth(1366, true, true), 8);
    EXPECT_EQ(Cell::numInBookshelfLineForWidth(1024, true, true), 6);
    EXPECT_EQ(Cell::numInBookshelfLineForWidth(437, true, false), 2);
}

TEST(SortSelector, RepeatedTapsCycleDirectionAndDateKind) {
    struct Recorder : SortModeSelectedViewDelegate {
        int mode = -1;
        bool desc = false, bookmark = false;
        void onSelectSortMode(int m, bool d, bool b) override { mode = m, desc = d, bookmark = b; }
    } rec;
    SortModeSelectedView v(nullptr);
    v.setDelegate(&rec);
    EXPECT_EQ(v.labelText(0), "\u25BCName");
    v.onButtonSelect(2);  // another mode: direction kept
    EXPECT_EQ(rec.mode, 2);
    EXPECT_FALSE(rec.desc);
    v.onButtonSelect(2);  // the same mode: flipped
    EXPECT_TRUE(rec.desc);
    EXPECT_EQ(v.labelText(2), "\u25B2Status");
    v.onButtonSelect(1);  // date keeps the flag: YES
    EXPECT_TRUE(rec.desc);
    v.onButtonSelect(1);
    EXPECT_TRUE(rec.bookmark);
    EXPECT_FALSE(rec.desc);
    EXPECT_EQ(v.labelText(1), "\u25BDBookmark");
    v.onButtonSelect(1);
    EXPECT_TRUE(rec.desc);
    v.onButtonSelect(1);
    EXPECT_FALSE(rec.bookmark);
    EXPECT_FALSE(rec.desc);
    EXPECT_EQ(v.labelText(1), "\u25BCDate");
    EXPECT_EQ(v.labelText(3), "User");
}

}  // namespace
