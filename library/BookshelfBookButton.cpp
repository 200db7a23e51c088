#include "library/BookshelfBookButton.h"

#include "library/FilelistBaseViewController.h"

#include <cmath>
#include <utility>

BookshelfBookButton::BookshelfBookButton() {
    setUserInteractionEnabled(true);
    setBackgroundColor(ui::Color::clear());
    bookThumbView_ = std::make_shared<ui::ImageView>();
    bookThumbView_->setContentMode(ui::ContentMode::ScaleAspectFit);
    bookThumbView_->setUserInteractionEnabled(false);
    addSubview(bookThumbView_);
    filenameText_ = std::make_shared<LabelForBoolshelf>();
    filenameText_->setUserInteractionEnabled(false);
    addSubview(filenameText_);
    bookmarkImageView_ = std::make_shared<ui::ImageView>(ui::Image::named("btn_bookmark"));
    bookmarkImageView_->setUserInteractionEnabled(false);
    addSubview(bookmarkImageView_);
    // The edit mode's mark at the cover's top left corner, shown by the shelf.
    selectedImageView_ = std::make_shared<ui::ImageView>();
    selectedImageView_->setFrame({-5, -5, 32, 32});
    selectedImageView_->setUserInteractionEnabled(false);
    selectedImageView_->setAlpha(0);
    addSubview(selectedImageView_);
}

void BookshelfBookButton::setKeyHighlighted(bool on) {
    if (on == keyHighlighted_) return;
    keyHighlighted_ = on;
    setBackgroundColor(on ? ui::Color::systemGray4() : ui::Color::clear());
    setCornerRadius(on ? 6 : 0);
}

BookshelfBookButton::~BookshelfBookButton() {
    if (longPressTimer_) longPressTimer_->invalidate();
}

void BookshelfBookButton::touchesBegan(const ui::TouchSet& touches, const ui::Event& event) {
    if (!onPressOne_) {
        onPressOne_ = true;
        longPressed_ = false;
        tracking_ = false;
        setAlpha(0.7);
        if (!touches.empty()) pressPoint_ = touches.front()->locationInView(this);
        if (longPressTimer_) longPressTimer_->invalidate();
        std::weak_ptr<ui::View> weak = shared_from_this();
        longPressTimer_ = sys::RunLoop::main().schedule(kLongPressSeconds, [weak] {
            auto self = std::static_pointer_cast<BookshelfBookButton>(weak.lock());
            if (!self || !self->onPressOne_ || !self->delegate_) return;
            self->longPressTimer_.reset();
            self->longPressed_ = true;
            self->setAlpha(1.0);
            self->tracking_ = self->delegate_->onLongPress(self->indexNo_, self->pressPoint_, self.get());
        });
    }
    ui::ImageView::touchesBegan(touches, event);
}

void BookshelfBookButton::touchesMoved(const ui::TouchSet& touches, const ui::Event& event) {
    if (!touches.empty()) {
        const ui::Point p = touches.front()->locationInView(this);
        if (longPressed_) {
            if (tracking_ && delegate_) delegate_->touchesMoved(p, this);
        } else if (longPressTimer_ && (std::abs(p.x - pressPoint_.x) > 10 || std::abs(p.y - pressPoint_.y) > 10)) {
            // A finger that wanders before the hold is up is not a long press.
            longPressTimer_->invalidate();
            longPressTimer_.reset();
        }
    }
    ui::ImageView::touchesMoved(touches, event);
}

void BookshelfBookButton::touchesEnded(const ui::TouchSet& touches, const ui::Event& event) {
    auto self = shared_from_this();  // the list may reload under this call
    const bool pressed = onPressOne_;
    const bool held = longPressed_;
    const bool tracking = std::exchange(tracking_, false);
    onPressOne_ = false;
    longPressed_ = false;
    if (longPressTimer_) longPressTimer_->invalidate();
    longPressTimer_.reset();
    setAlpha(1.0);
    if (held) {
        if (tracking && delegate_) delegate_->touchMovingFinish(this);
    } else if (pressed && delegate_ && !touches.empty()) {
        delegate_->onSingleTouch(indexNo_, touches.front()->locationInView(this), this);
    }
    ui::ImageView::touchesEnded(touches, event);
}

void BookshelfBookButton::touchesCancelled(const ui::TouchSet& touches, const ui::Event& event) {
    const bool tracking = std::exchange(tracking_, false);
    onPressOne_ = false;
    longPressed_ = false;
    if (longPressTimer_) longPressTimer_->invalidate();
    longPressTimer_.reset();
    setAlpha(1.0);
    if (tracking && delegate_) delegate_->touchMovingFinish(this);
    ui::ImageView::touchesCancelled(touches, event);
}
