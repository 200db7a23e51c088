#include "UITestSupport.h"

#include "platform/ui/Button.h"
#include "platform/ui/KeyCommand.h"
#include "platform/ui/ScrollMotion.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/TestDriver.h"
#include "platform/ui/ViewController.h"

#include <cmath>
#include <string>
#include <vector>

using namespace ui;
using uitest::UITest;

namespace {

// Records what the scroll view tells its delegate, in order.
class Recorder : public ScrollViewDelegate {
public:
    std::vector<std::string> log;
    int scrolls = 0;
    int zooms = 0;
    View* zoomView = nullptr;
    double endScale = 0;
    bool lastWillDecelerate = false;
    void scrollViewDidScroll(ScrollView&) override { ++scrolls; }
    void scrollViewWillBeginDragging(ScrollView&) override { log.push_back("willBeginDragging"); }
    void scrollViewDidEndDragging(ScrollView&, bool d) override {
        lastWillDecelerate = d;
        log.push_back(d ? "didEndDragging(decelerate)" : "didEndDragging");
    }
    void scrollViewWillBeginDecelerating(ScrollView&) override { log.push_back("willBeginDecelerating"); }
    void scrollViewDidEndDecelerating(ScrollView&) override { log.push_back("didEndDecelerating"); }
    void scrollViewDidEndScrollingAnimation(ScrollView&) override { log.push_back("didEndScrollingAnimation"); }
    View* viewForZoomingInScrollView(ScrollView&) override { return zoomView; }
    void scrollViewWillBeginZooming(ScrollView&, View*) override { log.push_back("willBeginZooming"); }
    void scrollViewDidZoom(ScrollView&) override { ++zooms; }
    void scrollViewDidEndZooming(ScrollView&, View*, double s) override {
        endScale = s;
        log.push_back("didEndZooming");
    }
    int count(const std::string& what) const { return int(std::count(log.begin(), log.end(), what)); }
};

// Content that remembers the touches it gets.
class TouchLog : public View {
public:
    using View::View;
    std::vector<std::string> log;
    void touchesBegan(const TouchSet&, const Event&) override { log.push_back("began"); }
    void touchesMoved(const TouchSet&, const Event&) override { log.push_back("moved"); }
    void touchesEnded(const TouchSet&, const Event&) override { log.push_back("ended"); }
    void touchesCancelled(const TouchSet&, const Event&) override { log.push_back("cancelled"); }
};

class ScrollViewTest : public UITest {
protected:
    void SetUp() override {
        UITest::SetUp();
        driver = std::make_unique<ui::test::Driver>(*window);
        scroll = std::make_shared<ScrollView>(Rect(0, 100, 300, 400));
        scroll->setContentInsetAdjustmentBehavior(ContentInsetAdjustmentBehavior::Never);
        scroll->setContentSize({300, 2000});
        scroll->setDelegate(&rec);
        content = std::make_shared<TouchLog>(Rect(0, 0, 300, 2000));
        scroll->addSubview(content);
        window->addSubview(scroll);
        driver->settle();
    }
    void TearDown() override {
        scroll->setDelegate(nullptr);
        driver.reset();
        UITest::TearDown();
    }
    std::unique_ptr<ui::test::Driver> driver;
    std::shared_ptr<ScrollView> scroll;
    std::shared_ptr<TouchLog> content;
    Recorder rec;
};

}  // namespace

