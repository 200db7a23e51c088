#include "platform/ui/ViewController.h"

#include "platform/core/DeviceProfile.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/RunLoop.h"
#include "platform/ui/Application.h"
#include "platform/ui/Log.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/NavigationItem.h"
#include "platform/ui/PopoverPresentationController.h"
#include "platform/ui/TransitionCoordinator.h"
#include "platform/ui/Window.h"

#include <algorithm>
#include <utility>
#include <cmath>

namespace ui {

namespace {

constexpr double kRotationDuration = 0.4;
constexpr double kBackdropAlpha = 0.4;
const Size kFormSheetSize{540, 620};
const Size kPopoverDefaultSize{320, 480};

// The transition running now (a rotation), for transitionCoordinator().
std::shared_ptr<TransitionCoordinator>& currentCoordinator() {
    static std::shared_ptr<TransitionCoordinator> c;
    return c;
}

bool homeIndicatorHidden = false;

double orientationAngle(InterfaceOrientation o) {
    switch (o) {
    case InterfaceOrientation::Portrait: return 0;
    case InterfaceOrientation::LandscapeRight: return M_PI / 2;
    case InterfaceOrientation::PortraitUpsideDown: return M_PI;
    case InterfaceOrientation::LandscapeLeft: return -M_PI / 2;
    }
    return 0;
}

EdgeInsets addInsets(const EdgeInsets& a, const EdgeInsets& b) {
    return EdgeInsets{a.top + b.top, a.left + b.left, a.bottom + b.bottom, a.right + b.right};
}

}  // namespace

ViewController::ViewController() = default;

ViewController::~ViewController() {
    if (view_ && view_->ownerController() == this) view_->setOwnerController(nullptr);
    for (auto& c : children_) c->parent_ = nullptr;
    if (presented_) presented_->presenting_ = nullptr;
    if (presentationContainer_) presentationContainer_->removeFromSuperview();
}

// --- The view ---

View* ViewController::view() {
    loadViewIfNeeded();
    return view_.get();
}

std::shared_ptr<View> ViewController::viewRef() {
    loadViewIfNeeded();
    return view_;
}

void ViewController::loadViewIfNeeded() {
    if (view_) return;
    loadView();
    if (!view_) {
        auto v = std::make_shared<View>(Screen::main().bounds());
        v->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
        setView(v);
    }
    viewDidLoad();
}

void ViewController::loadView() {
    auto v = std::make_shared<View>(Screen::main().bounds());
    v->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
    setView(v);
}

void ViewController::setView(std::shared_ptr<View> view) {
    if (view_ == view) return;
    if (view_ && view_->ownerController() == this) view_->setOwnerController(nullptr);
    view_ = std::move(view);
    if (view_) view_->setOwnerController(this);
}

// --- Appearance ---

void ViewController::viewWillAppear(bool) {}
void ViewController::viewDidAppear(bool) {}
void ViewController::viewWillDisappear(bool) {}
void ViewController::viewDidDisappear(bool) {}

void ViewController::beginAppearanceTransition(bool appearing, bool animated) {
    auto keep = shared_from_this();
    if (appearing) {
        if (appearance_ == Appearance::Appeared || appearance_ == Appearance::Appearing) return;
        appearance_ = Appearance::Appearing;
        appearanceAnimated_ = animated;
        loadViewIfNeeded();
        viewWillAppear(animated);
    } else {
        if (appearance_ == Appearance::Disappeared || appearance_ == Appearance::Disappearing) return;
        appearance_ = Appearance::Disappearing;
        appearanceAnimated_ = animated;
        viewWillDisappear(animated);
    }
    if (shouldAutomaticallyForwardAppearanceMethods()) forwardAppearance(appearing, false, animated);
}

void ViewController::endAppearanceTransition() {
    auto keep = shared_from_this();
    if (appearance_ == Appearance::Appearing) {
        appearance_ = Appearance::Appeared;
        viewDidAppear(appearanceAnimated_);
        if (shouldAutomaticallyForwardAppearanceMethods()) forwardAppearance(true, true, appearanceAnimated_);
    } else if (appearance_ == Appearance::Disappearing) {
        appearance_ = Appearance::Disappeared;
        viewDidDisappear(appearanceAnimated_);
        if (shouldAutomaticallyForwardAppearanceMethods()) forwardAppearance(false, true, appearanceAnimated_);
    }
}

void ViewController::forwardAppearance(bool appearing, bool did, bool animated) {
    if (!view_) return;
    for (auto& c : std::vector<Ref>(children_)) {
        if (!c->view_ || !c->view_->isDescendantOfView(view_.get())) continue;
        if (did)
            c->endAppearanceTransition();
        else
            c->beginAppearanceTransition(appearing, animated);
    }
}

// --- Size transitions ---

void ViewController::viewWillTransitionToSize(Size size, const std::shared_ptr<TransitionCoordinator>& coordinator) {
    for (auto& c : std::vector<Ref>(children_)) c->viewWillTransitionToSize(size, coordinator);
}

std::shared_ptr<TransitionCoordinator> ViewController::transitionCoordinator() const { return currentCoordinator(); }

// --- Status bar and orientations ---

void ViewController::setNeedsStatusBarAppearanceUpdate() {
    Window* w = viewWindow();
    ViewController* root = nullptr;
    if (w) root = w->rootViewController().get();
    if (!root) {
        // Not in a window yet: the window's root decides when it is.
        root = this;
        while (root->parent_) root = root->parent_;
        while (root->presenting_) root = root->presenting_;
    }
    ViewController* top = root;
    while (top->presented_ && !top->presented_->beingDismissed_) {
        ViewController* p = top->presented_.get();
        if (p->effectivePresentationStyle() == ModalPresentationStyle::OverFullScreen && !p->capturesStatusBar_) break;
        top = p;
    }
    ViewController* hiddenBy = top;
    while (ViewController* c = hiddenBy->childViewControllerForStatusBarHidden()) hiddenBy = c;
    ViewController* styleBy = top;
    while (ViewController* c = styleBy->childViewControllerForStatusBarStyle()) styleBy = c;
    Application::shared().setStatusBarHidden(hiddenBy->prefersStatusBarHidden());
    Application::shared().setStatusBarStyle(styleBy->preferredStatusBarStyle());
    setNeedsUpdateOfHomeIndicatorAutoHidden();
}

void ViewController::setNeedsUpdateOfHomeIndicatorAutoHidden() {
    ViewController* root = this;
    if (Window* w = viewWindow())
        if (w->rootViewController()) root = w->rootViewController().get();
    ViewController* top = root;
    while (top->presented_) top = top->presented_.get();
    while (ViewController* c = top->childViewControllerForHomeIndicatorAutoHidden()) top = c;
    homeIndicatorHidden = top->prefersHomeIndicatorAutoHidden();
}

bool ViewController::isHomeIndicatorAutoHidden() { return homeIndicatorHidden; }

unsigned ViewController::supportedInterfaceOrientations() const {
    return sys::DeviceProfile::current().isPad() ? InterfaceOrientationMaskAll
                                                  : InterfaceOrientationMaskAllButUpsideDown;
}

// --- Identity ---

void ViewController::setTitle(const std::string& title) {
    title_ = title;
    navigationItem()->setTitle(title);
}

NavigationItem* ViewController::navigationItem() { return navigationItemRef().get(); }

std::shared_ptr<NavigationItem> ViewController::navigationItemRef() {
    if (!navigationItem_) navigationItem_ = NavigationItem::make(title_);
    return navigationItem_;
}

void ViewController::setToolbarItems(std::vector<BarButtonItem::Ref> items, bool animated) {
    toolbarItems_ = std::move(items);
    if (NavigationController* nav = navigationController())
        if (nav->topViewController() == this) nav->toolbarItemsDidChange(this, animated);
}

void ViewController::setEdgesForExtendedLayout(unsigned edges) {
    edges_ = edges;
    if (parent_ && parent_->view_) parent_->view_->setNeedsLayout();
}

void ViewController::setAdditionalSafeAreaInsets(const EdgeInsets& insets) {
    if (insets == additionalInsets_) return;
    additionalInsets_ = insets;
    if (view_) {
        view_->setNeedsLayout();
        view_->safeAreaInsetsDidChange();
    }
}

EdgeInsets ViewController::viewSafeAreaInsets() { return addInsets(view()->safeAreaInsets(), additionalInsets_); }

TraitCollection ViewController::traitCollection() { return view()->traitCollection(); }

void ViewController::setEditing(bool editing, bool) {
    editing_ = editing;
    if (editButton_) {
        editButton_->setTitle(Application::shared().systemWord(editing ? "Done" : "Edit"));
        editButton_->setStyle(editing ? BarButtonItemStyle::Done : BarButtonItemStyle::Plain);
    }
}

BarButtonItem::Ref ViewController::editButtonItem() {
    if (!editButton_) {
        std::weak_ptr<ViewController> weak = weak_from_this();
        editButton_ = BarButtonItem::withTitle(Application::shared().systemWord(editing_ ? "Done" : "Edit"),
                                               editing_ ? BarButtonItemStyle::Done : BarButtonItemStyle::Plain,
                                               [weak](BarButtonItem&) {
                                                   if (auto self = weak.lock()) self->setEditing(!self->editing_, true);
                                               });
    }
    return editButton_;
}

// --- Containment ---

void ViewController::addChildViewController(const Ref& child) {
    if (!child || child.get() == this || child->parent_ == this) return;
    if (child->parent_) child->removeFromParentViewController();
    child->willMoveToParentViewController(this);
    children_.push_back(child);
    child->parent_ = this;
}

void ViewController::removeFromParentViewController() {
    ViewController* p = parent_;
    if (!p) return;
    auto keep = shared_from_this();
    auto it = std::find_if(p->children_.begin(), p->children_.end(), [this](const Ref& r) { return r.get() == this; });
    if (it != p->children_.end()) p->children_.erase(it);
    parent_ = nullptr;
    didMoveToParentViewController(nullptr);
}

NavigationController* ViewController::navigationController() const {
    for (ViewController* p = parent_; p; p = p->parent_)
        if (auto* nav = dynamic_cast<NavigationController*>(p)) return nav;
    return nullptr;
}

// --- Modal presentation ---

PopoverPresentationController* ViewController::popoverPresentationController() {
    if (!popover_) popover_ = std::make_shared<PopoverPresentationController>();
    return popover_.get();
}

ModalPresentationStyle ViewController::effectivePresentationStyle() const {
    bool pad = sys::DeviceProfile::current().isPad();
    switch (presentationStyle_) {
    case ModalPresentationStyle::FullScreen:
    case ModalPresentationStyle::OverFullScreen: return presentationStyle_;
    case ModalPresentationStyle::Automatic: return pad ? ModalPresentationStyle::PageSheet : ModalPresentationStyle::FullScreen;
    case ModalPresentationStyle::PageSheet:
    case ModalPresentationStyle::FormSheet:
    case ModalPresentationStyle::Popover: return pad ? presentationStyle_ : ModalPresentationStyle::FullScreen;
    }
    return ModalPresentationStyle::FullScreen;
}

ViewController* ViewController::presentationRoot() {
    ViewController* r = this;
    while (r->parent_) r = r->parent_;
    return r;
}

Rect ViewController::presentedFrame(const ViewController& vc, Rect wb) const {
    switch (vc.effectivePresentationStyle()) {
    case ModalPresentationStyle::FullScreen:
    case ModalPresentationStyle::OverFullScreen:
    case ModalPresentationStyle::Automatic: return wb;
    case ModalPresentationStyle::PageSheet: {
        double w = std::min(wb.width(), std::max(kFormSheetSize.width, wb.width() * 0.75));
        double top = 40;
        return Rect(wb.minX() + (wb.width() - w) / 2, wb.minY() + top, w, wb.height() - top);
    }
    case ModalPresentationStyle::FormSheet: {
        Size s = vc.preferredContentSize_.isEmpty() ? kFormSheetSize : vc.preferredContentSize_;
        double w = std::min(s.width, wb.width()), h = std::min(s.height, wb.height());
        return Rect(wb.minX() + (wb.width() - w) / 2, wb.minY() + (wb.height() - h) / 2, w, h);
    }
    case ModalPresentationStyle::Popover: {
        Size s = vc.preferredContentSize_.isEmpty() ? kPopoverDefaultSize : vc.preferredContentSize_;
        if (vc.popover_) return vc.popover_->frameFor(s, wb);
        return PopoverPresentationController().frameFor(s, wb);
    }
    }
    return wb;
}

void ViewController::present(const Ref& vc, bool animated, Completion completion) {
    if (!vc) return;
    ViewController* root = presentationRoot();
    // Presenting on a screen that presents already goes on top of it, as the
    // platform does for the top-most presenter.
    while (root->presented_ && !root->inTransition_) root = root->presented_.get();
    Window* w = root->viewWindow();
    if (root->inTransition_ || vc->presenting_ || vc->parent_ || !w) {
        logWarning("present: refused (a transition is running, the screen is already shown, or the presenter "
                   "is not in a window)");
        return;
    }
    auto keepRoot = root->shared_from_this();
    root->presented_ = vc;
    vc->presenting_ = root;
    vc->beingPresented_ = true;
    root->inTransition_ = true;
    ModalPresentationStyle style = vc->effectivePresentationStyle();
    bool fullScreen = style == ModalPresentationStyle::FullScreen;
    bool dims = style == ModalPresentationStyle::PageSheet || style == ModalPresentationStyle::FormSheet ||
                style == ModalPresentationStyle::Popover;

    auto container = std::make_shared<View>(w->bounds());
    container->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
    if (dims) container->setBackgroundColor(Color::black().withAlpha(kBackdropAlpha));
    root->presentationContainer_ = container;
    View* v = vc->view();
    Rect final = presentedFrame(*vc, w->bounds());
    View::performWithoutAnimation([&] {
        v->setFrame(final);
        container->addSubview(vc->viewRef());
        w->addSubview(container);
    });
    vc->beginAppearanceTransition(true, animated);
    if (fullScreen) root->beginAppearanceTransition(false, animated);
    w->layoutIfNeeded();

    std::weak_ptr<ViewController> weakRoot = root->weak_from_this();
    auto done = [weakRoot, vc, animated, completion](bool) {
        if (auto r = weakRoot.lock()) r->finishPresentation(vc, animated, completion);
    };
    if (!animated) {
        done(true);
        return;
    }
    bool cover = vc->transitionStyle_ == ModalTransitionStyle::CoverVertical && style != ModalPresentationStyle::Popover;
    View::performWithoutAnimation([&] {
        if (cover)
            v->setFrame(rectOffset(final, 0, w->bounds().height() - final.y()));
        else
            v->setAlpha(0);
        if (dims) container->setAlpha(0);
    });
    const unsigned options =
        AnimationOptionCurveEaseInOut | (vc->takesTouchesWhilePresented() ? AnimationOptionAllowUserInteraction : 0u);
    View::animate(kPresentationDuration, 0, options,
                  [&] {
                      v->setFrame(final);
                      v->setAlpha(1);
                      container->setAlpha(1);
                  },
                  done);
}

void ViewController::finishPresentation(const Ref& vc, bool, Completion completion) {
    auto keep = shared_from_this();
    inTransition_ = false;
    vc->beingPresented_ = false;
    vc->endAppearanceTransition();
    if (vc->effectivePresentationStyle() == ModalPresentationStyle::FullScreen) {
        endAppearanceTransition();
        // The screen underneath is out of sight until the dismissal.
        if (view_ && presented_ == vc) view_->setHidden(true);
    }
    vc->setNeedsStatusBarAppearanceUpdate();
    if (completion) completion();
    // A button pressed while the screen came in is taken now.
    if (auto pending = std::exchange(dismissAfterPresentation_, std::nullopt); pending && presented_ == vc)
        runDismissal(pending->animated, std::move(pending->completion));
}

void ViewController::dismiss(bool animated, Completion completion) {
    ViewController* root = presentationRoot();
    ViewController* presenter = nullptr;
    if (root->presented_) {
        presenter = root;
    } else {
        // This screen (or the container it is in) was presented.
        for (ViewController* a = this; a && !presenter; a = a->parent_)
            if (a->presenting_) presenter = a->presenting_;
    }
    if (!presenter) return;
    auto keep = presenter->shared_from_this();
    // Screens presented above the one going away leave at once.
    std::vector<ViewController*> chain;
    for (ViewController* p = presenter->presented_.get(); p && p->presented_; p = p->presented_.get()) chain.push_back(p);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) (*it)->runDismissal(false, {});
    presenter->runDismissal(animated, std::move(completion));
}

