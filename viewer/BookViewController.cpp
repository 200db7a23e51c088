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
#include "platform/ui/NavigationController.h"
#include "platform/ui/NavigationItem.h"
#include "platform/ui/PhotoAlbum.h"
#include "platform/ui/TransitionCoordinator.h"
#include "platform/ui/Window.h"
#include "viewer/PageReload.h"
#include "viewer/StreamStatusOverlay.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

constexpr double kBand = 50;                // the seek bar's thickness
constexpr double kFunctionInterval = 0.1;   // at most one function per this
constexpr double kSingleTapDelay = 0.3;     // a second tap within this is a double tap
constexpr double kSingleTapInterval = 0.5;  // at most one single-tap function per this
constexpr double kInvalidTapTick = 1.0;
constexpr double kTapSlop = 15;
constexpr double kZoomTolerance = 0.01;

BookViewController::StreamStatusOverlayFactory& overlayFactory() {
    static BookViewController::StreamStatusOverlayFactory f;
    return f;
}

std::string tr(const std::string& key) { return BookCommon::localizedStringWithOnOff(key); }

bool isPad() { return BookCommon::getDeviceDisplayType() == 1; }

// An owner for work posted from another thread, made without locking it
// there: letting go of the last reference must never end the screen off the
// main thread.
sys::LoopOwner ownerFromAnyThread(const std::weak_ptr<ui::ViewController>& weak) {
    sys::LoopOwner o;
    o.ref = weak;
    o.present = true;
    return o;
}

}  // namespace

void BookViewController::setStreamStatusOverlayFactory(StreamStatusOverlayFactory factory) {
    overlayFactory() = std::move(factory);
}

BookViewController::BookViewController() = default;

BookViewController::~BookViewController() {
    stopVolumeCheck();
    for (auto t : observers_) sys::NotificationCenter::defaultCenter().removeObserver(t);
    if (queue_) {
        abortReload_ = true;
        queue_->cancelAllOperations();
        queue_->setSuspended(false);
        queue_->waitUntilAllOperationsAreFinished();
    }
    if (moveThread_.joinable()) moveThread_.join();
    if (scrollView_) scrollView_->setDelegate(nullptr);
    if (bookToolView_) bookToolView_->setDelegate(nullptr);
}

std::shared_ptr<BookViewController> BookViewController::self() {
    return std::static_pointer_cast<BookViewController>(shared_from_this());
}

sys::RunLoop::TimerRef BookViewController::after(double delay, std::function<void()> fn, double repeat) {
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    return sys::RunLoop::main().schedule(
        delay,
        [weak, fn = std::move(fn)] {
            if (auto keep = weak.lock()) fn();
        },
        repeat, sys::LoopOwner(weak));
}

int32_t BookViewController::pageCount() const { return bookReader_ ? std::max(0, bookReader_->getPageNum()) : 0; }

int32_t BookViewController::clampPage(int64_t page) const {
    const int64_t last = std::max<int64_t>(0, int64_t(pageCount()) - 1);
    return int32_t(std::clamp<int64_t>(page, 0, last));
}

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

// ---- Life cycle ---------------------------------------------------------------------------

void BookViewController::viewDidLoad() {
    ui::ViewController::viewDidLoad();
    if (!settings_) settings_ = AppDelegateServices::sharedSettings();
    if (!settings_) settings_ = std::make_shared<Settings>();
    page_ = clampPage(page_);

    // 1. The second reading position of the book.
    {
        long pageSub = 0;
        bool isSub = false, secondSub = false;
        BookCommon::getFilePageInfoWithFilename(fileName_, nullptr, nullptr, &isSub, &pageSub, &secondSub, nullptr,
                                                nullptr, nullptr, settings_->iCloudEnable(), nullptr, false);
        isSelectedSubReadingPage_ = isSub;
        subReadingPage_ = clampPage(pageSub);
        subReadingPageIsSecound_ = secondSub;
    }

    // 2. Hardware keys, all without modifiers.
    std::vector<std::string> inputs = {ui::KeyInput::leftArrow, ui::KeyInput::rightArrow, ui::KeyInput::upArrow,
                                       ui::KeyInput::downArrow, ui::KeyInput::backspace, ui::KeyInput::returnKey,
                                       " ", ui::KeyInput::escape};
    for (char c = 'a'; c <= 'z'; ++c) inputs.emplace_back(1, c);
    for (char c = '0'; c <= '9'; ++c) inputs.emplace_back(1, c);
    keyboardCommands_.clear();
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    for (auto& in : inputs) {
        auto k = ui::KeyCommand::make(in, 0, [weak](const ui::KeyCommand& cmd) {
            if (auto s = weak.lock()) static_cast<BookViewController*>(s.get())->handleCommand(cmd.input);
        });
        k.wantsPriorityOverSystemBehavior = true;
        keyboardCommands_.push_back(std::move(k));
    }

    // 3. Layout under the bars, and the status bar's backing on a pad.
    BookCommon::setEdgeExtendLayoutForiOS7(*this);
    if (isPad()) {
        statusBarBk_ = std::make_shared<ui::View>(ui::Application::shared().statusBarFrame());
        statusBarBk_->setUserInteractionEnabled(false);
        setStatusbarBkColor();
        view()->addSubview(statusBarBk_);
        setStatusBarBkFrame(getScreenRect().width() > getScreenRect().height());
    }

    // 4, 5. The page's scroll view.
    bookToolViewStyle_ = settings_->getBookToolviewStyle();
    scrollView_ = std::make_shared<BookViewScreen>();
    imageView_ = std::make_shared<ui::ImageView>(ui::Rect(0, 0, 10, 10));
    scrollView_->addSubview(imageView_);
    view()->insertSubview(scrollView_, 0);
    if (bookReader_) bookReader_->setTargetForOnlineStatus(std::static_pointer_cast<RemoteStreamReadDelegate>(self()));
    isThereLoadedImage_ = true;

    // 6. A cover from the first page when the book has none.
    auto loaded = bookReader_ ? bookReader_->loadedPage() : nullptr;
    if (loaded && loaded->image)
        createJacketIfNoJacket(loaded->image, {loaded->offset.x * 2, loaded->offset.y * 2});

    // 7.
    scrollView_->setPagingEnabled(false);
    scrollView_->setShowsHorizontalScrollIndicator(true);
    scrollView_->setShowsVerticalScrollIndicator(true);
    scrollView_->setDelegate(this);
    const ui::Size original = loaded ? loaded->originalSize : ui::Size{};
    scrollView_->setMinimumZoomScale(calcMinZoom(original));
    scrollView_->setMaximumZoomScale(calcMaxZoom(original));
    applyBounceRules(*scrollView_);

    // 8.
    writeLastReadingFile();
    recreateThumbs();

    // 9. The message line.
    labelMessage_ = std::make_shared<ui::Label>(ui::Rect(0, 0, getScreenRectWithoutBookToolView().width(), 25));
    labelMessage_->setBackgroundColor(ui::Color::black());
    labelMessage_->setTextColor(ui::Color::whiteColor());
    labelMessage_->setAlpha(0);
    labelMessage_->setTextAlignment(ui::TextAlignment::Center);
    labelMessage_->setUserInteractionEnabled(false);
    view()->addSubview(labelMessage_);

    // 10.
    queue_ = std::make_unique<sys::OperationQueue>("PageReload");
    addRemoveBookToolView();
    auto& nc = sys::NotificationCenter::defaultCenter();
    observers_.push_back(nc.addObserver(ui::Application::didBecomeActiveNotification, [weak](const sys::Notification&) {
        if (auto s = weak.lock()) {
            auto* v = static_cast<BookViewController*>(s.get());
            if (v->settings_ && v->settings_->volumeButton() != 0) v->startVolumeCheck();
        }
    }));
    observers_.push_back(nc.addObserver(ui::Application::willResignActiveNotification, [weak](const sys::Notification&) {
        if (auto s = weak.lock()) static_cast<BookViewController*>(s.get())->stopVolumeCheck();
    }));
}

