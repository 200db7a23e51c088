// List rows in every state they can be in, with pictures of them, and the
// parts of the header and the sort selector that depend on the list's kind
// and presentation.
#include "LibraryTestSupport.h"

#include "foundation/ui/ColorDefine.h"
#include "library/FilelistBaseViewController.h"
#include "library/FilelistBaseViewDummyCell.h"
#include "library/FilelistBaseViewHeaderCell.h"
#include "library/FilelistBaseViewItemListModeCell.h"
#include "library/SortModeSelectedView.h"
#include "platform/graphics/PangoTextEngine.h"

using librarytest::LibraryTest;
using Cell = FilelistBaseViewItemListModeCell;
using Item = FilelistItem;
using ItemRef = std::shared_ptr<FilelistItem>;

namespace {

// A list whose rows are given; local or remote; records the header's calls.
class RowList : public FilelistBaseViewController {
public:
    ItemList items;
    int mode = 0;
    int downloadAll = 0;
    int downloadAllWithFolder = 0;
    std::set<int64_t> selected;
    bool downloadSelecting = false;
    int getFilelistMode() const override { return mode; }
    ItemList getFileListArray() override { return items; }
    double getHeaderHeight() const override { return 150; }
    bool isSelectedWithIndexNo(int64_t index) override { return selected.count(index) > 0; }
    bool isSelectDownloadMode() override { return downloadSelecting; }
    bool isCanEditItem(int64_t index) override { return items[size_t(index)]->type() != 7; }
    void onDownloadAll() override { ++downloadAll; }
    void onDownloadAllWithFolder() override { ++downloadAllWithFolder; }
};

ItemRef entry(int32_t type, const std::string& name) {
    auto i = std::make_shared<Item>();
    i->setType(type);
    i->setFilename(name);
    i->setPathFromBooks(name);
    i->setCreationDate(sys::Date::now());
    return i;
}
ItemRef book(const std::string& name, int64_t page, int64_t pages) {
    auto i = entry(1, name);
    i->setReadingPageNo(page);
    i->setNumberOfPages(pages);
    if (pages) i->setBookmarkDate(sys::Date::now());
    return i;
}
ItemRef remote(const std::string& name, int64_t size, int64_t cacheStatus) {
    auto i = entry(1, name);
    i->setLocation(Item::kRemote);
    i->setRemoteURL("https://example.invalid/" + name);
    i->setRemoteInfo(sys::PlistDictionary{{"booksize", sys::PlistValue(size)}});
    i->setCacheStatus(cacheStatus);
    return i;
}

class FilelistRowStatesTest : public LibraryTest {
protected:
    void usePango() {
        textScope.reset();
        textScope = std::make_unique<gfx::TextEngine::Scope>(std::make_shared<gfx::PangoTextEngine>());
    }
    std::shared_ptr<RowList> show(FilelistBaseViewController::ItemList items, int mode = 0) {
        auto l = std::make_shared<RowList>();
        l->items = std::move(items);
        l->mode = mode;
        nav = std::make_shared<ui::NavigationController>(l);
        window->setRootViewController(nav);
        driver->advance(0.5);
        l->needUpdateFilelist();
        driver->advance(0.6);
        return l;
    }
    // The visible row showing this item.
    Cell* rowOf(RowList&, const ItemRef& item) {
        for (auto* c : driver->findAllOf<Cell>(false))
            if (!c->book().empty() && c->book()[0].item() == item) return c;
        return nullptr;
    }
    FilelistBaseViewHeaderCell* header(RowList& l) {
        auto* tv = l.tableView();
        tv->setContentOffset(tv->minimumContentOffset(), false);
        driver->advance(0.6);
        return dynamic_cast<FilelistBaseViewHeaderCell*>(tv->cellForRowAtIndexPath({0, 0}));
    }
    std::shared_ptr<ui::NavigationController> nav;
};

TEST_F(FilelistRowStatesTest, FoldersAndSpecialEntriesInBothStyles) {
    usePango();
    auto plain = entry(0, "Comics");
    auto locked = entry(0, "Private");
    locked->setIsFolderLocked(true);
    auto scan = entry(0, "Scans");
    scan->setIsFolderScanFiles(true);
    auto noBackup = entry(0, "Big files");
    noBackup->setIsFolderNoBackupFlag(true);
    auto site = entry(5, "[Home] NAS share.shortcut");
    auto library = entry(6, ".BookLibrary");
    auto downloads = entry(7, "Downloads");
    auto shared = entry(8, "Shared Documents");
    auto l = show({downloads, shared, library, plain, locked, scan, noBackup, site});
    ASSERT_TRUE(window->snapshot(snapshotPath("rows-folders-detail.png")));

    Cell* c = rowOf(*l, locked);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->thumbsImageView()->image()->name(), "thumbs_folder_l_f");
    EXPECT_EQ(c->filenameLabel()->textColor(), ColorDefine::labelFolder());
    EXPECT_EQ(c->lineCount(), 1);
    c = rowOf(*l, shared);
    EXPECT_EQ(c->filenameLabel()->text(), "Shared Documents");
    EXPECT_EQ(c->infoLabel()->text(), "Files you put in the Documents folder");
    EXPECT_EQ(c->lineCount(), 2);
    EXPECT_EQ(rowOf(*l, library)->filenameLabel()->text(), "Leafbright Library");
    EXPECT_EQ(rowOf(*l, downloads)->infoLabel()->text(), "Kept apart from the Documents folder");
    // A shortcut shows its name without extension and its group below.
    c = rowOf(*l, site);
    EXPECT_EQ(c->filenameLabel()->text(), "NAS share");
    EXPECT_EQ(c->infoLabel()->text(), "Home");

