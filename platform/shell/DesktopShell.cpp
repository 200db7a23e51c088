#include "platform/shell/DesktopShell.h"

#include "platform/shell/SdlClipboard.h"
#include "platform/shell/X11Desktop.h"

#include "platform/core/Clock.h"
#include "platform/core/RunLoop.h"
#include "platform/core/SessionBus.h"
#include "platform/graphics/Canvas.h"
#include "platform/ui/KeyCommand.h"
#include "platform/ui/InFrontKeyScope.h"
#include "platform/ui/Pasteboard.h"
#include "platform/ui/PointerShape.h"
#include "platform/ui/ScrollView.h"

#include <SDL.h>
#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace shell {

namespace {

bool sdlVideoReady() {
    static int state = -1;
    if (state >= 0) return state == 1;
    // SDL's video connects to the session bus (input methods, the screen
    // saver) and waits for its answers without end: a bus that does not
    // answer in time (its daemon stopped) is kept from it, which then does
    // without. The environment is the program's own again afterwards.
    const auto bus = sys::SessionBus::sessionAddress();
    const bool keepAway = bus && !sys::SessionBus::answers(*bus);
    const char* named = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    const std::optional<std::string> saved = named ? std::optional<std::string>(named) : std::nullopt;
    if (keepAway) ::setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
    // Mesa keeps its shader cache on a thread of the lowest priority, which
    // the process waits for as it ends (joined at exit, and gone only once it
    // has run): on a machine busy with other work every end of the program
    // (SIGTERM's, the window's close) waited seconds for it. The renderer's
    // few shaders are made anew at each start instead, and nothing is
    // written to the user's cache folder. A user's own setting stands.
    ::setenv("MESA_SHADER_CACHE_DISABLE", "true", 0);
    state = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0 ? 1 : 0;
    if (keepAway) {
        if (saved) ::setenv("DBUS_SESSION_BUS_ADDRESS", saved->c_str(), 1);
        else ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
    return state == 1;
}

unsigned modifiersOf(Uint16 mod) {
    unsigned m = 0;
    if (mod & KMOD_SHIFT) m |= ui::KeyModifierShift;
    if (mod & KMOD_CTRL) m |= ui::KeyModifierControl;
    if (mod & KMOD_ALT) m |= ui::KeyModifierAlternate;
    if (mod & KMOD_GUI) m |= ui::KeyModifierCommand;
    if (mod & KMOD_CAPS) m |= ui::KeyModifierAlphaShift;
    return m;
}

// Keys that type no character, as the window's key inputs.
const char* specialKey(SDL_Keycode k) {
    switch (k) {
    case SDLK_LEFT: return ui::KeyInput::leftArrow;
    case SDLK_RIGHT: return ui::KeyInput::rightArrow;
    case SDLK_UP: return ui::KeyInput::upArrow;
    case SDLK_DOWN: return ui::KeyInput::downArrow;
    case SDLK_ESCAPE: return ui::KeyInput::escape;
    case SDLK_RETURN:
    case SDLK_KP_ENTER: return ui::KeyInput::returnKey;
    case SDLK_BACKSPACE: return ui::KeyInput::backspace;
    case SDLK_TAB: return ui::KeyInput::tab;
    case SDLK_HOME: return ui::KeyInput::home;
    case SDLK_END: return ui::KeyInput::end;
    case SDLK_PAGEUP: return ui::KeyInput::pageUp;
    case SDLK_PAGEDOWN: return ui::KeyInput::pageDown;
    case SDLK_DELETE: return ui::KeyInput::deleteForward;
    case SDLK_INSERT: return ui::KeyInput::insert;
    default: return nullptr;
    }
}

}  // namespace

DesktopShell::DesktopShell(ui::Window& window, double pixelsPerPoint)
    : window_(window), scale_(pixelsPerPoint >= 1 && pixelsPerPoint <= 8 ? pixelsPerPoint : 1.0) {}

int DesktopShell::px(double points) const { return int(std::lround(points * scale_)); }

ui::Point DesktopShell::toPoints(int x, int y) const { return {double(x) / scale_, double(y) / scale_}; }

double DesktopShell::desktopScale() {
    if (auto s = X11Desktop::desktopScale()) return *s;
    // No word from the desktop: a screen of clearly more than 1.5 times the
    // usual density (SDL's measure) counts by its density, in half steps.
    if (sdlVideoReady()) {
        float ddpi = 0, hdpi = 0, vdpi = 0;
        if (SDL_GetDisplayDPI(0, &ddpi, &hdpi, &vdpi) == 0 && hdpi > 96 * 1.5 && hdpi < 96 * 8)
            return std::round(hdpi / 96.0 * 2) / 2;
    }
    return 1.0;
}

DesktopShell::~DesktopShell() {
    *alive_ = false;
    if (sdlWindow_) SDL_DelEventWatch(&DesktopShell::watchEvent, this);
    window_.setRenderRequestHandler({});
    sys::RunLoop::main().setWakeHandler({});
    if (texture_) SDL_DestroyTexture(texture_);
    if (renderer_) SDL_DestroyRenderer(renderer_);
    if (busyCursor_ || ibeamCursor_ || handCursor_) SDL_SetCursor(SDL_GetDefaultCursor());
    for (SDL_Cursor* c : {busyCursor_, ibeamCursor_, handCursor_})
        if (c) SDL_FreeCursor(c);
    if (sdlWindow_) {
        ui::Pasteboard::setStore(nullptr);
        SDL_DestroyWindow(sdlWindow_);
    }
}

void DesktopShell::setBusyPointer(bool busy) {
    if (busy == busyPointer_) return;
    busyPointer_ = busy;
    if (!sdlWindow_) return;
    // Once the work ends the window gets back the pointer it had before (the
    // desktop's own, which it has from its start), not an arrow of its own.
    if (!busy) {
        SDL_SetCursor(SDL_GetDefaultCursor());
        pointerKind_ = 0;
        updatePointer();
        return;
    }
    // The desktop's "busy in the background" pointer; SDL's own wait arrow
    // is the "wait" one under X.
    if (!busyCursor_) busyCursor_ = X11Desktop::themeCursor(sdlWindow_, "progress");
    if (!busyCursor_) busyCursor_ = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_WAITARROW);
    if (busyCursor_) SDL_SetCursor(busyCursor_);
}

