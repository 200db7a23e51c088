#pragma once

#include "platform/core/RunLoop.h"
#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/View.h"
#include "viewer/BookReadProgressView.h"
#include "viewer/BookToolViewDelegate.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>

class Settings;

// The page seek bar: a 50-point strip with a step button at each end and,
// between them, a ribbon of page numbers that the user drags to pick a
// page, over a thin reading-progress line. It lies along the bottom in
// portrait and along a side in landscape, and follows the binding: in
// portrait a right-bound book has page 1 at the right-hand end.
//
// Ribbon positions run from the start of the ribbon; pages are the book's.
// For a right-bound book in portrait position q shows page numPages-1-q.
class BookToolView : public ui::View, public ui::ScrollViewDelegate {
public:
    static constexpr double kBarThickness = 50;
    static constexpr double kCellStep = 45;
    static constexpr double kCellSize = 40;
    static constexpr int kMaxCells = 15;

    BookToolView();
    ~BookToolView() override;

    void setSettings(std::shared_ptr<Settings> settings) { settings_ = std::move(settings); }
    void setDelegate(BookToolViewDelegate* delegate) { delegate_ = delegate; }
    BookToolViewDelegate* delegate() const { return delegate_; }

    // Stores the page count when it is not negative (the page is not used).
    void setPage(int64_t page, int64_t numPages);
    int64_t numPages() const { return numPages_; }
    int64_t nowPage() const { return nowPage_; }
    // Moves the ribbon to the page; an animated move is not reported back.
    void onMovePage(int64_t page, bool animate);
    // Lays the bar out beside the page area `frame`.
    void setPosition(const ui::Rect& frame, const ui::EdgeInsets& safeArea, int style, bool isLandscape);
    // Fades the bar out or in over 0.3 s (it stays in the tree).
    void setHidden(bool hidden);

    bool isLongPressContinue() const { return leftOrTopLongPress_ || rightOrBottomLongPress_; }
    bool isPageToLeft() const;
    int64_t pageNoConvertForPageToLeft(int64_t page) const;
    // The image `name`, or its "_w" form (before any extension) on a light bar.
    static ui::ImageRef getImageFileName(const std::string& name, int64_t toolbarColor);
    static std::string imageFileName(const std::string& name, int64_t toolbarColor);

    bool isLeftOrTopButtonDown() const { return isLeftOrTopButtonDown_; }
    bool isRightOrBottomButtonDown() const { return isRightOrBottomButtonDown_; }
    bool isScrollLocked() const { return scrollLock_; }
    bool isLandscape() const { return isLandscape_; }
    int style() const { return style_; }
    double scrollMargin() const { return scrollMargin_; }
    int numPageIconView() const { return numPageIconView_; }

    // The parts, for layout by the screen and for tests.
    ui::Button& leftOrTopButton() const { return *leftOrTopButton_; }
    ui::Button& rightOrBottomButton() const { return *rightOrBottomButton_; }
    ui::ScrollView& pageScrollView() const { return *pageScrollView_; }
    BookReadProgressView& progressView() const { return *progress_; }
    ui::View& pageIconView(int i) const { return *pageIconView_.at(size_t(i)); }
    ui::Label& pageIconLabel(int i) const { return *pageIconLabel_.at(size_t(i)); }
    // The ribbon position under the middle of the ribbon.
    int64_t getPageFromScroll() const;

    // ScrollViewDelegate (the ribbon).
    void scrollViewDidScroll(ui::ScrollView&) override;
    void scrollViewDidEndDragging(ui::ScrollView&, bool willDecelerate) override;
    void scrollViewDidEndDecelerating(ui::ScrollView&) override;
    void scrollViewDidEndScrollingAnimation(ui::ScrollView&) override;

private:
    void buildButtons();
    void setRoundPos(int64_t position, bool animate);
    double along(ui::Point p) const { return isLandscape_ ? p.y : p.x; }
    double visibleLength() const;
    void setRibbonOffset(double offset, bool animated);
    void updateCells();
    void setPageLabelTextColor();
    void setButtonImages();
    void reportSettled();

    // Buttons: `first` is the left (portrait) or top (landscape) one.
    void buttonDown(bool first);
    void buttonUpInside(bool first);
    void buttonUpOutside(bool first);
    void longPressFired(bool first);
    void bothButtonsCheck();
    void pageOnce(bool first);
    void stopTimer(bool first);

    bool isLandscape_ = false;
    bool isNowSetPositon = false;
    std::shared_ptr<ui::Button> leftOrTopButton_;
    std::shared_ptr<ui::Button> rightOrBottomButton_;
    std::shared_ptr<ui::ScrollView> pageScrollView_;
    std::shared_ptr<ui::ImageView> imageViewBg_;
    std::shared_ptr<ui::ImageView> imageSeparator_;
    bool leftOrTopLongPress_ = false;
    bool rightOrBottomLongPress_ = false;
    bool bothBtnPress_ = false;
    std::shared_ptr<Settings> settings_;
    BookToolViewDelegate* delegate_ = nullptr;
    sys::RunLoop::TimerRef timerLeftOrTop_;
    sys::RunLoop::TimerRef timerRightOrBottom_;
    sys::RunLoop::TimerRef timerBoth_;
    bool invalidNextLeftOrTopBtnUp_ = false;
    bool invalidNextRightOrBottomBtnUp_ = false;
    int64_t prevPreviewPage_ = -1;
    int64_t numPages_ = 100;
    int64_t nowPage_ = 0;
    std::array<std::shared_ptr<ui::View>, kMaxCells> pageIconView_;
    std::array<std::shared_ptr<ui::Label>, kMaxCells> pageIconLabel_;
    bool invalidNext_ = false;
    bool invalidEndAnimationNext_ = false;
    std::shared_ptr<BookReadProgressView> progress_;
    int style_ = 0;
    int numPageIconView_ = 7;
    double scrollMargin_ = 100;
    double screenWidth_ = 0;
    bool scrollLock_ = false;
    int64_t toolbarColor_ = 0;
    bool isScrollByButton_ = false;
    bool isLeftOrTopButtonDown_ = false;
    bool isRightOrBottomButtonDown_ = false;
    ui::EdgeInsets safeArea_;
};