void ViewController::runDismissal(bool animated, Completion completion) {
    Ref vc = presented_;
    if (!vc) return;
    if (inTransition_) {
        if (vc->beingPresented_ && !dismissAfterPresentation_) {
            dismissAfterPresentation_ = PendingDismissal{animated, std::move(completion)};
            return;
        }
        logWarning("dismiss: refused while a transition is running");
        return;
    }
    auto keep = shared_from_this();
    inTransition_ = true;
    vc->beingDismissed_ = true;
    bool fullScreen = vc->effectivePresentationStyle() == ModalPresentationStyle::FullScreen;
    if (fullScreen) {
        if (view_) view_->setHidden(false);
        beginAppearanceTransition(true, animated);
    }
    vc->beginAppearanceTransition(false, animated);
    std::shared_ptr<View> container = presentationContainer_;
    std::weak_ptr<ViewController> weak = weak_from_this();
    auto done = [weak, vc, container, completion](bool) {
        auto self = weak.lock();
        if (container) container->removeFromSuperview();
        if (vc->view_) vc->view_->removeFromSuperview();
        vc->presenting_ = nullptr;
        vc->beingDismissed_ = false;
        if (self) {
            if (self->presented_ == vc) self->presented_.reset();
            if (self->presentationContainer_ == container) self->presentationContainer_.reset();
            self->inTransition_ = false;
        }
        vc->endAppearanceTransition();
        if (self) {
            self->endAppearanceTransition();
            self->setNeedsStatusBarAppearanceUpdate();
        }
        if (completion) completion();
    };
    if (!animated || !vc->view_) {
        done(true);
        return;
    }
    View* v = vc->view_.get();
    Window* w = v->window();
    bool cover = vc->transitionStyle_ == ModalTransitionStyle::CoverVertical &&
                 vc->effectivePresentationStyle() != ModalPresentationStyle::Popover;
    double drop = w ? w->bounds().height() - v->frame().y() : v->frame().height();
    View::animate(kPresentationDuration, 0, AnimationOptionCurveEaseInOut,
                  [&] {
                      if (cover)
                          v->setFrame(rectOffset(v->frame(), 0, drop));
                      else
                          v->setAlpha(0);
                      if (container && !container->backgroundColor().isClear()) container->setAlpha(0);
                  },
                  done);
}

