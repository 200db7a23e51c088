// The reading screen's layout and zoom: the page area, zoom modes and
// scales, scrolling, and the scroll view's delegate.

#include "viewer/BookViewController.h"

#include "engine/BookReaderEx.h"
#include "engine/ImageCommon.h"
#include "foundation/AppDelegateServices.h"
#include "foundation/BookCommon.h"
#include "foundation/StatisticsStore.h"
#include "foundation/VolumeButtonCheck.h"
#include "foundation/ui/QNActionSheet.h"
#include "foundation/ui/QNAlertView.h"
#include "platform/core/Clock.h"
#include "platform/core/FileManager.h"
#include "platform/core/Path.h"
#include "platform/core/PropertyList.h"
#include "platform/ui/Application.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/NavigationItem.h"
#include "platform/ui/PhotoAlbum.h"
#include "platform/ui/TransitionCoordinator.h"
#include "platform/ui/Window.h"
#include "viewer/BookViewControllerInternal.h"
#include "viewer/PageReload.h"
#include "viewer/StreamStatusOverlay.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

using namespace bookviewer;

// ---- Geometry -------------------------------------------------------------------------

ui::Rect BookViewController::getBookviewAreaRect(bool statusBarHidden, int style) {
    ui::Rect r = BookCommon::getScreenRectNew();
    double x = r.x(), y = r.y(), w = r.width(), h = r.height();
    const double bar = statusBarHidden ? 0 : BookCommon::getStatusbarHeightNew();
    const ui::EdgeInsets safe = BookCommon::getSafeAreaNew();
    if (w > h) {
        // A phone never gives up the status bar's height in landscape.
        if (isPad() && !statusBarHidden) {
            y += bar;
            h -= bar;
        }
        if (style == kToolViewBottomLeft) {
            x += safe.left + kBand;
            w -= safe.left + kBand;
        } else if (style == kToolViewBottomRight) {
            w -= safe.right + kBand;
        }
    } else {
        if (!BookCommon::isDeviceType_Notch() && !statusBarHidden) {
            y += bar;
            h -= bar;
        }
        if (style == kToolViewBottomLeft || style == kToolViewBottomRight || style == kToolViewBottom)
            h -= safe.bottom + kBand;
    }
    return ui::Rect(x, y, std::max(0.0, w), std::max(0.0, h));
}

ui::Rect BookViewController::getScreenRect() const { return getBookviewAreaRect(isHideStatusBar_, bookToolViewStyle_); }

ui::Rect BookViewController::getScreenRectWithoutBookToolView() const {
    return getBookviewAreaRect(isHideStatusBar_, kToolViewNone);
}

double BookViewController::getStatusbarHeightForFlag() const {
    if (BookCommon::isDeviceType_Notch() || !isStatusBarHeight_) return 0;
    return statusbarHeight_;
}

// ---- Zoom ---------------------------------------------------------------------------------

std::vector<std::string> BookViewController::createArrayZoomModeStringList() {
    return {tr("Custom Zoom"), tr("Maximum Zoom"), tr("Fit to Width"), tr("Fit to Height"), tr("Fit to Image")};
}

double BookViewController::calcMinZoomWithScreenRectNoLimit(const ui::Rect& rect, ui::Size size) {
    if (!(size.width > 0) || !(size.height > 0)) return 1.0;
    return float(std::min(rect.width() / size.width, rect.height() / size.height));
}

double BookViewController::calcMinZoomWithScreenRect(const ui::Rect& rect, ui::Size size) {
    return calcMinZoomWithScreenRectNoLimit(rect, size);
}

double BookViewController::calcMaxZoomWithScreenRect(const ui::Rect& rect, ui::Size size) {
    return std::max(calcMinZoomWithScreenRect(rect, size), 3.0);
}

double BookViewController::calcSizeZoomFitToWidth(ui::Size image) const {
    if (!(image.width > 0)) return 1.0;
    return float(getScreenRect().width() / image.width);
}

double BookViewController::calcSizeZoomFitToHeight(ui::Size image) const {
    if (!(image.height > 0)) return 1.0;
    return float(getScreenRect().height() / image.height);
}

double BookViewController::calcSizeZoomFitToImage(ui::Size image) const {
    return std::min(calcSizeZoomFitToWidth(image), calcSizeZoomFitToHeight(image));
}

double BookViewController::calcMinZoom(ui::Size image) const { return calcMinZoomWithScreenRect(getScreenRect(), image); }

