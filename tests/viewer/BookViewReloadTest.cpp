#include "tests/viewer/ViewerFixture.h"

#include "platform/core/Clock.h"
#include "platform/ui/Button.h"
#include "platform/ui/RecordingPhotoAlbum.h"
#include "viewer/PageReload.h"
#include "viewer/StreamStatusOverlay.h"

#include <thread>

using namespace viewertest;

namespace {

// Sharper reloads, closing, saving a page and the seek bar's moves.
class BookViewReloadTest : public ViewerTest {
protected:
    void TearDown() override {
        ui::PhotoAlbum::setShared(nullptr);
        ViewerTest::TearDown();
    }
};

TEST_F(BookViewReloadTest, APinchEndReloadsThePageAtTheNewSize) {
    open(2);
    const auto before = viewer->displayBookPage();
    const int reloads = viewer->reloadCount();
    viewer->scrollView()->setZoomScale(2.0, true);  // ends like a pinch: didEndZooming
    pass();
    EXPECT_EQ(viewer->reloadCount(), reloads + 1);
    EXPECT_FALSE(viewer->isNowReloading());
    ASSERT_NE(viewer->displayBookPage(), before);
    EXPECT_EQ(viewer->displayBookPage()->targetPage, 2);
    EXPECT_NEAR(viewer->scrollView()->zoomScale(), 2.0, 0.01);
    EXPECT_NEAR(viewer->userUseScale(), 2.0, 1e-9);
    // The sharper image holds more pixels (up to the device's budget).
    EXPECT_GT(viewer->displayBookPage()->image->width(), before->image->width() * 1.3);
    EXPECT_NE(viewer->imageViewDisplay(), nullptr);
}

// Zoomed, the pair on the screen stays the pages it shows, also after a
// one-page step moved it off the pairs paging from the start makes.
TEST_F(BookViewReloadTest, APinchEndKeepsThePagesOfThePairShown) {
    set("isDoubleTruck", true);
    set("isSingleViewFirstPage", true);
    window->setOrientation(ui::InterfaceOrientation::LandscapeLeft);
    open(1);
    ASSERT_TRUE(viewer->displayBookPage()->is2PageLoaded);
    ASSERT_TRUE(viewer->movePage(2, 0, 0));
    pass();
    ASSERT_EQ(shownPage(), 2);
    ASSERT_TRUE(viewer->displayBookPage()->is2PageLoaded);
    const auto before = viewer->displayBookPage();
    viewer->scrollView()->setZoomScale(2.0, true);
    pass();
    ASSERT_NE(viewer->displayBookPage(), before) << "reloaded";
    EXPECT_EQ(shownPage(), 2);
    EXPECT_EQ(viewer->page(), 2);
    EXPECT_TRUE(viewer->displayBookPage()->is2PageLoaded);
}

TEST_F(BookViewReloadTest, AReloadOvertakenByAMoveNeverReplacesTheNewPage) {
    open(2);
    viewer->reloadPage(false);
    ASSERT_TRUE(viewer->isNowReloading());
    ASSERT_TRUE(viewer->movePage(0));  // the next page was preloaded: the move starts at once
    EXPECT_FALSE(viewer->isNowReloading()) << "the move dropped the reload";
    pass();
    EXPECT_EQ(shownPage(), 3);
    EXPECT_EQ(viewer->page(), 3);
    pass();
    EXPECT_EQ(shownPage(), 3) << "a late reload result of page 2 is dropped";

    // Reloads are not stuck after the cancel.
    const int reloads = viewer->reloadCount();
    viewer->reloadPage(false);
    EXPECT_TRUE(viewer->isNowReloading());
    pass();
    EXPECT_EQ(viewer->reloadCount(), reloads + 1);
    EXPECT_FALSE(viewer->isNowReloading());
    EXPECT_EQ(shownPage(), 3);
}

TEST_F(BookViewReloadTest, NoReloadIsQueuedWhileAMoveLoads) {
    set("isPreRead", false);
    open(2);
    viewer->doFunction(2);
    ASSERT_TRUE(viewer->isMovingPage());
    viewer->reloadPage(false);
    EXPECT_FALSE(viewer->isNowReloading());
    driver->advance(0);  // the move starts its worker
    if (viewer->isPageMoveLoading()) {
        viewer->reloadPage(false);
        EXPECT_FALSE(viewer->isNowReloading());
    }
    pass();
    EXPECT_EQ(shownPage(), 3);
}

TEST_F(BookViewReloadTest, AReloadLoadsWithoutTheMainThread) {
    open(2);
    BookViewController::ReloadInput in;
    in.reader = session;
    in.loadLock = std::make_shared<std::mutex>();
    in.rect = area();
    in.contentSize = viewer->scrollView()->contentSize();
    in.zoomScale = viewer->scrollView()->zoomScale();
    in.zoomModeForRotation = 4;
    in.displayPage = viewer->displayBookPage();
    in.page = 2;
    // The main thread is blocked on the join: a reload that asked it for
    // anything would never finish.
    BookViewController::ReloadOutput out;
    std::thread worker([&] { out = BookViewController::reloadPageDo(in, nullptr); });
    worker.join();
    ASSERT_TRUE(out.page);
    EXPECT_EQ(out.page->targetPage, 2);
    EXPECT_EQ(out.basedOn, viewer->displayBookPage());
    // Fit inside the shown content less the page's letterbox: the same size.
    EXPECT_NEAR(out.page->zoomScale, viewer->scrollView()->zoomScale(), 0.01);

    // Cancelled while waiting for the load lock: it loads nothing.
    sys::Operation cancelled([](const sys::Operation&) {});
    cancelled.cancel();
    std::unique_lock held(*in.loadLock);
    std::thread waiting([&] { out = BookViewController::reloadPageDo(in, &cancelled); });
    held.unlock();
    waiting.join();
    EXPECT_FALSE(out.page);
}

TEST_F(BookViewReloadTest, ClosingPopsTheScreenClosesTheBookAndForgetsTheLastBook) {
    const std::string marker = BookCommon::getLastBookSettingFilePath();
    std::filesystem::create_directories(std::filesystem::path(marker).parent_path());
    ASSERT_TRUE(sys::FileManager::writeFile(marker, "x"));
    open(3);
    viewer->doFunction(13);
    pass();
    EXPECT_EQ(nav->viewControllers().size(), 1u);
    EXPECT_EQ(list.finished, std::vector<std::string>{bookPath()});
    EXPECT_EQ(session->getPageNum(), 0) << "the session is closed";
    EXPECT_FALSE(sys::FileManager::fileExists(BookCommon::getLastBookSettingFilePath()));
    EXPECT_FALSE(nav->isNavigationBarHidden());
    EXPECT_TRUE(viewer->keyCommands().empty());
    // A second close changes nothing (the list stays).
    viewer->closeBookWithByuser(true);
    pass();
    EXPECT_EQ(nav->viewControllers().size(), 1u);
}

TEST_F(BookViewReloadTest, ClosingWhileASlowPageLoadsLeavesNothingLocked) {
    set("isPreRead", false);
    open(3);
    viewer->doFunction(2);
    ASSERT_NE(viewer->pageMoveMaskView(), nullptr);
    viewer->closeBookWithByuser(false);
    EXPECT_EQ(viewer->pageMoveMaskView(), nullptr);
    EXPECT_EQ(viewer->activityIndicator(), nullptr);
    pass();
    EXPECT_EQ(nav->viewControllers().size(), 1u);
    // The temporary rotation lock of the move was given back.
    EXPECT_TRUE(window->rotate(ui::InterfaceOrientation::LandscapeLeft));
}

TEST_F(BookViewReloadTest, NextBookAsksTheListAndClosesWhenThereIsNone) {
    open(3);
    viewer->doFunction(22);
    pass();
    EXPECT_EQ(list.reopenAsked, std::vector<bool>{true});
    EXPECT_EQ(nav->viewControllers().size(), 1u);
}

TEST_F(BookViewReloadTest, SaveImageOffersTheShownAndTheOriginalSizes) {
    auto album = std::make_shared<ui::RecordingPhotoAlbum>();
    ui::PhotoAlbum::setShared(album);
    open(2);
    viewer->doFunction(21);
    ASSERT_TRUE(viewer->pendingAlert());
    const auto page = viewer->displayBookPage();
    const int vw = int(page->image->width() - 2 * page->offset.x * 3);
    const int vh = int(page->image->height() - 2 * page->offset.y * 3);
    EXPECT_EQ(viewer->pendingAlert()->message, "Do you want to save this image?");
    EXPECT_EQ(viewer->pendingAlert()->buttons,
              (std::vector<std::string>{"Cancel", "ViewSize(" + std::to_string(vw) + " x " + std::to_string(vh) + ")",
                                        "OriginalSize(400 x 600)"}));
    // The shown image without its letterbox.
    viewer->alertViewClickedButtonAtIndex(1);
    pass();
    ASSERT_EQ(album->saved.size(), 1u);
    EXPECT_EQ(album->saved[0]->width(), vw);
    EXPECT_EQ(album->saved[0]->height(), vh);
    EXPECT_EQ(viewer->labelMessage()->text(), "The image has been saved.");
    // The original.
    viewer->doFunction(21);
    viewer->alertViewClickedButtonAtIndex(2);
    pass();
    ASSERT_EQ(album->saved.size(), 2u);
    EXPECT_EQ(album->saved[1]->width(), 400);
    // Cancel saves nothing; a failing album says so.
    viewer->doFunction(21);
    viewer->alertViewClickedButtonAtIndex(0);
    pass();
    EXPECT_EQ(album->saved.size(), 2u);
    album->fail = true;
    viewer->doFunction(21);
    viewer->alertViewClickedButtonAtIndex(2);
    pass();
    EXPECT_EQ(viewer->labelMessage()->text(), "Error Saving Image");
}

TEST_F(BookViewReloadTest, SaveImageOfASpreadNamesItsSidesByTheBinding) {
    auto album = std::make_shared<ui::RecordingPhotoAlbum>();
    ui::PhotoAlbum::setShared(album);
    set("isDoubleTruck", true);
    settings->setTargetBook(bookPath());
    window->setOrientation(ui::InterfaceOrientation::LandscapeLeft);
    open(6);
    ASSERT_TRUE(viewer->displayBookPage()->is2PageLoaded);
    viewer->doFunction(21);
    ASSERT_TRUE(viewer->pendingAlert());
    auto buttons = viewer->pendingAlert()->buttons;
    ASSERT_EQ(buttons.size(), 4u);
    // Right-bound: the first page is on the right.
    EXPECT_EQ(buttons[2], "Right(400 x 600)");
    EXPECT_EQ(buttons[3], "Left(400 x 600)");
    // The second page of the spread is the book's last: saved as it is.
    viewer->alertViewClickedButtonAtIndex(3);
    pass();
    ASSERT_EQ(album->saved.size(), 1u);
}

TEST_F(BookViewReloadTest, TheSaveQuestionIsAskedWithTheToolkitsAlert) {
    auto album = std::make_shared<ui::RecordingPhotoAlbum>();
    ui::PhotoAlbum::setShared(album);
    open(2);
    // A plain screen, showing its real alert.
    auto plain = std::make_shared<BookViewController>();
    plain->setBookReader(session);
    plain->setFileName(bookPath());
    plain->setPage(2);
    plain->setSettings(settings);
    nav->pushViewController(plain, false);
    settle();
    plain->doFunction(21);
    pass();
    ui::View* original = driver->findByText("OriginalSize(400 x 600)");
    ASSERT_NE(original, nullptr);
    driver->tap(*original);
    pass();
    ASSERT_EQ(album->saved.size(), 1u);
    EXPECT_EQ(album->saved[0]->width(), 400);
    nav->popViewController(false);
    settle();
}

TEST_F(BookViewReloadTest, TheSeekBarMovesPagesAndAHeldButtonKeepsTurning) {
    open(0);
    BookToolView& bar = *viewer->bookToolView();
    viewer->bookToolViewMovePage(5);
    pass();
    EXPECT_EQ(shownPage(), 5);
    // A tap on the left button of a right-bound book goes forward.
    driver->tap(bar.leftOrTopButton());
    pass();
    EXPECT_EQ(shownPage(), 6);
    driver->tap(bar.rightOrBottomButton());
    pass();
    EXPECT_EQ(shownPage(), 5);

    // Held: a page after a second, then one after each completed move.
    const ui::Point right = driver->centerOf(bar.rightOrBottomButton());
    driver->touchDown(right);
    driver->advance(1.05);
    pass(0.5);
    const int afterFirst = shownPage();
    EXPECT_LT(afterFirst, 5);
    pass(1.0);
    EXPECT_LT(shownPage(), afterFirst) << "still held: it keeps turning";
    driver->touchUp(right);
    pass();
    const int stopped = shownPage();
    pass();
    EXPECT_EQ(shownPage(), stopped);
}

TEST_F(BookViewReloadTest, FunctionsThatChangeTheBookSettingsReload) {
    open(2);
    const int reloads = viewer->reloadCount();
    viewer->doFunction(20);
    pass();
    EXPECT_EQ(settings->pageDirection_Local(), 1);
    EXPECT_EQ(viewer->labelMessage()->text(), "Reading Direction: Left to Right");
    EXPECT_EQ(viewer->reloadCount(), reloads + 1);
    viewer->doFunction(19);
    pass();
    EXPECT_TRUE(settings->isDoubleTruck_Local());
    EXPECT_EQ(viewer->labelMessage()->text(), "Display Double Page: ON");
    EXPECT_EQ(viewer->reloadCount(), reloads + 2);
    // Function 24: to the second reading position and back.
    viewer->movePage(4, 5, 2);
    pass();
    viewer->doFunction(24);
    pass();
    EXPECT_EQ(shownPage(), 0);
    EXPECT_EQ(viewer->subReadingPage(), 5);
    EXPECT_TRUE(viewer->isSelectedSubReadingPage());
    viewer->doFunction(24);
    pass();
    EXPECT_EQ(shownPage(), 5);
    EXPECT_FALSE(viewer->isSelectedSubReadingPage());
}

}  // namespace

