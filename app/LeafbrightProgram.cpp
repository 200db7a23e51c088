#include "app/LeafbrightProgram.h"

#include "app/AppScriptHost.h"
#include "app/InstanceHandOver.h"
#include "app/LBStartViewController.h"
#include "app/NestlarkAppDelegate.h"
#include "app/TerminationSignal.h"
#include "foundation/ui/AuxiliaryScreenFactory.h"
#include "foundation/AppDelegateServices.h"
#include "library/LibraryServices.h"
#include "engine/BookReaderEx.h"
#include "engine/CacheCreateOperation.h"
#include "engine/ThumbsCreate.h"
#include "library/ArchiveExtractViewController.h"
#include "library/FilelistBaseViewController.h"
#include "library/LocalFilelistViewController.h"
#include "platform/core/Path.h"
#include "platform/core/PercentEncoding.h"
#include "platform/ui/NavigationController.h"
#include "viewer/BookViewController.h"
#include "foundation/BookCommon.h"
#include "foundation/DeviceScreenState.h"
#include "foundation/FileDelayCloser.h"
#include "foundation/WindowScreenState.h"
#include "platform/core/AppPaths.h"
#include "platform/core/Clock.h"
#include "platform/core/DesktopAppearance.h"
#include "platform/core/DesktopNotifier.h"
#include "platform/core/DeviceProfile.h"
#include "platform/core/FileManager.h"
#include "platform/core/LauncherEntry.h"
#include "platform/core/NetworkActivityIndicator.h"
#include "platform/core/OutputVolume.h"
#include "platform/core/PortalFileChooser.h"
#include "platform/core/RunLoop.h"
#include "platform/core/ScreenSaverInhibitor.h"
#include "platform/core/Thread.h"
#include "platform/core/UserDefaults.h"
#include "platform/core/Unicode.h"
#include "platform/shell/DesktopShell.h"
#include "platform/shell/ScriptPlayer.h"
#include "platform/ui/Animator.h"
#include "platform/ui/Application.h"
#include "platform/ui/SystemURLOpener.h"
#include "platform/ui/DesktopShareService.h"
#include "platform/ui/Screen.h"
#include "platform/ui/UserNotificationCenter.h"
#include "platform/ui/WebURL.h"
#include "platform/ui/Window.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdlib.h>
#include <unistd.h>

namespace {

std::string absolute(const std::string& path) {
    std::error_code ec;
    auto p = std::filesystem::absolute(path, ec);
    return ec ? path : p.lexically_normal().string();
}

// Whether the book at `path` opens, asked before the run's home is in force.
// Opening a book may write (a solid 7z writes its pages out), so it is opened
// in a scratch home of its own, removed after it: no home is touched, the
// user's own least of all.
std::optional<std::string> bookProblemBeforeHome(const std::string& path) {
    std::error_code ec;
    std::string scratch = (std::filesystem::temp_directory_path(ec) / "leafbright-check-XXXXXX").string();
    if (ec || !::mkdtemp(scratch.data())) return std::string("cannot make a temporary folder to open it in");
    sys::AppPaths::setHome(scratch);
    auto problem = NestlarkAppDelegate::bookOpenProblem(path);
    sys::AppPaths::setHome({});
    std::filesystem::remove_all(scratch, ec);
    return problem;
}

}  // namespace

LeafbrightProgram::LeafbrightProgram(ProgramOptions options) : options_(std::move(options)) {}

LeafbrightProgram::~LeafbrightProgram() { terminate(); }

void LeafbrightProgram::requestStop() { TerminationSignal::requestStop(); }
bool LeafbrightProgram::stopRequested() { return TerminationSignal::stopRequested(); }
void LeafbrightProgram::resetStopRequest() { TerminationSignal::reset(); }

const char* LeafbrightProgram::demoScript(bool bookOpen) {
    // A book named on the command line is open already: its first page and the next.
    if (bookOpen)
        return "wait 2\n"
               "shot page1\n"
               "key space\n"
               "wait 2\n"
               "shot page2\n";
    return "# The library, the sample book's first page (chosen on the open sheet), and the next page.\n"
           "wait 1\n"
           "shot library\n"
           "tap \"Leafbright Sample\"\n"
           "wait 1\n"
           "sheet 0\n"
           "wait 2\n"
           "shot page1\n"
           "key space\n"
           "wait 2\n"
           "shot page2\n";
}

