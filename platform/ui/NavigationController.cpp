#include "platform/ui/NavigationController.h"

#include "platform/ui/BarButtonItem.h"
#include "platform/ui/InFrontKeyScope.h"
#include "platform/ui/Log.h"
#include "platform/ui/NavigationItem.h"
#include "platform/ui/Window.h"
#include "platform/core/RunLoop.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace ui {

namespace {

constexpr double kBarAnimationDuration = 0.2;
// How far the screen underneath moves while another slides over it.
constexpr double kParallax = 0.3;
constexpr double kEdgeWidth = 20;
constexpr double kEdgeSlop = 10;
constexpr double kEdgePopSpeed = 300;

// The navigation controller's view: lays the bars out and watches for the
// swipe from the left edge that pops.
class NavigationContainerView : public View {
public:
    explicit NavigationContainerView(NavigationController* nav, const Rect& frame) : View(frame), nav_(nav) {}
    void layoutSubviews() override {
        if (nav_) nav_->layoutContent();
    }
    bool watchesTouches() const override { return true; }
    void watchTouchBegan(Touch& t) override {
        if (swipe_) return;
        Point p = t.locationInView(this);
        if (!nav_ || !nav_->edgeSwipeBegan(p)) return;
        swipe_ = &t;
        start_ = p;
        taken_ = false;
    }
    void watchTouchMoved(Touch& t) override {
        if (&t != swipe_) return;
        Point p = t.locationInView(this);
        double dx = p.x - start_.x, dy = p.y - start_.y;
        if (!taken_) {
            if (dx > kEdgeSlop && dx > std::fabs(dy)) {
                taken_ = true;
                if (Window* w = window()) w->takeOverTouch(t, nullptr);
            } else if (std::hypot(dx, dy) > kEdgeSlop) {
                swipe_ = nullptr;  // not a swipe to the right
                return;
            }
        }
        lastTime_ = prevTime_;
        prevTime_ = t.timestamp();
        lastX_ = prevX_;
        prevX_ = p.x;
    }
    void watchTouchEnded(Touch& t) override {
        if (&t != swipe_) return;
        swipe_ = nullptr;
        if (!taken_ || !nav_) return;
        Point p = t.locationInView(this);
        double dt = prevTime_ - lastTime_;
        double v = dt > 0 ? (prevX_ - lastX_) / dt : 0;
        nav_->edgeSwipeEnded(p.x - start_.x, v);
    }
    void watchTouchCancelled(Touch& t) override {
        if (&t == swipe_) swipe_ = nullptr;
    }
    NavigationController* nav_;

private:
    const Touch* swipe_ = nullptr;
    Point start_;
    bool taken_ = false;
    double prevTime_ = 0, lastTime_ = 0, prevX_ = 0, lastX_ = 0;
};

}  // namespace

NavigationController::NavigationController() = default;

NavigationController::NavigationController(Ref root) {
    if (root) {
        stack_.push_back(root);
        addChildViewController(root);
        root->didMoveToParentViewController(this);
    }
}

NavigationController::~NavigationController() {
    if (isViewLoaded())
        if (auto* c = dynamic_cast<NavigationContainerView*>(view())) c->nav_ = nullptr;
    if (bar_) bar_->setDelegate(nullptr);
}

void NavigationController::loadView() {
    auto v = std::make_shared<NavigationContainerView>(this, Screen::main().bounds());
    v->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
    content_ = std::make_shared<View>(v->bounds());
    content_->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
    v->addSubview(content_);
    toolbar_ = std::make_shared<Toolbar>();
    toolbar_->setHidden(toolbarHidden_);
    v->addSubview(toolbar_);
    bar_ = std::make_shared<NavigationBar>();
    bar_->setDelegate(this);
    v->addSubview(bar_);
    setView(v);
    syncBar(false);
    syncToolbar(false);
    if (ViewController* top = topViewController()) {
        content_->addSubview(top->viewRef());
        top->view()->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
    }
}