TEST(ScrollMotionTest, DecelerationFollowsTheRateAndRestsWhereTheDistanceSays) {
    // 1000 points per second at 0.998 per millisecond travels v / (1000 ln(1/r)).
    double dist = ScrollMotion::decelerationDistance(1000, ScrollMotion::kNormalRate);
    EXPECT_NEAR(dist, 1000 / (1000 * -std::log(0.998)), 1e-9);
    EXPECT_NEAR(dist, 499.5, 0.5);
    ScrollMotion m = ScrollMotion::decelerate(0, 100, 1000, ScrollMotion::kNormalRate, 0, 10000, true);
    EXPECT_NEAR(m.valueAt(0), 100, 1e-9);
    EXPECT_NEAR(m.velocityAt(0), 1000, 1e-6);
    // After 1 s the speed has fallen to 0.998^1000 of its start.
    EXPECT_NEAR(m.velocityAt(1), 1000 * std::pow(0.998, 1000), 1e-6);
    EXPECT_GT(m.valueAt(0.5), 100);
    EXPECT_LT(m.valueAt(0.5), m.valueAt(1.0));
    EXPECT_TRUE(m.finishedAt(10));
    EXPECT_NEAR(m.valueAt(10), 100 + dist, 1e-6);
    // The fast rate stops much sooner.
    EXPECT_LT(ScrollMotion::decelerationDistance(1000, ScrollMotion::kFastRate), 100);
}

TEST(ScrollMotionTest, CrossingAnEdgeSpringsBackOrStops) {
    // Heading past 200 with bounce: overshoots, then rests exactly on 200.
    ScrollMotion m = ScrollMotion::decelerate(0, 150, 2000, ScrollMotion::kNormalRate, 0, 200, true);
    double peak = 0;
    for (double t = 0; t < 3; t += 1.0 / 120) peak = std::max(peak, m.valueAt(t));
    EXPECT_GT(peak, 210);
    EXPECT_LT(peak, 400);
    EXPECT_TRUE(m.finishedAt(5));
    EXPECT_DOUBLE_EQ(m.valueAt(5), 200);
    // Without bounce it never passes the edge.
    ScrollMotion n = ScrollMotion::decelerate(0, 150, 2000, ScrollMotion::kNormalRate, 0, 200, false);
    for (double t = 0; t < 3; t += 1.0 / 120) EXPECT_LE(n.valueAt(t), 200 + 1e-9);
    EXPECT_DOUBLE_EQ(n.valueAt(3), 200);
    // Starting outside at rest springs back in.
    ScrollMotion s = ScrollMotion::decelerate(0, -60, 0, ScrollMotion::kNormalRate, 0, 200, true);
    EXPECT_TRUE(s.isMoving());
    EXPECT_DOUBLE_EQ(s.valueAt(5), 0);
}

TEST(ScrollMotionTest, RubberBandResistsAndInverts) {
    EXPECT_EQ(ScrollMotion::rubberBand(0, 400), 0);
    double a = ScrollMotion::rubberBand(100, 400), b = ScrollMotion::rubberBand(200, 400);
    EXPECT_LT(a, 100);
    EXPECT_LT(b - a, a);  // each further point shows less
    EXPECT_LT(ScrollMotion::rubberBand(1e6, 400), 400);
    EXPECT_NEAR(ScrollMotion::rubberBandInverse(a, 400), 100, 1e-9);
}

TEST_F(ScrollViewTest, SmallMovesStayWithTheContentAndADragCancelsIt) {
    driver->touchDown({150, 300});
    driver->advance(0.02);
    driver->touchMove({150, 295});  // within the slop: still the content's
    EXPECT_FALSE(scroll->isDragging());
    EXPECT_TRUE(scroll->isTracking());
    driver->advance(0.02);
    driver->touchMove({150, 250});
    EXPECT_TRUE(scroll->isDragging());
    EXPECT_EQ(content->log, (std::vector<std::string>{"began", "moved", "cancelled"}));
    // No jump when the drag takes over: the content follows from there on.
    double y0 = scroll->contentOffset().y;
    EXPECT_NEAR(y0, 0, 1e-9);
    driver->advance(0.02);
    driver->touchMove({150, 200});
    EXPECT_NEAR(scroll->contentOffset().y, 50, 1e-9);
    driver->advance(0.2);
    driver->touchUp({150, 200});
    EXPECT_FALSE(scroll->isTracking());
    EXPECT_EQ(rec.log, (std::vector<std::string>{"willBeginDragging", "didEndDragging"}));
    // The content heard nothing after its cancel.
    EXPECT_EQ(content->log.size(), 3u);
    EXPECT_NEAR(scroll->contentOffset().y, 50, 1e-9);
}