std::string LeafbrightProgram::shotsDirectory() const { return absolute(options_.shots.value_or("shots")); }

bool LeafbrightProgram::launch(bool headless, std::string* error) {
    headless_ = headless;
    if (options_.home) {
        const std::string home = absolute(*options_.home);
        if (!sys::FileManager::createDirectory(home, true)) {
            if (error) *error = "cannot make the home folder " + home;
            return false;
        }
        sys::AppPaths::setHome(home);
    }
    // What the program keeps (site addresses, user names, reading history,
    // passwords where no secret store is there) is the user's alone, also in
    // a home an older version or the user left open to others.
    if (!sys::AppPaths::makeHomePrivate().empty()) {
        std::fprintf(stderr, "leafbright: %s or files it keeps were open to others; made them private to you\n",
                     sys::Unicode::displaySafe(sys::AppPaths::home()).c_str());
    }
    auto profile = sys::DeviceProfile::named(options_.device.value_or("desktop"));
    if (!profile) {
        if (error) *error = "unknown device profile";
        return false;
    }
    // In a window on a dense screen the desktop profile takes the desktop's
    // scale: laid out in points, drawn at the screen's pixels. (The other
    // profiles keep their devices' scales; their window is as many pixels
    // per point as the desktop's.)
    const double desktopScale = headless ? 1.0 : shell::DesktopShell::desktopScale();
    if (!headless && profile->name == "desktop") profile->scale = desktopScale;
    sys::DeviceProfile::setCurrent(*profile);
    if (headless) sys::Clock::setVirtual(true);
    sys::RunLoop::main().bindToCurrentThread();
    ui::Application::shared().reset();
    ui::Screen::main().reset();
    // A window is drawn in the desktop's light or dark colours, and without
    // translucent materials where the desktop asks for higher contrast (a
    // headless run's pictures do not depend on the desktop it runs on).
    if (!headless) followDesktopAppearance();
    // The device facts (screen rectangle, safe area, orientation) follow the
    // real window, so that every layout sees the window turned or resized.
    DeviceScreenState::setShared(std::make_shared<WindowScreenState>());
    // Books go to the desktop's programs ("Open in...") only from a window:
    // a headless run opens nothing outside itself.
    if (headless) ui::ShareService::setShared(std::make_shared<ui::ShareService>());
    else ui::ShareService::setShared(std::make_shared<ui::DesktopShareService>());

    installNotices(headless);
    // Ctrl+Q: the end a closed window or SIGTERM takes.
    ui::Application::shared().setTerminationRequestHandler([] { requestStop(); });
    delegate_ = NestlarkAppDelegate::create();
    delegate_->applicationDidFinishLaunchingWithOptions();
    // A quick action arrives right after the launch, before the library is built.
    if (options_.quickAction) delegate_->performActionForShortcutItem(*options_.quickAction);
    // Later `leafbright FILE` runs on this home hand their book to this one.
    // Without the socket (a home path too deep, another run already
    // listening) this run simply takes no hand-overs.
    handOver_ = std::make_unique<InstanceHandOver>([this](const std::string& url) {
        if (!delegate_) return false;
        // The library list may be covered by a folder or a book: it shows
        // the new book when it is back in front, not after a restart.
        if (auto root = delegate_->rootList()) root->setNeedUpdateFileList(true);
        if (!delegate_->openURL(url)) return false;
        if (shell_) shell_->raise();
        return true;
    });
    std::string why;
    if (!handOver_->listen(sys::AppPaths::home(), &why)) {
        // Something else in the socket's place: later runs start windows of
        // their own, and the user hears why.
        if (handOver_->placeTaken()) std::fprintf(stderr, "leafbright: %s; books are not handed to this run\n",
                                                  sys::Unicode::displaySafe(why).c_str());
        handOver_.reset();
    }
    if (!headless) {
        // The window opens at the size it had when the last run ended.
        if (auto size = storedWindowSize()) delegate_->window()->resize(*size);
        shell_ = std::make_unique<shell::DesktopShell>(*delegate_->window(), desktopScale);
        std::string why;
        if (!shell_->open("Leafbright", &why)) {
            if (error) *error = "cannot open a window: " + why;
            return false;
        }
        // A window left maximised opens maximised, its size under it kept.
        if (storedWindowMaximized()) shell_->maximize();
        shell_->setTitleSource([this] { return windowTitle(); });
        shell_->setVolumeHandler([](bool up) { sys::OutputVolume::shared()->pressVolumeButton(up); });
        // While a download (or a slideshow) keeps the device awake, the
        // desktop's screen saver stays away; nothing where no such service runs.
        screenSaver_ = std::make_unique<sys::ScreenSaverInhibitor>();
        ui::Application::shared().setIdleTimerObserver([this](bool disabled) {
            if (screenSaver_) screenSaver_->setInhibited(disabled, "Leafbright is downloading or showing pages");
        });
        // The page read shows on the program's icon in the desktop's launcher
        // (with the setting on); nothing where there is no session bus.
        launcher_ = std::make_unique<sys::LauncherEntry>();
        ui::Application::shared().setBadgeObserver([this](long number) {
            if (launcher_) launcher_->setCount(number);
        });
        // While a listing or a download is under way the pointer says so.
        sys::NetworkActivityIndicator::setHandler([this](bool busy) {
            if (shell_) shell_->setBusyPointer(busy);
        });
        // Books dropped on the window come in as books handed over do.
        shell_->setDropHandler([this](const std::vector<std::string>& paths) {
            if (!delegate_) return;
            delegate_->openDroppedFiles(paths);
            if (shell_) shell_->raise();
        });
        // Web and mail links leave for the desktop's own programs (a headless
        // run opens nothing outside itself).
        ui::SystemURLOpener::install();
        // A book from elsewhere on the computer is chosen in the desktop's
        // own file chooser where a portal offers one (our own screen otherwise).
        auto chooser = std::make_shared<sys::PortalFileChooser>();
        chooser->setParentWindow(shell_->portalWindowHandle());
        sys::PortalFileChooser::install(chooser);
        for (int i = 0; i < 200 && !delegate_->isStartLBWindowDone() && !delegate_->isStartScreenShown(); ++i)
            shell_->pumpOnce(0.005);
    } else {
        sys::RunLoop::main().advance(0.1);
    }
    // The start screens hand over by themselves (a notice waits for "Close").
    return delegate_->isStartLBWindowDone() || delegate_->isStartScreenShown();
}