void DesktopShell::updatePointer() {
    if (!sdlWindow_ || busyPointer_) return;
    const auto kind = pointerInside_ ? ui::PointerShape::at(window_, lastMouse_) : ui::PointerShape::Kind::Arrow;
    if (int(kind) == pointerKind_) return;
    pointerKind_ = int(kind);
    SDL_Cursor* c = nullptr;
    if (kind == ui::PointerShape::Kind::IBeam) {
        if (!ibeamCursor_) ibeamCursor_ = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_IBEAM);
        c = ibeamCursor_;
    } else if (kind == ui::PointerShape::Kind::Hand) {
        if (!handCursor_) handCursor_ = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_HAND);
        c = handCursor_;
    }
    // Elsewhere the desktop's own pointer, which the window has from its start.
    SDL_SetCursor(c ? c : SDL_GetDefaultCursor());
}

bool DesktopShell::displayAvailable() {
    const char* x = std::getenv("DISPLAY");
    const char* wl = std::getenv("WAYLAND_DISPLAY");
    if ((!x || !*x) && (!wl || !*wl)) return false;
    return sdlVideoReady();
}

bool DesktopShell::open(const std::string& title, std::string* error) {
    if (!sdlVideoReady()) {
        if (error) *error = SDL_GetError();
        return false;
    }
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "1");
    const ui::Rect b = window_.bounds();
    title_ = title;
    // The window opens within the display's usable area (without panels and
    // docks), at the largest size there that is no larger than asked: a
    // tablet's height does not fit most screens.
    SDL_Rect usable{};
    const bool knowsUsable = SDL_GetDisplayUsableBounds(0, &usable) == 0 && usable.w > 0 && usable.h > 0;
    const ui::Size room = knowsUsable ? ui::Size{usable.w / scale_, usable.h / scale_} : b.size;
    const ui::Size opening = fittingSize(b.size, room);
    // Made hidden, and shown once its way of drawing is chosen: SDL makes the
    // window anew (another X window) for an OpenGL renderer and again as it
    // gives that up, so a window shown at once was mapped, went away and
    // came back as another window (what found the first, a taskbar or a
    // tool looking for the program's window, was left with one gone).
    sdlWindow_ = SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, px(opening.width),
                                  px(opening.height), SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE);
    if (!sdlWindow_) {
        if (error) *error = SDL_GetError();
        return false;
    }
    // SDL's own record of the smallest size: it holds every size SDL sets to
    // it, and goes in the size hints SDL writes.
    SDL_SetWindowMinimumSize(sdlWindow_, px(kMinWidth), px(kMinHeight));
    SDL_AddEventWatch(&DesktopShell::watchEvent, this);
    if (knowsUsable) {
        usable_ = {double(usable.x), double(usable.y), double(usable.w), double(usable.h)};
        asked_ = b.size;
        opening_ = opening;
        fitFrameUntil_ = SDL_GetTicks() + 10000;
        fitFrame();
    }
    if (std::strcmp(SDL_GetCurrentVideoDriver() ? SDL_GetCurrentVideoDriver() : "", "x11") == 0)
        X11Desktop::endWhenTheDisplayGoes();
    keepMinimumSize();
    syncedSize_ = windowedSize_ = b.size;
    // The window manager may not give the size asked for (a screen smaller
    // than the window): the screens take the size it gave.
    int cw = 0, ch = 0;
    SDL_GetWindowSize(sdlWindow_, &cw, &ch);
    sizeCame(cw, ch);
    sizeChanged(cw, ch);
    renderer_ = SDL_CreateRenderer(sdlWindow_, -1, SDL_RENDERER_ACCELERATED | SDL_RENDERER_PRESENTVSYNC);
    if (renderer_ && glEmulatedInSoftware(renderer_)) {
        // OpenGL drawn by the processor (no graphics card, or a virtual
        // screen) only adds copies: the frame goes to the window's own
        // surface instead, which the display server takes as it is.
        SDL_DestroyRenderer(renderer_);
        renderer_ = nullptr;
        // The surface itself, not one SDL would again keep in OpenGL.
        SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
        surfaceMode_ = SDL_GetWindowSurface(sdlWindow_) != nullptr;
    }
    if (!renderer_ && !surfaceMode_) renderer_ = SDL_CreateRenderer(sdlWindow_, -1, SDL_RENDERER_SOFTWARE);
    if (!renderer_ && !surfaceMode_) {
        if (error) *error = SDL_GetError();
        return false;
    }
    std::weak_ptr<bool> alive = alive_;
    window_.setRenderRequestHandler([this, alive] {
        if (alive.lock()) needsFrame_ = true;
    });
    // Work posted from other threads (a page composed in the background)
    // ends the wait for window events at once.
    wakeEvent_ = SDL_RegisterEvents(1);
    if (wakeEvent_ != Uint32(-1)) {
        const Uint32 type = wakeEvent_;
        sys::RunLoop::main().setWakeHandler([type] {
            if (sys::RunLoop::main().isCurrent()) return;
            SDL_Event e{};
            e.type = type;
            SDL_PushEvent(&e);
        });
    }
    SDL_StartTextInput();
    // The text fields copy and paste through the desktop's clipboard.
    ui::Pasteboard::setStore(std::make_shared<SdlClipboard>());
    SDL_ShowWindow(sdlWindow_);
    needsFrame_ = true;
    return true;
}

