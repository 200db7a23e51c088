#include "platform/ui/Window.h"

#include "platform/core/Clock.h"
#include "platform/core/RunLoop.h"
#include "platform/ui/Animator.h"
#include "platform/ui/InFrontKeyScope.h"
#include "platform/ui/Renderer.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TextField.h"
#include "platform/ui/ViewController.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace ui {

namespace {

EdgeInsets toInsets(const sys::DeviceProfile::Insets& i) { return EdgeInsets{i.top, i.left, i.bottom, i.right}; }

double distance(Point a, Point b) { return std::hypot(a.x - b.x, a.y - b.y); }

// Consecutive touches within this time and distance count as one multi-tap.
constexpr double kTapInterval = 0.35;
constexpr double kTapDistance = 10.0;

void installFrameHandler() {
    static bool done = false;
    if (done) return;
    done = true;
    Animator::shared().setFrameHandler([] {
        for (Window* w : std::vector<Window*>(Application::shared().windows())) w->setNeedsRender();
    });
}

}  // namespace

Window::Window() : orientation_(Screen::main().orientation()), profile_(sys::DeviceProfile::current()) {
    installFrameHandler();
    applyProfileGeometry();
    Application::shared().addWindow(this);
}

Window::~Window() { Application::shared().removeWindow(this); }

Responder* Window::nextResponder() const { return &Application::shared(); }

void Window::makeKeyAndVisible() {
    makeKeyWindow();
    setHidden(false);
}

void Window::makeKeyWindow() {
    Application::shared().setKeyWindow(this);
    Screen::main().setOrientation(orientation_);
}

bool Window::isKeyWindow() const { return Application::shared().keyWindow() == this; }

void Window::applyProfileGeometry() {
    TraitCollection prev = traits_;
    // An appearance (or Reduce Transparency) chosen for the window outlives
    // turns and profile reloads.
    if (styleOverride_)
        traits_.userInterfaceStyle = *styleOverride_;
    else
        traits_.userInterfaceStyle = profile_.darkMode ? UserInterfaceStyle::Dark : UserInterfaceStyle::Light;
    traits_.reduceTransparency = reduceTransparencyOverride_.value_or(profile_.reduceTransparency);
    traits_.idiom = profile_.isPad() ? UserInterfaceIdiom::Pad : UserInterfaceIdiom::Phone;
    traits_.displayScale = profile_.scale;
    double w = profile_.screenWidth, h = profile_.screenHeight;
    if (isLandscape(orientation_)) std::swap(w, h);
    setFrame(Rect(0, 0, w, h));
    propagateSafeAreaChange();
    if (!(prev == traits_)) propagateTraitChange(prev);
    setNeedsRender();
}

void Window::setOrientation(InterfaceOrientation o) {
    if (o == orientation_) return;
    orientation_ = o;
    if (isKeyWindow()) Screen::main().setOrientation(o);
    applyProfileGeometry();
}

void Window::reloadProfile() {
    profile_ = sys::DeviceProfile::current();
    applyProfileGeometry();
}

double Window::statusBarHeight() const {
    if (Application::shared().isStatusBarHidden()) return 0;
    return profile_.statusBarHeight(orientation_);
}

EdgeInsets Window::windowSafeAreaInsets() const {
    EdgeInsets i = toInsets(profile_.safeAreaInsets(orientation_));
    // Without a notch the top inset is the status bar, gone when it hides.
    if (Application::shared().isStatusBarHidden() && !profile_.hasNotch)
        i.top = std::max(0.0, i.top - profile_.statusBarHeight(orientation_));
    return i;
}

void Window::statusBarDidChange() {
    propagateSafeAreaChange();
    setNeedsRender();
}

void Window::setUserInterfaceStyle(UserInterfaceStyle style) {
    styleOverride_ = style;
    if (traits_.userInterfaceStyle == style) return;
    TraitCollection prev = traits_;
    traits_.userInterfaceStyle = style;
    propagateTraitChange(prev);
}

void Window::setReduceTransparency(bool on) {
    reduceTransparencyOverride_ = on;
    if (traits_.reduceTransparency == on) return;
    TraitCollection prev = traits_;
    traits_.reduceTransparency = on;
    propagateTraitChange(prev);
}

void Window::boundsSizeDidChange(Size) { setNeedsRender(); }

// --- Events ---

std::vector<TouchRef> Window::activeTouches() const {
    std::vector<TouchRef> out;
    for (auto& [id, t] : touches_) out.push_back(t);
    return out;
}

