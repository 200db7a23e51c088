#pragma once

#include "platform/graphics/Canvas.h"
#include "platform/ui/Application.h"
#include "platform/ui/Screen.h"
#include "platform/ui/View.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ui {

class ViewController;

// The root of a view tree, bound to the screen of the current device
// profile and the main run loop. It turns raw touches and keys into events
// for its views, runs the pending layout on the loop, and draws the views'
// presentation values into its framebuffer (a cairo image surface at the
// screen's scale) when asked to render or snapshot.
class Window : public View {
public:
    // Full screen in the screen's present orientation.
    Window();
    ~Window() override;

    bool isWindow() const override { return true; }
    Responder* nextResponder() const override;

    void makeKeyAndVisible();
    void makeKeyWindow();
    bool isKeyWindow() const;

    // --- Orientation, bars, safe area, traits ---
    InterfaceOrientation orientation() const { return orientation_; }
    // Resizes to the screen for the orientation; views get autoresized and
    // laid out. (Transitions with view controllers build on this.)
    void setOrientation(InterfaceOrientation o);
    // Height of the status bar over this window (0 when hidden or absent).
    double statusBarHeight() const;
    EdgeInsets windowSafeAreaInsets() const;
    TraitCollection windowTraits() const { return traits_; }
    // The window's own appearance and Reduce Transparency, whatever the
    // device profile says from then on.
    void setUserInterfaceStyle(UserInterfaceStyle style);
    void setReduceTransparency(bool on);
    // Re-reads the device profile (size, scale, insets, appearance,
    // Reduce Transparency).
    void reloadProfile();
    void statusBarDidChange();

    // --- View controllers ---
    // The screen whose view fills the window; setting it shows its view.
    const std::shared_ptr<ViewController>& rootViewController() const { return rootViewController_; }
    void setRootViewController(std::shared_ptr<ViewController> vc);
    // Turns the window to `o` when the top screen supports it and may
    // autorotate, running the screens' size transition. False when refused.
    bool rotate(InterfaceOrientation o);
    // Takes a new size (points) as the screens' size transition; the
    // current device profile's screen follows. False when nothing changed.
    bool resize(Size size);

    // --- Events ---
    // A raw touch in window coordinates. Began hit-tests the views; later
    // phases go to the view that took the touch.
    void sendTouch(int identifier, TouchPhase phase, Point location);
    // A key press for the first responder's chain (this window when there is
    // none). True when someone took it.
    bool sendKey(const KeyPress& key);
    // Hands a touch to `watcher`: the view that had it gets touchesCancelled,
    // and later phases go to `watcher`'s touchesMoved/Ended/Cancelled. A null
    // watcher ends delivery (the watchers still hear the touch). Without
    // `cancelHolder` the holder hears nothing (a touch it never began).
    void takeOverTouch(Touch& touch, View* watcher, bool cancelHolder = true);
    std::vector<TouchRef> activeTouches() const;

    // --- Layout and drawing ---
    void scheduleLayout();
    void setNeedsRender();
    bool needsRender() const { return needsRender_; }
    // Called (on the main loop) whenever the window would like to be drawn
    // again; the desktop shell renders and presents from it.
    void setRenderRequestHandler(std::function<void()> handler) { renderRequest_ = std::move(handler); }
    // Whether someone shows this window's frames (continuous motion matters).
    bool wantsFrames() const { return bool(renderRequest_); }
    // Runs `work` on the main loop once the next frame has been drawn (by
    // render), so that it does not hold that frame back. With nobody drawing
    // this window's frames (a headless run) it is simply posted.
    void runAfterNextRender(std::function<void()> work);
    // Lays `view` over the whole window as one of its subviews, drawn above
    // everything else in it (what is added later, presented screens, the
    // status bar) and never taking a touch: the screen's own dimming. It
    // keeps the window's size.
    void addOverlayAboveAll(const Ref& view);
    // Lays out and draws everything into the framebuffer.
    gfx::Canvas& render();
    gfx::Canvas& framebuffer();
    // Renders and writes the framebuffer as PNG.
    bool snapshot(const std::string& pngPath);

protected:
    void boundsSizeDidChange(Size oldSize) override;

private:
    void applyProfileGeometry();
    void deliver(Touch& touch, TouchPhase phase, const Event& event);

    InterfaceOrientation orientation_;
    TraitCollection traits_;
    std::optional<UserInterfaceStyle> styleOverride_;
    std::optional<bool> reduceTransparencyOverride_;
    sys::DeviceProfile profile_;
    std::unique_ptr<gfx::Canvas> framebuffer_;
    bool needsRender_ = true;
    bool layoutScheduled_ = false;
    std::function<void()> renderRequest_;
    std::vector<std::function<void()>> afterRender_;
    std::map<int, TouchRef> touches_;
    struct LastTap {
        Point where;
        double endTime = -1e9;
        int count = 0;
    } lastTap_;
    // The view each active touch was first delivered to (for watchers).
    std::map<int, std::vector<std::weak_ptr<View>>> watchers_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    std::shared_ptr<ViewController> rootViewController_;
    std::vector<std::weak_ptr<View>> overlaysAboveAll_;
};

}  // namespace ui
