#include "UITestSupport.h"

#include "platform/ui/NavigationController.h"
#include "platform/ui/PopoverPresentationController.h"
#include "platform/ui/TestDriver.h"
#include "platform/ui/TransitionCoordinator.h"
#include "platform/ui/ViewController.h"

#include <algorithm>
#include <string>
#include <vector>

using namespace ui;
using uitest::UITest;

namespace {

using Log = std::vector<std::string>;

// A screen that writes its life cycle to a shared log.
class Page : public ViewController {
public:
    Page(std::string name, Log* log) : name_(std::move(name)), log_(log) { setTitle(name_); }
    void loadView() override {
        note("loadView");
        ViewController::loadView();
    }
    void viewDidLoad() override { note("viewDidLoad"); }
    void viewWillAppear(bool a) override { note(std::string("viewWillAppear") + (a ? "(animated)" : "")); }
    void viewDidAppear(bool) override { note("viewDidAppear"); }
    void viewWillDisappear(bool) override { note("viewWillDisappear"); }
    void viewDidDisappear(bool) override { note("viewDidDisappear"); }
    void viewWillLayoutSubviews() override { note("viewWillLayoutSubviews"); }
    void viewDidLayoutSubviews() override { note("viewDidLayoutSubviews"); }
    void willMoveToParentViewController(ViewController* p) override {
        note(p ? "willMoveToParent" : "willMoveToParent(null)");
    }
    void didMoveToParentViewController(ViewController* p) override {
        note(p ? "didMoveToParent" : "didMoveToParent(null)");
    }
    void viewWillTransitionToSize(Size s, const std::shared_ptr<TransitionCoordinator>& c) override {
        note("viewWillTransitionToSize");
        transitionSize = s;
        ViewController::viewWillTransitionToSize(s, c);
        if (onTransition) onTransition(c);
    }
    unsigned supportedInterfaceOrientations() const override { return mask; }
    bool shouldAutorotate() const override { return autorotate; }
    bool prefersStatusBarHidden() const override { return hidesStatusBar; }
    std::vector<KeyCommand> keyCommands() const override {
        return {KeyCommand::make("k", 0, [this](const KeyCommand&) { log_->push_back(name_ + ":key"); })};
    }

    unsigned mask = InterfaceOrientationMaskAll;
    bool autorotate = true;
    bool hidesStatusBar = false;
    Size transitionSize;
    std::function<void(const std::shared_ptr<TransitionCoordinator>&)> onTransition;

private:
    void note(const std::string& what) { log_->push_back(name_ + ":" + what); }
    std::string name_;
    Log* log_;
};

class ViewControllerTest : public uitest::DrivenUITest {
protected:
    void TearDown() override {
        window->setRootViewController(nullptr);
        DrivenUITest::TearDown();
    }
    // The entries of the log that start with `who`.
    Log of(const std::string& who) const {
        Log out;
        for (auto& e : log)
            if (e.rfind(who + ":", 0) == 0) out.push_back(e.substr(who.size() + 1));
        return out;
    }
    Log log;
};

}  // namespace

TEST_F(ViewControllerTest, TheRootLoadsAppearsAndLaysOutInOrder) {
    auto a = std::make_shared<Page>("A", &log);
    EXPECT_FALSE(a->isViewLoaded());
    window->setRootViewController(a);
    EXPECT_EQ(of("A"), (Log{"loadView", "viewDidLoad", "viewWillAppear", "viewWillLayoutSubviews",
                            "viewDidLayoutSubviews", "viewDidAppear"}));
    EXPECT_EQ(a->view()->frame(), window->bounds());
    EXPECT_EQ(a->view()->superview(), window.get());
    // Its view's responder chain goes through it.
    EXPECT_EQ(a->view()->nextResponder(), a.get());
    EXPECT_EQ(a->nextResponder(), window.get());
    // Keys reach the top screen without a first responder.
    log.clear();
    EXPECT_TRUE(driver->key("k"));
    EXPECT_EQ(log, (Log{"A:key"}));
    // Replacing the root: the old one disappears.
    auto b = std::make_shared<Page>("B", &log);
    log.clear();
    window->setRootViewController(b);
    EXPECT_EQ(of("A"), (Log{"viewWillDisappear", "viewDidDisappear"}));
    EXPECT_EQ(a->view()->superview(), nullptr);
    EXPECT_EQ(b->appearance(), ViewController::Appearance::Appeared);
}

