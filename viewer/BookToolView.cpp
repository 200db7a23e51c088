#include "viewer/BookToolView.h"

#include "foundation/BookCommon.h"
#include "foundation/Settings.h"
#include "platform/core/UserDefaults.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr const char* kScrollLockKey = "bookToolViewScrollLock";
constexpr const char* kToolbarColorKey = "toolbarColor";
constexpr double kLongPress = 1.0;
constexpr double kBothButtons = 1.5;

}  // namespace

BookToolView::BookToolView() {
    screenWidth_ = BookCommon::getScreenWidth();
    setFrame(ui::Rect(0, 0, screenWidth_, kBarThickness));
    scrollLock_ = sys::UserDefaults::standard().boolForKey(kScrollLockKey);
    const bool pad = BookCommon::getDeviceDisplayType() != 0;
    numPageIconView_ = pad ? 15 : 7;
    scrollMargin_ = pad ? 310 : 100 * BookCommon::getRatioOf_iPhone5WithExclusionSize({0, 0});

    imageViewBg_ = std::make_shared<ui::ImageView>();
    imageViewBg_->setImage(getImageFileName("booktoolview_bg_bottom_f", 0)->stretchableImage(10, 0));
    addSubview(imageViewBg_);
    imageSeparator_ = std::make_shared<ui::ImageView>();
    addSubview(imageSeparator_);

    pageScrollView_ = std::make_shared<ui::ScrollView>();
    pageScrollView_->setBackgroundColor(ui::Color::clear());
    pageScrollView_->setShowsHorizontalScrollIndicator(false);
    pageScrollView_->setShowsVerticalScrollIndicator(false);
    pageScrollView_->setDecelerationRate(ui::ScrollMotion::kFastRate);
    pageScrollView_->setDelegate(this);
    addSubview(pageScrollView_);

    progress_ = std::make_shared<BookReadProgressView>();
    addSubview(progress_);

    for (int i = 0; i < kMaxCells; ++i) {
        auto cell = std::make_shared<ui::View>(ui::Rect(0, 0, kCellSize, kCellSize));
        cell->setBackgroundColor(ui::Color::clear());
        cell->setUserInteractionEnabled(false);
        auto label = std::make_shared<ui::Label>(ui::Rect(0, 0, kCellSize, kCellSize));
        label->setBackgroundColor(ui::Color::clear());
        label->setFont(gfx::Font::system(8));
        label->setTextAlignment(ui::TextAlignment::Center);
        cell->addSubview(label);
        cell->setHidden(true);
        pageScrollView_->addSubview(cell);
        pageIconView_[size_t(i)] = cell;
        pageIconLabel_[size_t(i)] = label;
    }
    buildButtons();
    setPageLabelTextColor();
}

BookToolView::~BookToolView() {
    pageScrollView_->setDelegate(nullptr);
    for (auto* t : {&timerLeftOrTop_, &timerRightOrBottom_, &timerBoth_})
        if (*t) (*t)->invalidate();
}

void BookToolView::buildButtons() {
    leftOrTopButton_ = std::make_shared<ui::Button>(ui::ButtonType::Custom);
    rightOrBottomButton_ = std::make_shared<ui::Button>(ui::ButtonType::Custom);
    for (bool first : {true, false}) {
        auto& b = first ? leftOrTopButton_ : rightOrBottomButton_;
        b->setFrame(ui::Rect(0, 0, kBarThickness, kBarThickness));
        b->addAction(ui::ControlEventTouchDown, [this, first](ui::Control&) { buttonDown(first); });
        b->addAction(ui::ControlEventTouchUpInside, [this, first](ui::Control&) { buttonUpInside(first); });
        b->addAction(ui::ControlEventTouchUpOutside | ui::ControlEventTouchCancel,
                     [this, first](ui::Control&) { buttonUpOutside(first); });
        addSubview(b);
    }
}

// ---- Pages --------------------------------------------------------------------

void BookToolView::setPage(int64_t, int64_t numPages) {
    if (numPages < 0) return;
    numPages_ = numPages;
    const double length = 2 * scrollMargin_ + 5 + kCellStep * double(numPages_);
    pageScrollView_->setContentSize(isLandscape_ ? ui::Size{kBarThickness, length}
                                                 : ui::Size{length, kBarThickness});
    updateCells();
}

bool BookToolView::isPageToLeft() const { return settings_ && settings_->pageDirection_Local() == 0; }

int64_t BookToolView::pageNoConvertForPageToLeft(int64_t page) const {
    if (isLandscape_ || !isPageToLeft()) return page;
    return numPages_ - 1 - page;
}

