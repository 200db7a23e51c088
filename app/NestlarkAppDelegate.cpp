#include "app/NestlarkAppDelegate.h"

#include "app/BookImport.h"
#include "app/CrashReportAlertPresenter.h"
#include "app/LBStartViewController.h"
#include "app/LBStartViewControllerOldOS.h"
#include "app/LeafbrightProgram.h"
#include "app/SampleBook.h"
#include "cloud/CloudService.h"
#include "cloud/GoogleDriveAPI.h"
#include "engine/BookReaderEx.h"
#include "engine/RarStreamShim.h"
#include "engine/ThumbsCreate.h"
#include "foundation/ActiveLog.h"
#include "foundation/BookCommon.h"
#include "foundation/LastStatusRestore.h"
#include "foundation/NetworkIndicatorWithKey.h"
#include "foundation/QNKeyChain.h"
#include "foundation/Settings.h"
#include "foundation/UrlPercent.h"
#include "foundation/ui/AuxiliaryScreenFactory.h"
#include "foundation/ui/ColorDefine.h"
#include "foundation/ui/QNAlertView.h"
#include "foundation/ui/QNNoticeView.h"
#include "library/LocalBookOpener.h"
#include "library/LocalFilelistViewController.h"
#include "library/PreparedBookOpen.h"
#include "remote/BookTransfer.h"
#include "remote/RemoteTransferScreenFactory.h"
#include "remote/screens/ShowHttpAuth.h"
#include "platform/core/AppPaths.h"
#include "platform/core/Clock.h"
#include "platform/core/FileManager.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/Path.h"
#include "platform/core/PropertyList.h"
#include "platform/core/RunLoop.h"
#include "platform/core/UserDefaults.h"
#include "platform/core/Unicode.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/Application.h"
#include "platform/ui/Image.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Keyboard.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Window.h"
#include "screens/AuxiliaryScreenMaker.h"
#include "screens/JacketTrimController.h"
#include "screens/MicSettingViewController.h"
#include "screens/HistoryViewController.h"
#include "screens/PassCodeInputViewEx.h"
#include "screens/PassCodeRequet.h"
#include "screens/SettingViewControllerEx.h"
#include "screens/StartupPasscodeInputViewController.h"
#include "servers/MediaServerMain.h"
#include "servers/MediaServerViewController.h"
#include "servers/SyncHostSelectViewController.h"
#include "smb/CIFSStackManager.h"
#include "viewer/BookViewController.h"
#include "viewer/BrightnessSetting.h"
#include "viewer/MicInput.h"
#include "viewer/SoundMicInput.h"

#include <atomic>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <utility>
#include <vector>