TEST_F(ViewControllerTest, PresentAndDismissCoverTheScreenOnTheClock) {
    auto a = std::make_shared<Page>("A", &log);
    window->setRootViewController(a);
    auto b = std::make_shared<Page>("B", &log);
    log.clear();
    bool presented = false;
    a->present(b, true, [&] { presented = true; });
    EXPECT_EQ(a->presentedViewController(), b.get());
    EXPECT_EQ(b->presentingViewController(), a.get());
    EXPECT_TRUE(b->isBeingPresented());
    EXPECT_EQ(of("B"), (Log{"loadView", "viewDidLoad", "viewWillAppear(animated)", "viewWillLayoutSubviews",
                            "viewDidLayoutSubviews"}));
    EXPECT_EQ(of("A"), (Log{"viewWillDisappear"}));
    // Covering from below: half way it is still partly off screen.
    driver->advance(0.2);
    EXPECT_GT(b->view()->presentationFrame().y(), 0);
    EXPECT_FALSE(presented);
    driver->advance(0.3);
    EXPECT_TRUE(presented);
    EXPECT_EQ(of("B").back(), "viewDidAppear");
    EXPECT_EQ(of("A").back(), "viewDidDisappear");
    EXPECT_EQ(b->view()->frame(), window->bounds());
    EXPECT_TRUE(a->view()->isHidden());
    // The presented screen's chain leads back to its presenter.
    EXPECT_EQ(b->nextResponder(), a.get());
    log.clear();
    EXPECT_TRUE(driver->key("k"));
    EXPECT_EQ(log, (Log{"B:key"}));

    // Dismissing from the presented screen itself.
    log.clear();
    bool dismissed = false;
    b->dismiss(true, [&] { dismissed = true; });
    EXPECT_EQ(of("B"), (Log{"viewWillDisappear"}));
    EXPECT_EQ(of("A"), (Log{"viewWillAppear(animated)"}));
    EXPECT_FALSE(a->view()->isHidden());
    driver->advance(0.5);
    EXPECT_TRUE(dismissed);
    EXPECT_EQ(of("B").back(), "viewDidDisappear");
    EXPECT_EQ(of("A").back(), "viewDidAppear");
    EXPECT_EQ(a->presentedViewController(), nullptr);
    EXPECT_EQ(b->presentingViewController(), nullptr);
    EXPECT_EQ(b->view()->window(), nullptr);
}

TEST_F(ViewControllerTest, PresentingOverAPresentedScreenStacksAndDismissingTheBaseClearsAll) {
    auto a = std::make_shared<Page>("A", &log);
    window->setRootViewController(a);
    auto b = std::make_shared<Page>("B", &log);
    auto c = std::make_shared<Page>("C", &log);
    a->present(b, false);
    a->present(c, false);  // a already presents: goes on top of b
    EXPECT_EQ(b->presentedViewController(), c.get());
    EXPECT_EQ(c->presentingViewController(), b.get());
    // A screen cannot be presented twice.
    a->present(b, false);
    EXPECT_EQ(c->presentedViewController(), nullptr);
    log.clear();
    a->dismiss(false);
    EXPECT_EQ(a->presentedViewController(), nullptr);
    EXPECT_EQ(b->presentedViewController(), nullptr);
    EXPECT_EQ(c->view()->window(), nullptr);
    EXPECT_EQ(b->view()->window(), nullptr);
    EXPECT_EQ(a->appearance(), ViewController::Appearance::Appeared);
    EXPECT_EQ(c->appearance(), ViewController::Appearance::Disappeared);
}

