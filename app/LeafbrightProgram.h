#pragma once

#include "app/ProgramOptions.h"
#include "platform/ui/Geometry.h"

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class InstanceHandOver;
class NestlarkAppDelegate;
namespace shell {
class DesktopShell;
}
namespace sys {
class DesktopAppearance;
class DesktopNotifier;
class LauncherEntry;
class ScreenSaverInhibitor;
}

// One run of the program: the application's home and device, the
// application delegate, and either a desktop window on the real clock or a
// headless run on the virtual clock (a script, or the built-in
// demonstration). Ends through the application's termination path, also
// on SIGTERM and SIGINT.
class LeafbrightProgram {
public:
    explicit LeafbrightProgram(ProgramOptions options);
    ~LeafbrightProgram();

    // The whole run; the process's exit status.
    int run();

    // ---- Pieces of a run (the tests drive them) ------------------------------------------------
    // Home, device profile and the application's launch; false with a reason.
    bool launch(bool headless, std::string* error);
    // Hands the command line's file or URL to the application.
    bool openTarget(std::string* error);
    // The command line's file as the URL the application is handed (a path
    // becomes the file URL of its absolute path; a URL stays as it is).
    static std::string targetURL(const std::string& target);
    // The home folder the options name (the default one without --home).
    std::string homeFolder() const;
    // What takes books handed over by later runs on this home (none when
    // another run listens there).
    const InstanceHandOver* handOver() const { return handOver_.get(); }
    // Plays a script's text; 0, or 1 with the failing step's message.
    int playScript(const std::string& text, std::string* error);
    // The built-in demonstration: the library, the sample's first page and
    // the next, as pictures in the shots folder.
    int runDemo(std::string* error);
    // The termination path.
    void terminate();
    // The look follows the desktop's light or dark preference and its
    // contrast preference (higher contrast: Reduce Transparency) from now on
    // (a run in a window does so from its start; `busAddress` empty: the
    // session bus of the environment). The first answer is waited for at
    // most kAppearanceWait; one that comes later switches the look then.
    void followDesktopAppearance(const std::string& busAddress = {});
    static constexpr double kAppearanceWait = 1.0;

    // The window's title: the open book's name and page ("Name — 12/180"),
    // else the folder of the library shown ("Comics — Leafbright"), else
    // the program's name.
    std::string windowTitle() const;

    const std::shared_ptr<NestlarkAppDelegate>& delegate() const { return delegate_; }
    const std::vector<std::string>& shotsWritten() const { return shots_; }
    std::string shotsDirectory() const;

    // The steps of the demonstration.
    static const char* demoScript(bool bookOpen);
    // Asks a running program to end (signal handlers).
    static void requestStop();
    static bool stopRequested();
    static void resetStopRequest();

    // The size of the desktop window kept between runs ("WxH" in the user
    // defaults); nothing when none is kept or it is out of bounds. A window
    // left maximised is kept as maximised, with its size under it.
    static std::optional<ui::Size> storedWindowSize();
    static void storeWindowSize(ui::Size size, bool maximized = false);
    static bool storedWindowMaximized();

private:
    void pumpWindow(double seconds);
    // Lets the launch hand over to the first screen (bounded).
    void waitForFirstScreen();
    // The start screen shows its notice page.
    bool noticeShown() const;
    // Where the application's notices go (the desktop's notification area from a window).
    void installNotices(bool headless);

    ProgramOptions options_;
    bool headless_ = true;
    bool terminated_ = false;
    bool firstScreenUp_ = false;
    std::shared_ptr<NestlarkAppDelegate> delegate_;
    std::unique_ptr<shell::DesktopShell> shell_;
    std::unique_ptr<InstanceHandOver> handOver_;
    std::unique_ptr<sys::ScreenSaverInhibitor> screenSaver_;
    std::unique_ptr<sys::DesktopNotifier> notifier_;
    std::unique_ptr<sys::LauncherEntry> launcher_;
    std::unique_ptr<sys::DesktopAppearance> appearance_;
    std::vector<std::string> shots_;
};
