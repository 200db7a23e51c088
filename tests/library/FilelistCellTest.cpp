#include "LibraryTestSupport.h"

#include "library/FilelistBaseViewController.h"
#include "library/FilelistBaseViewHeaderCell.h"
#include "library/FilelistBaseViewItemListModeCell.h"
#include "platform/core/CloudKeyValueStore.h"
#include "platform/core/NotificationCenter.h"

using librarytest::LibraryTest;
using Cell = FilelistBaseViewItemListModeCell;

namespace {

class FakeList : public FilelistBaseViewController {
public:
    ItemList items;
    int rebuilds = 0;
    ItemList getFileListArray() override { return items; }
    void updateFileListArray() override { ++rebuilds; }
    double getHeaderHeight() const override { return 150; }
};

std::shared_ptr<FilelistItem> book(const std::string& name, int64_t page, int64_t pages) {
    auto i = std::make_shared<FilelistItem>();
    i->setType(1);
    i->setFilename(name);
    i->setReadingPageNo(page);
    i->setNumberOfPages(pages);
    i->setLocation(FilelistItem::kRemote);
    i->setRemoteCanStreaming(true);
    return i;
}

TEST(FilelistCellIcons, ReadingStateAndFolderIconsFollowTheTables) {
    auto b = book("a.zip", 0, 10);
    EXPECT_EQ(Cell::statusIconName(*b), "book_new");
    b->setReadingPageNo(4);
    EXPECT_EQ(Cell::statusIconName(*b), "book_read1");
    b->setReadingPageNo(9);
    EXPECT_EQ(Cell::statusIconName(*b), "book_fin");
    // A spread ending one page before the last counts as finished.
    b->setReadingPageNo(8);
    EXPECT_EQ(Cell::statusIconName(*b), "book_read1");
    b->setIs2Pageloaded(true);
    EXPECT_EQ(Cell::statusIconName(*b), "book_fin");
    b->setIsExistBookmark(true);
    EXPECT_EQ(Cell::statusIconName(*b), "book_fin_b");
    b->setReadingFolder(std::string("Chapter 2"));
    EXPECT_EQ(Cell::statusIconName(*b), "book_folder_fin_b");
    b->setReadingPageNo(0);
    b->setIsExistBookmark(false);
    EXPECT_EQ(Cell::statusIconName(*b), "book_folder_read1");

    FilelistItem image;
    image.setType(2);
    image.setImageType(1);
    EXPECT_EQ(Cell::statusIconName(image), "book_new");
    image.setImageType(2);
    image.setIsExistBookmark(true);
    EXPECT_EQ(Cell::statusIconName(image), "book_fin_b");

    FilelistItem folder;
    folder.setType(0);
    EXPECT_EQ(Cell::folderIconName(folder, true), "thumbs_folder_f");
    folder.setIsFolderNoBackupFlag(true);
    EXPECT_EQ(Cell::folderIconName(folder, false), "folder_nb_f");
    folder.setIsFolderLocked(true);
    EXPECT_EQ(Cell::folderIconName(folder, false), "folder_l_nb_f");
    folder.setType(7);
    EXPECT_EQ(Cell::folderIconName(folder, false), "folder_temp_f");
    folder.setType(8);
    EXPECT_EQ(Cell::folderIconName(folder, true), "thumbs_folder_documents_f");
}

class FilelistCellTest : public LibraryTest {
protected:
    std::shared_ptr<FakeList> show(FilelistBaseViewController::ItemList items) {
        auto l = std::make_shared<FakeList>();
        l->items = std::move(items);
        nav = std::make_shared<ui::NavigationController>(l);
        window->setRootViewController(nav);
        driver->advance(0.5);
        l->needUpdateFilelist();
        driver->advance(0.1);
        return l;
    }
    Cell* row(FakeList& l, int r) { return dynamic_cast<Cell*>(l.tableView()->cellForRowAtIndexPath({1, r})); }
    std::shared_ptr<ui::NavigationController> nav;
};

TEST_F(FilelistCellTest, RowsShowPagesNamesAndTheirLineCount) {
    auto reading = book("[Circle] Story.zip", 11, 40);
    auto fresh = book("Plain.zip", 0, 10);
    fresh->setBookmarkDate(sys::Date::now());
    auto l = show({reading, fresh});
    Cell* first = nullptr;
    Cell* second = nullptr;
    for (int r = 0; r < 2; ++r) {
        Cell* c = row(*l, r);
        ASSERT_TRUE(c);
        (c->book()[0].item() == reading ? first : second) = c;
    }
    ASSERT_TRUE(first && second);
    // Remote names keep their extension; the bracketed group moves to the info line.
    EXPECT_EQ(first->filenameLabel()->text(), "Story.zip");
    EXPECT_EQ(first->infoLabel()->text(), "Circle");
    EXPECT_EQ(first->pageLabel()->text(), "12/40");
    EXPECT_EQ(first->lineCount(), 3);
    // No page yet: no page text, but the bookmark date shows.
    EXPECT_EQ(second->pageLabel()->text(), "");
    EXPECT_EQ(second->bookmarkDateLabel()->text(), "Today");
    EXPECT_EQ(second->lineCount(), 1);

    // The simple style shows the state icon in place of the cover.
    settings->setValueForKey("bookListStyle", sys::PlistValue("simple"));
    l->needUpdateFilelist();
    driver->advance(0.1);
    EXPECT_EQ(l->getCellHeight(), 60.0);
    Cell* c = row(*l, 0);
    ASSERT_TRUE(c);
    EXPECT_TRUE(c->statusIconImageView()->isHidden());
    ASSERT_TRUE(c->thumbsImageView()->image());
}

TEST_F(FilelistCellTest, TheSearchMaskComesWithAnEmptySearchAndGoesWithText) {
    auto l = show({book("Alpha.zip", 0, 0), book("Beta.zip", 0, 0)});
    ui::SearchBar bar;
    l->searchBarTextDidBeginEditing(bar);
    ASSERT_TRUE(l->searchMaskView());
    EXPECT_FALSE(l->searchMaskView()->isHidden());
    l->searchBarTextDidChange(bar, "alp");
    EXPECT_TRUE(l->searchMaskView()->isHidden());
    EXPECT_EQ(l->itemList().size(), 1u);
    l->searchBarSearchButtonClicked(bar);  // the filter stays
    EXPECT_EQ(l->itemList().size(), 1u);
    l->searchBarTextDidChange(bar, "");
    EXPECT_FALSE(l->searchMaskView()->isHidden());
    EXPECT_EQ(l->itemList().size(), 2u);
    l->tapSearchMaskView();
    EXPECT_TRUE(l->searchMaskView()->isHidden());
    EXPECT_FALSE(l->searchString());
}

TEST_F(FilelistCellTest, TheHeaderFadesWhenScrolledUnderTheBar) {
    std::vector<std::shared_ptr<FilelistItem>> many;
    for (int i = 0; i < 30; ++i) many.push_back(book("b" + std::to_string(i) + ".zip", 0, 0));
    auto l = show(many);
    auto* tv = l->tableView();
    tv->setContentOffset(tv->minimumContentOffset(), false);
    driver->advance(0.6);
    EXPECT_TRUE(l->isHeaderCellSetVisible());
    auto* header = dynamic_cast<FilelistBaseViewHeaderCell*>(tv->cellForRowAtIndexPath({0, 0}));
    ASSERT_TRUE(header);
    EXPECT_FALSE(header->isHeaderHidden());
    tv->setContentOffset({0, tv->minimumContentOffset().y + 200}, false);
    driver->advance(0.6);
    EXPECT_FALSE(l->isHeaderCellSetVisible());
    EXPECT_TRUE(header->isHeaderHidden());
    EXPECT_EQ(header->searchBar()->alpha(), 0.0);
}

TEST_F(FilelistCellTest, ACloudChangeToAListedBookRebuildsTheList) {
    settings->setValueForKey("iCloudEnable", sys::PlistValue(true));
    auto a = book("a.zip", 0, 0);
    a->setNameHash(std::string("_bk_AAA"));
    auto l = show({a});
    const int before = l->rebuilds;
    auto post = [](std::vector<std::string> keys) {
        sys::NotificationCenter::defaultCenter().post(sys::CloudKeyValueStore::kDidChangeExternallyNotification, nullptr,
                                                      {{sys::CloudKeyValueStore::kChangedKeysKey, keys}});
    };
    post({"_bk_OTHER"});
    driver->advance(0.1);
    EXPECT_EQ(l->rebuilds, before);
    post({"_bk_OTHER", "_bk_AAA"});
    driver->advance(0.1);
    EXPECT_EQ(l->rebuilds, before + 1);
    // Off screen the list no longer listens.
    nav->pushViewController(std::make_shared<ui::ViewController>(), false);
    driver->advance(0.5);
    post({"_bk_AAA"});
    driver->advance(0.1);
    EXPECT_EQ(l->rebuilds, before + 1);
}

}  // namespace
