#pragma once

#include "foundation/AppDelegateServices.h"
#include "foundation/ui/QNAlertViewDelegate.h"
#include "library/LibraryServices.h"
#include "platform/ui/ApplicationDelegate.h"
#include "platform/ui/Geometry.h"
#include "screens/StartupPasscodeInputViewControllerDelegate.h"
#include "smb/CIFSStackManagerDataSource.h"
#include "smb/CIFSStackManagerDelegate.h"

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ui {
class NavigationController;
class View;
class ViewController;
class Window;
}  // namespace ui
namespace sys {
class LoopTimer;
}  // namespace sys
class BookImport;
class BookTransfer;
class LocalFilelistViewController;
class Settings;

// The application object: it makes the window, builds the main screen (the
// library list in the root navigation under the dimming overlay), applies a
// pending configuration reset, shows the start-up lock, and follows the
// application's life: background and foreground, termination, and files
// handed to it. It answers the lower layers' questions about the
// application (settings, transfers, the screens they open).
class NestlarkAppDelegate : public AppDelegateServices,
                            public LibraryServices,
                            public CIFSStackManagerDataSource,
                            public CIFSStackManagerDelegate,
                            public QNAlertViewDelegate,
                            public ui::ApplicationDelegate,
                            public StartupPasscodeInputViewControllerDelegate,
                            public std::enable_shared_from_this<NestlarkAppDelegate> {
public:
    static constexpr const char* kResetMarker = "resetconfig.lbsettings";
    static constexpr const char* kResetDefault = "do_clear_settings";

    NestlarkAppDelegate();
    ~NestlarkAppDelegate() override;

    // Makes the delegate and installs it as the lower layers' services.
    static std::shared_ptr<NestlarkAppDelegate> create();

    // ---- Launch ------------------------------------------------------------------------
    bool applicationDidFinishLaunchingWithOptions();
    void createLBWindow();
    ui::Rect getApplicationBaseScreenRect() const;
    void fixWindowSize();
    void startLBWindow();
    bool resetAllConfig(ui::ViewController* presenter);
    void onPasscodeInputFinish() override;
    unsigned supportedInterfaceOrientationsForWindow() const override;

    // ---- Life cycle ----------------------------------------------------------------------
    // The application object calls these as it moves (the desktop window
    // losing focus or minimised, and back; a script's steps).
    void applicationWillResignActive() override;
    void applicationDidEnterBackground() override;
    void applicationWillEnterForeground() override;
    void applicationDidBecomeActive() override;
    void applicationWillTerminate();
    // Covers the window while the application is away (a lock applies).
    void addToBackgroundHiddenView();
    const std::shared_ptr<ui::View>& backgroundHiddenView() const { return toBackgroundView_; }
    // A quick action picked ("filelist": no book is resumed, an open one
    // closes; "reading": the next resume does not ask). False for other keys.
    bool performActionForShortcutItem(const std::string& key);
    // A URL handed over by the system: a pending cloud sign-in's redirect
    // goes to it, "leafbright" is taken as it is, a "file" URL of a book is
    // imported into the library and opened (other files, and books that do
    // not open, are refused with a message), web links are opened or
    // downloaded after a question; an address of any other kind is refused
    // with a message (and on the error output). Any URL is taken (true).
    bool openURL(const std::string& url);
    // Whether openURL does something with addresses of this kind: "file",
    // "leafbright", "http", "https", "lbhttp" and "lbhttps".
    static bool opensAddress(const std::string& url);
    // What the program says of an address of any other kind.
    static constexpr const char* kAddressNotOpened = "This kind of address is not opened.";
    // The command line's book, found to open before the launch: handed in
    // while the start screen plays, it is not opened a second time to see.
    void setBookCheckedBeforeLaunch(std::string path) { bookCheckedBeforeLaunch_ = std::move(path); }
    // The answer to a question about a web address handed to the program.
    void alertViewClickedButtonAtIndex(QNAlertView& alert, int64_t buttonIndex) override;
    void alertViewCancel(QNAlertView& alert) override;
    // Files dropped on the window (the desktop's "open in"): every book
    // among them is imported and the last one opened; other files are
    // refused with a message.
    void openDroppedFiles(const std::vector<std::string>& paths);
    // Lets go of the screens and the window (the end of the process).
    void releaseScreens();
    // Where an imported file lands (copied when it lies outside the
    // application's folders, moved when it was handed to us inside them).
    std::optional<std::string> importFile(const std::string& path);
    // A folder of pictures handed over: its pictures are copied into a
    // folder of the library of the same name (numbered when a folder of
    // that name holds other files; the same pictures again are the folder
    // already there). Nothing when it holds no picture or the copy failed.
    std::optional<std::string> importFolder(const std::string& path);
    // The names of the pictures directly in `folder` (no hidden files, no
    // subfolders), sorted; empty when there are none or it cannot be read.
    static std::vector<std::string> picturesInFolder(const std::string& folder);
    // Whether `folder` holds a picture as picturesInFolder counts them:
    // read only up to the first one, so a folder of many pictures is not
    // listed whole to be told apart from one with none.
    static bool holdsPictures(const std::string& folder);
    // Why the book or PDF at `path` would not open (the open error's text,
    // untranslated); nothing when it opens, asks for a password, or is not
    // a book.
    static std::optional<std::string> bookOpenProblem(const std::string& path);
    // The path a "file://" address names on this machine (no host, or
    // "localhost"), percent-decoded; nothing for another host or a bad escape.
    static std::optional<std::string> localPathOfFileURL(const std::string& url);

    // ---- Properties -------------------------------------------------------------------------
    const std::shared_ptr<ui::Window>& window() const { return window_; }
    const std::shared_ptr<ui::NavigationController>& navigationController() const { return navigationController_; }
    std::shared_ptr<LocalFilelistViewController> rootList() const;
    std::shared_ptr<BookTransfer> bookTransfer() const { return bookTransfer_; }
    // The screen that follows the SMB server's state while it is shown (not owned).
    std::shared_ptr<CIFSStackManagerDelegate> cifsStackDelegate() const { return cifsStackDelegate_.lock(); }
    void setCifsStackDelegate(std::weak_ptr<CIFSStackManagerDelegate> d) { cifsStackDelegate_ = std::move(d); }
    bool isShowKeyboard() const { return isShowKeyboard_; }
    ui::Rect keyboardRect() const { return keyboardRect_; }
    bool isPresentingMasterLock() const { return nowPresentMasterLockView_; }
    bool isStartLBWindowDone() const { return startDone_; }
    // A book handed over is being copied into the library, or waits to be.
    bool isImporting() const { return import_ || !importQueue_.empty(); }
    // The alert that shows the copy's progress, while it is up.
    const std::shared_ptr<QNAlertView>& importProgressAlert() const { return importAlert_; }
    // A start screen is on the window (the main screen is not built yet).
    bool isStartScreenShown() const;
    // A web address handed to the program waits on its question ("Do you want to open this URL?").
    bool isAskingAboutWebUrl() const { return !urlQuestions_.empty(); }

    // ---- AppDelegateServices -----------------------------------------------------------------
    std::shared_ptr<Settings> settings() override { return settings_; }
    // True while the application is on its way to the background.
    bool isAppGotoBackgroundProcess() override;
    std::shared_ptr<BookTransfer> transferQueue() override { return bookTransfer_; }

    // ---- LibraryServices ---------------------------------------------------------------------
    void setBookTransfer(std::shared_ptr<BookTransfer> transfer) override { bookTransfer_ = std::move(transfer); }
    std::shared_ptr<BookTransfer> makeBookTransfer(std::shared_ptr<Settings> settings) override;
    std::optional<std::string> startupOpenUrl() override { return startupOpenUrl_; }
    void setStartupOpenUrl(const std::optional<std::string>& url) override { startupOpenUrl_ = url; }
    std::shared_ptr<ui::ViewController> makeHistoryViewController(
        std::weak_ptr<LocalFilelistViewController> calledViewController) override;
    std::shared_ptr<ui::ViewController> makeMediaServerViewController(std::shared_ptr<Settings> settings) override;
    std::shared_ptr<ui::ViewController> makeSettingViewController(std::shared_ptr<Settings> settings,
                                                                  int settingViewType) override;
    void requestPasscode(const PassCodeTarget& target, std::weak_ptr<PassCodeRequetDelegate> delegate) override;
    std::shared_ptr<ui::ViewController> makePassCodeInputView(const PassCodeTarget& target,
                                                              std::weak_ptr<PassCodeInputViewExDelegate> delegate) override;
    void importDocument(const std::string& path, ImportedDocument then) override;

    // ---- SMB server ------------------------------------------------------------------------
    bool isAccessibleFileWithPath(const std::string& path) override;
    bool isAccessibleDirectoryWithPath(const std::string& path) override;
    void didChangeServerStatus(int status) override;
    // The SMB server is running and announced (the machine is kept awake meanwhile).
    static bool isSmbServerPublished();

private:
    static bool smbServerPublished_;
    bool isStartupLocked() const;
    // The root library list in a new navigation, and the dimming overlay.
    void buildRootNavigation(bool locked);
    // Takes the screen's dimming out of the window and forgets it.
    void dropDimming();
    // Makes it the window's root, the overlay on top.
    void showRootNavigation();
    // Presents the start-up passphrase screen over the library.
    void presentMasterLock(bool animated);
    // A list of a locked folder is somewhere in the navigation stack.
    bool stackShowsLockedFolder() const;
    // The reset itself (files and relaunch state); false when none was asked for.
    bool applyPendingReset();
    void showResetDone(ui::ViewController* presenter);
    // Asks about the previous run's crash report, when the activity log holds one.
    void offerCrashReport();
    void loadSettings();

    std::shared_ptr<ui::Window> window_;
    std::shared_ptr<ui::NavigationController> navigationController_;
    std::shared_ptr<ui::View> dimmingView_;
    std::shared_ptr<ui::View> coverView_;
    std::shared_ptr<ui::View> toBackgroundView_;
    std::shared_ptr<Settings> settings_;
    std::shared_ptr<BookTransfer> bookTransfer_;
    std::optional<std::string> startupOpenUrl_;
    // Closes what covers the root list: questions and notices (answered as
    // their cancel buttons would), editing, presented screens, an open book,
    // pushed screens.
    void bringLibraryToFront();
    // A book handed over before the library was up opens once it is (and
    // past the start-up lock) as a tap on it would open it.
    void openBookHandedAtStart();
    // The book handed over at start, its first page composed while the
    // start screen played: opened over the root list before the list is
    // shown, so that its page is the first frame after the start screen;
    // the list's own start follows once that frame is drawn. False when the
    // book is not ready (the usual open after the library follows).
    // `recordVersionAfter`: a first run's recordVersion comes then too.
    bool openPreparedBookFirst(bool recordVersionAfter);
    // The sample book on a first run, then the version recorded (and the
    // files of an earlier version brought up to date).
    void recordVersion();
    // Opens what was handed over and copied to `target` (a book, or a
    // folder of pictures) from the library's root; false when the root
    // does not list it.
    bool openHandedOver(const std::string& target);
    std::optional<std::string> bookHandedAtStart_;
    // Asks whether to open (a folder) or download (a file) a web address.
    void askAboutWebUrl(const std::string& url);
    void answerWebUrl(const std::string& url);
    // The last open question went: a main screen held back for it is built.
    void webUrlQuestionClosed();
    // A file handed over that the library would show (a book, a PDF, a
    // picture, a theme or a shortcut).
    static bool isImportable(const std::string& path);
    // Says that a file handed over was not taken.
    void refuseImport(const std::string& path);
    // Says that a book handed over does not open and was not taken.
    void refuseBrokenBook(const std::string& path, const std::string& why);
    // Says that an address of a kind the program does not open was not taken.
    void refuseAddress(const std::string& url);
    // The alert of a refusal, titled with the file's name, held back until
    // the library is up.
    void refuse(const std::string& path, const std::string& message);
    void refuseTitled(const std::string& title, const std::string& message);
    std::vector<std::shared_ptr<QNAlertView>> pendingRefusals_;
    // Each open question with the address it asks about.
    std::map<const QNAlertView*, std::string> urlQuestions_;
    std::weak_ptr<CIFSStackManagerDelegate> cifsStackDelegate_;
    std::optional<std::string> urlTargetDownload_;
    std::optional<std::string> fileTargetCopy_;
    // Books handed over are copied in on a worker, one at a time in the
    // order they came; `then` hears where each landed (nothing when its copy
    // failed), and not at all when it was given up.
    static constexpr double kImportProgressAfter = 0.5;
    static constexpr double kImportProgressEvery = 0.25;
    using ImportThen = std::function<void(const std::optional<std::string>& target)>;
    // With `refused` the book is first tried on the worker (bookOpenProblem):
    // one that does not open is not copied in, and `refused` hears why
    // instead of `then`.
    using ImportRefused = std::function<void(const std::string& why)>;
    void queueImport(const std::string& source, bool isFolder, ImportThen then, ImportRefused refused = {});
    void startNextImport();
    void importFinished();
    // The copy under way for a while shows its progress (Escape or Cancel
    // gives it up); it goes when the copy is over.
    void updateImportProgress();
    void closeImportProgress();
    // Runs `fn` once no copy is under way or waiting (at once when none is).
    void afterImports(std::function<void()> fn);
    std::vector<std::function<void()>> afterImports_;
    // Gives up the copy under way and those waiting.
    void cancelImports();
    // What a book handed over and copied in does next: opened, or waiting
    // for the library.
    void fileImported(const std::string& source, const std::optional<std::string>& target);
    struct PendingImport {
        std::string source;
        bool isFolder = false;
        ImportThen then;
        ImportRefused refused;
    };
    std::unique_ptr<BookImport> import_;
    // Copies given up by the user, told to stop and not waited for: they
    // go once their workers have ended (or with the program).
    std::vector<std::unique_ptr<BookImport>> givenUpImports_;
    void dropEndedImports();
    ImportThen importThen_;
    ImportRefused importRefused_;
    double importBegan_ = 0;
    std::deque<PendingImport> importQueue_;
    std::shared_ptr<QNAlertView> importAlert_;
    std::shared_ptr<sys::LoopTimer> importTimer_;
    bool nowPresentMasterLockView_ = false;
    // The last book handed over while the start-up lock was up.
    std::optional<std::string> handedWhileLocked_;
    // A reset applied on the way back waits to be told over the new library.
    bool resetMessagePending_ = false;
    bool isWaitUrlOpenAlertView_ = false;
    bool isShowKeyboard_ = false;
    ui::Rect keyboardRect_;
    bool startDone_ = false;
    std::string bookCheckedBeforeLaunch_;
    bool crashReportOffered_ = false;
    uint64_t keyboardShowToken_ = 0;
    uint64_t keyboardHideToken_ = 0;
};