NavigationBar* NavigationController::navigationBar() {
    loadViewIfNeeded();
    return bar_.get();
}

Toolbar* NavigationController::toolbar() {
    loadViewIfNeeded();
    return toolbar_.get();
}

ViewController* NavigationController::visibleViewController() const {
    ViewController* top = topViewController();
    if (!top) return nullptr;
    while (top->presentedViewController()) top = top->presentedViewController();
    return top;
}

ViewController* NavigationController::viewControllerBelow(const ViewController* vc) const {
    for (size_t i = 1; i < stack_.size(); ++i)
        if (stack_[i].get() == vc) return stack_[i - 1].get();
    return nullptr;
}

// --- Stack operations ---

void NavigationController::pushViewController(const Ref& vc, bool animated) {
    if (!vc || std::find(stack_.begin(), stack_.end(), vc) != stack_.end() || vc->parentViewController()) {
        logWarning("pushViewController: the screen is already on a stack");
        return;
    }
    completeRunningTransition();
    Ref from = stack_.empty() ? nullptr : stack_.back();
    stack_.push_back(vc);
    addChildViewController(vc);
    vc->movingToParent_ = true;
    transition(from, vc, true, animated, {});
}

NavigationController::Ref NavigationController::popViewController(bool animated) {
    if (stack_.size() < 2) return nullptr;
    completeRunningTransition();
    Ref popped = stack_.back();
    stack_.pop_back();
    popped->willMoveToParentViewController(nullptr);
    popped->movingFromParent_ = true;
    transition(popped, stack_.back(), false, animated, {popped});
    return popped;
}

std::vector<NavigationController::Ref> NavigationController::popToViewController(ViewController* vc, bool animated) {
    auto it = std::find_if(stack_.begin(), stack_.end(), [vc](const Ref& r) { return r.get() == vc; });
    if (it == stack_.end() || it + 1 == stack_.end()) return {};
    completeRunningTransition();
    std::vector<Ref> removed(it + 1, stack_.end());
    stack_.erase(it + 1, stack_.end());
    Ref from = removed.back();
    for (auto& r : removed) {
        r->willMoveToParentViewController(nullptr);
        r->movingFromParent_ = true;
    }
    transition(from, stack_.back(), false, animated, removed);
    return removed;
}

std::vector<NavigationController::Ref> NavigationController::popToRootViewController(bool animated) {
    if (stack_.empty()) return {};
    return popToViewController(stack_.front().get(), animated);
}

void NavigationController::setViewControllers(std::vector<Ref> vcs, bool animated) {
    completeRunningTransition();
    vcs.erase(std::remove(vcs.begin(), vcs.end(), nullptr), vcs.end());
    Ref from = stack_.empty() ? nullptr : stack_.back();
    std::vector<Ref> removed;
    for (auto& old : stack_)
        if (std::find(vcs.begin(), vcs.end(), old) == vcs.end()) {
            old->willMoveToParentViewController(nullptr);
            old->movingFromParent_ = true;
            removed.push_back(old);
        }
    for (auto& n : vcs)
        if (n->parentViewController() != this) {
            addChildViewController(n);
            n->movingToParent_ = true;
        }
    bool push = !from || std::find(vcs.begin(), vcs.end(), from) != vcs.end() || removed.empty();
    stack_ = std::move(vcs);
    Ref to = stack_.empty() ? nullptr : stack_.back();
    if (to == from) {
        syncBar(animated);
        for (auto& r : removed) {
            r->removeFromParentViewController();
            r->movingFromParent_ = false;
        }
        for (auto& n : stack_)
            if (n->movingToParent_) {
                n->movingToParent_ = false;
                n->didMoveToParentViewController(this);
            }
        return;
    }
    transition(from, to, push, animated, removed);
}

// --- Transitions ---

