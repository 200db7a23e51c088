#include "library/BookshelfBookButton.h"

#include "library/FilelistBaseViewController.h"

BookshelfBookButton::BookshelfBookButton() {
    setUserInteractionEnabled(true);
    setBackgroundColor(ui::Color::clear());
    bookThumbView_ = std::make_shared<ui::ImageView>();
    bookThumbView_->setContentMode(ui::ContentMode::ScaleAspectFit);
    bookThumbView_->setUserInteractionEnabled(false);
    addSubview(bookThumbView_);
    filenameText_ = std::make_shared<ui::Label>();
    filenameText_->setUserInteractionEnabled(false);
    addSubview(filenameText_);
    bookmarkImageView_ = std::make_shared<ui::ImageView>(ui::Image::named("btn_bookmark"));
    bookmarkImageView_->setUserInteractionEnabled(false);
    addSubview(bookmarkImageView_);
}

void BookshelfBookButton::touchesBegan(const ui::TouchSet& touches, const ui::Event& event) {
    if (!onPressOne_) {
        onPressOne_ = true;
        setAlpha(0.7);
    }
    ui::ImageView::touchesBegan(touches, event);
}

void BookshelfBookButton::touchesEnded(const ui::TouchSet& touches, const ui::Event& event) {
    auto self = shared_from_this();  // the list may reload under this call
    const bool pressed = onPressOne_;
    onPressOne_ = false;
    setAlpha(1.0);
    if (pressed && delegate_ && !touches.empty()) delegate_->onSingleTouch(indexNo_, touches.front()->locationInView(this), this);
    ui::ImageView::touchesEnded(touches, event);
}

void BookshelfBookButton::touchesCancelled(const ui::TouchSet& touches, const ui::Event& event) {
    onPressOne_ = false;
    setAlpha(1.0);
    ui::ImageView::touchesCancelled(touches, event);
}