void Window::deliver(Touch& touch, TouchPhase phase, const Event& event) {
    auto v = touch.view();
    if (!v) return;
    TouchSet set;
    for (auto& [id, t] : touches_)
        if (t.get() == &touch) set.push_back(t);
    if (set.empty()) return;
    switch (phase) {
    case TouchPhase::Began: v->touchesBegan(set, event); break;
    case TouchPhase::Moved:
    case TouchPhase::Stationary: v->touchesMoved(set, event); break;
    case TouchPhase::Ended: v->touchesEnded(set, event); break;
    case TouchPhase::Cancelled: v->touchesCancelled(set, event); break;
    }
}

void Window::sendTouch(int identifier, TouchPhase phase, Point location) {
    layoutIfNeeded();
    const double now = sys::Clock::now();
    Ref keepSelf = shared_from_this();
    TouchRef t;
    if (phase == TouchPhase::Began) {
        if (touches_.count(identifier)) return;  // a finger cannot go down twice
        t = std::make_shared<Touch>();
        t->id_ = identifier;
        t->window_ = this;
        t->location_ = t->previous_ = t->began_ = location;
        t->timestamp_ = now;
        t->phase_ = TouchPhase::Began;
        if (now - lastTap_.endTime <= kTapInterval && distance(location, lastTap_.where) <= kTapDistance)
            t->tapCount_ = lastTap_.count + 1;
        else
            t->tapCount_ = 1;
        Event probe;
        probe.timestamp = now;
        View* hit = hitTest(location, &probe);
        // Watchers (scroll views pinching) hear every finger, even one the
        // hit view does not take.
        View* watchedFrom = hit;
        if (hit && !hit->isMultipleTouchEnabled()) {
            // A view without multi-touch keeps to its first finger.
            for (auto& [id, other] : touches_)
                if (other->view().get() == hit) hit = nullptr;
        }
        if (hit) t->view_ = hit->weak_from_this();
        touches_[identifier] = t;
        std::vector<std::weak_ptr<View>> watchers;
        for (View* v = watchedFrom; v; v = v->superview())
            if (v->watchesTouches()) watchers.push_back(v->weak_from_this());
        watchers_[identifier] = watchers;
        for (auto& w : watchers)
            if (auto v = w.lock()) v->watchTouchBegan(*t);
    } else {
        auto it = touches_.find(identifier);
        if (it == touches_.end()) return;
        t = it->second;
        t->previous_ = t->location_;
        t->location_ = location;
        t->timestamp_ = now;
        t->phase_ = phase;
        auto watchers = watchers_[identifier];
        for (auto& w : watchers) {
            auto v = w.lock();
            if (!v) continue;
            if (phase == TouchPhase::Moved) v->watchTouchMoved(*t);
            if (phase == TouchPhase::Ended) v->watchTouchEnded(*t);
            if (phase == TouchPhase::Cancelled) v->watchTouchCancelled(*t);
        }
    }
    Event e;
    e.timestamp = now;
    for (auto& [id, other] : touches_) e.allTouches.push_back(other);
    deliver(*t, phase, e);
    if (phase == TouchPhase::Ended || phase == TouchPhase::Cancelled) {
        if (phase == TouchPhase::Ended && distance(t->location_, t->began_) <= kTapDistance)
            lastTap_ = {t->began_, now, t->tapCount_};
        else
            lastTap_ = {};
        touches_.erase(identifier);
        watchers_.erase(identifier);
    }
}

void Window::takeOverTouch(Touch& touch, View* watcher, bool cancelHolder) {
    auto old = touch.view();
    if (old.get() == watcher) return;
    TouchRef ref;
    for (auto& [id, t] : touches_)
        if (t.get() == &touch) ref = t;
    if (!ref) return;
    touch.view_ = watcher ? watcher->weak_from_this() : std::weak_ptr<View>();
    auto& ws = watchers_[touch.id_];
    ws.erase(std::remove_if(ws.begin(), ws.end(), [watcher](const std::weak_ptr<View>& w) {
                 return w.lock().get() == watcher;
             }),
             ws.end());
    if (old && cancelHolder) {
        TouchPhase phase = touch.phase_;
        touch.phase_ = TouchPhase::Cancelled;
        Event e;
        e.timestamp = sys::Clock::now();
        for (auto& [id, t] : touches_) e.allTouches.push_back(t);
        old->touchesCancelled({ref}, e);
        touch.phase_ = phase;
    }
}