    settings->setValueForKey("bookListStyle", sys::PlistValue("simple"));
    l->needUpdateFilelist();
    driver->advance(0.3);
    ASSERT_TRUE(window->snapshot(snapshotPath("rows-folders-simple.png")));
    c = rowOf(*l, scan);
    EXPECT_EQ(c->thumbsImageView()->image()->name(), "folder_scan_f");
    EXPECT_EQ(c->thumbsImageView()->frame(), ui::Rect(1, 14, 32, 32));
    EXPECT_EQ(c->filenameLabel()->frame().y(), 20);
    // In simple style without shortening a shortcut has no second line.
    settings->setValueForKey("isOptimizeFilename", sys::PlistValue(false));
    l->needUpdateFilelist();
    driver->advance(0.3);
    c = rowOf(*l, site);
    EXPECT_EQ(c->filenameLabel()->text(), "[Home] NAS share");
    EXPECT_FALSE(c->isInfoLine());
}

TEST_F(FilelistRowStatesTest, BooksByReadingStateWithTheLastReadMarked) {
    usePango();
    auto fresh = book("New arrival.zip", 0, 0);
    auto opened = book("Opened once.cbz", 0, 24);
    auto reading = book("[Circle] Halfway.zip", 11, 40);
    reading->setIsLastReadingFile(true);
    auto marked = book("With bookmark.cbz", 5, 30);
    marked->setIsExistBookmark(true);
    auto finished = book("Finished.zip", 19, 20);
    auto spread = book("Spread end.zip", 18, 20);
    spread->setIs2Pageloaded(true);
    auto chapter = book("Omnibus.zip", 3, 12);
    chapter->setReadingFolder(std::string("Vol 2"));
    auto pdf = entry(3, "Manual.pdf");
    pdf->setReadingPageNo(2);
    pdf->setNumberOfPages(9);
    auto grouped = book("[Author Name] My Long Title \u7b2c01\u5dfb (2020).cbz", 0, 0);
    auto l = show({fresh, opened, reading, marked, finished, spread, chapter, pdf, grouped});
    ASSERT_TRUE(window->snapshot(snapshotPath("rows-books-detail.png")));

    struct Want {
        ItemRef item;
        std::string page, status;
        int lines;
    };
    for (const auto& w : std::vector<Want>{{fresh, "", "book_new_s_f", 1},
                                           {opened, "", "book_new_s_f", 1},
                                           {reading, "12/40", "book_read1_s_f", 3},
                                           {marked, "6/30", "book_read1_b_s_f", 3},
                                           {finished, "20/20", "book_fin_s_f", 3},
                                           {spread, "19/20", "book_fin_s_f", 3},
                                           {chapter, "4/12", "book_folder_read1_s_f", 3},
                                           {pdf, "3/9", "book_read1_s_f", 3},
                                           {grouped, "", "book_new_s_f", 3}}) {
        Cell* c = rowOf(*l, w.item);
        ASSERT_TRUE(c) << *w.item->filename();
        EXPECT_EQ(c->pageLabel()->text(), w.page) << *w.item->filename();
        ASSERT_TRUE(c->statusIconImageView()->image()) << *w.item->filename();
        EXPECT_EQ(c->statusIconImageView()->image()->name(), w.status) << *w.item->filename();
        EXPECT_EQ(c->lineCount(), w.lines) << *w.item->filename();
        // The reading state shows, and the name lies below the dates.
        EXPECT_FALSE(c->statusIconImageView()->isHidden()) << *w.item->filename();
        EXPECT_GE(c->filenameLabel()->frame().y(), c->fileDateLabel()->frame().maxY()) << *w.item->filename();
    }
    // A shortened name keeps its group on the info line.
    EXPECT_EQ(rowOf(*l, grouped)->infoLabel()->text(), "Author Name");
    // Opened but still on its first page: no page text, the date shows.
    EXPECT_EQ(rowOf(*l, opened)->bookmarkDateLabel()->text(), "Today");
    EXPECT_EQ(rowOf(*l, fresh)->bookmarkDateLabel()->text(), "");
    EXPECT_EQ(rowOf(*l, reading)->backgroundColor(), ColorDefine::lastReadBookBackground());
    EXPECT_EQ(rowOf(*l, fresh)->backgroundColor(), ColorDefine::background());
    // A row being tapped is shaded across, not only beside its content.
    for (const auto& row : {fresh, reading}) {
        Cell* c = rowOf(*l, row);
        c->setHighlighted(true);
        window->render();
        const ui::Rect r = c->convertRectTo(c->bounds(), nullptr);
        const auto px = pixelAt(r.x() + r.width() / 2, r.maxY() - 5);
        EXPECT_TRUE(near(px, 209, 209, 214)) << *row->filename() << ": " << px.r << "," << px.g << "," << px.b;
        if (row == reading) {
            ASSERT_TRUE(window->snapshot(snapshotPath("rows-books-tapped.png")));
        }
        c->setHighlighted(false);
    }
    EXPECT_EQ(rowOf(*l, reading)->filenameLabel()->text(), "Halfway");
    EXPECT_EQ(rowOf(*l, reading)->infoLabel()->text(), "Circle");

    settings->setValueForKey("bookListStyle", sys::PlistValue("simple"));
    l->needUpdateFilelist();
    driver->advance(0.3);
    ASSERT_TRUE(window->snapshot(snapshotPath("rows-books-simple.png")));
    Cell* c = rowOf(*l, marked);
    EXPECT_EQ(c->thumbsImageView()->image()->name(), "book_read1_b_f");
    EXPECT_TRUE(c->pageLabel()->isHidden());
    EXPECT_TRUE(c->fileDateLabel()->isHidden());
    EXPECT_EQ(c->fileSizeView()->alpha(), 0.0);  // local files show no size
}