TEST_F(ViewControllerTest, RotationAsksTheTopScreenAndRunsTheCoordinator) {
    auto a = std::make_shared<Page>("A", &log);
    window->setRootViewController(a);
    a->mask = InterfaceOrientationMaskPortrait;
    EXPECT_FALSE(window->rotate(InterfaceOrientation::LandscapeLeft));
    EXPECT_EQ(window->orientation(), InterfaceOrientation::Portrait);
    a->mask = InterfaceOrientationMaskAll;
    a->autorotate = false;
    EXPECT_FALSE(window->rotate(InterfaceOrientation::LandscapeLeft));
    a->autorotate = true;

    std::vector<std::string> steps;
    a->onTransition = [&](const std::shared_ptr<TransitionCoordinator>& c) {
        EXPECT_DOUBLE_EQ(c->transitionDuration(), 0.4);
        c->animateAlongsideTransition(
            [&](const TransitionCoordinatorContext&) {
                steps.push_back("alongside");
                // Inside the transition the window has its new size.
                EXPECT_EQ(window->bounds().width(), 844);
            },
            [&](const TransitionCoordinatorContext&) { steps.push_back("completion"); });
    };
    Size before = window->bounds().size;
    EXPECT_TRUE(window->rotate(InterfaceOrientation::LandscapeLeft));
    EXPECT_EQ(a->transitionSize, (Size{before.height, before.width}));
    EXPECT_EQ(steps, (std::vector<std::string>{"alongside"}));
    EXPECT_EQ(window->orientation(), InterfaceOrientation::LandscapeLeft);
    EXPECT_EQ(a->view()->frame(), window->bounds());
    EXPECT_TRUE(a->transitionCoordinator() != nullptr);
    driver->advance(0.5);
    EXPECT_EQ(steps, (std::vector<std::string>{"alongside", "completion"}));
    EXPECT_EQ(a->transitionCoordinator(), nullptr);

    // The presented screen decides while it is up, and hears the transition.
    auto b = std::make_shared<Page>("B", &log);
    b->mask = InterfaceOrientationMaskLandscape;
    a->present(b, false);
    EXPECT_FALSE(window->rotate(InterfaceOrientation::Portrait));
    EXPECT_TRUE(window->rotate(InterfaceOrientation::LandscapeRight));
    Log bl = of("B");
    EXPECT_NE(std::find(bl.begin(), bl.end(), "viewWillTransitionToSize"), bl.end());
    EXPECT_EQ(b->view()->frame(), window->bounds());

    // The application limits every screen of the window (a rotation lock):
    // a screen that allows every orientation turns only within the limit.
    struct Limit : ApplicationDelegate {
        unsigned mask = InterfaceOrientationMaskLandscapeRight;
        unsigned supportedInterfaceOrientationsForWindow() const override { return mask; }
    };
    a->onTransition = nullptr;
    auto limit = std::make_shared<Limit>();
    Application::shared().setDelegate(limit);
    b->mask = InterfaceOrientationMaskAll;
    EXPECT_FALSE(window->rotate(InterfaceOrientation::Portrait));
    EXPECT_FALSE(window->rotate(InterfaceOrientation::LandscapeLeft));
    EXPECT_EQ(window->orientation(), InterfaceOrientation::LandscapeRight);
    limit->mask = InterfaceOrientationMaskAll;
    EXPECT_TRUE(window->rotate(InterfaceOrientation::Portrait));
    Application::shared().setDelegate({});
}

TEST_F(ViewControllerTest, TheTopScreenDecidesTheStatusBar) {
    auto a = std::make_shared<Page>("A", &log);
    window->setRootViewController(a);
    EXPECT_FALSE(Application::shared().isStatusBarHidden());
    auto b = std::make_shared<Page>("B", &log);
    b->hidesStatusBar = true;
    a->present(b, false);
    EXPECT_TRUE(Application::shared().isStatusBarHidden());
    b->hidesStatusBar = false;
    b->setNeedsStatusBarAppearanceUpdate();
    EXPECT_FALSE(Application::shared().isStatusBarHidden());
    b->hidesStatusBar = true;
    b->setNeedsStatusBarAppearanceUpdate();
    b->dismiss(false);
    EXPECT_FALSE(Application::shared().isStatusBarHidden());
}

TEST_F(ViewControllerTest, PopoversAndSheetsBecomeFullScreenOnPhonesOnly) {
    auto b = std::make_shared<Page>("B", &log);
    b->setModalPresentationStyle(ModalPresentationStyle::Popover);
    EXPECT_EQ(b->effectivePresentationStyle(), ModalPresentationStyle::FullScreen);
    setProfile("pad");
    window = std::make_shared<Window>();
    window->makeKeyAndVisible();
    driver = std::make_unique<ui::test::Driver>(*window);
    EXPECT_EQ(b->effectivePresentationStyle(), ModalPresentationStyle::Popover);
    auto a = std::make_shared<Page>("A", &log);
    window->setRootViewController(a);
    auto anchor = std::make_shared<View>(Rect(100, 200, 40, 40));
    a->view()->addSubview(anchor);
    b->popoverPresentationController()->setSourceView(anchor);
    b->popoverPresentationController()->setSourceRect(anchor->bounds());
    b->setPreferredContentSize({300, 200});
    a->present(b, false);
    // Below its anchor (kept inside the window's margin), the screen
    // beneath still there.
    EXPECT_EQ(b->view()->frame(), Rect(10, 248, 300, 200));
    EXPECT_FALSE(a->view()->isHidden());
    EXPECT_EQ(a->appearance(), ViewController::Appearance::Appeared);
    a->dismiss(false);
}