void BookViewController::writeLastReadingFile() {
    if (openFolder_.empty()) return;
    const std::string title = BookCommon::isURL(fileName_) ? fileName_ : sys::Path::lastPathComponent(fileName_);
    sys::PlistArray array;
    array.push_back(sys::PlistValue(title));
    sys::PropertyList::writeFile(sys::PlistValue(std::move(array)), BookCommon::getLastReadingFileStoreFile(openFolder_));
}

void BookViewController::recreateThumbs() {
    if (delegate_) delegate_->changeBookThumbs();
}

void BookViewController::applyBackgroundColor() {
    ui::Color c = ui::Color::black();
    switch (settings_->backgroundColor()) {
    case 1: c = ui::Color::whiteColor(); break;
    case 2: c = ui::Color::gray(); break;
    case 3: c = ui::Color::lightGray(); break;
    case 4: c = ui::Color::darkGray(); break;
    default: break;
    }
    view()->setBackgroundColor(c);
}

void BookViewController::viewWillAppear(bool animated) {
    ui::ViewController::viewWillAppear(animated);
    isAfterViewWillAppearBeforeDidAppear_ = true;
    isHideStatusBar_ = !settings_->isShowStatusbar();
    setNeedsStatusBarAppearanceUpdate();
    navigationItem()->setHidesBackButton(true);
    statusbarHeight_ = BookCommon::getStatusbarHeight();

    applyBackgroundColor();
    if (statusBarBk_) {
        statusBarBk_->setHidden(isHideStatusBar_);
        if (!isHideStatusBar_)
            ui::Application::shared().setStatusBarStyle(isStatusbarBlack() ? ui::StatusBarStyle::LightContent
                                                                           : ui::StatusBarStyle::Default);
    }

    if (!isNowPresentJacketTrimViewController_) {
        isStatusBarHeight_ = !isHideStatusBar_;
        if (!isNowPushToViewController_)
            if (auto* nav = navigationController()) nav->setNavigationBarHidden(true, animated);
        keyboardShortcuts_ = Settings::loadKeyboardShortcutSettings(settings_->settingsFolder());
    }

    if (isThereLoadedImage_) {
        isThereLoadedImage_ = false;
        disableSnapWhenpageMove_ = false;
        if (bookReader_) displayBookPage_ = bookReader_->loadedPage();
        const ui::Rect area = getScreenRect();
        scrollView_->setFrame(area);
        scrollView_->setUserInteractionEnabled(true);
        scrollView_->setAutoresizingMask(ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleHeight);
        if (displayBookPage_) {
            page_ = clampPage(displayBookPage_->targetPage);
            scrollView_->setMinimumZoomScale(calcMinZoom(displayBookPage_->originalSize));
            scrollView_->setMaximumZoomScale(calcMaxZoom(displayBookPage_->originalSize));
            const int mode = settings_->getZoomModeForUseWithRotation(area.width() > area.height());
            double scale;
            if (mode == Settings::kZoomDoNotChange) {
                zoomMode_ = kZoomCustom;
                scale = calcSizeZoomFitToWidth(displayBookPage_->originalSize);
            } else {
                zoomMode_ = mode;
                scale = getZoomScaleTo(mode);
            }
            zoomScaleUser_ = float(scale);
            scrollView_->setZoomScale(scale, false);
            userUseScale_ = scrollView_->zoomScale();

            const ui::Size target = displayBookPage_->targetSize;
            imageViewDisplay_ = std::make_shared<ui::ImageView>(ui::Rect(0, 0, target.width, target.height));
            imageViewDisplay_->setImage(ui::Image::withBitmap(displayBookPage_->image));
            scrollView_->addSubview(imageViewDisplay_);
            imageView_->setImage(nullptr);
            imageView_->setHidden(true);
            imageView_->setFrame(ui::Rect(0, 0, target.width, target.height));
            contentSizeSetWithImageSize(target, *scrollView_);
            scrollToPageStartWithMoveDirection(true);
        }
        isNeedReload_ = false;
        if (settings_->isEnablePagePreview() && !(bookReader_ && bookReader_->getPassword())) startCacheCreator();
    } else {
        if (openBookmarkView_) {
            openBookmarkView_ = false;
        } else if (!isNowPresentJacketTrimViewController_) {
            isNeedReload_ = true;
            applyBounceRules(*scrollView_);
        }
    }

    if (scrollView_->alpha() == 0) ui::View::animate(0.5, [this] { scrollView_->setAlpha(1); });
    invaliedSingleTap_ = false;
    if (auto* nav = navigationController()) nav->setToolbarHidden(true, animated);
}

