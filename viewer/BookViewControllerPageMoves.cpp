// The reading screen's page moves and reloads, and closing the book.

#include "viewer/BookViewController.h"

#include "engine/BookReaderEx.h"
#include "engine/ImageCommon.h"
#include "engine/PageReader.h"
#include "engine/ThumbsCreate.h"
#include "foundation/AppDelegateServices.h"
#include "foundation/BookCommon.h"
#include "foundation/StatisticsStore.h"
#include "foundation/VolumeButtonCheck.h"
#include "foundation/ui/QNActionSheet.h"
#include "foundation/ui/QNAlertView.h"
#include "foundation/ui/QNBadge.h"
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

// ---- Page moves ------------------------------------------------------------------------------

PageLoadRequest BookViewController::makeMoveRequest(int op, int32_t page, bool forward) const {
    PageLoadRequest r{};
    const ui::Rect area = getBookviewAreaRect(!settings_->isShowStatusbar(), settings_->getBookToolviewStyle());
    BookReaderEx::setLoadSizeLoadStructWithMode(settings_->getZoomModeForUseWithRotation(isLandscape_), r.targetSize,
                                                area.size, userUseScale_);
    r.targetSizePreload = r.targetSize;
    r.minimumImageSize = area.size;
    r.targetPage = page_;
    r.isPreloadPages = true;
    r.isCachePages = true;
    if (displayBookPage_) {
        r.isNow2PageLoaded = displayBookPage_->is2PageLoaded;
        r.isNowDividedPage = displayBookPage_->isDividedPage;
        r.secondPage = displayBookPage_->isSecondPage;
    }
    if (op >= 0 && op <= 3) {
        r.operation = op;
    } else {
        r.targetPage = clampPage(page);
        r.operation = forward ? PageLoadRequest::kJumpForward : PageLoadRequest::kJumpBackward;
    }
    r.isCacheCreator = false;
    return r;
}

bool BookViewController::movePage(int op, int32_t page, int32_t oldPage) {
    if (!bookReader_ || !settings_ || goingCloseBook_) return false;
    if (op < 0 || op > 4) return false;
    if (op == 4) {
        page = clampPage(page);
        oldPage = clampPage(oldPage);
        if (page == oldPage) return false;
        // The second page of the pair on the screen is shown already.
        if (oldPage == page_ && page == page_ + 1 && displayBookPage_ && displayBookPage_->is2PageLoaded) return false;
    }
    const bool forward = op == 0 || op == 2 || (op == 4 && page > oldPage);
    if (nowMovePageDo_ || isMovingPage_) {
        animationFadeNext_ = false;
        return false;
    }
    stopSlideshowForMove();

    if (op != 4 && displayBookPage_) {
        if (!forward && displayBookPage_->isFirstPage) {
            displayMessage(tr("This is the first page."), true);
            displayNextBookButton(false);
            return false;
        }
        if (forward && displayBookPage_->isLastPage) {
            if (repeatsFromFirstPage()) {
                movePage(4, 0, page_);
                return false;
            }
            displayMessage(tr("This is the last page."), true);
            displayNextBookButton(true);
            stopMicPage();
            return false;
        }
    }

    movePageTarget_ = makeMoveRequest(op, page, forward);
    ++pageGeneration_;
    PageLoadRequest probe = movePageTarget_;
    if (bookReader_->isPageLoaded(probe)) {
        moveWithIndicator_ = false;
        isMovingPage_ = true;
        movePageDo();
    } else {
        moveWithIndicator_ = true;
        isMovingPage_ = true;
        movePageDoTimer_ = after(0, [this] { movePageDo(); });
        showMoveWaitingViews();
    }
    // Counted after the turn is on the screen (the count is a file write).
    if (forward) sys::RunLoop::main().post([] { StatisticsStore::sharedStatisticsStore()->incrementPageTotal(); });
    return true;
}