TEST_F(ScrollViewTest, ADragPastTheTopRubberBandsAndBouncesBack) {
    driver->touchDown({150, 200});
    for (int i = 1; i <= 10; ++i) {
        driver->advance(0.02);
        driver->touchMove({150, 200 + 20.0 * i});
    }
    // The drag began at the first move (20 > the slop): 180 points of pull
    // show less than that.
    double shown = -scroll->contentOffset().y;
    EXPECT_GT(shown, 50);
    EXPECT_LT(shown, 180 - 10);
    EXPECT_NEAR(shown, ScrollMotion::rubberBand(180, 400), 1e-6);
    driver->advance(0.2);
    driver->touchUp({150, 400});
    EXPECT_TRUE(rec.lastWillDecelerate);
    EXPECT_TRUE(scroll->isDecelerating());
    driver->advance(2.0);
    EXPECT_FALSE(scroll->isDecelerating());
    EXPECT_DOUBLE_EQ(scroll->contentOffset().y, 0);
    EXPECT_EQ(rec.count("didEndDecelerating"), 1);
}

TEST_F(ScrollViewTest, AFlingDeceleratesOnTheClockAndStopsInsideTheRange) {
    driver->drag({150, 400}, {150, 300}, 0.1, {0, -1500}, 5);
    EXPECT_TRUE(scroll->isDecelerating());
    EXPECT_EQ(rec.log, (std::vector<std::string>{"willBeginDragging", "didEndDragging(decelerate)",
                                                 "willBeginDecelerating"}));
    double atRelease = scroll->contentOffset().y;
    int scrollsBefore = rec.scrolls;
    driver->advance(0.25);
    double later = scroll->contentOffset().y;
    EXPECT_GT(later, atRelease + 100);
    EXPECT_GT(rec.scrolls, scrollsBefore + 10);  // one per frame
    driver->advance(5);
    EXPECT_FALSE(scroll->isDecelerating());
    EXPECT_EQ(rec.count("didEndDecelerating"), 1);
    double expected = atRelease + ScrollMotion::decelerationDistance(1500, ScrollMotion::kNormalRate);
    EXPECT_NEAR(scroll->contentOffset().y, expected, 1.0);

    // A touch on moving content stops it and is not a tap on the content.
    driver->drag({150, 400}, {150, 300}, 0.1, {0, -1500}, 5);
    driver->advance(0.2);
    content->log.clear();
    driver->touchDown({150, 300});
    EXPECT_FALSE(scroll->isDecelerating());
    double stopped = scroll->contentOffset().y;
    driver->advance(0.5);
    EXPECT_DOUBLE_EQ(scroll->contentOffset().y, stopped);
    driver->touchUp({150, 300});
    EXPECT_TRUE(content->log.empty());
}

TEST_F(ScrollViewTest, AFlingIntoTheEndBouncesOrStopsAtIt) {
    scroll->setContentOffset({0, 1500});  // 100 before the end (max 1600)
    driver->drag({150, 400}, {150, 350}, 0.1, {0, -3000}, 5);
    double peak = 0;
    for (int i = 0; i < 120; ++i) {
        driver->advance(1.0 / 60);
        peak = std::max(peak, scroll->contentOffset().y);
    }
    EXPECT_GT(peak, 1600);
    driver->advance(3);
    EXPECT_DOUBLE_EQ(scroll->contentOffset().y, 1600);

    scroll->setBounces(false);
    scroll->setContentOffset({0, 1500});
    driver->drag({150, 400}, {150, 350}, 0.1, {0, -3000}, 5);
    for (int i = 0; i < 120; ++i) {
        driver->advance(1.0 / 60);
        EXPECT_LE(scroll->contentOffset().y, 1600 + 1e-9);
    }
    EXPECT_DOUBLE_EQ(scroll->contentOffset().y, 1600);
}

