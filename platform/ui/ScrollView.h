#pragma once

#include "platform/core/RunLoop.h"
#include "platform/ui/ScrollMotion.h"
#include "platform/ui/View.h"

#include <memory>
#include <optional>
#include <vector>

namespace ui {

class ScrollView;

// What a scroll view tells its delegate; every method is optional.
class ScrollViewDelegate {
public:
    virtual ~ScrollViewDelegate() = default;
    virtual void scrollViewDidScroll(ScrollView&) {}
    virtual void scrollViewWillBeginDragging(ScrollView&) {}
    // `velocity` in points per millisecond, as the platform gives it; the
    // delegate may move the target where the content comes to rest.
    virtual void scrollViewWillEndDragging(ScrollView&, Point velocity, Point* targetContentOffset) {
        (void)velocity;
        (void)targetContentOffset;
    }
    virtual void scrollViewDidEndDragging(ScrollView&, bool willDecelerate) { (void)willDecelerate; }
    virtual void scrollViewWillBeginDecelerating(ScrollView&) {}
    virtual void scrollViewDidEndDecelerating(ScrollView&) {}
    virtual void scrollViewDidEndScrollingAnimation(ScrollView&) {}
    virtual View* viewForZoomingInScrollView(ScrollView&) { return nullptr; }
    virtual void scrollViewWillBeginZooming(ScrollView&, View* view) { (void)view; }
    virtual void scrollViewDidZoom(ScrollView&) {}
    virtual void scrollViewDidEndZooming(ScrollView&, View* view, double scale) {
        (void)view;
        (void)scale;
    }
    // A wheel movement (points, as scrolled) that found the content at its
    // edge or with nowhere to scroll; true when the delegate used it.
    virtual bool scrollViewWheelPastEdge(ScrollView&, double dx, double dy) {
        (void)dx;
        (void)dy;
        return false;
    }
};

enum class ContentInsetAdjustmentBehavior { Automatic = 0, ScrollableAxes = 1, Never = 2, Always = 3 };
enum class ScrollIndicatorStyle { Default, Black, White };

// A view that shows a part of a larger content (its bounds origin is the
// content offset) and moves it under the finger.
//
// A finger that moves more than 10 points along an axis that can scroll
// becomes a drag: the content under it gets touchesCancelled (unless
// touchesShouldCancelInContentView says no) and the content follows the
// finger, with a rubber band past the edges. Lifting with speed decelerates
// (with a bounce at the edges), lifting still bounces back inside. Two
// fingers pinch-zoom the delegate's view for zooming (a scale transform),
// about the point between them. Everything moves on the run loop's clock.
class ScrollView : public View {
public:
    static constexpr double kDragSlop = 10.0;
    static constexpr double kAnimationDuration = 0.3;

    ScrollView();
    explicit ScrollView(const Rect& frame);
    ~ScrollView() override;

    ScrollViewDelegate* delegate() const { return delegate_; }
    void setDelegate(ScrollViewDelegate* d) { delegate_ = d; }

    // --- Content ---
    Size contentSize() const { return contentSize_; }
    void setContentSize(Size s);
    Point contentOffset() const { return bounds().origin; }
    // Not limited to the scrollable range, as on the platform. Animated
    // moves end with scrollViewDidEndScrollingAnimation.
    void setContentOffset(Point p, bool animated = false);
    EdgeInsets contentInset() const { return contentInset_; }
    void setContentInset(const EdgeInsets& i);
    ContentInsetAdjustmentBehavior contentInsetAdjustmentBehavior() const { return adjustment_; }
    void setContentInsetAdjustmentBehavior(ContentInsetAdjustmentBehavior b);
    // contentInset plus the safe area the adjustment behaviour adds.
    EdgeInsets adjustedContentInset() const { return adjustedInset_; }
    virtual void adjustedContentInsetDidChange() {}
    // The offsets the content rests between (after the adjusted insets).
    Point minimumContentOffset() const;
    Point maximumContentOffset() const;
    // Scrolls (within the range) so that `rect` of the content is visible.
    void scrollRectToVisible(const Rect& rect, bool animated);

