#pragma once

// What the window benchmarks share: an Xvfb screen of their own, programs
// started on it, key presses sent through XTest, and the screen's pixels read
// back (through shared memory) to see when a program has drawn. Header only,
// like BenchSupport.h.

#include "bench/BenchSupport.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xdamage.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <poll.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <csignal>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace bench {

// A program started with its own environment additions; ended (TERM, then
// KILL) when the object goes.
class Process {
public:
    Process(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
            const std::string& logPath = "/dev/null") {
        std::vector<std::string> envs;
        for (char** e = environ; *e; ++e) {
            std::string kv = *e;
            const std::string key = kv.substr(0, kv.find('='));
            if (!env.count(key)) envs.push_back(kv);
        }
        for (const auto& [k, v] : env) envs.push_back(k + "=" + v);
        std::vector<char*> argv, envp;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        for (const auto& e : envs) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Process() { stop(); }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool started() const { return pid_ > 0; }
    bool running() {
        if (pid_ <= 0) return false;
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return false;
        }
        return true;
    }
    void stop() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        for (int i = 0; i < 300; ++i) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return;
            }
            usleep(10000);
        }
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
};

// An Xvfb server on a display number nobody uses, and a connection to it
// that reads the whole screen through shared memory.
class XScreen {
public:
    XScreen(int width, int height) : width_(width), height_(height) {
        for (int n = 60; n < 100 && !server_; ++n) {
            struct stat st {};
            if (::stat(("/tmp/.X11-unix/X" + std::to_string(n)).c_str(), &st) == 0 ||
                ::stat(("/tmp/.X" + std::to_string(n) + "-lock").c_str(), &st) == 0)
                continue;
            display_ = ":" + std::to_string(n);
            server_ = std::make_unique<Process>(
                std::vector<std::string>{"Xvfb", display_, "-screen", "0",
                                         std::to_string(width) + "x" + std::to_string(height) + "x24", "-nolisten",
                                         "tcp"},
                std::map<std::string, std::string>{});
            for (int i = 0; i < 500 && !dpy_; ++i) {
                if (!server_->running()) break;
                dpy_ = XOpenDisplay(display_.c_str());
                if (!dpy_) usleep(10000);
            }
            if (!dpy_) server_.reset();
        }
        if (!dpy_) return;
        // Windows come and go with the programs: a request about one that
        // just went is no reason to stop.
        XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
        root_ = DefaultRootWindow(dpy_);
        image_ = XShmCreateImage(dpy_, DefaultVisual(dpy_, DefaultScreen(dpy_)), 24, ZPixmap, nullptr, &shm_,
                                 unsigned(width), unsigned(height));
        shm_.shmid = shmget(IPC_PRIVATE, size_t(image_->bytes_per_line) * size_t(image_->height), IPC_CREAT | 0600);
        shm_.shmaddr = image_->data = static_cast<char*>(shmat(shm_.shmid, nullptr, 0));
        shm_.readOnly = False;
        XShmAttach(dpy_, &shm_);
        XSync(dpy_, False);
        shmctl(shm_.shmid, IPC_RMID, nullptr);
    }
    ~XScreen() {
        if (image_) {
            XShmDetach(dpy_, &shm_);
            XDestroyImage(image_);
            shmdt(shm_.shmaddr);
        }
        if (dpy_) XCloseDisplay(dpy_);
    }
    XScreen(const XScreen&) = delete;
    XScreen& operator=(const XScreen&) = delete;

    bool ok() const { return dpy_ && image_; }
    const std::string& display() const { return display_; }
    int width() const { return width_; }
    int height() const { return height_; }

