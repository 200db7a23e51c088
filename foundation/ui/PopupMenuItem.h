#pragma once

#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"

#include <functional>
#include <memory>

// One row of a popup menu: its button, icon and title, and what choosing it does.
class PopupMenuItem {
public:
    using Selector = std::function<void()>;

    ui::Label* label() const { return label_.get(); }
    void setLabel(std::shared_ptr<ui::Label> l) { label_ = std::move(l); }
    ui::Button* button() const { return button_.get(); }
    void setButton(std::shared_ptr<ui::Button> b) { button_ = std::move(b); }
    ui::ImageView* imageView() const { return imageView_.get(); }
    void setImageView(std::shared_ptr<ui::ImageView> v) { imageView_ = std::move(v); }
    const Selector& selector() const { return selector_; }
    void setSelector(Selector s) { selector_ = std::move(s); }

private:
    std::shared_ptr<ui::Label> label_;
    std::shared_ptr<ui::Button> button_;
    Selector selector_;
    std::shared_ptr<ui::ImageView> imageView_;
};