bool Window::sendKey(const KeyPress& key) {
    // Ctrl+Q ends the program whatever is in front, a field being edited too.
    const unsigned chord = KeyModifierShift | KeyModifierControl | KeyModifierAlternate | KeyModifierCommand;
    if (key.input == "q" && (key.modifierFlags & chord) == KeyModifierControl &&
        Application::shared().requestTermination())
        return true;
    layoutIfNeeded();
    Ref keepSelf = shared_from_this();
    // Boxes laid on the window over every screen (notices) answer first, the
    // top-most first; any other view on top (a presented screen) hides the
    // ones below it. While such a box is in front, keys go to it alone.
    std::vector<Ref> over = subviews();
    bool overlayInFront = false;
    for (auto it = over.rbegin(); it != over.rend(); ++it) {
        View* v = it->get();
        if (v->isHidden() || !v->isUserInteractionEnabled()) continue;
        if (!v->isKeyOverlay()) break;
        overlayInFront = true;
        // A field on the box being edited takes the keys first (the box's
        // own keys come after it).
        if (auto* field = dynamic_cast<View*>(Responder::firstResponder());
            field && field->isDescendantOfView(v) && Responder::dispatchKey(key, v, v))
            return true;
        for (KeyCommand& k : v->keyCommands()) {
            if (k.matches(key.input, key.modifierFlags) && k.action) {
                k.action(k);
                return true;
            }
        }
    }
    if (overlayInFront) return true;
    // A screen presented over the others (an alert, a sheet, a screen of its
    // own) takes the keys alone: none reaches the screens beneath it.
    ViewController* top = rootViewController_.get();
    while (top && top->presentedViewController()) top = top->presentedViewController();
    ViewController* modal = top != rootViewController_.get() ? top : nullptr;
    // A box laid on the window in front of that screen (a sign-in panel over
    // it) keeps the keys for the field it is editing.
    Responder* boundary = modal;
    if (modal && modal->isViewLoaded()) {
        auto onWindow = [this](View* v) {
            while (v && v->superview() != this) v = v->superview();
            return v;
        };
        View* editing = onWindow(dynamic_cast<View*>(Responder::firstResponder()));
        View* screen = onWindow(modal->view());
        if (editing && screen && editing != screen) {
            const auto& all = subviews();
            auto at = [&all](View* v) {
                return std::find_if(all.begin(), all.end(), [v](const Ref& r) { return r.get() == v; });
            };
            if (at(editing) > at(screen)) boundary = nullptr;
        }
    }
    // Without a first responder keys go to the top screen's chain.
    if (Responder::dispatchKey(key, rootViewController_ ? ViewController::keyResponder(*this) : this, boundary))
        return true;
    // Escape that no one took leaves a popover, as a tap beside it does.
    if (key.input == KeyInput::escape && modal &&
        modal->effectivePresentationStyle() == ModalPresentationStyle::Popover && !modal->isBeingPresented() &&
        !modal->isBeingDismissed()) {
        modal->dismiss(true);
        return true;
    }
    // Tab that no field took enters the first field of the screen in front
    // (Shift+Tab the last one), as on any desktop.
    if (key.input == KeyInput::tab && (key.modifierFlags & ~KeyModifierShift) == 0 && !Responder::firstResponder())
        if (auto* front = dynamic_cast<ViewController*>(ViewController::keyResponder(*this)))
            if (TextField::focusFirstField(*front->view(), !(key.modifierFlags & KeyModifierShift))) return true;
    // Up and Down that no screen took move a highlight through the rows of
    // the table in front and Return opens the highlighted row; arrows and
    // page keys scroll the list in front, as on any desktop.
    if (!key.modifierFlags && TableView::highlightForKey(*this, key.input)) return true;
    if (!key.modifierFlags && ScrollView::scrollForKey(*this, key.input)) return true;
    return modal != nullptr && !InFrontKeyScope::active();
}

// --- View controllers ---

void Window::setRootViewController(std::shared_ptr<ViewController> vc) {
    if (vc == rootViewController_) return;
    auto old = std::move(rootViewController_);
    rootViewController_ = vc;
    ViewController::installAsRoot(*this, vc, old);
}

bool Window::rotate(InterfaceOrientation o) { return ViewController::rotateWindow(*this, o); }

bool Window::resize(Size size) { return ViewController::resizeWindow(*this, size); }

// --- Layout and drawing ---

