#include "UITestSupport.h"

#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/View.h"

#include <cmath>

using namespace ui;
using uitest::UITest;

namespace {

class ViewTest : public UITest {};

// Records the layout passes a view gets.
class CountingView : public View {
public:
    using View::View;
    int layouts = 0;
    int traitChanges = 0;
    TraitCollection lastPrevious;
    void layoutSubviews() override { ++layouts; }
    void traitCollectionDidChange(const TraitCollection& previous) override {
        ++traitChanges;
        lastPrevious = previous;
    }
};

// Remembers the touches it gets, for hit and delivery checks.
class TouchRecorder : public View {
public:
    using View::View;
    std::vector<std::string> log;
    Point lastLocation;
    int lastTapCount = 0;
    void touchesBegan(const TouchSet& t, const Event&) override {
        log.push_back("began");
        lastLocation = t[0]->locationInView(this);
        lastTapCount = t[0]->tapCount();
    }
    void touchesMoved(const TouchSet& t, const Event&) override {
        log.push_back("moved");
        lastLocation = t[0]->locationInView(this);
    }
    void touchesEnded(const TouchSet& t, const Event&) override {
        log.push_back("ended");
        lastLocation = t[0]->locationInView(this);
    }
    void touchesCancelled(const TouchSet&, const Event&) override { log.push_back("cancelled"); }
};

void expectRect(const Rect& r, double x, double y, double w, double h) {
    EXPECT_NEAR(r.x(), x, 1e-6);
    EXPECT_NEAR(r.y(), y, 1e-6);
    EXPECT_NEAR(r.width(), w, 1e-6);
    EXPECT_NEAR(r.height(), h, 1e-6);
}

}  // namespace

TEST_F(ViewTest, FrameBoundsAndCenterStayConsistentUnderTransforms) {
    auto v = std::make_shared<View>(Rect(10, 20, 100, 50));
    expectRect(v->frame(), 10, 20, 100, 50);
    EXPECT_EQ(v->center(), (Point{60, 45}));
    expectRect(v->bounds(), 0, 0, 100, 50);

    // A quarter turn swaps the frame's sides about the same centre.
    v->setTransform(AffineTransform::makeRotation(M_PI / 2));
    expectRect(v->frame(), 35, -5, 50, 100);
    expectRect(v->bounds(), 0, 0, 100, 50);

    // Setting the frame under a half turn keeps the turn and fills the frame.
    v->setTransform(AffineTransform::makeRotation(M_PI));
    v->setFrame(Rect(0, 0, 200, 30));
    expectRect(v->frame(), 0, 0, 200, 30);
    expectRect(v->bounds(), 0, 0, 200, 30);

    // Scaling shrinks the frame about the centre.
    v->setTransform(AffineTransform::makeScale(0.5, 0.5));
    expectRect(v->frame(), 50, 7.5, 100, 15);
}

TEST_F(ViewTest, PointsConvertThroughTransformsAndBoundsOrigins) {
    auto outer = std::make_shared<View>(Rect(100, 100, 200, 200));
    auto inner = std::make_shared<View>(Rect(50, 50, 100, 40));
    window->addSubview(outer);
    outer->addSubview(inner);
    EXPECT_EQ(inner->convertPointToWindow({0, 0}), (Point{150, 150}));

    // Scrolling the outer view moves the inner one on screen.
    outer->setBounds(Rect(0, 30, 200, 200));
    EXPECT_EQ(inner->convertPointToWindow({0, 0}), (Point{150, 120}));
    outer->setBounds(Rect(0, 0, 200, 200));

    // A half turn of the inner view maps its top-left to its bottom-right corner on screen.
    inner->setTransform(AffineTransform::makeRotation(M_PI));
    Point p = inner->convertPointToWindow({0, 0});
    EXPECT_NEAR(p.x, 250, 1e-9);
    EXPECT_NEAR(p.y, 190, 1e-9);
    Point back = inner->convertPointFromWindow(p);
    EXPECT_NEAR(back.x, 0, 1e-9);
    EXPECT_NEAR(back.y, 0, 1e-9);
    // Between siblings' spaces.
    auto other = std::make_shared<View>(Rect(0, 0, 10, 10));
    window->addSubview(other);
    Point q = inner->convertPointTo({10, 0}, other.get());
    EXPECT_NEAR(q.x, 240, 1e-9);
    EXPECT_NEAR(q.y, 190, 1e-9);
    Rect r = outer->convertRectFrom(Rect(0, 0, 10, 10), inner.get());
    expectRect(r, 140, 80, 10, 10);
}

