#pragma once

#include "platform/graphics/Canvas.h"
#include "platform/graphics/Path.h"
#include "platform/ui/Animation.h"
#include "platform/ui/Color.h"
#include "platform/ui/Geometry.h"
#include "platform/ui/Responder.h"
#include "platform/ui/TraitCollection.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ui {

class Window;

enum class ContentMode {
    ScaleToFill,
    ScaleAspectFit,
    ScaleAspectFill,
    Redraw,
    Center,
    Top,
    Bottom,
    Left,
    Right,
    TopLeft,
    TopRight,
    BottomLeft,
    BottomRight,
};

enum AutoresizingMask : unsigned {
    AutoresizingNone = 0,
    AutoresizingFlexibleLeftMargin = 1u << 0,
    AutoresizingFlexibleWidth = 1u << 1,
    AutoresizingFlexibleRightMargin = 1u << 2,
    AutoresizingFlexibleTopMargin = 1u << 3,
    AutoresizingFlexibleHeight = 1u << 4,
    AutoresizingFlexibleBottomMargin = 1u << 5,
};

// A rectangle of the screen that draws itself and its subviews and handles
// the touches that land on it.
//
// Geometry: `bounds` is the view's own coordinate space, `center` is where
// the middle of the bounds sits in the superview's space, and `transform`
// turns the view about that centre; `frame` is derived from the three.
// Setting a property inside View::animate records an animation: the model
// value (what the getters answer) changes at once, the value drawn (the
// presentation value) moves to it on the run loop's clock.
//
// Views are shared objects: make them with std::make_shared; a superview
// owns its subviews.
class View : public Responder, public std::enable_shared_from_this<View> {
public:
    using Ref = std::shared_ptr<View>;

    View();
    explicit View(const Rect& frame);
    ~View() override;
    View(const View&) = delete;
    View& operator=(const View&) = delete;

    // --- Geometry (model values) ---
    Rect frame() const;
    virtual void setFrame(const Rect& frame);
    Rect bounds() const { return bounds_; }
    virtual void setBounds(const Rect& bounds);
    Point center() const { return center_; }
    void setCenter(Point center);
    AffineTransform transform() const { return transform_; }
    void setTransform(const AffineTransform& t);

    // --- Presentation values (what is drawn at this moment) ---
    Rect presentationFrame() const;
    Rect presentationBounds() const;
    Point presentationCenter() const;
    AffineTransform presentationTransform() const;
    double presentationAlpha() const;
    Color presentationBackgroundColor() const;
    double presentationCornerRadius() const;

    // --- Appearance ---
    double alpha() const { return alpha_; }
    void setAlpha(double alpha);
    bool isHidden() const { return hidden_; }
    void setHidden(bool hidden);
    Color backgroundColor() const { return backgroundColor_; }
    void setBackgroundColor(const Color& c);
    double cornerRadius() const { return cornerRadius_; }
    void setCornerRadius(double r);
    double borderWidth() const { return borderWidth_; }
    void setBorderWidth(double w);
    Color borderColor() const { return borderColor_; }
    void setBorderColor(const Color& c);
    Color shadowColor() const { return shadowColor_; }
    void setShadowColor(const Color& c);
    double shadowOpacity() const { return shadowOpacity_; }
    void setShadowOpacity(double o);
    Size shadowOffset() const { return shadowOffset_; }
    void setShadowOffset(Size s);
    double shadowRadius() const { return shadowRadius_; }
    void setShadowRadius(double r);
    const std::optional<gfx::Path>& shadowPath() const { return shadowPath_; }
    void setShadowPath(std::optional<gfx::Path> p);
    bool clipsToBounds() const { return clipsToBounds_; }
    void setClipsToBounds(bool clips);
    ContentMode contentMode() const { return contentMode_; }
    void setContentMode(ContentMode m);
    // The tint of this view: its own, else the superview's, else system blue.
    Color tintColor() const;
    void setTintColor(std::optional<Color> c);
    virtual void tintColorDidChange() {}