void Window::scheduleLayout() {
    if (layoutScheduled_) return;
    std::weak_ptr<View> weak = weak_from_this();
    if (weak.expired()) return;  // still being built: the first render lays out
    layoutScheduled_ = true;
    sys::RunLoop::main().post(
        [weak] {
            auto self = weak.lock();
            if (!self) return;
            auto* w = static_cast<Window*>(self.get());
            w->layoutScheduled_ = false;
            w->layoutIfNeeded();
        },
        sys::LoopOwner(weak));
}

void Window::setNeedsRender() {
    bool was = needsRender_;
    needsRender_ = true;
    if (was || !renderRequest_) return;
    std::weak_ptr<View> weak = weak_from_this();
    if (weak.expired()) return;
    sys::RunLoop::main().post(
        [weak] {
            auto self = weak.lock();
            if (!self) return;
            auto* w = static_cast<Window*>(self.get());
            if (w->needsRender_ && w->renderRequest_) w->renderRequest_();
        },
        sys::LoopOwner(weak));
}

void Window::runAfterNextRender(std::function<void()> work) {
    if (!work) return;
    if (!renderRequest_) {
        sys::RunLoop::main().post(std::move(work));
        return;
    }
    afterRender_.push_back(std::move(work));
    setNeedsRender();
}

gfx::Canvas& Window::framebuffer() {
    const double scale = profile_.scale > 0 ? profile_.scale : 1.0;
    int pw = std::max(1, int(std::ceil(bounds().width() * scale - 1e-6)));
    int ph = std::max(1, int(std::ceil(bounds().height() * scale - 1e-6)));
    if (!framebuffer_ || framebuffer_->pixelWidth() != pw || framebuffer_->pixelHeight() != ph ||
        framebuffer_->scale() != scale)
        framebuffer_ = std::make_unique<gfx::Canvas>(pw, ph, scale);
    return *framebuffer_;
}

void Window::addOverlayAboveAll(const Ref& view) {
    if (!view) return;
    view->setUserInteractionEnabled(false);
    view->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
    view->setFrame(bounds());
    addSubview(view);
    for (auto& w : overlaysAboveAll_)
        if (w.lock() == view) return;
    overlaysAboveAll_.push_back(view);
}

gfx::Canvas& Window::render() {
    layoutIfNeeded();
    gfx::Canvas& c = framebuffer();
    c.clear(gfx::Rgba::black());
    // Overlays laid above all are drawn last, over the status bar too; one
    // taken out of the window is forgotten.
    std::vector<Ref> above;
    overlaysAboveAll_.erase(std::remove_if(overlaysAboveAll_.begin(), overlaysAboveAll_.end(),
                                           [&](const std::weak_ptr<View>& w) {
                                               auto v = w.lock();
                                               if (!v || v->superview() != this) return true;
                                               above.push_back(v);
                                               return false;
                                           }),
                            overlaysAboveAll_.end());
    c.save();
    Rect b = bounds();
    c.translate(-b.x(), -b.y());
    Renderer::drawTree(c, *this, traits_, [&](const View& v) {
        return std::any_of(above.begin(), above.end(), [&](const Ref& a) { return a.get() == &v; });
    });
    c.restore();

    double barH = statusBarHeight();
    if (barH > 0) {
        // A plain status bar: the time on the left, a battery on the right.
        StatusBarStyle style = Application::shared().statusBarStyle();
        bool light = style == StatusBarStyle::LightContent ||
                     (style == StatusBarStyle::Default && traits_.isDark());
        gfx::Rgba ink = light ? gfx::Rgba::white(1) : gfx::Rgba::black();
        gfx::Font f = gfx::Font::boldSystem(std::min(15.0, barH * 0.6));
        double lineH = f.lineHeight();
        double top = (barH - lineH) / 2;
        c.drawText("9:41", f, Rect(16, top, 60, lineH), ink);
        double bw = 24, bh = std::min(11.0, barH * 0.5);
        Rect battery(b.width() - 16 - bw, (barH - bh) / 2, bw, bh);
        c.strokeRoundedRectInside(battery, 3, ink.withAlpha(0.5), 1);
        c.fillRoundedRect(rectInset(battery, 2, 2), 1.5, ink);
    }
    if (!above.empty()) {
        c.save();
        c.translate(-b.x(), -b.y());
        for (auto& v : above) Renderer::drawView(c, *v, traits_);
        c.restore();
    }
    needsRender_ = false;
    // What waited for this frame runs after it has gone to the screen.
    for (auto& work : std::exchange(afterRender_, {})) sys::RunLoop::main().post(std::move(work));
    return c;
}

bool Window::snapshot(const std::string& pngPath) { return render().writePNG(pngPath); }

}  // namespace ui