    // Reads the screen; its pixels are then in pixels() (32-bit words).
    void grab() { XShmGetImage(dpy_, root_, image_, 0, 0, AllPlanes); }
    const uint32_t* pixels() const { return reinterpret_cast<const uint32_t*>(image_->data); }
    std::vector<uint32_t> copy() const { return {pixels(), pixels() + size_t(width_) * size_t(height_)}; }
    bool differs(const std::vector<uint32_t>& from) const {
        return std::memcmp(from.data(), pixels(), from.size() * 4) != 0;
    }
    // The share of the screen whose colour is within `tolerance` of rgb.
    double share(uint32_t rgb, int tolerance) const {
        size_t n = 0;
        const size_t total = size_t(width_) * size_t(height_);
        for (size_t i = 0; i < total; ++i) {
            const uint32_t p = pixels()[i];
            auto d = [&](int s) { return std::abs(int((p >> s) & 255) - int((rgb >> s) & 255)); };
            if (d(16) <= tolerance && d(8) <= tolerance && d(0) <= tolerance) ++n;
        }
        return double(n) / double(total);
    }

    // Reads the screen until `done` holds; false after `seconds`.
    bool waitFor(const std::function<bool()>& done, double seconds) {
        const double until = now() + seconds;
        while (now() < until) {
            grab();
            if (done()) return true;
        }
        return false;
    }
    // Watches every window on the screen for drawing (XDamage), from now on.
    void watchDrawing() {
        if (!damageEvent_) {
            int error = 0;
            if (!XDamageQueryExtension(dpy_, &damageEvent_, &error)) damageEvent_ = -1;
        }
        if (damageEvent_ < 0) return;
        // Made afresh each time: a new program's window may carry the number
        // of one that went.
        for (auto& [w, d] : damages_) XDamageDestroy(dpy_, d);
        damages_.clear();
        Window rootRet = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        if (XQueryTree(dpy_, root_, &rootRet, &parent, &children, &count)) {
            for (unsigned i = 0; i < count; ++i) {
                XWindowAttributes a{};
                if (!XGetWindowAttributes(dpy_, children[i], &a) || a.c_class != InputOutput ||
                    a.map_state != IsViewable)
                    continue;
                damages_[children[i]] = XDamageCreate(dpy_, children[i], XDamageReportNonEmpty);
            }
            XFree(children);
        }
        // A new damage object starts out damaged: clear it, and the events
        // that said so.
        for (auto& [w, d] : damages_) XDamageSubtract(dpy_, d, 0, 0);
        XSync(dpy_, False);
        XEvent e;
        while (XPending(dpy_)) XNextEvent(dpy_, &e);
    }
    // After watchDrawing: waits for drawing and reads the screen after each,
    // until it differs from `before`; false after `seconds`. Without XDamage,
    // it reads the screen over and over instead.
    bool waitDrawnChange(const std::vector<uint32_t>& before, double seconds) {
        if (damageEvent_ < 0) return waitFor([&] { return differs(before); }, seconds);
        const double until = now() + seconds;
        while (now() < until) {
            bool drawn = false;
            while (XPending(dpy_)) {
                XEvent e;
                XNextEvent(dpy_, &e);
                if (e.type == damageEvent_ + XDamageNotify) {
                    XDamageSubtract(dpy_, reinterpret_cast<XDamageNotifyEvent*>(&e)->damage, 0, 0);
                    drawn = true;
                }
            }
            if (drawn) {
                grab();
                if (differs(before)) return true;
                continue;
            }
            pollfd pfd{ConnectionNumber(dpy_), POLLIN, 0};
            ::poll(&pfd, 1, 5);
        }
        return false;
    }

    // Waits until the screen stays the same for `quiet` seconds (at most `seconds`).
    bool waitStill(double quiet, double seconds) {
        const double until = now() + seconds;
        grab();
        std::vector<uint32_t> last = copy();
        double since = now();
        while (now() < until) {
            usleep(20000);
            grab();
            if (differs(last)) {
                last = copy();
                since = now();
            } else if (now() - since >= quiet) {
                return true;
            }
        }
        return false;
    }