void ViewController::layoutPresentationChain(Rect wb) {
    for (ViewController* p = this; p && p->presented_; p = p->presented_.get()) {
        if (p->presentationContainer_) p->presentationContainer_->setFrame(wb);
        if (p->presented_->view_) p->presented_->view_->setFrame(presentedFrame(*p->presented_, wb));
    }
}

// --- Responder ---

Responder* ViewController::nextResponder() const {
    if (presenting_) return presenting_;
    if (view_ && view_->superview()) return view_->superview();
    if (parent_) return parent_;
    return rootWindow();
}

// --- Window hooks ---

Window* ViewController::rootWindow() const {
    auto w = rootOf_.lock();
    return w ? static_cast<Window*>(w.get()) : nullptr;
}

Window* ViewController::viewWindow() const {
    if (view_) {
        if (Window* w = view_->window()) return w;
    }
    return rootWindow();
}

ViewController* ViewController::topController(ViewController* root) {
    if (!root) return nullptr;
    ViewController* top = root;
    while (top->presented_ && !top->presented_->beingDismissed_) top = top->presented_.get();
    while (ViewController* c = top->childViewControllerForRotation()) top = c;
    return top;
}

ViewController* ViewController::controllerForView(const View* view) {
    for (const View* v = view; v; v = v->superview())
        if (auto* vc = dynamic_cast<ViewController*>(v->ownerController())) return vc;
    return nullptr;
}

