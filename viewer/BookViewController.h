#pragma once

#include "engine/BookPage.h"
#include "engine/PageLoadRequest.h"
#include "engine/RemoteStreamRead.h"
#include "foundation/BookViewControllerDelegate.h"
#include "foundation/Settings.h"
#include "foundation/VolumeButtonCheckDelegate.h"
#include "foundation/ui/QNActionSheetDelegate.h"
#include "foundation/ui/QNAlertViewDelegate.h"
#include "platform/core/Date.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/OperationQueue.h"
#include "platform/core/RunLoop.h"
#include "platform/core/Thread.h"
#include "platform/ui/ActivityIndicatorView.h"
#include "platform/ui/Button.h"
#include "platform/ui/Control.h"
#include "platform/ui/ImageView.h"
#include "viewer/PdfLinkViews.h"
#include "platform/ui/KeyCommand.h"
#include "platform/ui/Label.h"
#include "platform/ui/Slider.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/ViewController.h"
#include "viewer/BookPagePreView.h"
#include "viewer/BookMarkViewController.h"
#include "viewer/LevelMeterView.h"
#include "viewer/MicInput.h"
#include "viewer/MicSettingViewControllerDelegate.h"
#include "viewer/JacketTrimControllerDelegate.h"
#include "viewer/BookToolView.h"
#include "viewer/BookViewScreen.h"
#include "viewer/LBPageLabel.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class BookReaderEx;
class CacheCreator;
class CacheCreatorDelegate;
class StreamStatusOverlay;
class StreamBlockMapOverlay;