void BookViewController::viewDidAppear(bool animated) {
    ui::ViewController::viewDidAppear(animated);
    if (settings_->volumeButton() != 0) startVolumeCheck();
    disableAllBtn_ = false;
    if (isNowPushToViewController_) {
        isNowPushToViewController_ = false;
        if (auto* nav = navigationController()) nav->setNavigationBarHidden(true, false);
    }
    if (!isNowPresentJacketTrimViewController_) {
        scrollView_->setFrame(getScreenRect());
        labelMessage_->setFrame(ui::Rect(0, 0, getScreenRectWithoutBookToolView().width(), 25));
    }
    const ui::Rect area = getScreenRect();
    isLandscape_ = area.width() > area.height();
    if (isNeedReload_) {
        bookToolViewStyle_ = settings_->getBookToolviewStyle();
        if (bookReader_) bookReader_->deleteCache();
        reloadPage(false);
        isNeedReload_ = false;
        isNeedLayout_ = true;
        view()->setNeedsLayout();
    }
    isNowPresentJacketTrimViewController_ = false;
    isAfterViewWillAppearBeforeDidAppear_ = false;
    viewDidAppear_ = true;
    BookCommon::setShortcutMenu(1, fileName_);
    becomeFirstResponder();
}

void BookViewController::viewWillLayoutSubviews() {
    if (isNeedLayout_) {
        addRemoveBookToolView();
        isNeedLayout_ = false;
    }
    isiPhoneX_ = BookCommon::isDeviceType_Notch();
    safeArea_ = view()->safeAreaInsets();
}

void BookViewController::viewDidLayoutSubviews() {
    if (bookToolView_)
        bookToolView_->setPosition(getScreenRect(), safeArea_, bookToolViewStyle_, getScreenRect().width() > getScreenRect().height());
}

void BookViewController::viewWillDisappear(bool animated) {
    ui::ViewController::viewWillDisappear(animated);
    if (delegate_) delegate_->finishReadBook(fileName_);
}

void BookViewController::viewDidDisappear(bool animated) {
    ui::ViewController::viewDidDisappear(animated);
    stopVolumeCheck();
    if (isFirstResponder()) resignFirstResponder();
}

void BookViewController::startVolumeCheck() {
    auto check = VolumeButtonCheck::sharedInstance();
    check->setDelegate(this);
    check->startCheckingVolumeButton();
    volumeCheckRunning_ = true;
}

void BookViewController::stopVolumeCheck() {
    if (!volumeCheckRunning_) return;
    volumeCheckRunning_ = false;
    auto check = VolumeButtonCheck::sharedInstance();
    if (check->delegate() == this) {
        check->stopCheckingVolumeButton();
        check->setDelegate(nullptr);
    }
}

// ---- Status bar ------------------------------------------------------------------------------

bool BookViewController::prefersStatusBarHidden() const { return isOpenBar_ ? false : isHideStatusBar_; }

ui::StatusBarStyle BookViewController::preferredStatusBarStyle() const {
    return settings_ && settings_->backgroundColor() == 1 ? ui::StatusBarStyle::Default : ui::StatusBarStyle::LightContent;
}

bool BookViewController::isStatusbarBlack() const {
    const double w = BookCommon::getWindowRect().width();
    if (w == 507 || w == 320) return false;
    return settings_ && settings_->isStatusbarBlack();
}

void BookViewController::setStatusbarBkColor() {
    if (!statusBarBk_) return;
    statusBarBk_->setBackgroundColor(isStatusbarBlack() ? ui::Color::black().withAlpha(0.9) : ui::Color::whiteColor());
}

void BookViewController::checkStatusbarHideStatus() {
    if (statusBarBk_) statusBarBk_->setAlpha(BookCommon::isStatusbarExtended() ? 0 : 1);
}

void BookViewController::setStatusBarBkFrame(bool landscape) {
    if (!statusBarBk_) return;
    const double bar = BookCommon::getStatusbarHeight();
    if (landscape) {
        statusBarBk_->setFrame(ui::Rect(0, 0, BookCommon::getScreenHeight(), bar));
    } else {
        const ui::Rect f = ui::Application::shared().statusBarFrame();
        statusBarBk_->setFrame(ui::Rect(0, 0, f.width(), f.height()));
    }
}

// ---- Rotation ------------------------------------------------------------------------------

bool BookViewController::shouldAutorotate() const {
    return !(nowMovePageDo_ || isMovingPage_ || pageMoveMaskView_);
}