TEST_F(ScrollViewTest, PagingSettlesOnWholePages) {
    scroll->setContentSize({1200, 400});
    scroll->setPagingEnabled(true);
    // A slow drag less than half a page goes back.
    driver->drag({250, 300}, {150, 300}, 0.3);
    driver->advance(1);
    EXPECT_DOUBLE_EQ(scroll->contentOffset().x, 0);
    // A flick goes on to the next page however short.
    driver->drag({250, 300}, {200, 300}, 0.1, {-800, 0}, 5);
    driver->advance(1);
    EXPECT_DOUBLE_EQ(scroll->contentOffset().x, 300);
    // A slow drag past half a page lands on that page.
    driver->drag({280, 300}, {100, 300}, 0.3);
    driver->advance(1);
    EXPECT_DOUBLE_EQ(scroll->contentOffset().x, 600);
    // Never past the last page.
    driver->drag({250, 300}, {100, 300}, 0.1, {-3000, 0}, 5);
    driver->advance(1);
    driver->drag({250, 300}, {100, 300}, 0.1, {-3000, 0}, 5);
    driver->advance(1);
    EXPECT_DOUBLE_EQ(scroll->contentOffset().x, 900);
}

TEST_F(ScrollViewTest, AnimatedOffsetsReportEveryFrameAndEndOnce) {
    scroll->setContentOffset({0, 300}, true);
    EXPECT_DOUBLE_EQ(scroll->contentOffset().y, 0);  // moves on the clock
    driver->advance(0.15);
    double mid = scroll->contentOffset().y;
    EXPECT_GT(mid, 0);
    EXPECT_LT(mid, 300);
    driver->advance(0.3);
    EXPECT_DOUBLE_EQ(scroll->contentOffset().y, 300);
    EXPECT_EQ(rec.log, (std::vector<std::string>{"didEndScrollingAnimation"}));
    EXPECT_GE(rec.scrolls, 15);
    // Plain offsets are not limited and end nothing.
    scroll->setContentOffset({0, -40});
    EXPECT_DOUBLE_EQ(scroll->contentOffset().y, -40);
    EXPECT_EQ(rec.log.size(), 1u);
    // The same offset animates nothing.
    scroll->setContentOffset({0, -40}, true);
    driver->advance(1);
    EXPECT_EQ(rec.log.size(), 1u);
}

TEST_F(ScrollViewTest, ControlsKeepTheirTouchesUnlessTheViewSaysOtherwise) {
    auto button = std::make_shared<Button>(ButtonType::System, Rect(0, 100, 300, 100));
    int ups = 0, cancels = 0;
    button->addAction(ControlEventTouchUpInside, [&](Control&) { ++ups; });
    button->addAction(ControlEventTouchCancel, [&](Control&) { ++cancels; });
    scroll->addSubview(button);
    driver->drag({150, 260}, {150, 210}, 0.2);
    EXPECT_EQ(scroll->contentOffset().y, 0);  // the button kept the touch
    EXPECT_EQ(ups, 1);

    // A scroll view that lets drags win takes the touch from the button.
    class Greedy : public ScrollView {
    public:
        using ScrollView::ScrollView;
        bool touchesShouldCancelInContentView(View*) override { return true; }
    };
    auto greedy = std::make_shared<Greedy>(Rect(0, 100, 300, 400));
    greedy->setContentInsetAdjustmentBehavior(ContentInsetAdjustmentBehavior::Never);
    greedy->setContentSize({300, 2000});
    auto b2 = std::make_shared<Button>(ButtonType::System, Rect(0, 100, 300, 100));
    b2->addAction(ControlEventTouchUpInside, [&](Control&) { ++ups; });
    b2->addAction(ControlEventTouchCancel, [&](Control&) { ++cancels; });
    greedy->addSubview(b2);
    scroll->removeFromSuperview();
    window->addSubview(greedy);
    driver->drag({150, 260}, {150, 210}, 0.2);
    EXPECT_NEAR(greedy->contentOffset().y, 35, 1e-9);  // 50 moved less the 15 before the slop was passed
    EXPECT_EQ(ups, 1);
    EXPECT_EQ(cancels, 1);

    // Content that may not begin touches never hears of them.
    class Refusing : public ScrollView {
    public:
        using ScrollView::ScrollView;
        bool touchesShouldBegin(const TouchSet&, const Event&, View*) override { return false; }
    };
    auto refusing = std::make_shared<Refusing>(Rect(0, 100, 300, 400));
    auto log = std::make_shared<TouchLog>(Rect(0, 0, 300, 400));
    refusing->addSubview(log);
    greedy->removeFromSuperview();
    window->addSubview(refusing);
    driver->tap({150, 300});
    EXPECT_TRUE(log->log.empty());
}