    // --- Identity and interaction ---
    int tag() const { return tag_; }
    void setTag(int tag) { tag_ = tag; }
    // This view or the first descendant with the tag (depth first).
    View* viewWithTag(int tag);
    bool isUserInteractionEnabled() const { return userInteractionEnabled_; }
    void setUserInteractionEnabled(bool on) { userInteractionEnabled_ = on; }
    // A view that does not take part in multi-touch gets only its first finger.
    bool isMultipleTouchEnabled() const { return multipleTouchEnabled_; }
    void setMultipleTouchEnabled(bool on) { multipleTouchEnabled_ = on; }

    // --- Hierarchy ---
    View* superview() const { return superview_; }
    const std::vector<Ref>& subviews() const { return subviews_; }
    void addSubview(const Ref& view);
    void insertSubview(const Ref& view, size_t index);
    void insertSubviewAbove(const Ref& view, const View* sibling);
    void insertSubviewBelow(const Ref& view, const View* sibling);
    void removeFromSuperview();
    void bringSubviewToFront(const View* view);
    void sendSubviewToBack(const View* view);
    bool isDescendantOfView(const View* view) const;
    // The window this view is in, or null.
    Window* window() const;
    virtual bool isWindow() const { return false; }
    // A box laid on the window over every screen (a notice) that hears keys
    // before the screens do, with its own keyCommands().
    virtual bool isKeyOverlay() const { return false; }

    virtual void willMoveToSuperview(View* newSuperview) { (void)newSuperview; }
    virtual void didMoveToSuperview() {}
    virtual void willMoveToWindow(Window* newWindow) { (void)newWindow; }
    virtual void didMoveToWindow() {}
    virtual void didAddSubview(View* subview) { (void)subview; }
    virtual void willRemoveSubview(View* subview) { (void)subview; }

    // --- Layout ---
    unsigned autoresizingMask() const { return autoresizingMask_; }
    void setAutoresizingMask(unsigned mask) { autoresizingMask_ = mask; }
    bool autoresizesSubviews() const { return autoresizesSubviews_; }
    void setAutoresizesSubviews(bool on) { autoresizesSubviews_ = on; }
    // Asks for layoutSubviews on a later turn of the run loop.
    void setNeedsLayout();
    bool needsLayout() const { return needsLayout_; }
    // Runs the pending layout of the window (or the tree this view is in) now.
    void layoutIfNeeded();
    virtual void layoutSubviews() {}
    virtual Size sizeThatFits(Size size) const { (void)size; return bounds_.size; }
    void sizeToFit();

    // The part of the view that window edges, bars and rounded corners leave
    // uncovered, as insets from its bounds.
    EdgeInsets safeAreaInsets() const;
    virtual void safeAreaInsetsDidChange() {}

    TraitCollection traitCollection() const;
    virtual void traitCollectionDidChange(const TraitCollection& previous) { (void)previous; }
    // A colour resolved for this view's appearance.
    gfx::Rgba resolve(const Color& c) const { return c.resolve(traitCollection()); }

    // --- Drawing ---
    void setNeedsDisplay();
    // Draws the view's own content in its bounds coordinates; the background,
    // border and shadow are drawn around it and the subviews over it.
    virtual void draw(gfx::Canvas& canvas, const Rect& rect) { (void)canvas; (void)rect; }
    // Whether draw() is cut to the bounds (views whose content may spill
    // over, such as image views, answer false unless they clip).
    virtual bool clipsOwnDrawing() const { return true; }

    // --- Coordinates (model values) ---
    Point convertPointTo(Point p, const View* to) const;
    Point convertPointFrom(Point p, const View* from) const;
    Rect convertRectTo(const Rect& r, const View* to) const;
    Rect convertRectFrom(const Rect& r, const View* from) const;
    // The map from this view's bounds space to its root's space (the window's).
    AffineTransform transformToRoot() const;
    Point convertPointToWindow(Point p) const;
    Point convertPointFromWindow(Point p) const;
    // The map from this view's bounds space to its superview's.
    AffineTransform transformToSuperview() const;

    // --- Hit testing ---
    // `point` is in this view's bounds space. Hidden, transparent, disabled
    // or (without the user-interaction option) animating views are skipped.
    virtual View* hitTest(Point point, const Event* event);
    virtual bool pointInside(Point point, const Event* event) const;
    // Whether an animation under way (without the user-interaction option)
    // makes touches pass through this view for now.
    bool animationBlocksTouches() const { return blockedByAnimation(); }