void DesktopShell::fitFrame() {
    // The window manager tells its frame (title bar and borders) soon after
    // the window shows: the frame goes in the usable area too, once.
    if (!fitFrameUntil_) return;
    if (SDL_TICKS_PASSED(SDL_GetTicks(), fitFrameUntil_)) {
        fitFrameUntil_ = 0;
        return;
    }
    int top = 0, left = 0, bottom = 0, right = 0;
    if (SDL_GetWindowBordersSize(sdlWindow_, &top, &left, &bottom, &right) != 0 || top + left + bottom + right <= 0)
        return;
    fitFrameUntil_ = 0;
    // A window the user or the window manager sized meanwhile keeps its size.
    int cw = 0, ch = 0;
    SDL_GetWindowSize(sdlWindow_, &cw, &ch);
    if (isFullscreen() || isMaximized() || cw != px(opening_.width) || ch != px(opening_.height)) return;
    const int w = int(usable_.width()) - left - right, h = int(usable_.height()) - top - bottom;
    const ui::Size framed = fittingSize(asked_, {w / scale_, h / scale_});
    if (framed == opening_) return;
    SDL_SetWindowSize(sdlWindow_, px(framed.width), px(framed.height));
    SDL_SetWindowPosition(sdlWindow_, int(usable_.x()) + left + std::max(0, (w - px(framed.width)) / 2),
                          int(usable_.y()) + top + std::max(0, (h - px(framed.height)) / 2));
    sizeChanged(px(framed.width), px(framed.height));
}