TEST_F(FilelistRowStatesTest, RemoteFilesInDownloadModeLookDownloadableUntilStreaming) {
    usePango();
    auto whole = remote("Cached whole.zip", 52428800, 2);
    auto part = remote("Cached part.cbz", 1048576, 1);
    auto none = remote("Not cached.zip", 2048, 0);
    auto folder = entry(0, "Remote folder");
    folder->setLocation(Item::kRemote);
    auto l = show({whole, part, none, folder}, 1);
    ASSERT_FALSE(l->isStreamingMode());
    ASSERT_TRUE(window->snapshot(snapshotPath("rows-remote-download.png")));

    Cell* c = rowOf(*l, part);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->filenameLabel()->text(), "Cached part.cbz");  // remote names keep their extension
    EXPECT_EQ(c->filenameLabel()->textColor(), ColorDefine::labelGray());
    EXPECT_EQ(c->fileSizeView()->text(), "1.00MB");
    EXPECT_EQ(c->fileSizeView()->alpha(), 1.0);
    EXPECT_EQ(c->downloadIconView()->alpha(), 1.0);
    EXPECT_EQ(c->pageLabel()->alpha(), 0.0);
    EXPECT_EQ(c->bookmarkDateLabel()->alpha(), 0.0);
    EXPECT_EQ(c->cacheStatusImageView()->alpha(), 0.0);
    ASSERT_TRUE(c->cacheStatusImageView()->image());
    EXPECT_EQ(c->cacheStatusImageView()->image()->name(), "cache_incomplete");
    EXPECT_EQ(rowOf(*l, whole)->cacheStatusImageView()->image()->name(), "cache");
    EXPECT_FALSE(rowOf(*l, none)->cacheStatusImageView()->image());
    // Folders always open.
    EXPECT_EQ(rowOf(*l, folder)->downloadIconView()->alpha(), 0.0);

    // Where the badge and the icons sit.
    const double W = c->contentView()->bounds().width();
    const double w = W - 34;
    EXPECT_EQ(c->cacheStatusImageView()->frame(), ui::Rect(w + 10 - 22, 12, 32, 16));
    EXPECT_EQ(c->downloadIconView()->frame(), ui::Rect(62, 10, 20, 20));
    EXPECT_EQ(c->downloadIconView()->frame(), c->statusIconImageView()->frame());

    // Streaming: the same cells change in place, without a reload.
    l->onChangeBookShelfMode(1);
    driver->advance(0.5);
    EXPECT_TRUE(l->isStreamingMode());
    Cell* same = rowOf(*l, part);
    EXPECT_EQ(same, c);
    EXPECT_EQ(c->downloadIconView()->alpha(), 0.0);
    EXPECT_EQ(c->fileSizeView()->alpha(), 0.0);
    EXPECT_EQ(c->pageLabel()->alpha(), 1.0);
    EXPECT_EQ(c->cacheStatusImageView()->alpha(), 1.0);
    ASSERT_TRUE(window->snapshot(snapshotPath("rows-remote-streaming.png")));

    // The simple style puts the badge under the icon.
    settings->setValueForKey("bookListStyle", sys::PlistValue("simple_remote"));
    l->needUpdateFilelist();
    driver->advance(0.3);
    c = rowOf(*l, part);
    EXPECT_EQ(c->cacheStatusImageView()->frame(), ui::Rect(1, 35, 32, 16));
    EXPECT_EQ(c->downloadIconView()->frame(), ui::Rect(7, 20, 20, 20));
    EXPECT_EQ(c->fileSizeView()->alpha(), 1.0);  // remote files show their size
}