    // --- Responder chain ---
    Responder* nextResponder() const override;
    // The view controller whose view this is (it comes between the view and
    // its superview in the chain).
    void setOwnerController(Responder* controller) { ownerController_ = controller; }
    Responder* ownerController() const { return ownerController_; }

    // --- Watching touches of descendants ---
    // A view that answers true is told of every touch that begins on it or
    // any view inside it, before the hit view gets touchesBegan, and of the
    // touch's later phases. It may take a touch over (Window::takeOverTouch):
    // the hit view is cancelled and the watcher gets the touch from then on.
    virtual bool watchesTouches() const { return false; }
    virtual void watchTouchBegan(Touch& touch) { (void)touch; }
    virtual void watchTouchMoved(Touch& touch) { (void)touch; }
    virtual void watchTouchEnded(Touch& touch) { (void)touch; }
    virtual void watchTouchCancelled(Touch& touch) { (void)touch; }

    // --- Animation ---
    static void animate(double duration, const std::function<void()>& changes,
                        std::function<void(bool)> completion = {});
    static void animate(double duration, double delay, unsigned options, const std::function<void()>& changes,
                        std::function<void(bool)> completion = {});
    // A spring: `damping` is the damping ratio (1 does not overshoot),
    // `velocity` the initial speed in whole distances per second.
    static void animateSpring(double duration, double delay, double damping, double velocity, unsigned options,
                              const std::function<void()>& changes, std::function<void(bool)> completion = {});
    static void performWithoutAnimation(const std::function<void()>& changes);
    static bool areAnimationsEnabled();
    static void setAnimationsEnabled(bool on);

    // Stops every animation of this view; their completions see finished = false.
    void removeAllAnimations();
    bool hasAnimations() const;
    bool isAnimating(AnimatedProperty p) const;
    // Ends the tracks that have run their course (called by the animator).
    void endAnimationTrack(AnimatedProperty p, uint64_t serial);

protected:
    bool isReadyForFirstResponder() const override { return window() != nullptr; }
    // Sends window-change notifications down the tree.
    void notifyWindowChange(Window* oldWindow, Window* newWindow, bool before);
    // Called when the view's bounds size changed (after autoresizing).
    virtual void boundsSizeDidChange(Size oldSize) { (void)oldSize; }

private:
    friend class Window;
    void animatableWillChange(AnimatedProperty p, const AnimatedValue& oldValue, const AnimatedValue& newValue);
    AnimatedValue presentationValue(AnimatedProperty p, const AnimatedValue& model) const;
    void interruptTrack(AnimatedProperty p);
    void autoresize(Size oldSize, Size newSize);
    void layoutTree();
    void markNeedsLayoutDeep();
    void propagateTraitChange(const TraitCollection& previous);
    void propagateSafeAreaChange();
    void propagateTintChange();
    bool blockedByAnimation() const;
    void detachFromSuperview(bool notify);

    View* superview_ = nullptr;
    std::vector<Ref> subviews_;
    Responder* ownerController_ = nullptr;

    Point center_;
    Rect bounds_;
    AffineTransform transform_;
    double alpha_ = 1.0;
    bool hidden_ = false;
    Color backgroundColor_;
    double cornerRadius_ = 0;
    double borderWidth_ = 0;
    Color borderColor_ = Color::black();
    Color shadowColor_ = Color::black();
    double shadowOpacity_ = 0;
    Size shadowOffset_{0, -3};
    double shadowRadius_ = 3;
    std::optional<gfx::Path> shadowPath_;
    bool clipsToBounds_ = false;
    ContentMode contentMode_ = ContentMode::ScaleToFill;
    std::optional<Color> tintColor_;
    int tag_ = 0;
    bool userInteractionEnabled_ = true;
    bool multipleTouchEnabled_ = false;
    unsigned autoresizingMask_ = AutoresizingNone;
    bool autoresizesSubviews_ = true;
    bool needsLayout_ = true;

    std::map<AnimatedProperty, AnimationTrack> tracks_;
};

}  // namespace ui