ui::Size DesktopShell::fittingSize(ui::Size wanted, ui::Size room) {
    return {std::max(double(kMinWidth), std::min(wanted.width, std::floor(room.width))),
            std::max(double(kMinHeight), std::min(wanted.height, std::floor(room.height)))};
}

void DesktopShell::syncSize() {
    // Only a size the program gave the window (a turn) goes to the SDL
    // window; sizes the user gives come the other way (sizeChanged).
    const ui::Size b = window_.bounds().size;
    if (b == syncedSize_ || isFullscreen()) return;
    syncedSize_ = b;
    if (!isMaximized() && !fullscreenFromMaximized_) windowedSize_ = b;
    SDL_SetWindowSize(sdlWindow_, px(b.width), px(b.height));
    keepMinimumSize();
}

int DesktopShell::watchEvent(void* shell, SDL_Event* e) {
    // Window events come from the main thread's event pump (a wake event
    // posted from another thread is no window event), all of this window.
    if (e->type != SDL_WINDOWEVENT) return 0;
    auto* self = static_cast<DesktopShell*>(shell);
    if (!self->sdlWindow_) return 0;
    if (e->window.event == SDL_WINDOWEVENT_SIZE_CHANGED) self->sizeCame(e->window.data1, e->window.data2);
    if (e->window.event == SDL_WINDOWEVENT_MAXIMIZED) self->sizeCame(0, 0);
    return 0;
}

void DesktopShell::sizeCame(int width, int height) {
    // Here as SDL learns the size, with the state it knows at that moment:
    // by the time the event is handled SDL may already know that the window
    // was maximised after it (and has dropped this size event for the
    // maximised one, as it drops every size event a later one overtakes).
    // A maximised window keeps the size under it (the window manager says
    // it is maximised before it gives the new size), also through full
    // screen until it is maximised again.
    const bool fullscreen = isFullscreen(), maximized = isMaximized();
    if (maximized && !fullscreen) fullscreenFromMaximized_ = false;
    if (width <= 0 || height <= 0 || fullscreen || maximized || fullscreenFromMaximized_) return;
    windowedSize_ = {std::round(width / scale_), std::round(height / scale_)};
}

void DesktopShell::sizeChanged(int width, int height) {
    if (width <= 0 || height <= 0) return;
    // The window's pixels, as points of the layout.
    const ui::Size size{std::round(width / scale_), std::round(height / scale_)};
    needsFrame_ = true;
    if (size == syncedSize_ && size == window_.bounds().size) return;
    syncedSize_ = size;
    window_.resize(size);
}

void DesktopShell::setFullscreen(bool on) {
    if (!sdlWindow_ || on == isFullscreen()) return;
    if (on) {
        fullscreenFromMaximized_ = isMaximized();
        // The window manager makes the window full screen; its new size
        // comes as a size event.
        SDL_SetWindowFullscreen(sdlWindow_, SDL_WINDOW_FULLSCREEN_DESKTOP);
        return;
    }
    if (fullscreenFromMaximized_) {
        // Back to the state it came from: a maximised window is maximised
        // again (its size then comes as a size event), and the window
        // manager keeps the size it had under it. Said while it is still full
        // screen, so that SDL asks the window manager to keep the maximised
        // state as full screen ends rather than to drop it: dropped, the
        // window went through its own size to be maximised again, and a busy
        // window manager could take the maximised size as the one under it.
        SDL_MaximizeWindow(sdlWindow_);
        SDL_SetWindowFullscreen(sdlWindow_, 0);
        return;
    }
    // Back to the size the window had before (the sizes SDL reports as
    // full screen ends may still be the full screen's).
    const ui::Size back = windowedSize_;
    SDL_SetWindowFullscreen(sdlWindow_, 0);
    SDL_SetWindowSize(sdlWindow_, px(back.width), px(back.height));
    keepMinimumSize();
    sizeChanged(px(back.width), px(back.height));
}

void DesktopShell::keepMinimumSize() {
    // Under X the window's size hints are written anew as it is shown (and
    // as the program sizes it): the smallest size goes in again each time,
    // into the hints alone (SDL would also give the window the geometry it
    // last knew, which may be one the window manager has since changed).
    X11Desktop::setMinimumSize(sdlWindow_, px(kMinWidth), px(kMinHeight));
}

bool DesktopShell::isMaximized() const {
    return sdlWindow_ && (SDL_GetWindowFlags(sdlWindow_) & SDL_WINDOW_MAXIMIZED);
}

