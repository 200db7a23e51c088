#include "library/BookshelfTopBottomAppendView.h"

#include "library/BookshelfShelfView.h"

#include <algorithm>

BookshelfTopBottomAppendView::BookshelfTopBottomAppendView(double cellHeight, int cellCount)
    : cellHeight_(cellHeight), cellCount_(std::max(0, cellCount)) {
    setUserInteractionEnabled(false);
    // Shows only where a shelf picture is missing.
    setBackgroundColor(ui::Color::rgb(1.0, 0.5, 0.0));
    for (int k = 0; k < cellCount_; ++k) {
        auto shelf = std::make_shared<BookshelfShelfView>();
        cellImages_.push_back(shelf);
        addSubview(shelf);
    }
}

void BookshelfTopBottomAppendView::updateBgImage(const ui::Rect& rect) {
    if (rect.width() == loadedImageWidth_) return;
    for (auto& image : cellImages_) image->setNeedsDisplay();
    loadedImageWidth_ = rect.width();
    ++imageLoadCount_;
}

void BookshelfTopBottomAppendView::layoutSubviews() {
    ui::View::layoutSubviews();
    const double width = bounds().width();
    for (size_t k = 0; k < cellImages_.size(); ++k)
        cellImages_[k]->setFrame({0, double(k) * cellHeight_, width, cellHeight_});
}
