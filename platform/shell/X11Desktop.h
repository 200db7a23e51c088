#pragma once

#include <optional>
#include <string>

struct SDL_Window;
struct SDL_Cursor;

namespace shell {

// What the desktop shell asks of the X window system itself, where SDL
// falls short: a title in UTF-8 whatever the process's locale (SDL sets
// the window manager's name through the locale, and a C locale leaves a
// non-ASCII title garbled or unchanged), and the screen scale the desktop
// asks for (GDK_SCALE, or the Xft.dpi of the X resources over 96), and the
// smallest size in the size hints without a resize.
// Without an X display (Wayland) the title goes through SDL alone and no
// scale is known.
class X11Desktop {
public:
    static void setTitle(SDL_Window* window, const std::string& utf8);
    // Writes the smallest size (pixels) into the window's size hints, and
    // does nothing else; false without an X window. SDL_SetWindowMinimumSize
    // also sizes and moves the window to the geometry SDL last knew, which,
    // while the window manager is still busy with an earlier change, undoes
    // that change.
    static bool setMinimumSize(SDL_Window* window, int width, int height);
    // When the X display goes away under a window (the server ends or the
    // session is closed), the process ends at once with status 1: the
    // settings are written first, and nothing of the process is torn down
    // while its workers still run (X's own handler calls exit, which
    // destroyed the objects the workers were using).
    static void endWhenTheDisplayGoes();
    // The window as the desktop portal names a parent ("x11:1a00007"); empty
    // without an X window.
    static std::string portalHandle(SDL_Window* window);
    // The pointer `name` ("progress") of the desktop's cursor theme, at the
    // desktop's cursor size, as an SDL cursor the caller frees; null without
    // an X window or where the theme has no such pointer.
    static SDL_Cursor* themeCursor(SDL_Window* window, const char* name);
    // The scale the desktop asks for, from the environment and the X
    // resources: GDK_SCALE (a whole number), else Xft.dpi / 96. Nothing when
    // neither says (or says something unusable).
    static std::optional<double> desktopScale();
    // The same reading, on given texts (tests): the GDK_SCALE value and the
    // X resource database as text.
    static std::optional<double> scaleFrom(const char* gdkScale, const std::string& resources);
};

}  // namespace shell
