#pragma once

#include "platform/ui/Application.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Responder.h"
#include "platform/ui/Screen.h"
#include "platform/ui/View.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ui {

class NavigationController;
class NavigationItem;
class PopoverPresentationController;
class TransitionCoordinator;
class Window;

// Orientation masks: one bit per interface orientation (1 << its value).
enum InterfaceOrientationMask : unsigned {
    InterfaceOrientationMaskPortrait = 1u << 1,
    InterfaceOrientationMaskPortraitUpsideDown = 1u << 2,
    InterfaceOrientationMaskLandscapeLeft = 1u << 3,
    InterfaceOrientationMaskLandscapeRight = 1u << 4,
    InterfaceOrientationMaskLandscape = (1u << 3) | (1u << 4),
    InterfaceOrientationMaskAll = (1u << 1) | (1u << 2) | (1u << 3) | (1u << 4),
    InterfaceOrientationMaskAllButUpsideDown = (1u << 1) | (1u << 3) | (1u << 4),
};
inline unsigned orientationMaskBit(InterfaceOrientation o) { return 1u << unsigned(o); }

enum class ModalPresentationStyle { FullScreen, PageSheet, FormSheet, OverFullScreen, Popover, Automatic };
enum class ModalTransitionStyle { CoverVertical, CrossDissolve };
enum class StatusBarAnimation { None, Fade, Slide };

// Edges of a screen (edgesForExtendedLayout).
enum RectEdge : unsigned {
    RectEdgeNone = 0,
    RectEdgeTop = 1u << 0,
    RectEdgeLeft = 1u << 1,
    RectEdgeBottom = 1u << 2,
    RectEdgeRight = 1u << 3,
    RectEdgeAll = 0xF,
};

// One screen: it owns a view (made on first use by loadView, then
// viewDidLoad), hears when it appears and disappears, takes part in the
// responder chain between its view and the view's superview, presents other
// screens modally and sits in containers (navigation controllers, tab-like
// containers) as a child.
//
// The appearance calls come in the platform's order: viewWillAppear, the
// transition, viewDidAppear; viewWillDisappear, the transition,
// viewDidDisappear. Layout of its view is bracketed by
// viewWillLayoutSubviews and viewDidLayoutSubviews.
class ViewController : public Responder, public std::enable_shared_from_this<ViewController> {
public:
    using Ref = std::shared_ptr<ViewController>;
    using Completion = std::function<void()>;

    ViewController();
    ~ViewController() override;
    ViewController(const ViewController&) = delete;
    ViewController& operator=(const ViewController&) = delete;

    // --- The view ---
    // Loads the view when needed.
    View* view();
    std::shared_ptr<View> viewRef();
    bool isViewLoaded() const { return view_ != nullptr; }
    void setView(std::shared_ptr<View> view);
    void loadViewIfNeeded();
    // Makes the view; the default is a plain view of the screen's size.
    virtual void loadView();
    virtual void viewDidLoad() {}

    // --- Appearance ---
    virtual void viewWillAppear(bool animated);
    virtual void viewDidAppear(bool animated);
    virtual void viewWillDisappear(bool animated);
    virtual void viewDidDisappear(bool animated);
    virtual void viewWillLayoutSubviews() {}
    virtual void viewDidLayoutSubviews() {}
    // Containers drive their children with these; they send each appearance
    // call once, in order, whatever the nesting.
    void beginAppearanceTransition(bool appearing, bool animated);
    void endAppearanceTransition();
    // Whether appearance calls reach the children on their own (their views
    // in this one's view); containers that drive them answer false.
    virtual bool shouldAutomaticallyForwardAppearanceMethods() const { return true; }
    enum class Appearance { Disappeared, Appearing, Appeared, Disappearing };
    Appearance appearance() const { return appearance_; }
    bool isVisible() const { return appearance_ == Appearance::Appeared || appearance_ == Appearance::Appearing; }
    bool isMovingToParentViewController() const { return movingToParent_; }
    bool isMovingFromParentViewController() const { return movingFromParent_; }
    bool isBeingPresented() const { return beingPresented_; }
    bool isBeingDismissed() const { return beingDismissed_; }
    // Whether the screen's view takes touches while it slides or fades in;
    // otherwise they go nowhere until it is in.
    virtual bool takesTouchesWhilePresented() const { return false; }