TEST_F(ScrollViewTest, ZoomScalesTheViewAndTheContentSize) {
    auto page = std::make_shared<View>(Rect(0, 0, 600, 800));
    content->removeFromSuperview();
    scroll->addSubview(page);
    scroll->setContentSize({600, 800});
    rec.zoomView = page.get();
    scroll->setMinimumZoomScale(0.5);
    scroll->setMaximumZoomScale(3);

    scroll->setZoomScale(2);
    EXPECT_DOUBLE_EQ(scroll->zoomScale(), 2);
    EXPECT_EQ(page->transform(), AffineTransform::makeScale(2, 2));
    EXPECT_DOUBLE_EQ(page->frame().x(), 0);
    EXPECT_DOUBLE_EQ(page->frame().y(), 0);
    EXPECT_EQ(scroll->contentSize(), (Size{1200, 1600}));
    EXPECT_EQ(rec.count("didEndZooming"), 0);  // not animated: nothing ends
    EXPECT_GE(rec.zooms, 1);
    // Limited to the range.
    scroll->setZoomScale(10);
    EXPECT_DOUBLE_EQ(scroll->zoomScale(), 3);
    scroll->setZoomScale(0.1);
    EXPECT_DOUBLE_EQ(scroll->zoomScale(), 0.5);
    EXPECT_EQ(scroll->contentSize(), (Size{300, 400}));

    // Animated: moves on the clock and ends once.
    scroll->setZoomScale(1, true);
    EXPECT_DOUBLE_EQ(scroll->zoomScale(), 0.5);
    driver->advance(0.15);
    EXPECT_GT(scroll->zoomScale(), 0.5);
    EXPECT_LT(scroll->zoomScale(), 1);
    driver->advance(0.3);
    EXPECT_DOUBLE_EQ(scroll->zoomScale(), 1);
    EXPECT_EQ(rec.count("didEndZooming"), 1);
    EXPECT_DOUBLE_EQ(rec.endScale, 1);

    // Zooming to a rectangle fills the view with it.
    scroll->zoomToRect(Rect(100, 200, 150, 200), false);
    EXPECT_DOUBLE_EQ(scroll->zoomScale(), 2);
    EXPECT_NEAR(scroll->contentOffset().x, 100 * 2 + 150 - 150, 1e-9);
    EXPECT_NEAR(scroll->contentOffset().y, 200 * 2 + 200 - 200, 1e-9);
}

