#include "viewer/QNProgressView.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kBarHeight = 30;
constexpr double kInset = 4;
constexpr double kValueHeight = 22;
constexpr double kLabelWidth = 100;

std::shared_ptr<ui::Label> makeLabel(ui::TextAlignment alignment, const ui::Color& color) {
    auto l = std::make_shared<ui::Label>();
    l->setTextAlignment(alignment);
    l->setBackgroundColor(ui::Color::clear());
    l->setTextColor(color);
    return l;
}

}  // namespace

QNProgressView::QNProgressView(const ui::Rect& frame) : ui::View(frame) {
    maxBarWidth_ = frame.width() - 2 * kInset;
    progressBaseImage_ = std::make_shared<ui::ImageView>(ui::Image::named("qnprogress_base")->stretchableImage(5, 5));
    progressValueImage_ = std::make_shared<ui::ImageView>(ui::Image::named("qnprogress_bar")->stretchableImage(5, 5));
    progressValueImage_->setClipsToBounds(true);

    const ui::Color back = ui::Color::rgb(0.0839, 0.2627, 0.5098);
    leftLabelBack_ = makeLabel(ui::TextAlignment::Left, back);
    leftLabelFront_ = makeLabel(ui::TextAlignment::Left, ui::Color::whiteColor());
    rightLabelBack_ = makeLabel(ui::TextAlignment::Right, back);
    rightLabelFront_ = makeLabel(ui::TextAlignment::Right, ui::Color::whiteColor());
    progressBaseImage_->addSubview(leftLabelBack_);
    progressBaseImage_->addSubview(rightLabelBack_);
    progressValueImage_->addSubview(leftLabelFront_);
    progressValueImage_->addSubview(rightLabelFront_);

    addSubview(progressBaseImage_);
    addSubview(progressValueImage_);
    layoutBar(frame.width());
}

void QNProgressView::setFrame(const ui::Rect& frame) {
    ui::View::setFrame(frame);
    if (progressBaseImage_) layoutBar(frame.width());
}

void QNProgressView::layoutBar(double w) {
    maxBarWidth_ = w - 2 * kInset;
    progressBaseImage_->setFrame(ui::Rect(0, 0, w, kBarHeight));
    progressValueImage_->setFrame(ui::Rect(kInset, kInset, std::max(0.0, maxBarWidth_ * progress_), kValueHeight));
    leftLabelBack_->setFrame(ui::Rect(8, 4, kLabelWidth, kValueHeight));
    // The front labels live in the filled part, which starts 4 points in and
    // down: these frames put them exactly over their back labels.
    leftLabelFront_->setFrame(ui::Rect(4, 0, kLabelWidth, kValueHeight));
    rightLabelBack_->setFrame(ui::Rect(w - 108, 4, kLabelWidth, kValueHeight));
    rightLabelFront_->setFrame(ui::Rect(w - 112, 0, kLabelWidth, kValueHeight));
}

void QNProgressView::setProgress(double progress, bool animated) {
    if (!std::isfinite(progress)) progress = 0;
    progress_ = std::clamp(progress, 0.0, 1.0);
    const ui::Rect f(kInset, kInset, std::max(0.0, maxBarWidth_ * progress_), kValueHeight);
    if (animated)
        ui::View::animate(0.3, [this, f] { progressValueImage_->setFrame(f); });
    else
        progressValueImage_->setFrame(f);
}

void QNProgressView::setLeftText(const std::string& text) {
    leftLabelBack_->setText(text);
    leftLabelFront_->setText(text);
}

void QNProgressView::setRightText(const std::string& text) {
    rightLabelBack_->setText(text);
    rightLabelFront_->setText(text);
}