namespace {

// The program's whole look follows the desktop through the device's
// settings, as a phone's does when they change: light or dark, and Reduce
// Transparency (the glass views' plain fallback) where the desktop asks for
// higher contrast.
void followDesktop(sys::DesktopAppearance::Preferences desktop) {
    sys::DeviceProfile p = sys::DeviceProfile::current();
    if (p.darkMode == desktop.dark && p.reduceTransparency == desktop.highContrast) return;
    p.darkMode = desktop.dark;
    p.reduceTransparency = desktop.highContrast;
    sys::DeviceProfile::setCurrent(p);
    for (ui::Window* w : ui::Application::shared().windows()) w->reloadProfile();
}

}  // namespace

void LeafbrightProgram::followDesktopAppearance(const std::string& busAddress) {
    appearance_ = std::make_unique<sys::DesktopAppearance>(busAddress);
    appearance_->start(followDesktop);
    if (appearance_->waitForFirstAnswer(kAppearanceWait)) followDesktop(appearance_->preferences());
}

void LeafbrightProgram::installNotices(bool headless) {
    // The desktop asks nobody for leave to show notices or the icon's number.
    auto centre = ui::UserNotificationCenter::shared();
    centre->requestAuthorization(ui::UserNotificationCenter::OptionAlert | ui::UserNotificationCenter::OptionBadge,
                                 {});
    // A notice (a download that ended) goes to the desktop's notification
    // area from a window; headless, or where nothing shows notices, it goes
    // to the error output as the program's other notices do.
    if (!headless) notifier_ = std::make_unique<sys::DesktopNotifier>();
    centre->setPresenter([this](const ui::UserNotificationCenter::Request& request) {
        const std::string text = request.title.empty() ? request.body : request.title + ": " + request.body;
        if (notifier_ && notifier_->notify(text)) return;
        std::fprintf(stderr, "leafbright: %s\n", sys::Unicode::displaySafe(text).c_str());
    });
}