TEST_F(ScrollViewTest, PinchZoomsAboutTheFingersAndBouncesBackToTheLimit) {
    auto page = std::make_shared<View>(Rect(0, 0, 300, 400));
    content->removeFromSuperview();
    scroll->addSubview(page);
    scroll->setContentSize({300, 400});
    rec.zoomView = page.get();
    scroll->setMinimumZoomScale(1);
    scroll->setMaximumZoomScale(2);
    auto inner = std::make_shared<TouchLog>(Rect(0, 0, 300, 400));
    page->addSubview(inner);

    // Fingers 100 apart around (150, 300) in the window: (150, 200) of the page.
    driver->touchDown({100, 300}, 0);
    driver->touchDown({200, 300}, 1);
    EXPECT_TRUE(scroll->isZooming());
    EXPECT_EQ(rec.log, (std::vector<std::string>{"willBeginZooming"}));
    EXPECT_EQ(inner->log.back(), "cancelled");
    for (int i = 1; i <= 5; ++i) {
        driver->advance(0.02);
        driver->touchMove({100 - 10.0 * i, 300}, 0);
        driver->touchMove({200 + 10.0 * i, 300}, 1);
    }
    // 200 apart: twice the scale, the point between the fingers stays put.
    EXPECT_NEAR(scroll->zoomScale(), 2, 1e-9);
    Point under = page->convertPointFromWindow({150, 300});
    EXPECT_NEAR(under.x, 150, 1e-6);
    EXPECT_NEAR(under.y, 200, 1e-6);
    // Further apart than the maximum: resisted, then back to 2 on release.
    for (int i = 1; i <= 5; ++i) {
        driver->advance(0.02);
        driver->touchMove({50 - 20.0 * i, 300}, 0);
        driver->touchMove({250 + 20.0 * i, 300}, 1);
    }
    EXPECT_GT(scroll->zoomScale(), 2);
    EXPECT_LT(scroll->zoomScale(), 3);
    driver->touchUp({-50, 300}, 0);
    EXPECT_FALSE(scroll->isZooming());
    EXPECT_TRUE(scroll->isZoomBouncing());
    EXPECT_EQ(rec.count("didEndZooming"), 0);
    driver->advance(0.5);
    EXPECT_DOUBLE_EQ(scroll->zoomScale(), 2);
    EXPECT_EQ(rec.count("didEndZooming"), 1);
    // The finger left behind does not drag.
    double x = scroll->contentOffset().x;
    driver->touchMove({300, 200}, 1);
    EXPECT_DOUBLE_EQ(scroll->contentOffset().x, x);
    driver->touchUp({300, 200}, 1);
}

TEST_F(ScrollViewTest, InsetsFollowTheSafeAreaWhenAsked) {
    auto full = std::make_shared<ScrollView>(window->bounds());
    full->setContentSize({390, 3000});
    window->addSubview(full);
    driver->settle();
    full->layoutIfNeeded();
    // The phone's safe area: 47 at the top, 34 at the bottom.
    EdgeInsets safe = window->windowSafeAreaInsets();
    EXPECT_GT(safe.top, 0);
    EXPECT_EQ(full->adjustedContentInset().top, safe.top);
    EXPECT_EQ(full->adjustedContentInset().bottom, safe.bottom);
    EXPECT_DOUBLE_EQ(full->contentOffset().y, -safe.top);  // resting at the top follows
    EXPECT_DOUBLE_EQ(full->maximumContentOffset().y, 3000 + safe.bottom - window->bounds().height());
    full->setContentInsetAdjustmentBehavior(ContentInsetAdjustmentBehavior::Never);
    EXPECT_EQ(full->adjustedContentInset().top, 0);
    EXPECT_DOUBLE_EQ(full->contentOffset().y, 0);
}

TEST_F(ScrollViewTest, WheelScrollsAndZoomsWithControl) {
    EXPECT_TRUE(ScrollView::dispatchWheel(*window, {150, 300}, 0, 120, 0));
    EXPECT_DOUBLE_EQ(scroll->contentOffset().y, 120);
    EXPECT_FALSE(ScrollView::dispatchWheel(*window, {150, 300}, 0, -500, 0) && scroll->contentOffset().y != 0);
    EXPECT_DOUBLE_EQ(scroll->contentOffset().y, 0);  // limited to the range

    auto page = std::make_shared<View>(Rect(0, 0, 300, 400));
    content->removeFromSuperview();
    scroll->addSubview(page);
    scroll->setContentSize({300, 400});
    rec.zoomView = page.get();
    scroll->setMaximumZoomScale(4);
    EXPECT_TRUE(ScrollView::dispatchWheel(*window, {150, 300}, 0, -2, KeyModifierControl));
    EXPECT_NEAR(scroll->zoomScale(), 1.21, 1e-9);
    EXPECT_TRUE(ScrollView::dispatchWheel(*window, {150, 300}, 0, -2, KeyModifierControl));
    // The point under the pointer stays under it.
    Point under = page->convertPointFromWindow({150, 300});
    EXPECT_NEAR(under.x, 150, 1e-6);
    EXPECT_NEAR(under.y, 200, 1e-6);
    EXPECT_EQ(rec.count("willBeginZooming"), 1);
    EXPECT_EQ(rec.count("didEndZooming"), 0);
    driver->advance(0.3);
    EXPECT_EQ(rec.count("didEndZooming"), 1);
}