double BookToolView::visibleLength() const {
    const ui::Rect b = pageScrollView_->bounds();
    return isLandscape_ ? b.height() : b.width();
}

int64_t BookToolView::getPageFromScroll() const {
    const double offset = along(pageScrollView_->contentOffset());
    const double p = std::trunc((offset + visibleLength() / 2 - scrollMargin_ - 2.5) / kCellStep);
    const int64_t last = std::max<int64_t>(0, numPages_ - 1);
    if (!std::isfinite(p)) return 0;
    return std::clamp<int64_t>(int64_t(p), 0, last);
}

void BookToolView::setRibbonOffset(double offset, bool animated) {
    ui::Point p = isLandscape_ ? ui::Point{0, offset} : ui::Point{offset, 0};
    pageScrollView_->setContentOffset(p, animated);
}

void BookToolView::onMovePage(int64_t page, bool animate) {
    const int64_t last = std::max<int64_t>(0, numPages_ - 1);
    nowPage_ = std::clamp<int64_t>(page, 0, last);
    if (animate) {
        isScrollByButton_ = true;
        invalidEndAnimationNext_ = true;
    }
    setRoundPos(pageNoConvertForPageToLeft(nowPage_), animate);
    if (!animate) updateCells();
}

void BookToolView::setRoundPos(int64_t position, bool animate) {
    const double target = scrollMargin_ + 5 + kCellStep * double(position) - visibleLength() / 2 + 20;
    if (std::fabs(along(pageScrollView_->contentOffset()) - target) < 0.1) {
        if (invalidEndAnimationNext_) {
            invalidEndAnimationNext_ = false;
            isScrollByButton_ = false;
        } else if (animate) {
            reportSettled();
        }
        return;
    }
    if (animate) isScrollByButton_ = true;
    setRibbonOffset(target, animate);
}

void BookToolView::reportSettled() {
    // The ribbon rests on this page now; a later layout keeps it there.
    nowPage_ = pageNoConvertForPageToLeft(getPageFromScroll());
    if (!delegate_) return;
    delegate_->bookToolViewMovePage(nowPage_);
    if (delegate_) delegate_->bookToolViewPagePreviewEnd();
}

void BookToolView::updateCells() {
    const int64_t p = getPageFromScroll();
    const int c = (numPageIconView_ - 1) / 2;
    const bool rightBoundPortrait = !isLandscape_ && isPageToLeft();
    const double across = isLandscape_ && style_ == 1 ? 10 : 0;
    for (int i = 0; i < kMaxCells; ++i) {
        auto& cell = pageIconView_[size_t(i)];
        auto& label = pageIconLabel_[size_t(i)];
        const int64_t q = p - c + i;
        if (i >= numPageIconView_ || q < 0 || q >= numPages_) {
            cell->setHidden(true);
            continue;
        }
        const double at = scrollMargin_ + kCellStep * double(q) + 5;
        cell->setFrame(isLandscape_ ? ui::Rect(across, at, kCellSize, kCellSize)
                                    : ui::Rect(at, across, kCellSize, kCellSize));
        const int64_t shown = rightBoundPortrait ? numPages_ - q : q + 1;
        label->setText(std::to_string(shown));
        cell->setHidden(false);
        if (i == c) {
            label->setFont(gfx::Font::system(12));
            progress_->setProgress(numPages_ > 1 ? double(shown - 1) / double(numPages_ - 1) : 1.0);
        } else {
            label->setFont(gfx::Font::system(8));
        }
    }
}

void BookToolView::scrollViewDidScroll(ui::ScrollView& sv) {
    updateCells();
    // Only the user's own moves of the ribbon preview pages.
    const bool byUser = sv.isTracking() || sv.isDragging() || sv.isDecelerating();
    if (isScrollByButton_ || !byUser) return;
    const int64_t p = getPageFromScroll();
    if (p == prevPreviewPage_) return;
    if (invalidNext_ || invalidEndAnimationNext_ || isNowSetPositon) {
        invalidNext_ = false;
        prevPreviewPage_ = p;
        return;
    }
    if (delegate_) delegate_->bookToolViewPagePreview(pageNoConvertForPageToLeft(p));
    invalidNext_ = false;
    prevPreviewPage_ = p;
}

void BookToolView::scrollViewDidEndDragging(ui::ScrollView&, bool willDecelerate) {
    if (!willDecelerate) setRoundPos(getPageFromScroll(), true);
}

void BookToolView::scrollViewDidEndDecelerating(ui::ScrollView&) { setRoundPos(getPageFromScroll(), true); }