std::string LeafbrightProgram::windowTitle() const {
    static const std::string kName = "Leafbright";
    auto nav = delegate_ ? delegate_->navigationController() : nullptr;
    if (!nav) return kName;
    const auto& stack = nav->viewControllers();
    for (auto it = stack.rbegin(); it != stack.rend(); ++it) {
        if (auto* reader = dynamic_cast<BookViewController*>(it->get())) {
            std::string path = reader->fileName();
            const bool url = path.find("://") != std::string::npos;
            if (url) path = path.substr(0, path.find_first_of("?#"));
            // A folder of pictures is read from one of its pictures: the
            // book is the folder.
            const bool folder = BookCommon::isImageFileWithFile(path);
            if (folder) path = sys::Path::stringByDeletingLastPathComponent(path);
            std::string name = sys::Path::lastPathComponent(path);
            if (url) name = sys::PercentEncoding::decode(name);
            if (!folder) name = sys::Path::stringByDeletingPathExtension(name);
            // The name is the file's or the server's: shown with its control
            // characters escaped and its direction changes closed before ours.
            name = sys::Unicode::displaySafe(name);
            const int pages = reader->bookReader() ? reader->bookReader()->getPageNum() : 0;
            if (pages <= 0) return name;
            return name + " \u2014 " + std::to_string(std::clamp(reader->page(), 0, pages - 1) + 1) + "/" +
                   std::to_string(pages);
        }
        // A list names its folder or site; an archive's contents name the archive.
        if (dynamic_cast<FilelistBaseViewController*>(it->get()) ||
            dynamic_cast<ArchiveExtractViewController*>(it->get()))
            if (!(*it)->title().empty()) return sys::Unicode::displaySafe((*it)->title()) + " \u2014 " + kName;
    }
    return kName;
}

std::string LeafbrightProgram::targetURL(const std::string& target) {
    if (target.find("://") != std::string::npos) return target;
    // A path: as the system hands a file over, a file URL of its absolute path.
    std::string path = absolute(target);
    std::string escaped;
    for (char c : path) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (std::isalnum(u) || c == '/' || c == '-' || c == '.' || c == '_' || c == '~') {
            escaped += c;
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", u);
            escaped += hex;
        }
    }
    return "file://" + escaped;
}

std::string LeafbrightProgram::homeFolder() const {
    // Asked before the run has a home of its own: a demonstration leaves
    // the user's home as it found it (not even made).
    return options_.home ? absolute(*options_.home) : sys::AppPaths::homePath();
}

bool LeafbrightProgram::openTarget(std::string* error) {
    if (!options_.target) return true;
    const std::string url = targetURL(*options_.target);
    // Checked as the run began (a book that does not open ends it there).
    if (auto path = NestlarkAppDelegate::localPathOfFileURL(url)) delegate_->setBookCheckedBeforeLaunch(*path);
    if (!delegate_->openURL(url)) {
        if (error) *error = "cannot open " + *options_.target;
        return false;
    }
    if (headless_) sys::RunLoop::main().advance(1.0);
    else pumpWindow(0.5);
    return true;
}

void LeafbrightProgram::pumpWindow(double seconds) {
    if (!shell_) return;
    const double until = sys::Clock::now() + seconds;
    while (sys::Clock::now() < until && !stopRequested() && !shell_->closeRequested()) shell_->pumpOnce(0.01);
}

