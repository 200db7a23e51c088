#include "platform/ui/SegmentedControl.h"

#include <algorithm>
#include <cmath>

namespace ui {

namespace {
constexpr double kHeight = 32;
constexpr double kPadding = 12;
}  // namespace

SegmentedControl::SegmentedControl() : Control(Rect(0, 0, 0, kHeight)) {
    setBackgroundColor(Color::dynamic(Color::rgb255(118, 118, 128, 0.12), Color::rgb255(118, 118, 128, 0.24)));
    setCornerRadius(8);
}

SegmentedControl::SegmentedControl(const std::vector<std::string>& titles) : SegmentedControl() {
    for (size_t i = 0; i < titles.size(); ++i) insertSegment(titles[i], int(i));
    sizeToFit();
}

void SegmentedControl::insertSegment(const std::string& title, int index, bool) {
    index = std::clamp(index, 0, numberOfSegments());
    segments_.insert(segments_.begin() + index, Segment{title, nullptr, true});
    if (selected_ >= index) ++selected_;
    setNeedsDisplay();
}

void SegmentedControl::insertSegment(ImageRef image, int index, bool) {
    index = std::clamp(index, 0, numberOfSegments());
    segments_.insert(segments_.begin() + index, Segment{"", std::move(image), true});
    if (selected_ >= index) ++selected_;
    setNeedsDisplay();
}

void SegmentedControl::removeSegment(int index, bool) {
    if (index < 0 || index >= numberOfSegments()) return;
    segments_.erase(segments_.begin() + index);
    if (selected_ == index)
        selected_ = kNoSegment;
    else if (selected_ > index)
        --selected_;
    setNeedsDisplay();
}

void SegmentedControl::removeAllSegments() {
    segments_.clear();
    selected_ = kNoSegment;
    setNeedsDisplay();
}

void SegmentedControl::setTitle(const std::string& title, int index) {
    if (index < 0 || index >= numberOfSegments()) return;
    segments_[size_t(index)].title = title;
    segments_[size_t(index)].image = nullptr;
    setNeedsDisplay();
}

std::string SegmentedControl::titleForSegment(int index) const {
    if (index < 0 || index >= numberOfSegments()) return {};
    return segments_[size_t(index)].title;
}

void SegmentedControl::setImage(ImageRef image, int index) {
    if (index < 0 || index >= numberOfSegments()) return;
    segments_[size_t(index)].image = std::move(image);
    segments_[size_t(index)].title.clear();
    setNeedsDisplay();
}

ImageRef SegmentedControl::imageForSegment(int index) const {
    if (index < 0 || index >= numberOfSegments()) return nullptr;
    return segments_[size_t(index)].image;
}

void SegmentedControl::setEnabled(bool enabled, int index) {
    if (index < 0 || index >= numberOfSegments()) return;
    segments_[size_t(index)].enabled = enabled;
    setNeedsDisplay();
}

bool SegmentedControl::isEnabledForSegment(int index) const {
    return index >= 0 && index < numberOfSegments() && segments_[size_t(index)].enabled;
}

void SegmentedControl::setSelectedSegmentIndex(int index) {
    selected_ = (index >= 0 && index < numberOfSegments()) ? index : kNoSegment;
    setNeedsDisplay();
}

void SegmentedControl::setSelectedSegmentTintColor(const Color& c) {
    selectedTint_ = c;
    setNeedsDisplay();
}

void SegmentedControl::setTitleFont(const gfx::Font& f) {
    font_ = f;
    setNeedsDisplay();
}

void SegmentedControl::setTitleColor(const Color& c, unsigned state) {
    if (state & ControlStateSelected)
        selectedTitleColor_ = c;
    else
        titleColor_ = c;
    setNeedsDisplay();
}

Rect SegmentedControl::segmentRect(int index) const {
    Rect b = bounds();
    int n = std::max(1, numberOfSegments());
    double w = b.width() / n;
    return Rect(b.x() + w * index, b.y(), w, b.height());
}

int SegmentedControl::segmentAt(Point p) const {
    if (!rectContainsPoint(bounds(), p)) return kNoSegment;
    for (int i = 0; i < numberOfSegments(); ++i)
        if (rectContainsPoint(segmentRect(i), p)) return i;
    return kNoSegment;
}

Size SegmentedControl::sizeThatFits(Size) const {
    double widest = 0;
    for (auto& s : segments_) {
        double w = s.image ? s.image->size().width : gfx::Canvas::measureText(s.title, font_, 0).width;
        widest = std::max(widest, w);
    }
    return {std::ceil((widest + 2 * kPadding) * std::max(1, numberOfSegments())), kHeight};
}

void SegmentedControl::draw(gfx::Canvas& c, const Rect&) {
    const int n = numberOfSegments();
    for (int i = 0; i < n; ++i) {
        Rect r = segmentRect(i);
        if (i == selected_ && !momentary_) {
            Rect thumb = rectInset(r, 2, 2);
            c.drawShadow(gfx::Path::roundedRect(thumb, 7), gfx::Rgba::rgb(0, 0, 0, 0.12), {0, 3}, 8);
            c.fillRoundedRect(thumb, 7, resolve(selectedTint_));
        } else if (i == pressed_) {
            c.fillRoundedRect(rectInset(r, 2, 2), 7, resolve(Color::systemFill()));
        }
        // Separators between two unselected segments.
        if (i > 0 && i != selected_ && i - 1 != selected_) {
            double x = r.x();
            c.drawLine({x, r.y() + 8}, {x, r.maxY() - 8}, resolve(Color::separator()), 1);
        }
        const Segment& s = segments_[size_t(i)];
        bool enabled = isEnabled() && s.enabled;
        Color ink = (i == selected_ && selectedTitleColor_) ? *selectedTitleColor_ : titleColor_;
        gfx::Rgba rgba = resolve(enabled ? ink : Color::tertiaryLabel());
        if (s.image) {
            Size is = s.image->size();
            Rect ir(r.x() + (r.width() - is.width) / 2, r.y() + (r.height() - is.height) / 2, is.width, is.height);
            s.image->draw(c, ir, 1.0, &rgba);
        } else {
            gfx::Font f = (i == selected_) ? gfx::Font::system(font_.size, gfx::Font::Weight::Semibold) : font_;
            gfx::TextOptions o;
            o.alignment = gfx::TextAlignment::Center;
            double lh = f.lineHeight();
            c.drawText(s.title, f, Rect(r.x() + 4, r.y() + (r.height() - lh) / 2, r.width() - 8, lh), rgba, o);
        }
    }
}

bool SegmentedControl::beginTracking(Touch& touch, const Event&) {
    int i = segmentAt(touch.locationInView(this));
    pressed_ = isEnabledForSegment(i) ? i : kNoSegment;
    setNeedsDisplay();
    return true;
}

bool SegmentedControl::continueTracking(Touch& touch, const Event&) {
    int i = segmentAt(touch.locationInView(this));
    int p = isEnabledForSegment(i) ? i : kNoSegment;
    if (p != pressed_) {
        pressed_ = p;
        setNeedsDisplay();
    }
    return true;
}

void SegmentedControl::endTracking(Touch& touch, const Event&) {
    int i = segmentAt(touch.locationInView(this));
    pressed_ = kNoSegment;
    setNeedsDisplay();
    if (!isEnabledForSegment(i)) return;
    if (momentary_) {
        selected_ = i;
        sendActions(ControlEventValueChanged);
        selected_ = kNoSegment;
        return;
    }
    if (i == selected_) return;
    selected_ = i;
    sendActions(ControlEventValueChanged);
}

void SegmentedControl::cancelTracking(const Event&) {
    pressed_ = kNoSegment;
    setNeedsDisplay();
}

}  // namespace ui