TEST_F(ViewTest, HitTestingFollowsTransformsOrderAndInteractionFlags) {
    auto base = std::make_shared<TouchRecorder>(Rect(0, 0, 390, 844));
    auto a = std::make_shared<TouchRecorder>(Rect(100, 100, 100, 100));
    auto b = std::make_shared<TouchRecorder>(Rect(150, 150, 100, 100));
    window->addSubview(base);
    base->addSubview(a);
    base->addSubview(b);
    EXPECT_EQ(window->hitTest({160, 160}, nullptr), b.get());  // the later sibling is on top
    base->bringSubviewToFront(a.get());
    EXPECT_EQ(window->hitTest({160, 160}, nullptr), a.get());
    a->setUserInteractionEnabled(false);
    EXPECT_EQ(window->hitTest({160, 160}, nullptr), b.get());
    b->setHidden(true);
    EXPECT_EQ(window->hitTest({160, 160}, nullptr), base.get());
    b->setHidden(false);
    b->setAlpha(0.0);
    EXPECT_EQ(window->hitTest({160, 160}, nullptr), base.get());
    b->setAlpha(1.0);

    // A subview outside its superview's bounds cannot be hit there.
    auto child = std::make_shared<TouchRecorder>(Rect(90, 0, 50, 50));
    b->addSubview(child);
    EXPECT_EQ(window->hitTest({250, 160}, nullptr), base.get());
    EXPECT_EQ(window->hitTest({245, 160}, nullptr), child.get());

    // Scaled down, a view is hit only inside its smaller frame.
    b->setTransform(AffineTransform::makeScale(0.5, 0.5));
    EXPECT_EQ(window->hitTest({170, 170}, nullptr), base.get());
    EXPECT_EQ(window->hitTest({180, 180}, nullptr), b.get());
    // Squashed to nothing (a pop-in's first frame), it cannot be hit at all.
    b->setTransform(AffineTransform::makeScale(0, 0));
    EXPECT_EQ(window->hitTest({200, 200}, nullptr), base.get());
}

TEST_F(ViewTest, TouchesGoToTheHitViewForTheirWholeLifeAndCountTaps) {
    auto v = std::make_shared<TouchRecorder>(Rect(0, 0, 100, 100));
    window->addSubview(v);
    window->sendTouch(1, TouchPhase::Began, {10, 10});
    window->sendTouch(1, TouchPhase::Moved, {300, 300});  // far outside: still ours
    window->sendTouch(1, TouchPhase::Ended, {300, 300});
    EXPECT_EQ(v->log, (std::vector<std::string>{"began", "moved", "ended"}));
    EXPECT_EQ(v->lastLocation, (Point{300, 300}));

    // Two taps close in place and time count 1 and 2; a far or late one starts over.
    v->log.clear();
    window->sendTouch(1, TouchPhase::Began, {20, 20});
    window->sendTouch(1, TouchPhase::Ended, {20, 20});
    EXPECT_EQ(v->lastTapCount, 1);
    advance(0.2);
    window->sendTouch(1, TouchPhase::Began, {25, 22});
    window->sendTouch(1, TouchPhase::Ended, {25, 22});
    EXPECT_EQ(v->lastTapCount, 2);
    advance(0.2);
    window->sendTouch(1, TouchPhase::Began, {60, 60});
    window->sendTouch(1, TouchPhase::Ended, {60, 60});
    EXPECT_EQ(v->lastTapCount, 1);
    advance(0.4);
    window->sendTouch(1, TouchPhase::Began, {60, 60});
    window->sendTouch(1, TouchPhase::Ended, {60, 60});
    EXPECT_EQ(v->lastTapCount, 1);
}