TEST_F(ViewControllerTest, NavigationPushesAndPopsWithAppearanceAndParentCalls) {
    auto a = std::make_shared<Page>("A", &log);
    auto nav = std::make_shared<NavigationController>(a);
    window->setRootViewController(nav);
    EXPECT_EQ(of("A"), (Log{"willMoveToParent", "didMoveToParent", "loadView", "viewDidLoad", "viewWillAppear",
                            "viewWillLayoutSubviews", "viewDidLayoutSubviews", "viewDidAppear"}));
    EXPECT_EQ(a->navigationController(), nav.get());
    EXPECT_EQ(nav->navigationBar()->titleLabel()->text(), "A");

    auto b = std::make_shared<Page>("B", &log);
    log.clear();
    nav->pushViewController(b, true);
    EXPECT_TRUE(b->isMovingToParentViewController());
    EXPECT_EQ(of("A"), (Log{"viewWillDisappear"}));
    EXPECT_EQ(of("B").front(), "willMoveToParent");
    EXPECT_EQ(nav->topViewController(), b.get());
    EXPECT_EQ(nav->navigationBar()->titleLabel()->text(), "B");
    EXPECT_FALSE(nav->navigationBar()->backButton()->isHidden());
    EXPECT_EQ(nav->navigationBar()->backButton()->currentTitle(), "A");
    // Sliding in from the right.
    driver->advance(0.15);
    EXPECT_GT(b->view()->presentationFrame().x(), 0);
    driver->advance(0.3);
    EXPECT_EQ(of("A").back(), "viewDidDisappear");
    EXPECT_EQ(of("B").back(), "didMoveToParent");
    EXPECT_FALSE(b->isMovingToParentViewController());
    EXPECT_EQ(a->view()->superview(), nullptr);
    EXPECT_EQ(b->view()->frame().x(), 0);

    // The back button pops.
    log.clear();
    driver->tap(*nav->navigationBar()->backButton());
    EXPECT_EQ(nav->topViewController(), a.get());
    EXPECT_TRUE(b->isMovingFromParentViewController());
    driver->advance(0.5);
    EXPECT_EQ(of("B"), (Log{"willMoveToParent(null)", "viewWillDisappear", "viewDidDisappear", "didMoveToParent(null)"}));
    EXPECT_EQ(of("A").front(), "viewWillAppear(animated)");
    EXPECT_EQ(of("A").back(), "viewDidAppear");
    // The screen that goes hears of it before the one that comes back (what
    // it keeps as it leaves is there when the other appears).
    const auto leaving = std::find(log.begin(), log.end(), "B:viewWillDisappear");
    const auto coming = std::find(log.begin(), log.end(), "A:viewWillAppear(animated)");
    ASSERT_TRUE(leaving != log.end() && coming != log.end());
    EXPECT_LT(leaving, coming);
    EXPECT_EQ(b->parentViewController(), nullptr);
    EXPECT_TRUE(nav->navigationBar()->backButton()->isHidden());
    EXPECT_EQ(nav->popViewController(true), nullptr);  // the root stays
}

TEST_F(ViewControllerTest, QuickSuccessionLosesNothingAndPopToRootDropsTheMiddle) {
    auto a = std::make_shared<Page>("A", &log);
    auto nav = std::make_shared<NavigationController>(a);
    window->setRootViewController(nav);
    auto b = std::make_shared<Page>("B", &log);
    auto c = std::make_shared<Page>("C", &log);
    nav->pushViewController(b, true);
    nav->pushViewController(c, true);  // b's slide ends at once
    EXPECT_EQ(b->appearance(), ViewController::Appearance::Disappearing);
    EXPECT_EQ(nav->viewControllers().size(), 3u);
    driver->advance(0.5);
    EXPECT_EQ(c->appearance(), ViewController::Appearance::Appeared);
    EXPECT_EQ(b->appearance(), ViewController::Appearance::Disappeared);
    log.clear();
    auto removed = nav->popToRootViewController(false);
    ASSERT_EQ(removed.size(), 2u);
    EXPECT_EQ(removed[0], b);
    EXPECT_EQ(of("B"), (Log{"willMoveToParent(null)", "didMoveToParent(null)"}));  // never shown again
    EXPECT_EQ(of("C"), (Log{"willMoveToParent(null)", "viewWillDisappear", "viewDidDisappear", "didMoveToParent(null)"}));
    EXPECT_EQ(a->appearance(), ViewController::Appearance::Appeared);
}