void BookViewController::startFirstViewLoad() {
    if (!firstViewRequest_ || !bookReader_) return;
    movePageTarget_ = *std::exchange(firstViewRequest_, std::nullopt);
    ++pageGeneration_;
    firstViewLoading_ = true;
    moveWithIndicator_ = true;
    isMovingPage_ = true;
    movePageDoTimer_ = after(0, [this] { movePageDo(); });
    showMoveWaitingViews();
}

void BookViewController::showMoveWaitingViews() {
    {
        const ui::Rect b = view()->bounds();
        activityIndicator_ = std::make_shared<ui::ActivityIndicatorView>(ui::ActivityIndicatorStyle::Medium);
        activityIndicator_->setColor(ui::Color::gray());
        activityIndicator_->setFrame(ui::Rect((b.width() - 32) / 2, (b.height() - 32) / 2, 32, 32));
        view()->addSubview(activityIndicator_);
        activityIndicator_->startAnimating();
        // A clear cover that takes every touch until the page is there.
        pageMoveMaskView_ = std::make_shared<ui::Control>(b);
        pageMoveMaskView_->setBackgroundColor(ui::Color::clear());
        pageMoveMaskView_->setAutoresizingMask(ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleHeight);
        view()->addSubview(pageMoveMaskView_);
        if (isStreamingMode_ && overlayFactory()) {
            streamStatusView_ = overlayFactory()(b, *this);
            if (streamStatusView_) {
                takeSessionBlockMap(*bookReader_, blockStatus_);
                if (!blockStatus_.empty()) {
                    std::vector<uint16_t> map(blockStatus_.size() / 2);
                    std::memcpy(map.data(), blockStatus_.data(), map.size() * 2);
                    streamStatusView_->updateCacheStatus(map.size(), map.data(), bookReader_->isStreamingUnitIsPage());
                }
                streamStatusView_->setIsVerticalWritting(settings_->pageDirection_Local() == 0);
                view()->addSubview(streamStatusView_->view());
            }
        }
        BookCommon::setRotationTempLock(true);
    }
}

void BookViewController::movePageDo() {
    movePageDoTimer_.reset();
    if (!isMovingPage_ || goingCloseBook_) return;
    bookToolViewPagePreviewEnd();
    isMovingPage_ = false;
    nowMovePageDo_ = true;
    moveLoadInFlight_ = true;
    // A reload still loading finishes under the load lock before this move
    // loads, and its result is dropped when it arrives.
    cancelReloads(false);
    if (settings_->getZoomModeForUseWithRotation(isLandscape_) != Settings::kZoomDoNotChange)
        toglleZoomNowZoom_ = false;
    if (moveThread_.joinable()) moveThread_.join();
    PageLoadRequest request = movePageTarget_;
    const bool waitPreload = moveWithIndicator_;
    auto reader = bookReader_;
    auto lock = loadLock_;
    std::weak_ptr<ui::ViewController> owner = weak_from_this();
    const uint64_t generation = pageGeneration_;
    // A view the session already holds is taken here and now: the turn is
    // only a change of pictures, with no worker to start and no wait for the
    // main loop to come round. A reload holding the load lock, or a view
    // still to be composed, goes through the worker.
    if (!waitPreload) {
        std::unique_lock guard(*lock, std::try_to_lock);
        if (guard.owns_lock() && reader->isPageLoaded(request)) {
            MoveResult loaded;
            loaded.result = reader->loadPage(request);
            loaded.page = reader->loadedPage();
            guard.unlock();
            movePageLoadFinish(loaded, generation);
            return;
        }
    }
    // The covers wait while the first view loads: its page is often a
    // cover to be made, and is not decoded by both at once.
    const bool holdsCovers = firstViewLoading_;
    if (holdsCovers) ThumbsCreate::holdForOpen(true);
    moveThread_ = sys::Thread(
        [request, waitPreload, reader, lock, owner, generation, holdsCovers](const std::atomic<bool>&) {
            moveLoadPageThread(request, waitPreload, reader, lock, owner, generation);
            if (holdsCovers) ThumbsCreate::holdForOpen(false);
        },
        "moveLoadPage");
}