bool DesktopShell::isMaximizedUnderFullscreen() const {
    return isMaximized() || (isFullscreen() && fullscreenFromMaximized_);
}

void DesktopShell::maximize() {
    if (sdlWindow_) SDL_MaximizeWindow(sdlWindow_);
}

bool DesktopShell::isFullscreen() const {
    return sdlWindow_ && (SDL_GetWindowFlags(sdlWindow_) & (SDL_WINDOW_FULLSCREEN | SDL_WINDOW_FULLSCREEN_DESKTOP));
}

void DesktopShell::raise() {
    if (!sdlWindow_) return;
    if (SDL_GetWindowFlags(sdlWindow_) & SDL_WINDOW_MINIMIZED) SDL_RestoreWindow(sdlWindow_);
    SDL_RaiseWindow(sdlWindow_);
}

gfx::Canvas* DesktopShell::renderFrame(bool force) {
    const double now = sys::Clock::now();
    if (!force && (!needsFrame_ || now - lastFrame_ < 1.0 / 60.0)) return nullptr;
    needsFrame_ = false;
    lastFrame_ = now;
    syncSize();
    gfx::Canvas& fb = window_.render();
    cairo_surface_flush(fb.surface());
    return &fb;
}

gfx::Canvas& DesktopShell::framePixels(gfx::Canvas& frame, int width, int height) {
    const int fw = frame.pixelWidth(), fh = frame.pixelHeight();
    if (width <= 0 || height <= 0 || (fw <= width && fh <= height)) return frame;
    if (!shrunk_ || shrunk_->pixelWidth() != width || shrunk_->pixelHeight() != height)
        shrunk_ = std::make_unique<gfx::Canvas>(width, height, 1.0);
    cairo_surface_t* into = shrunk_->surface();
    cairo_surface_flush(into);
    const int k = fw / width;
    if (k >= 2 && fw == width * k && fh == height * k) {
        // A whole number of frame pixels to each window pixel (a phone's
        // three in a window of one): each is the mean of its k x k, so a line
        // one device pixel thin shows as a lighter one (the blit's nearest
        // pixel kept one row in three). A few milliseconds a frame.
        const uint8_t* src = cairo_image_surface_get_data(frame.surface());
        const size_t srcStride = size_t(cairo_image_surface_get_stride(frame.surface()));
        uint8_t* dst = cairo_image_surface_get_data(into);
        const size_t dstStride = size_t(cairo_image_surface_get_stride(into));
        const unsigned n = unsigned(k * k);
        for (int y = 0; y < height; ++y) {
            uint8_t* out = dst + size_t(y) * dstStride;
            for (int x = 0; x < width; ++x) {
                unsigned sum[4] = {0, 0, 0, 0};
                for (int j = 0; j < k; ++j) {
                    const uint8_t* p = src + size_t(y * k + j) * srcStride + size_t(x * k) * 4;
                    for (int i = 0; i < k; ++i, p += 4)
                        for (int c = 0; c < 4; ++c) sum[c] += p[c];
                }
                for (int c = 0; c < 4; ++c) out[x * 4 + c] = uint8_t((sum[c] + n / 2) / n);
            }
        }
    } else {
        // Other proportions (a phone's three pixels in a window of two):
        // bilinear, which at less than two frame pixels a window pixel
        // reaches every one of them.
        cairo_t* cr = cairo_create(into);
        cairo_scale(cr, double(width) / fw, double(height) / fh);
        cairo_set_source_surface(cr, frame.surface(), 0, 0);
        cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_BILINEAR);
        cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
        cairo_paint(cr);
        cairo_destroy(cr);
        cairo_surface_flush(into);
    }
    cairo_surface_mark_dirty(into);
    return *shrunk_;
}

