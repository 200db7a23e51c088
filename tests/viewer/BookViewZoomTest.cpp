#include "tests/viewer/ViewerFixture.h"

#include "foundation/AppDelegateServices.h"
#include "platform/core/Clock.h"
#include "platform/core/RunLoop.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/KeyCommand.h"
#include "platform/ui/ScrollView.h"

using namespace viewertest;

namespace {

class BookViewZoomTest : public ViewerTest {
protected:
    // A key window of another device in another orientation.
    void useWindow(const char* preset, ui::InterfaceOrientation o, bool statusBarHidden) {
        driver.reset();
        window.reset();
        setProfile(preset);
        ui::Application::shared().setStatusBarHidden(statusBarHidden);
        BookCommon::resetDeviceStateForTesting();
        DeviceScreenState::setShared(std::make_shared<WindowScreenState>());
        window = std::make_shared<ui::Window>();
        window->makeKeyAndVisible();
        window->setOrientation(o);
        driver = std::make_unique<ui::test::Driver>(*window);
    }
    double zoom() const { return viewer->scrollView()->zoomScale(); }
};

class GoingToBackground : public AppDelegateServices {
public:
    bool going = true;
    std::shared_ptr<Settings> settings() override { return nullptr; }
    bool isAppGotoBackgroundProcess() override { return going; }
};

TEST_F(BookViewZoomTest, ThePageAreaLeavesRoomForBarsAndTheSeekBar) {
    using V = BookViewController;
    const auto P = ui::InterfaceOrientation::Portrait, L = ui::InterfaceOrientation::LandscapeLeft;
    // A notched phone never gives the status bar's height in portrait.
    useWindow("phone", P, false);
    EXPECT_EQ(V::getBookviewAreaRect(false, V::kToolViewBottom), ui::Rect(0, 0, 390, 760));
    EXPECT_EQ(V::getBookviewAreaRect(true, V::kToolViewBottomLeft), ui::Rect(0, 0, 390, 760));
    EXPECT_EQ(V::getBookviewAreaRect(true, V::kToolViewNone), ui::Rect(0, 0, 390, 844));
    // In landscape the band stands at a side; the bottom style has none.
    useWindow("phone", L, false);
    EXPECT_EQ(V::getBookviewAreaRect(false, V::kToolViewBottomLeft), ui::Rect(97, 0, 747, 390));
    EXPECT_EQ(V::getBookviewAreaRect(false, V::kToolViewBottomRight), ui::Rect(0, 0, 747, 390));
    EXPECT_EQ(V::getBookviewAreaRect(false, V::kToolViewBottom), ui::Rect(0, 0, 844, 390));
    // A phone without a notch gives it in portrait when it is shown.
    useWindow("phone-se", P, false);
    EXPECT_EQ(V::getBookviewAreaRect(false, V::kToolViewBottom), ui::Rect(0, 20, 375, 597));
    EXPECT_EQ(V::getBookviewAreaRect(true, V::kToolViewBottom), ui::Rect(0, 0, 375, 617));
    // A tablet gives it in both orientations.
    useWindow("pad", P, false);
    EXPECT_EQ(V::getBookviewAreaRect(false, V::kToolViewBottom), ui::Rect(0, 24, 1024, 1272));
    useWindow("pad", L, false);
    EXPECT_EQ(V::getBookviewAreaRect(false, V::kToolViewNone), ui::Rect(0, 24, 1366, 1000));
    EXPECT_EQ(V::getBookviewAreaRect(true, V::kToolViewBottomLeft), ui::Rect(50, 0, 1316, 1024));
}

TEST_F(BookViewZoomTest, OnAPadThePageSitsUnderTheStatusBarAndItsBacking) {
    useWindow("pad", ui::InterfaceOrientation::Portrait, false);
    set("isShowStatusbar", true);
    set("backgroundColor", "white");
    open(0);
    EXPECT_EQ(area(), ui::Rect(0, 24, 1024, 1272));
    EXPECT_EQ(viewer->scrollView()->frame(), area());
    EXPECT_EQ(viewer->bookToolView()->frame(), ui::Rect(0, 1296, 1024, 70));
    EXPECT_EQ(viewer->preferredStatusBarStyle(), ui::StatusBarStyle::Default) << "dark text on white";
    EXPECT_FALSE(viewer->prefersStatusBarHidden());
    writeSnapshot("pad-portrait.png");
    viewer->doFunction(2);
    pass();
    EXPECT_EQ(shownPage(), 1);
}

TEST_F(BookViewZoomTest, ZoomLimitsAndModeScales) {
    using V = BookViewController;
    const ui::Rect area(0, 0, 390, 760);
    EXPECT_NEAR(V::calcMinZoomWithScreenRect(area, {400, 600}), 0.975, 1e-6);
    EXPECT_DOUBLE_EQ(V::calcMaxZoomWithScreenRect(area, {400, 600}), 3.0);
    // A page much smaller than the screen: fit to screen, and at least 3.
    EXPECT_NEAR(V::calcMinZoomWithScreenRect(area, {100, 100}), 3.9, 1e-6);
    EXPECT_NEAR(V::calcMaxZoomWithScreenRect(area, {100, 100}), 3.9, 1e-6);
    EXPECT_DOUBLE_EQ(V::calcMinZoomWithScreenRect(area, {0, 0}), 1.0) << "no page size, no division by zero";

    open(2);
    EXPECT_NEAR(viewer->getZoomScaleTo(V::kZoomFitWidth), 0.975, 1e-6);
    EXPECT_NEAR(viewer->getZoomScaleTo(V::kZoomFitHeight), 760.0 / 600, 1e-6);
    EXPECT_NEAR(viewer->getZoomScaleTo(V::kZoomFitImage), 0.975, 1e-6);
    EXPECT_DOUBLE_EQ(viewer->getZoomScaleTo(V::kZoomMaximum), 1.0);
    EXPECT_DOUBLE_EQ(viewer->getZoomScaleTo(9), 1.0);
    const auto titles = V::createArrayZoomModeStringList();
    EXPECT_EQ(titles, (std::vector<std::string>{"Custom Zoom", "Maximum Zoom", "Fit to Width", "Fit to Height",
                                                "Fit to Image"}));
}

TEST_F(BookViewZoomTest, TheNextModeComesFromTheEnabledModesOnly) {
    open(2);
    settings->setZoomModeOrderList({2, 4, 0, 1, 3});
    settings->setZoomModeEnableNum(2);
    EXPECT_EQ(viewer->getNextMode(2), 4);
    EXPECT_EQ(viewer->getNextMode(4), 2);
    // Modes behind the enabled ones never come up.
    EXPECT_EQ(viewer->getNextMode(0), 2);
    EXPECT_EQ(viewer->getNextMode(1), 2);
    settings->setZoomModeEnableNum(1);
    EXPECT_EQ(viewer->getNextMode(4), 2);
    settings->setZoomModeEnableNum(0);
    EXPECT_EQ(viewer->getNextMode(4), 0);
    settings->setZoomModeEnableNum(99);  // held to the list
    EXPECT_EQ(viewer->getNextMode(3), 2);
}

TEST_F(BookViewZoomTest, ZoomModesCycleFromTheTopEdgeAndSkipACustomZoomThatChangesNothing) {
    settings->setZoomModeOrderList({2, 3, 0, 1, 4});
    settings->setZoomModeEnableNum(3);
    set("isDisplayZoomMode", true);
    open(2);
    ASSERT_EQ(viewer->zoomMode(), BookViewController::kZoomFitImage);
    driver->tap(at(0.5, 0.02));
    pass();
    EXPECT_EQ(viewer->zoomMode(), BookViewController::kZoomFitWidth);
    EXPECT_NEAR(zoom(), 0.975, 0.01);
    EXPECT_EQ(viewer->labelMessage()->text(), "Fit to Width");
    driver->tap(at(0.5, 0.02));
    pass();
    EXPECT_EQ(viewer->zoomMode(), BookViewController::kZoomFitHeight);
    EXPECT_NEAR(zoom(), 760.0 / 600, 0.01);
    // Custom is the fit-width scale the book opened at: it differs from
    // fit-to-height, so it is taken.
    driver->tap(at(0.5, 0.02));
    pass();
    EXPECT_EQ(viewer->zoomMode(), BookViewController::kZoomCustom);
    EXPECT_NEAR(zoom(), 0.975, 0.01);
    // From fit-to-width, custom would change nothing and is skipped.
    driver->tap(at(0.5, 0.02));
    pass();
    ASSERT_EQ(viewer->zoomMode(), BookViewController::kZoomFitWidth);
    driver->tap(at(0.5, 0.02));
    pass();
    ASSERT_EQ(viewer->zoomMode(), BookViewController::kZoomFitHeight);
    viewer->setZoomTo(BookViewController::kZoomFitWidth, viewer->getZoomScaleTo(BookViewController::kZoomFitWidth));
    pass();
    driver->tap(at(0.5, 0.02));
    pass();
    EXPECT_EQ(viewer->zoomMode(), BookViewController::kZoomFitHeight);
    driver->tap(at(0.5, 0.02));
    pass();
    EXPECT_EQ(viewer->zoomMode(), BookViewController::kZoomCustom);
    driver->tap(at(0.5, 0.02));
    pass();
    EXPECT_EQ(viewer->zoomMode(), BookViewController::kZoomFitWidth) << "custom at fit width: straight on";
    driver->tap(at(0.5, 0.02));
    pass();
    EXPECT_EQ(viewer->zoomMode(), BookViewController::kZoomFitHeight);
}

TEST_F(BookViewZoomTest, ToggleZoomTreatsAZoomWithinAHundredthOfTheMaximumAsTheMaximum) {
    open(2);
    const double z = zoom();
    viewer->toggleZoom(1.5);
    pass();
    EXPECT_NEAR(zoom(), z * 1.5, 1e-3);
    viewer->toggleZoom(1.5);
    pass();
    EXPECT_NEAR(zoom(), z, 1e-3);

    // Just under the maximum (as a reload can leave it) counts as the maximum.
    const double max = viewer->scrollView()->maximumZoomScale();
    viewer->scrollView()->setZoomScale(max - 0.005, false);
    viewer->toggleZoom(2.0);
    pass();
    EXPECT_NEAR(zoom(), (max - 0.005) / 2.0, 0.01);
    // A zoom that would pass the maximum stops there.
    viewer->scrollView()->setZoomScale(2.0, false);
    viewer->toggleZoom(2.0);
    pass();
    EXPECT_NEAR(zoom(), max, 0.01);
}

TEST_F(BookViewZoomTest, RotationConvertsTheZoomAndReloadsSharper) {
    // A zoom kept across turns.
    set("defaultZoomMode", "do_not_change");
    open(2);
    const double portrait = zoom();
    ASSERT_NEAR(portrait, 0.975, 1e-6);
    const int portraitPixels = viewer->displayBookPage()->image->width();
    const int reloads = viewer->reloadCount();
    ASSERT_TRUE(window->rotate(ui::InterfaceOrientation::LandscapeLeft));
    // During the turn: the same part of the page across the wider screen
    // (no seek-bar band in landscape with the bottom style).
    EXPECT_TRUE(viewer->isLandscape());
    pass();
    EXPECT_EQ(viewer->reloadCount(), reloads + 1);
    EXPECT_NEAR(zoom(), 0.975 * 844 / 390, 0.01);
    EXPECT_EQ(viewer->scrollView()->frame(), ui::Rect(0, 0, 844, 390));
    EXPECT_EQ(viewer->bookToolView(), nullptr);
    // The reloaded page is composed for the bigger size (within the
    // device's pixel budget), not the old one scaled up.
    ASSERT_TRUE(viewer->displayBookPage());
    EXPECT_GT(viewer->displayBookPage()->image->width(), portraitPixels * 1.3);
    EXPECT_NEAR(viewer->displayBookPage()->zoomScale, zoom(), 0.01);

    ASSERT_TRUE(window->rotate(ui::InterfaceOrientation::Portrait));
    pass();
    EXPECT_NEAR(zoom(), 0.975, 0.01);
    ASSERT_NE(viewer->bookToolView(), nullptr) << "the seek bar comes back in portrait";
    EXPECT_EQ(viewer->scrollView()->frame(), ui::Rect(0, 0, 390, 760));
}

TEST_F(BookViewZoomTest, AWindowResizedBackWhileItsReloadEndsShowsThePageAtTheSizeItHasNow) {
    open(2);
    const double first = zoom();
    ASSERT_NEAR(first, 0.975, 1e-6);
    // Made twice as large: the end of the change starts a sharper reload,
    // which is composed (its result posted) before the window is made small
    // again, as when a window is maximised and given back at once.
    ASSERT_TRUE(window->resize({780, 1688}));
    {
        std::lock_guard hold(*viewer->pageLoadLock());
        sys::RunLoop::main().runOnce();
        ASSERT_TRUE(viewer->isNowReloading());
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (viewer->reloadsOnWorker() > 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    ASSERT_EQ(viewer->reloadsOnWorker(), 0u);
    ASSERT_TRUE(window->resize({390, 844}));
    pass();
    EXPECT_NEAR(zoom(), first, 0.01) << "the large window's zoom came back with its reload";
    ASSERT_TRUE(viewer->displayBookPage());
    EXPECT_NEAR(viewer->displayBookPage()->zoomScale, zoom(), 0.01);
    EXPECT_LE(viewer->scrollView()->contentSize().width, 391.0);
}

TEST_F(BookViewZoomTest, AWheelNotchWhileTheLastZoomsReloadEndsZoomsOnFromWhereThatZoomLeftThePage) {
    open(2);
    const ui::Point pointer = at(0.5, 0.5);
    // The point of the page under the pointer, as a fraction of the page.
    auto underPointer = [&] {
        ui::ImageView* shown = viewer->imageViewDisplay() && viewer->imageViewDisplay()->image()
                                   ? viewer->imageViewDisplay()
                                   : viewer->imageView();
        const ui::Rect r = shown->convertRectTo(shown->bounds(), nullptr);
        const BookPage& p = *viewer->displayBookPage();
        const double k = r.width() / shown->bounds().width();
        return ui::Point{(pointer.x - r.x() - p.offset.x * k) / (r.width() - 2 * p.offset.x * k),
                         (pointer.y - r.y() - p.offset.y * k) / (r.height() - 2 * p.offset.y * k)};
    };
    auto notch = [&] { ui::ScrollView::dispatchWheel(*window, pointer, 0, -1, ui::KeyModifierControl); };
    const ui::Point before = underPointer();
    notch();
    notch();
    const double asked = zoom();
    // The wheel pauses: the zoom ends and its reload is composed, but the
    // next notch comes before the reload is on the screen.
    driver->advance(0.2);
    {
        std::lock_guard hold(*viewer->pageLoadLock());
        sys::Clock::setVirtualTime(sys::Clock::now() + 0.1);
        sys::RunLoop::main().runOnce();
        ASSERT_TRUE(viewer->isNowReloading());
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (viewer->reloadsOnWorker() > 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    ASSERT_EQ(viewer->reloadsOnWorker(), 0u);
    notch();
    EXPECT_GT(zoom(), asked);
    pass(2);
    const ui::Point after = underPointer();
    EXPECT_NEAR(after.x, before.x, 0.01);
    EXPECT_NEAR(after.y, before.y, 0.01);
}

TEST_F(BookViewZoomTest, ATurnShowsThePageAsTheNewOrientationsZoomModeDoes) {
    open(2);
    ASSERT_NEAR(zoom(), 0.975, 1e-6);
    ASSERT_TRUE(window->rotate(ui::InterfaceOrientation::LandscapeLeft));
    pass();
    // Fit to the image: whole on the 844 x 390 screen, as when opened turned.
    EXPECT_EQ(viewer->zoomMode(), BookViewController::kZoomFitImage);
    EXPECT_NEAR(zoom(), 390.0 / 600, 0.01);
    ASSERT_TRUE(viewer->displayBookPage());
    EXPECT_NEAR(viewer->displayBookPage()->zoomScale, zoom(), 0.01);
    EXPECT_LE(viewer->scrollView()->contentSize().height, 391.0);
    ASSERT_TRUE(window->rotate(ui::InterfaceOrientation::Portrait));
    pass();
    EXPECT_NEAR(zoom(), 0.975, 0.01);
}

TEST_F(BookViewZoomTest, TurningIntoTwoPageDisplayHalvesTheZoomAndLoadsTheSpread) {
    set("isDoubleTruck", true);
    settings->setTargetBook(bookPath());
    open(0);
    ASSERT_FALSE(viewer->displayBookPage()->is2PageLoaded);
    ASSERT_TRUE(window->rotate(ui::InterfaceOrientation::LandscapeLeft));
    EXPECT_NEAR(viewer->scrollView()->alpha(), 0, 1e-9) << "hidden until the spread is there";
    pass();
    ASSERT_TRUE(viewer->displayBookPage()->is2PageLoaded);
    EXPECT_NEAR(viewer->scrollView()->alpha(), 1, 1e-9);
    // The spread is loaded at the mode's size (fit), not by the old page's size.
    EXPECT_NEAR(zoom(), std::min(844.0 / 800, 390.0 / 600), 0.01);
    ASSERT_TRUE(window->rotate(ui::InterfaceOrientation::Portrait));
    pass();
    EXPECT_FALSE(viewer->displayBookPage()->is2PageLoaded);
    EXPECT_NEAR(zoom(), 0.975, 0.01);
}

TEST_F(BookViewZoomTest, ATurnWhileGoingToTheBackgroundReloadsOnReturn) {
    open(2);
    auto services = std::make_shared<GoingToBackground>();
    AppDelegateServices::install(services);
    const int reloads = viewer->reloadCount();
    ASSERT_TRUE(window->rotate(ui::InterfaceOrientation::LandscapeLeft));
    pass();
    EXPECT_EQ(viewer->reloadCount(), reloads);
    services->going = false;
    viewer->onEnterForeground();
    pass();
    EXPECT_EQ(viewer->reloadCount(), reloads + 1);
    viewer->onEnterForeground();
    pass();
    EXPECT_EQ(viewer->reloadCount(), reloads + 1) << "only once";
    AppDelegateServices::install(nullptr);
}

TEST_F(BookViewZoomTest, NoTurnWhileAPageMoves) {
    set("isPreRead", false);
    open(2);
    viewer->doFunction(2);
    EXPECT_FALSE(viewer->shouldAutorotate());
    EXPECT_FALSE(window->rotate(ui::InterfaceOrientation::LandscapeLeft));
    pass();
    EXPECT_TRUE(viewer->shouldAutorotate());
    EXPECT_TRUE(window->rotate(ui::InterfaceOrientation::LandscapeLeft));
}

}  // namespace