void BookViewController::moveLoadPageThread(PageLoadRequest request, bool waitPreload,
                                            std::shared_ptr<BookReaderEx> reader, std::shared_ptr<std::mutex> loadLock,
                                            std::weak_ptr<ui::ViewController> owner, uint64_t generation) {
    MoveResult loaded;
    try {
        if (waitPreload) reader->waitPreloadThread();
        std::lock_guard guard(*loadLock);
        loaded.result = reader->loadPage(request);
        loaded.page = reader->loadedPage();
    } catch (...) {
        loaded.page = nullptr;
    }
    sys::RunLoop::main().post(
        [owner, loaded, generation] {
            if (auto s = owner.lock()) static_cast<BookViewController*>(s.get())->movePageLoadFinish(loaded, generation);
        },
        ownerFromAnyThread(owner));
}

bool BookViewController::closeForServerPassword() {
    if (!delegate_) return false;
    auto keep = self();
    if (!delegate_->bookNeedsServerPassword(fileName_)) return false;
    pendingKeys_.clear();
    endMoveWaitingViews();
    nowMovePageDo_ = false;
    closeBookWithByuser(true);
    return true;
}

void BookViewController::endMoveWaitingViews() {
    if (activityIndicator_) {
        activityIndicator_->stopAnimating();
        activityIndicator_->removeFromSuperview();
        activityIndicator_.reset();
    }
    if (streamStatusView_) {
        streamStatusView_->view()->removeFromSuperview();
        streamStatusView_.reset();
    }
    if (pageMoveMaskView_) {
        pageMoveMaskView_->removeFromSuperview();
        pageMoveMaskView_.reset();
        BookCommon::setRotationTempLock(false);
    }
}