double BookViewController::calcMaxZoom(ui::Size image) const { return calcMaxZoomWithScreenRect(getScreenRect(), image); }

double BookViewController::getZoomScaleTo(int mode) const {
    const ui::Size size = displayBookPage_ ? displayBookPage_->originalSize : ui::Size{};
    switch (mode) {
    case kZoomCustom: return zoomScaleUser_;
    case kZoomMaximum: return 1.0;
    case kZoomFitWidth: return calcSizeZoomFitToWidth(size);
    case kZoomFitHeight: return calcSizeZoomFitToHeight(size);
    case kZoomFitImage: return calcSizeZoomFitToImage(size);
    default: return 1.0;
    }
}

int BookViewController::getNextMode(int mode) const {
    if (!settings_) return 0;
    const auto list = settings_->getZoomModeOrderList();
    // Only the enabled head of the order list takes part in the cycle.
    const int n = std::clamp(settings_->getZoomModeEnableNum(), 0, int(list.size()));
    if (n == 0) return 0;
    if (n == 1) return list[0];
    int found = -1;
    for (int i = 0; i < n; ++i)
        if (list[size_t(i)] == mode) found = i;
    if (found < 0 || found == n - 1) return list[0];
    return list[size_t(found + 1)];
}

void BookViewController::changeZoomMode() {
    if (!scrollView_) return;
    const double cur = scrollView_->zoomScale();
    const double old = getZoomScaleTo(zoomMode_);
    int next = getNextMode(zoomMode_);
    double scale = getZoomScaleTo(next);
    if (next != kZoomCustom && std::fabs(old - cur) >= kZoomTolerance) zoomScaleUser_ = float(cur);
    // The custom zoom is skipped when it would not change what is shown.
    if (next == kZoomCustom && std::fabs(scale - cur) < kZoomTolerance) {
        next = getNextMode(kZoomCustom);
        scale = getZoomScaleTo(next);
    }
    setZoomTo(next, scale);
}

void BookViewController::setZoomTo(int mode, double scale) {
    zoomMode_ = mode;
    if (scrollView_) {
        setDisableDisplayView();
        scrollView_->setZoomScale(scale, true);
    }
    if (settings_ && settings_->isDisplayZoomMode()) {
        const auto titles = createArrayZoomModeStringList();
        displayMessage(mode >= 0 && mode < int(titles.size()) ? titles[size_t(mode)] : std::string(), false);
    }
}

void BookViewController::toggleZoom(double factor) {
    if (!scrollView_ || !(factor > 0)) return;
    toglleZoomNowZoom_ = !toglleZoomNowZoom_;
    const double cur = scrollView_->zoomScale();
    const double max = scrollView_->maximumZoomScale();
    setDisableDisplayView();
    if (std::fabs(cur - max) < kZoomTolerance) {
        const bool justSet = toglleZoomNowZoom_;
        toglleZoomNowZoom_ = false;
        scrollView_->setZoomScale(justSet ? cur / factor : beforeZoomToggleScale_, true);
        return;
    }
    if (toglleZoomNowZoom_) {
        beforeZoomToggleScale_ = cur;
        scrollView_->setZoomScale(std::min(cur * factor, max), true);
    } else {
        scrollView_->setZoomScale(beforeZoomToggleScale_, true);
    }
}

void BookViewController::contentSizeSetWithImageSize(ui::Size size, ui::ScrollView& sv) const {
    sv.setContentSize({std::max(size.width, getScreenRect().width()), size.height});
}

void BookViewController::applyBounceRules(ui::ScrollView& sv) const {
    if (!settings_) return;
    const bool swipe = settings_->isSwipeToPage();
    const bool vertical = settings_->isPageVerticalScroll_Local();
    sv.setBounces(swipe || !settings_->isDisableBounce());
    sv.setAlwaysBounceHorizontal(swipe && !vertical);
    sv.setAlwaysBounceVertical(swipe && vertical);
}

std::shared_ptr<BookViewScreen> BookViewController::makeScreen(const ui::Rect& frame, ui::Size originalSize) {
    auto sv = std::make_shared<BookViewScreen>(frame);
    sv->setUserInteractionEnabled(true);
    sv->setAutoresizingMask(ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleHeight);
    sv->setPagingEnabled(false);
    sv->setShowsHorizontalScrollIndicator(true);
    sv->setShowsVerticalScrollIndicator(true);
    sv->setDelegate(this);
    sv->setMinimumZoomScale(calcMinZoom(originalSize));
    sv->setMaximumZoomScale(calcMaxZoom(originalSize));
    return sv;
}