TEST_F(FilelistRowStatesTest, EditAndSelectionMarks) {
    usePango();
    auto a = book("Alpha.zip", 3, 10);
    auto b = book("Beta.zip", 0, 0);
    auto d = entry(7, "Downloads");
    auto l = show({a, b, d});
    Cell* c = rowOf(*l, a);
    ASSERT_TRUE(c);
    // Outside editing the mark is there but invisible.
    EXPECT_EQ(c->selectIconImageView()->image()->name(), "book_notselect_f");
    EXPECT_EQ(c->selectIconImageView()->alpha(), 0.0);
    EXPECT_TRUE(c->selectedItemBackgroundView()->isHidden());

    l->selected = {0};
    c->setIsEditMode(true);
    c->book()[0].setIsSelected(true);
    c->book()[0].setIsCanSelected(true);
    c->modeChangeWithAnimation();
    driver->advance(0.5);
    EXPECT_EQ(c->selectIconImageView()->image()->name(), "book_select_f");
    EXPECT_EQ(c->selectIconImageView()->alpha(), 1.0);
    // Everything moves right to make room for the mark.
    EXPECT_EQ(c->thumbsImageView()->frame().x(), 51);
    EXPECT_EQ(c->selectIconImageView()->frame(), ui::Rect(13, 24, 32, 32));
    EXPECT_EQ(c->accessoryType(), ui::TableViewCellAccessoryType::None);

    c->book()[0].setIsCanSelected(false);
    c->setupSelectedImage();
    EXPECT_FALSE(c->selectIconImageView()->image());

    // Choosing files to download paints the chosen row.
    c->book()[0].setIsSelected(true);
    c->setIsSelectDownloadMode(true);
    c->setupSelectedImage();
    EXPECT_FALSE(c->selectedItemBackgroundView()->isHidden());
    EXPECT_EQ(c->selectedItemBackgroundView()->frame(), c->contentView()->bounds());
    c->book()[0].setIsCanSelected(true);
    c->setupSelectedImage();
    ASSERT_TRUE(window->snapshot(snapshotPath("rows-edit.png")));

    c->setIsEditMode(false);
    c->modeChangeWithAnimation();
    driver->advance(0.5);
    EXPECT_EQ(c->selectIconImageView()->alpha(), 0.0);
    EXPECT_EQ(c->thumbsImageView()->frame().x(), 1);
}