Responder* ViewController::keyResponder(Window& window) {
    ViewController* root = window.rootViewController().get();
    if (!root) return &window;
    ViewController* top = root;
    while (top->presented_) top = top->presented_.get();
    while (ViewController* c = top->childViewControllerForRotation()) top = c;
    return top;
}

void ViewController::installAsRoot(Window& window, const Ref& vc, const Ref& old) {
    if (old && old != vc) {
        old->beginAppearanceTransition(false, false);
        if (old->view_ && old->view_->superview() == &window) old->view_->removeFromSuperview();
        old->endAppearanceTransition();
        old->rootOf_.reset();
    }
    if (!vc) return;
    vc->rootOf_ = window.weak_from_this();
    View* v = vc->view();
    View::performWithoutAnimation([&] {
        v->setFrame(window.bounds());
        v->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
        if (v->superview() != &window) window.insertSubview(vc->viewRef(), 0);
    });
    bool shown = !window.isHidden();
    if (shown) vc->beginAppearanceTransition(true, false);
    window.layoutIfNeeded();
    if (shown) vc->endAppearanceTransition();
    vc->setNeedsStatusBarAppearanceUpdate();
}

bool ViewController::rotateWindow(Window& window, InterfaceOrientation o) {
    InterfaceOrientation from = window.orientation();
    if (o == from) return false;
    ViewController* root = window.rootViewController().get();
    if (root) {
        ViewController* top = topController(root);
        unsigned allowed = top->supportedInterfaceOrientations();
        if (auto delegate = Application::shared().delegate())
            allowed &= delegate->supportedInterfaceOrientationsForWindow();
        if (!top->shouldAutorotate() || !(allowed & orientationMaskBit(o))) return false;
    }
    auto keepRoot = root ? root->shared_from_this() : nullptr;
    sys::DeviceProfile p = sys::DeviceProfile::current();
    Size size{p.screenWidth, p.screenHeight};
    if (isLandscape(o)) std::swap(size.width, size.height);
    TransitionCoordinatorContext ctx;
    ctx.animated = true;
    ctx.duration = kRotationDuration;
    ctx.targetTransform = AffineTransform::makeRotation(orientationAngle(from) - orientationAngle(o));
    auto coordinator = std::make_shared<TransitionCoordinator>(ctx);
    currentCoordinator() = coordinator;
    sys::NotificationCenter::defaultCenter().post(kDeviceOrientationDidChangeNotification, nullptr);
    if (root) {
        root->viewWillTransitionToSize(size, coordinator);
        for (ViewController* q = root->presented_.get(); q; q = q->presented_.get())
            q->viewWillTransitionToSize(size, coordinator);
    }
    View::performWithoutAnimation([&] { window.setOrientation(o); });
    View::animate(kRotationDuration, 0, AnimationOptionCurveEaseInOut, [&] {
        if (root) {
            root->view()->setFrame(window.bounds());
            root->layoutPresentationChain(window.bounds());
        }
        coordinator->runAlongside();
        window.layoutIfNeeded();
    });
    // The completions run even when another turn follows before this ends.
    sys::RunLoop::main().schedule(kRotationDuration, [coordinator] {
        if (currentCoordinator() == coordinator) currentCoordinator().reset();
        coordinator->runCompletions();
    });
    if (root) root->setNeedsStatusBarAppearanceUpdate();
    return true;
}