// ---- Scrolling ----------------------------------------------------------------------------------

void BookViewController::scrollPageTo(ui::ScrollView& sv, bool left, bool right, bool top, bool bottom, bool animated) {
    ui::Point p = sv.contentOffset();
    const ui::Size cs = sv.contentSize();
    const ui::Size fs = sv.frame().size;
    if (left)
        p.x = 0;
    else if (right)
        p.x = cs.width - fs.width;
    if (top)
        p.y = 0;
    else if (bottom)
        p.y = cs.height - fs.height;
    sv.setContentOffset(p, animated);
}

void BookViewController::scrollScreenVertical(ui::ScrollView& sv, bool down) {
    ui::Point p = sv.contentOffset();
    const double h = sv.frame().height();
    const double maxY = std::max(0.0, sv.contentSize().height - h);
    p.y = std::clamp(p.y + (down ? h / 2 : -h / 2), 0.0, maxY);
    sv.setContentOffset(p, true);
}

bool BookViewController::scrollScreenHorizontal(ui::ScrollView& sv, bool right) {
    ui::Point p = sv.contentOffset();
    const double w = sv.frame().width();
    const double maxX = std::max(0.0, sv.contentSize().width - w);
    const double x = std::clamp(p.x + (right ? w / 2 : -w / 2), 0.0, maxX);
    if (std::fabs(x - p.x) < 1) return false;
    p.x = x;
    sv.setContentOffset(p, true);
    return true;
}

void BookViewController::scrollToPageStartWithMoveDirection(bool forward) {
    if (!scrollView_ || !settings_) return;
    if ((settings_->pageDirection_Local() != 0) == forward) return;
    scrollPageTo(*scrollView_, false, true, true, false, false);
}

// ---- Scroll view -----------------------------------------------------------------------------------

ui::View* BookViewController::viewForZoomingInScrollView(ui::ScrollView& sv) {
    for (auto& v : sv.subviews())
        if (dynamic_cast<ui::ImageView*>(v.get())) return v.get();
    return nullptr;
}

void BookViewController::setDisableDisplayView() {
    if (!imageViewDisplay_ || !imageView_) return;
    if (imageViewDisplay_->image()) imageView_->setImage(imageViewDisplay_->image());
    imageView_->setHidden(false);
    imageViewDisplay_->removeFromSuperview();
    imageViewDisplay_.reset();
}

void BookViewController::scrollViewWillBeginZooming(ui::ScrollView& sv, ui::View*) {
    if (&sv != scrollView_.get()) return;
    // A reload for the zoom before (a wheel notch after a pause) would put
    // that zoom back under this one: it is dropped, and this zoom's end
    // reloads.
    cancelReloads(false);
    setDisableDisplayView();
}

void BookViewController::scrollViewDidEndZooming(ui::ScrollView& sv, ui::View*, double scale) {
    if (&sv != scrollView_.get()) return;
    userUseScale_ = scale;
    reloadPage(false);
    ++disableScrollMove_;
    after(0.5, [this] { timerDisableScrollMove(); });
}

void BookViewController::timerDisableScrollMove() {
    if (disableScrollMove_ > 0) --disableScrollMove_;
}

void BookViewController::scrollViewDidScroll(ui::ScrollView& sv) {
    if (&sv != scrollView_.get() || !settings_) return;
    const bool noBounce = settings_->isDisableBounce();
    if (!(noBounce || (settings_->isEnableSnap() && !disableSnapWhenpageMove_))) return;
    const ui::Point o = sv.contentOffset();
    const ui::Size cs = sv.contentSize();
    const ui::Size fs = sv.bounds().size;
    auto place = [&](double x, std::optional<double> y) {
        for (ui::View* v : {static_cast<ui::View*>(imageView_.get()), static_cast<ui::View*>(imageViewDisplay_.get())}) {
            if (!v) continue;
            ui::Rect f = v->frame();
            f.origin.x = x;
            if (y) f.origin.y = *y;
            v->setFrame(f);
        }
    };
    const double maxX = std::max(0.0, cs.width - fs.width);
    double x = offsetImageViewSet_.x;
    if (o.x < 0 && (o.x > -25 || noBounce))
        x = o.x + offsetImageViewSet_.x;
    else if (const double d = maxX - o.x; d < 0 && (d > -25 || noBounce))
        x = offsetImageViewSet_.x - d;
    std::optional<double> y;
    if (noBounce) {
        const double maxY = std::max(0.0, cs.height - fs.height);
        y = offsetImageViewSet_.y;
        if (o.y < 0)
            y = o.y + offsetImageViewSet_.y;
        else if (const double d = maxY - o.y; d < 0)
            y = offsetImageViewSet_.y - d;
    }
    place(x, y);
}