namespace {


std::atomic<bool> gGoingToBackground{false};

using sys::Path;

bool iequal(const std::string& a, const char* b) {
    if (a.size() != std::char_traits<char>::length(b)) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

// The saved rotation lock: [orientation 1-4, locked]; anything else is no lock.
bool readRotationLock(int* orientation) {
    auto a = sys::PropertyList::readArray(
        Path::stringByAppendingPathComponent(BookCommon::getSettingsFolder(), ".orientation.lbs"));
    if (!a || a->size() < 2) return false;
    const sys::PlistValue& o = (*a)[0];
    const sys::PlistValue& locked = (*a)[1];
    if (!o.isInteger() || o.integerValue() < 1 || o.integerValue() > 4) return false;
    if (!(locked.isBool() || locked.isInteger()) || !locked.boolValue()) return false;
    *orientation = static_cast<int>(o.integerValue());
    return true;
}

}  // namespace

NestlarkAppDelegate::NestlarkAppDelegate() = default;

NestlarkAppDelegate::~NestlarkAppDelegate() {
    import_.reset();
    auto& center = sys::NotificationCenter::defaultCenter();
    if (keyboardShowToken_) center.removeObserver(keyboardShowToken_);
    if (keyboardHideToken_) center.removeObserver(keyboardHideToken_);
}

std::shared_ptr<NestlarkAppDelegate> NestlarkAppDelegate::create() {
    auto d = std::make_shared<NestlarkAppDelegate>();
    AppDelegateServices::install(d);
    LibraryServices::install(d);
    AuxiliaryScreenFactory::install(std::make_shared<AuxiliaryScreenMaker>());
    // The transfer screen's "Backup" tab: the desktop backup hosts.
    RemoteTransferScreenFactory::setSyncHostSelectMaker(
        [] { return std::make_shared<SyncHostSelectViewController>(ui::TableViewStyle::Grouped); });
    ui::Application::shared().setDelegate(d);
    return d;
}

bool NestlarkAppDelegate::isAppGotoBackgroundProcess() { return gGoingToBackground.load(); }

std::shared_ptr<LocalFilelistViewController> NestlarkAppDelegate::rootList() const {
    if (!navigationController_ || navigationController_->viewControllers().empty()) return nullptr;
    return std::dynamic_pointer_cast<LocalFilelistViewController>(navigationController_->viewControllers().front());
}

// ---- Launch ------------------------------------------------------------------------------------

bool NestlarkAppDelegate::applicationDidFinishLaunchingWithOptions() {
    auto& center = sys::NotificationCenter::defaultCenter();
    std::weak_ptr<NestlarkAppDelegate> weak = shared_from_this();
    keyboardShowToken_ = center.addObserver(ui::Keyboard::didShowNotification, [weak](const sys::Notification& n) {
        auto self = weak.lock();
        if (!self) return;
        self->isShowKeyboard_ = true;
        auto it = n.userInfo.find(ui::Keyboard::frameEndKey);
        if (it != n.userInfo.end())
            if (const auto* r = std::any_cast<ui::Rect>(&it->second)) self->keyboardRect_ = *r;
    });
    keyboardHideToken_ = center.addObserver(ui::Keyboard::didHideNotification, [weak](const sys::Notification& n) {
        auto self = weak.lock();
        if (!self) return;
        self->isShowKeyboard_ = false;
        auto it = n.userInfo.find(ui::Keyboard::frameEndKey);
        if (it != n.userInfo.end())
            if (const auto* r = std::any_cast<ui::Rect>(&it->second)) self->keyboardRect_ = *r;
    });
    ActiveLog::applicationdidFinishLaunching();
    // The platform's own words (a back button, Done, Cancel) in the language chosen.
    ui::Application::shared().setSystemWordTranslator(
        [](const std::string& english) { return BookCommon::localizedStringWithOnOff(english); });
    // A client secret put into the defaults does not stay in their file.
    CloudEndpoints::moveClientSecretsToKeyChain();
    const std::string temp = BookCommon::getBooksTempRoot();
    sys::FileManager::createDirectory(temp, true);
    BookCommon::setBackupFlag(temp, false);
    sys::FileManager::createDirectory(BookCommon::getSettingsFolder(), true);
    ActiveLog::writeCheckpoint("createLBWindow");
    createLBWindow();
    return true;
}

ui::Rect NestlarkAppDelegate::getApplicationBaseScreenRect() const {
    const ui::Rect app = BookCommon::getWindowRect();
    return {0, 0, app.width(), app.height() + app.y()};
}

void NestlarkAppDelegate::fixWindowSize() {
    if (!window_) return;
    const ui::Rect r = getApplicationBaseScreenRect();
    if (r.width() > 0 && r.height() > 0) window_->setFrame(r);
}

void NestlarkAppDelegate::createLBWindow() {
    window_ = std::make_shared<ui::Window>();
    std::weak_ptr<NestlarkAppDelegate> weak = shared_from_this();
    int orientation = 1;
    std::shared_ptr<ui::ViewController> start;
    if (BookCommon::isIpadRotationLockEnable() && readRotationLock(&orientation)) {
        // A locked rotation: no animation and no notice, at the locked shape.
        auto plain = std::make_shared<LBStartViewControllerOldOS>(weak);
        plain->setNeedSetWindowSize(true);
        const bool landscape = orientation == 3 || orientation == 4;
        const double shorter = BookCommon::getScreenWidth();
        const double longer = BookCommon::getScreenHeight();
        plain->setTargetWindowSize(landscape ? ui::Rect(0, 0, longer, shorter) : ui::Rect(BookCommon::getScreenRect()));
        start = plain;
    } else {
        start = std::make_shared<LBStartViewController>(weak);
    }
    // Each start screen hands over through startLBWindow.
    window_->setRootViewController(start);
    window_->makeKeyAndVisible();
}

bool NestlarkAppDelegate::isStartScreenShown() const {
    if (startDone_ || !window_) return false;
    auto root = window_->rootViewController();
    return dynamic_cast<LBStartViewController*>(root.get()) || dynamic_cast<LBStartViewControllerOldOS*>(root.get());
}

void NestlarkAppDelegate::loadSettings() {
    if (!settings_) {
        settings_ = Settings::settings();
        settings_->readFromFile();
        if (settings_->isDoNotStorePasswords()) BookCommon::deleteAllHttpUrlKeyChain();
    } else {
        settings_->updateSettingsFromDefaultKey();
    }
}

bool NestlarkAppDelegate::isStartupLocked() const {
    return settings_ && settings_->startupLock() != 0 && StartupPasscodeInputViewController::isPassphraseStored();
}

void NestlarkAppDelegate::startLBWindow() {
    if (urlTargetDownload_) {
        isWaitUrlOpenAlertView_ = true;
        return;
    }
    if (startDone_ || !window_) return;
    startDone_ = true;
    BookCommon::setShortcutMenu(0, std::nullopt);
    auto stack = CIFSStackManager::sharedManager(0);
    stack->setDataSource(std::weak_ptr<CIFSStackManagerDataSource>(shared_from_this()));
    stack->setDelegate(std::weak_ptr<CIFSStackManagerDelegate>(shared_from_this()));
    window_->setRootViewController(nullptr);
    int orientation = 1;
    if (BookCommon::isIpadRotationLockEnable() && readRotationLock(&orientation)) {
        BookCommon::onLoadSoftwareRotationLockSetting(true, orientation);
        window_->setOrientation(static_cast<ui::InterfaceOrientation>(orientation));
    }
    fixWindowSize();
    ActiveLog::writeCheckpoint("checkLeafbrightVersion");
    // A library that never ran gets the sample book before the version is
    // recorded. On such a run nothing before the library needs either (there
    // is no earlier version to bring up to date): with a book to show first,
    // both wait for its first frame.
    const bool firstRunWaits =
        SampleBook::isFirstRun() && bookHandedAtStart_ && PreparedBookOpen::readyToShow(*bookHandedAtStart_);
    if (!firstRunWaits) recordVersion();
    loadSettings();
    const bool locked = isStartupLocked();
    // The reset runs before the root list is shown: the list restores the
    // last folder and book as soon as it appears, and a reset forgets them.
    const bool wasReset = applyPendingReset();
    // A book handed over meanwhile is opened instead of the last one read.
    LastStatusRestore::setRestoreMode(bookHandedAtStart_ || isImporting() ? 0 : 1);
    buildRootNavigation(locked);
    auto root = rootList();
    // Page turns by sound listen to the process's sound input.
    MicInput::setMaker([] { return std::make_shared<SoundMicInput>(); });
    BookViewController::setMicSettingScreenFactory(
        [](std::shared_ptr<Settings> settings, std::weak_ptr<MicSettingViewControllerDelegate> delegate,
           std::shared_ptr<MicInput> lent) -> std::shared_ptr<ui::ViewController> {
            auto screen = std::make_shared<MicSettingViewController>();
            screen->setSettings(std::move(settings));
            screen->setDelegate(std::move(delegate));
            screen->setMicInput(std::move(lent));
            return screen;
        });
    // The reading screen's settings button: the book's own settings screen.
    std::weak_ptr<NestlarkAppDelegate> weakSelf = shared_from_this();
    BookViewController::setSettingScreenFactory(
        [weakSelf](std::shared_ptr<Settings> settings) -> std::shared_ptr<ui::ViewController> {
            auto self = weakSelf.lock();
            return self ? self->makeSettingViewController(std::move(settings), 2) : nullptr;
        });
    // The reading screen's set-as-cover button: the cover crop screen.
    BookViewController::setJacketTrimScreenFactory(
        [](std::shared_ptr<const ui::Image> image,
           std::weak_ptr<JacketTrimControllerDelegate> delegate) -> std::shared_ptr<ui::ViewController> {
            auto screen = std::make_shared<JacketTrimController>();
            screen->setInputImage_(std::move(image));
            screen->setDelegate(std::move(delegate));
            return screen;
        });
    // Behind no lock, a book handed over at start and ready opens before
    // the library is shown (the list's view is not even made yet).
    const bool bookFirst = !locked && !wasReset && openPreparedBookFirst(firstRunWaits);
    if (firstRunWaits && !bookFirst) recordVersion();
    navigationController_->view()->setHidden(true);
    showRootNavigation();
    if (locked) {
        coverView_ = std::make_shared<ui::View>(window_->bounds());
        coverView_->setBackgroundColor(ColorDefine::background());
        window_->addSubview(coverView_);
    }
    navigationController_->view()->setHidden(false);
    ActiveLog::writeCheckpoint("makeKeyAndVisible");
    window_->setBackgroundColor(ui::Color::gray());
    if (wasReset) showResetDone(root.get());
    if (BookCommon::isDeviceHomeCanRotateLandscape()) {
        const ui::Rect r = getApplicationBaseScreenRect();
        BookCommon::viewWillTransitionToSize({r.width(), r.height()});
    }
    ActiveLog::writeCheckpoint("DropboxAPIAlloc");
    if (!locked) offerCrashReport();
    if (locked) presentMasterLock(false);
    // Files refused while the start screen showed are told of now.
    for (auto& refusal : std::exchange(pendingRefusals_, {})) refusal->show();
    if (!locked) openBookHandedAtStart();
}

void NestlarkAppDelegate::openBookHandedAtStart() {
    if (!bookHandedAtStart_) return;
    const std::string book = *std::exchange(bookHandedAtStart_, std::nullopt);
    // Once the library has appeared and read its folder, as a tap would.
    std::weak_ptr<NestlarkAppDelegate> weak = shared_from_this();
    auto open = [weak, book] {
        auto self = weak.lock();
        auto root = self ? self->rootList() : nullptr;
        if (!root || self->openHandedOver(book)) return;
        // Anything else the library lists (a theme, a shortcut) as a resume would take it.
        if (Path::stringByDeletingLastPathComponent(book) == BookCommon::fromBooksToFromRoot(root->pathFromBooks()))
            root->resumeLastReading(Path::lastPathComponent(book));
    };
    // A book whose first page is still being composed (a large picture)
    // opens once it is: the window answers meanwhile, never waiting for
    // that decoding.
    if (PreparedBookOpen::isPreparing(book)) PreparedBookOpen::whenFinished(open);
    else sys::RunLoop::main().schedule(0.0, open);
}

void NestlarkAppDelegate::recordVersion() {
    SampleBook::installIfFirstRun();
    BookCommon::checkLeafbrightVersion();
}

bool NestlarkAppDelegate::openPreparedBookFirst(bool recordVersionAfter) {
    auto root = rootList();
    if (!bookHandedAtStart_ || !root || !window_ || !PreparedBookOpen::readyToShow(*bookHandedAtStart_)) return false;
    if (!root->openBookFirst(*bookHandedAtStart_)) return false;
    bookHandedAtStart_.reset();
    // The list reads its folder and takes its place under the book once
    // the book's first frame is drawn.
    std::weak_ptr<NestlarkAppDelegate> weak = shared_from_this();
    window_->runAfterNextRender([weak, recordVersionAfter] {
        auto self = weak.lock();
        if (!self) return;
        if (recordVersionAfter) self->recordVersion();
        if (auto list = self->rootList()) list->finishUnderBookShownFirst();
    });
    return true;
}

void NestlarkAppDelegate::buildRootNavigation(bool locked) {
    auto root = std::make_shared<LocalFilelistViewController>(ui::TableViewStyle::Plain);
    root->setDontRestoreLastStatus(locked);
    root->setIsRootViewController(true);
    navigationController_ = std::make_shared<ui::NavigationController>(root);
    dropDimming();
    dimmingView_ = BrightnessSetting::getBrightnessSetting()->createBrightnessSettingView();
}

void NestlarkAppDelegate::dropDimming() {
    if (dimmingView_) dimmingView_->removeFromSuperview();
    dimmingView_.reset();
}

void NestlarkAppDelegate::showRootNavigation() {
    window_->setRootViewController(navigationController_);
    fixWindowSize();
    // The level is the screen's brightness: everything in the window dims,
    // what is presented over the library and the status bar included.
    window_->addOverlayAboveAll(dimmingView_);
}

void NestlarkAppDelegate::presentMasterLock(bool animated) {
    if (!navigationController_) return;
    auto lock = std::make_shared<StartupPasscodeInputViewController>();
    MediaServerMain::setProgramLocked(true);
    lock->setModalPresentationStyle(ui::ModalPresentationStyle::FullScreen);
    lock->setDelegate(std::weak_ptr<StartupPasscodeInputViewControllerDelegate>(shared_from_this()));
    nowPresentMasterLockView_ = true;
    std::weak_ptr<NestlarkAppDelegate> weak = shared_from_this();
    navigationController_->present(lock, animated, [weak] {
        auto self = weak.lock();
        if (!self || !self->coverView_) return;
        self->coverView_->removeFromSuperview();
        self->coverView_.reset();
    });
}

bool NestlarkAppDelegate::resetAllConfig(ui::ViewController* presenter) {
    if (!applyPendingReset()) return false;
    showResetDone(presenter);
    return true;
}

bool NestlarkAppDelegate::applyPendingReset() {
    auto& defaults = sys::UserDefaults::standard();
    const std::string marker = Path::stringByAppendingPathComponent(BookCommon::getBooksDocumentsFolder(), kResetMarker);
    const bool requested = defaults.boolForKey(kResetDefault) || sys::FileManager::fileExists(marker);
    if (!requested) return false;
    defaults.setBool(false, kResetDefault);
    defaults.synchronize();
    LastStatusRestore::removeAllLastStatus();
    sys::FileManager::removeItem(marker);
    const std::string folder = BookCommon::getSettingsFolder();
    for (const char* name : {".settings.lbs", ".globalsettings.lbs", ".filelist.lbs", ".orientation.lbs",
                             ".tapconfig.dat", ".zoomsettings.lbs", ".webhostlist.lbs"})
        sys::FileManager::removeItem(Path::stringByAppendingPathComponent(folder, name));
    if (settings_) settings_->readFromFile();
    return true;
}

void NestlarkAppDelegate::showResetDone(ui::ViewController* presenter) {
    auto alert = std::make_shared<QNAlertView>(
        "", BookCommon::localizedStringWithOnOff("All configuration data has been reset to default values."),
        std::weak_ptr<QNAlertViewDelegate>(shared_from_this()), std::nullopt,
        std::vector<std::string>{BookCommon::localizedStringWithOnOff("OK")});
    alert->show(presenter);
}

void NestlarkAppDelegate::onPasscodeInputFinish() {
    nowPresentMasterLockView_ = false;
    MediaServerMain::setProgramLocked(false);
    if (auto url = std::exchange(handedWhileLocked_, std::nullopt)) {
        // A book handed over while the lock was up opens now, in place of the
        // last one read or one handed at the start.
        bookHandedAtStart_.reset();
        openURL(*url);
    } else {
        if (auto root = rootList()) root->restoreLastStatus(false);
        openBookHandedAtStart();
    }
    offerCrashReport();
    if (resetMessagePending_) {
        resetMessagePending_ = false;
        if (auto root = rootList()) showResetDone(root.get());
    }
}

void NestlarkAppDelegate::offerCrashReport() {
    // Once per launch, over the library (behind the start-up lock only once it is open).
    if (crashReportOffered_) return;
    crashReportOffered_ = true;
    std::weak_ptr<ui::ViewController> over = rootList();
    ActiveLog::presentCrashLog(std::make_shared<CrashReportAlertPresenter>(over));
}

unsigned NestlarkAppDelegate::supportedInterfaceOrientationsForWindow() const {
    return static_cast<unsigned>(BookCommon::supportedInterfaceOrientationsForLB());
}

// ---- Life cycle ---------------------------------------------------------------------------------

void NestlarkAppDelegate::applicationWillResignActive() { gGoingToBackground = true; }

// Back in front without a trip to the background (the desktop window got
// its focus back): the application is not going anywhere any more.
void NestlarkAppDelegate::applicationDidBecomeActive() { gGoingToBackground = false; }

bool NestlarkAppDelegate::stackShowsLockedFolder() const {
    if (!navigationController_) return false;
    for (const auto& vc : navigationController_->viewControllers()) {
        auto* list = dynamic_cast<LocalFilelistViewController*>(vc.get());
        if (!list) continue;
        if (auto folder = BookCommon::fromBooksToFromRoot(list->pathFromBooks()))
            if (BookCommon::isFolderLocked(*folder)) return true;
    }
    return false;
}

void NestlarkAppDelegate::applicationDidEnterBackground() {
    gGoingToBackground = true;
    auto* viewer = navigationController_ ? dynamic_cast<BookViewController*>(navigationController_->topViewController())
                                         : nullptr;
    if (viewer) viewer->onEnterBackground();
    CIFSStackManager::sharedManager(0)->suspendState();
    // Behind the start-up lock the media server serves nothing until the
    // passphrase is given again.
    if (isStartupLocked()) MediaServerMain::setProgramLocked(true);
    NetworkIndicatorWithKey::releaseNetworkIndicatorWithKey();
    if (stackShowsLockedFolder()) {
        // Whatever shows a locked folder's contents goes: the book closes,
        // a cover hides the window, and the way back starts at a new root.
        if (viewer) viewer->closeIfBackground();
        addToBackgroundHiddenView();
        if (window_) window_->setRootViewController(nullptr);
        navigationController_.reset();
        dropDimming();
    } else if (!nowPresentMasterLockView_ && isStartupLocked()) {
        addToBackgroundHiddenView();
    }
    ActiveLog::applicationDidEnterBackground();
}

void NestlarkAppDelegate::addToBackgroundHiddenView() {
    if (!window_) return;
    if (toBackgroundView_) toBackgroundView_->removeFromSuperview();
    const ui::Rect bounds = window_->bounds();
    const double cx = bounds.width() / 2, cy = bounds.height() / 2;
    toBackgroundView_ = std::make_shared<ui::View>(bounds);
    toBackgroundView_->setBackgroundColor(ColorDefine::background());
    auto label = std::make_shared<ui::Label>(ui::Rect(cx + 20 - 160, cy - 10 - 15, 320, 30));
    label->setText(BookCommon::localizedStringWithOnOff("Please wait..."));
    label->setFont(gfx::Font::system(18));
    label->setTextAlignment(ui::TextAlignment::Center);
    toBackgroundView_->addSubview(label);
    auto image = ui::Image::named("screen_locked");
    auto picture = std::make_shared<ui::ImageView>(image);
    const ui::Size size = image ? image->size() : ui::Size{0, 0};
    picture->setFrame(ui::Rect(cx - 100, cy - 40, size.width, size.height));
    toBackgroundView_->addSubview(picture);
    window_->addSubview(toBackgroundView_);
}

void NestlarkAppDelegate::applicationWillEnterForeground() {
    gGoingToBackground = false;
    ActiveLog::applicationWillEnterForeground();
    if (settings_) settings_->updateSettingsFromDefaultKey();
    ThumbsCreate::releaseThumbsCreate(false);
    // A reset asked for while away: the stack goes (it shows what was
    // forgotten), and the new library says so once it is up, so the
    // message is not lost with the screens.
    if (navigationController_ && applyPendingReset()) {
        if (window_) window_->setRootViewController(nullptr);
        navigationController_.reset();
        dropDimming();
        resetMessagePending_ = true;
    }
    if (toBackgroundView_) {
        // The cover rolls up off the window and goes.
        auto cover = std::move(toBackgroundView_);
        ui::Rect gone = cover->frame();
        gone.origin.y = -gone.height();
        ui::View::animate(
            1.0, [cover, gone] { cover->setFrame(gone); },
            [cover](bool) { cover->removeFromSuperview(); });
    }
    const bool pass = StartupPasscodeInputViewController::isPassphraseStored() && !nowPresentMasterLockView_;
    bool lock = settings_ && settings_->startupLock() != 0 && pass;
    if (!navigationController_ && window_ && startDone_) {
        loadSettings();
        lock = settings_ && settings_->startupLock() != 0 && pass;
        LastStatusRestore::setRestoreMode(1);
        buildRootNavigation(lock);
        showRootNavigation();
    }
    CIFSStackManager::sharedManager(0)->restoreState();
    if (!lock && !nowPresentMasterLockView_) MediaServerMain::setProgramLocked(false);
    if (lock && navigationController_ && window_) {
        if (auto root = window_->rootViewController())
            if (root->presentedViewController()) root->dismiss(false);
        presentMasterLock(false);
    }
    // Behind the passphrase the message waits for it.
    if (resetMessagePending_ && !nowPresentMasterLockView_) {
        resetMessagePending_ = false;
        if (auto root = rootList()) showResetDone(root.get());
    }
    if (navigationController_)
        if (auto* viewer = dynamic_cast<BookViewController*>(navigationController_->topViewController()))
            viewer->onEnterForeground();
}

bool NestlarkAppDelegate::performActionForShortcutItem(const std::string& key) {
    if (key == "filelist") {
        if (!navigationController_) {
            // Still launching: no book is resumed.
            sys::FileManager::removeItem(BookCommon::getLastBookSettingFilePath());
        } else if (auto* viewer = dynamic_cast<BookViewController*>(navigationController_->topViewController())) {
            viewer->closeIfBackground();
        }
        return true;
    }
    if (key == "reading") {
        BookCommon::setNextSilentResumeFlag();
        return true;
    }
    return false;
}

void NestlarkAppDelegate::applicationWillTerminate() {
    // A copy under way is given up (within one piece of it), leaving nothing in the library.
    cancelImports();
    PreparedBookOpen::discard();
    MediaServerMain::releaseMediaServer();
    MediaServerMain::setProgramLocked(false);
    NetworkIndicatorWithKey::releaseNetworkIndicatorWithKey();
    ActiveLog::applicationWillTerminate();
    ThumbsCreate::releaseThumbsCreate(false);
    auto& center = sys::NotificationCenter::defaultCenter();
    if (keyboardShowToken_) center.removeObserver(keyboardShowToken_);
    if (keyboardHideToken_) center.removeObserver(keyboardHideToken_);
    keyboardShowToken_ = keyboardHideToken_ = 0;
}

void NestlarkAppDelegate::releaseScreens() {
    if (window_) window_->setRootViewController(nullptr);
    navigationController_.reset();
    dropDimming();
    coverView_.reset();
    window_.reset();
}

// ---- Files handed over ------------------------------------------------------------------------

std::optional<std::string> NestlarkAppDelegate::importFile(const std::string& source) {
    bool isDirectory = false;
    if (!sys::FileManager::fileExists(source, &isDirectory) || isDirectory) return std::nullopt;
    loadSettings();
    const std::string folder = settings_ && settings_->filelistRootMode() != 0 ? BookCommon::getBooksTempRoot()
                                                                               : BookCommon::getBooksRootFolder();
    std::string name = Path::lastPathComponent(source);
    if (name.empty() || name == "." || name == "..") return std::nullopt;
    std::string target = Path::stringByAppendingPathComponent(folder, name);
    if (sys::FileManager::fileExists(target)) {
        // The same book handed over again opens the copy already there,
        // whichever of the numbered names that copy took.
        if (BookImport::sameContents(source, target)) return target;
        const std::string base = Path::stringByDeletingPathExtension(target);
        const std::string ext = Path::pathExtension(target);
        for (int n = 2; n <= 999; ++n) {
            std::string candidate = base + "(" + std::to_string(n) + ")" + (ext.empty() ? "" : "." + ext);
            target = candidate;
            if (!sys::FileManager::fileExists(candidate)) break;
            if (BookImport::sameContents(source, candidate)) return candidate;
        }
    }
    // Files are copied, never moved: a file from elsewhere stays the user's.
    // Only our own hand-over inbox entry goes, and only once its copy is in
    // the library, so a failed copy loses nothing.
    // The copy is the user's own, like every file the program writes: not
    // the mode of the file it came from.
    if (!sys::FileManager::copyItemPrivately(source, target)) return std::nullopt;
    const std::string inbox = BookCommon::getInboxPath();
    if (BookCommon::isPathInFolder(source, inbox) && Path::stringByDeletingLastPathComponent(source) == inbox)
        sys::FileManager::removeItem(source);
    return target;
}

std::vector<std::string> NestlarkAppDelegate::picturesInFolder(const std::string& folder) {
    std::vector<std::string> names;
    auto entries = sys::FileManager::contentsOfDirectory(folder);
    if (!entries) return names;
    for (const auto& name : *entries) {
        if (name.empty() || name[0] == '.' || !BookCommon::isImageFileWithExtension(Path::pathExtension(name))) continue;
        // Pictures are regular files: a pipe or device of that name is left out.
        std::error_code ec;
        if (std::filesystem::is_regular_file(Path::stringByAppendingPathComponent(folder, name), ec))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool NestlarkAppDelegate::holdsPictures(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return false;
    bool found = false;
    while (!found) {
        const struct dirent* e = ::readdir(dir);
        if (!e) break;
        const std::string name = e->d_name;
        if (name.empty() || name[0] == '.' || !BookCommon::isImageFileWithExtension(Path::pathExtension(name))) continue;
        std::error_code ec;
        found = std::filesystem::is_regular_file(Path::stringByAppendingPathComponent(folder, name), ec);
    }
    ::closedir(dir);
    return found;
}

std::optional<std::string> NestlarkAppDelegate::importFolder(const std::string& source) {
    std::string from = source;
    while (from.size() > 1 && from.back() == '/') from.pop_back();
    const auto pictures = picturesInFolder(from);
    if (pictures.empty()) return std::nullopt;
    loadSettings();
    const std::string folder = settings_ && settings_->filelistRootMode() != 0 ? BookCommon::getBooksTempRoot()
                                                                               : BookCommon::getBooksRootFolder();
    // The library lists no hidden folder, and hides "Inbox" at its top.
    std::string name = Path::lastPathComponent(from);
    while (!name.empty() && name[0] == '.') name.erase(0, 1);
    if (name.empty()) return std::nullopt;
    auto holdsTheSame = [&](const std::string& there) {
        for (const auto& picture : pictures)
            if (!BookImport::sameContents(Path::stringByAppendingPathComponent(from, picture),
                                  Path::stringByAppendingPathComponent(there, picture)))
                return false;
        return true;
    };
    std::string target;
    for (int n = 1; n <= 999 && target.empty(); ++n) {
        const std::string candidate =
            Path::stringByAppendingPathComponent(folder, n == 1 ? name : name + "(" + std::to_string(n) + ")");
        bool isDirectory = false;
        if (!sys::FileManager::fileExists(candidate, &isDirectory)) {
            target = candidate;
        } else if (isDirectory && !(n == 1 && name == "Inbox") && holdsTheSame(candidate)) {
            // The same pictures handed over again open the folder already there.
            return candidate;
        }
    }
    if (target.empty() || !sys::FileManager::createDirectory(target, false)) return std::nullopt;
    // Copied, never moved; a copy that fails part way leaves nothing.
    for (const auto& picture : pictures) {
        if (sys::FileManager::copyItemPrivately(Path::stringByAppendingPathComponent(from, picture),
                                                Path::stringByAppendingPathComponent(target, picture)))
            continue;
        sys::FileManager::removeItem(target);
        return std::nullopt;
    }
    return target;
}

bool NestlarkAppDelegate::openHandedOver(const std::string& target) {
    auto root = rootList();
    if (!root || !navigationController_ ||
        Path::stringByDeletingLastPathComponent(target) != BookCommon::fromBooksToFromRoot(root->pathFromBooks()))
        return false;
    bringLibraryToFront();
    const std::string name = Path::lastPathComponent(target);
    bool isDirectory = false;
    sys::FileManager::fileExists(target, &isDirectory);
    return isDirectory ? root->openHandedOverFolder(name) : root->openHandedOverBook(name);
}

std::optional<std::string> NestlarkAppDelegate::localPathOfFileURL(const std::string& url) {
    const size_t schemeEnd = url.find("://");
    if (schemeEnd == std::string::npos) return std::nullopt;
    const std::string rest = url.substr(schemeEnd + 3);
    // "file://host/path": only the local host is ours.
    const size_t slash = rest.find('/');
    if (slash == std::string::npos) return std::nullopt;
    const std::string host = rest.substr(0, slash);
    if (!host.empty() && host != "localhost") return std::nullopt;
    return BookCommon::PercentDecodingWithString(rest.substr(slash));
}

namespace {

std::string schemeOf(const std::string& url) {
    const auto end = url.find("://");
    return end == std::string::npos ? std::string() : url.substr(0, end);
}

}  // namespace

bool NestlarkAppDelegate::opensAddress(const std::string& url) {
    const std::string scheme = schemeOf(url);
    return iequal(scheme, "leafbright") || iequal(scheme, "file") || iequal(scheme, "http") ||
           iequal(scheme, "https") || scheme == "lbhttp" || scheme == "lbhttps";
}

bool NestlarkAppDelegate::openURL(const std::string& url) {
    // A pending cloud sign-in takes its own redirect first.
    if (GoogleDriveAPI::checkGoogleRedirect(url)) return true;
    const std::string scheme = schemeOf(url);
    if (!opensAddress(url)) {
        // Said, not dropped: whoever handed it over hears that nothing came of it.
        refuseAddress(url);
        return true;
    }
    if (iequal(scheme, "leafbright")) return true;
    // Web links: "lbhttp(s)" from other programs, and plain ones handed over.
    if (scheme == "lbhttp" || scheme == "lbhttps" || iequal(scheme, "http") || iequal(scheme, "https")) {
        const std::string web = scheme.rfind("lb", 0) == 0 ? url.substr(2) : url;
        const size_t path = web.find('/', web.find("://") + 3);
        if (path != std::string::npos) askAboutWebUrl(web);
        return true;
    }
    // Behind the start-up lock nothing comes to the front: the book waits
    // for the passphrase.
    if (nowPresentMasterLockView_) {
        handedWhileLocked_ = url;
        return true;
    }
    ActiveLog::writeCheckpoint("FileHandling start");
    auto path = localPathOfFileURL(url);
    if (!path) return true;
    bool isDirectory = false;
    const bool exists = sys::FileManager::fileExists(*path, &isDirectory);
    if (exists && isDirectory && holdsPictures(*path)) {
        // A folder of pictures comes in as a folder of the library and
        // opens as the book its pictures make.
        queueImport(*path, true, [this, source = *path](const std::optional<std::string>& target) {
            if (!target) {
                refuseImport(source);
            } else if (!startDone_) {
                bookHandedAtStart_ = *target;
            } else {
                if (auto root = rootList()) root->setNeedUpdateFileList(true);
                openHandedOver(*target);
            }
            ActiveLog::writeCheckpoint("FileHandling end");
        });
        return true;
    }
    if (exists && (isDirectory || !isImportable(*path))) {
        // What the library would never show stays where it is.
        refuseImport(*path);
        ActiveLog::writeCheckpoint("FileHandling end");
        return true;
    }
    // A book that does not open stays out of the library, and whatever is
    // read meanwhile stays open; handed over while the start screen plays,
    // it is refused once the library is up. It is tried on the import's
    // worker (UnRAR may be busy with a solid block elsewhere meanwhile).
    ImportRefused refused;
    if (startDone_ || *path != bookCheckedBeforeLaunch_)
        refused = [this, source = *path](const std::string& why) {
            refuseBrokenBook(source, why);
            ActiveLog::writeCheckpoint("FileHandling end");
        };
    queueImport(
        *path, false,
        [this, source = *path](const std::optional<std::string>& target) { fileImported(source, target); },
        std::move(refused));
    return true;
}

bool NestlarkAppDelegate::isImportable(const std::string& path) {
    const std::string ext = Path::pathExtension(path);
    return BookCommon::isImageFileWithExtension(ext) || BookCommon::isBookorPDFFileorThemeWithExtension(ext) ||
           iequal(ext, "shortcut");
}

void NestlarkAppDelegate::bringLibraryToFront() {
    if (!navigationController_) return;
    auto keep = navigationController_;
    // Every question, notice and sign-in panel on screen is answered as its
    // cancel button would answer it, the top-most first, and editing ends:
    // none of them may act on the library behind the new book, nor stay over it.
    if (window_) {
        auto over = window_->subviews();
        for (auto it = over.rbegin(); it != over.rend(); ++it) {
            if (auto* notice = dynamic_cast<QNNoticeView*>(it->get())) notice->cancel();
            else ShowHttpAuth::cancelPanelCoveredBy(**it);
        }
        std::vector<std::shared_ptr<ui::ViewController>> chain;
        for (ui::ViewController* p = window_->rootViewController().get(); p && p->presentedViewController();
             p = p->presentedViewController())
            chain.push_back(p->presentedViewController()->shared_from_this());
        for (auto it = chain.rbegin(); it != chain.rend(); ++it)
            if (auto* alert = dynamic_cast<ui::AlertController*>(it->get())) alert->cancel();
    }
    for (const auto& vc : std::vector<ui::ViewController::Ref>(navigationController_->viewControllers()))
        if (auto* list = dynamic_cast<LocalFilelistViewController*>(vc.get()); list && list->isEditMode())
            list->onEditDone();
    // What is presented goes first (the bookmark list, the transfer
    // screens), then the book, then every pushed screen.
    if (navigationController_->presentedViewController()) navigationController_->dismiss(false);
    for (const auto& vc : std::vector<ui::ViewController::Ref>(navigationController_->viewControllers()))
        if (auto* reader = dynamic_cast<BookViewController*>(vc.get())) reader->closeIfBackground();
    navigationController_->popToRootViewController(false);
}

void NestlarkAppDelegate::askAboutWebUrl(const std::string& url) {
    const std::string title = BookCommon::PercentDecodingWithString(url).value_or(url);
    // A folder given without its final "/" is still a folder.
    const bool folder = LocalFilelistViewController::webFolderURL(url).has_value();
    auto alert = std::make_shared<QNAlertView>(
        title,
        BookCommon::localizedStringWithOnOff(folder ? "Do you want to open this URL?"
                                                    : "Do you want to download the file?"),
        std::weak_ptr<QNAlertViewDelegate>(shared_from_this()), BookCommon::localizedStringWithOnOff("No"),
        std::vector<std::string>{BookCommon::localizedStringWithOnOff("Yes")});
    urlQuestions_[alert.get()] = url;
    // While it is open the main screen waits for it (it would be built
    // over the question).
    urlTargetDownload_ = url;
    alert->show();
}

void NestlarkAppDelegate::alertViewClickedButtonAtIndex(QNAlertView& alert, int64_t buttonIndex) {
    // The copy's only button gives it up.
    if (&alert == importAlert_.get()) return alertViewCancel(alert);
    auto it = urlQuestions_.find(&alert);
    if (it == urlQuestions_.end()) return;
    const std::string url = it->second;
    urlQuestions_.erase(it);
    if (buttonIndex == 1) answerWebUrl(url);
    webUrlQuestionClosed();
}

void NestlarkAppDelegate::alertViewCancel(QNAlertView& alert) {
    if (&alert == importAlert_.get()) {
        importAlert_.reset();
        if (import_) {
            // Given up: the window does not wait while the copy stops and its
            // part is removed.
            import_->requestStop();
            givenUpImports_.push_back(std::move(import_));
            importThen_ = nullptr;
            importRefused_ = nullptr;
            fileTargetCopy_.reset();
            startNextImport();
            if (!isImporting())
                for (auto& fn : std::exchange(afterImports_, {})) fn();
        }
        return;
    }
    if (urlQuestions_.erase(&alert)) webUrlQuestionClosed();
}

void NestlarkAppDelegate::webUrlQuestionClosed() {
    if (!urlQuestions_.empty()) return;
    urlTargetDownload_.reset();
    if (isWaitUrlOpenAlertView_) {
        isWaitUrlOpenAlertView_ = false;
        startLBWindow();
    }
}

void NestlarkAppDelegate::answerWebUrl(const std::string& url) {
    if (!bookTransfer_) {
        // The library is not built yet: its root list takes the address up.
        startupOpenUrl_ = url;
        return;
    }
    if (auto folder = LocalFilelistViewController::webFolderURL(url)) {
        if (!navigationController_) return;
        if (auto* reader = dynamic_cast<BookViewController*>(navigationController_->topViewController()))
            reader->closeIfBackground();
        navigationController_->popToRootViewController(false);
        if (auto root = rootList()) root->openRemoteUrl(*folder);
        return;
    }
    bookTransfer_->addNewItem(0, url, BookCommon::getBooksTempRoot(), std::nullopt, std::nullopt, std::nullopt,
                              std::nullopt, std::nullopt, {}, {}, 0);
}

// ---- SMB server -------------------------------------------------------------------------------------

bool NestlarkAppDelegate::isAccessibleFileWithPath(const std::string& path) {
    const std::string name = Path::lastPathComponent(path);
    if (BookCommon::isCacheOrBookSettingFileWithFilename(name)) return false;
    if (name == ".thumbs.dat" || name == ".thumbs.size" || name == "directory.plist") return false;
    const std::string ext = Path::pathExtension(name);
    if (iequal(ext, "shortcut") || iequal(ext, "lbs")) return false;
    // A folder is locked by its record, whatever its name says.
    bool isDirectory = false;
    if (sys::FileManager::fileExists(path, &isDirectory) && isDirectory) return !BookCommon::isFolderLocked(path);
    return true;
}

bool NestlarkAppDelegate::isAccessibleDirectoryWithPath(const std::string& path) {
    return !BookCommon::isFolderLocked(path);
}

// The server keeps the machine awake while it is published: one hold from
// the first "running" to the next "stopped", however often either comes.
bool NestlarkAppDelegate::smbServerPublished_ = false;

bool NestlarkAppDelegate::isSmbServerPublished() { return smbServerPublished_; }

void NestlarkAppDelegate::didChangeServerStatus(int status) {
    bool published = smbServerPublished_;
    if (status == CIFSStackManager::kStatusIdle || status == CIFSStackManager::kStatusStopped) published = false;
    else if (status == CIFSStackManager::kStatusRunning) published = true;
    if (published != smbServerPublished_) {
        smbServerPublished_ = published;
        BookCommon::globalIdleTimerDisabled(published);
    }
    if (auto d = cifsStackDelegate_.lock()) d->didChangeServerStatus(status);
}
