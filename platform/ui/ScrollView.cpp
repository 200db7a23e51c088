#include "platform/ui/ScrollView.h"

#include "platform/core/Clock.h"
#include "platform/ui/Control.h"
#include "platform/ui/KeyCommand.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"

#include <algorithm>
#include <cmath>
#include <set>

namespace ui {

namespace {

constexpr double kFrameInterval = 1.0 / 60.0;
// Finger speed is that of the latest move that took at least the minimum
// time; a pause longer than the window before the lift means no speed.
constexpr double kVelocityWindow = 0.1;
constexpr double kMinSampleInterval = 0.002;
// Slower releases do not decelerate (points per second).
constexpr double kMinFlickSpeed = 20.0;
// A paging release this fast goes on to the next page.
constexpr double kPagingFlickSpeed = 150.0;
constexpr double kIndicatorThickness = 3.0;
constexpr double kIndicatorInset = 3.0;
constexpr double kIndicatorMinLength = 36.0;
constexpr double kIndicatorLinger = 0.5;
constexpr double kWheelZoomStep = 1.1;
constexpr double kWheelZoomEndDelay = 0.25;

// Touches a scroll view has taken for a drag or pinch; outer scroll views
// leave them alone.
std::set<const Touch*>& claimedTouches() {
    static std::set<const Touch*> s;
    return s;
}

double distance(Point a, Point b) { return std::hypot(a.x - b.x, a.y - b.y); }

// The thin bar that shows where the visible part lies.
class ScrollIndicator : public View {
public:
    ScrollIndicator() { setUserInteractionEnabled(false); }
    gfx::Rgba ink;
    void draw(gfx::Canvas& c, const Rect&) override {
        Rect b = bounds();
        c.fillRoundedRect(b, std::min(b.width(), b.height()) / 2, ink);
    }
};

EdgeInsets addInsets(const EdgeInsets& a, const EdgeInsets& b) {
    return EdgeInsets{a.top + b.top, a.left + b.left, a.bottom + b.bottom, a.right + b.right};
}

}  // namespace

ScrollView::ScrollView() {
    setClipsToBounds(true);
    setMultipleTouchEnabled(true);
}

ScrollView::ScrollView(const Rect& frame) : View(frame) {
    setClipsToBounds(true);
    setMultipleTouchEnabled(true);
}

ScrollView::~ScrollView() {
    if (timer_) timer_->invalidate();
    if (wheelZoomEnd_) wheelZoomEnd_->invalidate();
    if (indicatorHide_) indicatorHide_->invalidate();
    for (auto& f : fingers_) claimedTouches().erase(f.get());
}

// --- Content ---

Size ScrollView::viewportSize() const { return bounds().size; }

void ScrollView::setContentSize(Size s) {
    if (s == contentSize_) return;
    contentSize_ = s;
    updateAdjustedInset();
    updateIndicators();
}

void ScrollView::setBounds(const Rect& b) {
    Point old = bounds().origin;
    View::setBounds(b);
    if (!(b.origin == old)) {
        didScroll();
        updateIndicators();
    }
}

void ScrollView::setOffsetInternal(Point p) {
    Rect b = bounds();
    if (b.origin == p) return;
    setBounds(Rect(p.x, p.y, b.width(), b.height()));
}

void ScrollView::didScroll() {
    if (delegate_) delegate_->scrollViewDidScroll(*this);
}

void ScrollView::setContentOffset(Point p, bool animated) {
    if (!animated) {
        stopMotion();
        setOffsetInternal(p);
        return;
    }
    Point from = contentOffset();
    if (from == p) return;
    double now = sys::Clock::now();
    startMotion(ScrollMotion::eased(now, from.x, p.x, kAnimationDuration, true),
                ScrollMotion::eased(now, from.y, p.y, kAnimationDuration, true), MotionAnimate);
}

void ScrollView::setContentInset(const EdgeInsets& i) {
    if (i == contentInset_) return;
    contentInset_ = i;
    updateAdjustedInset();
}

void ScrollView::setContentInsetAdjustmentBehavior(ContentInsetAdjustmentBehavior b) {
    if (b == adjustment_) return;
    adjustment_ = b;
    updateAdjustedInset();
}

void ScrollView::updateAdjustedInset() {
    EdgeInsets safe;
    if (adjustment_ != ContentInsetAdjustmentBehavior::Never) {
        safe = safeAreaInsets();
        if (auto* vc = dynamic_cast<ViewController*>(ownerController()))
            safe = addInsets(safe, vc->additionalSafeAreaInsets());
    }
    Size size = viewportSize();
    bool vertical = contentSize_.height > size.height || alwaysBounceVertical_;
    bool horizontal = contentSize_.width > size.width || alwaysBounceHorizontal_;
    EdgeInsets add;
    switch (adjustment_) {
    case ContentInsetAdjustmentBehavior::Never: break;
    case ContentInsetAdjustmentBehavior::Always: add = safe; break;
    case ContentInsetAdjustmentBehavior::Automatic:
    case ContentInsetAdjustmentBehavior::ScrollableAxes:
        if (vertical || adjustment_ == ContentInsetAdjustmentBehavior::Automatic) {
            add.top = safe.top;
            add.bottom = safe.bottom;
        }
        if (horizontal) {
            add.left = safe.left;
            add.right = safe.right;
        }
        break;
    }
    EdgeInsets adjusted = addInsets(contentInset_, add);
    adjusted.top += extraTop_;
    if (adjusted == adjustedInset_) return;
    EdgeInsets old = adjustedInset_;
    adjustedInset_ = adjusted;
    // Content resting at its top or leading edge stays there.
    Point p = contentOffset();
    if (!dragging_ && !decelerating_) {
        if (nearlyEqual(p.y, -old.top, 1e-6)) p.y = -adjusted.top;
        if (nearlyEqual(p.x, -old.left, 1e-6)) p.x = -adjusted.left;
        setOffsetInternal(p);
    }
    adjustedContentInsetDidChange();
}

void ScrollView::setExtraTopInset(double inset) {
    if (inset == extraTop_) return;
    extraTop_ = inset;
    updateAdjustedInset();
}

Point ScrollView::minimumContentOffset() const { return {-adjustedInset_.left, -adjustedInset_.top}; }

Point ScrollView::maximumContentOffset() const {
    Point lo = minimumContentOffset();
    Size v = viewportSize();
    return {std::max(lo.x, contentSize_.width + adjustedInset_.right - v.width),
            std::max(lo.y, contentSize_.height + adjustedInset_.bottom - v.height)};
}

Point ScrollView::clampOffset(Point p) const {
    Point lo = minimumContentOffset(), hi = maximumContentOffset();
    return {std::clamp(p.x, lo.x, hi.x), std::clamp(p.y, lo.y, hi.y)};
}

void ScrollView::scrollRectToVisible(const Rect& r, bool animated) {
    Point p = contentOffset();
    Size v = viewportSize();
    EdgeInsets in = adjustedInset_;
    double visTop = p.y + in.top, visBottom = p.y + v.height - in.bottom;
    double visLeft = p.x + in.left, visRight = p.x + v.width - in.right;
    if (r.maxY() > visBottom) p.y += r.maxY() - visBottom;
    if (r.minY() < visTop + (p.y - contentOffset().y)) p.y = r.minY() - in.top;
    if (r.maxX() > visRight) p.x += r.maxX() - visRight;
    if (r.minX() < visLeft + (p.x - contentOffset().x)) p.x = r.minX() - in.left;
    p = clampOffset(p);
    if (p == contentOffset()) return;
    setContentOffset(p, animated);
}

bool ScrollView::canScrollHorizontally() const {
    if (!scrollEnabled_) return false;
    return maximumContentOffset().x > minimumContentOffset().x + 1e-9 || alwaysBounceHorizontal_;
}

bool ScrollView::canScrollVertically() const {
    if (!scrollEnabled_) return false;
    return maximumContentOffset().y > minimumContentOffset().y + 1e-9 || alwaysBounceVertical_;
}

// --- Hooks ---

bool ScrollView::touchesShouldBegin(const TouchSet&, const Event&, View*) { return true; }

bool ScrollView::touchesShouldCancelInContentView(View* contentView) {
    return dynamic_cast<Control*>(contentView) == nullptr;
}

// --- Touches ---

void ScrollView::watchTouchBegan(Touch& touch) {
    Window* w = window();
    if (!w) return;
    TouchRef ref;
    for (auto& t : w->activeTouches())
        if (t.get() == &touch) ref = t;
    if (!ref) return;
    if (claimedTouches().count(&touch)) return;
    fingers_.push_back(ref);
    View* holder = touch.view().get();
    bool inContent = holder && holder != this && holder->isDescendantOfView(this);

    if (fingers_.size() == 1) {
        tracking_ = true;
        refused_ = false;
        touchStartLocation_ = touch.locationInView(superview());
        samples_.clear();
        samples_.push_back({touch.timestamp(), touchStartLocation_});
        touchStoppedMotion_ = motionKind_ == MotionDecelerate || motionKind_ == MotionBounce;
        if (motionKind_ != MotionNone && motionKind_ != MotionZoom) stopMotion();
        if (inContent) {
            Event e;
            e.timestamp = touch.timestamp();
            e.allTouches = {ref};
            // A touch that stops moving content is not meant for the content.
            if (touchStoppedMotion_ || !touchesShouldBegin({ref}, e, holder)) w->takeOverTouch(touch, nullptr, false);
        }
        return;
    }
    if (fingers_.size() == 2 && !zooming_) {
        View* z = zoomingView();
        if (z && maxZoom_ > minZoom_) beginPinch();
    }
}

void ScrollView::watchTouchMoved(Touch& touch) {
    if (fingers_.empty()) return;
    if (zooming_) {
        bool mine = false;
        for (auto& f : fingers_)
            if (f.get() == &touch) mine = true;
        if (mine) pinchMoved();
        return;
    }
    if (fingers_.front().get() != &touch) return;
    Point loc = touch.locationInView(superview());
    samples_.push_back({touch.timestamp(), loc});
    double now = touch.timestamp();
    while (samples_.size() > 2 && now - samples_.front().time > kVelocityWindow) samples_.erase(samples_.begin());
    if (dragging_) {
        dragTo(loc);
        return;
    }
    if (refused_ || claimedTouches().count(&touch)) return;
    double dx = canScrollHorizontally() ? loc.x - touchStartLocation_.x : 0;
    double dy = canScrollVertically() ? loc.y - touchStartLocation_.y : 0;
    if (std::hypot(dx, dy) <= kDragSlop) return;
    View* holder = touch.view().get();
    if (holder && holder != this && holder->isDescendantOfView(this)) {
        if (!canCancelContentTouches_ || !touchesShouldCancelInContentView(holder)) {
            refused_ = true;
            return;
        }
    }
    beginDrag(touch);
}

void ScrollView::watchTouchEnded(Touch& touch) {
    auto it = std::find_if(fingers_.begin(), fingers_.end(), [&](const TouchRef& t) { return t.get() == &touch; });
    if (it == fingers_.end()) return;
    bool first = it == fingers_.begin();
    TouchRef keep = *it;
    fingers_.erase(it);
    claimedTouches().erase(&touch);
    if (zooming_) {
        endPinch();
        refused_ = true;  // the finger left on the glass does not drag
    } else if (first && dragging_) {
        Point loc = touch.locationInView(superview());
        samples_.push_back({touch.timestamp(), loc});
        endDrag(fingerVelocity());
    }
    if (fingers_.empty()) {
        tracking_ = false;
        if (!decelerating_ && motionKind_ == MotionNone && !dragging_) {
            // Released out of range without a drag (a touch that stopped a
            // bounce): return inside.
            Point p = contentOffset(), c = clampOffset(p);
            if (!(p == c)) {
                double now = sys::Clock::now();
                decelerating_ = true;
                startMotion(ScrollMotion::spring(now, p.x, 0, c.x), ScrollMotion::spring(now, p.y, 0, c.y),
                            MotionDecelerate);
            }
        }
    }
}

void ScrollView::watchTouchCancelled(Touch& touch) {
    // A cancelled finger ends like a still release.
    auto it = std::find_if(fingers_.begin(), fingers_.end(), [&](const TouchRef& t) { return t.get() == &touch; });
    if (it == fingers_.end()) return;
    samples_.clear();
    watchTouchEnded(touch);
}

Point ScrollView::fingerVelocity() const {
    // The speed of the latest move that took measurable time: a finger that
    // rested before lifting (its lift is a sample far later at the same
    // place) throws nothing.
    for (size_t i = samples_.size(); i-- > 1;) {
        const Sample& b = samples_[i];
        const Sample& a = samples_[i - 1];
        double dt = b.time - a.time;
        if (dt < kMinSampleInterval) continue;
        if (dt > kVelocityWindow) return {};
        return {(b.location.x - a.location.x) / dt, (b.location.y - a.location.y) / dt};
    }
    return {};
}

void ScrollView::beginDrag(Touch& touch) {
    dragging_ = true;
    claimedTouches().insert(&touch);
    if (Window* w = window()) w->takeOverTouch(touch, nullptr);
    if (delegate_) delegate_->scrollViewWillBeginDragging(*this);
    dragStartLocation_ = touch.locationInView(superview());
    // Where the finger would have the content without the rubber band.
    Point p = contentOffset(), lo = minimumContentOffset(), hi = maximumContentOffset();
    Size v = viewportSize();
    auto raw = [](double x, double l, double h, double dim) {
        if (x < l) return l - ScrollMotion::rubberBandInverse(l - x, dim);
        if (x > h) return h + ScrollMotion::rubberBandInverse(x - h, dim);
        return x;
    };
    dragStartRawOffset_ = {raw(p.x, lo.x, hi.x, v.width), raw(p.y, lo.y, hi.y, v.height)};
    updateIndicators();
}

void ScrollView::dragTo(Point loc) {
    Point lo = minimumContentOffset(), hi = maximumContentOffset();
    Size v = viewportSize();
    Point p = contentOffset();
    auto axis = [&](double start, double moved, double l, double h, double dim, bool canBounce) {
        double raw = start - moved;
        if (raw < l) return bounces_ && canBounce ? l - ScrollMotion::rubberBand(l - raw, dim) : l;
        if (raw > h) return bounces_ && canBounce ? h + ScrollMotion::rubberBand(raw - h, dim) : h;
        return raw;
    };
    if (canScrollHorizontally())
        p.x = axis(dragStartRawOffset_.x, loc.x - dragStartLocation_.x, lo.x, hi.x, v.width, true);
    if (canScrollVertically())
        p.y = axis(dragStartRawOffset_.y, loc.y - dragStartLocation_.y, lo.y, hi.y, v.height, true);
    setOffsetInternal(p);
}

void ScrollView::endDrag(Point finger) {
    Point v{canScrollHorizontally() ? -finger.x : 0, canScrollVertically() ? -finger.y : 0};
    Point p = contentOffset(), lo = minimumContentOffset(), hi = maximumContentOffset();
    Size size = viewportSize();
    Point target;
    if (pagingEnabled_) {
        auto page = [](double off, double vel, double pageLen, double l, double h) {
            if (pageLen <= 0) return off;
            double f = off / pageLen;
            double n = vel > kPagingFlickSpeed ? std::floor(f) + 1 : vel < -kPagingFlickSpeed ? std::ceil(f) - 1
                                                                                             : std::round(f);
            return std::clamp(n * pageLen, l, h);
        };
        target = {canScrollHorizontally() ? page(p.x, v.x, size.width, lo.x, hi.x) : clampOffset(p).x,
                  canScrollVertically() ? page(p.y, v.y, size.height, lo.y, hi.y) : clampOffset(p).y};
    } else {
        target = clampOffset({p.x + ScrollMotion::decelerationDistance(v.x, decelerationRate_),
                              p.y + ScrollMotion::decelerationDistance(v.y, decelerationRate_)});
        if (std::hypot(v.x, v.y) < kMinFlickSpeed) target = clampOffset(p);
    }
    Point proposed = target;
    if (delegate_) delegate_->scrollViewWillEndDragging(*this, {v.x / 1000.0, v.y / 1000.0}, &target);
    bool moved = !(target == proposed);

    bool outside = !(clampOffset(p) == p);
    bool willDecelerate;
    if (pagingEnabled_ || moved)
        willDecelerate = !(target == p);
    else
        willDecelerate = outside || std::hypot(v.x, v.y) >= kMinFlickSpeed;
    if (delegate_) delegate_->scrollViewDidEndDragging(*this, willDecelerate);
    dragging_ = false;
    if (!willDecelerate) {
        hideIndicatorsSoon();
        return;
    }
    decelerating_ = true;
    if (delegate_) delegate_->scrollViewWillBeginDecelerating(*this);
    if (!decelerating_) return;  // the delegate stopped it
    double now = sys::Clock::now();
    ScrollMotion mx, my;
    if (pagingEnabled_ || moved) {
        mx = ScrollMotion::eased(now, p.x, target.x, kAnimationDuration, false);
        my = ScrollMotion::eased(now, p.y, target.y, kAnimationDuration, false);
    } else {
        mx = v.x != 0 || p.x < lo.x || p.x > hi.x
                 ? ScrollMotion::decelerate(now, p.x, v.x, decelerationRate_, lo.x, hi.x, bounces_)
                 : ScrollMotion::none(p.x);
        my = v.y != 0 || p.y < lo.y || p.y > hi.y
                 ? ScrollMotion::decelerate(now, p.y, v.y, decelerationRate_, lo.y, hi.y, bounces_)
                 : ScrollMotion::none(p.y);
    }
    startMotion(mx, my, MotionDecelerate);
}

// --- Zoom ---

View* ScrollView::zoomingView() { return delegate_ ? delegate_->viewForZoomingInScrollView(*this) : nullptr; }

void ScrollView::setMinimumZoomScale(double s) {
    if (!(s > 0)) return;
    minZoom_ = s;
}

void ScrollView::setMaximumZoomScale(double s) {
    if (!(s > 0)) return;
    maxZoom_ = s;
}

void ScrollView::applyZoom(double scale, Point anchor, bool keepAnchor) {
    View* z = zoomingView();
    if (!z || !(scale > 0)) return;
    Rect f = z->frame();
    Point origin = f.origin;
    Size unscaled = z->bounds().size;
    Point offset = contentOffset();
    double old = zoomScale_ > 0 ? zoomScale_ : 1;
    Point cp{(anchor.x + offset.x - origin.x) / old, (anchor.y + offset.y - origin.y) / old};
    zoomScale_ = scale;
    z->setTransform(AffineTransform::makeScale(scale, scale));
    z->setCenter({origin.x + unscaled.width * scale / 2, origin.y + unscaled.height * scale / 2});
    contentSize_ = {unscaled.width * scale, unscaled.height * scale};
    updateAdjustedInset();
    if (delegate_) delegate_->scrollViewDidZoom(*this);
    if (keepAnchor) {
        Point p{cp.x * scale + origin.x - anchor.x, cp.y * scale + origin.y - anchor.y};
        setOffsetInternal(clampOffset(p));
    }
    updateIndicators();
}

void ScrollView::setZoomScale(double scale, bool animated) {
    if (!zoomingView()) return;
    double s = std::clamp(scale, std::min(minZoom_, maxZoom_), std::max(minZoom_, maxZoom_));
    Size v = viewportSize();
    Point anchor{v.width / 2, v.height / 2};
    if (!animated) {
        if (motionKind_ == MotionZoom) stopMotion();
        if (s == zoomScale_) return;
        applyZoom(s, anchor, true);
        return;
    }
    if (s == zoomScale_) return;
    // Where the middle of the view lands at the new scale.
    View* z = zoomingView();
    Point origin = z->frame().origin;
    Point offset = contentOffset();
    Point cp{(anchor.x + offset.x - origin.x) / zoomScale_, (anchor.y + offset.y - origin.y) / zoomScale_};
    zoomOffsetTo_ = {cp.x * s + origin.x - anchor.x, cp.y * s + origin.y - anchor.y};
    animateZoom(s, anchor, false);
}

void ScrollView::zoomToRect(const Rect& rect, bool animated) {
    View* z = zoomingView();
    if (!z || rect.width() <= 0 || rect.height() <= 0) return;
    Size v = viewportSize();
    double s = std::min(v.width / rect.width(), v.height / rect.height());
    s = std::clamp(s, std::min(minZoom_, maxZoom_), std::max(minZoom_, maxZoom_));
    Point origin = z->frame().origin;
    Point c = rectCenter(rect);
    zoomOffsetTo_ = {c.x * s + origin.x - v.width / 2, c.y * s + origin.y - v.height / 2};
    if (!animated) {
        stopMotion();
        applyZoom(s, {}, false);
        setOffsetInternal(clampOffset(zoomOffsetTo_));
        return;
    }
    animateZoom(s, {}, false);
}

void ScrollView::animateZoom(double to, Point, bool userGesture) {
    stopMotion();
    zoomFrom_ = zoomScale_;
    zoomTo_ = to;
    zoomStart_ = sys::Clock::now();
    zoomOffsetFrom_ = contentOffset();
    // The target offset must be valid at the target scale.
    View* z = zoomingView();
    if (z) {
        Size unscaled = z->bounds().size;
        Size saved = contentSize_;
        contentSize_ = {unscaled.width * to, unscaled.height * to};
        zoomOffsetTo_ = clampOffset(zoomOffsetTo_);
        contentSize_ = saved;
    }
    zoomByGesture_ = userGesture;
    zoomBouncing_ = userGesture;
    double now = zoomStart_;
    startMotion(ScrollMotion::eased(now, 0, 1, kAnimationDuration, true), ScrollMotion::none(0), MotionZoom);
}

void ScrollView::beginPinch() {
    if (dragging_) {
        if (delegate_) delegate_->scrollViewDidEndDragging(*this, false);
        dragging_ = false;
    }
    stopMotion();
    zooming_ = true;
    Window* w = window();
    for (auto& f : fingers_) {
        claimedTouches().insert(f.get());
        if (w) w->takeOverTouch(*f, nullptr);
    }
    Point a = fingers_[0]->locationInWindow(), b = fingers_[1]->locationInWindow();
    pinchStartDistance_ = std::max(1.0, distance(a, b));
    pinchStartScale_ = zoomScale_;
    Point mid = convertPointFromWindow({(a.x + b.x) / 2, (a.y + b.y) / 2});
    View* z = zoomingView();
    Point origin = z ? z->frame().origin : Point{};
    pinchContentPoint_ = {(mid.x - origin.x) / zoomScale_, (mid.y - origin.y) / zoomScale_};
    if (delegate_) delegate_->scrollViewWillBeginZooming(*this, z);
}

void ScrollView::pinchMoved() {
    if (fingers_.size() < 2) return;
    View* z = zoomingView();
    if (!z) return;
    Point a = fingers_[0]->locationInWindow(), b = fingers_[1]->locationInWindow();
    double s = pinchStartScale_ * distance(a, b) / pinchStartDistance_;
    if (s > maxZoom_) s = bouncesZoom_ ? maxZoom_ * (1 + std::log(s / maxZoom_) * 0.5) : maxZoom_;
    if (s < minZoom_) s = bouncesZoom_ ? minZoom_ / (1 + std::log(minZoom_ / s) * 0.5) : minZoom_;
    // Keep the content point that began under the fingers under their middle.
    Point midWin{(a.x + b.x) / 2, (a.y + b.y) / 2};
    Point offset = contentOffset();
    Point mid = convertPointFromWindow(midWin);
    Point anchor{mid.x - offset.x, mid.y - offset.y};
    applyZoom(s, anchor, false);
    Point origin = z->frame().origin;
    Point p{pinchContentPoint_.x * s + origin.x - anchor.x, pinchContentPoint_.y * s + origin.y - anchor.y};
    setOffsetInternal(clampOffset(p));
}

void ScrollView::endPinch() {
    zooming_ = false;
    for (auto& f : fingers_) claimedTouches().erase(f.get());
    View* z = zoomingView();
    double limited = std::clamp(zoomScale_, minZoom_, std::max(minZoom_, maxZoom_));
    if (z && limited != zoomScale_) {
        Size v = viewportSize();
        Point anchor{v.width / 2, v.height / 2};
        Point origin = z->frame().origin;
        Point offset = contentOffset();
        Point cp{(anchor.x + offset.x - origin.x) / zoomScale_, (anchor.y + offset.y - origin.y) / zoomScale_};
        zoomOffsetTo_ = {cp.x * limited + origin.x - anchor.x, cp.y * limited + origin.y - anchor.y};
        animateZoom(limited, anchor, true);
        return;
    }
    if (delegate_) delegate_->scrollViewDidEndZooming(*this, z, zoomScale_);
    hideIndicatorsSoon();
}

// --- Motion ---

void ScrollView::startMotion(ScrollMotion x, ScrollMotion y, int kind) {
    if (timer_) timer_->invalidate();
    motionKind_ = kind;
    motionX_ = x;
    motionY_ = y;
    std::weak_ptr<View> weak = weak_from_this();
    timer_ = sys::RunLoop::main().schedule(
        kFrameInterval,
        [weak] {
            if (auto self = weak.lock()) static_cast<ScrollView*>(self.get())->tick();
        },
        kFrameInterval, sys::LoopOwner(weak));
    updateIndicators();
}

void ScrollView::tick() {
    double now = sys::Clock::now();
    auto keep = shared_from_this();
    if (motionKind_ == MotionZoom) {
        double f = motionX_.valueAt(now);
        double s = zoomFrom_ + (zoomTo_ - zoomFrom_) * f;
        applyZoom(s, {}, false);
        Point p{zoomOffsetFrom_.x + (zoomOffsetTo_.x - zoomOffsetFrom_.x) * f,
                zoomOffsetFrom_.y + (zoomOffsetTo_.y - zoomOffsetFrom_.y) * f};
        setOffsetInternal(p);
    } else {
        setOffsetInternal({motionX_.valueAt(now), motionY_.valueAt(now)});
    }
    if (motionKind_ != MotionNone && motionX_.finishedAt(now) && motionY_.finishedAt(now)) finishMotion(true);
}

void ScrollView::finishMotion(bool) {
    if (timer_) timer_->invalidate();
    timer_.reset();
    int kind = motionKind_;
    motionKind_ = MotionNone;
    switch (kind) {
    case MotionDecelerate:
    case MotionBounce:
        decelerating_ = false;
        if (delegate_) delegate_->scrollViewDidEndDecelerating(*this);
        break;
    case MotionAnimate:
        if (delegate_) delegate_->scrollViewDidEndScrollingAnimation(*this);
        break;
    case MotionZoom:
        zoomBouncing_ = false;
        if (delegate_) delegate_->scrollViewDidEndZooming(*this, zoomingView(), zoomScale_);
        break;
    default: break;
    }
    hideIndicatorsSoon();
}

void ScrollView::stopMotion() {
    if (timer_) timer_->invalidate();
    timer_.reset();
    motionKind_ = MotionNone;
    decelerating_ = false;
    zoomBouncing_ = false;
}

void ScrollView::willMoveToWindow(Window* newWindow) {
    // Taken out of the window, content stops where it is.
    if (!newWindow) {
        stopMotion();
        for (auto& f : fingers_) claimedTouches().erase(f.get());
        fingers_.clear();
        tracking_ = dragging_ = zooming_ = false;
    }
    View::willMoveToWindow(newWindow);
}

// --- Layout and indicators ---

void ScrollView::layoutSubviews() {
    updateAdjustedInset();
    updateIndicators();
}

void ScrollView::safeAreaInsetsDidChange() { setNeedsLayout(); }

bool ScrollView::isIndicator(const View* v) const {
    return v && (v == vIndicator_.get() || v == hIndicator_.get());
}

void ScrollView::didAddSubview(View* subview) {
    if (isIndicator(subview)) return;
    if (hIndicator_ && hIndicator_->superview() == this) bringSubviewToFront(hIndicator_.get());
    if (vIndicator_ && vIndicator_->superview() == this) bringSubviewToFront(vIndicator_.get());
}

bool ScrollView::isShowingVerticalIndicator() const {
    return vIndicator_ && vIndicator_->superview() == this && vIndicator_->alpha() > 0;
}

bool ScrollView::isShowingHorizontalIndicator() const {
    return hIndicator_ && hIndicator_->superview() == this && hIndicator_->alpha() > 0;
}

void ScrollView::flashScrollIndicators() {
    bool was = dragging_;
    dragging_ = true;  // updateIndicators shows them while "moving"
    updateIndicators();
    dragging_ = was;
    hideIndicatorsSoon();
}

void ScrollView::updateIndicators() {
    bool moving = dragging_ || zooming_ || motionKind_ != MotionNone;
    Size v = viewportSize();
    Point p = contentOffset();
    EdgeInsets in = adjustedInset_;
    gfx::Rgba ink = indicatorStyle_ == ScrollIndicatorStyle::White ? gfx::Rgba::white(1).withAlpha(0.5)
                                                                     : gfx::Rgba::black().withAlpha(0.35);
    auto place = [&](std::shared_ptr<View>& ind, bool vertical) {
        bool want = vertical ? showsVertical_ && contentSize_.height + in.top + in.bottom > v.height
                             : showsHorizontal_ && contentSize_.width + in.left + in.right > v.width;
        bool shown = ind && ind->superview() == this;
        if (!want || (!moving && !shown)) return;
        if (!ind) ind = std::make_shared<ScrollIndicator>();
        static_cast<ScrollIndicator*>(ind.get())->ink = ink;
        double trackLen = vertical ? v.height - in.top - in.bottom - 2 * kIndicatorInset
                                   : v.width - in.left - in.right - 2 * kIndicatorInset;
        double content = vertical ? contentSize_.height : contentSize_.width;
        double visible = vertical ? v.height - in.top - in.bottom : v.width - in.left - in.right;
        double off = vertical ? p.y + in.top : p.x + in.left;
        double maxOff = std::max(0.0, content - visible);
        double len = std::max(kIndicatorMinLength, trackLen * std::min(1.0, visible / std::max(1.0, content)));
        // Past an edge the bar shrinks by the overshoot.
        double over = off < 0 ? -off : off > maxOff ? off - maxOff : 0;
        len = std::max(kIndicatorThickness * 2, len - over);
        double frac = maxOff > 0 ? std::clamp(off / maxOff, 0.0, 1.0) : 0;
        double along = kIndicatorInset + (trackLen - len) * frac;
        Rect r = vertical ? Rect(p.x + v.width - kIndicatorInset - kIndicatorThickness, p.y + in.top + along,
                                 kIndicatorThickness, len)
                          : Rect(p.x + in.left + along, p.y + v.height - kIndicatorInset - kIndicatorThickness, len,
                                 kIndicatorThickness);
        View::performWithoutAnimation([&] {
            ind->removeAllAnimations();
            ind->setFrame(r);
            if (moving) ind->setAlpha(1);
        });
        if (!shown) addSubview(ind);
    };
    place(vIndicator_, true);
    place(hIndicator_, false);
    if (moving && indicatorHide_) {
        indicatorHide_->invalidate();
        indicatorHide_.reset();
    }
}

void ScrollView::hideIndicatorsSoon() {
    if (indicatorHide_) indicatorHide_->invalidate();
    std::weak_ptr<View> weak = weak_from_this();
    indicatorHide_ = sys::RunLoop::main().schedule(
        kIndicatorLinger,
        [weak] {
            auto self = weak.lock();
            if (!self) return;
            auto* sv = static_cast<ScrollView*>(self.get());
            sv->indicatorHide_.reset();
            if (sv->dragging_ || sv->zooming_ || sv->motionKind_ != MotionNone) return;
            for (auto* ind : {&sv->vIndicator_, &sv->hIndicator_}) {
                if (!*ind || (*ind)->superview() != sv) continue;
                std::weak_ptr<View> wi = *ind;
                View::animate(0.25, [&] { (*ind)->setAlpha(0); },
                              [wi, weak](bool finished) {
                                  auto i = wi.lock();
                                  if (finished && i && i->alpha() == 0) i->removeFromSuperview();
                              });
            }
        },
        0, sys::LoopOwner(weak));
}

// --- Desktop input ---

bool ScrollView::scrollWheel(Point location, double dx, double dy, unsigned modifiers) {
    if (modifiers & KeyModifierControl) {
        View* z = zoomingView();
        if (!z || !(maxZoom_ > minZoom_) || dy == 0) return false;
        double s = std::clamp(zoomScale_ * std::pow(kWheelZoomStep, -dy), minZoom_, maxZoom_);
        if (s == zoomScale_) return false;
        stopMotion();
        if (!wheelZoomEnd_ && delegate_) delegate_->scrollViewWillBeginZooming(*this, z);
        Point offset = contentOffset();
        applyZoom(s, {location.x - offset.x, location.y - offset.y}, true);
        if (wheelZoomEnd_) wheelZoomEnd_->invalidate();
        std::weak_ptr<View> weak = weak_from_this();
        wheelZoomEnd_ = sys::RunLoop::main().schedule(
            kWheelZoomEndDelay,
            [weak] {
                auto self = weak.lock();
                if (!self) return;
                auto* sv = static_cast<ScrollView*>(self.get());
                sv->wheelZoomEnd_.reset();
                if (sv->delegate_) sv->delegate_->scrollViewDidEndZooming(*sv, sv->zoomingView(), sv->zoomScale_);
            },
            0, sys::LoopOwner(weak));
        return true;
    }
    if (!scrollEnabled_) return false;
    Point p = contentOffset();
    Point q = clampOffset({p.x + (canScrollHorizontally() ? dx : 0), p.y + (canScrollVertically() ? dy : 0)});
    if (q == p) return delegate_ && delegate_->scrollViewWheelPastEdge(*this, dx, dy);
    stopMotion();
    setOffsetInternal(q);
    flashScrollIndicators();
    return true;
}

bool ScrollView::dispatchWheel(Window& window, Point location, double dx, double dy, unsigned modifiers) {
    window.layoutIfNeeded();
    View* hit = window.hitTest(location, nullptr);
    for (View* v = hit; v; v = v->superview()) {
        auto* sv = dynamic_cast<ScrollView*>(v);
        if (!sv) continue;
        if (sv->scrollWheel(sv->convertPointFromWindow(location), dx, dy, modifiers)) return true;
    }
    return false;
}

namespace {

void collectLists(View* v, std::vector<ScrollView*>& out) {
    if (v->isHidden() || v->alpha() <= 0.01 || !v->isUserInteractionEnabled()) return;
    if (auto* sv = dynamic_cast<ScrollView*>(v))
        if (sv->isScrollEnabled()) out.push_back(sv);
    for (auto& child : v->subviews()) collectLists(child.get(), out);
}

}  // namespace

ScrollView* ScrollView::frontList(Window& window, bool scrollableOnly) {
    window.layoutIfNeeded();
    // The front screen: the last shown view of the window (a presented one
    // covers the screens below it).
    View* front = nullptr;
    for (auto it = window.subviews().rbegin(); it != window.subviews().rend(); ++it) {
        View* v = it->get();
        if (!v->isHidden() && v->alpha() > 0.01 && v->isUserInteractionEnabled()) {
            front = v;
            break;
        }
    }
    if (!front) return nullptr;
    std::vector<ScrollView*> lists;
    collectLists(front, lists);
    ScrollView* best = nullptr;
    double bestArea = 0;
    for (ScrollView* sv : lists) {
        if (scrollableOnly && !sv->canScrollVertically()) continue;
        const Rect r = rectIntersection(sv->convertRectTo(sv->bounds(), &window), window.bounds());
        const double area = r.width() * r.height();
        if (area > 0 && area >= bestArea) best = sv, bestArea = area;
    }
    return best;
}

bool ScrollView::scrollForKey(Window& window, const std::string& input) {
    constexpr double kLine = 40;
    const bool up = input == KeyInput::upArrow, down = input == KeyInput::downArrow;
    const bool pageUp = input == KeyInput::pageUp, pageDown = input == KeyInput::pageDown;
    const bool home = input == KeyInput::home, end = input == KeyInput::end;
    if (!(up || down || pageUp || pageDown || home || end)) return false;
    ScrollView* best = frontList(window, true);
    if (!best) return false;
    const Point p = best->contentOffset();
    const double page = std::max(kLine, best->viewportSize().height - kLine);
    double y = p.y;
    if (up) y -= kLine;
    if (down) y += kLine;
    if (pageUp) y -= page;
    if (pageDown) y += page;
    if (home) y = best->minimumContentOffset().y;
    if (end) y = best->maximumContentOffset().y;
    const Point q = best->clampOffset({p.x, y});
    if (q != p) {
        best->stopMotion();
        best->setContentOffset(q, false);
        best->flashScrollIndicators();
    }
    return true;
}

}  // namespace ui
