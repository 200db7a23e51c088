#pragma once

#include "platform/ui/ImageView.h"
#include "library/LabelForBoolshelf.h"
#include "platform/core/RunLoop.h"

#include <cstdint>
#include <memory>

class FilelistBaseViewController;

// One cover on a shelf: the entry's cover or folder picture with its name
// under it. A tap is reported to the list with the cover's index; a cover
// held still for kLongPressSeconds reports a long press, then, when the list
// takes it up, the finger's moves and its release (the list drags covers to
// reorder them).
class BookshelfBookButton : public ui::ImageView {
public:
    static constexpr double kLongPressSeconds = 1.0;

    BookshelfBookButton();
    ~BookshelfBookButton() override;

    ui::ImageView* bookThumbView() const { return bookThumbView_.get(); }
    LabelForBoolshelf* filenameText() const { return filenameText_.get(); }
    ui::ImageView* bookmarkImageView() const { return bookmarkImageView_.get(); }
    // The edit mode's selection mark (picked or not).
    ui::ImageView* selectedImageView() const { return selectedImageView_.get(); }
    int64_t indexNo() const { return indexNo_; }
    void setIndexNo(int64_t i) { indexNo_ = i; }
    void setDelegate(FilelistBaseViewController* d) { delegate_ = d; }
    // The keys' highlight: the cover on a table's selected look.
    bool isKeyHighlighted() const { return keyHighlighted_; }
    void setKeyHighlighted(bool on);

    void touchesBegan(const ui::TouchSet& touches, const ui::Event& event) override;
    void touchesMoved(const ui::TouchSet& touches, const ui::Event& event) override;
    void touchesEnded(const ui::TouchSet& touches, const ui::Event& event) override;
    void touchesCancelled(const ui::TouchSet& touches, const ui::Event& event) override;

private:
    std::shared_ptr<ui::ImageView> bookThumbView_;
    std::shared_ptr<LabelForBoolshelf> filenameText_;
    std::shared_ptr<ui::ImageView> bookmarkImageView_;
    std::shared_ptr<ui::ImageView> selectedImageView_;
    int64_t indexNo_ = 0;
    bool onPressOne_ = false;
    bool longPressed_ = false;
    // The list follows the finger after the long press.
    bool tracking_ = false;
    bool keyHighlighted_ = false;
    ui::Point pressPoint_;
    sys::RunLoop::TimerRef longPressTimer_;
    FilelistBaseViewController* delegate_ = nullptr;
};