void DesktopShell::present(bool force) {
    if (surfaceMode_) {
        presentToSurface(force);
        return;
    }
    if (!renderer_) return;
    gfx::Canvas* drawn = renderFrame(force);
    if (!drawn) return;
    int ow = 0, oh = 0;
    if (SDL_GetRendererOutputSize(renderer_, &ow, &oh) != 0) ow = oh = 0;
    gfx::Canvas& fb = framePixels(*drawn, ow, oh);
    cairo_surface_t* surface = fb.surface();
    const int pw = fb.pixelWidth(), ph = fb.pixelHeight();
    if (!texture_ || pw != textureWidth_ || ph != textureHeight_) {
        if (texture_) SDL_DestroyTexture(texture_);
        texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING, pw, ph);
        textureWidth_ = pw;
        textureHeight_ = ph;
    }
    if (!texture_) return;
    // A size the window got without an event of its own (full screen set
    // directly) leaves the renderer drawing into the old area.
    if (ow > 0 && (ow != outputWidth_ || oh != outputHeight_)) {
        outputWidth_ = ow;
        outputHeight_ = oh;
        SDL_RenderSetViewport(renderer_, nullptr);
    }
    SDL_UpdateTexture(texture_, nullptr, cairo_image_surface_get_data(surface), cairo_image_surface_get_stride(surface));
    SDL_RenderClear(renderer_);
    SDL_RenderCopy(renderer_, texture_, nullptr, nullptr);
    SDL_RenderPresent(renderer_);
}

void DesktopShell::presentToSurface(bool force) {
    gfx::Canvas* drawn = renderFrame(force);
    if (!drawn) return;
    SDL_Surface* target = SDL_GetWindowSurface(sdlWindow_);  // follows the window's size
    if (!target) return;
    gfx::Canvas& fb = framePixels(*drawn, target->w, target->h);
    cairo_surface_t* surface = fb.surface();
    // The frame is opaque: read as the window's own 32-bit format it is
    // copied row by row, with no conversion.
    const Uint32 format = target->format->format == SDL_PIXELFORMAT_RGB888 ? SDL_PIXELFORMAT_RGB888
                                                                           : SDL_PIXELFORMAT_ARGB8888;
    SDL_Surface* frame = SDL_CreateRGBSurfaceWithFormatFrom(cairo_image_surface_get_data(surface), fb.pixelWidth(),
                                                            fb.pixelHeight(), 32,
                                                            cairo_image_surface_get_stride(surface), format);
    if (!frame) return;
    SDL_SetSurfaceBlendMode(frame, SDL_BLENDMODE_NONE);
    if (frame->w == target->w && frame->h == target->h) SDL_BlitSurface(frame, nullptr, target, nullptr);
    else SDL_BlitScaled(frame, nullptr, target, nullptr);
    SDL_FreeSurface(frame);
    SDL_UpdateWindowSurface(sdlWindow_);
}

bool DesktopShell::glEmulatedInSoftware(SDL_Renderer* renderer) {
    SDL_RendererInfo info{};
    if (SDL_GetRendererInfo(renderer, &info) != 0 || !info.name || std::strncmp(info.name, "opengl", 6) != 0)
        return false;
    using GetString = const unsigned char* (*)(unsigned);
    auto getString = reinterpret_cast<GetString>(SDL_GL_GetProcAddress("glGetString"));
    const unsigned char* name = getString ? getString(0x1F01 /* GL_RENDERER */) : nullptr;
    if (!name) return false;
    const std::string gl(reinterpret_cast<const char*>(name));
    for (const char* soft : {"llvmpipe", "softpipe", "Software Rasterizer", "SWR"})
        if (gl.find(soft) != std::string::npos) return true;
    return false;
}

bool DesktopShell::screenshot(const std::string& pngPath) {
    if (surfaceMode_) {
        needsFrame_ = true;
        presentToSurface(true);
        SDL_Surface* target = SDL_GetWindowSurface(sdlWindow_);
        if (!target) return false;
        gfx::Canvas shot(target->w, target->h, 1.0);
        cairo_surface_t* s = shot.surface();
        cairo_surface_flush(s);
        SDL_Surface* into = SDL_CreateRGBSurfaceWithFormatFrom(cairo_image_surface_get_data(s), target->w, target->h,
                                                               32, cairo_image_surface_get_stride(s),
                                                               SDL_PIXELFORMAT_ARGB8888);
        if (!into) return false;
        const int rc = SDL_BlitSurface(target, nullptr, into, nullptr);
        SDL_FreeSurface(into);
        cairo_surface_mark_dirty(s);
        return rc == 0 && shot.writePNG(pngPath);
    }
    if (!renderer_) return false;
    needsFrame_ = true;
    present(true);
    // Read back what the renderer holds: draw the frame again and read it
    // before presenting, since a presented back buffer is undefined.
    int w = 0, h = 0;
    if (SDL_GetRendererOutputSize(renderer_, &w, &h) != 0 || w <= 0 || h <= 0) return false;
    SDL_RenderClear(renderer_);
    SDL_RenderCopy(renderer_, texture_, nullptr, nullptr);
    gfx::Canvas shot(w, h, 1.0);
    cairo_surface_t* s = shot.surface();
    cairo_surface_flush(s);
    int rc = SDL_RenderReadPixels(renderer_, nullptr, SDL_PIXELFORMAT_ARGB8888, cairo_image_surface_get_data(s),
                                  cairo_image_surface_get_stride(s));
    cairo_surface_mark_dirty(s);
    SDL_RenderPresent(renderer_);
    if (rc != 0) return false;
    return shot.writePNG(pngPath);
}