void BookViewController::movePageLoadFinish(const MoveResult& loaded, uint64_t generation) {
    if (generation != pageGeneration_ || !moveLoadInFlight_) return;
    moveLoadInFlight_ = false;
    // The page turned away from is given up: the next one draws.
    if (std::exchange(drawsAbandoned_, false) && bookReader_) bookReader_->resumePageDraws();
    checkStatusbarHideStatus();
    if (streamClosed_) {
        pendingKeys_.clear();
        endMoveWaitingViews();
        nowMovePageDo_ = false;
        closeBookWithByuser(true);
        return;
    }
    if (loaded.result != BookReaderEx::kLoadDone && !goingCloseBook_ && bookReader_ &&
        bookReader_->isPageFetchRefused() && closeForServerPassword())
        return;
    if (goingCloseBook_ || !loaded.page || !scrollView_) {
        pendingKeys_.clear();
        endMoveWaitingViews();
        nowMovePageDo_ = false;
        return;
    }
    if (std::exchange(firstViewLoading_, false)) {
        // The first view: laid out as one loaded before the screen showed.
        endMoveWaitingViews();
        nowMovePageDo_ = false;
        if (loaded.result == BookReaderEx::kLoadPassword && firstViewPasswordHandler_) {
            // The opener asks for the password in place of this screen.
            auto ask = std::move(firstViewPasswordHandler_);
            pendingKeys_.clear();
            closeBookWithByuser(true, false);
            ask();
            return;
        }
        if (std::exchange(cacheCreatorAfterFirstView_, false)) startCacheCreator();
        displayBookPage_ = loaded.page;
        showFirstView();
        if (displayBookPage_->image)
            createJacketIfNoJacket(displayBookPage_->image, {displayBookPage_->offset.x * 2, displayBookPage_->offset.y * 2});
        if (bookToolView_) bookToolView_->onMovePage(page_, false);
        takePendingKey();
        return;
    }

    auto page = loaded.page;
    displayBookPage_ = page;
    page_ = clampPage(page->targetPage);
    pageBeforePair_ = -1;
    if (!notNotifyToBookToolView_) {
        if (bookToolView_) bookToolView_->onMovePage(page_, true);
    } else {
        notNotifyToBookToolView_ = false;
    }
    endMoveWaitingViews();

    // The new screen.
    const ui::Rect area = getScreenRect();
    auto oldScreen = scrollView_;
    auto oldImage = imageView_;
    auto oldDisplay = imageViewDisplay_;
    const ui::Point oldOffset = oldScreen->contentOffset();
    auto screen = makeScreen(area, page->originalSize);
    auto image = std::make_shared<ui::ImageView>(ui::Rect(0, 0, 10, 10));
    screen->addSubview(image);

    double duration = 0;
    switch (settings_->animation()) {
    case 0: duration = 0.3; break;
    case 1: duration = 0.15; break;
    case 2: duration = isPageMoveByScroll_ ? 0.1 : 0; break;
    default: duration = 0; break;
    }
    const bool slide = duration > 0;
    const bool halfPage = page->is2PageLoaded && page->isMoveHalfPage;

    // The page goes in before any slide starts, so the slide shows it.
    screen->setZoomScale(page->zoomScale, false);
    const ui::Size target = page->targetSize;
    image->setImage(nullptr);
    image->setHidden(true);
    auto display = std::make_shared<ui::ImageView>(ui::Rect(0, 0, target.width, target.height));
    display->setImage(ui::Image::withBitmap(page->image));
    screen->addSubview(display);
    contentSizeSetWithImageSize(target, *screen);
    image->setFrame(ui::Rect(0, 0, target.width, target.height));
    offsetImageViewSet_ = {0, 0};
    applyBounceRules(*screen);

    if (slide) {
        invalidTap_ = true;
        const bool forward = page->pageMoveDirection == 0 || page->pageMoveDirection == 2;
        const bool side = (settings_->pageDirection_Local() != 0) != forward;
        const bool vertical = settings_->isPageVerticalScroll_Local() && !halfPage;
        ui::Rect startNew = area, endOld = area;
        if (!vertical) {
            const double d = halfPage ? area.width() / 2 : area.width();
            startNew.origin.x += side ? -d : d;
            endOld.origin.x += side ? d : -d;
        } else {
            const double d = area.height();
            startNew.origin.y += forward ? d : -d;
            endOld.origin.y += forward ? -d : d;
        }
        if (isWaitForAnimationEndAndRemove_) {
            if (animationOldScreen_) animationOldScreen_->removeFromSuperview();
            if (animationOldImage_) animationOldImage_->removeFromSuperview();
        }
        screen->setFrame(startNew);
        view()->insertSubview(screen, std::min<size_t>(1, view()->subviews().size()));
        animationOldScreen_ = oldScreen;
        animationOldImage_ = oldImage;
        isWaitForAnimationEndAndRemove_ = true;
        const bool fade = animationFadeNext_;
        if (fade) {
            screen->setFrame(area);
            screen->setAlpha(1);
            oldScreen->setFrame(area);
            view()->insertSubviewAbove(oldScreen, screen.get());
        }
        std::weak_ptr<ui::ViewController> weak = weak_from_this();
        ui::View::animate(
            duration, 0, ui::AnimationOptionCurveEaseOut,
            [=] {
                if (fade) {
                    oldScreen->setAlpha(0);
                } else {
                    screen->setFrame(area);
                    oldScreen->setFrame(endOld);
                    if (halfPage) oldScreen->setAlpha(0);
                }
            },
            [weak, oldScreen, oldImage](bool) {
                oldScreen->removeFromSuperview();
                if (oldImage) oldImage->removeFromSuperview();
                if (auto s = weak.lock()) static_cast<BookViewController*>(s.get())->finishSlide();
            });
        animationFadeNext_ = false;
    } else {
        screen->setFrame(area);
        if (oldImage) oldImage->removeFromSuperview();
        oldScreen->removeFromSuperview();
        view()->insertSubview(screen, 0);
        disableSnapWhenpageMove_ = false;
        animationFadeNext_ = false;
        after(0.1, [this] { repeatHeldButtonMove(); });
    }

    // The old page stays visible in the leaving screen.
    if (oldImage && oldDisplay && oldDisplay->image()) {
        oldImage->setImage(oldDisplay->image());
        oldImage->setHidden(false);
    }
    if (slide && oldDisplay) oldDisplay->removeFromSuperview();
    oldScreen->setDelegate(nullptr);
    imageViewDisplay_ = display;
    scrollView_ = screen;

    if (settings_->isDisableAutoScroll()) {
        const ui::Size cs = screen->contentSize();
        const ui::Rect f = screen->frame();
        screen->setContentOffset({std::max(0.0, std::min(oldOffset.x, cs.width - f.width())),
                                  std::max(0.0, std::min(oldOffset.y, cs.height - f.height()))},
                                 false);
    } else {
        scrollToPageStartWithMoveDirection(page->pageMoveDirection == 0 || page->pageMoveDirection == 2);
    }
    imageView_ = image;
    storeReadingPosition();
    if (settings_->isShowBadge()) QNBadge::changeBadge(page_ + 1);
    if (!slide) nowMovePageDo_ = false;
    restartslideshow();
    onNewPageMoveForMicInput();
    if (!slide) takePendingKey();
}