void BookViewController::scrollViewWillBeginDecelerating(ui::ScrollView& sv) {
    if (&sv != scrollView_.get() || !settings_) return;
    if (isInvalidTap() || disableScrollMove_ > 0 || isNowReloading_ || !settings_->isSwipeToPage()) return;
    const double threshold = settings_->isDisableBounce() ? -50 : -25;
    const ui::Point o = sv.contentOffset();
    const ui::Size cs = sv.contentSize();
    const ui::Size fs = sv.bounds().size;
    int op = -1;
    if (settings_->isPageVerticalScroll_Local()) {
        const double maxY = std::max(0.0, cs.height - fs.height);
        if (o.y < threshold)
            op = 1;
        else if (maxY - o.y < threshold)
            op = 0;
    } else {
        const double maxX = std::max(0.0, cs.width - fs.width);
        const bool pastLeft = o.x < threshold;
        const bool pastRight = maxX - o.x < threshold;
        const bool nextIsLeft = settings_->pageDirection_Local() == 0;
        if (pastLeft)
            op = nextIsLeft ? 0 : 1;
        else if (pastRight)
            op = nextIsLeft ? 1 : 0;
    }
    if (op < 0) return;
    // The pulled page's own views: a page the session already holds is on
    // the screen by the time the move returns, in views of a new screen
    // that must keep their place.
    const auto pulledImage = imageView_;
    const auto pulledDisplay = imageViewDisplay_;
    const bool wasByScroll = isPageMoveByScroll_;
    const bool wasSnapOff = disableSnapWhenpageMove_;
    isPageMoveByScroll_ = true;
    disableSnapWhenpageMove_ = true;
    if (!movePage(op)) {
        isPageMoveByScroll_ = wasByScroll;
        disableSnapWhenpageMove_ = wasSnapOff;
        return;
    }
    sv.setBounces(false);
    sv.stopMotion();
    // The pulled page keeps its place on screen while the offset goes back in range.
    for (ui::View* v : {static_cast<ui::View*>(pulledImage.get()), static_cast<ui::View*>(pulledDisplay.get())}) {
        if (!v) continue;
        ui::Rect f = v->frame();
        f.origin.x -= o.x;
        f.origin.y -= o.y;
        v->setFrame(f);
    }
    if (&sv == scrollView_.get() && pulledImage) offsetImageViewSet_ = pulledImage->frame().origin;
    sv.scrollRectToVisible(ui::Rect(0, 0, fs.width, fs.height), false);
}

bool BookViewController::scrollViewWheelPastEdge(ui::ScrollView& sv, double dx, double dy) {
    if (&sv != scrollView_.get() || !settings_ || goingCloseBook_) return false;
    const bool vertical = std::fabs(dy) >= std::fabs(dx);
    const double d = vertical ? dy : dx;
    if (d == 0) return false;
    // Movement in one direction adds up (a touchpad gives many small steps);
    // a pause or a change of direction starts again.
    const double now = sys::Clock::now();
    if (now - wheelPastEdgeTime_ > 0.5 || (wheelPastEdge_ > 0) != (d > 0)) wheelPastEdge_ = 0;
    wheelPastEdgeTime_ = now;
    wheelPastEdge_ += d;
    if (std::fabs(wheelPastEdge_) < kWheelTurnDistance) return true;
    wheelPastEdge_ = 0;
    // A page still on its way takes no further turn from the wheel.
    if (isSubFunctionMenuShown_ || isOpenSlidershowMenu_ || nowMovePageDo_ || isMovingPage_ || isInvalidTap())
        return true;
    const bool onwards = d > 0;
    if (vertical) {
        doFunction(onwards ? 2 : 3);
    } else {
        // Sideways as the arrow keys at the edge: right is onwards when the
        // next page lies to the right.
        const bool nextIsRight = settings_->pageDirection_Local() != 0;
        doFunction(onwards == nextIsRight ? 2 : 3);
    }
    return true;
}