namespace {

// The overlay the remote sources install for streamed books.
class FakeOverlay : public StreamStatusOverlay {
public:
    std::shared_ptr<ui::View> v = std::make_shared<ui::View>();
    std::vector<uint16_t> map;
    int blocks = 0;
    bool vertical = false;
    std::shared_ptr<ui::View> view() override { return v; }
    void updateCacheStatus(uint64_t count, const uint16_t* m, bool) override { map.assign(m, m + count); }
    void updateCacheBlock(int64_t, int64_t, int64_t, int64_t) override { ++blocks; }
    void setIsVerticalWritting(bool on) override { vertical = on; }
};

// Makes the screen's overlays fakes for as long as it lives, and keeps the last one made.
struct OverlayCatcher {
    std::shared_ptr<FakeOverlay> overlay;
    OverlayCatcher() {
        BookViewController::setStreamStatusOverlayFactory([this](const ui::Rect& frame, BookViewController&) {
            overlay = std::make_shared<FakeOverlay>();
            overlay->v->setFrame(frame);
            return overlay;
        });
    }
    ~OverlayCatcher() { BookViewController::setStreamStatusOverlayFactory(nullptr); }
    OverlayCatcher(const OverlayCatcher&) = delete;
    OverlayCatcher& operator=(const OverlayCatcher&) = delete;
};

TEST_F(BookViewReloadTest, AStreamedBookShowsItsOverlayWhileAPageLoadsAndCanBeLeft) {
    OverlayCatcher caught;
    std::shared_ptr<FakeOverlay>& overlay = caught.overlay;
    set("isPreRead", false);
    open(2);
    viewer->setIsStreamingMode(true);
    // The stream's reports come from its own thread: they are kept on the main one.
    const uint16_t map[3] = {1, 0, 1};
    std::thread stream([&] { viewer->updateCacheStatus(3, map, false); });
    stream.join();
    settle();

    viewer->doFunction(2);
    ASSERT_TRUE(overlay);
    EXPECT_TRUE(overlay->v->superview() == viewer->view());
    EXPECT_EQ(overlay->map, (std::vector<uint16_t>{1, 0, 1}));
    EXPECT_TRUE(overlay->vertical) << "the next page lies to the left";
    viewer->updateCacheBlock(1, 262144, 0, 3);
    EXPECT_EQ(overlay->blocks, 1);

    // Disconnect: the pending move ends by closing the book.
    viewer->onCancelStreaming();
    pass();
    EXPECT_EQ(overlay->v->superview(), nullptr);
    EXPECT_EQ(nav->viewControllers().size(), 1u);
}

// Blocks that came before the screen watched the stream (the first page's,
// the directory's) are only known to the session: the overlay starts from them.
TEST_F(BookViewReloadTest, TheOverlayStartsFromTheMapTheSessionHeardBeforeTheScreenWatched) {
    OverlayCatcher caught;
    std::shared_ptr<FakeOverlay>& overlay = caught.overlay;
    set("isPreRead", false);
    open(2);
    viewer->setIsStreamingMode(true);
    session->setTargetForOnlineStatus({});
    const uint16_t early[] = {1, 0, 0, 1};
    session->updateCacheStatus(4, early, false);
    viewer->doFunction(2);
    ASSERT_TRUE(overlay);
    EXPECT_EQ(overlay->map, (std::vector<uint16_t>{1, 0, 0, 1}));
    pass();
}

}  // namespace
