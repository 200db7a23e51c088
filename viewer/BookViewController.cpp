// The reading screen: its life cycle, the status bar, messages, the
// session's reports and the questions it asks (saving a page, links).
// Layout and zoom, rotation, page moves and the functions live in the
// BookViewController*.cpp files beside this one.

#include "viewer/BookViewController.h"

#include "engine/BookReaderEx.h"
#include "engine/CacheCreator.h"
#include "engine/ImageCommon.h"
#include "foundation/AppDelegateServices.h"
#include "foundation/BookCommon.h"
#include "foundation/StatisticsStore.h"
#include "foundation/VolumeButtonCheck.h"
#include "foundation/ui/QNBadge.h"
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
#include "viewer/BookViewControllerInternal.h"
#include "viewer/PageReload.h"
#include "viewer/StreamBlockMapOverlay.h"
#include "viewer/StreamStatusOverlay.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>

using namespace bookviewer;

void BookViewController::setStreamStatusOverlayFactory(StreamStatusOverlayFactory factory) {
    overlayFactory() = std::move(factory);
}

BookViewController::BookViewController() = default;

BookViewController::~BookViewController() {
    stopVolumeCheck();
    removeClosingSheetViews();
    if (bvToolbar_) bvToolbar_->removeFromSuperview();
    for (auto t : observers_) sys::NotificationCenter::defaultCenter().removeObserver(t);
    // A screen going with its book still open (the program ending) waits
    // for no page being drawn: that page is abandoned.
    if (bookReader_ && !bookClosed_) bookReader_->cancelStreaming();
    if (queue_) {
        abortReload_ = true;
        queue_->cancelAllOperations();
        queue_->setSuspended(false);
        queue_->waitUntilAllOperationsAreFinished();
    }
    // A page still drawing (abandoned above) is not waited for.
    if (moveThread_.joinable()) {
        if (moveLoadInFlight_) sys::Thread::leaveToFinish(std::move(moveThread_));
        else moveThread_.join();
    }
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

    // 2. Hardware keys: the screen's own and those of the shortcuts.
    std::vector<std::string> inputs = ownKeys();
    inputs.insert(inputs.end(), shortcutKeys().begin(), shortcutKeys().end());
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
    if (writesLastReadingFileOnLoad_) writeLastReadingFile();
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
        if (bookReader_ && !firstViewRequest_) displayBookPage_ = bookReader_->loadedPage();
        const ui::Rect area = getScreenRect();
        scrollView_->setFrame(area);
        scrollView_->setUserInteractionEnabled(true);
        scrollView_->setAutoresizingMask(ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleHeight);
        if (firstViewRequest_) startFirstViewLoad();
        else showFirstView();
        isNeedReload_ = false;
        if (settings_->isEnablePagePreview() && !(bookReader_ && bookReader_->getPassword())) {
            // Its first picture is the page loading: made once that is done.
            if (firstViewLoading_) cacheCreatorAfterFirstView_ = true;
            else startCacheCreator();
        }
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

void BookViewController::showFirstView() {
    if (!displayBookPage_) return;
    const ui::Rect area = getScreenRect();
    page_ = clampPage(displayBookPage_->targetPage);
    // The first page shows on the icon as every later one does.
    if (settings_->isShowBadge()) QNBadge::changeBadge(page_ + 1);
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

void BookViewController::viewDidAppear(bool animated) {
    ui::ViewController::viewDidAppear(animated);
    if (settings_->volumeButton() != 0) startVolumeCheck();
    disableAllBtn_ = false;
    if (isNowPushToViewController_) {
        isNowPushToViewController_ = false;
        if (auto* nav = navigationController()) nav->setNavigationBarHidden(true, false);
    }
    // The window was resized or turned while another screen covered this
    // one: the page is laid out for the size it has now, as a change seen on
    // screen lays it out (it kept the old size's zoom and place).
    if (areaWhenCovered_ && !isNowPresentJacketTrimViewController_ && scrollView_) {
        const ui::Rect screen = BookCommon::getScreenRectNew();
        if (screen.size != areaWhenCovered_->first) {
            onRotateView(screen.width() > screen.height(), areaWhenCovered_->second);
            setBrightnessOrientation();
            noPreviewInRotationProcess_ = false;
            isNeedReload_ = true;
        }
    }
    areaWhenCovered_.reset();
    // Back from the settings: a changed setting (the page bar, the page's
    // shape, the gap between pages...) lays the page out anew, for the area
    // the bar leaves.
    if (isNeedReload_) {
        const int style = settings_->getBookToolviewStyle();
        if (style != bookToolViewStyle_ || (settingsWhenCovered_ && settings_->snapshot() != settingsWhenCovered_))
            relayoutOnReload_ = true;
        bookToolViewStyle_ = style;
    }
    settingsWhenCovered_.reset();
    if (!isNowPresentJacketTrimViewController_) {
        scrollView_->setFrame(getScreenRect());
        labelMessage_->setFrame(ui::Rect(0, 0, getScreenRectWithoutBookToolView().width(), 25));
    }
    const ui::Rect area = getScreenRect();
    isLandscape_ = area.width() > area.height();
    if (isNeedReload_) {
        addRemoveBookToolView();
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
    // Keys go to the screen coming in from the moment it starts to slide in.
    if (isFirstResponder()) resignFirstResponder();
    stopCacheCreator();
    settingsWhenCovered_ = settings_ ? settings_->snapshot() : nullptr;
    areaWhenCovered_.emplace(BookCommon::getScreenRectNew().size, getScreenRect());
    if (delegate_) delegate_->finishReadBook(fileName_);
}

void BookViewController::viewDidDisappear(bool animated) {
    ui::ViewController::viewDidDisappear(animated);
    stopVolumeCheck();
    // Gone from the screen (closed, or covered by another): no bar of a
    // closing sheet stays behind on the navigation controller's view.
    removeClosingSheetViews();
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

// While the preview strip is shown, the page it centres is wanted first.
int32_t BookViewController::priorityPage() const { return pagePreView_ ? previewPage_ : page_; }

void BookViewController::cachePage(int32_t page) {
    if (goingCloseBook_ || !bookReader_) return;
    const int local = bookReader_->getLocalPageNo(page);
    if (local >= 0 && pagePreView_) pagePreView_->cachedPage(local);
}

// ---- The page cache ---------------------------------------------------------------------------------

namespace {

// The builder asks from its own thread whether the screen is busy and which
// page it wants first: it is answered from copies the main thread keeps
// fresh, so it never reads the screen's state. Its reports come on the main
// thread and go straight to the screen.
class CacheQuestions final : public CacheCreatorDelegate {
public:
    CacheQuestions(BookViewController& viewer, std::shared_ptr<BookReaderEx> reader)
        : viewer_(viewer), reader_(std::move(reader)) {}

    void refresh() {
        busy_ = viewer_.isPreLoadingImage();
        page_ = viewer_.priorityPage();
    }

    bool isPreLoadingImage() const override { return busy_.load() || (reader_ && reader_->isPreLoadingInProcess()); }
    int32_t priorityPage() const override { return page_.load(); }
    void cachePage(int32_t page) override { viewer_.cachePage(page); }
    void cacheCreateFinish() override { viewer_.cacheCreateFinish(); }

private:
    BookViewController& viewer_;
    const std::shared_ptr<BookReaderEx> reader_;
    std::atomic<bool> busy_{false};
    std::atomic<int32_t> page_{0};
};

constexpr double kCacheQuestionsRefresh = 0.1;

}  // namespace

void BookViewController::startCacheCreator() {
    if (!bookReader_ || goingCloseBook_) return;
    if (!cacheQuestions_) cacheQuestions_ = std::make_shared<CacheQuestions>(*this, bookReader_);
    auto* questions = static_cast<CacheQuestions*>(cacheQuestions_.get());
    questions->refresh();
    if (!cacheQuestionsTimer_) {
        std::weak_ptr<CacheCreatorDelegate> weak = cacheQuestions_;
        cacheQuestionsTimer_ = sys::RunLoop::main().schedule(
            kCacheQuestionsRefresh,
            [weak] {
                if (auto q = weak.lock()) static_cast<CacheQuestions*>(q.get())->refresh();
            },
            kCacheQuestionsRefresh, sys::RunLoop::Owner(weak));
    }
    if (!cacheCreator_) {
        cacheCreator_ = std::make_shared<CacheCreator>();
        cacheCreator_->setDelegate(questions);
    }
    cacheCreator_->setUserName(userName_);
    cacheCreator_->setPassword(password_.empty() ? std::nullopt : std::optional<std::string>(password_));
    cacheCreator_->startCacheCreator(page_, fileName_, bookReader_->getTargetFolder(), bookReader_->otherFiles(),
                                     bookReader_->lbexpand(), bookReader_->getPassword());
}

void BookViewController::stopCacheCreator() {
    if (cacheQuestionsTimer_) {
        cacheQuestionsTimer_->invalidate();
        cacheQuestionsTimer_.reset();
    }
    // Not waited for: a page it draws may take a while to give up.
    if (cacheCreator_) cacheCreator_->stopCacheCreator();
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
    if (blockMapView_) blockMapView_->updateCacheStatus(count, map, isPage);
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