void BookViewController::takePendingKey() {
    if (pendingKeys_.empty() || nowMovePageDo_ || isMovingPage_ || goingCloseBook_) return;
    // Functions follow each other at most every kFunctionInterval.
    if (invalidFunction_ || pendingKeyTimer_) {
        if (!pendingKeyTimer_)
            pendingKeyTimer_ = after(kFunctionInterval / 4, [this] {
                pendingKeyTimer_.reset();
                takePendingKey();
            });
        return;
    }
    const std::string input = pendingKeys_.front();
    pendingKeys_.erase(pendingKeys_.begin());
    runKey(input);
    // A key that moved no page leaves the next one to a later turn.
    if (!pendingKeys_.empty() && !nowMovePageDo_ && !isMovingPage_)
        pendingKeyTimer_ = after(kFunctionInterval, [this] {
            pendingKeyTimer_.reset();
            takePendingKey();
        });
}

void BookViewController::finishSlide() {
    invalidTap_ = false;
    nowMovePageDo_ = false;
    isWaitForAnimationEndAndRemove_ = false;
    animationOldScreen_.reset();
    animationOldImage_.reset();
    disableSnapWhenpageMove_ = false;
    repeatHeldButtonMove();
    takePendingKey();
}

void BookViewController::repeatHeldButtonMove() {
    if (bookToolView_ && bookToolView_->isLongPressContinue()) runFunction(lastPageMoveCommandIsNext_ ? 2 : 3);
}

void BookViewController::storeReadingPosition() {
    if (!bookReader_ || !displayBookPage_) return;
    // Written once the new page is on the screen (a file write is no part of
    // the turn a reader waits for), from the values of this move, even when
    // the screen has closed meanwhile.
    sys::RunLoop::main().post([fileName = fileName_, page = page_, second = displayBookPage_->isSecondPage,
                               sub = isSelectedSubReadingPage_, subPage = subReadingPage_,
                               subSecond = subReadingPageIsSecound_, count = bookReader_->getPageNum(),
                               folder = bookReader_->getTargetFolder().value_or(""),
                               pair = displayBookPage_->is2PageLoaded, cloud = settings_->iCloudEnable()] {
        BookCommon::writeFilePageInfoWithFilename(fileName, page, second, sub, subPage, subSecond, count, folder, pair,
                                                  cloud);
    });
}

// ---- Reloads --------------------------------------------------------------------------------

void BookViewController::cancelReloads(bool wait) {
    abortReload_ = true;
    ++reloadToken_;  // whatever is under way now is stale
    isNowReloading_ = false;
    if (!queue_) return;
    queue_->cancelAllOperations();
    queue_->setSuspended(false);
    if (wait) queue_->waitUntilAllOperationsAreFinished();
}

