#include "LibraryTestSupport.h"

#include "library/BookshelfTopBottomAppendView.h"
#include "library/LocalFilelistViewController.h"
#include "platform/graphics/PangoTextEngine.h"
#include "platform/ui/NavigationBar.h"
#include "platform/ui/TableView.h"
#include "platform/ui/ViewController.h"

using librarytest::LibraryTest;
using Local = LocalFilelistViewController;

namespace {

class BookshelfAppendTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        textScope.reset();
        textScope = std::make_unique<gfx::TextEngine::Scope>(std::make_shared<gfx::PangoTextEngine>());
    }
    // Re-makes the window on the phone profile with this system version.
    void useSystem(const std::string& version) {
        window->setRootViewController(nullptr);
        driver.reset();
        window.reset();
        sys::DeviceProfile p = *sys::DeviceProfile::named("phone");
        p.darkMode = false;
        p.systemVersion = version;
        sys::DeviceProfile::setCurrent(p);
        ui::Application::shared().reset();
        ui::Screen::main().reset();
        window = std::make_shared<ui::Window>();
        window->makeKeyAndVisible();
        driver = std::make_unique<ui::test::Driver>(*window);
    }
    void books(int n) {
        for (int i = 0; i < n; ++i) touch(join(documents(), "Book " + std::to_string(i) + ".zip"));
    }
    void showRoot(bool shelf) {
        sys::UserDefaults::standard().setInteger(shelf ? 1 : 0, "bookshelfMode");
        root = std::make_shared<Local>();
        root->setIsRootViewController(true);
        root->setDontRestoreLastStatus(true);
        nav = std::make_shared<ui::NavigationController>(root);
        window->setRootViewController(nav);
        driver->advance(0.6);
    }
    // A row's bottom edge in the table's background view.
    double rowBottom(const ui::IndexPath& ip) {
        auto* tv = root->tableView();
        return tv->convertPointTo({0, tv->rectForRowAtIndexPath(ip).maxY()}, tv->backgroundView()).y;
    }
    void scrollTo(double y) {
        root->tableView()->setContentOffset({0, y}, false);
        driver->advance(0.1);
    }

    std::shared_ptr<Local> root;
    std::shared_ptr<ui::NavigationController> nav;
};

TEST_F(BookshelfAppendTest, PiecesJoinTheHeaderAndTheLastRowWhileScrolling) {
    books(3);
    showRoot(true);
    ASSERT_EQ(root->fileListViewMode(), 1);
    auto* top = root->bgBookshelfAppendImageViewTop();
    auto* bottom = root->bgBookshelfAppendImageViewBottom();
    ASSERT_TRUE(top && bottom);
    auto* tv = root->tableView();
    ASSERT_TRUE(tv->backgroundView());
    EXPECT_EQ(top->superview(), tv->backgroundView());
    EXPECT_EQ(top->cellCount(), 3);
    EXPECT_EQ(top->cellHeight(), 139.0);
    // Enough shelves below for twice the screen's height.
    EXPECT_GE(bottom->cellCount() * bottom->cellHeight(), 2 * ui::Screen::main().bounds().height());

    // Pulled past the top, the header's shelf and those above it follow.
    const int fillers = tv->numberOfRowsInSection(2);
    ASSERT_GT(fillers, 0);
    for (double y : {tv->minimumContentOffset().y - 120, tv->minimumContentOffset().y}) {
        scrollTo(y);
        ASSERT_FALSE(top->isHidden()) << y;
        EXPECT_DOUBLE_EQ(top->frame().maxY(), rowBottom({0, 0})) << y;
        EXPECT_DOUBLE_EQ(top->frame().height(), 3 * 139.0);
        EXPECT_DOUBLE_EQ(top->frame().width(), tv->bounds().width());
    }
    // The background itself stays put while the rows move.
    EXPECT_DOUBLE_EQ(tv->backgroundView()->frame().y(), tv->bounds().y());

    // Pulled past the end: the shelves continue under the last filler row.
    scrollTo(tv->maximumContentOffset().y + 150);
    ASSERT_TRUE(tv->cellForRowAtIndexPath({2, fillers - 1}));
    ASSERT_FALSE(bottom->isHidden());
    EXPECT_DOUBLE_EQ(bottom->frame().y(), rowBottom({2, fillers - 1}));
    EXPECT_GE(bottom->frame().maxY(), tv->backgroundView()->bounds().height());
    ASSERT_TRUE(window->snapshot(snapshotPath("bookshelf-pulled-past-end.png")));
    scrollTo(tv->minimumContentOffset().y - 120);
    ASSERT_TRUE(window->snapshot(snapshotPath("bookshelf-pulled-past-top.png")));

    // The list presentation shows neither.
    ASSERT_TRUE(tapText("List"));
    driver->advance(0.6);
    EXPECT_TRUE(top->isHidden());
    EXPECT_TRUE(bottom->isHidden());
}