int LeafbrightProgram::playScript(const std::string& text, std::string* error) {
    auto steps = shell::ScriptPlayer::parse(text, error);
    if (!steps) return 1;
    const std::string shots = shotsDirectory();
    sys::FileManager::createDirectory(shots, true);
    waitForFirstScreen();
    AppScriptHost host(delegate_);
    shell::ScriptPlayer::Clock clock;
    // SIGTERM and SIGINT end a script run as they end the program: a step
    // under way (one looking for a text) gives up at once.
    clock.stopped = [] { return stopRequested(); };
    if (shell_) {
        clock.wait = [this](double s) { pumpWindow(s); };
        clock.shot = [this](const std::string& path) { return shell_->screenshot(path); };
    }
    shell::ScriptPlayer player(*delegate_->window(), &host, shots, clock);
    for (const auto& step : *steps) {
        if (stopRequested()) break;
        if (!player.runStep(step, error)) {
            if (stopRequested()) break;
            shots_ = player.shotsWritten();
            return 1;
        }
        if (shell_) pumpWindow(0.05);
    }
    shots_ = player.shotsWritten();
    return 0;
}

int LeafbrightProgram::runDemo(std::string* error) {
    // The launch animation first; a notice page (a new library, a new
    // version) is pictured and closed before the library is.
    for (int i = 0; i < 40 && delegate_->isStartScreenShown() && !noticeShown(); ++i)
        sys::RunLoop::main().advance(0.1);
    const std::string closeNotice =
        "wait 1\nshot notice\ntap \"" + BookCommon::localizedStringWithOnOff("Close") + "\"\n";
    std::string script;
    if (delegate_->isAskingAboutWebUrl()) {
        // A web address: its question in front of whatever the start shows,
        // answered Yes, then what the address opens (the folder's list, or
        // the library its file is downloaded into).
        script = "wait 1\nshot question\ntap \"" + BookCommon::localizedStringWithOnOff("Yes") + "\"\n";
        if (noticeShown()) script += closeNotice;
        script += "wait 3\nshot opened\n";
    } else {
        script = demoScript(options_.target.has_value());
        if (noticeShown()) script = closeNotice + script;
    }
    const int rc = playScript(script, error);
    for (const auto& path : shots_) std::printf("%s\n", path.c_str());
    std::fflush(stdout);
    return rc;
}

void LeafbrightProgram::waitForFirstScreen() {
    if (firstScreenUp_) return;
    firstScreenUp_ = true;
    // Steps wait for the screen they act on: the launch animation hands
    // over to the library (or a notice page) on its own.
    // A screen fading in takes no taps yet: its animations end first.
    auto turn = [this] {
        if (shell_) pumpWindow(0.05);
        else sys::RunLoop::main().advance(0.05);
    };
    for (int i = 0; i < 200 && delegate_->isStartScreenShown() && !noticeShown() && !stopRequested(); ++i) turn();
    turn();
    for (int i = 0; i < 100 && ui::Animator::shared().activeTracks() > 0 && !stopRequested(); ++i) turn();
}

namespace {
constexpr const char* kWindowSizeKey = "LBDesktopWindowSize";
constexpr const char* kWindowMaximizedKey = "LBDesktopWindowMaximized";
}

bool LeafbrightProgram::storedWindowMaximized() {
    return sys::UserDefaults::standard().boolForKey(kWindowMaximizedKey);
}

std::optional<ui::Size> LeafbrightProgram::storedWindowSize() {
    const std::string text = sys::UserDefaults::standard().stringForKey(kWindowSizeKey).value_or("");
    int w = 0, h = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%dx%d%c", &w, &h, &tail) != 2) return std::nullopt;
    // A size from an older, larger screen is still a sane window; nothing
    // past what any display shows.
    if (w < shell::DesktopShell::kMinWidth || h < shell::DesktopShell::kMinHeight || w > 16384 || h > 16384)
        return std::nullopt;
    return ui::Size{double(w), double(h)};
}

void LeafbrightProgram::storeWindowSize(ui::Size size, bool maximized) {
    char text[32];
    std::snprintf(text, sizeof text, "%dx%d", int(std::lround(size.width)), int(std::lround(size.height)));
    auto& defaults = sys::UserDefaults::standard();
    defaults.setObject(sys::PlistValue(std::string(text)), kWindowSizeKey);
    defaults.setBool(maximized, kWindowMaximizedKey);
    defaults.synchronize();
}