TEST_F(ViewTest, UnhandledTouchesClimbTheResponderChain) {
    auto parent = std::make_shared<TouchRecorder>(Rect(0, 0, 200, 200));
    auto plain = std::make_shared<View>(Rect(10, 10, 50, 50));
    window->addSubview(parent);
    parent->addSubview(plain);
    window->sendTouch(3, TouchPhase::Began, {20, 20});
    window->sendTouch(3, TouchPhase::Ended, {20, 20});
    EXPECT_EQ(parent->log, (std::vector<std::string>{"began", "ended"}));

    // A controller owning the plain view comes first in the chain.
    auto controller = std::make_shared<TouchRecorder>();
    plain->setOwnerController(controller.get());
    window->sendTouch(3, TouchPhase::Began, {20, 20});
    EXPECT_EQ(controller->log, (std::vector<std::string>{"began"}));
    EXPECT_EQ(parent->log.size(), 2u);
    window->sendTouch(3, TouchPhase::Cancelled, {20, 20});
    plain->setOwnerController(nullptr);
}

TEST_F(ViewTest, AWatchingAncestorCanTakeATouchOver) {
    struct Watcher : TouchRecorder {
        using TouchRecorder::TouchRecorder;
        bool watchesTouches() const override { return true; }
        void watchTouchMoved(Touch& t) override {
            Point p = t.locationInWindow();
            if (p.y > 60) window()->takeOverTouch(t, this);
        }
    };
    auto watcher = std::make_shared<Watcher>(Rect(0, 0, 300, 300));
    auto content = std::make_shared<TouchRecorder>(Rect(0, 0, 100, 100));
    window->addSubview(watcher);
    watcher->addSubview(content);
    window->sendTouch(1, TouchPhase::Began, {50, 50});
    window->sendTouch(1, TouchPhase::Moved, {50, 55});
    window->sendTouch(1, TouchPhase::Moved, {50, 80});
    window->sendTouch(1, TouchPhase::Ended, {50, 90});
    EXPECT_EQ(content->log, (std::vector<std::string>{"began", "moved", "cancelled"}));
    EXPECT_EQ(watcher->log, (std::vector<std::string>{"moved", "ended"}));
}

TEST_F(ViewTest, LayoutRunsOnTheLoopOnceAndAutoresizingSharesTheChange) {
    auto v = std::make_shared<CountingView>(Rect(0, 0, 300, 200));
    window->addSubview(v);
    loop().drain();
    int base = v->layouts;
    EXPECT_GE(base, 1);
    v->setNeedsLayout();
    v->setNeedsLayout();
    EXPECT_EQ(v->layouts, base);  // not yet: layout waits for the loop
    loop().drain();
    EXPECT_EQ(v->layouts, base + 1);
    v->setNeedsLayout();
    v->layoutIfNeeded();
    EXPECT_EQ(v->layouts, base + 2);

    auto fill = std::make_shared<View>(Rect(10, 10, 280, 180));
    fill->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
    auto corner = std::make_shared<View>(Rect(250, 150, 40, 40));
    corner->setAutoresizingMask(AutoresizingFlexibleLeftMargin | AutoresizingFlexibleTopMargin);
    auto centred = std::make_shared<View>(Rect(100, 0, 100, 20));
    centred->setAutoresizingMask(AutoresizingFlexibleLeftMargin | AutoresizingFlexibleRightMargin);
    v->addSubview(fill);
    v->addSubview(corner);
    v->addSubview(centred);
    v->setFrame(Rect(0, 0, 400, 300));
    expectRect(fill->frame(), 10, 10, 380, 280);
    expectRect(corner->frame(), 350, 250, 40, 40);
    expectRect(centred->frame(), 150, 0, 100, 20);
    loop().drain();
    EXPECT_EQ(v->layouts, base + 3);  // a size change asks for layout
}