TEST_F(BookshelfAppendTest, LongShelfFollowsTheLastBookRowAndHidesItsPiecesOffScreen) {
    books(40);  // 14 shelves of three: no fillers
    showRoot(true);
    auto* tv = root->tableView();
    ASSERT_EQ(tv->numberOfRowsInSection(2), 0);
    auto* top = root->bgBookshelfAppendImageViewTop();
    auto* bottom = root->bgBookshelfAppendImageViewBottom();
    scrollTo(tv->minimumContentOffset().y);
    EXPECT_FALSE(top->isHidden());
    EXPECT_TRUE(bottom->isHidden());  // the last shelf is far below
    const int rows = tv->numberOfRowsInSection(1);
    scrollTo(tv->maximumContentOffset().y + 100);
    EXPECT_TRUE(top->isHidden());  // the header is far above
    ASSERT_FALSE(bottom->isHidden());
    EXPECT_DOUBLE_EQ(bottom->frame().y(), rowBottom({1, rows - 1}));
}

TEST_F(BookshelfAppendTest, PiecesMadeInListModeHoldShelfHighCells) {
    books(2);
    showRoot(false);
    auto* top = root->bgBookshelfAppendImageViewTop();
    ASSERT_TRUE(top);
    EXPECT_TRUE(top->isHidden());
    scrollTo(root->tableView()->minimumContentOffset().y);
    ASSERT_TRUE(tapText("Bookshelf"));
    driver->advance(0.6);
    // Made once, with a shelf's height: list rows are 60 or 80 points.
    EXPECT_EQ(root->bgBookshelfAppendImageViewTop(), top);
    EXPECT_EQ(top->cellHeight(), root->getCellHeight());
    EXPECT_FALSE(top->isHidden());
}

TEST_F(BookshelfAppendTest, PicturesAreRemadeOnlyWhenTheWidthChanges) {
    auto shared = std::make_shared<BookshelfTopBottomAppendView>(139, 4);
    auto& piece = *shared;
    ASSERT_EQ(piece.cellImages().size(), 4u);
    piece.setFrame({0, 0, 390, 4 * 139});
    piece.layoutIfNeeded();
    EXPECT_EQ(piece.cellImages()[3]->frame(), ui::Rect(0, 3 * 139, 390, 139));
    piece.updateBgImage({0, 0, 390, 556});
    piece.updateBgImage({0, 0, 390, 100});
    EXPECT_EQ(piece.imageLoadCount(), 1);
    EXPECT_EQ(piece.loadedImageWidth(), 390);
    piece.updateBgImage({0, 0, 844, 556});
    EXPECT_EQ(piece.imageLoadCount(), 2);
    EXPECT_EQ(piece.loadedImageWidth(), 844);
    // A negative count from a degenerate screen makes no pieces rather than failing.
    EXPECT_TRUE(BookshelfTopBottomAppendView(139, -2).cellImages().empty());
}

TEST_F(BookshelfAppendTest, SystemTwentySixListsShowThroughABarWithoutBackground) {
    useSystem("26.0");
    books(3);
    showRoot(true);
    ui::NavigationBar* bar = nav->navigationBar();
    EXPECT_EQ(root->edgesForExtendedLayout(), unsigned(ui::RectEdgeAll));
    EXPECT_TRUE(root->extendedLayoutIncludesOpaqueBars());
    EXPECT_TRUE(bar->isTranslucent());
    // Over the dark wood the bar's title and buttons are light.
    EXPECT_EQ(bar->tintColor(), ui::Color::whiteColor());
    // The shelf leaves the bars' style alone on this system.
    EXPECT_EQ(bar->barStyle(), ui::BarStyle::Default);
    // The list reaches under the bar: its frame starts at the top of the window.
    EXPECT_EQ(root->tableView()->convertPointToWindow({0, root->tableView()->bounds().y()}).y, 0);
    // The bar draws nothing of its own: the pixel under the title row shows the shelf.
    window->render();
    const ui::Rect barFrame = bar->convertRectTo(bar->bounds(), nullptr);
    const auto px = pixelAt(4, barFrame.maxY() - 4);
    EXPECT_LT(px.r, 200) << "a light bar background is drawn";
    ASSERT_TRUE(window->snapshot(snapshotPath("bookshelf-system26.png")));

    // A screen pushed over the list may change the bar; coming back takes the look again.
    auto other = std::make_shared<ui::ViewController>();
    nav->pushViewController(other, false);
    driver->advance(0.6);
    bar->setTransparent(false);
    bar->setTintColor(std::nullopt);
    nav->popViewController(false);
    driver->advance(0.6);
    EXPECT_EQ(bar->tintColor(), ui::Color::whiteColor());
}

TEST_F(BookshelfAppendTest, EarlierSystemsKeepTheOpaqueBarAndDarkenItForTheShelf) {
    useSystem("18.0");
    books(3);
    showRoot(true);
    EXPECT_EQ(root->edgesForExtendedLayout(), unsigned(ui::RectEdgeNone));
    EXPECT_EQ(nav->navigationBar()->barStyle(), ui::BarStyle::Black);
    EXPECT_GT(root->tableView()->convertPointToWindow({0, root->tableView()->bounds().y()}).y, 0);
}

}  // namespace