void NavigationController::transition(Ref from, Ref to, bool push, bool animated, std::vector<Ref> removed) {
    auto keep = shared_from_this();
    bool loaded = isViewLoaded();
    bool visible = loaded && view()->window() && isVisible();
    animated = animated && visible && from && to;
    if (to && delegate_) delegate_->navigationControllerWillShowViewController(*this, *to, animated);
    syncBar(animated);
    syncToolbar(animated);
    running_ = std::make_unique<Transition>(Transition{from, to, push, animated, std::move(removed)});
    uint64_t serial = ++transitionSerial_;
    // The bars follow the new top screen (its tool bar wish) at once.
    if (loaded) View::performWithoutAnimation([&] { layoutContent(); });
    if (loaded && to) {
        View* tv = to->view();
        tv->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
        View::performWithoutAnimation([&] {
            if (tv->superview() != content_.get()) {
                if (from && from->isViewLoaded() && from->view()->superview() == content_.get())
                    push ? content_->insertSubviewAbove(to->viewRef(), from->view())
                         : content_->insertSubviewBelow(to->viewRef(), from->view());
                else
                    content_->addSubview(to->viewRef());
            }
            tv->setFrame(contentFrame(*to));
            applyInsets(*to);
        });
    }
    if (visible) {
        // The screen that goes is told first, as the system does: what it
        // keeps as it leaves (a settings screen saves) is there for the
        // screen that comes back.
        if (from && from != to) from->beginAppearanceTransition(false, animated);
        if (to) to->beginAppearanceTransition(true, animated);
        if (Window* w = view()->window()) w->layoutIfNeeded();
    }
    if (!animated) {
        finishTransition();
        return;
    }
    View* tv = to->view();
    View* fv = from->view();
    double w = content_->bounds().width();
    Rect toFinal = tv->frame();
    Rect fromStart = fv->frame();
    View::performWithoutAnimation([&] {
        tv->setFrame(rectOffset(toFinal, push ? w : -w * kParallax, 0));
    });
    std::weak_ptr<ViewController> weak = weak_from_this();
    View::animate(
        kTransitionDuration, 0, AnimationOptionCurveEaseInOut,
        [&] {
            tv->setFrame(toFinal);
            fv->setFrame(rectOffset(fromStart, push ? -w * kParallax : w, 0));
        },
        [weak, serial](bool) {
            auto self = std::static_pointer_cast<NavigationController>(weak.lock());
            if (self && self->transitionSerial_ == serial) self->finishTransition();
        });
}

void NavigationController::finishTransition() {
    if (!running_) return;
    auto keep = shared_from_this();
    std::unique_ptr<Transition> t = std::move(running_);
    bool visible = isViewLoaded() && view()->window() && isVisible();
    if (t->from && t->from != t->to && t->from->isViewLoaded()) {
        View* fv = t->from->view();
        fv->removeAllAnimations();
        if (fv->superview() == content_.get()) fv->removeFromSuperview();
    }
    if (t->to && t->to->isViewLoaded()) {
        t->to->view()->removeAllAnimations();
        View::performWithoutAnimation([&] { t->to->view()->setFrame(contentFrame(*t->to)); });
        // The bars may have come or gone while it slid in (a screen that
        // hides the tool bar as it appears): its safe area follows them.
        applyInsets(*t->to);
    }
    if (visible || (t->to && t->to->appearance() == Appearance::Appearing)) {
        if (t->to) t->to->endAppearanceTransition();
    }
    if (t->from && t->from != t->to) t->from->endAppearanceTransition();
    for (auto& r : t->removed) {
        if (r->isViewLoaded() && r->view()->superview() == content_.get()) r->view()->removeFromSuperview();
        r->removeFromParentViewController();
        r->movingFromParent_ = false;
    }
    for (auto& n : stack_)
        if (n->movingToParent_) {
            n->movingToParent_ = false;
            n->didMoveToParentViewController(this);
        }
    if (t->to && delegate_) delegate_->navigationControllerDidShowViewController(*this, *t->to, t->animated);
    setNeedsStatusBarAppearanceUpdate();
    // A key pressed during the slide is not lost: it acts on the screen now in front.
    if (std::exchange(escapeWhileMoving_, false)) {
        std::weak_ptr<ViewController> weak = weak_from_this();
        sys::RunLoop::main().post([weak] {
            if (auto self = std::static_pointer_cast<NavigationController>(weak.lock())) self->goBackOnEscape();
        });
    }
}

