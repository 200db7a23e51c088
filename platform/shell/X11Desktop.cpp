#include "platform/shell/X11Desktop.h"

#include "platform/core/UserDefaults.h"

#include <SDL.h>
#include <SDL_syswm.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#if defined(SDL_VIDEO_DRIVER_X11)
#include <X11/Xatom.h>
#include <X11/Xcursor/Xcursor.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#endif

namespace shell {

#if defined(SDL_VIDEO_DRIVER_X11)
namespace {

// The window's X display and window, when it is an X11 window.
bool x11Info(SDL_Window* window, SDL_SysWMinfo& info) {
    SDL_VERSION(&info.version);
    return SDL_GetWindowWMInfo(window, &info) && info.subsystem == SDL_SYSWM_X11;
}

}  // namespace
#endif

std::string X11Desktop::portalHandle(SDL_Window* window) {
    if (!window) return {};
#if defined(SDL_VIDEO_DRIVER_X11)
    SDL_SysWMinfo info;
    if (!x11Info(window, info)) return {};
    char text[32];
    std::snprintf(text, sizeof text, "x11:%lx", static_cast<unsigned long>(info.info.x11.window));
    return text;
#else
    return {};
#endif
}

void X11Desktop::endWhenTheDisplayGoes() {
#if defined(SDL_VIDEO_DRIVER_X11)
    XSetIOErrorHandler([](Display*) -> int {
        sys::UserDefaults::standard().synchronize();
        std::fputs("leafbright: the display went away\n", stderr);
        std::fflush(nullptr);
        std::_Exit(1);
    });
#endif
}

SDL_Cursor* X11Desktop::themeCursor(SDL_Window* window, const char* name) {
    if (!window) return nullptr;
#if defined(SDL_VIDEO_DRIVER_X11)
    SDL_SysWMinfo info;
    if (!x11Info(window, info)) return nullptr;
    Display* display = info.info.x11.display;
    XcursorImage* image = XcursorLibraryLoadImage(name, XcursorGetTheme(display), XcursorGetDefaultSize(display));
    if (!image) return nullptr;
    // Premultiplied ARGB, as SDL hands it back to Xcursor.
    SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormatFrom(image->pixels, int(image->width), int(image->height), 32,
                                                              int(image->width) * 4, SDL_PIXELFORMAT_ARGB8888);
    SDL_Cursor* cursor = surface ? SDL_CreateColorCursor(surface, int(image->xhot), int(image->yhot)) : nullptr;
    SDL_FreeSurface(surface);
    XcursorImageDestroy(image);
    return cursor;
#else
    (void)name;
    return nullptr;
#endif
}

void X11Desktop::setTitle(SDL_Window* window, const std::string& utf8) {
    if (!window) return;
    SDL_SetWindowTitle(window, utf8.c_str());
#if defined(SDL_VIDEO_DRIVER_X11)
    SDL_SysWMinfo info;
    if (!x11Info(window, info)) return;
    Display* display = info.info.x11.display;
    ::Window w = info.info.x11.window;
    const Atom utf8String = XInternAtom(display, "UTF8_STRING", False);
    const auto* bytes = reinterpret_cast<const unsigned char*>(utf8.data());
    for (const char* name : {"_NET_WM_NAME", "_NET_WM_ICON_NAME"})
        XChangeProperty(display, w, XInternAtom(display, name, False), utf8String, 8, PropModeReplace, bytes,
                        int(utf8.size()));
    // The older name property holds Latin-1: what it cannot hold becomes a
    // plain stand-in (dashes a hyphen, the rest a question mark).
    std::string latin1;
    for (size_t i = 0; i < utf8.size();) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        unsigned cp = c;
        size_t len = 1;
        if (c >= 0xF0) cp = c & 0x07, len = 4;
        else if (c >= 0xE0) cp = c & 0x0F, len = 3;
        else if (c >= 0xC0) cp = c & 0x1F, len = 2;
        for (size_t k = 1; k < len && i + k < utf8.size(); ++k) cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        i += len;
        if (cp < 0x100) latin1 += char(cp);
        else latin1 += (cp == 0x2013 || cp == 0x2014) ? '-' : '?';
    }
    XChangeProperty(display, w, XA_WM_NAME, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(latin1.data()), int(latin1.size()));
    XFlush(display);
#endif
}

bool X11Desktop::setMinimumSize(SDL_Window* window, int width, int height) {
    if (!window) return false;
#if defined(SDL_VIDEO_DRIVER_X11)
    SDL_SysWMinfo info;
    if (!x11Info(window, info)) return false;
    Display* display = info.info.x11.display;
    XSizeHints* hints = XAllocSizeHints();
    if (!hints) return false;
    long supplied = 0;
    // What the hints already hold (the position and size SDL gave) stays.
    if (!XGetWMNormalHints(display, info.info.x11.window, hints, &supplied)) hints->flags = 0;
    hints->min_width = width;
    hints->min_height = height;
    hints->flags |= PMinSize;
    XSetWMNormalHints(display, info.info.x11.window, hints);
    XFree(hints);
    XFlush(display);
    return true;
#else
    (void)width;
    (void)height;
    return false;
#endif
}

std::optional<double> X11Desktop::scaleFrom(const char* gdkScale, const std::string& resources) {
    if (gdkScale && *gdkScale) {
        char* end = nullptr;
        const long v = std::strtol(gdkScale, &end, 10);
        if (end && *end == '\0' && v >= 1 && v <= 8) return double(v);
    }
    std::istringstream in(resources);
    std::string line;
    while (std::getline(in, line)) {
        const std::string key = "Xft.dpi:";
        if (line.compare(0, key.size(), key) != 0) continue;
        const char* text = line.c_str() + key.size();
        char* end = nullptr;
        const double dpi = std::strtod(text, &end);
        if (end == text || !std::isfinite(dpi) || dpi < 48 || dpi > 768) return std::nullopt;
        // Quarter steps: 120 dpi reads as 1.25, 144 as 1.5, 192 as 2.
        const double scale = std::round(dpi / 96.0 * 4) / 4;
        return scale >= 1 ? scale : 1.0;
    }
    return std::nullopt;
}

std::optional<double> X11Desktop::desktopScale() {
    std::string resources;
#if defined(SDL_VIDEO_DRIVER_X11)
    const char* name = std::getenv("DISPLAY");
    if (name && *name) {
        if (Display* display = XOpenDisplay(nullptr)) {
            if (const char* db = XResourceManagerString(display)) resources = db;
            XCloseDisplay(display);
        }
    }
#endif
    return scaleFrom(std::getenv("GDK_SCALE"), resources);
}

}  // namespace shell