TEST_F(ScrollViewTest, IndicatorsShowWhileMovingAndAreNeverImageViews) {
    EXPECT_FALSE(scroll->isShowingVerticalIndicator());
    driver->touchDown({150, 400});
    driver->advance(0.02);
    driver->touchMove({150, 300});
    EXPECT_TRUE(scroll->isShowingVerticalIndicator());
    EXPECT_FALSE(scroll->isShowingHorizontalIndicator());  // content is not wider
    // The bar stays at the right edge of the visible part.
    View* bar = scroll->subviews().back().get();
    EXPECT_NEAR(bar->frame().maxX(), scroll->contentOffset().x + 300 - 3, 1e-9);
    EXPECT_GE(bar->frame().y(), scroll->contentOffset().y);
    driver->advance(0.2);
    driver->touchUp({150, 300});
    driver->advance(1.0);
    EXPECT_FALSE(scroll->isShowingVerticalIndicator());
    // Content added later stays under a shown bar.
    scroll->flashScrollIndicators();
    scroll->addSubview(std::make_shared<View>(Rect(0, 0, 10, 10)));
    EXPECT_FALSE(dynamic_cast<ImageView*>(scroll->subviews().back().get()));
    EXPECT_TRUE(scroll->isShowingVerticalIndicator());
    EXPECT_EQ(scroll->subviews().back()->isUserInteractionEnabled(), false);
}

namespace {

// A page screen as the viewer uses it: it passes every touch on to the
// screen's controller and lets none of its content have them.
class PageScreen : public ScrollView {
public:
    using ScrollView::ScrollView;
    void touchesBegan(const TouchSet& t, const Event& e) override { nextResponder()->touchesBegan(t, e); }
    void touchesMoved(const TouchSet& t, const Event& e) override { nextResponder()->touchesMoved(t, e); }
    void touchesEnded(const TouchSet& t, const Event& e) override { nextResponder()->touchesEnded(t, e); }
    void touchesCancelled(const TouchSet& t, const Event& e) override { nextResponder()->touchesCancelled(t, e); }
    bool touchesShouldBegin(const TouchSet&, const Event&, View*) override { return false; }
    bool touchesShouldCancelInContentView(View*) override { return false; }
};

class PageViewer : public ViewController, public ScrollViewDelegate {
public:
    std::vector<std::string> log;
    std::shared_ptr<PageScreen> screen;
    std::shared_ptr<ImageView> page;
    double offsetAtDeceleration = 0;
    void viewDidLoad() override {
        screen = std::make_shared<PageScreen>(view()->bounds());
        screen->setContentInsetAdjustmentBehavior(ContentInsetAdjustmentBehavior::Never);
        screen->setContentSize(view()->bounds().size);
        screen->setAlwaysBounceHorizontal(true);
        screen->setMinimumZoomScale(1);
        screen->setMaximumZoomScale(3);
        screen->setDelegate(this);
        page = std::make_shared<ImageView>(view()->bounds());
        screen->addSubview(page);
        view()->addSubview(screen);
    }
    void touchesBegan(const TouchSet& t, const Event&) override {
        log.push_back("began " + std::to_string(t[0]->tapCount()));
    }
    void touchesMoved(const TouchSet&, const Event&) override {}
    void touchesEnded(const TouchSet& t, const Event&) override {
        log.push_back("ended " + std::to_string(t[0]->tapCount()));
    }
    void touchesCancelled(const TouchSet&, const Event&) override { log.push_back("cancelled"); }
    View* viewForZoomingInScrollView(ScrollView&) override { return page.get(); }
    void scrollViewWillBeginDecelerating(ScrollView& s) override {
        offsetAtDeceleration = s.contentOffset().x;
        log.push_back("decelerating");
    }
    void scrollViewDidEndZooming(ScrollView&, View*, double scale) override {
        log.push_back("zoomed " + std::to_string(int(scale * 10)));
    }
};

}  // namespace