// The reading screen of one open book: the page in a zoomable scroll view,
// page turns by taps, swipes, keys, volume buttons and the seek bar, zoom
// modes, rotation, and closing.
//
// The opener (a file list) makes it with std::make_shared, hands it a
// session that is open and has its first page loaded (or the request for
// its first view, which the screen then loads on its worker, showing the
// page's loading indicator meanwhile), sets the properties below and
// pushes it on its navigation controller:
//
//     auto viewer = std::make_shared<BookViewController>();
//     viewer->setBookReader(session);          // BookReaderEx, first page loaded
//     viewer->setFileName(fullPathOrUrl);
//     viewer->setPage(startPage);
//     viewer->setSettings(settings);           // with the book's overlay (setTargetBook)
//     viewer->setIsLandscape(landscape);
//     viewer->setStartTime(sys::Date::now());
//     viewer->setIsStreamingMode(false);
//     viewer->setDelegate(this);               // BookViewControllerDelegate, not owned
//     viewer->setOpenFolder(folder);
//     navigationController()->pushViewController(viewer, true);
//
// Everything runs on the main thread except two loaders: a page move loads
// on a worker thread of its own, and sharper reloads after a zoom or a turn
// of the screen run as PageReload operations on the screen's queue. Both
// hold the screen's load lock while they load, so they never load at the
// same time; both get what they need by value and post their result back.
class BookViewController : public ui::ViewController,
                           public ui::ScrollViewDelegate,
                           public BookToolViewDelegate,
                           public VolumeButtonCheckDelegate,
                           public RemoteStreamReadDelegate,
                           public QNAlertViewDelegate,
                           public QNActionSheetDelegate,
                           public BookPagePreViewDelegate,
                           public BookMarkViewControllerDelegate,
                           public MicInputDelegate,
                           public MicSettingViewControllerDelegate,
                           public JacketTrimControllerDelegate {
public:
    // Zoom modes (as stored in the settings' order list).
    enum ZoomMode { kZoomCustom = 0, kZoomMaximum = 1, kZoomFitWidth = 2, kZoomFitHeight = 3, kZoomFitImage = 4 };
    // Seek-bar positions (the "bookToolView" setting's codes).
    enum ToolViewStyle { kToolViewNone = 0, kToolViewBottomLeft = 1, kToolViewBottomRight = 2, kToolViewBottom = 3 };

    // What a reload takes from the main thread when it is queued, and what
    // comes back. The reload never touches the screen from its thread.
    struct ReloadInput {
        std::shared_ptr<BookReaderEx> reader;
        std::shared_ptr<std::mutex> loadLock;
        ui::Rect rect;                // the page area; only its size is used
        ui::Size contentSize;         // the scroll view's, when queued
        double zoomScale = 1;         // the scroll view's, when queued
        int zoomModeForRotation = 0;  // Settings::getZoomModeForUseWithRotation
        bool changeDoubleTruckMode = false;
        std::shared_ptr<const BookPage> displayPage;  // the page on screen when queued
        int32_t page = 0;
        uint64_t token = 0;       // which reload this is
        uint64_t generation = 0;  // which page move it belongs after
    };
    struct ReloadOutput {
        std::shared_ptr<const BookPage> page;  // null when the reload was given up
        ui::Point centerPosForReload;
        bool usedChangeDoubleTruckMode = false;
        uint64_t token = 0;
        uint64_t generation = 0;
        std::shared_ptr<const BookPage> basedOn;
        int32_t askedPage = 0;
    };

    BookViewController();
    ~BookViewController() override;

    // ---- Set by the opener before the screen is shown ------------------------------
    void setBookReader(std::shared_ptr<BookReaderEx> reader) { bookReader_ = std::move(reader); }
    const std::shared_ptr<BookReaderEx>& bookReader() const { return bookReader_; }
    void setFileName(const std::string& name) { fileName_ = name; }
    const std::string& fileName() const { return fileName_; }
    // Clamped to the book's pages when the screen loads.
    void setPage(int32_t page) { page_ = page; }
    int32_t page() const { return page_; }
    void setSettings(std::shared_ptr<Settings> settings) { settings_ = std::move(settings); }
    const std::shared_ptr<Settings>& settings() const { return settings_; }
    void setIsLandscape(bool on) { isLandscape_ = on; }
    bool isLandscape() const { return isLandscape_; }
    void setStartTime(sys::Date t) { startTime_ = t; }
    sys::Date startTime() const { return startTime_; }
    void setIsStreamingMode(bool on) { isStreamingMode_ = on; }
    // The first view is not loaded yet (a large picture's decoding, a PDF
    // page's drawing may take long): the screen loads it with this request
    // as it appears, as a page move loads its page, and answers meanwhile
    // (Escape closes the book). The covers wait while it loads, and so do
    // the page pictures of the preview strip, so that its picture is not
    // decoded twice at once.
    void setFirstViewRequest(const PageLoadRequest& request) { firstViewRequest_ = request; }
    // What the opener does when that first view wants the book's password
    // (entries encrypted under names that are not): the screen goes at once,
    // without a slide, and this is called to ask for it.
    void setFirstViewPasswordHandler(std::function<void()> handler) { firstViewPasswordHandler_ = std::move(handler); }
    // The first view is loading on the worker.
    bool isFirstViewLoading() const { return firstViewLoading_; }
    bool isStreamingMode() const { return isStreamingMode_; }
    void setUserName(const std::string& v) { userName_ = v; }
    void setPassword(const std::string& v) { password_ = v; }
    void setDelegate(BookViewControllerDelegate* d) { delegate_ = d; }
    BookViewControllerDelegate* delegate() const { return delegate_; }
    void setOpenFolder(const std::string& folder) { openFolder_ = folder; }
    const std::string& openFolder() const { return openFolder_; }
    // Whether the screen, as it loads, records its book as the open
    // folder's last one read (on by default); off, the opener records it
    // with writeLastReadingFile once the first frame is out.
    void setWritesLastReadingFileOnLoad(bool on) { writesLastReadingFileOnLoad_ = on; }
    void writeLastReadingFile();

    // ---- Called by the application shell ---------------------------------------------
    void closeIfBackground();
    void onEnterBackground();
    void onEnterForeground();

    // ---- Geometry ---------------------------------------------------------------------
    // The page area for a status-bar choice and seek-bar style.
    static ui::Rect getBookviewAreaRect(bool statusBarHidden, int bookToolviewStyle);
    ui::Rect getScreenRect() const;
    ui::Rect getScreenRectWithoutBookToolView() const;
    double getStatusbarHeightForFlag() const;

    // ---- Zoom ---------------------------------------------------------------------------
    static std::vector<std::string> createArrayZoomModeStringList();
    static double calcMinZoomWithScreenRectNoLimit(const ui::Rect& rect, ui::Size size);
    static double calcMinZoomWithScreenRect(const ui::Rect& rect, ui::Size size);
    static double calcMaxZoomWithScreenRect(const ui::Rect& rect, ui::Size size);
    double calcSizeZoomFitToWidth(ui::Size image) const;
    double calcSizeZoomFitToHeight(ui::Size image) const;
    double calcSizeZoomFitToImage(ui::Size image) const;
    double calcMinZoom(ui::Size image) const;
    double calcMaxZoom(ui::Size image) const;
    double getZoomScaleTo(int mode) const;
    // The mode after `mode` among the enabled ones of the settings' order list.
    int getNextMode(int mode) const;
    void changeZoomMode();
    void setZoomTo(int mode, double scale);
    void toggleZoom(double factor);
    int zoomMode() const { return zoomMode_; }

    // ---- Page moves ----------------------------------------------------------------------
    // op: 0 next, 1 previous, 2 next single page, 3 previous single page,
    // 4 jump to `page` (from `oldPage`). True when a move was started.
    bool movePage(int op) { return movePage(op, 0, 0); }
    bool movePage(int op, int32_t page, int32_t oldPage);
    void reloadPage(bool wait);
    // The loader of a reload (its own thread; touches nothing of the screen).
    static ReloadOutput reloadPageDo(const ReloadInput& in, const sys::Operation* op);
    void reloadPageFinish(const ReloadOutput& out);

    // ---- Functions, taps, keys and buttons ---------------------------------------------------
    // Runs viewer function `function` (1-24); at most one per 0.1 s.
    void doFunction(int32_t function);
    bool isInvalidTap();
    void handleCommand(const std::string& input);
    // Escape: closes the panel or menu in front, else the book.
    void escapeKey();
    void movePageOnButton(int direction);
    void onVolumeButton(int direction) override;

    // ---- Scrolling --------------------------------------------------------------------------
    static void scrollPageTo(ui::ScrollView& sv, bool left, bool right, bool top, bool bottom, bool animated);
    static void scrollScreenVertical(ui::ScrollView& sv, bool down);
    static bool scrollScreenHorizontal(ui::ScrollView& sv, bool right);
    void scrollToPageStartWithMoveDirection(bool forward);

    // ---- Closing ---------------------------------------------------------------------------
    void closeBookWithByuser(bool byUser, bool animated = true);
    void closeBookGUIclose(bool byUser, bool animation);
    void closeAndOpenNextBook(bool next);
    void goNextBook();
    void goPrevBook();

    // ---- Messages ----------------------------------------------------------------------------
    void displayMessage(const std::string& text, bool isLongtime);
    void hideMessageText();

    // ---- The reading session's questions and reports ---------------------------------------
    bool isPreLoadingImage() const;
    int32_t priorityPage() const;
    void cachePage(int32_t page);
    void cacheCreateFinish() {}
    void finishPreRead(int32_t, int32_t, bool) {}
    void updateCacheStatus(uint64_t count, const uint16_t* map, bool isPage) override;
    void updateCacheBlock(int64_t cached, int64_t blockSize, int64_t block, int64_t numBlocks) override;
    void onCancelStreaming();

    // How a streamed book's overlay is made (the remote sources install it:
    // it lives above this layer). Without one no overlay is shown.
    using StreamStatusOverlayFactory =
        std::function<std::shared_ptr<StreamStatusOverlay>(const ui::Rect& frame, BookViewController& viewer)>;
    static void setStreamStatusOverlayFactory(StreamStatusOverlayFactory factory);
    // How the menu sheet's block map of a streamed book is made (the remote
    // sources install it). Without one the sheet shows no map.
    using BlockMapViewFactory = std::function<std::shared_ptr<StreamBlockMapOverlay>(const ui::Rect& frame)>;
    static void setBlockMapViewFactory(BlockMapViewFactory factory);

    // A question put to the user: the message, the buttons (index 0 is the
    // cancel button) and who answers it.
    struct AlertQuestion {
        std::string message;
        std::vector<std::string> buttons;
    };
    const std::optional<AlertQuestion>& pendingAlert() const { return pendingAlert_; }
    // The answer to the save-image question (0 cancel, 1 shown image, 2 first
    // original, 3 second original).
    void alertViewClickedButtonAtIndex(int64_t index);
    void alertViewClickedButtonAtIndex(QNAlertView& alert, int64_t index) override;
    // The photo album's answer.
    void imageFinishSaveImage(bool ok);
    // The answer to the open-link question: open it, or run the function the
    // tap stood for.
    void linkSheetClicked(bool open);
    void actionSheetClickedButtonAtIndex(QNActionSheet& sheet, int64_t index) override;

    // ---- Seek bar ------------------------------------------------------------------------------
    void addRemoveBookToolView();
    void onChangeBookToolViewPos();
    void onBookToolViewGoPrev() override;
    void onBookToolViewGoNext() override;
    void bookToolViewMovePage(int64_t page) override;
    void bookToolViewPagePreview(int64_t page) override;
    void bookToolViewPagePreviewEnd() override;
    void bookToolViewScrollLock(bool locked) override;

    // ---- Menu sheet: page slider, page label, close button, tool bar -----------------------------
    // Opens the sheet (function 1).
    virtual void onTapMenuarea();
    // Closes it: 0 at once, 1 with a fade, 2 fading everything and closing
    // the book, 3 before the settings screen is pushed.
    virtual void removePageJump(int mode);
    virtual void reconfigJumpSheet();
    void boolCloseButton();
    void onPageLeftBtn();
    void onPageRightBtn();
    void pageJumpDrawStatus();
    void drawPageName(int32_t page);
    void showPagePreview(bool show);
    void onSliderTouch();
    void onSliderValueChange();
    void onPageSeekEnd();
    void sliderJumpSelect() { pageJumpDo(); }
    void pageJumpDo();
    // The slider's page: rounded, and with two pages side by side the
    // first page of the view that holds it.
    int32_t sliderPageNumber() const;
    void onLabelTouch();
    // The preview strip's questions.
    void selectPage(int32_t page) override;
    void previewPage(int32_t page) override;
    std::optional<std::string> getNameFromPage(int32_t page) override;

    // ---- The sheet's tool bar ----------------------------------------------------------------------
    std::vector<ui::BarButtonItem::Ref> arrayBookViewToolbarButtonItems(bool canAddBookmark, bool isNowPagePreview);
    void hideBvToolbar();
    void sizeBvToolbar();
    void onSettingsBtn();
    void onRotationLock();
    void onBrightnessControl();
    void onPagePreview();
    // The detail menu over the sheet: set as cover, slideshow and sound
    // page turns, and a close button.
    void onDetailMenuBtn();
    void configPosDetailMenuBtn();
    void closeSubMenu();
    // How the settings screen is made (it lives above this layer). Without
    // one the settings button only closes the sheet.
    using SettingScreenFactory = std::function<std::shared_ptr<ui::ViewController>(std::shared_ptr<Settings>)>;
    static void setSettingScreenFactory(SettingScreenFactory factory);

    // ---- Next and previous book, covers ---------------------------------------------------------------
    void hideNextButton();
    ui::Button* buttonNextBook() const { return buttonNextBook_.get(); }
    bool buttonNextBookIsPrevious() const { return buttonNextBookIsPrevious_; }
    // Writes the book's cover from `image`; true when it was written.
    bool updateJacket(const gfx::ImageRef& image);
    bool jacketCreated() const { return jacketCreated_; }
    // The cover crop screen, made by the application for the page image.
    using JacketTrimScreenFactory = std::function<std::shared_ptr<ui::ViewController>(
        std::shared_ptr<const ui::Image>, std::weak_ptr<JacketTrimControllerDelegate>)>;
    static void setJacketTrimScreenFactory(JacketTrimScreenFactory factory);
    void endTrimJacket(const ui::Rect& rect, const std::shared_ptr<const ui::Image>& image) override;
    void cancelTrimJacket() override;
    virtual void stopMicPage();
    virtual void stopSlideshowForMove();
    virtual void restartslideshow();
    virtual void onNewPageMoveForMicInput();
    virtual void closeslideshowMenu();
    virtual void displayNextBookButton(bool next);
    // A running slideshow or sound mode that starts again at the first page.
    virtual bool repeatsFromFirstPage() const;
    virtual void createJacketIfNoJacket(const gfx::ImageRef& image, ui::Point offset);
    // The page cache made in the background while the book is open.
    virtual void startCacheCreator();
    void stopCacheCreator();
    virtual void setBrightnessOrientation() {}
    // The menu sheet's buttons of pieces still to come (slideshow, sound
    // page turns, keeping the screen awake, bookmarks, the brightness panel).
    virtual void onslideshowBtn();
    virtual void onMicPageBtn();

    // ---- Page turns by sound -----------------------------------------------------------------------------
    void btnCloseMicinputMenu();
    void cancelMicPageMenu();
    void saveMicPageConfig();
    // Lends the running monitor to the microphone settings screen; sound
    // mode ends when that screen hands it back.
    void micConfigureBtn();
    void returnMicInputObject(const std::shared_ptr<MicInput>& micInput) override;
    using MicSettingScreenFactory = std::function<std::shared_ptr<ui::ViewController>(
        std::shared_ptr<Settings>, std::weak_ptr<MicSettingViewControllerDelegate>, std::shared_ptr<MicInput>)>;
    static void setMicSettingScreenFactory(MicSettingScreenFactory factory);
    void onUpdateMicLevel(double level, double peak) override;
    void didFirstMicEvent() override;
    void didSingleMicEvent() override;
    void didSpecialMicEvent() override;
    void readyForNext() override;
    const std::shared_ptr<MicInput>& micInput() const { return micInput_; }
    bool micDetectStart() const { return micDetectStart_; }
    LevelMeterView* micLevelMeter() const { return micLevelMeter_.get(); }
    virtual void onDontSleepBtn();
    virtual bool isDontSleep() const { return isDontSleep_; }
    virtual bool canAddBookmark(int32_t page) const;
    virtual void onOpenBookmarkBtn();
    virtual void onAddBookmarkBtn();
    virtual void showBrightnessPanel();

    // ---- Bookmarks ----------------------------------------------------------------------------------
    void addBookmark() { onAddBookmarkBtn(); }
    void showBookmarkList() { onOpenBookmarkBtn(); }
    void selectBookmark(int32_t page) override;
    void cancelBookmarkOpen() override;
    const std::shared_ptr<BookMarkViewController>& bookMarkViewController() const { return bookMarkViewController_; }
    bool canAddBookmarkNow() const { return canAddBookmark_; }

    // ---- Slideshow ----------------------------------------------------------------------------------
    void startSlideShow() { if (!isSlidershowMode_) onslideshowBtn(); }
    ui::Button* btnSlideShow() const { return btnSlideShow_.get(); }
    void showSlideshowMenu(bool start);
    void btnCloseSlideshowMenu();
    void onStopSlideshowBtn();
    void onSlideshowRepeatBtn();
    void saveSlideshowConfig();
    void stopSlidershow();
    void autoScrollStart();
    void autoScroll();
    void autoScrollEnd();
    // Slider positions and times: 1 is half a second, 2 one second, then v - 1.
    static double slideshowTimeFromSlider(double value);
    static double slideshowSliderFromTime(double time);
    static std::string slideshowTimeText(double time);
    bool isSlidershowMode() const { return isSlidershowMode_; }
    bool isOpenSlidershowMenu() const { return isOpenSlidershowMenu_; }
    int32_t slideshowStep() const { return slideshowStep_; }
    ui::View* subfunctionMenu() const { return viewSubfunctionsMenuBg_.get(); }
    ui::Slider* slideshowSlider(int which) const { return which == 1 ? slideshowSlider1_.get() : slideshowSlider2_.get(); }
    // Sets the page on screen as the book's cover.
    void onSetJacketBtn();

    // ---- View controller ---------------------------------------------------------------------
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void viewDidDisappear(bool animated) override;
    void viewWillLayoutSubviews() override;
    void viewDidLayoutSubviews() override;
    bool prefersStatusBarHidden() const override;
    ui::StatusBarStyle preferredStatusBarStyle() const override;
    ui::StatusBarAnimation preferredStatusBarUpdateAnimation() const override { return ui::StatusBarAnimation::Slide; }
    bool prefersHomeIndicatorAutoHidden() const override { return true; }
    bool shouldAutorotate() const override;
    // The program's rotation lock (the library's and this screen's lock button).
    unsigned supportedInterfaceOrientations() const override;
    void viewWillTransitionToSize(ui::Size size, const std::shared_ptr<ui::TransitionCoordinator>& c) override;
    // `before` is the page area the screen had before the size changed.
    void onRotateView(bool landscape, std::optional<ui::Rect> before = std::nullopt);
    void didRotateFromInterface();

    // ---- Responder ---------------------------------------------------------------------------
    void touchesBegan(const ui::TouchSet& touches, const ui::Event& event) override;
    void touchesMoved(const ui::TouchSet&, const ui::Event&) override {}
    void touchesEnded(const ui::TouchSet& touches, const ui::Event& event) override;
    void touchesCancelled(const ui::TouchSet&, const ui::Event&) override {}
    std::vector<ui::KeyCommand> keyCommands() const override;
    bool canBecomeFirstResponder() const override { return true; }
    // The hardware keys the screen answers, all without modifiers: its own,
    // which do their work whatever the shortcuts say (the arrows, space and
    // the page keys scroll and turn, Home and End go to the ends of the book,
    // Escape backs out), and those a keyboard shortcut may take.
    static const std::vector<std::string>& ownKeys();
    static const std::vector<std::string>& shortcutKeys();

    // ---- Scroll view ---------------------------------------------------------------------------
    ui::View* viewForZoomingInScrollView(ui::ScrollView& sv) override;
    void scrollViewWillBeginZooming(ui::ScrollView&, ui::View*) override;
    void scrollViewDidEndZooming(ui::ScrollView& sv, ui::View* view, double scale) override;
    void scrollViewDidScroll(ui::ScrollView& sv) override;
    void scrollViewWillBeginDecelerating(ui::ScrollView& sv) override;
    // The wheel past the page's edge (or on a page that fits) turns the
    // page as a swipe that way would: down or right onwards in the reading
    // direction, once per notch's worth of movement.
    bool scrollViewWheelPastEdge(ui::ScrollView& sv, double dx, double dy) override;
    static constexpr double kWheelTurnDistance = 40;
    void setDisableDisplayView();

    // ---- State, for the screen's other pieces and for tests -----------------------------------
    BookViewScreen* scrollView() const { return scrollView_.get(); }
    ui::ImageView* imageView() const { return imageView_.get(); }
    ui::ImageView* imageViewDisplay() const { return imageViewDisplay_.get(); }
    const std::shared_ptr<const BookPage>& displayBookPage() const { return displayBookPage_; }
    BookToolView* bookToolView() const { return bookToolView_.get(); }
    ui::Label* labelMessage() const { return labelMessage_.get(); }
    ui::ActivityIndicatorView* activityIndicator() const { return activityIndicator_.get(); }
    ui::View* pageMoveMaskView() const { return pageMoveMaskView_.get(); }
    bool isMovingPage() const { return isMovingPage_; }
    bool nowMovePageDo() const { return nowMovePageDo_; }
    // A page move's worker is loading.
    bool isPageMoveLoading() const { return moveLoadInFlight_; }
    bool isNowReloading() const { return isNowReloading_; }
    bool isGoingCloseBook() const { return goingCloseBook_; }
    bool isOpenBar() const { return isOpenBar_; }
    bool invalidTap() const { return invalidTap_; }
    int32_t invalidTapReleaseCount() const { return invalidTapReleaseCount_; }
    double userUseScale() const { return userUseScale_; }
    float zoomScaleUser() const { return zoomScaleUser_; }
    int bookToolViewStyle() const { return bookToolViewStyle_; }
    int32_t subReadingPage() const { return subReadingPage_; }
    bool isSelectedSubReadingPage() const { return isSelectedSubReadingPage_; }
    const std::vector<Settings::KeyboardShortcut>& keyboardShortcuts() const { return keyboardShortcuts_; }
    ui::Point touchEndndPoint() const { return touchEndndPoint_; }
    const std::optional<std::string>& uriToOpen() const { return uriToOpen_; }
    const PdfLinkViews& linkDrawViews() const { return linkDrawViews_; }
    int32_t reloadCount() const { return reloadCount_; }
    // Held, page loads of the screen wait before they start.
    const std::shared_ptr<std::mutex>& pageLoadLock() const { return loadLock_; }
    // Reloads queued or under way on the worker (one whose result is posted
    // to the main loop is no longer counted).
    size_t reloadsOnWorker() const { return queue_ ? queue_->operationCount() : 0; }
    ui::View* viewSliderBG() const { return viewSliderBG_.get(); }
    ui::Slider* sliderPage() const { return sliderPage_.get(); }
    LBPageLabel* labelPageJump() const { return labelPageJump_.get(); }
    ui::Label* labelFilename() const { return labelFilename_.get(); }
    ui::Button* closeButton() const { return closeButton_.get(); }
    ui::Button* pageLeftBtn() const { return pageLeftBtn_.get(); }
    ui::Button* pageRightBtn() const { return pageRightBtn_.get(); }
    ui::Toolbar* bvToolbar() const { return bvToolbar_.get(); }
    StreamBlockMapOverlay* blockMapView() const { return blockMapView_.get(); }
    ui::View* detailMenu() const { return viewMenuBtns_.get(); }
    BookPagePreView* pagePreView() const { return pagePreView_.get(); }
    int32_t previewPageNo() const { return previewPage_; }
    ui::View* bookToolViewPreview() const { return bookToolViewPreview_.get(); }
    ui::ImageView* bookToolViewPreviewImage() const { return bookToolViewPreviewImage_.get(); }
    ui::Label* labelPage() const { return labelPage_.get(); }

protected:
    // Runs one function without the 0.1-second gate or the link question.
    virtual void runFunction(int32_t function);
    // Taps and keys are refused while set (page-turn and menu animations).
    void setInvalidTap(bool on) { invalidTap_ = on; }
    // The link under a tap on the page, if the page has links (PDF pages).
    virtual std::optional<std::string> linkAtPoint(ui::Point contentPoint);
    // Shows the save-image question; the answer comes to alertViewClickedButtonAtIndex.
    virtual void presentAlert(const AlertQuestion& question);
    // Asks whether to open a link hit by a tap; the answer comes to linkSheetClicked.
    virtual void showLinkSheet(const std::string& url);

private:
    struct MoveResult {
        std::shared_ptr<const BookPage> page;
        int result = 2;
    };

    std::shared_ptr<BookViewController> self();
    sys::RunLoop::TimerRef after(double delay, std::function<void()> fn, double repeat = 0);
    std::shared_ptr<BookViewScreen> makeScreen(const ui::Rect& frame, ui::Size originalSize);
    void applyBounceRules(ui::ScrollView& sv) const;
    void contentSizeSetWithImageSize(ui::Size size, ui::ScrollView& sv) const;
    PageLoadRequest makeMoveRequest(int op, int32_t page, bool forward) const;
    // The loading indicator of a page, and the clear cover that takes every
    // touch until the page is there.
    void showMoveWaitingViews();
    // Waits for the page move's worker and closes the session; with a page
    // still loading, leaves both to finish off the main thread.
    void finishLoadsAndCloseBook();
    // Lays out the loaded first view (displayBookPage_) in the scroll view.
    void showFirstView();
    void startFirstViewLoad();
    int32_t clampPage(int64_t page) const;
    int32_t pageCount() const;

    void movePageDo();
    static void moveLoadPageThread(PageLoadRequest request, bool waitPreload, std::shared_ptr<BookReaderEx> reader,
                                   std::shared_ptr<std::mutex> loadLock, std::weak_ptr<ui::ViewController> owner,
                                   uint64_t generation);
    void movePageLoadFinish(const MoveResult& loaded, uint64_t generation);
    // A page the server refused for the credentials: the list asks for them
    // and opens the book again; this screen closes. False when nobody asks.
    bool closeForServerPassword();
    void endMoveWaitingViews();
    void finishSlide();
    void repeatHeldButtonMove();
    // Runs the keys kept while a page moved, once nothing moves.
    void takePendingKey();
    void runKey(const std::string& input);
    void storeReadingPosition();
    void cancelReloads(bool wait);
    void popSelf(bool animated);
    void showErrorOpeningURL();
    void abandonWaitingMove();

    void singleTap();
    void doubleTap();
    void saveImage();
    void switchToAnotherReadingPage();
    void checkInvalidTap();

    void setStatusBarBkFrame(bool landscape);
    void setStatusbarBkColor();
    bool isStatusbarBlack() const;
    void checkStatusbarHideStatus();
    void applyBackgroundColor();
    void startVolumeCheck();
    void stopVolumeCheck();
    void recreateThumbs();
    void timerDisableScrollMove();

    // Set by the opener.
    std::shared_ptr<BookReaderEx> bookReader_;
    std::string fileName_;
    int32_t page_ = 0;
    // The page read alone before a turn paired it with the one before it:
    // shown again when the pair is laid out as one page. -1: none.
    int32_t pageBeforePair_ = -1;
    std::shared_ptr<Settings> settings_;
    bool isLandscape_ = false;
    sys::Date startTime_;
    bool isStreamingMode_ = false;
    std::string userName_, password_;
    BookViewControllerDelegate* delegate_ = nullptr;
    std::string openFolder_;
    bool writesLastReadingFileOnLoad_ = true;

    // Views.
    std::shared_ptr<BookViewScreen> scrollView_;
    std::shared_ptr<ui::ImageView> imageView_;
    std::shared_ptr<ui::ImageView> imageViewDisplay_;
    std::shared_ptr<ui::View> statusBarBk_;
    std::shared_ptr<ui::Label> labelMessage_;
    std::shared_ptr<BookToolView> bookToolView_;
    std::shared_ptr<ui::ActivityIndicatorView> activityIndicator_;
    std::shared_ptr<ui::Control> pageMoveMaskView_;
    std::shared_ptr<StreamStatusOverlay> streamStatusView_;

    // Pages.
    std::shared_ptr<const BookPage> displayBookPage_;
    std::shared_ptr<const BookPage> reloadedBookPage_;
    ui::Point centerPosForReload_;

    // Zoom.
    int32_t zoomMode_ = 0;
    float zoomScaleUser_ = 1;
    double userUseScale_ = 1;
    bool toglleZoomNowZoom_ = false;
    double beforeZoomToggleScale_ = 1;

    // Layout.
    int32_t bookToolViewStyle_ = 0;
    bool isHideStatusBar_ = true;
    bool isStatusBarHeight_ = false;
    double statusbarHeight_ = 0;
    bool isiPhoneX_ = false;
    ui::EdgeInsets safeArea_;

    // Flags.
    bool isThereLoadedImage_ = false;
    bool isNeedReload_ = false;
    // The next reload lays the page out anew for the screen's area (the page
    // bar came or went) instead of keeping the size it is shown at.
    bool relayoutOnReload_ = false;
    // The settings as they were when another screen covered this one: a
    // change made there lays the page out anew on return.
    std::shared_ptr<const SettingsValues> settingsWhenCovered_;
    // The window's size and the page's area when another screen covered this
    // one: only the screen in front hears of a resize or a turn meanwhile.
    std::optional<std::pair<ui::Size, ui::Rect>> areaWhenCovered_;
    bool isNeedLayout_ = false;
    bool goingCloseBook_ = false;
    bool bookClosed_ = false;
    bool abortReload_ = false;
    bool isAfterViewWillAppearBeforeDidAppear_ = false;
    bool viewDidAppear_ = false;
    bool isOpenBar_ = false;
    bool isNowPresentJacketTrimViewController_ = false;
    bool isNowPushToViewController_ = false;
    bool openBookmarkView_ = false;
    bool disableAllBtn_ = false;
    bool reserverReload_ = false;
    bool noPreviewInRotationProcess_ = false;
    // The next reload composes the page at the zoom mode's size (a turn
    // between one and two pages, or into another orientation), not at the
    // size shown now.
    bool isChangeDoubleTruckMode_ = false;
    int64_t disableScrollMove_ = 0;
    bool disableSnapWhenpageMove_ = false;
    ui::Point offsetImageViewSet_;

    // Reading positions.
    bool isSelectedSubReadingPage_ = false;
    int32_t subReadingPage_ = 0;
    bool subReadingPageIsSecound_ = false;

    // The first view, when the screen loads it itself (setFirstViewRequest).
    std::optional<PageLoadRequest> firstViewRequest_;
    bool firstViewLoading_ = false;
    std::function<void()> firstViewPasswordHandler_;
    // The page pictures wait for the first view.
    bool cacheCreatorAfterFirstView_ = false;

    // Page moves.
    PageLoadRequest movePageTarget_{};
    bool isMovingPage_ = false;
    bool nowMovePageDo_ = false;
    bool moveLoadInFlight_ = false;
    bool moveWithIndicator_ = false;
    // A turn was asked for while the page loading was drawn: the session's
    // draws are abandoned until that load is over.
    bool drawsAbandoned_ = false;
    uint64_t pageGeneration_ = 0;
    bool animationFadeNext_ = false;
    bool isPageMoveByScroll_ = false;
    bool lastPageMoveCommandIsNext_ = true;
    bool notNotifyToBookToolView_ = false;
    bool isWaitForAnimationEndAndRemove_ = false;
    // Keys pressed while a page moved (a few, oldest first), taken when
    // the move ends.
    std::vector<std::string> pendingKeys_;
    sys::RunLoop::TimerRef pendingKeyTimer_;
    std::shared_ptr<ui::View> animationOldScreen_;
    std::shared_ptr<ui::View> animationOldImage_;
    bool streamClosed_ = false;
    std::vector<uint8_t> blockStatus_;
    sys::RunLoop::TimerRef movePageDoTimer_;
    std::shared_ptr<std::mutex> loadLock_ = std::make_shared<std::mutex>();
    sys::Thread moveThread_;

    // Reloads.
    std::unique_ptr<sys::OperationQueue> queue_;
    bool isNowReloading_ = false;
    uint64_t reloadToken_ = 0;
    int32_t reloadCount_ = 0;

    // Functions, taps and keys.
    bool invalidFunction_ = false;
    bool invalidTap_ = false;
    int32_t invalidTapReleaseCount_ = 0;
    sys::RunLoop::TimerRef invalidTapWatchdog_;
    ui::Point touchBeganPoint_;
    ui::Point touchEndndPoint_;
    ui::Point touchPoint_;
    bool singleTapReady_ = false;
    int32_t singleTapFunction_ = 0;
    bool invaliedSingleTap_ = false;
    std::optional<std::string> uriToOpen_;
    ui::Point urlToOpenPoint_;
    int32_t functionOfUriCancel_ = 0;
    PdfLinkViews linkDrawViews_;  // highlights over the links while the link question is open
    std::vector<Settings::KeyboardShortcut> keyboardShortcuts_;
    std::vector<ui::KeyCommand> keyboardCommands_;
    bool volumeUpButtonWait_ = false;
    bool disableVolumeupTimer_ = false;
    bool volumeCheckRunning_ = false;
    bool isSubFunctionMenuShown_ = false;
    bool isOpenSlidershowMenu_ = false;
    bool isSlidershowMode_ = false;

    // Messages and questions.
    int64_t labelMessageShowCount_ = 0;

    // Menu sheet.
    std::shared_ptr<ui::View> viewSliderBG_;
    std::shared_ptr<ui::Slider> sliderPage_;
    std::shared_ptr<LBPageLabel> labelPageJump_;
    ui::Rect rectOfLabelPageJump_;
    std::shared_ptr<ui::Label> labelFilename_;
    std::shared_ptr<ui::Button> closeButton_, btnSlideShow_, btnMicInput_, btnDontSleep_, btnSetJacket_;
    std::shared_ptr<ui::Button> pageLeftBtn_, pageRightBtn_;
    std::shared_ptr<BookPagePreView> pagePreView_;
    int32_t previewPage_ = 0;
    std::shared_ptr<ui::Toolbar> bvToolbar_;
    // Wheel movement past the page's edge not yet used for a turn, and when
    // the last came.
    double wheelPastEdge_ = 0;
    double wheelPastEdgeTime_ = -1;
    // The background and tool bar of a sheet being closed: they leave when
    // its fade ends, or with the screen if it goes first (the tool bar lives
    // on the navigation controller's view, which outlives this screen).
    std::vector<std::weak_ptr<ui::View>> closingSheetViews_;
    void removeClosingSheetViews();
    std::shared_ptr<StreamBlockMapOverlay> blockMapView_;
    std::shared_ptr<ui::View> viewMenuBtns_;
    bool canAddBookmark_ = true;
    // Bookmarks.
    std::shared_ptr<BookMarkViewController> bookMarkViewController_;
    int32_t bookmarkToMovePage_ = 0;
    sys::RunLoop::TimerRef bookmarkTimer_;
    // Slideshow and its panel.
    int32_t slideshowStep_ = 0;
    sys::RunLoop::TimerRef timerSlideshow_;
    bool isDontSleep_ = false;
    double SlideshowTimerSetInterval_ = 0;
    double slideshowTimeToScroll_ = 1.0;
    double slideshowTimeToPage_ = 2.0;
    bool slideshowRepeat_ = false;
    std::shared_ptr<ui::Label> labelTime1_, labelTime2_;
    std::shared_ptr<ui::Slider> slideshowSlider1_, slideshowSlider2_;
    std::shared_ptr<ui::Button> btnRepeat_;
    std::shared_ptr<ui::View> viewSubfunctionsMenuBg_, viewSubfunctionsMenuBgImage_;
    void addSubfunctionMenuView();
    void removeSubfunctionMenuView();
    void onChangeSlideshowSlider();
    void scheduleSlideshowStep();
    // Sound page turns.
    std::shared_ptr<MicInput> micInput_;
    bool micDetectStart_ = false;
    double timeIntervalMicInputTimeToScroll_ = 2;
    bool micPageRepeat_ = false;
    sys::RunLoop::TimerRef timerMicInputAutoScroll_;
    std::shared_ptr<ui::Label> labelMicInputTimeToScroll_;
    std::shared_ptr<ui::ImageView> micOkImage_;
    std::shared_ptr<LevelMeterView> micLevelMeter_;
    void setMicIndicator(const std::string& image, double alpha);
    // The seek bar's large page preview.
    std::shared_ptr<ui::View> bookToolViewPreview_;
    std::shared_ptr<ui::ImageView> bookToolViewPreviewImage_;
    std::shared_ptr<ui::Label> labelPage_;

    // Next and previous book, covers.
    std::shared_ptr<ui::Button> buttonNextBook_;
    bool buttonNextBookIsPrevious_ = false;
    int64_t buttonNextShowCount_ = 0;
    bool jacketCreated_ = false;
    std::optional<AlertQuestion> pendingAlert_;
    gfx::ImageRef saveImageShown_;

    std::vector<sys::NotificationCenter::Token> observers_;

    // The page-cache builder and the answers it reads from its own thread
    // (declared before the builder, so they outlive it).
    std::shared_ptr<CacheCreatorDelegate> cacheQuestions_;
    sys::RunLoop::TimerRef cacheQuestionsTimer_;
    std::shared_ptr<CacheCreator> cacheCreator_;
};
