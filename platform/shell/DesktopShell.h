#pragma once

#include "platform/ui/Application.h"
#include "platform/ui/Window.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct SDL_Window;
struct SDL_Renderer;
struct SDL_Texture;
struct SDL_Cursor;
union SDL_Event;

namespace shell {

// The application's window on a desktop: an SDL window showing the
// window's framebuffer, resizable and made full screen with F11 (Escape
// leaves full screen too); a new size reaches the screens as a size
// transition (Window::resize). The mouse is a finger, the wheel scrolls
// (with ctrl it zooms, up to zoom in), keys go to the key commands and text
// fields, the keyboard's volume keys are the volume buttons. The main run
// loop runs on the real clock between events.
class DesktopShell {
public:
    // `pixelsPerPoint`: the desktop's screen scale (2 on a 2x monitor): the
    // window is that many pixels per point of the screens' layout.
    explicit DesktopShell(ui::Window& window, double pixelsPerPoint = 1.0);
    ~DesktopShell();
    DesktopShell(const DesktopShell&) = delete;
    DesktopShell& operator=(const DesktopShell&) = delete;

    // Whether a display can be opened here.
    static bool displayAvailable();

    // Opens the window at the window's present size, or at the largest size
    // that fits the display's usable area where that one does not.
    bool open(const std::string& title, std::string* error);
    // The largest size no larger than `wanted` that fits in `room` (points),
    // yet not below the smallest window.
    static ui::Size fittingSize(ui::Size wanted, ui::Size room);
    // One turn: waits at most `maxWait` seconds for an event, handles the
    // events, runs the due work of the main loop and draws when asked.
    void pumpOnce(double maxWait);
    // Turns until the window is closed or `stop` becomes true.
    void run(const std::atomic<bool>& stop);
    bool closeRequested() const { return closeRequested_; }

    // Draws now and writes what the window shows as PNG.
    bool screenshot(const std::string& pngPath);
    // Where the window's title comes from: asked after each turn, and the
    // window takes a new title when the answer changes.
    void setTitleSource(std::function<std::string()> source) { titleSource_ = std::move(source); }
    std::string title() const { return title_; }
    // The window as the desktop portal names a parent; empty when unknown.
    std::string portalWindowHandle() const;
    // Called for the volume-up (true) and volume-down (false) keys.
    void setVolumeHandler(std::function<void(bool up)> handler) { volume_ = std::move(handler); }
    // Called with the paths of the files dropped on the window at once, in
    // the order they came.
    void setDropHandler(std::function<void(const std::vector<std::string>& paths)> handler) {
        drop_ = std::move(handler);
    }

    // Full screen on the window's display (F11 toggles it).
    void setFullscreen(bool on);
    bool isFullscreen() const;
    // Brings the window to the front (restored when minimised).
    void raise();
    // The pointer over the window shows work going on in the background
    // (the desktop's "progress" pointer) while on, the normal one after.
    void setBusyPointer(bool busy);
    bool isBusyPointer() const { return busyPointer_; }
    // The size of the window when it is neither full screen nor maximised
    // (its size under a maximised window), in points.
    ui::Size windowedSize() const { return windowedSize_; }
    // Maximised by the window manager (or by maximize()).
    bool isMaximized() const;
    // Maximised, or full screen entered from a maximised window (which
    // leaving full screen maximises again): how the window is to open the
    // next time.
    bool isMaximizedUnderFullscreen() const;
    void maximize();
    // Where the application's life goes on a window event (an SDL window
    // event id): focus lost makes it inactive, minimised sends it to the
    // background, restored or shown brings it back (active when the
    // window has the focus), focus gained makes it active.
    static ui::Application::State stateAfterWindowEvent(ui::Application::State current, int windowEvent,
                                                        bool hasFocus);

    double pixelsPerPoint() const { return scale_; }
    // The desktop's screen scale: GDK_SCALE, the X resources' Xft.dpi, else
    // SDL's display DPI over 96 when it is clearly a dense screen; 1 without.
    static double desktopScale();

    // The smallest size a user can make the window: below it the bars of
    // the screens no longer fit (the smallest phone's, 320 points across,
    // turned on its side).
    static constexpr int kMinWidth = 320;
    static constexpr int kMinHeight = 320;

private:
    void handle(const SDL_Event& e);
    // The window drawn afresh when a frame is due (or `force`), else null.
    gfx::Canvas* renderFrame(bool force);
    // The frame at the window's `width` x `height` pixels: a frame drawn at
    // more pixels (a phone's three per point in a window of one) is shrunk
    // by averaging into `shrunk_`, so that a line one device pixel thin
    // still shows; any other frame is given as it is.
    gfx::Canvas& framePixels(gfx::Canvas& frame, int width, int height);
    void present(bool force);
    void presentToSurface(bool force);
    // Whether an OpenGL renderer is drawn by the processor (llvmpipe and the like).
    static bool glEmulatedInSoftware(SDL_Renderer* renderer);
    void syncSize();
    void keepMinimumSize();
    // Shrinks the window just opened so that its frame fits the usable
    // area too, once the window manager has told the frame.
    void fitFrame();
    // The window's new size (pixels), as SDL learns it: the size under a
    // maximised window is taken from here (0 x 0 for a window just maximised).
    void sizeCame(int width, int height);
    static int watchEvent(void* shell, SDL_Event* e);
    // The window's new size laid out.
    void sizeChanged(int width, int height);

    // The pointer's shape for what lies under it (an I-beam over a text
    // field, a hand over a link), unless the busy pointer shows.
    void updatePointer();

    int px(double points) const;
    ui::Point toPoints(int x, int y) const;

    ui::Window& window_;
    double scale_ = 1.0;
    SDL_Window* sdlWindow_ = nullptr;
    SDL_Renderer* renderer_ = nullptr;
    SDL_Texture* texture_ = nullptr;
    std::unique_ptr<gfx::Canvas> shrunk_;
    // The frame goes to the window's surface, without a renderer.
    bool surfaceMode_ = false;
    int textureWidth_ = 0;
    int textureHeight_ = 0;
    int outputWidth_ = 0;
    int outputHeight_ = 0;
    // The size last agreed between the SDL window and the window's bounds.
    ui::Size syncedSize_;
    ui::Size windowedSize_;
    // The display's usable area (pixels), the size asked for and the size
    // the window opened at; frame fitting goes on until that time (ticks).
    ui::Rect usable_;
    ui::Size asked_;
    ui::Size opening_;
    uint32_t fitFrameUntil_ = 0;
    // Full screen was entered from a maximised window: leaving it maximises
    // again. Set until the window is maximised again.
    bool fullscreenFromMaximized_ = false;
    bool needsFrame_ = true;
    // The event type that wakes the wait for events when work is posted.
    uint32_t wakeEvent_ = uint32_t(-1);
    double lastFrame_ = 0;
    bool mouseDown_ = false;
    ui::Point lastMouse_;
    bool closeRequested_ = false;
    unsigned modifiers_ = 0;
    std::function<void(bool)> volume_;
    std::function<void(const std::vector<std::string>&)> drop_;
    // Files of the drop under way (between its begin and its end).
    std::vector<std::string> dropped_;
    bool dropping_ = false;
    std::function<std::string()> titleSource_;
    std::string title_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    bool busyPointer_ = false;
    SDL_Cursor* busyCursor_ = nullptr;
    SDL_Cursor* ibeamCursor_ = nullptr;
    SDL_Cursor* handCursor_ = nullptr;
    int pointerKind_ = 0;
    bool pointerInside_ = false;
};

}  // namespace shell