    // --- Behaviour ---
    bool isScrollEnabled() const { return scrollEnabled_; }
    void setScrollEnabled(bool on) { scrollEnabled_ = on; }
    bool bounces() const { return bounces_; }
    void setBounces(bool on) { bounces_ = on; }
    bool alwaysBounceVertical() const { return alwaysBounceVertical_; }
    void setAlwaysBounceVertical(bool on) { alwaysBounceVertical_ = on; }
    bool alwaysBounceHorizontal() const { return alwaysBounceHorizontal_; }
    void setAlwaysBounceHorizontal(bool on) { alwaysBounceHorizontal_ = on; }
    bool isPagingEnabled() const { return pagingEnabled_; }
    void setPagingEnabled(bool on) { pagingEnabled_ = on; }
    // Per millisecond: ScrollMotion::kNormalRate or kFastRate.
    double decelerationRate() const { return decelerationRate_; }
    void setDecelerationRate(double r) { decelerationRate_ = r; }
    bool canCancelContentTouches() const { return canCancelContentTouches_; }
    void setCanCancelContentTouches(bool on) { canCancelContentTouches_ = on; }
    bool showsHorizontalScrollIndicator() const { return showsHorizontal_; }
    void setShowsHorizontalScrollIndicator(bool on) { showsHorizontal_ = on; }
    bool showsVerticalScrollIndicator() const { return showsVertical_; }
    void setShowsVerticalScrollIndicator(bool on) { showsVertical_ = on; }
    ScrollIndicatorStyle indicatorStyle() const { return indicatorStyle_; }
    void setIndicatorStyle(ScrollIndicatorStyle s) { indicatorStyle_ = s; }
    // Shows the indicators for a moment.
    void flashScrollIndicators();
    // Whether an indicator is on screen now (tests and the renderer).
    bool isShowingVerticalIndicator() const;
    bool isShowingHorizontalIndicator() const;

    // --- Zoom ---
    double minimumZoomScale() const { return minZoom_; }
    void setMinimumZoomScale(double s);
    double maximumZoomScale() const { return maxZoom_; }
    void setMaximumZoomScale(double s);
    double zoomScale() const { return zoomScale_; }
    // Limited to the minimum and maximum; zooms about the middle of the
    // visible area. Animated zooms end with scrollViewDidEndZooming.
    void setZoomScale(double scale, bool animated = false);
    // Zooms so that `rect` (in the zooming view's coordinates) fills the view.
    void zoomToRect(const Rect& rect, bool animated);
    bool bouncesZoom() const { return bouncesZoom_; }
    void setBouncesZoom(bool on) { bouncesZoom_ = on; }

    // --- State ---
    // A finger is on the content (it may not have moved yet).
    bool isTracking() const { return tracking_; }
    bool isDragging() const { return dragging_; }
    bool isDecelerating() const { return decelerating_; }
    bool isZooming() const { return zooming_; }
    bool isZoomBouncing() const { return zoomBouncing_; }
    // The touch that is tracked now began while the content was moving (it
    // stopped the motion): it is not a tap on the content.
    bool touchStoppedMotion() const { return touchStoppedMotion_; }
    // Stops any deceleration, bounce or animated move where it stands.
    void stopMotion();

    // --- Hooks of subclasses ---
    // Whether the content view may have the touches that begin on it.
    virtual bool touchesShouldBegin(const TouchSet& touches, const Event& event, View* contentView);
    // Whether a drag may take the touches from the content view (controls
    // keep theirs by default).
    virtual bool touchesShouldCancelInContentView(View* contentView);

    // --- Desktop input ---
    // A mouse wheel over the view: scrolls by (dx, dy) points, or with the
    // control key zooms by 10 % per unit of dy about `location` (in this
    // view's bounds). True when it moved anything.
    bool scrollWheel(Point location, double dx, double dy, unsigned modifiers);
    // Sends a wheel event at a window point to the innermost scroll view
    // under it that can take it.
    static bool dispatchWheel(Window& window, Point location, double dx, double dy, unsigned modifiers);
    // Scrolls the largest visible list of the front screen for an up or
    // down arrow (a line), PageUp or PageDown (a screen less a line), Home
    // or End. False for other keys or when no list is shown.
    static bool scrollForKey(Window& window, const std::string& input);
    // The list of the window's front screen the keys act on: the largest in
    // sight (only one that can scroll vertically when `scrollableOnly`).
    static ScrollView* frontList(Window& window, bool scrollableOnly);

