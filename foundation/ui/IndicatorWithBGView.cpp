#include "foundation/ui/IndicatorWithBGView.h"

#include "platform/core/RunLoop.h"

#include <algorithm>
#include <cmath>

IndicatorWithBGView::IndicatorWithBGView() : ui::View(ui::Rect(0, 0, kSide, kSide)) {
    imageView_ = std::make_shared<ui::ImageView>(ui::Image::named("indicator_bg.png"));
    imageView_->setFrame(ui::Rect(0, 0, kSide, kSide));
    imageView_->setAlpha(0);
    addSubview(imageView_);

    indicator_ = std::make_shared<ui::ActivityIndicatorView>(ui::ActivityIndicatorStyle::Large);
    indicator_->setColor(ui::Color::whiteColor());
    indicator_->setFrame(ui::Rect(16, 16, 32, 32));
    imageView_->addSubview(indicator_);
}

void IndicatorWithBGView::startAnimating() {
    auto image = imageView_;
    ui::View::animate(kFadeIn, [image] { image->setAlpha(1.0); });
    indicator_->startAnimating();
}

void IndicatorWithBGView::stopAnimating() { indicator_->stopAnimating(); }

void IndicatorWithBGView::touchesEnded(const ui::TouchSet& touches, const ui::Event& event) {
    ui::View::touchesEnded(touches, event);
    // The action takes the sign away: it runs once the touch is over.
    if (tapAction_ && !touches.empty()) sys::RunLoop::main().post(tapAction_);
}

void IndicatorWithBGView::setPosition() {
    ui::View* parent = superview();
    if (!parent) return;
    ui::Rect b = parent->bounds();
    setCenter(ui::Point{std::trunc(b.width() / 2), std::trunc(b.height() / 2)});
}

void IndicatorWithBGView::setPositionWithIsLandscape(bool landscape) {
    ui::View* parent = superview();
    if (!parent) return;
    ui::Rect b = parent->bounds();
    double longer = std::max(b.width(), b.height());
    double shorter = std::min(b.width(), b.height());
    if (landscape)
        setCenter(ui::Point{longer / 2, shorter / 2});
    else
        setCenter(ui::Point{shorter / 2, longer / 2});
}