    // --- Size transitions ---
    // The size of the view is about to change (rotation); the default passes
    // it on to the children and the presented screen.
    virtual void viewWillTransitionToSize(Size size, const std::shared_ptr<TransitionCoordinator>& coordinator);
    // The coordinator of the transition running now, or null.
    std::shared_ptr<TransitionCoordinator> transitionCoordinator() const;

    // --- Status bar, home indicator, orientations ---
    virtual bool prefersStatusBarHidden() const { return false; }
    virtual StatusBarStyle preferredStatusBarStyle() const { return StatusBarStyle::Default; }
    virtual StatusBarAnimation preferredStatusBarUpdateAnimation() const { return StatusBarAnimation::Fade; }
    virtual bool prefersHomeIndicatorAutoHidden() const { return false; }
    // The child whose preferences stand for this one's (containers).
    virtual ViewController* childViewControllerForStatusBarHidden() const { return nullptr; }
    virtual ViewController* childViewControllerForStatusBarStyle() const { return nullptr; }
    virtual ViewController* childViewControllerForHomeIndicatorAutoHidden() const { return nullptr; }
    // Applies the preferences of the screen that decides (the top one).
    void setNeedsStatusBarAppearanceUpdate();
    void setNeedsUpdateOfHomeIndicatorAutoHidden();
    // What the top screen last asked of the home indicator.
    static bool isHomeIndicatorAutoHidden();
    virtual unsigned supportedInterfaceOrientations() const;
    virtual bool shouldAutorotate() const { return true; }
    // The child that decides rotation for this one (containers: the top one).
    virtual ViewController* childViewControllerForRotation() const { return nullptr; }

    // --- Identity ---
    const std::string& title() const { return title_; }
    virtual void setTitle(const std::string& title);
    NavigationItem* navigationItem();
    std::shared_ptr<NavigationItem> navigationItemRef();
    const std::vector<BarButtonItem::Ref>& toolbarItems() const { return toolbarItems_; }
    void setToolbarItems(std::vector<BarButtonItem::Ref> items, bool animated = false);
    bool hidesBottomBarWhenPushed() const { return hidesBottomBar_; }
    void setHidesBottomBarWhenPushed(bool on) { hidesBottomBar_ = on; }
    unsigned edgesForExtendedLayout() const { return edges_; }
    void setEdgesForExtendedLayout(unsigned edges);
    bool extendedLayoutIncludesOpaqueBars() const { return includesOpaqueBars_; }
    void setExtendedLayoutIncludesOpaqueBars(bool on) { includesOpaqueBars_ = on; }
    // Room the container's bars take over the view (added to its safe area
    // for scroll views and layout).
    EdgeInsets additionalSafeAreaInsets() const { return additionalInsets_; }
    void setAdditionalSafeAreaInsets(const EdgeInsets& insets);
    // The view's safe area with the additional insets.
    EdgeInsets viewSafeAreaInsets();
    Size preferredContentSize() const { return preferredContentSize_; }
    void setPreferredContentSize(Size s) { preferredContentSize_ = s; }
    TraitCollection traitCollection();
    // The view's traits changed (light or dark, Reduce Transparency…).
    virtual void traitCollectionDidChange(const TraitCollection& previous) { (void)previous; }
    bool isEditing() const { return editing_; }
    virtual void setEditing(bool editing, bool animated);
    // A bar item that flips editing (Edit / Done).
    BarButtonItem::Ref editButtonItem();

    // --- Containment ---
    ViewController* parentViewController() const { return parent_; }
    const std::vector<Ref>& childViewControllers() const { return children_; }
    void addChildViewController(const Ref& child);
    void removeFromParentViewController();
    virtual void willMoveToParentViewController(ViewController* parent) { (void)parent; }
    virtual void didMoveToParentViewController(ViewController* parent) { (void)parent; }
    // The navigation controller this screen is in (itself excluded), or null.
    NavigationController* navigationController() const;