void BookViewController::reloadPage(bool wait) {
    if (isNowReloading_ || !queue_ || !bookReader_ || !scrollView_ || goingCloseBook_) return;
    statusbarHeight_ = BookCommon::getStatusbarHeight();
    // A move that waits to start, or whose page is still loading, makes
    // anything loaded now out of date.
    if (isMovingPage_ || moveLoadInFlight_) return;

    cancelReloads(false);
    abortReload_ = false;
    isNowReloading_ = true;
    ++reloadCount_;

    ReloadInput in;
    in.reader = bookReader_;
    in.loadLock = loadLock_;
    in.rect = getBookviewAreaRect(!settings_->isShowStatusbar(), settings_->getBookToolviewStyle());
    // Taken here, on the main thread, so the reload never has to ask for them.
    in.contentSize = scrollView_->contentSize();
    in.zoomScale = scrollView_->zoomScale();
    in.zoomModeForRotation = settings_->getZoomModeForUseWithRotation(isLandscape_);
    in.changeDoubleTruckMode = isChangeDoubleTruckMode_ || relayoutOnReload_;
    relayoutOnReload_ = false;
    in.displayPage = displayBookPage_;
    in.page = page_;
    // Turned back to one page, the page read before the turn.
    if (in.changeDoubleTruckMode && displayBookPage_ && displayBookPage_->is2PageLoaded && pageBeforePair_ == page_ + 1 &&
        !(isLandscape_ && settings_->isDoubleTruck_Local()))
        in.page = pageBeforePair_;
    in.token = reloadToken_;
    in.generation = pageGeneration_;
    auto reload = std::make_shared<PageReload>(std::weak_ptr<BookViewController>(self()), std::move(in), wait);
    PageReload::enqueue(*queue_, reload);
    queue_->setSuspended(false);
}

BookViewController::ReloadOutput BookViewController::reloadPageDo(const ReloadInput& in, const sys::Operation* op) {
    ReloadOutput out;
    out.token = in.token;
    out.generation = in.generation;
    out.basedOn = in.displayPage;
    out.askedPage = in.page;
    if (!in.reader || !in.loadLock) return out;
    const ui::Size rect = in.rect.size;

    ImageSizeLoad computed;
    BookReaderEx::setLoadSizeLoadStructWithMode(in.zoomModeForRotation, computed, rect, in.zoomScale);
    PageLoadRequest r{};
    if (in.changeDoubleTruckMode || !in.displayPage) {
        r.targetSize = computed;
        out.usedChangeDoubleTruckMode = in.changeDoubleTruckMode;
    } else {
        // The page as big as it is shown now, without its letterbox margins.
        const BookPage& p = *in.displayPage;
        const double fx = p.targetSize.width > 0 ? 1 - 2 * p.offset.x / p.targetSize.width : 1;
        const double fy = p.targetSize.height > 0 ? 1 - 2 * p.offset.y / p.targetSize.height : 1;
        r.targetSize.mode = ImageSizeLoad::kModeFitPage;
        r.targetSize.width = fx * in.contentSize.width;
        r.targetSize.height = fy * in.contentSize.height;
        r.targetSize.zoom = 0;
    }
    out.centerPosForReload = {rect.width / 2 - in.contentSize.width / 2, rect.height / 2 - in.contentSize.height / 2};
    r.targetPage = in.page;
    r.isPreloadPages = true;
    r.isCachePages = false;
    r.operation = PageLoadRequest::kCompose;
    if (in.displayPage) {
        // A view only zoomed stays the pages it shows; laid out anew (turned
        // between one and two pages, a setting changed) the page is paired
        // afresh.
        r.isSameView = !in.changeDoubleTruckMode;
        r.isNow2PageLoaded = in.displayPage->is2PageLoaded;
        r.isNowDividedPage = in.displayPage->isDividedPage;
        r.secondPage = in.displayPage->isSecondPage;
    }
    r.minimumImageSize = rect;
    r.targetSizePreload = computed;

    std::lock_guard guard(*in.loadLock);
    // Cancelled while waiting for a page move's load: that move made this stale.
    if (op && op->isCancelled()) return out;
    try {
        in.reader->loadPage(r);
        out.page = in.reader->loadedPage();
    } catch (...) {
        out.page = nullptr;
    }
    return out;
}