TEST_F(FilelistRowStatesTest, TheRemoteHeaderOffersDownloadingEverything) {
    auto l = show({remote("a.zip", 1, 0)}, 1);
    auto* h = header(*l);
    ASSERT_TRUE(h);
    ASSERT_TRUE(h->downloadAllButton() && h->downloadAllWithFolderButton());
    EXPECT_EQ(ui::test::Driver::textOf(*h->downloadAllButton()), "Download all files");
    EXPECT_EQ(ui::test::Driver::textOf(*h->downloadAllWithFolderButton()), "Create a folder and download all");
    const double W = h->bounds().width(), H = h->bounds().height();
    EXPECT_EQ(h->downloadAllButton()->frame(), ui::Rect(0, H - 100, W, 50));
    EXPECT_EQ(h->downloadAllWithFolderButton()->frame(), ui::Rect(0, H - 50, W, 50));
    // The search bar and the selector move up to make room.
    EXPECT_EQ(h->searchBar()->frame().y(), H - 195);
    EXPECT_EQ(h->segmentSortModeSelect()->frame().y(), H - 140);
    EXPECT_EQ(h->segmentListModeSelect()->numberOfSegments(), 3);
    EXPECT_EQ(h->segmentSortModeSelect()->labelText(3), "Original");

    h->downloadAllButton()->sendActions(ui::ControlEventTouchUpInside);
    h->downloadAllWithFolderButton()->sendActions(ui::ControlEventTouchUpInside);
    EXPECT_EQ(l->downloadAll, 1);
    EXPECT_EQ(l->downloadAllWithFolder, 1);

    // Fading with the controls; the line under the row stays.
    h->setHeaderHidden(true, true);
    driver->advance(0.6);
    EXPECT_EQ(h->downloadAllButton()->alpha(), 0.0);
    EXPECT_EQ(h->separator2()->alpha(), 0.0);
    EXPECT_EQ(h->separator1()->alpha(), 1.0);
    EXPECT_EQ(h->segmentListModeSelect()->alpha(), 0.0);
}

TEST_F(FilelistRowStatesTest, TheLocalHeaderHasNoDownloadButtonsAndHidesTheReloadButtonWhenNarrow) {
    auto l = show({book("a.zip", 0, 0)});
    auto* h = header(*l);
    ASSERT_TRUE(h);
    EXPECT_FALSE(h->downloadAllButton());
    EXPECT_EQ(h->segmentListModeSelect()->numberOfSegments(), 2);
    EXPECT_EQ(h->segmentSortModeSelect()->labelText(3), "User");
    EXPECT_FALSE(h->thumbsReCreateButton()->isHidden());
    EXPECT_EQ(h->thumbsReCreateButton()->frame(), ui::Rect((h->bounds().width() - 250) / 2 - 52, 23, 32, 32));
    h->setFrame({0, 0, 300, 150});
    h->layoutSubviews();
    EXPECT_TRUE(h->thumbsReCreateButton()->isHidden());
}

