#include "platform/ui/TestDriver.h"

#include "platform/core/RunLoop.h"
#include "platform/ui/Button.h"
#include "platform/ui/Control.h"
#include "platform/ui/Label.h"
#include "platform/ui/SearchBar.h"
#include "platform/ui/SegmentedControl.h"
#include "platform/ui/TextField.h"

namespace ui::test {

Driver::Driver(Window& window) : window_(window) {}

void Driver::advance(double seconds) { sys::RunLoop::main().advance(seconds); }

void Driver::settle() { sys::RunLoop::main().drain(); }

void Driver::touchDown(Point p, int finger) {
    settle();
    window_.sendTouch(finger, TouchPhase::Began, p);
    settle();
}

void Driver::touchMove(Point p, int finger) {
    window_.sendTouch(finger, TouchPhase::Moved, p);
    settle();
}

void Driver::touchUp(Point p, int finger) {
    window_.sendTouch(finger, TouchPhase::Ended, p);
    settle();
}

void Driver::touchCancel(int finger) {
    Point where;
    for (auto& t : window_.activeTouches())
        if (t->identifier() == finger) where = t->locationInWindow();
    window_.sendTouch(finger, TouchPhase::Cancelled, where);
    settle();
}

void Driver::tap(Point p) {
    touchDown(p);
    advance(0.05);
    touchUp(p);
}

Point Driver::centerOf(const View& v) const {
    Rect r = v.convertRectTo(v.bounds(), nullptr);
    return rectCenter(r);
}

void Driver::tap(const View& v) {
    settle();
    window_.layoutIfNeeded();
    tap(centerOf(v));
}

void Driver::doubleTap(Point p) {
    tap(p);
    advance(0.1);
    tap(p);
}

void Driver::longPress(Point p, double seconds) {
    touchDown(p);
    advance(seconds);
    touchUp(p);
}

void Driver::drag(Point from, Point to, double seconds, Point releaseVelocity, int steps) {
    if (steps < 1) steps = 1;
    touchDown(from);
    double dt = seconds / steps;
    for (int i = 1; i <= steps; ++i) {
        advance(dt);
        double f = double(i) / steps;
        touchMove({from.x + (to.x - from.x) * f, from.y + (to.y - from.y) * f});
    }
    Point end = to;
    if (releaseVelocity.x != 0 || releaseVelocity.y != 0) {
        const double last = 1.0 / 60.0;
        advance(last);
        end = {to.x + releaseVelocity.x * last, to.y + releaseVelocity.y * last};
        touchMove(end);
    } else {
        advance(0.1);
    }
    touchUp(end);
}

bool Driver::key(const std::string& input, unsigned modifiers) {
    settle();
    bool taken = window_.sendKey(KeyPress{input, modifiers});
    settle();
    return taken;
}

void Driver::type(const std::string& text) {
    size_t i = 0;
    while (i < text.size()) {
        size_t n = 1;
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0xF0)
            n = 4;
        else if (c >= 0xE0)
            n = 3;
        else if (c >= 0xC0)
            n = 2;
        if (i + n > text.size()) n = text.size() - i;
        std::string ch = text.substr(i, n);
        if (ch == "\n") ch = KeyInput::returnKey;
        key(ch);
        i += n;
    }
}

bool Driver::isVisible(const View& v) {
    for (const View* x = &v; x; x = x->superview())
        if (x->isHidden() || x->alpha() <= 0.01) return false;
    return true;
}

std::vector<View*> Driver::findAll(const std::function<bool(View&)>& pred, bool visibleOnly) const {
    std::vector<View*> out;
    std::function<void(View&)> walk = [&](View& v) {
        if (visibleOnly && (v.isHidden() || v.alpha() <= 0.01)) return;
        if (pred(v)) out.push_back(&v);
        for (auto& s : v.subviews()) walk(*s);
    };
    walk(window_);
    return out;
}

View* Driver::find(const std::function<bool(View&)>& pred, bool visibleOnly) const {
    auto all = findAll(pred, visibleOnly);
    return all.empty() ? nullptr : all.front();
}

View* Driver::findByTag(int tag) const {
    return find([tag](View& v) { return v.tag() == tag; }, false);
}

std::string Driver::textOf(const View& v) {
    if (auto* l = dynamic_cast<const Label*>(&v)) return l->text();
    if (auto* b = dynamic_cast<const Button*>(&v)) return b->currentTitle();
    if (auto* t = dynamic_cast<const TextField*>(&v)) return t->text().empty() ? t->placeholder() : t->text();
    if (auto* s = dynamic_cast<const SearchBar*>(&v)) return s->text();
    return "";
}