TEST_F(ViewTest, SafeAreaFollowsTheWindowEdgesAndTheStatusBar) {
    // The phone profile: 47 points on top (notch), 34 at the bottom.
    EdgeInsets w = window->safeAreaInsets();
    EXPECT_EQ(w.top, 47);
    EXPECT_EQ(w.bottom, 34);
    auto v = std::make_shared<View>(Rect(0, 20, 390, 800));
    window->addSubview(v);
    EdgeInsets i = v->safeAreaInsets();
    EXPECT_EQ(i.top, 27);
    EXPECT_EQ(i.bottom, 10);
    auto middle = std::make_shared<View>(Rect(0, 300, 390, 100));
    window->addSubview(middle);
    EXPECT_TRUE(middle->safeAreaInsets().isZero());

    window->setOrientation(InterfaceOrientation::LandscapeLeft);
    expectRect(window->bounds(), 0, 0, 844, 390);
    EXPECT_EQ(window->safeAreaInsets().left, 47);
    EXPECT_EQ(window->safeAreaInsets().top, 0);
    EXPECT_EQ(Screen::main().bounds().width(), 844);

    // Without a notch, hiding the status bar gives the top back.
    window.reset();
    setProfile("phone-se");
    window = std::make_shared<Window>();
    window->makeKeyAndVisible();
    EXPECT_EQ(window->safeAreaInsets().top, 20);
    Application::shared().setStatusBarHidden(true);
    EXPECT_EQ(window->safeAreaInsets().top, 0);
    EXPECT_EQ(Application::shared().statusBarFrame().height(), 0);
}

TEST_F(ViewTest, AppearanceChangesReachEveryViewWithThePreviousTraits) {
    auto parent = std::make_shared<CountingView>(Rect(0, 0, 10, 10));
    auto child = std::make_shared<CountingView>(Rect(0, 0, 10, 10));
    parent->addSubview(child);
    window->addSubview(parent);
    int before = child->traitChanges;
    window->setUserInterfaceStyle(UserInterfaceStyle::Dark);
    EXPECT_EQ(child->traitChanges, before + 1);
    EXPECT_FALSE(child->lastPrevious.isDark());
    EXPECT_TRUE(child->traitCollection().isDark());
    window->setReduceTransparency(true);
    EXPECT_TRUE(parent->traitCollection().reduceTransparency);
    EXPECT_EQ(Color::label().resolve(child->traitCollection()), gfx::Rgba::white(1));
}

// A button made before it is placed (a bar's new item) is drawn in the tint
// of where it lands, and one with a tint of its own keeps it.
TEST_F(ViewTest, AViewPlacedUnderATintTakesItUnlessItHasItsOwn) {
    auto tinted = std::make_shared<View>(Rect(0, 0, 100, 100));
    const Color gold(gfx::Rgba::rgb(1.0, 0.83, 0.47));
    tinted->setTintColor(gold);
    window->addSubview(tinted);
    auto button = std::make_shared<Button>(ButtonType::System);
    button->setTitle("Done");
    EXPECT_EQ(button->titleLabel()->textColor(), Color::systemBlue());
    tinted->addSubview(button);
    EXPECT_EQ(button->tintColor(), gold);
    EXPECT_EQ(button->titleLabel()->textColor(), gold);
    auto own = std::make_shared<Button>(ButtonType::System);
    own->setTitle("Delete");
    own->setTintColor(Color::systemRed());
    tinted->addSubview(own);
    EXPECT_EQ(own->titleLabel()->textColor(), Color::systemRed());
}