void BookViewController::reloadPageFinish(const ReloadOutput& out) {
    // Another reload was queued, or reloads were cancelled, after this one.
    if (out.token != reloadToken_) return;
    checkStatusbarHideStatus();
    isNowReloading_ = false;
    if (abortReload_ || !displayBookPage_ || !scrollView_ || goingCloseBook_) return;
    // A page that moved on meanwhile is never replaced by the older one.
    if (out.generation != pageGeneration_ || out.basedOn != displayBookPage_ || moveLoadInFlight_ || isMovingPage_)
        return;
    if (!out.page) return;
    // The view composed afresh may pair the page with the one before it
    // (the first page alone shifts the pairs): it starts there then.
    const bool pairedBefore = out.page->is2PageLoaded && out.page->targetPage + 1 == page_;
    const bool pageBeforePair = out.page->targetPage == out.askedPage && out.askedPage == pageBeforePair_ && out.askedPage != page_;
    if (out.page->targetPage != page_ && !pairedBefore && !pageBeforePair) return;
    if (out.usedChangeDoubleTruckMode) isChangeDoubleTruckMode_ = false;

    auto old = scrollView_;
    const ui::Point oldOffset = old->contentOffset();
    const ui::Size oldContent = old->contentSize();
    const auto oldPage = displayBookPage_;
    const double r = oldPage->targetSize.width > 0 ? oldContent.width / oldPage->targetSize.width : 1;
    reloadedBookPage_ = out.page;
    displayBookPage_ = out.page;
    centerPosForReload_ = out.centerPosForReload;
    const auto& page = *displayBookPage_;
    if (pairedBefore || pageBeforePair) {
        pageBeforePair_ = pairedBefore ? page_ : -1;
        page_ = clampPage(page.targetPage);
        if (bookToolView_) bookToolView_->onMovePage(page_, true);
        storeReadingPosition();
    }

    auto screen = makeScreen(old->frame(), page.originalSize);
    auto image = std::make_shared<ui::ImageView>(ui::Rect(0, 0, 10, 10));
    screen->addSubview(image);
    view()->insertSubview(screen, 0);
    screen->setZoomScale(page.zoomScale, false);
    const ui::Size target = page.targetSize;
    contentSizeSetWithImageSize(target, *screen);
    auto display = std::make_shared<ui::ImageView>(ui::Rect(0, 0, target.width, target.height));
    display->setImage(ui::Image::withBitmap(page.image));
    screen->addSubview(display);
    image->setImage(nullptr);
    image->setHidden(true);
    image->setFrame(ui::Rect(0, 0, target.width, target.height));
    offsetImageViewSet_ = {0, 0};
    applyBounceRules(*screen);
    if (centerPosForReload_.x > 0 || centerPosForReload_.y > 0) {
        const ui::Rect end = display->frame();
        ui::Rect start = end;
        if (centerPosForReload_.x > 0) start.origin.x -= centerPosForReload_.x;
        if (centerPosForReload_.y > 0) start.origin.y -= centerPosForReload_.y;
        display->setFrame(start);
        ui::View::animate(0.5, [display, end] { display->setFrame(end); });
    }
    const ui::Size cs = screen->contentSize();
    const ui::Rect f = screen->frame();
    ui::Point p{oldOffset.x - (oldPage->offset.x * r - page.offset.x), oldOffset.y - (oldPage->offset.y * r - page.offset.y)};
    p.x = std::max(0.0, std::min(p.x, cs.width - f.width()));
    p.y = std::max(0.0, std::min(p.y, cs.height - f.height()));
    screen->setContentOffset(p, false);

    old->setDelegate(nullptr);
    old->removeFromSuperview();
    scrollView_ = screen;
    imageView_ = image;
    imageViewDisplay_ = display;
    if (old->alpha() == 0) {
        // Hidden while a turn changed between one and two pages: shown again sharp.
        screen->setAlpha(0);
        ui::View::animate(0.3, [screen] { screen->setAlpha(1); });
    }
}

// ---- Closing ---------------------------------------------------------------------------------

void BookViewController::abandonWaitingMove() {
    if (movePageDoTimer_) movePageDoTimer_->invalidate();
    movePageDoTimer_.reset();
    isMovingPage_ = false;
    endMoveWaitingViews();
}