bool ViewController::resizeWindow(Window& window, Size size) {
    size.width = std::round(size.width);
    size.height = std::round(size.height);
    if (!(size.width >= 1 && size.height >= 1)) return false;
    const Size old = window.bounds().size;
    if (size.width == old.width && size.height == old.height) return false;
    // A window wider than high reads as landscape, so spreads and the
    // per-orientation settings follow its shape; a square one is portrait.
    InterfaceOrientation from = window.orientation();
    InterfaceOrientation o = from;
    if (size.width > size.height && !isLandscape(from)) o = InterfaceOrientation::LandscapeLeft;
    if (size.width <= size.height && isLandscape(from)) o = InterfaceOrientation::Portrait;
    sys::DeviceProfile p = sys::DeviceProfile::current();
    p.screenWidth = isLandscape(o) ? size.height : size.width;
    p.screenHeight = isLandscape(o) ? size.width : size.height;
    sys::DeviceProfile::setCurrent(p);

    ViewController* root = window.rootViewController().get();
    auto keepRoot = root ? root->shared_from_this() : nullptr;
    TransitionCoordinatorContext ctx;
    ctx.animated = false;
    ctx.duration = 0;
    auto coordinator = std::make_shared<TransitionCoordinator>(ctx);
    currentCoordinator() = coordinator;
    if (o != from) sys::NotificationCenter::defaultCenter().post(kDeviceOrientationDidChangeNotification, nullptr);
    if (root) {
        root->viewWillTransitionToSize(size, coordinator);
        for (ViewController* q = root->presented_.get(); q; q = q->presented_.get())
            q->viewWillTransitionToSize(size, coordinator);
    }
    View::performWithoutAnimation([&] {
        window.setOrientation(o);
        window.reloadProfile();
        if (root) {
            root->view()->setFrame(window.bounds());
            root->layoutPresentationChain(window.bounds());
        }
        coordinator->runAlongside();
        window.layoutIfNeeded();
    });
    sys::RunLoop::main().post([coordinator] {
        if (currentCoordinator() == coordinator) currentCoordinator().reset();
        coordinator->runCompletions();
    });
    if (root) root->setNeedsStatusBarAppearanceUpdate();
    return true;
}

}  // namespace ui
