#pragma once

#include "platform/ui/Window.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>

struct SDL_Window;
struct SDL_Renderer;
struct SDL_Texture;
union SDL_Event;

namespace shell {

// The application's window on a desktop: an SDL window showing the
// window's framebuffer at the size of the device profile in points. The
// mouse is a finger, the wheel scrolls (with ctrl it pinches), keys go to
// the key commands and text fields, PageUp and PageDown are the volume
// buttons. The main run loop runs on the real clock between events.
class DesktopShell {
public:
    explicit DesktopShell(ui::Window& window);
    ~DesktopShell();
    DesktopShell(const DesktopShell&) = delete;
    DesktopShell& operator=(const DesktopShell&) = delete;

    // Whether a display can be opened here.
    static bool displayAvailable();

    bool open(const std::string& title, std::string* error);
    // One turn: waits at most `maxWait` seconds for an event, handles the
    // events, runs the due work of the main loop and draws when asked.
    void pumpOnce(double maxWait);
    // Turns until the window is closed or `stop` becomes true.
    void run(const std::atomic<bool>& stop);
    bool closeRequested() const { return closeRequested_; }

    // Draws now and writes what the window shows as PNG.
    bool screenshot(const std::string& pngPath);
    // Called for PageUp (true) and PageDown (false).
    void setVolumeHandler(std::function<void(bool up)> handler) { volume_ = std::move(handler); }

private:
    void handle(const SDL_Event& e);
    void present(bool force);
    void syncSize();

    ui::Window& window_;
    SDL_Window* sdlWindow_ = nullptr;
    SDL_Renderer* renderer_ = nullptr;
    SDL_Texture* texture_ = nullptr;
    int textureWidth_ = 0;
    int textureHeight_ = 0;
    bool needsFrame_ = true;
    double lastFrame_ = 0;
    bool mouseDown_ = false;
    ui::Point lastMouse_;
    bool closeRequested_ = false;
    unsigned modifiers_ = 0;
    std::function<void(bool)> volume_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace shell