View* Driver::findByText(const std::string& text) const {
    // Controls first, so a button is found rather than its inner label.
    View* hit = find([&](View& v) {
        if (auto* seg = dynamic_cast<SegmentedControl*>(&v)) {
            for (int i = 0; i < seg->numberOfSegments(); ++i)
                if (seg->titleForSegment(i) == text) return true;
        }
        return (dynamic_cast<Control*>(&v) != nullptr) && textOf(v) == text;
    });
    if (hit) return hit;
    return find([&](View& v) { return textOf(v) == text; });
}

namespace {

bool showsText(View& v, const std::string& text) {
    if (auto* seg = dynamic_cast<SegmentedControl*>(&v)) {
        for (int i = 0; i < seg->numberOfSegments(); ++i)
            if (seg->titleForSegment(i) == text) return true;
    }
    return Driver::textOf(v) == text;
}

}  // namespace

std::vector<View*> Driver::findAllByTextFrontToBack(const std::string& text) const {
    std::vector<View*> out;
    // Later subviews are drawn over earlier ones, and a view's subviews over
    // the view itself.
    std::function<void(View&)> walk = [&](View& v) {
        if (v.isHidden() || v.alpha() <= 0.01) return;
        const auto& subs = v.subviews();
        for (auto it = subs.rbegin(); it != subs.rend(); ++it) walk(**it);
        if (showsText(v, text)) out.push_back(&v);
    };
    walk(window_);
    return out;
}

bool Driver::reaches(const View& v, Point p) const {
    const View* hit = window_.hitTest(p, nullptr);
    if (!hit) return false;
    if (hit->isDescendantOfView(&v)) return true;
    // Otherwise the touch went to a view holding `v` (a button its label) or
    // lying behind it (a button under a label laid over it). Then `v` and
    // the views holding it up to the one they share with what was hit may
    // take no touch of their own: one that would have taken it and did not
    // (a screen still sliding in, the point outside it, a view in front
    // holding it) means the finger misses `v`.
    const View* below = &v;
    for (; below->superview() && !hit->isDescendantOfView(below->superview()); below = below->superview())
        if (below->isUserInteractionEnabled()) return false;
    if (below->isUserInteractionEnabled()) return false;
    const View* shared = below->superview();
    if (!shared) return false;
    if (hit == shared) return true;
    // Both lie in `shared`: what was hit must lie behind `v`'s branch.
    const View* hitBranch = hit;
    while (hitBranch->superview() != shared) hitBranch = hitBranch->superview();
    for (const auto& s : shared->subviews()) {
        if (s.get() == hitBranch) return true;
        if (s.get() == below) return false;
    }
    return false;
}

namespace {

// The view laid directly on the window that holds `v`: the library's
// screens, a presented screen, an alert with its dimming, a panel.
const View* layerOf(const View& v) {
    const View* x = &v;
    while (x->superview() && !x->superview()->isWindow()) x = x->superview();
    return x;
}

}  // namespace

bool Driver::uncovered(const View& v, Point p) const {
    const View* hit = window_.hitTest(p, nullptr);
    if (!hit) return false;
    if (v.isDescendantOfView(hit)) return true;
    return layerOf(*hit) == layerOf(v);
}

Point Driver::textPoint(const View& v, const std::string& text) const {
    window_.layoutIfNeeded();
    if (auto* seg = dynamic_cast<const SegmentedControl*>(&v)) {
        for (int i = 0; i < seg->numberOfSegments(); ++i) {
            if (seg->titleForSegment(i) != text) continue;
            Rect r = seg->segmentRect(i);
            return seg->convertPointToWindow({r.x() + r.width() / 2, r.y() + r.height() / 2});
        }
    }
    return centerOf(v);
}

View* Driver::findTappableByText(const std::string& text) const {
    window_.layoutIfNeeded();
    for (View* v : findAllByTextFrontToBack(text)) {
        if (!uncovered(*v, textPoint(*v, text))) continue;
        // A control showing the text answers for its own label.
        for (View* up = v->superview(); up; up = up->superview())
            if (dynamic_cast<Control*>(up) && showsText(*up, text)) return up;
        return v;
    }
    return nullptr;
}

bool Driver::snapshot(const std::string& pngPath) {
    settle();
    return window_.snapshot(pngPath);
}

}  // namespace ui::test