TEST_F(ScrollViewTest, APageViewerGetsTapsAndTurnsPagesBySwipingPastTheEdge) {
    scroll->removeFromSuperview();
    auto viewer = std::make_shared<PageViewer>();
    window->setRootViewController(viewer);
    driver->settle();
    // Taps reach the controller through the screen, with their counts.
    driver->tap({200, 400});
    driver->advance(0.1);
    driver->tap({200, 400});
    EXPECT_EQ(viewer->log, (std::vector<std::string>{"began 1", "ended 1", "began 2", "ended 2"}));
    // A swipe to the right past the left edge: the touch is cancelled for
    // the controller, and deceleration starts while the page is still out
    // past the edge.
    viewer->log.clear();
    driver->advance(1);
    driver->drag({100, 400}, {300, 400}, 0.15, {900, 0}, 5);
    EXPECT_EQ(viewer->log, (std::vector<std::string>{"began 1", "cancelled", "decelerating"}));
    EXPECT_LT(viewer->offsetAtDeceleration, -25);
    driver->advance(2);
    EXPECT_DOUBLE_EQ(viewer->screen->contentOffset().x, 0);
    // Pinching zooms the page.
    viewer->log.clear();
    driver->touchDown({150, 400}, 0);
    driver->touchDown({250, 400}, 1);
    driver->advance(0.05);
    driver->touchMove({100, 400}, 0);
    driver->touchMove({300, 400}, 1);
    driver->touchUp({100, 400}, 0);
    driver->touchUp({300, 400}, 1);
    EXPECT_NEAR(viewer->screen->zoomScale(), 2, 1e-9);
    EXPECT_EQ(viewer->log.back(), "zoomed 20");
    window->setRootViewController(nullptr);
}

TEST_F(ScrollViewTest, RectsScrollIntoSightAndInsetsWidenTheRange) {
    scroll->scrollRectToVisible(Rect(0, 1000, 10, 50), false);
    EXPECT_DOUBLE_EQ(scroll->contentOffset().y, 1050 - 400);
    scroll->scrollRectToVisible(Rect(0, 500, 10, 50), false);
    EXPECT_DOUBLE_EQ(scroll->contentOffset().y, 500);
    scroll->scrollRectToVisible(Rect(0, 520, 10, 50), false);  // already in sight
    EXPECT_DOUBLE_EQ(scroll->contentOffset().y, 500);
    scroll->scrollRectToVisible(Rect(0, 1990, 10, 500), false);  // never past the end
    EXPECT_DOUBLE_EQ(scroll->contentOffset().y, 1600);
    scroll->setContentInset({20, 0, 30, 0});
    EXPECT_EQ(scroll->minimumContentOffset(), (Point{0, -20}));
    EXPECT_EQ(scroll->maximumContentOffset(), (Point{0, 1630}));
    // Content smaller than the view rests at the top inset.
    scroll->setContentSize({300, 100});
    EXPECT_EQ(scroll->maximumContentOffset(), (Point{0, -20}));
}

TEST_F(ScrollViewTest, TakenOutOfTheWindowTheContentStopsWhereItIs) {
    driver->drag({150, 400}, {150, 300}, 0.1, {0, -1500}, 5);
    driver->advance(0.2);
    ASSERT_TRUE(scroll->isDecelerating());
    double y = scroll->contentOffset().y;
    scroll->removeFromSuperview();
    EXPECT_FALSE(scroll->isDecelerating());
    driver->advance(2);
    EXPECT_DOUBLE_EQ(scroll->contentOffset().y, y);
    EXPECT_EQ(rec.count("didEndDecelerating"), 0);
}