    // A key pressed and released through XTest, with the pointer over the
    // middle of the screen (no window manager: the focus follows it).
    void pressKey(KeySym sym) {
        XTestFakeMotionEvent(dpy_, -1, width_ / 2, height_ / 2, 0);
        focusTopWindow();
        const KeyCode code = XKeysymToKeycode(dpy_, sym);
        XTestFakeKeyEvent(dpy_, code, True, 0);
        XTestFakeKeyEvent(dpy_, code, False, 0);
        XFlush(dpy_);
    }
    // Gives the keyboard to the window under the middle of the screen, as a
    // window manager would on a click.
    void focusTopWindow() {
        Window rootRet = 0, child = 0;
        int rx, ry, wx, wy;
        unsigned mask;
        XQueryPointer(dpy_, root_, &rootRet, &child, &rx, &ry, &wx, &wy, &mask);
        if (child && child != focused_) {
            XSetInputFocus(dpy_, child, RevertToPointerRoot, CurrentTime);
            XSync(dpy_, False);
            focused_ = child;
            usleep(50000);
        }
    }
    // The screen as a binary PPM picture (to see what a failed wait saw).
    void save(const std::string& path) const {
        FILE* f = std::fopen(path.c_str(), "wb");
        if (!f) return;
        std::fprintf(f, "P6\n%d %d\n255\n", width_, height_);
        for (size_t i = 0; i < size_t(width_) * size_t(height_); ++i) {
            const uint32_t p = pixels()[i];
            const unsigned char rgb[3] = {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p)};
            std::fwrite(rgb, 1, 3, f);
        }
        std::fclose(f);
    }
    void click(int x, int y) {
        XTestFakeMotionEvent(dpy_, -1, x, y, 0);
        XTestFakeButtonEvent(dpy_, 1, True, 0);
        XTestFakeButtonEvent(dpy_, 1, False, 0);
        XFlush(dpy_);
    }

private:
    int width_, height_;
    std::string display_;
    std::unique_ptr<Process> server_;
    Display* dpy_ = nullptr;
    Window root_ = 0;
    XImage* image_ = nullptr;
    XShmSegmentInfo shm_{};
    Window focused_ = 0;
    int damageEvent_ = 0;
    std::map<Window, Damage> damages_;
};

// The pages of the window benchmarks: `count` pages of 1200 x 1800 JPEG made
// from eight different pictures; page 1 carries a magenta band across its
// middle, so that a screen showing it can be told. Stored (not compressed)
// in `book`.
inline bool makeMarkedBook(const std::filesystem::path& dir, const std::filesystem::path& book, int count) {
    namespace fs = std::filesystem;
    fs::create_directories(dir / "src");
    std::string cmd;
    for (int i = 0; i < 8; ++i)
        cmd += "convert-im6.q16 -size 1200x1800 -seed " + std::to_string(i + 11) + " plasma:fractal -quality 90 '" +
               (dir / "src" / (std::to_string(i) + ".jpg")).string() + "' & ";
    cmd += "wait";
    if (!shell(cmd)) return false;
    fs::create_directories(dir / "pages");
    for (int i = 0; i < count; ++i) {
        const fs::path to = dir / "pages" / pageName(i);
        const fs::path from = dir / "src" / (std::to_string(i % 8) + ".jpg");
        if (i == 0) {
            if (!shell("convert-im6.q16 '" + from.string() + "' -fill '#FF00FF' -draw 'rectangle 0,600 1199,1199' "
                       "-quality 90 '" + to.string() + "'"))
                return false;
        } else {
            fs::copy_file(from, to);
        }
    }
    return shell("cd '" + (dir / "pages").string() + "' && zip -q -0 '" + book.string() + "' *.jpg");
}

// Whether the screen shows page 1 (its magenta band covers a few percent).
inline bool showsMarkedPage(const XScreen& screen) { return screen.share(0xFF00FF, 40) > 0.03; }

inline bool have(const std::string& program) { return shell("command -v " + program); }

// The program built beside the benchmarks (build/leafbright).
inline std::string programPath() {
    namespace fs = std::filesystem;
    return (fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "leafbright").string();
}

// The book every window benchmark reads, made in `work`: 40 marked pages of
// 1200 x 1800 (makeMarkedBook). Empty, with a message, when it could not be
// made.
inline std::filesystem::path makeWindowBook(const WorkFolder& work) {
    const std::filesystem::path book = work / "book.cbz";
    std::printf("making a book of 40 pages of 1200x1800 in %s\n", work.path().c_str());
    if (makeMarkedBook(work / "make", book, 40)) return book;
    fail("could not make the book (ImageMagick, zip)");
    return {};
}

}  // namespace bench
