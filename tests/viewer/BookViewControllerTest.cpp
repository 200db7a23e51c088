#include "tests/viewer/ViewerFixture.h"

#include "foundation/BookCommon.h"
#include "platform/core/PropertyList.h"
#include "platform/ui/KeyCommand.h"
#include "tests/support/PdfBuilder.h"
#include "tests/support/PdfDrawWatch.h"

using namespace viewertest;

namespace {

class BookViewControllerTest : public ViewerTest {};

// ---- Opening ------------------------------------------------------------------------------------

TEST_F(BookViewControllerTest, OpensAtTheFitZoomWithTheSeekBarUnderThePage) {
    open(0);
    ASSERT_EQ(shownPage(), 0);
    // Phone, status bar hidden, seek bar at the bottom: the page area ends
    // 50 points plus the home-indicator inset above the bottom.
    EXPECT_EQ(area(), ui::Rect(0, 0, 390, 760));
    EXPECT_EQ(viewer->scrollView()->frame(), area());
    EXPECT_EQ(viewer->zoomMode(), BookViewController::kZoomFitImage);
    // 400 x 600 into 390 x 760: the width decides.
    EXPECT_NEAR(viewer->scrollView()->zoomScale(), 390.0 / 400, 1e-6);
    EXPECT_NEAR(viewer->userUseScale(), 390.0 / 400, 1e-6);
    ASSERT_NE(viewer->bookToolView(), nullptr);
    EXPECT_EQ(viewer->bookToolView()->frame().y(), 760);
    EXPECT_EQ(viewer->bookToolView()->numPages(), kPages);
    EXPECT_TRUE(nav->isNavigationBarHidden());
    // The book had no cover: one was made from the first page (the list is
    // told), and the list refreshes its thumbnails once more on opening.
    EXPECT_TRUE(sys::FileManager::fileExists(BookCommon::getThumbsFilename(bookPath(), false)));
    EXPECT_EQ(list.thumbs, 2);
    // The title went to the folder's last-reading file.
    auto last = sys::PropertyList::readArray(BookCommon::getLastReadingFileStoreFile(bookDir()));
    ASSERT_TRUE(last && last->size() == 1);
    EXPECT_EQ((*last)[0].asString(), "01.jpg");
}

TEST_F(BookViewControllerTest, AStartPageBeyondTheBookIsHeldToTheLastPage) {
    open(kPages - 1, 500);
    EXPECT_EQ(shownPage(), kPages - 1);
    EXPECT_EQ(viewer->page(), kPages - 1);
    // Jumps are held to the book as well.
    EXPECT_TRUE(viewer->movePage(4, -20, viewer->page()));
    pass();
    EXPECT_EQ(shownPage(), 0);
    EXPECT_FALSE(viewer->movePage(4, -1, 0)) << "the page already shown";
    viewer->bookToolViewMovePage(1000);
    pass();
    EXPECT_EQ(shownPage(), kPages - 1);
}

// ---- Turning pages -------------------------------------------------------------------------------

TEST_F(BookViewControllerTest, KeysTurnPagesInTheReadingDirection) {
    open(2);
    // Right-bound book: the next page lies to the left.
    driver->key(ui::KeyInput::leftArrow);
    pass();
    EXPECT_EQ(shownPage(), 3);
    driver->key(ui::KeyInput::rightArrow);
    pass();
    EXPECT_EQ(shownPage(), 2);
    driver->key(" ");
    pass();
    EXPECT_EQ(shownPage(), 3);
    // Backspace is "previous page" in the default shortcuts.
    driver->key(ui::KeyInput::backspace);
    pass();
    EXPECT_EQ(shownPage(), 2);
    // Home and End go to the ends of the book.
    driver->key(ui::KeyInput::end);
    pass();
    EXPECT_EQ(shownPage(), kPages - 1);
    driver->key(ui::KeyInput::home);
    pass();
    EXPECT_EQ(shownPage(), 0);
    driver->key(ui::KeyInput::leftArrow);
    pass();
    driver->key(ui::KeyInput::leftArrow);
    pass();
    ASSERT_EQ(shownPage(), 2);

    // Left-bound: the arrows swap.
    set("pageDirection", "right");
    settings->setTargetBook(bookPath());
    driver->key(ui::KeyInput::rightArrow);
    pass();
    EXPECT_EQ(shownPage(), 3);
    driver->key(ui::KeyInput::leftArrow);
    pass();
    EXPECT_EQ(shownPage(), 2);
}

// A view the session composed ahead is on the screen as the key is handled:
// no worker and no turn of the main loop between the key and the page.
TEST_F(BookViewControllerTest, AComposedAheadPageIsShownAsTheKeyIsHandled) {
    set("animation", "none");
    open(2);
    session->waitPreloadThread();
    settle();
    ASSERT_TRUE(window->sendKey(ui::KeyPress{ui::KeyInput::leftArrow, 0}));
    EXPECT_EQ(shownPage(), 3);
    EXPECT_FALSE(viewer->isPageMoveLoading());
    pass();
    EXPECT_EQ(shownPage(), 3);
    // The next turn finds its view composed ahead again.
    session->waitPreloadThread();
    settle();
    ASSERT_TRUE(window->sendKey(ui::KeyPress{ui::KeyInput::leftArrow, 0}));
    EXPECT_EQ(shownPage(), 4);
}

// A turn asked for while the page is still being drawn (a PDF page of one
// long path, as plans are drawn) turns away from it: its drawing is given up
// at once and the turn goes on from that page; asked for again, the page is
// drawn afresh, and Escape closes the book at once meanwhile.
TEST_F(BookViewControllerTest, ATurnAskedForWhileThePageIsDrawnTurnsAwayFromIt) {
    test::PdfBuilder b;
    for (int i = 0; i < 3; ++i) {
        test::PdfBuilder::Page p;
        p.mediaBox = "[0 0 600 800]";
        p.content = i == 1 ? test::PdfBuilder::strokes(8000) : test::PdfBuilder::fill(0, 0, 1, 0, 0, 600, 800);
        b.pages.push_back(p);
    }
    const std::string book = home.path() + "/Documents/plan.pdf";
    ASSERT_TRUE(b.write(book));
    settings->setTargetBook(book);
    set("animation", "none");
    set("isPreRead", false);
    open(0, -1, book);
    test::PdfDrawWatch draws;
    ASSERT_TRUE(window->sendKey(ui::KeyPress{ui::KeyInput::pageDown, 0}));
    driver->advance(0);
    ASSERT_TRUE(draws.waitForStarts(1));
    EXPECT_TRUE(viewer->activityIndicator());
    ASSERT_TRUE(window->sendKey(ui::KeyPress{ui::KeyInput::pageDown, 0}));
    pass();
    EXPECT_EQ(shownPage(), 2);
    EXPECT_EQ(draws.abandoned(), 1) << "the page turned away from was drawn to its end";

    ASSERT_TRUE(window->sendKey(ui::KeyPress{ui::KeyInput::pageUp, 0}));
    driver->advance(0);
    ASSERT_TRUE(draws.waitForStarts(3)) << "the page given up was not drawn again";
    ASSERT_TRUE(window->sendKey(ui::KeyPress{ui::KeyInput::escape, 0}));
    EXPECT_TRUE(viewer->isGoingCloseBook());
    ASSERT_TRUE(draws.waitForEnds(3));
    EXPECT_EQ(draws.abandoned(), 2) << "the close let the page be drawn to its end";
}

TEST_F(BookViewControllerTest, SwipesPastTheEdgeTurnPagesInTheReadingDirection) {
    open(2);
    const ui::Point mid = at(0.5, 0.5);
    // The pages on either side are composed ahead: the new page is on the
    // screen as the swipe is handled, and it lands where a key puts it,
    // not where the pulled page was held.
    session->waitPreloadThread();
    settle();
    // Right-bound: pulling past the left edge (finger moving right) goes forward.
    driver->drag(mid, {mid.x + 200, mid.y}, 0.2, {900, 0});
    pass();
    EXPECT_EQ(shownPage(), 3);
    EXPECT_EQ(viewer->imageViewDisplay()->frame().origin, ui::Point(0, 0));
    EXPECT_EQ(viewer->scrollView()->frame(), area());
    session->waitPreloadThread();
    settle();
    driver->drag(mid, {mid.x - 200, mid.y}, 0.2, {-900, 0});
    pass();
    EXPECT_EQ(shownPage(), 2);
    EXPECT_EQ(viewer->imageViewDisplay()->frame().origin, ui::Point(0, 0));

    set("pageDirection", "right");
    driver->drag(mid, {mid.x - 200, mid.y}, 0.2, {-900, 0});
    pass();
    EXPECT_EQ(shownPage(), 3);
    driver->drag(mid, {mid.x + 200, mid.y}, 0.2, {900, 0});
    pass();
    EXPECT_EQ(shownPage(), 2);

    // Swiping off: the page only bounces.
    set("isSwipeToPage", false);
    driver->drag(mid, {mid.x + 200, mid.y}, 0.2, {900, 0});
    pass();
    EXPECT_EQ(shownPage(), 2);
}

TEST_F(BookViewControllerTest, AMoveSlidesTheNewPageInAndRefusesASecondMoveMeanwhile) {
    open(2);
    ASSERT_TRUE(viewer->movePage(0));
    settleLoads();  // the page is loaded, the slide is under way
    ASSERT_TRUE(viewer->nowMovePageDo());
    EXPECT_TRUE(viewer->invalidTap());
    EXPECT_FALSE(viewer->shouldAutorotate());
    EXPECT_FALSE(viewer->movePage(0)) << "a second move during the slide";
    // Forward in a right-bound book: the new page comes in from the left.
    EXPECT_LT(viewer->scrollView()->presentationFrame().x(), 0);
    driver->advance(0.1);
    writeSnapshot("slide-forward-mid.png");
    pass(0.35);
    EXPECT_FALSE(viewer->nowMovePageDo());
    EXPECT_FALSE(viewer->invalidTap());
    EXPECT_EQ(viewer->scrollView()->frame(), area());
    EXPECT_EQ(shownPage(), 3);
    // The leaving screen is gone.
    int screens = 0;
    for (auto& v : viewer->view()->subviews())
        if (dynamic_cast<BookViewScreen*>(v.get())) ++screens;
    EXPECT_EQ(screens, 1);
    // The seek bar followed.
    EXPECT_EQ(viewer->bookToolView()->nowPage(), 3);
}

TEST_F(BookViewControllerTest, FastSwipeNoSlideAnimatesSwipesOnly) {
    set("animation", "fastSwipeNoSlide");
    open(2);
    viewer->doFunction(2);
    settleLoads();
    EXPECT_FALSE(viewer->nowMovePageDo()) << "a key or tap turns at once";
    EXPECT_EQ(shownPage(), 3);
    pass();
    const ui::Point mid = at(0.5, 0.5);
    driver->drag(mid, {mid.x + 200, mid.y}, 0.2, {900, 0});
    settleLoads();
    EXPECT_TRUE(viewer->nowMovePageDo()) << "a swipe slides";
    pass();
    EXPECT_EQ(shownPage(), 4);
}

TEST_F(BookViewControllerTest, ASlowPageShowsTheIndicatorAndTheMaskUntilItIsThere) {
    set("isPreRead", false);  // nothing is composed ahead
    open(0);
    driver->key(ui::KeyInput::leftArrow);
    ASSERT_NE(viewer->activityIndicator(), nullptr);
    ASSERT_NE(viewer->pageMoveMaskView(), nullptr);
    EXPECT_TRUE(viewer->isMovingPage());
    EXPECT_EQ(viewer->activityIndicator()->frame(), ui::Rect((390 - 32) / 2.0, (844 - 32) / 2.0, 32, 32));
    EXPECT_TRUE(viewer->activityIndicator()->isAnimating());
    EXPECT_FALSE(viewer->shouldAutorotate());
    // The mask takes every touch: a tap on the page reaches nothing.
    viewer->runFunctions = false;
    viewer->functions.clear();
    driver->touchDown(at(0.5, 0.5));
    driver->touchUp(at(0.5, 0.5));
    EXPECT_TRUE(viewer->functions.empty());
    EXPECT_TRUE(viewer->isMovingPage());
    viewer->runFunctions = true;
    // Reloads wait for the move.
    viewer->reloadPage(false);
    EXPECT_FALSE(viewer->isNowReloading());

    settleLoads();  // the move starts, its worker loads, the result lands
    EXPECT_EQ(viewer->activityIndicator(), nullptr);
    EXPECT_EQ(viewer->pageMoveMaskView(), nullptr);
    EXPECT_FALSE(viewer->isMovingPage());
    pass();
    EXPECT_EQ(shownPage(), 1);
    EXPECT_TRUE(viewer->shouldAutorotate());
}

TEST_F(BookViewControllerTest, TheEndsOfTheBookRefuseWithAMessageAndTheBookButton) {
    open(0);
    viewer->doFunction(3);
    EXPECT_EQ(viewer->labelMessage()->text(), "This is the first page.");
    EXPECT_EQ(viewer->calls, std::vector<std::string>{"prevBookButton"});
    pass(0.4);
    EXPECT_NEAR(viewer->labelMessage()->presentationAlpha(), 0.8, 1e-6);
    pass(2.2);
    EXPECT_NEAR(viewer->labelMessage()->presentationAlpha(), 0, 1e-6) << "a long message goes after 2 s";

    viewer->movePage(4, kPages - 1, 0);
    pass();
    viewer->calls.clear();
    viewer->doFunction(2);
    EXPECT_EQ(viewer->labelMessage()->text(), "This is the last page.");
    EXPECT_EQ(viewer->calls, std::vector<std::string>{"nextBookButton"});
    EXPECT_EQ(shownPage(), kPages - 1);
}

TEST_F(BookViewControllerTest, ANewerMessageIsNotHiddenByAnOlderTimer) {
    open(0);
    viewer->displayMessage("one", true);
    pass(1.5);
    viewer->displayMessage("two", false);
    pass(0.6);  // the first message's 2 s are over
    EXPECT_EQ(viewer->labelMessage()->text(), "two");
    EXPECT_NEAR(viewer->labelMessage()->alpha(), 0.8, 1e-6);
    pass(1.0);
    EXPECT_NEAR(viewer->labelMessage()->alpha(), 0, 1e-6);
}

TEST_F(BookViewControllerTest, EveryCompletedMoveStoresTheReadingPosition) {
    open(0);
    viewer->doFunction(2);
    pass();
    long page = -1, count = 0;
    bool second = true;
    ASSERT_TRUE(BookCommon::getFilePageInfoWithFilename(bookPath(), &page, &second, nullptr, nullptr, nullptr, &count,
                                                        nullptr, nullptr, false, nullptr, false));
    EXPECT_EQ(page, 1);
    EXPECT_EQ(count, kPages);
    EXPECT_FALSE(second);
    viewer->movePage(4, 6, 1);
    pass();
    ASSERT_TRUE(BookCommon::getFilePageInfoWithFilename(bookPath(), &page, nullptr, nullptr, nullptr, nullptr, nullptr,
                                                        nullptr, nullptr, false, nullptr, false));
    EXPECT_EQ(page, 6);
}

// The program's rotation lock holds on the reading screen as on the
// library's: locked, the screen keeps the orientation it was locked in
// (on a phone and on a tablet), and it turns again once unlocked.
TEST_F(BookViewControllerTest, TheRotationLockKeepsTheReadingScreenFromTurning) {
    open(0);
    BookCommon::onLoadSoftwareRotationLockSetting(true, 1);
    EXPECT_FALSE(window->rotate(ui::InterfaceOrientation::LandscapeLeft));
    EXPECT_EQ(window->orientation(), ui::InterfaceOrientation::Portrait);
    BookCommon::onLoadSoftwareRotationLockSetting(false, 1);
    ASSERT_TRUE(window->rotate(ui::InterfaceOrientation::LandscapeLeft));
    pass();
    BookCommon::onLoadSoftwareRotationLockSetting(true, 3);
    EXPECT_FALSE(window->rotate(ui::InterfaceOrientation::Portrait));
    EXPECT_EQ(window->orientation(), ui::InterfaceOrientation::LandscapeLeft);
    // A tablet's lock keeps either landscape, never a portrait.
    sys::DeviceProfile pad = sys::DeviceProfile::current();
    pad.idiom = sys::DeviceProfile::Idiom::Pad;
    sys::DeviceProfile::setCurrent(pad);
    EXPECT_FALSE(window->rotate(ui::InterfaceOrientation::Portrait));
    EXPECT_TRUE(window->rotate(ui::InterfaceOrientation::LandscapeRight));
    pass();
}

TEST_F(BookViewControllerTest, SingleAndSpreadPagesLookRight) {
    open(0);
    writeSnapshot("single-portrait.png");

    // Landscape with two-page display: two pages side by side.
    set("isDoubleTruck", true);
    settings->setTargetBook(bookPath());
    ASSERT_TRUE(window->rotate(ui::InterfaceOrientation::LandscapeLeft));
    pass();
    ASSERT_TRUE(viewer->displayBookPage());
    EXPECT_TRUE(viewer->displayBookPage()->is2PageLoaded);
    EXPECT_EQ(viewer->bookToolView(), nullptr) << "the bottom seek bar goes in landscape";
    writeSnapshot("spread-landscape.png");
    viewer->doFunction(2);
    pass();
    EXPECT_EQ(shownPage(), 2);
    EXPECT_TRUE(viewer->displayBookPage()->is2PageLoaded);
    writeSnapshot("spread-landscape-next.png");
}

}  // namespace