TEST_F(FilelistRowStatesTest, FillerRowsShowShelvesOnlyOnTheBookshelf) {
    auto l = show({book("a.zip", 0, 0)});
    ASSERT_GT(l->dummyCellCount(), 0);
    auto* filler = dynamic_cast<FilelistBaseViewDummyCell*>(l->tableView()->cellForRowAtIndexPath({2, 0}));
    ASSERT_TRUE(filler);
    filler->layoutSubviews();
    EXPECT_FALSE(filler->separator()->isHidden());
    EXPECT_TRUE(filler->bgImageView()->isHidden());
    filler->setFileListMode(1);
    filler->layoutSubviews();
    EXPECT_TRUE(filler->separator()->isHidden());
    EXPECT_FALSE(filler->bgImageView()->isHidden());
}

// ---- The sort selector ------------------------------------------------------------------------------

TEST_F(FilelistRowStatesTest, SortSelectorArrowsColoursAndLayout) {
    auto l = std::make_shared<RowList>();
    SortModeSelectedView v(l.get());
    v.setFrame({0, 0, 401, 40});
    v.layoutSubviews();
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(v.button(k)->frame(), ui::Rect(100.0 * k + 1, 1, 99, 38)) << k;
        EXPECT_EQ(v.button(k)->tag(), k);
    }
    EXPECT_EQ(v.labelText(0), "\u25BCName");
    EXPECT_EQ(v.labelText(1), "Date");
    // The dark look keeps the system grey behind the selected title; the
    // light look takes a deeper one (the snapshot tests measure both).
    EXPECT_EQ(v.button(0)->backgroundColor().dark(), ColorDefine::sortmodeSelectSegmentSelected().dark());
    EXPECT_EQ(v.button(1)->backgroundColor(), ColorDefine::sortmodeSelectSegmentBg());
    EXPECT_EQ(v.backgroundColor(), ColorDefine::backgroundSortModeSelectView());

    struct Heard : SortModeSelectedViewDelegate {
        std::vector<std::tuple<int, bool, bool>> got;
        void onSelectSortMode(int m, bool d, bool b) override { got.emplace_back(m, d, b); }
    } heard;
    v.setDelegate(&heard);
    // A first tap on another mode keeps the direction; a second flips it.
    v.setIsDescendingOrder(true);
    v.onButtonSelect(2);
    EXPECT_EQ(heard.got.back(), std::make_tuple(2, true, false));
    EXPECT_EQ(v.labelText(2), "\u25B2Status");
    EXPECT_EQ(v.labelText(0), "Name");
    v.onButtonSelect(2);
    EXPECT_EQ(heard.got.back(), std::make_tuple(2, false, false));
    // The bookmark-date kind has hollow arrows.
    v.onButtonSelect(1);
    v.onButtonSelect(1);
    EXPECT_EQ(heard.got.back(), std::make_tuple(1, true, false));
    v.onButtonSelect(1);
    EXPECT_EQ(heard.got.back(), std::make_tuple(1, false, true));
    EXPECT_EQ(v.labelText(1), "\u25BDBookmark");
    v.onButtonSelect(1);
    EXPECT_EQ(v.labelText(1), "\u25B3Bookmark");
    v.onButtonSelect(1);
    EXPECT_EQ(heard.got.back(), std::make_tuple(1, false, false));
    EXPECT_EQ(v.labelText(1), "\u25BCDate");

    // On the bookshelf: a clear row of translucent buttons.
    l->setFileListViewMode(1);
    SortModeSelectedView shelf(l.get());
    EXPECT_EQ(shelf.backgroundColor(), ui::Color::clear());
    EXPECT_EQ(shelf.button(0)->backgroundColor(), ui::Color::rgb(0.45, 0.45, 0.45, 0.6));
    EXPECT_EQ(shelf.button(1)->backgroundColor(), ui::Color::rgb(1, 1, 1, 0.6));
}

}  // namespace