    // --- Modal presentation ---
    ModalPresentationStyle modalPresentationStyle() const { return presentationStyle_; }
    void setModalPresentationStyle(ModalPresentationStyle s) { presentationStyle_ = s; }
    // Whether a screen presented over full screen (not covering) decides
    // the status bar; by default the one underneath keeps deciding.
    bool modalPresentationCapturesStatusBarAppearance() const { return capturesStatusBar_; }
    void setModalPresentationCapturesStatusBarAppearance(bool on) { capturesStatusBar_ = on; }
    ModalTransitionStyle modalTransitionStyle() const { return transitionStyle_; }
    void setModalTransitionStyle(ModalTransitionStyle s) { transitionStyle_ = s; }
    // The anchor of a popover presentation (made on first use).
    PopoverPresentationController* popoverPresentationController();
    // The style actually used: popovers and sheets are full screen on phones.
    ModalPresentationStyle effectivePresentationStyle() const;
    ViewController* presentedViewController() const { return presented_.get(); }
    ViewController* presentingViewController() const { return presenting_; }
    // Presents `vc` over this screen (or the screen that holds it). The
    // completion runs when the transition has ended. Presenting while this
    // screen already presents or is in a transition is refused with a warning.
    virtual void present(const Ref& vc, bool animated, Completion completion = {});
    // Dismisses what this screen presents, or this screen when it is the one
    // presented (or inside it). Asked while the screen is still coming in,
    // it goes once it is in; asked while it is going already, it is refused
    // with a warning.
    virtual void dismiss(bool animated, Completion completion = {});
    static constexpr double kPresentationDuration = 0.4;

    // --- Responder ---
    Responder* nextResponder() const override;
    void ownedViewWillLayoutSubviews() override { viewWillLayoutSubviews(); }
    void ownedViewDidLayoutSubviews() override { viewDidLayoutSubviews(); }
    void ownedViewTraitCollectionDidChange(const TraitCollection& previous) override {
        traitCollectionDidChange(previous);
    }

    // --- Window hooks (the window's root controller) ---
    Window* viewWindow() const;
    // The screen that decides for the window: the top presented one, then
    // down through containers.
    static ViewController* topController(ViewController* root);
    static void installAsRoot(Window& window, const Ref& vc, const Ref& old);
    static bool rotateWindow(Window& window, InterfaceOrientation o);
    // The window takes a new size (a desktop window resized or made full
    // screen): the screens hear it as a size transition, as for a turn.
    static bool resizeWindow(Window& window, Size size);
    // Where keys start when nothing is first responder: the top screen.
    static Responder* keyResponder(Window& window);
    static constexpr const char* kDeviceOrientationDidChangeNotification = "UIDeviceOrientationDidChangeNotification";
    // The screen this view belongs to (walking up the view tree), or null.
    static ViewController* controllerForView(const View* view);

protected:
    // Layout of presented screens after a window size change.
    void layoutPresentationChain(Rect windowBounds);
    // Appearance forwarding to the children that live in this view
    // (containers forward to the child they show).
    virtual void forwardAppearance(bool appearing, bool did, bool animated);
    void setMovingToParent(bool on) { movingToParent_ = on; }
    void setMovingFromParent(bool on) { movingFromParent_ = on; }
    void setParent(ViewController* parent) { parent_ = parent; }
    friend class NavigationController;

private:
    Window* rootWindow() const;
    void finishPresentation(const Ref& vc, bool animated, Completion completion);
    void runDismissal(bool animated, Completion completion);
    Rect presentedFrame(const ViewController& vc, Rect windowBounds) const;
    ViewController* presentationRoot();

    std::shared_ptr<View> view_;
    std::string title_;
    std::shared_ptr<NavigationItem> navigationItem_;
    std::vector<BarButtonItem::Ref> toolbarItems_;
    BarButtonItem::Ref editButton_;
    bool hidesBottomBar_ = false;
    unsigned edges_ = RectEdgeAll;
    bool includesOpaqueBars_ = false;
    EdgeInsets additionalInsets_;
    Size preferredContentSize_;
    bool editing_ = false;
    Appearance appearance_ = Appearance::Disappeared;
    bool appearanceAnimated_ = false;
    bool movingToParent_ = false;
    bool movingFromParent_ = false;
    bool beingPresented_ = false;
    bool beingDismissed_ = false;

    ViewController* parent_ = nullptr;
    std::vector<Ref> children_;

    ModalPresentationStyle presentationStyle_ = ModalPresentationStyle::FullScreen;
    ModalTransitionStyle transitionStyle_ = ModalTransitionStyle::CoverVertical;
    bool capturesStatusBar_ = false;
    std::shared_ptr<PopoverPresentationController> popover_;
    Ref presented_;
    ViewController* presenting_ = nullptr;
    // The view that holds the presented screen's view in the window (a
    // dimming backdrop for sheets and popovers).
    std::shared_ptr<View> presentationContainer_;
    bool inTransition_ = false;
    // A dismissal asked for while the presentation was still running.
    struct PendingDismissal {
        bool animated = true;
        Completion completion;
    };
    std::optional<PendingDismissal> dismissAfterPresentation_;
    std::weak_ptr<View> rootOf_;  // the window this is the root of
};

}  // namespace ui