void NavigationController::completeRunningTransition() {
    if (!running_) return;
    ++transitionSerial_;  // the animation's own completion no longer counts
    finishTransition();
}

// --- Bars and layout ---

Rect NavigationController::contentFrame(ViewController& vc) const {
    if (!isViewLoaded()) return Screen::main().bounds();
    View* v = const_cast<NavigationController*>(this)->view();
    Rect b = v->bounds();
    EdgeInsets safe = v->safeAreaInsets();
    bool toolbarShown = !toolbarHidden_ && !(vc.hidesBottomBarWhenPushed() && stack_.size() > 1);
    double barBottom = barHidden_ ? 0 : safe.top + NavigationBar::kHeight;
    double toolbarTop = toolbarShown ? b.height() - safe.bottom - Toolbar::kHeight : b.height();
    bool extendTop = (vc.edgesForExtendedLayout() & RectEdgeTop) &&
                     (!bar_ || bar_->isTranslucent() || vc.extendedLayoutIncludesOpaqueBars());
    bool extendBottom = (vc.edgesForExtendedLayout() & RectEdgeBottom) &&
                        (!toolbar_ || toolbar_->isTranslucent() || vc.extendedLayoutIncludesOpaqueBars());
    double y0 = extendTop ? 0 : barBottom;
    double y1 = extendBottom ? b.height() : toolbarTop;
    return Rect(0, y0, b.width(), std::max(0.0, y1 - y0));
}

void NavigationController::applyInsets(ViewController& vc) {
    if (!isViewLoaded()) return;
    // A screen under a bar gets the bar's height as safe area (the window's
    // safe area already covers the status bar).
    Rect f = contentFrame(vc);
    bool toolbarShown = !toolbarHidden_ && !(vc.hidesBottomBarWhenPushed() && stack_.size() > 1);
    EdgeInsets add;
    if (!barHidden_ && f.minY() <= 0) add.top = NavigationBar::kHeight;
    if (toolbarShown && f.maxY() >= view()->bounds().height()) add.bottom = Toolbar::kHeight;
    vc.setAdditionalSafeAreaInsets(add);
}

void NavigationController::layoutContent() {
    if (!isViewLoaded()) return;
    View* v = view();
    Rect b = v->bounds();
    EdgeInsets safe = v->safeAreaInsets();
    double barH = safe.top + NavigationBar::kHeight;
    bar_->setFrame(Rect(0, barHidden_ ? -barH : 0, b.width(), barH));
    ViewController* top = topViewController();
    bool toolbarShown = !toolbarHidden_ && !(top && top->hidesBottomBarWhenPushed() && stack_.size() > 1);
    double tbH = Toolbar::kHeight + safe.bottom;
    toolbar_->setFrame(Rect(0, toolbarShown ? b.height() - tbH : b.height(), b.width(), tbH));
    if (toolbarShown) toolbar_->setHidden(false);
    content_->setFrame(b);
    if (top && !running_ && top->isViewLoaded() && top->view()->superview() == content_.get()) {
        top->view()->setFrame(contentFrame(*top));
        applyInsets(*top);
    }
}

void NavigationController::syncBar(bool animated) {
    if (!bar_) return;
    std::vector<NavigationItem::Ref> items;
    for (auto& vc : stack_) items.push_back(vc->navigationItemRef());
    bar_->setItems(std::move(items), animated);
}

void NavigationController::syncToolbar(bool animated) {
    if (!toolbar_) return;
    ViewController* top = topViewController();
    toolbar_->setItems(top ? top->toolbarItems() : std::vector<BarButtonItem::Ref>{}, animated);
}

void NavigationController::toolbarItemsDidChange(ViewController* vc, bool animated) {
    if (vc == topViewController()) syncToolbar(animated);
}