bool LeafbrightProgram::noticeShown() const {
    if (!delegate_ || !delegate_->window()) return false;
    auto* start = dynamic_cast<LBStartViewController*>(delegate_->window()->rootViewController().get());
    return start && start->webView();
}

void LeafbrightProgram::terminate() {
    TerminationSignal::terminationBegun();
    if (terminated_ || !delegate_) return;
    terminated_ = true;
    // No hand-over reaches a program that is ending, and the screen saver is free again.
    handOver_.reset();
    sys::PortalFileChooser::install(nullptr);
    ui::Application::shared().setURLOpener({});
    ui::Application::shared().setIdleTimerObserver({});
    ui::Application::shared().setTerminationRequestHandler({});
    screenSaver_.reset();
    delegate_->applicationWillTerminate();
    sys::NetworkActivityIndicator::setHandler(nullptr);
    // Screens go first (their workers are joined), then the window.
    if (auto window = delegate_->window()) window->setRootViewController(nullptr);
    // A program left full screen over a maximised window opens maximised.
    if (shell_) storeWindowSize(shell_->windowedSize(), shell_->isMaximizedUnderFullscreen());
    shell_.reset();
    // The icon's number goes with the program; notices of the last turns still go out.
    ui::Application::shared().setBadgeObserver({});
    launcher_.reset();
    AppDelegateServices::install(nullptr);
    LibraryServices::install(nullptr);
    AuxiliaryScreenFactory::install(nullptr);
    delegate_->releaseScreens();
    DeviceScreenState::setShared(nullptr);
    // What the screens posted as they went runs now. Workers still busy (a
    // listing or a download given up) are not waited for: they were told to
    // stop, and the process ends them as it ends.
    for (int i = 0; i < 100 && sys::RunLoop::main().runOnce(); ++i) {
    }
    // The lists, as they went, asked for the cover maker again: it goes now
    // (its cover read cancelled), its worker, which may be decoding a large
    // page, left to finish: the run ends without it (below), never among the
    // static objects at exit, where it ran on while the objects it uses were
    // destroyed (the heap was corrupted).
    ThumbsCreate::releaseThumbsCreate(false);
    // The page previews being made are not waited for either; their pages
    // did not crash.
    CacheCreateOperation::forgetAttemptsUnderWay();
    // Archives the readers let go of are closed on threads of their own.
    FileDelayCloser::waitForCloseAll();
    ui::UserNotificationCenter::shared()->setPresenter({});
    notifier_.reset();
}

