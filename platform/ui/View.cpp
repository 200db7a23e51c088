#include "platform/ui/View.h"

#include "platform/core/Clock.h"
#include "platform/core/DeviceProfile.h"
#include "platform/ui/Animator.h"
#include "platform/ui/Window.h"

#include <algorithm>
#include <cmath>

namespace ui {

namespace {

bool isIdentity(const AffineTransform& t) { return t.isIdentity(); }

// One axis of autoresizing: the change in the container's length is shared
// among the flexible parts (leading margin, length, trailing margin) in
// proportion to their present sizes.
void resizeAxis(double oldLen, double newLen, double& origin, double& length, bool flexLead, bool flexLen,
                bool flexTrail) {
    int n = int(flexLead) + int(flexLen) + int(flexTrail);
    if (n == 0) return;
    double delta = newLen - oldLen;
    double lead = origin, trail = oldLen - origin - length;
    double sum = (flexLead ? std::max(0.0, lead) : 0) + (flexLen ? std::max(0.0, length) : 0) +
                 (flexTrail ? std::max(0.0, trail) : 0);
    auto share = [&](bool flex, double value) {
        if (!flex) return 0.0;
        if (sum <= 0) return delta / n;
        return delta * std::max(0.0, value) / sum;
    };
    double dLead = share(flexLead, lead);
    double dLen = share(flexLen, length);
    origin += dLead;
    length += dLen;
}

TraitCollection detachedTraits() {
    sys::DeviceProfile p = sys::DeviceProfile::current();
    TraitCollection t;
    t.userInterfaceStyle = p.darkMode ? UserInterfaceStyle::Dark : UserInterfaceStyle::Light;
    t.reduceTransparency = p.reduceTransparency;
    t.idiom = p.isPad() ? UserInterfaceIdiom::Pad : UserInterfaceIdiom::Phone;
    t.displayScale = p.scale;
    return t;
}

}  // namespace

View::View() = default;

View::View(const Rect& frame) {
    center_ = rectCenter(frame);
    bounds_ = Rect(0, 0, frame.width(), frame.height());
}

View::~View() {
    for (auto& s : subviews_) s->superview_ = nullptr;
    for (auto& [p, t] : tracks_) {
        Animator::shared().trackRemoved();
        if (t.group) t.group->trackEnded(true);
    }
    tracks_.clear();
}

// --- Geometry ---

AffineTransform View::transformToSuperview() const {
    Point bc = rectCenter(bounds_);
    if (isIdentity(transform_)) return AffineTransform::makeTranslation(center_.x - bc.x, center_.y - bc.y);
    return AffineTransform::makeTranslation(center_.x, center_.y).concatenated(transform_).translated(-bc.x, -bc.y);
}

Rect View::frame() const {
    if (isIdentity(transform_))
        return Rect(center_.x - bounds_.width() / 2, center_.y - bounds_.height() / 2, bounds_.width(),
                    bounds_.height());
    return applyTransform(transformToSuperview(), bounds_);
}

void View::setFrame(const Rect& f0) {
    Rect f = rectStandardized(f0);
    Size size = f.size;
    const AffineTransform& t = transform_;
    if (!isIdentity(t)) {
        // The frame is the bounding box of the turned bounds: undo the turn
        // for the axis-aligned cases, keep the size otherwise.
        if (t.b == 0 && t.c == 0 && t.a != 0 && t.d != 0) {
            size = {f.width() / std::fabs(t.a), f.height() / std::fabs(t.d)};
        } else if (t.a == 0 && t.d == 0 && t.b != 0 && t.c != 0) {
            size = {f.height() / std::fabs(t.b), f.width() / std::fabs(t.c)};
        } else {
            size = bounds_.size;
        }
    }
    setCenter(rectCenter(f));
    setBounds(Rect(bounds_.x(), bounds_.y(), size.width, size.height));
}

void View::setBounds(const Rect& b) {
    if (b == bounds_) return;
    Rect old = bounds_;
    animatableWillChange(AnimatedProperty::Bounds, AnimatedValue::of(old), AnimatedValue::of(b));
    bounds_ = b;
    if (old.size != b.size) {
        autoresize(old.size, b.size);
        setNeedsLayout();
        boundsSizeDidChange(old.size);
    }
    setNeedsDisplay();
}

void View::setCenter(Point c) {
    if (c == center_) return;
    animatableWillChange(AnimatedProperty::Center, AnimatedValue::of(center_), AnimatedValue::of(c));
    center_ = c;
    setNeedsDisplay();
}

void View::setTransform(const AffineTransform& t) {
    if (t == transform_) return;
    animatableWillChange(AnimatedProperty::Transform, AnimatedValue::of(transform_), AnimatedValue::of(t));
    transform_ = t;
    setNeedsDisplay();
}

// --- Presentation ---

AnimatedValue View::presentationValue(AnimatedProperty p, const AnimatedValue& model) const {
    auto it = tracks_.find(p);
    if (it == tracks_.end()) return model;
    double now = sys::Clock::now();
    if (it->second.finishedAt(now)) return model;
    return it->second.valueAt(now);
}

Rect View::presentationBounds() const {
    if (!tracks_.count(AnimatedProperty::Bounds)) return bounds_;
    return presentationValue(AnimatedProperty::Bounds, AnimatedValue::of(bounds_)).rect();
}

Point View::presentationCenter() const {
    if (!tracks_.count(AnimatedProperty::Center)) return center_;
    return presentationValue(AnimatedProperty::Center, AnimatedValue::of(center_)).point();
}

AffineTransform View::presentationTransform() const {
    auto it = tracks_.find(AnimatedProperty::Transform);
    if (it == tracks_.end() || it->second.finishedAt(sys::Clock::now())) return transform_;
    return it->second.valueAt(sys::Clock::now()).transform();
}

double View::presentationAlpha() const {
    if (!tracks_.count(AnimatedProperty::Alpha)) return alpha_;
    return presentationValue(AnimatedProperty::Alpha, AnimatedValue::of(alpha_)).number();
}

Color View::presentationBackgroundColor() const {
    auto it = tracks_.find(AnimatedProperty::BackgroundColor);
    if (it == tracks_.end() || it->second.finishedAt(sys::Clock::now())) return backgroundColor_;
    return it->second.valueAt(sys::Clock::now()).color();
}

double View::presentationCornerRadius() const {
    if (!tracks_.count(AnimatedProperty::CornerRadius)) return cornerRadius_;
    return presentationValue(AnimatedProperty::CornerRadius, AnimatedValue::of(cornerRadius_)).number();
}

Rect View::presentationFrame() const {
    Rect b = presentationBounds();
    Point c = presentationCenter();
    AffineTransform t = presentationTransform();
    Point bc = rectCenter(b);
    AffineTransform m =
        AffineTransform::makeTranslation(c.x, c.y).concatenated(t).translated(-bc.x, -bc.y);
    return applyTransform(m, b);
}

// --- Appearance ---

void View::setAlpha(double a) {
    if (a == alpha_) return;
    animatableWillChange(AnimatedProperty::Alpha, AnimatedValue::of(alpha_), AnimatedValue::of(a));
    alpha_ = a;
    setNeedsDisplay();
}

void View::setHidden(bool h) {
    if (h == hidden_) return;
    hidden_ = h;
    setNeedsDisplay();
}

void View::setBackgroundColor(const Color& c) {
    if (c == backgroundColor_) return;
    animatableWillChange(AnimatedProperty::BackgroundColor, AnimatedValue::of(backgroundColor_),
                         AnimatedValue::of(c));
    backgroundColor_ = c;
    setNeedsDisplay();
}

void View::setCornerRadius(double r) {
    if (r == cornerRadius_) return;
    animatableWillChange(AnimatedProperty::CornerRadius, AnimatedValue::of(cornerRadius_), AnimatedValue::of(r));
    cornerRadius_ = r;
    setNeedsDisplay();
}

void View::setBorderWidth(double w) {
    borderWidth_ = w;
    setNeedsDisplay();
}

void View::setBorderColor(const Color& c) {
    borderColor_ = c;
    setNeedsDisplay();
}

void View::setShadowColor(const Color& c) {
    shadowColor_ = c;
    setNeedsDisplay();
}

void View::setShadowOpacity(double o) {
    shadowOpacity_ = std::clamp(o, 0.0, 1.0);
    setNeedsDisplay();
}

void View::setShadowOffset(Size s) {
    shadowOffset_ = s;
    setNeedsDisplay();
}

void View::setShadowRadius(double r) {
    shadowRadius_ = std::max(0.0, r);
    setNeedsDisplay();
}

void View::setShadowPath(std::optional<gfx::Path> p) {
    shadowPath_ = std::move(p);
    setNeedsDisplay();
}

void View::setClipsToBounds(bool c) {
    clipsToBounds_ = c;
    setNeedsDisplay();
}

void View::setContentMode(ContentMode m) {
    contentMode_ = m;
    setNeedsDisplay();
}

Color View::tintColor() const {
    for (const View* v = this; v; v = v->superview_)
        if (v->tintColor_) return *v->tintColor_;
    return Color::systemBlue();
}

void View::setTintColor(std::optional<Color> c) {
    tintColor_ = std::move(c);
    propagateTintChange();
}

void View::propagateTintChange() {
    tintColorDidChange();
    setNeedsDisplay();
    for (auto& s : std::vector<Ref>(subviews_))
        if (!s->tintColor_) s->propagateTintChange();
}

View* View::viewWithTag(int tag) {
    if (tag_ == tag) return this;
    for (auto& s : subviews_)
        if (View* v = s->viewWithTag(tag)) return v;
    return nullptr;
}

// --- Hierarchy ---

Window* View::window() const {
    const View* v = this;
    while (v->superview_) v = v->superview_;
    if (v->isWindow()) return static_cast<Window*>(const_cast<View*>(v));
    return nullptr;
}

bool View::isDescendantOfView(const View* view) const {
    for (const View* v = this; v; v = v->superview_)
        if (v == view) return true;
    return false;
}

void View::notifyWindowChange(Window* oldWindow, Window* newWindow, bool before) {
    if (before) {
        if (isFirstResponder() && newWindow != oldWindow) resignFirstResponder();
        willMoveToWindow(newWindow);
    } else {
        didMoveToWindow();
    }
    for (auto& s : std::vector<Ref>(subviews_)) s->notifyWindowChange(oldWindow, newWindow, before);
}

void View::addSubview(const Ref& view) { insertSubview(view, subviews_.size()); }

void View::insertSubview(const Ref& view, size_t index) {
    if (!view || view.get() == this || isDescendantOfView(view.get())) return;
    Ref keep = view;
    if (view->superview_ == this) {
        auto it = std::find(subviews_.begin(), subviews_.end(), view);
        subviews_.erase(it);
        subviews_.insert(subviews_.begin() + long(std::min(index, subviews_.size())), view);
        setNeedsDisplay();
        return;
    }
    Window* oldWindow = view->window();
    Window* newWindow = window();
    TraitCollection oldTraits = view->traitCollection();
    const Color oldTint = view->tintColor();
    view->willMoveToSuperview(this);
    if (oldWindow != newWindow) view->notifyWindowChange(oldWindow, newWindow, true);
    if (view->superview_) view->detachFromSuperview(true);
    // Notifications may have changed our list.
    subviews_.insert(subviews_.begin() + long(std::min(index, subviews_.size())), view);
    view->superview_ = this;
    if (oldWindow != newWindow) view->notifyWindowChange(oldWindow, newWindow, false);
    view->didMoveToSuperview();
    didAddSubview(view.get());
    view->markNeedsLayoutDeep();
    setNeedsLayout();
    setNeedsDisplay();
    TraitCollection newTraits = view->traitCollection();
    if (!(newTraits == oldTraits)) view->propagateTraitChange(oldTraits);
    // A view that takes its tint from above takes the new place's tint (a
    // button made before it was placed is drawn in it, not in the default).
    if (!view->tintColor_ && !(view->tintColor() == oldTint)) view->propagateTintChange();
    if (oldWindow) oldWindow->setNeedsRender();
}

void View::insertSubviewAbove(const Ref& view, const View* sibling) {
    for (size_t i = 0; i < subviews_.size(); ++i) {
        if (subviews_[i].get() == sibling) {
            size_t at = i + 1;
            if (view && view->superview_ == this) {
                auto cur = size_t(std::find(subviews_.begin(), subviews_.end(), view) - subviews_.begin());
                if (cur < at) --at;
            }
            insertSubview(view, at);
            return;
        }
    }
    addSubview(view);
}

void View::insertSubviewBelow(const Ref& view, const View* sibling) {
    for (size_t i = 0; i < subviews_.size(); ++i) {
        if (subviews_[i].get() == sibling) {
            size_t at = i;
            if (view && view->superview_ == this) {
                auto cur = size_t(std::find(subviews_.begin(), subviews_.end(), view) - subviews_.begin());
                if (cur < at) --at;
            }
            insertSubview(view, at);
            return;
        }
    }
    insertSubview(view, 0);
}

void View::detachFromSuperview(bool notify) {
    View* s = superview_;
    if (!s) return;
    if (notify) s->willRemoveSubview(this);
    auto it = std::find_if(s->subviews_.begin(), s->subviews_.end(), [this](const Ref& r) { return r.get() == this; });
    superview_ = nullptr;
    Ref keep;
    if (it != s->subviews_.end()) {
        keep = *it;
        s->subviews_.erase(it);
    }
    s->setNeedsLayout();
    s->setNeedsDisplay();
}

void View::removeFromSuperview() {
    if (!superview_) return;
    Ref keep = shared_from_this();
    Window* oldWindow = window();
    willMoveToSuperview(nullptr);
    if (oldWindow) notifyWindowChange(oldWindow, nullptr, true);
    detachFromSuperview(true);
    if (oldWindow) {
        notifyWindowChange(oldWindow, nullptr, false);
        oldWindow->setNeedsRender();
    }
    didMoveToSuperview();
}

void View::bringSubviewToFront(const View* view) {
    auto it = std::find_if(subviews_.begin(), subviews_.end(), [view](const Ref& r) { return r.get() == view; });
    if (it == subviews_.end()) return;
    Ref r = *it;
    subviews_.erase(it);
    subviews_.push_back(r);
    setNeedsDisplay();
}

void View::sendSubviewToBack(const View* view) {
    auto it = std::find_if(subviews_.begin(), subviews_.end(), [view](const Ref& r) { return r.get() == view; });
    if (it == subviews_.end()) return;
    Ref r = *it;
    subviews_.erase(it);
    subviews_.insert(subviews_.begin(), r);
    setNeedsDisplay();
}

// --- Layout ---

void View::setNeedsLayout() {
    needsLayout_ = true;
    if (Window* w = window()) w->scheduleLayout();
}

void View::markNeedsLayoutDeep() {
    needsLayout_ = true;
    for (auto& s : subviews_) s->markNeedsLayoutDeep();
    if (Window* w = window()) w->scheduleLayout();
}

void View::layoutIfNeeded() {
    View* root = this;
    while (root->superview_) root = root->superview_;
    root->layoutTree();
}

void View::layoutTree() {
    Ref keep = shared_from_this();
    if (needsLayout_) {
        needsLayout_ = false;
        if (ownerController_) ownerController_->ownedViewWillLayoutSubviews();
        layoutSubviews();
        if (ownerController_) ownerController_->ownedViewDidLayoutSubviews();
    }
    for (auto& s : std::vector<Ref>(subviews_))
        if (s->superview_ == this) s->layoutTree();
}

void View::autoresize(Size oldSize, Size newSize) {
    if (!autoresizesSubviews_) return;
    for (auto& s : std::vector<Ref>(subviews_)) {
        unsigned m = s->autoresizingMask_;
        if (m == AutoresizingNone) continue;
        Rect f = s->frame();
        double x = f.x() - bounds_.x(), w = f.width(), y = f.y() - bounds_.y(), h = f.height();
        resizeAxis(oldSize.width, newSize.width, x, w, m & AutoresizingFlexibleLeftMargin,
                   m & AutoresizingFlexibleWidth, m & AutoresizingFlexibleRightMargin);
        resizeAxis(oldSize.height, newSize.height, y, h, m & AutoresizingFlexibleTopMargin,
                   m & AutoresizingFlexibleHeight, m & AutoresizingFlexibleBottomMargin);
        s->setFrame(Rect(x + bounds_.x(), y + bounds_.y(), w, h));
    }
}

void View::sizeToFit() {
    Size s = sizeThatFits(bounds_.size);
    if (isIdentity(transform_)) {
        Rect f = frame();
        setFrame(Rect(f.x(), f.y(), s.width, s.height));
    } else {
        setBounds(Rect(bounds_.x(), bounds_.y(), s.width, s.height));
    }
}

EdgeInsets View::safeAreaInsets() const {
    Window* w = window();
    if (!w) return {};
    EdgeInsets wi = w->windowSafeAreaInsets();
    if (static_cast<const View*>(w) == this) return wi;
    Rect r = convertRectTo(bounds_, nullptr);
    Rect wb = w->bounds();
    auto clampTo = [](double v, double hi) { return std::clamp(v, 0.0, std::max(0.0, hi)); };
    EdgeInsets out;
    out.top = clampTo(wb.minY() + wi.top - r.minY(), r.height());
    out.left = clampTo(wb.minX() + wi.left - r.minX(), r.width());
    out.bottom = clampTo(r.maxY() - (wb.maxY() - wi.bottom), r.height());
    out.right = clampTo(r.maxX() - (wb.maxX() - wi.right), r.width());
    return out;
}

void View::propagateSafeAreaChange() {
    safeAreaInsetsDidChange();
    setNeedsLayout();
    for (auto& s : std::vector<Ref>(subviews_)) s->propagateSafeAreaChange();
}

TraitCollection View::traitCollection() const {
    if (Window* w = window()) return w->windowTraits();
    return detachedTraits();
}

void View::propagateTraitChange(const TraitCollection& previous) {
    traitCollectionDidChange(previous);
    if (ownerController_) ownerController_->ownedViewTraitCollectionDidChange(previous);
    setNeedsDisplay();
    for (auto& s : std::vector<Ref>(subviews_)) s->propagateTraitChange(previous);
}

// --- Drawing ---

void View::setNeedsDisplay() {
    if (Window* w = window()) w->setNeedsRender();
}

// --- Coordinates ---

AffineTransform View::transformToRoot() const {
    AffineTransform m;
    for (const View* v = this; v->superview_; v = v->superview_) m = v->transformToSuperview().concatenated(m);
    return m;
}

Point View::convertPointToWindow(Point p) const { return transformToRoot().apply(p); }

Point View::convertPointFromWindow(Point p) const { return invertTransform(transformToRoot()).apply(p); }

Point View::convertPointTo(Point p, const View* to) const {
    Point inRoot = convertPointToWindow(p);
    return to ? to->convertPointFromWindow(inRoot) : inRoot;
}

Point View::convertPointFrom(Point p, const View* from) const {
    Point inRoot = from ? from->convertPointToWindow(p) : p;
    return convertPointFromWindow(inRoot);
}

Rect View::convertRectTo(const Rect& r, const View* to) const {
    AffineTransform m = transformToRoot();
    if (to) m = invertTransform(to->transformToRoot()).concatenated(m);
    return applyTransform(m, r);
}

Rect View::convertRectFrom(const Rect& r, const View* from) const {
    AffineTransform m = invertTransform(transformToRoot());
    if (from) m = m.concatenated(from->transformToRoot());
    return applyTransform(m, r);
}

// --- Hit testing ---

bool View::blockedByAnimation() const {
    if (tracks_.empty()) return false;
    double now = sys::Clock::now();
    for (auto& [p, t] : tracks_)
        if (!t.finishedAt(now) && !t.allowsUserInteraction) return true;
    return false;
}

View* View::hitTest(Point point, const Event* event) {
    if (hidden_ || !userInteractionEnabled_ || alpha_ < 0.01 || blockedByAnimation()) return nullptr;
    if (!pointInside(point, event)) return nullptr;
    for (auto it = subviews_.rbegin(); it != subviews_.rend(); ++it) {
        View* s = it->get();
        AffineTransform toSuper = s->transformToSuperview();
        if (!isInvertible(toSuper)) continue;  // squashed flat: nothing to hit
        Point sp = invertTransform(toSuper).apply(point);
        if (View* hit = s->hitTest(sp, event)) return hit;
    }
    return this;
}

bool View::pointInside(Point point, const Event*) const { return rectContainsPoint(bounds_, point); }

Responder* View::nextResponder() const {
    if (ownerController_) return ownerController_;
    return superview_;
}

// --- Animation ---

void View::animate(double duration, const std::function<void()>& changes, std::function<void(bool)> completion) {
    animate(duration, 0, AnimationOptionNone, changes, std::move(completion));
}

void View::animate(double duration, double delay, unsigned options, const std::function<void()>& changes,
                   std::function<void(bool)> completion) {
    Animator::shared().run(duration, delay, options, AnimationTiming::fromOptions(options), changes,
                           std::move(completion));
}

void View::animateSpring(double duration, double delay, double damping, double velocity, unsigned options,
                         const std::function<void()>& changes, std::function<void(bool)> completion) {
    AnimationTiming t;
    t.kind = AnimationTiming::Kind::Spring;
    t.damping = damping;
    t.velocity = velocity;
    Animator::shared().run(duration, delay, options, t, changes, std::move(completion));
}

void View::performWithoutAnimation(const std::function<void()>& changes) {
    Animator::shared().runWithoutAnimation(changes);
}

bool View::areAnimationsEnabled() { return Animator::shared().animationsEnabled(); }

void View::setAnimationsEnabled(bool on) { Animator::shared().setAnimationsEnabled(on); }

void View::interruptTrack(AnimatedProperty p) {
    auto it = tracks_.find(p);
    if (it == tracks_.end()) return;
    auto group = it->second.group;
    tracks_.erase(it);
    Animator::shared().trackRemoved();
    if (group) group->trackEnded(true);
}

void View::animatableWillChange(AnimatedProperty p, const AnimatedValue& oldValue, const AnimatedValue& newValue) {
    const Animator::Context* ctx = Animator::shared().current();
    if (!ctx) {
        interruptTrack(p);
        return;
    }
    AnimatedValue from = presentationValue(p, oldValue);
    interruptTrack(p);
    if (from == newValue) return;
    AnimationTrack t;
    t.from = from;
    t.to = newValue;
    t.start = ctx->start;
    t.duration = ctx->duration;
    t.timing = ctx->timing;
    t.allowsUserInteraction = ctx->allowsUserInteraction;
    t.group = ctx->group;
    t.serial = Animator::shared().nextSerial();
    t.group->running++;
    uint64_t serial = t.serial;
    tracks_[p] = t;
    Animator::shared().trackAdded();
    std::weak_ptr<View> weak = weak_from_this();
    double wait = t.start + t.duration - sys::Clock::now();
    sys::RunLoop::main().schedule(
        wait,
        [weak, p, serial] {
            if (auto v = weak.lock()) v->endAnimationTrack(p, serial);
        },
        0, sys::LoopOwner(weak));
}

void View::endAnimationTrack(AnimatedProperty p, uint64_t serial) {
    auto it = tracks_.find(p);
    if (it == tracks_.end() || it->second.serial != serial) return;
    auto group = it->second.group;
    tracks_.erase(it);
    Animator::shared().trackRemoved();
    setNeedsDisplay();
    if (group) group->trackEnded(false);
}

void View::removeAllAnimations() {
    while (!tracks_.empty()) interruptTrack(tracks_.begin()->first);
    setNeedsDisplay();
}

bool View::hasAnimations() const {
    double now = sys::Clock::now();
    for (auto& [p, t] : tracks_)
        if (!t.finishedAt(now)) return true;
    return false;
}

bool View::isAnimating(AnimatedProperty p) const {
    auto it = tracks_.find(p);
    return it != tracks_.end() && !it->second.finishedAt(sys::Clock::now());
}

}  // namespace ui
