#pragma once

#include "platform/ui/NavigationBar.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/ViewController.h"

#include <memory>
#include <vector>

namespace ui {

class NavigationController;

// Optional hooks of a navigation controller's delegate.
class NavigationControllerDelegate {
public:
    virtual ~NavigationControllerDelegate() = default;
    virtual void navigationControllerWillShowViewController(NavigationController&, ViewController&, bool animated) {
        (void)animated;
    }
    virtual void navigationControllerDidShowViewController(NavigationController&, ViewController&, bool animated) {
        (void)animated;
    }
};

// A stack of screens under a navigation bar, with an optional tool bar at
// the bottom showing the top screen's tool bar items. Pushing slides the new
// screen in from the right, popping slides it out; the bar follows with the
// screens' navigation items and a back button. An operation asked for while
// another still slides finishes that one at once first, so nothing is lost.
//
// The top screen decides the status bar and rotation. Its view fills the
// area under translucent bars (their heights then come as additional safe
// area) unless it asks for no extended edges; then it sits between them.
class NavigationController : public ViewController, public NavigationBarDelegate {
public:
    NavigationController();
    explicit NavigationController(Ref root);
    ~NavigationController() override;

    const std::vector<Ref>& viewControllers() const { return stack_; }
    void setViewControllers(std::vector<Ref> vcs, bool animated = false);
    ViewController* topViewController() const { return stack_.empty() ? nullptr : stack_.back().get(); }
    // The top screen, or what it presents.
    ViewController* visibleViewController() const;
    // The screen under `vc` in the stack: null for the root or a screen not
    // in the stack.
    ViewController* viewControllerBelow(const ViewController* vc) const;

    void pushViewController(const Ref& vc, bool animated);
    // The popped screen, or null at the root.
    Ref popViewController(bool animated);
    std::vector<Ref> popToRootViewController(bool animated);
    std::vector<Ref> popToViewController(ViewController* vc, bool animated);
    static constexpr double kTransitionDuration = 0.35;

    NavigationControllerDelegate* delegate() const { return delegate_; }
    void setDelegate(NavigationControllerDelegate* d) { delegate_ = d; }

    NavigationBar* navigationBar();
    Toolbar* toolbar();
    bool isNavigationBarHidden() const { return barHidden_; }
    void setNavigationBarHidden(bool hidden, bool animated = false);
    bool isToolbarHidden() const { return toolbarHidden_; }
    void setToolbarHidden(bool hidden, bool animated = false);
    // Whether a swipe from the left edge pops the top screen.
    bool isInteractivePopEnabled() const { return interactivePop_; }
    void setInteractivePopEnabled(bool on) { interactivePop_ = on; }
    // The edge swipe (from the container view's touch watching).
    bool edgeSwipeBegan(Point p) const;
    void edgeSwipeEnded(double distance, double velocity);

    // Called by screens when their tool bar items change.
    void toolbarItemsDidChange(ViewController* vc, bool animated);

    // --- ViewController ---
    void loadView() override;
    void viewWillTransitionToSize(Size size, const std::shared_ptr<TransitionCoordinator>& coordinator) override;
    ViewController* childViewControllerForStatusBarHidden() const override { return topViewController(); }
    ViewController* childViewControllerForStatusBarStyle() const override { return topViewController(); }
    ViewController* childViewControllerForHomeIndicatorAutoHidden() const override { return topViewController(); }
    ViewController* childViewControllerForRotation() const override { return topViewController(); }

    // Escape goes back: pops the top screen (as the back button does), or,
    // at the first screen of a presented stack, answers its closing button
    // (a left one, or Done or Cancel) or else closes the stack.
    std::vector<KeyCommand> keyCommands() const override;
    bool goBackOnEscape();

    // --- NavigationBarDelegate ---
    bool navigationBarShouldPopItem(NavigationBar& bar, NavigationItem& item) override;

    // Lays the bars and the top screen out (the container view calls it).
    void layoutContent();

protected:
    void forwardAppearance(bool appearing, bool did, bool animated) override;

private:
    struct Transition {
        Ref from;
        Ref to;
        bool push = true;
        bool animated = false;
        std::vector<Ref> removed;  // screens leaving the stack
    };
    void transition(Ref from, Ref to, bool push, bool animated, std::vector<Ref> removed);
    void finishTransition();
    void completeRunningTransition();
    Rect contentFrame(ViewController& vc) const;
    void applyInsets(ViewController& vc);
    void syncBar(bool animated);
    void syncToolbar(bool animated);

    std::vector<Ref> stack_;
    std::shared_ptr<NavigationBar> bar_;
    std::shared_ptr<Toolbar> toolbar_;
    std::shared_ptr<View> content_;
    bool barHidden_ = false;
    bool toolbarHidden_ = true;
    bool interactivePop_ = true;
    NavigationControllerDelegate* delegate_ = nullptr;
    std::unique_ptr<Transition> running_;
    uint64_t transitionSerial_ = 0;
    // Escape pressed while screens slide: it goes back once they have.
    bool escapeWhileMoving_ = false;
};

}  // namespace ui
