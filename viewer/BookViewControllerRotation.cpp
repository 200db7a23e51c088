// The reading screen turning with the device, and going to the background.

#include "viewer/BookViewController.h"

#include "engine/BookReaderEx.h"
#include "engine/ImageCommon.h"
#include "foundation/AppDelegateServices.h"
#include "foundation/BookCommon.h"
#include "foundation/StatisticsStore.h"
#include "foundation/VolumeButtonCheck.h"
#include "foundation/ui/QNActionSheet.h"
#include "foundation/ui/QNAlertView.h"
#include "platform/core/FileManager.h"
#include "platform/core/Path.h"
#include "platform/core/PropertyList.h"
#include "platform/ui/Application.h"
#include "platform/ui/Image.h"
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

// ---- Rotation ------------------------------------------------------------------------------

bool BookViewController::shouldAutorotate() const {
    return !(nowMovePageDo_ || isMovingPage_ || pageMoveMaskView_);
}

unsigned BookViewController::supportedInterfaceOrientations() const {
    return static_cast<unsigned>(BookCommon::supportedInterfaceOrientationsForLB());
}

void BookViewController::viewWillTransitionToSize(ui::Size size,
                                                  const std::shared_ptr<ui::TransitionCoordinator>& coordinator) {
    ui::ViewController::viewWillTransitionToSize(size, coordinator);
    // Told of the change itself (under a panel or a screen presented over
    // it): nothing is left to catch up on when it comes back on screen.
    areaWhenCovered_.reset();
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    // A window made larger or smaller without turning keeps the page's zoom
    // relative to the page area it had.
    const ui::Rect before = getScreenRect();
    auto alongside = [weak, size, before](const ui::TransitionCoordinatorContext&) {
        auto s = weak.lock();
        if (!s) return;
        auto* v = static_cast<BookViewController*>(s.get());
        BookCommon::viewWillTransitionToSize(size);
        v->onRotateView(size.width > size.height, before);
        v->setBrightnessOrientation();
    };
    auto completion = [weak](const ui::TransitionCoordinatorContext&) {
        auto s = weak.lock();
        if (!s) return;
        auto* v = static_cast<BookViewController*>(s.get());
        if (AppDelegateServices::appGoingToBackground())
            v->reserverReload_ = true;
        else
            v->didRotateFromInterface();
    };
    if (!coordinator || !coordinator->animateAlongsideTransition(alongside, completion)) {
        // No transition to ride on: turn at once.
        ui::TransitionCoordinatorContext ctx;
        alongside(ctx);
        completion(ctx);
    }
}