TEST_F(ViewTest, HierarchyCallbacksAndFirstResponderLeaveWithTheWindow) {
    struct Tracker : View {
        using View::View;
        std::vector<std::string> log;
        void willMoveToWindow(Window* w) override { log.push_back(w ? "willEnter" : "willLeave"); }
        void didMoveToWindow() override { log.push_back(window() ? "didEnter" : "didLeave"); }
        bool canBecomeFirstResponder() const override { return true; }
    };
    auto holder = std::make_shared<View>(Rect(0, 0, 10, 10));
    auto t = std::make_shared<Tracker>(Rect(0, 0, 10, 10));
    holder->addSubview(t);
    EXPECT_FALSE(t->becomeFirstResponder());  // not in a window
    window->addSubview(holder);
    EXPECT_TRUE(t->becomeFirstResponder());
    EXPECT_TRUE(t->isFirstResponder());
    holder->removeFromSuperview();
    EXPECT_FALSE(t->isFirstResponder());
    EXPECT_EQ(t->log, (std::vector<std::string>{"willEnter", "didEnter", "willLeave", "didLeave"}));

    auto a = std::make_shared<View>();
    auto b = std::make_shared<View>();
    auto c = std::make_shared<View>();
    window->addSubview(a);
    window->addSubview(b);
    window->insertSubviewBelow(c, a.get());
    ASSERT_EQ(window->subviews().size(), 3u);
    EXPECT_EQ(window->subviews()[0], c);
    window->insertSubviewAbove(c, b.get());
    EXPECT_EQ(window->subviews()[2], c);
    window->addSubview(a);  // adding again brings it to the front
    EXPECT_EQ(window->subviews()[2], a);
    a->setTag(7);
    EXPECT_EQ(window->viewWithTag(7), a.get());
    a->addSubview(window);  // a cycle is refused
    EXPECT_EQ(window->superview(), nullptr);
}

TEST_F(ViewTest, ViewsThatGoAwayDuringTheirOwnEventsAreSafe) {
    // A view removed and freed while a finger is on it: later phases go nowhere.
    auto v = std::make_shared<TouchRecorder>(Rect(0, 0, 100, 100));
    window->addSubview(v);
    window->sendTouch(1, TouchPhase::Began, {10, 10});
    std::weak_ptr<View> weak = v;
    v->removeFromSuperview();
    v.reset();
    EXPECT_TRUE(weak.expired());
    window->sendTouch(1, TouchPhase::Moved, {20, 20});
    window->sendTouch(1, TouchPhase::Ended, {20, 20});
    EXPECT_TRUE(window->activeTouches().empty());

    // A view that removes itself from its touchesEnded.
    struct SelfRemover : View {
        using View::View;
        void touchesEnded(const TouchSet&, const Event&) override { removeFromSuperview(); }
    };
    auto s = std::make_shared<SelfRemover>(Rect(0, 0, 100, 100));
    window->addSubview(s);
    std::weak_ptr<View> ws = s;
    s.reset();
    window->sendTouch(2, TouchPhase::Began, {10, 10});
    window->sendTouch(2, TouchPhase::Ended, {10, 10});
    EXPECT_TRUE(ws.expired());
    EXPECT_TRUE(window->subviews().empty());
}

TEST_F(ViewTest, TurningTheWindowResizesFlexibleContent) {
    auto root = std::make_shared<View>(window->bounds());
    root->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
    auto footer = std::make_shared<View>(Rect(0, 794, 390, 50));
    footer->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleTopMargin);
    root->addSubview(footer);
    window->addSubview(root);
    window->setOrientation(InterfaceOrientation::LandscapeLeft);
    expectRect(root->frame(), 0, 0, 844, 390);
    expectRect(footer->frame(), 0, 340, 844, 50);
    window->setOrientation(InterfaceOrientation::Portrait);
    expectRect(footer->frame(), 0, 794, 390, 50);
}
