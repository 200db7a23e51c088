#include "platform/ui/Slider.h"

#include "platform/core/Clock.h"
#include "platform/core/RunLoop.h"
#include "platform/ui/Animator.h"

#include <algorithm>
#include <cmath>

namespace ui {

namespace {
constexpr double kThumb = 28;
constexpr double kTrack = 4;
constexpr double kAnimate = 0.25;
}  // namespace

Slider::Slider() = default;
Slider::Slider(const Rect& frame) : Control(frame) {}
Slider::~Slider() { Animator::shared().removeFrameClient(this); }

void Slider::setValue(double v, bool animated) {
    v = std::clamp(v, min_, std::max(min_, max_));
    if (v == value_) return;
    if (animated) {
        animFrom_ = shownValue();
        animStart_ = sys::Clock::now();
        animDuration_ = kAnimate;
        // Frames while the thumb slides (a shown window redraws from them).
        Animator::shared().addFrameClient(this);
        std::weak_ptr<View> weak = weak_from_this();
        sys::RunLoop::main().schedule(kAnimate, [weak] {
            if (auto v = weak.lock()) {
                Animator::shared().removeFrameClient(v.get());
                v->setNeedsDisplay();
            }
        }, 0, sys::LoopOwner(weak));
    } else {
        animStart_ = -1;
    }
    value_ = v;
    setNeedsDisplay();
}

double Slider::shownValue() const {
    if (animStart_ < 0) return value_;
    double f = (sys::Clock::now() - animStart_) / animDuration_;
    if (f >= 1) return value_;
    return animFrom_ + (value_ - animFrom_) * AnimationTiming{}.progress(f);
}

void Slider::setMinimumValue(double v) {
    min_ = v;
    if (max_ < min_) max_ = min_;
    value_ = std::clamp(value_, min_, max_);
    setNeedsDisplay();
}

void Slider::setMaximumValue(double v) {
    max_ = v;
    if (min_ > max_) min_ = max_;
    value_ = std::clamp(value_, min_, max_);
    setNeedsDisplay();
}

Color Slider::minimumTrackTintColor() const { return minTint_ ? *minTint_ : tintColor(); }

void Slider::setMinimumTrackTintColor(std::optional<Color> c) {
    minTint_ = std::move(c);
    setNeedsDisplay();
}

void Slider::setMaximumTrackTintColor(const Color& c) {
    maxTint_ = c;
    setNeedsDisplay();
}

void Slider::setThumbTintColor(const Color& c) {
    thumbTint_ = c;
    setNeedsDisplay();
}

void Slider::setMinimumTrackImage(ImageRef image, unsigned state) {
    minImages_[state] = std::move(image);
    setNeedsDisplay();
}

void Slider::setMaximumTrackImage(ImageRef image, unsigned state) {
    maxImages_[state] = std::move(image);
    setNeedsDisplay();
}

void Slider::setThumbImage(ImageRef image, unsigned state) {
    thumbImages_[state] = std::move(image);
    setNeedsDisplay();
}

ImageRef Slider::stateImage(const std::map<unsigned, ImageRef>& m) const {
    auto it = m.find(state());
    if (it != m.end() && it->second) return it->second;
    it = m.find(ControlStateNormal);
    return it != m.end() ? it->second : nullptr;
}

ImageRef Slider::thumbImage(unsigned st) const {
    auto it = thumbImages_.find(st);
    return it != thumbImages_.end() ? it->second : nullptr;
}

Size Slider::thumbSize() const {
    if (ImageRef t = stateImage(thumbImages_)) return t->size();
    return {kThumb, kThumb};
}

double Slider::fraction(double v) const { return max_ > min_ ? (v - min_) / (max_ - min_) : 0; }

Rect Slider::trackRect() const {
    Rect b = bounds();
    double h = kTrack;
    if (ImageRef m = stateImage(minImages_)) h = m->size().height;
    return Rect(b.x(), b.y() + (b.height() - h) / 2, b.width(), h);
}

Rect Slider::thumbRect() const {
    Rect t = trackRect();
    Size s = thumbSize();
    double travel = std::max(0.0, t.width() - s.width);
    double x = t.x() + travel * fraction(shownValue());
    Rect b = bounds();
    return Rect(x, b.y() + (b.height() - s.height) / 2, s.width, s.height);
}

Size Slider::sizeThatFits(Size size) const {
    double w = size.width > 0 ? size.width : bounds().width();
    return {w > 0 ? w : 118, std::max(31.0, thumbSize().height)};
}

void Slider::draw(gfx::Canvas& c, const Rect&) {
    Rect track = trackRect();
    Rect thumb = thumbRect();
    double split = thumb.x() + thumb.width() / 2;
    Rect minPart(track.x(), track.y(), std::max(0.0, split - track.x()), track.height());
    Rect maxPart(split, track.y(), std::max(0.0, track.maxX() - split), track.height());
    ImageRef minImg = stateImage(minImages_), maxImg = stateImage(maxImages_);
    if (minImg || maxImg) {
        // Track images stretch over their whole length, each seen on its side.
        if (minImg) {
            c.save();
            c.clipRect(minPart);
            minImg->draw(c, track);
            c.restore();
        }
        if (maxImg) {
            c.save();
            c.clipRect(maxPart);
            maxImg->draw(c, track);
            c.restore();
        }
    } else {
        double r = track.height() / 2;
        c.fillRoundedRect(track, r, resolve(maxTint_));
        c.save();
        c.clipRect(minPart);
        c.fillRoundedRect(track, r, resolve(isEnabled() ? minimumTrackTintColor() : Color::systemGray3()));
        c.restore();
    }
    if (ImageRef t = stateImage(thumbImages_)) {
        t->draw(c, thumb);
    } else {
        c.drawShadow(gfx::Path::ellipse(thumb), gfx::Rgba::rgb(0, 0, 0, 0.25), {0, 2}, 3);
        c.fillEllipse(thumb, resolve(thumbTint_));
        c.strokePath(gfx::Path::ellipse(rectInset(thumb, 0.25, 0.25)), gfx::Rgba::rgb(0, 0, 0, 0.08), 0.5);
    }
}

bool Slider::beginTracking(Touch& touch, const Event&) {
    Point p = touch.locationInView(this);
    // The thumb with some room around it for a finger.
    Rect grab = rectInset(thumbRect(), -10, -10);
    if (!rectContainsPoint(grab, p)) return false;
    animStart_ = -1;
    Rect t = thumbRect();
    grabOffset_ = p.x - (t.x() + t.width() / 2);
    valueAtStart_ = value_;
    return true;
}

bool Slider::continueTracking(Touch& touch, const Event&) {
    Point p = touch.locationInView(this);
    Rect track = trackRect();
    Size s = thumbSize();
    double travel = track.width() - s.width;
    if (travel <= 0) return true;
    double centre = p.x - grabOffset_;
    double f = std::clamp((centre - track.x() - s.width / 2) / travel, 0.0, 1.0);
    double v = min_ + f * (max_ - min_);
    if (v != value_) {
        value_ = v;
        setNeedsDisplay();
        if (continuous_) sendActions(ControlEventValueChanged);
    }
    return true;
}

void Slider::endTracking(Touch& touch, const Event& event) {
    continueTracking(touch, event);
    if (!continuous_ && value_ != valueAtStart_) sendActions(ControlEventValueChanged);
}

}  // namespace ui