void BookViewController::onRotateView(bool landscape, std::optional<ui::Rect> before) {
    if (!scrollView_) return;
    const ui::Rect screen = BookCommon::getScreenRect();
    const double W = screen.width(), H = screen.height();
    const bool isDouble = settings_->isDoubleTruck_Local();
    // A reload under way was made for the size before: shown after the new
    // zoom is set (its result may come before the end of this change), it
    // would bring the old size's zoom back.
    if (isNowReloading_) cancelReloads(false);
    setStatusBarBkFrame(landscape);
    safeArea_ = view()->safeAreaInsets();
    noPreviewInRotationProcess_ = true;
    toglleZoomNowZoom_ = false;
    setDisableDisplayView();

    const ui::Size original = displayBookPage_ ? displayBookPage_->originalSize : ui::Size{};
    const bool landscapeBand = !(bookToolViewStyle_ == kToolViewNone || bookToolViewStyle_ == kToolViewBottom);
    const bool wasLandscape = isLandscape_;
    const double s = scrollView_->zoomScale();
    if (landscape) {
        const bool was = isLandscape_;
        isLandscape_ = true;
        const double A = W - getStatusbarHeightForFlag();
        const ui::Rect r(0, 0, H, A);
        double minZ = calcMinZoomWithScreenRect(r, original);
        scrollView_->setMinimumZoomScale(minZ);
        scrollView_->setMaximumZoomScale(calcMaxZoomWithScreenRect(r, original));
        if (!was) {
            double z = s;
            if (isDouble) {
                z *= 0.5;
                scrollView_->setAlpha(0);
                isChangeDoubleTruckMode_ = true;
                scrollView_->setMinimumZoomScale(minZ * 0.5);
            }
            const double f = landscapeBand ? W / (H - kBand) : W / H;
            scrollView_->setZoomScale(z / f, false);
        }
    } else {
        const bool was = isLandscape_;
        isLandscape_ = false;
        const double A = H - getStatusbarHeightForFlag();
        const ui::Rect r(0, 0, W, A);
        scrollView_->setMinimumZoomScale(calcMinZoomWithScreenRect(r, original));
        double maxZ = calcMaxZoomWithScreenRect(r, original);
        scrollView_->setMaximumZoomScale(maxZ);
        if (was) {
            double f = (bookToolViewStyle_ == kToolViewBottomLeft || bookToolViewStyle_ == kToolViewBottomRight)
                           ? W / (H - kBand)
                           : W / H;
            double z = s;
            if (isDouble) {
                scrollView_->setMaximumZoomScale(2 * maxZ);
                scrollView_->setAlpha(0);
                f *= 0.5;
                isChangeDoubleTruckMode_ = true;
                z = 2 * s;
            }
            scrollView_->setZoomScale(f * z, false);
        }
    }
    if (before && landscape == wasLandscape && original.width > 0 && original.height > 0) {
        // The same shape, another size (a desktop window resized, made full
        // screen or back): the page keeps its zoom relative to the page
        // area, so a page that fitted still fits, larger or smaller.
        const double m0 = calcMinZoomWithScreenRectNoLimit(*before, original);
        const double m1 = calcMinZoomWithScreenRectNoLimit(getScreenRect(), original);
        if (m0 > 0 && m1 > 0 && std::fabs(m1 - m0) > 1e-9) {
            scrollView_->setMinimumZoomScale(std::min(scrollView_->minimumZoomScale(), s * m1 / m0));
            scrollView_->setZoomScale(s * m1 / m0, false);
        }
    }
    if (landscape != wasLandscape) {
        // Turned: the page is shown as the new orientation's zoom mode
        // shows it, as when the book is opened turned that way. Only a
        // zoom the user keeps across turns is carried over as it is.
        const int mode = settings_->getZoomModeForUseWithRotation(landscape);
        if (mode != Settings::kZoomDoNotChange && mode != kZoomCustom) {
            zoomMode_ = mode;
            isChangeDoubleTruckMode_ = true;
            if (!isDouble && original.width > 0 && original.height > 0) {
                const double z = getZoomScaleTo(mode);
                scrollView_->setMinimumZoomScale(std::min(scrollView_->minimumZoomScale(), z));
                scrollView_->setZoomScale(z, false);
            }
        }
    }
    userUseScale_ = scrollView_->zoomScale();

    reconfigJumpSheet();
    const double top = isHideStatusBar_ ? 0 : BookCommon::getStatusbarHeight();
    labelMessage_->setFrame(ui::Rect(0, top, getScreenRectWithoutBookToolView().width(), 25));
    if (streamStatusView_) {
        const double A = landscape ? W - getStatusbarHeightForFlag() : H - getStatusbarHeightForFlag();
        streamStatusView_->view()->setFrame(ui::Rect(0, 0, landscape ? H : W, A));
    }
    addRemoveBookToolView();
    if (bookToolView_) {
        // The bar fades out, moves to its new place and fades back in.
        auto bar = bookToolView_;
        std::weak_ptr<ui::ViewController> weak = weak_from_this();
        ui::View::animate(0.5, [bar] { bar->setAlpha(0); }, [weak, bar](bool) {
            ui::View::animate(
                0.3,
                [weak] {
                    if (auto s = weak.lock()) static_cast<BookViewController*>(s.get())->onChangeBookToolViewPos();
                },
                [bar](bool) { ui::View::animate(0.3, [bar] { bar->setAlpha(1); }); });
        });
    }
}

void BookViewController::didRotateFromInterface() {
    if (pageMoveMaskView_) return;
    if (bookReader_) bookReader_->deleteCache();
    noPreviewInRotationProcess_ = false;
    // One started since the change began was made for another size too.
    if (isNowReloading_) cancelReloads(false);
    reloadPage(false);
}

void BookViewController::closeIfBackground() {
    openBookmarkView_ = false;
    closeBookWithByuser(false);
}

void BookViewController::onEnterBackground() {
    stopSlidershow();
    if (isDontSleep_) {
        isDontSleep_ = false;
        BookCommon::globalIdleTimerDisabled(false);
        if (isOpenBar_ && btnDontSleep_) btnDontSleep_->setImage(ui::Image::named("submenubtn_dontsleep_off"));
    }
}

void BookViewController::onEnterForeground() {
    if (reserverReload_) {
        reserverReload_ = false;
        didRotateFromInterface();
    }
}