TEST_F(ViewControllerTest, BarsTakeRoomOrGiveSafeArea) {
    auto a = std::make_shared<Page>("A", &log);
    auto nav = std::make_shared<NavigationController>(a);
    window->setRootViewController(nav);
    driver->settle();
    double top = window->windowSafeAreaInsets().top;
    // Extended under the translucent bar: full frame, the bar as safe area.
    EXPECT_EQ(a->view()->frame().y(), 0);
    EXPECT_EQ(a->additionalSafeAreaInsets().top, NavigationBar::kHeight);
    EXPECT_EQ(nav->navigationBar()->frame(), Rect(0, 0, 390, top + 44));
    // No extended edges: below the bar.
    a->setEdgesForExtendedLayout(RectEdgeNone);
    driver->settle();
    EXPECT_EQ(a->view()->frame().y(), top + 44);
    EXPECT_EQ(a->additionalSafeAreaInsets().top, 0);
    // Hiding the bar gives the room back, on the clock when animated.
    nav->setNavigationBarHidden(true, true);
    EXPECT_TRUE(nav->isNavigationBarHidden());
    driver->advance(0.1);
    EXPECT_GT(nav->navigationBar()->presentationFrame().maxY(), 0);
    driver->advance(0.2);
    EXPECT_LE(nav->navigationBar()->frame().maxY(), 0);
    EXPECT_EQ(a->view()->frame().y(), 0);
    nav->setNavigationBarHidden(false, false);
    // The tool bar shows the top screen's items.
    int taps = 0;
    a->setToolbarItems({BarButtonItem::withTitle("Go", BarButtonItemStyle::Plain, [&](BarButtonItem&) { ++taps; })});
    nav->setToolbarHidden(false, false);
    driver->settle();
    double bottom = window->windowSafeAreaInsets().bottom;
    EXPECT_EQ(nav->toolbar()->frame(), Rect(0, 844 - bottom - 44, 390, 44 + bottom));
    EXPECT_EQ(a->view()->frame().maxY(), 844 - bottom - 44);
    View* go = driver->findByText("Go");
    ASSERT_NE(go, nullptr);
    driver->tap(*go);
    EXPECT_EQ(taps, 1);
}

TEST_F(ViewControllerTest, AnEdgeSwipePopsWhenAllowed) {
    auto a = std::make_shared<Page>("A", &log);
    auto nav = std::make_shared<NavigationController>(a);
    window->setRootViewController(nav);
    auto b = std::make_shared<Page>("B", &log);
    nav->pushViewController(b, false);
    nav->setInteractivePopEnabled(false);
    driver->drag({5, 400}, {250, 400}, 0.3);
    EXPECT_EQ(nav->topViewController(), b.get());
    nav->setInteractivePopEnabled(true);
    // Not from the edge: nothing.
    driver->drag({100, 400}, {350, 400}, 0.3);
    EXPECT_EQ(nav->topViewController(), b.get());
    driver->drag({5, 400}, {250, 400}, 0.3);
    EXPECT_EQ(nav->topViewController(), a.get());
    driver->advance(0.5);
}

TEST_F(ViewControllerTest, NavigationInsidePresentationDismissesAsAWhole) {
    auto a = std::make_shared<Page>("A", &log);
    window->setRootViewController(a);
    auto b = std::make_shared<Page>("B", &log);
    auto nav = std::make_shared<NavigationController>(b);
    a->present(nav, false);
    EXPECT_EQ(b->appearance(), ViewController::Appearance::Appeared);
    // The screen inside dismisses the navigation controller it sits in.
    b->dismiss(false);
    EXPECT_EQ(a->presentedViewController(), nullptr);
    EXPECT_EQ(b->appearance(), ViewController::Appearance::Disappeared);
    EXPECT_EQ(nav->view()->window(), nullptr);
}

