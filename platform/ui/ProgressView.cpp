#include "platform/ui/ProgressView.h"

#include <algorithm>

namespace ui {

ProgressView::ProgressView(ProgressViewStyle style) : View(Rect(0, 0, 150, 4)), style_(style) {
    setUserInteractionEnabled(false);
    setClipsToBounds(true);
    setBackgroundColor(style == ProgressViewStyle::Bar ? Color::clear() : trackTint_);
    setCornerRadius(style == ProgressViewStyle::Bar ? 0 : 2);
    fill_ = std::make_shared<View>();
    fill_->setBackgroundColor(progressTintColor());
    addSubview(fill_);
    fill_->setFrame(fillRect());
}

Rect ProgressView::fillRect() const {
    Rect b = bounds();
    return Rect(b.x(), b.y(), b.width() * progress_, b.height());
}

void ProgressView::setProgress(double p, bool animated) {
    p = std::clamp(p, 0.0, 1.0);
    if (p == progress_) return;
    progress_ = p;
    if (animated)
        View::animate(0.25, 0, AnimationOptionCurveEaseOut, [this] { fill_->setFrame(fillRect()); });
    else
        fill_->setFrame(fillRect());
}

Color ProgressView::progressTintColor() const { return progressTint_ ? *progressTint_ : tintColor(); }

void ProgressView::setProgressTintColor(std::optional<Color> c) {
    progressTint_ = std::move(c);
    fill_->setBackgroundColor(progressTintColor());
}

void ProgressView::setTrackTintColor(const Color& c) {
    trackTint_ = c;
    if (style_ == ProgressViewStyle::Default) setBackgroundColor(c);
}

void ProgressView::tintColorDidChange() {
    if (!progressTint_) fill_->setBackgroundColor(tintColor());
}

Size ProgressView::sizeThatFits(Size size) const {
    return {size.width > 0 ? size.width : bounds().width(), style_ == ProgressViewStyle::Bar ? 2.5 : 4};
}

void ProgressView::layoutSubviews() { fill_->setFrame(fillRect()); }

}  // namespace ui