void BookToolView::scrollViewDidEndScrollingAnimation(ui::ScrollView&) {
    isScrollByButton_ = false;
    if (invalidEndAnimationNext_) {
        invalidEndAnimationNext_ = false;
        return;
    }
    reportSettled();
}

// ---- Layout ---------------------------------------------------------------------

void BookToolView::setPosition(const ui::Rect& frame, const ui::EdgeInsets& safeArea, int style, bool isLandscape) {
    isNowSetPositon = true;
    style_ = style;
    isLandscape_ = isLandscape;
    safeArea_ = safeArea;
    toolbarColor_ = sys::UserDefaults::standard().integerForKey(kToolbarColorKey);
    progress_->setToolbarColor_(toolbarColor_);
    setPageLabelTextColor();
    setBackgroundColor(toolbarColor_ == 0 ? ui::Color::rgb(0.173, 0.169, 0.169) : ui::Color::rgb(0.957, 0.961, 0.973));

    progress_->setTransform(ui::AffineTransform::identity());
    if (!isLandscape) {
        const double w = frame.width();
        ui::View::setFrame(ui::Rect(frame.x(), frame.maxY(), screenWidth_, kBarThickness + safeArea.bottom));
        imageViewBg_->setImage(getImageFileName("booktoolview_bg_bottom_f", toolbarColor_)->stretchableImage(10, 0));
        imageViewBg_->setFrame(bounds());
        imageSeparator_->setImage(getImageFileName("booktoolview_bg_sep_f", toolbarColor_));
        imageSeparator_->setFrame(ui::Rect(0, 0, bounds().width(), 1));
        leftOrTopButton_->setFrame(ui::Rect(0, 0, kBarThickness, kBarThickness));
        rightOrBottomButton_->setFrame(ui::Rect(w - kBarThickness, 0, kBarThickness, kBarThickness));
        pageScrollView_->setFrame(ui::Rect(kBarThickness, 0, std::max(0.0, w - 2 * kBarThickness), kBarThickness));
        progress_->setFrame(ui::Rect(60, 40, std::max(0.0, w - 120), 5));
        progress_->setPageToLeft(isPageToLeft());
    } else {
        // A strip beside the page area: left of it for style 1, right of it
        // otherwise, reaching to the screen's edge past the safe inset.
        const double inset = style == 1 ? safeArea.left : safeArea.right;
        const double width = kBarThickness + inset;
        const double x = style == 1 ? 0 : frame.maxX();
        const double h = frame.height();
        ui::View::setFrame(ui::Rect(x, frame.y(), width, h));
        const double ox = style == 1 ? safeArea.left : 0;
        imageViewBg_->setImage(getImageFileName("booktoolview_bg_f", toolbarColor_)->stretchableImage(0, 10));
        imageViewBg_->setFrame(bounds());
        imageSeparator_->setImage(getImageFileName("booktoolview_bg_sep_lan_f", toolbarColor_));
        imageSeparator_->setFrame(style == 1 ? ui::Rect(width - 1, 0, 1, h) : ui::Rect(0, 0, 1, h));
        leftOrTopButton_->setFrame(ui::Rect(ox, 0, kBarThickness, kBarThickness));
        rightOrBottomButton_->setFrame(ui::Rect(ox, h - kBarThickness, kBarThickness, kBarThickness));
        pageScrollView_->setFrame(ui::Rect(ox, kBarThickness, kBarThickness, std::max(0.0, h - 2 * kBarThickness)));
        const double len = std::max(0.0, h - 120);
        const double px = style == 1 ? ox + 5 : 40;
        progress_->setPageToLeft(false);
        progress_->setBounds(ui::Rect(0, 0, len, 5));
        progress_->setTransform(ui::AffineTransform::makeRotation(std::numbers::pi / 2));
        progress_->setCenter({px + 2.5, 60 + len / 2});
    }
    setButtonImages();
    setPage(nowPage_, numPages_);
    onMovePage(nowPage_, false);
    isNowSetPositon = false;
}

void BookToolView::setButtonImages() {
    std::string first, second, firstDown, secondDown;
    if (!isLandscape_) {
        first = "booktoolview_leftbtn_bottom_f";
        second = "booktoolview_rightbtn_bottom_f";
        firstDown = "booktoolview_leftbtn_down_f";
        secondDown = "booktoolview_rightbtn_down_f";
    } else {
        first = "booktoolview_leftbtn_f";
        second = "booktoolview_rightbtn_f";
        firstDown = first;
        secondDown = second;
        if (isPageToLeft()) {
            std::swap(first, second);
            std::swap(firstDown, secondDown);
        }
    }
    leftOrTopButton_->setImage(getImageFileName(first, toolbarColor_));
    leftOrTopButton_->setImage(getImageFileName(firstDown, toolbarColor_), ui::ControlStateHighlighted);
    rightOrBottomButton_->setImage(getImageFileName(second, toolbarColor_));
    rightOrBottomButton_->setImage(getImageFileName(secondDown, toolbarColor_), ui::ControlStateHighlighted);
}