void NavigationController::setNavigationBarHidden(bool hidden, bool animated) {
    if (hidden == barHidden_) return;
    barHidden_ = hidden;
    if (!isViewLoaded()) return;
    auto relayout = [this] {
        layoutContent();
        if (Window* w = view()->window()) w->layoutIfNeeded();
    };
    if (animated)
        View::animate(kBarAnimationDuration, relayout);
    else
        View::performWithoutAnimation(relayout);
}

void NavigationController::setToolbarHidden(bool hidden, bool animated) {
    if (hidden == toolbarHidden_) return;
    toolbarHidden_ = hidden;
    if (!isViewLoaded()) return;
    auto relayout = [this] {
        layoutContent();
        if (Window* w = view()->window()) w->layoutIfNeeded();
    };
    std::weak_ptr<View> tb = toolbar_;
    auto done = [tb, this, hidden](bool finished) {
        auto t = tb.lock();
        if (t && finished && hidden && toolbarHidden_) t->setHidden(true);
    };
    if (animated) {
        View::animate(kBarAnimationDuration, 0, AnimationOptionNone, relayout, done);
    } else {
        View::performWithoutAnimation(relayout);
        if (hidden) toolbar_->setHidden(true);
    }
}

bool NavigationController::edgeSwipeBegan(Point p) const {
    return interactivePop_ && stack_.size() > 1 && !running_ && p.x < kEdgeWidth;
}

void NavigationController::edgeSwipeEnded(double distance, double velocity) {
    double w = isViewLoaded() ? const_cast<NavigationController*>(this)->view()->bounds().width() : 0;
    if (distance > w / 3 || velocity > kEdgePopSpeed) popViewController(true);
}

std::vector<KeyCommand> NavigationController::keyCommands() const {
    // The first screen of the window's own stack has nowhere to go back to.
    if (stack_.size() <= 1 && !presentingViewController()) return {};
    auto* self = const_cast<NavigationController*>(this);
    // Going back is no key for what is in front of the screens.
    if (InFrontKeyScope::active()) return {};
    return {KeyCommand::make(KeyInput::escape, 0, [self](const KeyCommand&) { self->goBackOnEscape(); })};
}

bool NavigationController::goBackOnEscape() {
    ViewController* top = topViewController();
    if (running_) {
        escapeWhileMoving_ = true;
        return true;
    }
    if (!top || isBeingPresented() || isBeingDismissed()) return true;
    NavigationItem* item = top->navigationItem();
    if (stack_.size() > 1 && !(item && item->hidesBackButton())) {
        popViewController(true);
        return true;
    }
    if (!presentingViewController()) return false;
    if (item) {
        // The screen's own way out, as a tap on it would take it.
        const auto& left = item->leftBarButtonItems();
        if (left.size() == 1 && left.front()->isEnabled() && left.front()->action()) {
            left.front()->trigger();
            return true;
        }
        for (const auto& b : item->rightBarButtonItems()) {
            const auto kind = b->systemItem();
            if (kind && (*kind == BarButtonSystemItem::Done || *kind == BarButtonSystemItem::Cancel) && b->isEnabled() &&
                b->action()) {
                b->trigger();
                return true;
            }
        }
    }
    dismiss(true);
    return true;
}

bool NavigationController::navigationBarShouldPopItem(NavigationBar&, NavigationItem&) {
    // The bar's back button: the stack decides, and sets the bar's items.
    popViewController(true);
    return false;
}

void NavigationController::forwardAppearance(bool appearing, bool did, bool animated) {
    ViewController* top = topViewController();
    if (!top || running_) return;
    if (did)
        top->endAppearanceTransition();
    else
        top->beginAppearanceTransition(appearing, animated);
}

void NavigationController::viewWillTransitionToSize(Size size,
                                                    const std::shared_ptr<TransitionCoordinator>& coordinator) {
    if (ViewController* top = topViewController()) top->viewWillTransitionToSize(size, coordinator);
}

}  // namespace ui