    // --- View ---
    void setBounds(const Rect& bounds) override;
    void layoutSubviews() override;
    void safeAreaInsetsDidChange() override;
    bool watchesTouches() const override { return true; }
    void watchTouchBegan(Touch& touch) override;
    void watchTouchMoved(Touch& touch) override;
    void watchTouchEnded(Touch& touch) override;
    void watchTouchCancelled(Touch& touch) override;
    void willMoveToWindow(Window* newWindow) override;
    void didAddSubview(View* subview) override;

protected:
    // Tells the delegate and lets subclasses (tables) follow the offset.
    virtual void didScroll();
    // The view that zooms (the delegate's), or null.
    View* zoomingView();
    // Recomputes the adjusted insets (after a change of safe area or insets).
    void updateAdjustedInset();
    // Room a subclass adds above the content (a refreshing refresh control),
    // part of the adjusted inset.
    void setExtraTopInset(double inset);

private:
    struct Sample {
        double time;
        Point location;
    };
    bool canScrollHorizontally() const;
    bool canScrollVertically() const;
    bool isIndicator(const View* v) const;
    void beginDrag(Touch& touch);
    void dragTo(Point location);
    void endDrag(Point velocity);
    void beginPinch();
    void pinchMoved();
    void endPinch();
    Point fingerVelocity() const;
    void setOffsetInternal(Point p);
    void applyZoom(double scale, Point viewportAnchor, bool keepAnchor);
    void startMotion(ScrollMotion x, ScrollMotion y, int kind);
    void tick();
    void finishMotion(bool natural);
    void animateZoom(double to, Point viewportAnchor, bool userGesture);
    void updateIndicators();
    void hideIndicatorsSoon();
    Point clampOffset(Point p) const;
    Size viewportSize() const;

    ScrollViewDelegate* delegate_ = nullptr;
    Size contentSize_;
    EdgeInsets contentInset_;
    EdgeInsets adjustedInset_;
    double extraTop_ = 0;
    ContentInsetAdjustmentBehavior adjustment_ = ContentInsetAdjustmentBehavior::Automatic;
    bool scrollEnabled_ = true;
    bool bounces_ = true;
    bool alwaysBounceVertical_ = false;
    bool alwaysBounceHorizontal_ = false;
    bool pagingEnabled_ = false;
    double decelerationRate_ = ScrollMotion::kNormalRate;
    bool canCancelContentTouches_ = true;
    bool showsHorizontal_ = true;
    bool showsVertical_ = true;
    ScrollIndicatorStyle indicatorStyle_ = ScrollIndicatorStyle::Default;
    double minZoom_ = 1;
    double maxZoom_ = 1;
    double zoomScale_ = 1;
    bool bouncesZoom_ = true;

    // Touch state.
    bool tracking_ = false;
    bool dragging_ = false;
    bool decelerating_ = false;
    bool zooming_ = false;
    bool zoomBouncing_ = false;
    bool touchStoppedMotion_ = false;
    bool refused_ = false;  // the content kept this touch: no drag for it
    std::vector<TouchRef> fingers_;
    Point dragStartLocation_;    // window coordinates, where the slop was passed
    Point dragStartRawOffset_;   // the offset without rubber band at that moment
    Point touchStartLocation_;   // window coordinates, touch down
    std::vector<Sample> samples_;
    // Pinch state.
    double pinchStartDistance_ = 0;
    double pinchStartScale_ = 1;
    Point pinchContentPoint_;  // unscaled point of the zooming view under the fingers

    // Motion state.
    enum MotionKind { MotionNone = 0, MotionDecelerate = 1, MotionAnimate = 2, MotionBounce = 3, MotionZoom = 4 };
    int motionKind_ = MotionNone;
    ScrollMotion motionX_;
    ScrollMotion motionY_;
    sys::RunLoop::TimerRef timer_;
    // Animated zoom.
    double zoomFrom_ = 1, zoomTo_ = 1, zoomStart_ = 0;
    Point zoomAnchor_;
    Point zoomOffsetFrom_, zoomOffsetTo_;
    bool zoomByGesture_ = false;
    // Wheel zoom: ends a moment after the last wheel step.
    sys::RunLoop::TimerRef wheelZoomEnd_;

    // Indicators.
    std::shared_ptr<View> vIndicator_;
    std::shared_ptr<View> hIndicator_;
    sys::RunLoop::TimerRef indicatorHide_;
};

}  // namespace ui