TEST_F(ViewControllerTest, ReplacingTheStackAndHidingTheToolBarForPushedScreens) {
    auto a = std::make_shared<Page>("A", &log);
    auto nav = std::make_shared<NavigationController>(a);
    window->setRootViewController(nav);
    nav->setToolbarHidden(false);
    auto b = std::make_shared<Page>("B", &log);
    b->setHidesBottomBarWhenPushed(true);
    nav->pushViewController(b, false);
    driver->settle();
    EXPECT_EQ(b->view()->frame().maxY(), 844);  // no room kept for the tool bar
    EXPECT_GE(nav->toolbar()->frame().y(), 844);
    auto c = std::make_shared<Page>("C", &log);
    auto d = std::make_shared<Page>("D", &log);
    log.clear();
    nav->setViewControllers({c, d}, false);
    EXPECT_EQ(nav->viewControllers().size(), 2u);
    EXPECT_EQ(a->parentViewController(), nullptr);
    EXPECT_EQ(of("B"), (Log{"willMoveToParent(null)", "viewWillDisappear", "viewDidDisappear", "didMoveToParent(null)"}));
    EXPECT_EQ(of("A"), (Log{"willMoveToParent(null)", "didMoveToParent(null)"}));
    EXPECT_EQ(d->appearance(), ViewController::Appearance::Appeared);
    EXPECT_EQ(c->appearance(), ViewController::Appearance::Disappeared);
    EXPECT_EQ(nav->navigationBar()->backButton()->currentTitle(), "C");
    // Pushing a screen already on a stack is refused.
    nav->pushViewController(c, false);
    EXPECT_EQ(nav->viewControllers().size(), 2u);
}

TEST(TransitionCoordinatorTest, BlocksRunOnceAndLateOnesJoinOrAreRefused) {
    TransitionCoordinatorContext ctx;
    ctx.duration = 0.4;
    TransitionCoordinator c(ctx);
    std::vector<std::string> steps;
    c.animateAlongsideTransition([&](const TransitionCoordinatorContext&) {
        steps.push_back("a");
        // Added while the animation runs: joins it at once.
        c.animateAlongsideTransition([&](const TransitionCoordinatorContext&) { steps.push_back("late"); },
                                     [&](const TransitionCoordinatorContext&) { steps.push_back("late done"); });
    },
                                 [&](const TransitionCoordinatorContext& x) {
                                     EXPECT_DOUBLE_EQ(x.duration, 0.4);
                                     steps.push_back("done");
                                 });
    c.runAlongside();
    EXPECT_EQ(steps, (std::vector<std::string>{"a", "late"}));
    c.runCompletions();
    c.runCompletions();
    EXPECT_EQ(steps, (std::vector<std::string>{"a", "late", "done", "late done"}));
    EXPECT_FALSE(c.animateAlongsideTransition([&](const TransitionCoordinatorContext&) { steps.push_back("x"); }));
    EXPECT_EQ(steps.size(), 4u);
}

TEST(PopoverPlacementTest, BelowTheAnchorWhenThereIsRoomElseAboveAndAlwaysInside) {
    auto window = std::make_shared<View>(Rect(0, 0, 768, 1024));
    auto anchor = std::make_shared<View>(Rect(700, 40, 44, 44));
    window->addSubview(anchor);
    PopoverPresentationController p;
    p.setSourceView(anchor);
    p.setSourceRect(anchor->bounds());
    Rect wb = window->bounds();
    Rect f = p.frameFor({300, 200}, wb);
    EXPECT_EQ(f.y(), 84 + 8);
    EXPECT_EQ(f.maxX(), 768 - 10);  // pushed inside the right margin
    anchor->setFrame(Rect(300, 950, 44, 44));
    f = p.frameFor({300, 200}, wb);
    EXPECT_EQ(f.maxY(), 950 - 8);
    // Too big: as large as the window allows.
    f = p.frameFor({2000, 3000}, wb);
    EXPECT_EQ(f.width(), 768 - 20);
    EXPECT_GE(f.y(), 10);
    EXPECT_LE(f.maxY(), 1024 - 10 + 1e-9);
    // No anchor: centred.
    PopoverPresentationController none;
    EXPECT_EQ(none.frameFor({300, 200}, wb), Rect(234, 412, 300, 200));
}