void BookToolView::setPageLabelTextColor() {
    ui::Color c;
    if (!scrollLock_)
        c = toolbarColor_ == 0 ? ui::Color::whiteColor() : ui::Color::rgb255(110, 122, 145);
    else
        c = toolbarColor_ == 0 ? ui::Color::white(201 / 255.0) : ui::Color::rgb255(155, 163, 180);
    for (auto& l : pageIconLabel_) l->setTextColor(c);
    pageScrollView_->setUserInteractionEnabled(!scrollLock_);
}

void BookToolView::setHidden(bool hidden) {
    ui::View::animate(0.3, [this, hidden] { setAlpha(hidden ? 0 : 1); });
}

std::string BookToolView::imageFileName(const std::string& name, int64_t toolbarColor) {
    if (toolbarColor == 0) return name;
    const size_t slash = name.rfind('/');
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
        return name.substr(0, dot) + "_w" + name.substr(dot);
    return name + "_w";
}

ui::ImageRef BookToolView::getImageFileName(const std::string& name, int64_t toolbarColor) {
    return ui::Image::named(imageFileName(name, toolbarColor));
}

// ---- Buttons ----------------------------------------------------------------------

void BookToolView::pageOnce(bool first) {
    if (!delegate_) return;
    bool next;
    if (isLandscape_)
        next = first;
    else
        next = first == isPageToLeft();
    if (next)
        delegate_->onBookToolViewGoNext();
    else
        delegate_->onBookToolViewGoPrev();
}

void BookToolView::stopTimer(bool first) {
    auto& t = first ? timerLeftOrTop_ : timerRightOrBottom_;
    if (t) t->invalidate();
    t.reset();
}

void BookToolView::buttonDown(bool first) {
    (first ? isLeftOrTopButtonDown_ : isRightOrBottomButtonDown_) = true;
    auto& other = first ? timerRightOrBottom_ : timerLeftOrTop_;
    if (other && other->isValid()) {
        stopTimer(!first);
        bothBtnPress_ = true;
        invalidNextLeftOrTopBtnUp_ = true;
        invalidNextRightOrBottomBtnUp_ = true;
        if (timerBoth_) timerBoth_->invalidate();
        std::weak_ptr<ui::View> weak = weak_from_this();
        timerBoth_ = sys::RunLoop::main().schedule(kBothButtons, [this] { bothButtonsCheck(); }, 0, weak);
        return;
    }
    stopTimer(first);
    std::weak_ptr<ui::View> weak = weak_from_this();
    (first ? timerLeftOrTop_ : timerRightOrBottom_) =
        sys::RunLoop::main().schedule(kLongPress, [this, first] { longPressFired(first); }, 0, weak);
}

void BookToolView::longPressFired(bool first) {
    (first ? timerLeftOrTop_ : timerRightOrBottom_).reset();
    (first ? leftOrTopLongPress_ : rightOrBottomLongPress_) = true;
    pageOnce(first);
}

void BookToolView::bothButtonsCheck() {
    timerBoth_.reset();
    if (!bothBtnPress_) return;
    bothBtnPress_ = false;
    scrollLock_ = !scrollLock_;
    setPageLabelTextColor();
    if (delegate_) delegate_->bookToolViewScrollLock(scrollLock_);
    auto& defaults = sys::UserDefaults::standard();
    defaults.setBool(scrollLock_, kScrollLockKey);
    defaults.synchronize();
}

void BookToolView::buttonUpInside(bool first) {
    (first ? isLeftOrTopButtonDown_ : isRightOrBottomButtonDown_) = false;
    bothBtnPress_ = false;
    stopTimer(first);
    bool& longPress = first ? leftOrTopLongPress_ : rightOrBottomLongPress_;
    bool& ignore = first ? invalidNextLeftOrTopBtnUp_ : invalidNextRightOrBottomBtnUp_;
    if (longPress) {
        longPress = false;
        return;
    }
    if (ignore) {
        ignore = false;
        return;
    }
    pageOnce(first);
}

void BookToolView::buttonUpOutside(bool first) {
    (first ? isLeftOrTopButtonDown_ : isRightOrBottomButtonDown_) = false;
    stopTimer(first);
    (first ? leftOrTopLongPress_ : rightOrBottomLongPress_) = false;
}