void BookViewController::viewWillTransitionToSize(ui::Size size,
                                                  const std::shared_ptr<ui::TransitionCoordinator>& coordinator) {
    ui::ViewController::viewWillTransitionToSize(size, coordinator);
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    auto alongside = [weak, size](const ui::TransitionCoordinatorContext&) {
        auto s = weak.lock();
        if (!s) return;
        auto* v = static_cast<BookViewController*>(s.get());
        BookCommon::viewWillTransitionToSize(size);
        v->onRotateView(size.width > size.height);
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

void BookViewController::onRotateView(bool landscape) {
    if (!scrollView_) return;
    const ui::Rect screen = BookCommon::getScreenRect();
    const double W = screen.width(), H = screen.height();
    const bool isDouble = settings_->isDoubleTruck_Local();
    setStatusBarBkFrame(landscape);
    safeArea_ = view()->safeAreaInsets();
    noPreviewInRotationProcess_ = true;
    toglleZoomNowZoom_ = false;
    setDisableDisplayView();

    const ui::Size original = displayBookPage_ ? displayBookPage_->originalSize : ui::Size{};
    const bool landscapeBand = !(bookToolViewStyle_ == kToolViewNone || bookToolViewStyle_ == kToolViewBottom);
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
    reloadPage(false);
}

void BookViewController::closeIfBackground() {
    openBookmarkView_ = false;
    closeBookWithByuser(false);
}

void BookViewController::onEnterBackground() { stopSlideshowForMove(); }

void BookViewController::onEnterForeground() {
    if (reserverReload_) {
        reserverReload_ = false;
        didRotateFromInterface();
    }
}

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
        const ui::Rect b = view()->bounds();
        activityIndicator_ = std::make_shared<ui::ActivityIndicatorView>(ui::ActivityIndicatorStyle::Medium);
        activityIndicator_->setColor(ui::Color::gray());
        activityIndicator_->setFrame(ui::Rect((b.width() - 32) / 2, (b.height() - 32) / 2, 32, 32));
        view()->addSubview(activityIndicator_);
        activityIndicator_->startAnimating();
        isMovingPage_ = true;
        movePageDoTimer_ = after(0, [this] { movePageDo(); });
        // A clear cover that takes every touch until the page is there.
        pageMoveMaskView_ = std::make_shared<ui::Control>(b);
        pageMoveMaskView_->setBackgroundColor(ui::Color::clear());
        pageMoveMaskView_->setAutoresizingMask(ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleHeight);
        view()->addSubview(pageMoveMaskView_);
        if (isStreamingMode_ && overlayFactory()) {
            streamStatusView_ = overlayFactory()(b, *this);
            if (streamStatusView_) {
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
    if (forward) StatisticsStore::sharedStatisticsStore()->incrementPageTotal();
    return true;
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
    moveThread_ = sys::Thread(
        [request, waitPreload, reader, lock, owner, generation](const std::atomic<bool>&) {
            moveLoadPageThread(request, waitPreload, reader, lock, owner, generation);
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
    checkStatusbarHideStatus();
    if (streamClosed_) {
        endMoveWaitingViews();
        nowMovePageDo_ = false;
        closeBookWithByuser(true);
        return;
    }
    if (goingCloseBook_ || !loaded.page || !scrollView_) {
        endMoveWaitingViews();
        nowMovePageDo_ = false;
        return;
    }

    auto page = loaded.page;
    displayBookPage_ = page;
    page_ = clampPage(page->targetPage);
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
            [=, this] {
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
    if (settings_->isShowBadge()) ui::Application::shared().setApplicationIconBadgeNumber(page_ + 1);
    if (!slide) nowMovePageDo_ = false;
    restartslideshow();
    onNewPageMoveForMicInput();
}

void BookViewController::finishSlide() {
    invalidTap_ = false;
    nowMovePageDo_ = false;
    isWaitForAnimationEndAndRemove_ = false;
    animationOldScreen_.reset();
    animationOldImage_.reset();
    disableSnapWhenpageMove_ = false;
    repeatHeldButtonMove();
}

void BookViewController::repeatHeldButtonMove() {
    if (bookToolView_ && bookToolView_->isLongPressContinue()) runFunction(lastPageMoveCommandIsNext_ ? 2 : 3);
}

void BookViewController::storeReadingPosition() {
    if (!bookReader_ || !displayBookPage_) return;
    BookCommon::writeFilePageInfoWithFilename(fileName_, page_, displayBookPage_->isSecondPage,
                                              isSelectedSubReadingPage_, subReadingPage_, subReadingPageIsSecound_,
                                              bookReader_->getPageNum(), bookReader_->getTargetFolder().value_or(""),
                                              displayBookPage_->is2PageLoaded, settings_->iCloudEnable());
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
    in.changeDoubleTruckMode = isChangeDoubleTruckMode_;
    in.displayPage = displayBookPage_;
    in.page = page_;
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
    if (!out.page || out.page->targetPage != page_) return;
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

// ---- Functions ---------------------------------------------------------------------------------

void BookViewController::doFunction(int32_t function) {
    if (invalidFunction_) return;
    invalidFunction_ = true;
    after(kFunctionInterval, [this] { invalidFunction_ = false; });
    if (uriToOpen_) {
        // The tap that led here hit a link: the function waits behind the
        // question whether to open it.
        functionOfUriCancel_ = function;
        linkDrawViews_.show(displayBookPage_.get(), imageViewDisplay_ && imageViewDisplay_->image()
                                                        ? imageViewDisplay_.get()
                                                        : imageView_.get());
        showLinkSheet(*uriToOpen_);
        return;
    }
    runFunction(function);
}

void BookViewController::linkSheetClicked(bool open) {
    if (!uriToOpen_) return;
    const std::string url = *uriToOpen_;
    uriToOpen_.reset();
    linkDrawViews_.removeAll();
    if (open) {
        auto& app = ui::Application::shared();
        if (app.canOpenURL(url)) {
            std::weak_ptr<ui::ViewController> weak = weak_from_this();
            app.openURL(url, [weak](bool ok) {
                if (auto s = weak.lock(); s && !ok) static_cast<BookViewController*>(s.get())->showErrorOpeningURL();
            });
        } else {
            showErrorOpeningURL();
        }
    } else {
        const int32_t deferred = functionOfUriCancel_;
        functionOfUriCancel_ = 0;
        doFunction(deferred);
    }
}

void BookViewController::runFunction(int32_t function) {
    if (!scrollView_) return;
    ui::ScrollView& sv = *scrollView_;
    switch (function) {
    case 1:
        stopMicPage();
        onTapMenuarea();
        break;
    case 2:
        isPageMoveByScroll_ = false;
        movePageOnButton(0);
        break;
    case 3:
        isPageMoveByScroll_ = false;
        movePageOnButton(1);
        break;
    case 4: changeZoomMode(); break;
    case 5: scrollPageTo(sv, true, false, true, false, true); break;
    case 6: scrollPageTo(sv, false, true, true, false, true); break;
    case 7: scrollPageTo(sv, true, false, false, true, true); break;
    case 8: scrollPageTo(sv, false, true, false, true, true); break;
    case 9: scrollPageTo(sv, true, false, false, false, true); break;
    case 10: scrollPageTo(sv, false, true, false, false, true); break;
    case 11: scrollPageTo(sv, false, false, true, false, true); break;
    case 12: scrollPageTo(sv, false, false, false, true, true); break;
    case 13: closeBookWithByuser(true); break;
    case 14: toggleZoom(1.3); break;
    case 15: toggleZoom(1.5); break;
    case 16: toggleZoom(2.0); break;
    case 17:
        isPageMoveByScroll_ = false;
        movePage(2);
        break;
    case 18:
        isPageMoveByScroll_ = false;
        movePage(3);
        break;
    case 19: {
        const bool was = settings_->isDoubleTruck_Local();
        settings_->setDoubleTruck(!was);
        displayMessage(tr(was ? "Display Double Page: OFF" : "Display Double Page: ON"), false);
        reloadPage(false);
        break;
    }
    case 20: {
        const bool wasLeft = settings_->pageDirection_Local() == 0;
        settings_->setPageDirection(wasLeft ? 1 : 0);
        displayMessage(tr(wasLeft ? "Reading Direction: Left to Right" : "Reading Direction: Right to Left"), false);
        reloadPage(false);
        break;
    }
    case 21: saveImage(); break;
    case 22: goNextBook(); break;
    case 23: goPrevBook(); break;
    case 24: switchToAnotherReadingPage(); break;
    default: break;
    }
}

void BookViewController::switchToAnotherReadingPage() {
    const int32_t other = clampPage(subReadingPage_);
    subReadingPage_ = page_;
    subReadingPageIsSecound_ = displayBookPage_ && displayBookPage_->isSecondPage;
    isSelectedSubReadingPage_ = !isSelectedSubReadingPage_;
    movePage(4, other, page_);
}

void BookViewController::movePageOnButton(int direction) {
    if (direction == 0)
        movePage(0);
    else
        movePage(1);
}

// ---- Taps ----------------------------------------------------------------------------------------

bool BookViewController::isInvalidTap() {
    if (invalidTap_ && !(invalidTapWatchdog_ && invalidTapWatchdog_->isValid())) {
        // One watchdog per stuck episode, counting from zero: a flag left set
        // by an interrupted animation is cleared within a few seconds.
        invalidTapReleaseCount_ = 0;
        invalidTapWatchdog_ = after(kInvalidTapTick, [this] { checkInvalidTap(); }, kInvalidTapTick);
    }
    return invalidTap_;
}

void BookViewController::checkInvalidTap() {
    const int32_t before = invalidTapReleaseCount_++;
    if (before > 2 || !invalidTap_) {
        if (invalidTapWatchdog_) invalidTapWatchdog_->invalidate();
        invalidTapWatchdog_.reset();
        invalidTap_ = false;
    }
}

void BookViewController::touchesBegan(const ui::TouchSet& touches, const ui::Event&) {
    singleTapReady_ = false;
    // A link belongs to the tap that found it, never to a later key or timer.
    uriToOpen_.reset();
    if (!touches.empty()) touchBeganPoint_ = touches.front()->locationInView(view());
}

void BookViewController::touchesEnded(const ui::TouchSet& touches, const ui::Event& event) {
    if (isSubFunctionMenuShown_) return;
    if (isOpenSlidershowMenu_) {
        closeslideshowMenu();
        return;
    }
    if (isInvalidTap() || touches.empty() || !scrollView_) return;

    const ui::TouchRef& ended = touches.front();
    const ui::Point p0 = (!event.allTouches.empty() ? event.allTouches.front() : ended)->locationInView(view());
    const ui::Point p = ended->locationInView(view());
    if (!(std::fabs(p.x - touchBeganPoint_.x) <= kTapSlop && std::fabs(p.y - touchBeganPoint_.y) < kTapSlop)) return;
    const int tapCount = ended->tapCount();
    touchEndndPoint_ = p;
    touchPoint_ = p;
    const ui::Point q = ended->locationInView(scrollView_.get());

    if (isOpenBar_) {
        (void)p0;
        removePageJump(1);
        return;
    }
    if (settings_->isShowStatusbar()) touchEndndPoint_.y -= BookCommon::getStatusbarHeight();

    const ui::Rect area = getScreenRect();
    const double W = area.width(), H = area.height();
    const bool swap = settings_->isSwapTapLeftRight_Local();
    const int dir = settings_->pageDirection_Local();
    const ui::EdgeInsets safe = view()->safeAreaInsets();
    const double halfView = view()->bounds().width() / 2;
    double m = settings_->tapMargin();
    if (m + 30 > halfView) m = halfView - 30;
    if (bookToolViewStyle_ == kToolViewBottomLeft && area.width() > area.height()) touchEndndPoint_.x -= kBand;
    const double x = touchEndndPoint_.x, y = touchEndndPoint_.y;
    if (y >= H || x >= W || x < 0) return;

    // Looked for only once the tap is known to resolve to a function, so a
    // link is never left behind for a later key or timer.
    if (auto link = linkAtPoint(q)) {
        std::string url = *link;
        if (url.size() >= 4 && url.rfind("http", 0) != 0) url = "http://" + url;
        uriToOpen_ = url;
        urlToOpenPoint_ = p;
    }

    const bool leftZone = x <= safe.left + m;
    const bool rightZone = W - x <= safe.right + m;
    const bool topZone = y <= m;
    const bool bottomZone = H - y <= m;
    const bool effLeft = swap ? rightZone : leftZone;
    const bool effRight = swap ? leftZone : rightZone;
    const bool forwardEdge = (leftZone && dir == 0) || (rightZone && dir != 0);
    const bool backwardEdge = (leftZone && dir != 0) || (rightZone && dir == 0);

    const PageTapConfig t = settings_->tapConfig();
    const std::pair<bool, int32_t> regions[] = {
        {effLeft && topZone, t.tapTopLeft},     {effRight && topZone, t.tapTopRight},
        {effLeft && bottomZone, t.tapBottomLeft}, {effRight && bottomZone, t.tapBottomRight},
        {forwardEdge, t.tapForwardEdge},        {backwardEdge, t.tapBackwardEdge},
        {effLeft, t.tapLeftEdge},               {effRight, t.tapRightEdge},
        {topZone, t.tapTopEdge},                {bottomZone, t.tapBottomEdge},
    };
    for (auto& [hit, function] : regions) {
        if (hit && function != 0) {
            doFunction(function);
            return;
        }
    }

    // Quarters; a point on a half line belongs to the right or bottom one.
    const bool right = x >= W / 2;
    const bool bottom = y >= H / 2;
    auto quarter = [&](bool r, bool b) {
        return b ? (r ? t.tapQuarterBottomRight : t.tapQuarterBottomLeft) : (r ? t.tapQuarterTopRight : t.tapQuarterTopLeft);
    };
    if (t.tapDouble == 0) {
        if (int32_t f = quarter(right, bottom); f != 0) {
            doFunction(f);
            return;
        }
        if (t.tapSingle != 0) {
            doFunction(t.tapSingle);
            return;
        }
    }
    const int32_t f = quarter(swap ? !right : right, bottom);
    singleTapFunction_ = f != 0 ? f : t.tapSingle;
    if (tapCount >= 2) {
        doubleTap();
    } else {
        singleTapReady_ = true;
        after(kSingleTapDelay, [this] { singleTap(); });
    }
}

void BookViewController::singleTap() {
    if (invaliedSingleTap_ || !singleTapReady_) return;
    singleTapReady_ = false;
    invaliedSingleTap_ = true;
    after(kSingleTapInterval, [this] { invaliedSingleTap_ = false; });
    doFunction(singleTapFunction_);
}

void BookViewController::doubleTap() { doFunction(settings_->tapConfig().tapDouble); }

std::optional<std::string> BookViewController::linkAtPoint(ui::Point contentPoint) {
    ui::ImageView* shown = imageViewDisplay_ && imageViewDisplay_->image() ? imageViewDisplay_.get() : imageView_.get();
    if (!shown || !scrollView_) return std::nullopt;
    return PdfLinkViews::linkAtPoint(displayBookPage_.get(), shown,
                                     shown->convertPointFrom(contentPoint, scrollView_.get()));
}

// ---- Keys and volume buttons --------------------------------------------------------------------------

std::vector<ui::KeyCommand> BookViewController::keyCommands() const {
    if (goingCloseBook_) return {};
    return keyboardCommands_;
}

void BookViewController::handleCommand(const std::string& input) {
    if (isSubFunctionMenuShown_ || isOpenSlidershowMenu_ || goingCloseBook_ || isInvalidTap() || !scrollView_) return;
    const int dir = settings_->pageDirection_Local();
    if (input == ui::KeyInput::leftArrow) {
        if (!scrollScreenHorizontal(*scrollView_, false)) doFunction(dir == 0 ? 2 : 3);
    } else if (input == ui::KeyInput::rightArrow) {
        if (!scrollScreenHorizontal(*scrollView_, true)) doFunction(dir == 0 ? 3 : 2);
    } else if (input == ui::KeyInput::upArrow) {
        scrollScreenVertical(*scrollView_, false);
    } else if (input == ui::KeyInput::downArrow) {
        scrollScreenVertical(*scrollView_, true);
    } else if (input == " ") {
        doFunction(2);
    } else {
        for (const auto& s : keyboardShortcuts_) {
            if (s.key == input) {
                doFunction(s.command);
                break;
            }
        }
    }
    removePageJump(1);
}

void BookViewController::onVolumeButton(int direction) {
    switch (settings_ ? settings_->volumeButton() : 0) {
    case 1: movePageOnButton(direction == 0 ? 0 : 1); break;
    case 2: movePageOnButton(direction == 0 ? 1 : 0); break;
    case 3:
        if (!volumeUpButtonWait_) {
            volumeUpButtonWait_ = true;
            after(kSingleTapDelay, [this] {
                if (disableVolumeupTimer_) {
                    disableVolumeupTimer_ = false;
                    return;
                }
                volumeUpButtonWait_ = false;
                movePageOnButton(0);
            });
        } else {
            movePageOnButton(1);
            disableVolumeupTimer_ = true;
            volumeUpButtonWait_ = false;
        }
        break;
    default: break;
    }
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

// ---- Closing ---------------------------------------------------------------------------------

void BookViewController::abandonWaitingMove() {
    if (movePageDoTimer_) movePageDoTimer_->invalidate();
    movePageDoTimer_.reset();
    isMovingPage_ = false;
    endMoveWaitingViews();
}

void BookViewController::closeBookWithByuser(bool byUser) {
    if (bookClosed_) return;
    bookClosed_ = true;
    abandonWaitingMove();
    abortReload_ = true;
    // A reload or a page move waiting for a stalled server ends only when the
    // stream does: cancel it before waiting for them (closing cancels it anyway).
    if (bookReader_) bookReader_->cancelStreaming();
    cancelReloads(true);
    closeBookGUIclose(byUser, true);
    goingCloseBook_ = true;
    if (moveThread_.joinable()) moveThread_.join();
    if (bookReader_) bookReader_->closeBook();
    stopMicPage();
    ui::Application::shared().setApplicationIconBadgeNumber(0);
    if (byUser) sys::FileManager::removeItem(BookCommon::getLastBookSettingFilePath());
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
    abandonWaitingMove();
    goingCloseBook_ = true;
    abortReload_ = true;
    // As when closing: nothing waited for below may still wait for the server.
    if (bookReader_) bookReader_->cancelStreaming();
    cancelReloads(true);
    std::optional<std::string> folder = bookReader_ ? bookReader_->getTargetFolder() : std::nullopt;
    if (moveThread_.joinable()) moveThread_.join();
    if (bookReader_) bookReader_->closeBook();
    stopMicPage();
    bool animation = true;
    auto keep = self();
    const bool opened = delegate_ && delegate_->reOpenNextBook(fileName_, folder, next, &animation);
    if (opened)
        popSelf(false);
    else
        closeBookGUIclose(true, animation);
}

void BookViewController::goNextBook() { closeAndOpenNextBook(true); }

void BookViewController::goPrevBook() { closeAndOpenNextBook(false); }

// ---- Messages --------------------------------------------------------------------------------

void BookViewController::displayMessage(const std::string& text, bool isLongtime) {
    if (!labelMessage_) return;
    const double inset = view()->safeAreaInsets().top;
    const double y = inset > 0 ? inset : BookCommon::getStatusbarHeight();
    ui::Rect f = labelMessage_->frame();
    f.origin.y = y;
    labelMessage_->setFrame(f);
    view()->bringSubviewToFront(labelMessage_.get());
    labelMessage_->setText(text);
    ++labelMessageShowCount_;
    auto label = labelMessage_;
    ui::View::animate(0.3, [label] { label->setAlpha(0.8); });
    after(isLongtime ? 2.0 : 1.2, [this] { hideMessageText(); });
}

void BookViewController::hideMessageText() {
    const int64_t pending = labelMessageShowCount_--;
    if (pending >= 2) return;  // a newer message keeps the line
    labelMessageShowCount_ = 0;
    auto label = labelMessage_;
    if (label) ui::View::animate(0.5, [label] { label->setAlpha(0); });
}

// ---- The session's questions and reports ----------------------------------------------------------

bool BookViewController::isPreLoadingImage() const {
    if (goingCloseBook_) return true;
    return bookReader_ && bookReader_->isPreLoadingInProcess();
}

int32_t BookViewController::priorityPage() const { return page_; }

void BookViewController::cachePage(int32_t page) {
    if (goingCloseBook_ || !bookReader_) return;
    (void)bookReader_->getLocalPageNo(page);  // the preview strip takes it from here
}

void BookViewController::updateCacheStatus(uint64_t count, const uint16_t* map, bool isPage) {
    // A map of more than 16 M entries is not a map any stream makes.
    constexpr uint64_t kMaxEntries = uint64_t(1) << 24;
    if (!map || count > kMaxEntries) return;
    if (!sys::RunLoop::isMainThread()) {
        std::vector<uint16_t> copy(map, map + count);
        std::weak_ptr<ui::ViewController> weak = weak_from_this();
        sys::RunLoop::main().post(
            [weak, copy = std::move(copy), isPage] {
                if (auto s = weak.lock())
                    static_cast<BookViewController*>(s.get())->updateCacheStatus(copy.size(), copy.data(), isPage);
            },
            ownerFromAnyThread(weak));
        return;
    }
    if (streamStatusView_) streamStatusView_->updateCacheStatus(count, map, isPage);
    if (goingCloseBook_) return;
    blockStatus_.resize(size_t(count) * 2);
    if (count) std::memcpy(blockStatus_.data(), map, size_t(count) * 2);
}

void BookViewController::updateCacheBlock(int64_t cached, int64_t blockSize, int64_t block, int64_t numBlocks) {
    if (!sys::RunLoop::isMainThread()) {
        std::weak_ptr<ui::ViewController> weak = weak_from_this();
        sys::RunLoop::main().post(
            [=] {
                if (auto s = weak.lock())
                    static_cast<BookViewController*>(s.get())->updateCacheBlock(cached, blockSize, block, numBlocks);
            },
            ownerFromAnyThread(weak));
        return;
    }
    if (streamStatusView_) streamStatusView_->updateCacheBlock(cached, blockSize, block, numBlocks);
}

void BookViewController::onCancelStreaming() {
    streamClosed_ = true;
    if (bookReader_) bookReader_->cancelStreaming();
}

// ---- Save image ----------------------------------------------------------------------------------

void BookViewController::saveImage() {
    if (!imageView_ || !displayBookPage_) return;
    ui::ImageRef shown = imageViewDisplay_ && imageViewDisplay_->image() ? imageViewDisplay_->image() : imageView_->image();
    gfx::ImageRef bitmap = shown ? shown->bitmap() : nullptr;
    if (!bitmap) return;
    const double s = BookCommon::getScreenScale();
    const ui::Point o = displayBookPage_->offset;
    const int w = bitmap->width(), h = bitmap->height();
    const int vw = int(w - 2 * o.x * s), vh = int(h - 2 * o.y * s);
    const ui::Size s1 = displayBookPage_->sourceImageSize1, s2 = displayBookPage_->sourceImageSize2;
    auto sizeText = [](const std::string& label, double a, double b) {
        char buf[128];
        std::snprintf(buf, sizeof buf, "%s(%d x %d)", label.c_str(), int(a), int(b));
        return std::string(buf);
    };
    AlertQuestion q;
    q.message = tr("Do you want to save this image?");
    q.buttons.push_back(tr("Cancel"));
    const bool has1 = s1.width > 0 && s1.height > 0;
    const bool has2 = s2.width > 0 && s2.height > 0;
    if (has1 && has2) {
        q.buttons.push_back(sizeText("ViewSize", vw, vh));
        const std::string left = sizeText(tr("Left"), s1.width, s1.height);
        const std::string right = sizeText(tr("Right"), s2.width, s2.height);
        if (settings_->pageDirection_Local() == 1) {
            q.buttons.push_back(left);
            q.buttons.push_back(right);
        } else {
            q.buttons.push_back(sizeText(tr("Right"), s1.width, s1.height));
            q.buttons.push_back(sizeText(tr("Left"), s2.width, s2.height));
        }
    } else if (has1) {
        q.buttons.push_back(sizeText("ViewSize", vw, vh));
        q.buttons.push_back(sizeText("OriginalSize", s1.width, s1.height));
    } else {
        char buf[96];
        std::snprintf(buf, sizeof buf, "\n(ImageSize: %d x %d)", vw, vh);
        q.message += buf;
        q.buttons.push_back(tr("Yes"));
    }
    saveImageShown_ = bitmap;
    pendingAlert_ = q;
    presentAlert(q);
}

void BookViewController::presentAlert(const AlertQuestion& q) {
    if (q.buttons.empty()) return;
    std::vector<std::string> others(q.buttons.begin() + 1, q.buttons.end());
    std::shared_ptr<QNAlertViewDelegate> me = self();
    auto alert = std::make_shared<QNAlertView>("", q.message, me, q.buttons.front(), others);
    alert->show(this);
}

void BookViewController::showLinkSheet(const std::string& url) {
    // The page's links are highlighted by the page views of PDF books; the
    // sheet asks what to do with this one.
    auto sheet = std::make_shared<QNActionSheet>();
    sheet->setTitle(url);
    sheet->addButtonWithTitle(tr("Open in Safari"));
    sheet->addButtonWithTitle(tr("Cancel"));
    sheet->setCancelButtonIndex(1);
    std::shared_ptr<QNActionSheetDelegate> me = self();
    sheet->setDelegate(me);
    sheet->showInView(view(), *this, ui::Rect(urlToOpenPoint_.x - 100, urlToOpenPoint_.y - 5, 200, 20));
}

void BookViewController::actionSheetClickedButtonAtIndex(QNActionSheet& sheet, int64_t index) {
    linkSheetClicked(index != sheet.cancelButtonIndex());
}

void BookViewController::showErrorOpeningURL() {
    auto alert = std::make_shared<QNAlertView>("", tr("Error opening URL."), std::weak_ptr<QNAlertViewDelegate>(),
                                               std::string("OK"), std::vector<std::string>{});
    alert->show(this);
}

void BookViewController::alertViewClickedButtonAtIndex(int64_t index) {
    if (!pendingAlert_) return;
    pendingAlert_.reset();
    gfx::ImageRef shown = std::move(saveImageShown_);
    saveImageShown_.reset();
    if (index <= 0) return;
    gfx::ImageRef image;
    if (index == 1) {
        image = shown;
        if (image && displayBookPage_) {
            const double s = BookCommon::getScreenScale();
            const ui::Point o = displayBookPage_->offset;
            if (o.x != 0 || o.y != 0) {
                const double cx = o.x * s, cy = o.y * s;
                image = ImageCommon::newClipedImage(
                    image, gfx::Rect(cx, cy, image->width() - 2 * cx, image->height() - 2 * cy));
            }
        }
    } else if (index == 2 || index == 3) {
        // The other page of a spread only when there is one.
        const int64_t page = int64_t(page_) + (index == 3 ? 1 : 0);
        if (bookReader_ && page >= 0 && page < pageCount()) image = bookReader_->getOriginalImage(int(page));
    }
    if (!image) return;
    auto album = ui::PhotoAlbum::shared();
    if (!album) {
        imageFinishSaveImage(false);
        return;
    }
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    album->saveImage(image, [weak](bool ok, const std::string&) {
        if (auto s = weak.lock()) static_cast<BookViewController*>(s.get())->imageFinishSaveImage(ok);
    });
}

void BookViewController::alertViewClickedButtonAtIndex(QNAlertView&, int64_t index) {
    alertViewClickedButtonAtIndex(index);
}

void BookViewController::imageFinishSaveImage(bool ok) {
    linkDrawViews_.removeAll();
    displayMessage(tr(ok ? "The image has been saved." : "Error Saving Image"), false);
}

// ---- Seek bar ------------------------------------------------------------------------------------

void BookViewController::addRemoveBookToolView() {
    const ui::Rect area = getScreenRect();
    const bool landscape = area.width() > area.height();
    const bool wanted = bookToolViewStyle_ != kToolViewNone && !(bookToolViewStyle_ == kToolViewBottom && landscape);
    if (wanted && bookToolView_) {
        onChangeBookToolViewPos();
    } else if (wanted) {
        bookToolView_ = std::make_shared<BookToolView>();
        bookToolView_->setDelegate(this);
        bookToolView_->setSettings(settings_);
        view()->addSubview(bookToolView_);
        bookToolView_->setPosition(area, view()->safeAreaInsets(), bookToolViewStyle_, landscape);
        bookToolView_->setPage(page_, pageCount());
        bookToolView_->onMovePage(page_, false);
        onChangeBookToolViewPos();
    } else if (bookToolView_) {
        bookToolView_->setDelegate(nullptr);
        bookToolView_->removeFromSuperview();
        bookToolView_.reset();
        onChangeBookToolViewPos();
    }
}

void BookViewController::onChangeBookToolViewPos() {
    if (!scrollView_) return;
    ui::Rect f = getScreenRect();
    f.origin.y = (!isHideStatusBar_ && !BookCommon::isDeviceType_Notch()) ? f.y() : 0;
    scrollView_->setFrame(f);
    if (bookToolView_) {
        bookToolView_->setPosition(f, view()->safeAreaInsets(), bookToolViewStyle_, f.width() > f.height());
        bookToolView_->onMovePage(page_, false);
    }
}

void BookViewController::onBookToolViewGoPrev() {
    lastPageMoveCommandIsNext_ = false;
    doFunction(3);
}

void BookViewController::onBookToolViewGoNext() {
    lastPageMoveCommandIsNext_ = true;
    doFunction(2);
}

void BookViewController::bookToolViewMovePage(int64_t page) {
    const int32_t target = clampPage(page);
    if (target == page_) return;
    animationFadeNext_ = true;
    notNotifyToBookToolView_ = true;
    if (!movePage(4, target, page_)) notNotifyToBookToolView_ = false;
}

void BookViewController::bookToolViewPagePreview(int64_t) {}

void BookViewController::bookToolViewPagePreviewEnd() {}

void BookViewController::bookToolViewScrollLock(bool locked) {
    displayMessage(tr(locked ? "Turn On Page Scroll Lock" : "Turn Off Page Scroll Lock"), true);
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
    if (&sv == scrollView_.get()) setDisableDisplayView();
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
    const bool wasByScroll = isPageMoveByScroll_;
    isPageMoveByScroll_ = true;
    if (!movePage(op)) {
        isPageMoveByScroll_ = wasByScroll;
        return;
    }
    disableSnapWhenpageMove_ = true;
    sv.setBounces(false);
    sv.stopMotion();
    // The page keeps its place on screen while the offset goes back in range.
    for (ui::View* v : {static_cast<ui::View*>(imageView_.get()), static_cast<ui::View*>(imageViewDisplay_.get())}) {
        if (!v) continue;
        ui::Rect f = v->frame();
        f.origin.x -= o.x;
        f.origin.y -= o.y;
        v->setFrame(f);
    }
    if (imageView_) offsetImageViewSet_ = imageView_->frame().origin;
    sv.scrollRectToVisible(ui::Rect(0, 0, fs.width, fs.height), false);
}
