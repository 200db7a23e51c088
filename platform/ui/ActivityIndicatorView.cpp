#include "platform/ui/ActivityIndicatorView.h"

#include "platform/core/Clock.h"
#include "platform/ui/Animator.h"
#include "platform/ui/Window.h"

#include <cmath>

namespace ui {

namespace {
constexpr int kSpokes = 12;
constexpr double kTurn = 1.0;  // seconds per turn
double side(ActivityIndicatorStyle s) { return s == ActivityIndicatorStyle::Large ? 37 : 20; }
}  // namespace

ActivityIndicatorView::ActivityIndicatorView(ActivityIndicatorStyle style) : style_(style) {
    setBounds(Rect(0, 0, side(style), side(style)));
    setUserInteractionEnabled(false);
    setHidden(true);
}

void ActivityIndicatorView::setStyle(ActivityIndicatorStyle s) {
    style_ = s;
    setNeedsDisplay();
}

void ActivityIndicatorView::setColor(const Color& c) {
    color_ = c;
    setNeedsDisplay();
}

void ActivityIndicatorView::setHidesWhenStopped(bool h) {
    hidesWhenStopped_ = h;
    if (!animating_) setHidden(h);
}

void ActivityIndicatorView::startAnimating() {
    if (animating_) return;
    animating_ = true;
    startTime_ = sys::Clock::now();
    setHidden(false);
    updateFrameClient();
    setNeedsDisplay();
}

void ActivityIndicatorView::stopAnimating() {
    if (!animating_) return;
    animating_ = false;
    if (hidesWhenStopped_) setHidden(true);
    updateFrameClient();
    setNeedsDisplay();
}

void ActivityIndicatorView::didMoveToWindow() { updateFrameClient(); }

void ActivityIndicatorView::updateFrameClient() {
    // Only a window that is shown on a display needs every frame.
    Window* w = window();
    if (animating_ && w && w->wantsFrames())
        Animator::shared().addFrameClient(this);
    else
        Animator::shared().removeFrameClient(this);
}

int ActivityIndicatorView::leadingSpoke() const {
    if (!animating_) return 0;
    double t = sys::Clock::now() - startTime_;
    double turns = t / kTurn;
    return int(std::floor((turns - std::floor(turns)) * kSpokes + 1e-9)) % kSpokes;
}

Size ActivityIndicatorView::sizeThatFits(Size) const { return {side(style_), side(style_)}; }

void ActivityIndicatorView::draw(gfx::Canvas& c, const Rect&) {
    Rect b = bounds();
    Point ctr = rectCenter(b);
    double r = std::min(b.width(), b.height()) / 2;
    double width = r * 0.18;
    gfx::Rgba base = resolve(color_);
    int lead = leadingSpoke();
    for (int i = 0; i < kSpokes; ++i) {
        double angle = -M_PI / 2 + 2 * M_PI * i / kSpokes;
        // Spokes behind the leading one fade out.
        int behind = (lead - i + kSpokes) % kSpokes;
        double a = animating_ ? 1.0 - 0.75 * behind / (kSpokes - 1) : 0.4;
        Point p0{ctr.x + std::cos(angle) * r * 0.45, ctr.y + std::sin(angle) * r * 0.45};
        Point p1{ctr.x + std::cos(angle) * (r - width / 2), ctr.y + std::sin(angle) * (r - width / 2)};
        c.drawLine(p0, p1, base.withAlpha(base.a * a), width, gfx::LineCap::Round);
    }
}

ActivityIndicatorView::~ActivityIndicatorView() { Animator::shared().removeFrameClient(this); }

}  // namespace ui