int LeafbrightProgram::run() {
    if (options_.help) {
        std::fputs(ProgramOptions::usage().c_str(), stdout);
        return 0;
    }
    if (options_.version) {
        std::printf("leafbright %s\n", LEAFBRIGHT_VERSION);
        return 0;
    }
    if (options_.target) {
        // A path, or a file address of this machine, that names no book is
        // said so, not handed on in silence. A folder of pictures is a book;
        // a book that does not open is not copied in, nor handed on. Nor is
        // an address of a kind the program does not open.
        std::string wrong;
        bool opensNot = false;
        std::optional<std::string> path;
        const std::string& target = *options_.target;
        if (target.find("://") == std::string::npos) {
            path = target;
        } else if (!NestlarkAppDelegate::opensAddress(target)) {
            wrong = NestlarkAppDelegate::kAddressNotOpened;
            opensNot = true;
        } else if (ui::WebURL::scheme(target) == "file") {
            path = NestlarkAppDelegate::localPathOfFileURL(target);
            if (!path) wrong = "is not a valid file address of this machine";
        }
        if (path) {
            std::error_code ec;
            const auto status = std::filesystem::status(*path, ec);
            if (ec || !std::filesystem::exists(status)) wrong = "no such file";
            else if (std::filesystem::is_directory(status)) {
                if (!NestlarkAppDelegate::holdsPictures(*path)) wrong = "is a folder with no pictures";
            }
            else if (!std::filesystem::is_regular_file(status)) wrong = "is not a file";
            else if (auto why = bookProblemBeforeHome(*path)) {
                wrong = *why;
                opensNot = true;
            }
        }
        // A book that does not open (or such an address) is still handed to
        // a program running on this home, which refuses it where the user
        // looks (its window and its error output); this run says why as well.
        if (opensNot) InstanceHandOver::handOver(homeFolder(), targetURL(target), nullptr);
        if (!wrong.empty()) {
            std::fprintf(stderr, "leafbright: %s: %s\n", sys::Unicode::displaySafe(target).c_str(), sys::Unicode::displaySafe(wrong).c_str());
            return 1;
        }
    }
    if (options_.target) {
        // A program already running on this home takes the book and shows
        // it; this run has nothing more to do.
        std::string why;
        switch (InstanceHandOver::handOver(homeFolder(), targetURL(*options_.target), &why)) {
        case InstanceHandOver::Result::Delivered:
            return 0;
        case InstanceHandOver::Result::Failed:
            std::fprintf(stderr, "leafbright: %s: %s\n", sys::Unicode::displaySafe(*options_.target).c_str(), sys::Unicode::displaySafe(why).c_str());
            return 1;
        case InstanceHandOver::Result::NoRunningProgram:
            break;
        }
    }
    // While the start asks for the display (which may wait on the display
    // server and the session bus), nothing of the run exists yet: a signal
    // ends the program at once.
    TerminationSignal::setStarting(true);
    TerminationSignal::install();
    const bool headless = options_.headless || !shell::DesktopShell::displayAvailable();
    // From here on the start's waits are bounded, and its loops watch for a
    // stop, which ends the run through the termination path.
    TerminationSignal::setStarting(false);
    // The demonstration plays in a home of its own, made for it and removed
    // after it, unless one is named: the user's library, history and reading
    // positions stay as they were.
    std::string demoHome;
    if (headless && !options_.script && !options_.home) {
        std::error_code ec;
        std::string pattern = (std::filesystem::temp_directory_path(ec) / "leafbright-demo-XXXXXX").string();
        if (ec || !::mkdtemp(pattern.data())) {
            std::fprintf(stderr, "leafbright: cannot make a home for the demonstration\n");
            return 1;
        }
        demoHome = pattern;
        options_.home = demoHome;
    }
    auto removeDemoHome = [&demoHome] {
        std::error_code ec;
        if (!demoHome.empty()) std::filesystem::remove_all(demoHome, ec);
    };
    std::string error;
    if (!launch(headless, &error)) {
        std::fprintf(stderr, "leafbright: %s\n", sys::Unicode::displaySafe(error).c_str());
        terminate();
        removeDemoHome();
        return 1;
    }
    int rc = 0;
    if (!openTarget(&error)) {
        std::fprintf(stderr, "leafbright: %s\n", sys::Unicode::displaySafe(error).c_str());
        rc = 1;
    }
    if (rc == 0) {
        if (options_.script) {
            std::ifstream in(*options_.script, std::ios::binary);
            if (!in) {
                std::fprintf(stderr, "leafbright: cannot read %s\n", sys::Unicode::displaySafe(*options_.script).c_str());
                rc = 1;
            } else {
                std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
                rc = playScript(text, &error);
                if (rc != 0)
                    std::fprintf(stderr, "leafbright: %s: %s\n", sys::Unicode::displaySafe(*options_.script).c_str(),
                                 sys::Unicode::displaySafe(error).c_str());
            }
        } else if (headless) {
            rc = runDemo(&error);
            if (rc != 0) std::fprintf(stderr, "leafbright: demonstration: %s\n", sys::Unicode::displaySafe(error).c_str());
        } else {
            shell_->run(TerminationSignal::stopFlag());
        }
    }
    terminate();
    removeDemoHome();
    // Workers left to finish (a page still decoding, a lookup no cancel
    // reaches) are not waited for: what the run keeps is saved by now.
    if (sys::Thread::leftThreadsRunning()) {
        std::fflush(nullptr);
        ::_exit(rc);
    }
    return rc;
}