ui::Application::State DesktopShell::stateAfterWindowEvent(ui::Application::State current, int windowEvent,
                                                           bool hasFocus) {
    using State = ui::Application::State;
    switch (windowEvent) {
    case SDL_WINDOWEVENT_FOCUS_LOST: return current == State::Active ? State::Inactive : current;
    case SDL_WINDOWEVENT_FOCUS_GAINED: return State::Active;
    // Only minimising: the window is also hidden and shown while it is made.
    case SDL_WINDOWEVENT_MINIMIZED: return State::Background;
    case SDL_WINDOWEVENT_RESTORED:
    case SDL_WINDOWEVENT_SHOWN:
    case SDL_WINDOWEVENT_MAXIMIZED:
        if (current != State::Background) return current;
        return hasFocus ? State::Active : State::Inactive;
    default: return current;
    }
}

std::string DesktopShell::portalWindowHandle() const { return X11Desktop::portalHandle(sdlWindow_); }

void DesktopShell::handle(const SDL_Event& e) {
    switch (e.type) {
    case SDL_QUIT: closeRequested_ = true; break;
    // Files dropped on the window: several come between a begin and a
    // complete; a lone file (an older sender) comes by itself.
    case SDL_DROPBEGIN:
        dropping_ = true;
        dropped_.clear();
        break;
    case SDL_DROPFILE:
        if (e.drop.file) {
            dropped_.push_back(e.drop.file);
            SDL_free(e.drop.file);
        }
        if (!dropping_) {
            auto paths = std::move(dropped_);
            dropped_.clear();
            if (drop_ && !paths.empty()) drop_(paths);
        }
        break;
    case SDL_DROPTEXT:
        if (e.drop.file) SDL_free(e.drop.file);
        break;
    case SDL_DROPCOMPLETE: {
        dropping_ = false;
        auto paths = std::move(dropped_);
        dropped_.clear();
        if (drop_ && !paths.empty()) drop_(paths);
        break;
    }
    case SDL_WINDOWEVENT:
        if (e.window.event == SDL_WINDOWEVENT_CLOSE) closeRequested_ = true;
        if (e.window.event == SDL_WINDOWEVENT_LEAVE) pointerInside_ = false;
        if (e.window.event == SDL_WINDOWEVENT_EXPOSED || e.window.event == SDL_WINDOWEVENT_SHOWN) needsFrame_ = true;
        fitFrame();
        // Showing the window writes its size hints anew.
        if (e.window.event == SDL_WINDOWEVENT_SHOWN) keepMinimumSize();
        // The size under a maximised window was taken as the event came
        // (sizeCame).
        if (e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) sizeChanged(e.window.data1, e.window.data2);
        if (sdlWindow_) {
            auto& app = ui::Application::shared();
            const bool focus = (SDL_GetWindowFlags(sdlWindow_) & SDL_WINDOW_INPUT_FOCUS) != 0;
            app.setApplicationState(stateAfterWindowEvent(app.applicationState(), e.window.event, focus));
        }
        break;
    case SDL_MOUSEBUTTONDOWN:
        // The middle button pastes the primary selection into a text field.
        if (e.button.button == SDL_BUTTON_MIDDLE && !mouseDown_)
            ui::PointerShape::middleClick(window_, toPoints(e.button.x, e.button.y));
        if (e.button.button != SDL_BUTTON_LEFT) break;
        mouseDown_ = true;
        window_.sendTouch(0, ui::TouchPhase::Began, toPoints(e.button.x, e.button.y));
        break;
    case SDL_MOUSEMOTION:
        lastMouse_ = toPoints(e.motion.x, e.motion.y);
        pointerInside_ = true;
        if (mouseDown_) window_.sendTouch(0, ui::TouchPhase::Moved, toPoints(e.motion.x, e.motion.y));
        break;
    case SDL_MOUSEBUTTONUP:
        if (e.button.button != SDL_BUTTON_LEFT || !mouseDown_) break;
        mouseDown_ = false;
        window_.sendTouch(0, ui::TouchPhase::Ended, toPoints(e.button.x, e.button.y));
        break;
    case SDL_MOUSEWHEEL: {
        // Where the pointer is: the event's own position, else the last one seen.
        ui::Point at = toPoints(e.wheel.mouseX, e.wheel.mouseY);
        if (e.wheel.mouseX == 0 && e.wheel.mouseY == 0) at = lastMouse_;
        double dx = e.wheel.preciseX, dy = e.wheel.preciseY;
        if (e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED) dx = -dx, dy = -dy;
        const bool pinch = (SDL_GetModState() & KMOD_CTRL) != 0;
        // A notch scrolls 40 points; with ctrl each notch zooms one step
        // (away from the user zooms in), around the pointer.
        ui::ScrollView::dispatchWheel(window_, at, pinch ? 0 : -dx * 40, -dy * (pinch ? 1 : 40),
                                      pinch ? unsigned(ui::KeyModifierControl) : 0u);
        break;
    }
    case SDL_KEYDOWN: {
        const SDL_Keycode k = e.key.keysym.sym;
        const unsigned mods = modifiersOf(e.key.keysym.mod);
        if (k == SDLK_VOLUMEUP || k == SDLK_VOLUMEDOWN) {
            if (volume_) volume_(k == SDLK_VOLUMEUP);
            break;
        }
        if (k == SDLK_F11 && !mods) {
            setFullscreen(!isFullscreen());
            break;
        }
        // In full screen Escape closes a panel or menu in front first, then
        // leaves full screen, and only then goes back from a screen.
        if (k == SDLK_ESCAPE && !(mods & ~unsigned(ui::KeyModifierAlphaShift)) && isFullscreen()) {
            bool taken = false;
            {
                ui::InFrontKeyScope inFront;
                taken = window_.sendKey({ui::KeyInput::escape, mods});
            }
            if (!taken) setFullscreen(false);
            break;
        }
        if (const char* special = specialKey(k)) {
            window_.sendKey({special, mods});
            break;
        }
        // Printable keys arrive as text input, unless a command modifier
        // keeps them from typing.
        if ((mods & (ui::KeyModifierControl | ui::KeyModifierCommand | ui::KeyModifierAlternate)) && k > 0 && k < 128 &&
            std::isprint(int(k)))
            window_.sendKey({std::string(1, char(k)), mods});
        break;
    }
    case SDL_TEXTINPUT: {
        // One key press per character (UTF-8 aware).
        const char* t = e.text.text;
        const unsigned mods = modifiersOf(SDL_GetModState()) & ui::KeyModifierShift;
        for (size_t i = 0; t[i];) {
            size_t len = 1;
            unsigned char c = static_cast<unsigned char>(t[i]);
            if (c >= 0xF0) len = 4;
            else if (c >= 0xE0) len = 3;
            else if (c >= 0xC0) len = 2;
            window_.sendKey({std::string(t + i, std::min(len, std::strlen(t + i))), mods});
            i += len;
        }
        break;
    }
    default: break;
    }
}

