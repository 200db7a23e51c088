#pragma once

#include "platform/ui/ActivityIndicatorView.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/View.h"

#include <functional>
#include <memory>

// The busy sign of long main-thread work: a large white spinner on a dark
// rounded 64 x 64 backing that fades in when it starts. Work that can be
// stopped gives it a tap action: a tap on the sign stops the work.
class IndicatorWithBGView : public ui::View {
public:
    static constexpr double kSide = 64.0;
    static constexpr double kFadeIn = 0.5;

    IndicatorWithBGView();

    void startAnimating();
    // Stops the spinner; the backing stays.
    void stopAnimating();
    // Centres the view in its superview on whole points (nothing without one).
    void setPosition();
    // Centres it on the superview's screen-shaped middle for the orientation.
    void setPositionWithIsLandscape(bool landscape);

    void setTapAction(std::function<void()> action) { tapAction_ = std::move(action); }
    void touchesEnded(const ui::TouchSet& touches, const ui::Event& event) override;

    ui::ImageView* imageView() const { return imageView_.get(); }
    ui::ActivityIndicatorView* indicator() const { return indicator_.get(); }

private:
    std::shared_ptr<ui::ImageView> imageView_;
    std::shared_ptr<ui::ActivityIndicatorView> indicator_;
    std::function<void()> tapAction_;
};