void BookViewController::closeBookWithByuser(bool byUser, bool animated) {
    if (bookClosed_) return;
    bookClosed_ = true;
    // A sheet still open (the book closed from elsewhere) goes with the book.
    if (isOpenBar_) removePageJump(0);
    abandonWaitingMove();
    abortReload_ = true;
    // A reload or a page move waiting for a stalled server ends only when the
    // stream does: cancel it before waiting for them (closing cancels it anyway).
    if (bookReader_) bookReader_->cancelStreaming();
    cancelReloads(true);
    closeBookGUIclose(byUser, animated);
    goingCloseBook_ = true;
    finishLoadsAndCloseBook();
    stopMicPage();
    QNBadge::changeBadge(0);
    if (byUser) sys::FileManager::removeItem(BookCommon::getLastBookSettingFilePath());
}

void BookViewController::finishLoadsAndCloseBook() {
    // A page still loading (its drawing abandoned by the cancel before, but
    // a band of a heavy page's rows may take a while yet) is not waited for:
    // its worker, and the session's close behind it, finish on their own.
    if (moveLoadInFlight_ && bookReader_) {
        if (moveThread_.joinable()) sys::Thread::leaveToFinish(std::move(moveThread_));
        sys::Thread::leaveToFinish(sys::Thread(
            [reader = bookReader_](const std::atomic<bool>&) {
                // The close waits for the page's decoding, which nobody
                // waits for: it holds virtual time as briefly as that does.
                sys::Clock::NetworkWait hold(sys::Clock::realNow() - sys::Clock::kNetworkStallSeconds +
                                             PageReader::kDecodeClockHoldSeconds);
                reader->closeBook();
            },
            "close-book"));
        return;
    }
    if (moveThread_.joinable()) moveThread_.join();
    if (bookReader_) bookReader_->closeBook();
}

void BookViewController::closeBookGUIclose(bool byUser, bool animation) {
    goingCloseBook_ = true;
    if (auto* nav = navigationController()) {
        nav->setNavigationBarHidden(false, false);
        if (auto* bar = nav->navigationBar()) {
            if (byUser) {
                bar->setAlpha(0);
                ui::View::animate(0.3, [bar] { bar->setAlpha(1); });
            } else {
                bar->setAlpha(1);
            }
        }
    }
    BookCommon::setShortcutMenu(0, std::nullopt);
    popSelf(animation);
}

void BookViewController::popSelf(bool animated) {
    auto* nav = navigationController();
    if (!nav) return;
    if (nav->topViewController() == this) {
        nav->popViewController(animated);
        return;
    }
    // Another screen is already above this one: take this one out of the stack.
    std::vector<ui::ViewController::Ref> stack;
    for (auto& vc : nav->viewControllers())
        if (vc.get() != this) stack.push_back(vc);
    nav->setViewControllers(std::move(stack), false);
}

void BookViewController::closeAndOpenNextBook(bool next) {
    if (bookClosed_) return;
    bookClosed_ = true;
    if (isOpenBar_) removePageJump(0);
    abandonWaitingMove();
    goingCloseBook_ = true;
    abortReload_ = true;
    // As when closing: nothing waited for below may still wait for the server.
    if (bookReader_) bookReader_->cancelStreaming();
    cancelReloads(true);
    std::optional<std::string> folder = bookReader_ ? bookReader_->getTargetFolder() : std::nullopt;
    finishLoadsAndCloseBook();
    stopMicPage();
    bool animation = true;
    auto keep = self();
    const bool opened = delegate_ && delegate_->reOpenNextBook(fileName_, folder, next, &animation);
    if (opened)
        popSelf(false);
    else
        closeBookGUIclose(true, animation);
}

void BookViewController::goNextBook() {
    closeAndOpenNextBook(true);
    if (auto button = std::move(buttonNextBook_)) button->removeFromSuperview();
}

void BookViewController::goPrevBook() {
    closeAndOpenNextBook(false);
    if (auto button = std::move(buttonNextBook_)) button->removeFromSuperview();
}