void DesktopShell::pumpOnce(double maxWait) {
    auto& loop = sys::RunLoop::main();
    // A frame held back by the frame rate is drawn as soon as it may be.
    if (needsFrame_) maxWait = std::min(maxWait, std::max(0.0, lastFrame_ + 1.0 / 60.0 - sys::Clock::now()));
    const int ms = loop.pendingPosts() > 0 ? 0 : std::max(0, int(std::ceil(maxWait * 1000)));
    SDL_Event e;
    if (SDL_WaitEventTimeout(&e, ms)) {
        handle(e);
        while (SDL_PollEvent(&e)) handle(e);
        // What the events changed goes on the screen before the work they
        // left for later runs (a page turn before the reading position is
        // written).
        if (window_.needsRender()) needsFrame_ = true;
        present(false);
        // What lies under the pointer may have changed with the events.
        updatePointer();
    }
    while (loop.runOnce()) {
    }
    if (titleSource_ && sdlWindow_) {
        std::string t = titleSource_();
        if (!t.empty() && t != title_) {
            title_ = std::move(t);
            X11Desktop::setTitle(sdlWindow_, title_);
        }
    }
    present(false);
}

void DesktopShell::run(const std::atomic<bool>& stop) {
    while (!stop.load() && !closeRequested_) pumpOnce(0.01);
}

}  // namespace shell
