#pragma once

#include "platform/ui/KeyCommand.h"
#include "platform/ui/View.h"
#include "platform/ui/Window.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ui::test {

// Drives a window as a user would: fingers, keys and the passing of time on
// the main run loop (virtual in tests), and finds views to act on. Part of
// the library so that scripted runs of the program can use it too.
//
// Every action lets the loop run the work it posted (layout, completions)
// before returning, so its effects can be checked at once.
class Driver {
public:
    explicit Driver(Window& window);

    Window& window() { return window_; }

    // --- Time ---
    // Moves the main loop's clock on, firing timers and animations.
    void advance(double seconds);
    // Runs posted work without moving the clock.
    void settle();

    // --- Fingers (window coordinates) ---
    void touchDown(Point p, int finger = 0);
    void touchMove(Point p, int finger = 0);
    void touchUp(Point p, int finger = 0);
    void touchCancel(int finger = 0);
    // Down and up 0.05 s apart.
    void tap(Point p);
    // The middle of a view's visible frame.
    void tap(const View& v);
    Point centerOf(const View& v) const;
    // Two taps 0.1 s apart (the second has tap count 2).
    void doubleTap(Point p);
    void longPress(Point p, double seconds = 1.0);
    // Down at `from`, moves to `to` in `steps` even steps over `seconds`, then
    // a last sixtieth of a second at `releaseVelocity` (points per second)
    // before the finger lifts. Without velocity the finger rests 0.1 s first.
    void drag(Point from, Point to, double seconds = 0.3, Point releaseVelocity = {0, 0}, int steps = 10);

    // --- Keys ---
    bool key(const std::string& input, unsigned modifiers = 0);
    // One key press per character (UTF-8 aware).
    void type(const std::string& text);
    bool pressReturn() { return key(KeyInput::returnKey); }
    bool pressBackspace() { return key(KeyInput::backspace); }

    // --- Finding views (depth first from the window, back to front order) ---
    std::vector<View*> findAll(const std::function<bool(View&)>& pred, bool visibleOnly = true) const;
    View* find(const std::function<bool(View&)>& pred, bool visibleOnly = true) const;
    template <class T>
    T* findFirst(bool visibleOnly = true) const {
        return static_cast<T*>(find([](View& v) { return dynamic_cast<T*>(&v) != nullptr; }, visibleOnly));
    }
    template <class T>
    std::vector<T*> findAllOf(bool visibleOnly = true) const {
        std::vector<T*> out;
        for (View* v : findAll([](View& x) { return dynamic_cast<T*>(&x) != nullptr; }, visibleOnly))
            out.push_back(static_cast<T*>(v));
        return out;
    }
    View* findByTag(int tag) const;
    // A label, button, text field (text or placeholder), segment or search
    // bar showing exactly this text.
    View* findByText(const std::string& text) const;
    // The text a view shows, as findByText reads it ("" for others).
    static std::string textOf(const View& v);
    // The shown views that show `text` (a segmented control by any of its
    // titles), front to back: what lies in front of a view comes before it,
    // so what is presented comes before the screens under it.
    std::vector<View*> findAllByTextFrontToBack(const std::string& text) const;
    // Whether a finger at `p` (window coordinates) now reaches `v`: the view
    // that takes the touch is `v` or lies inside it, or (for a view that
    // takes no touch itself, a label) holds it or lies behind it, with
    // nothing between them that would take a touch itself.
    bool reaches(const View& v, Point p) const;
    // Whether a finger at `p` lands in the part of the window that holds `v`
    // (the screens under the navigation, a presented screen, an alert, a
    // panel laid on the window) rather than on one laid over it: `v` is not
    // under a presented screen, a question's dimming or a panel. Within its
    // part a touch area over `v` (a tab's) may take the touch.
    bool uncovered(const View& v, Point p) const;
    // Where a tap on `v` for `text` lands: the middle of the segment with
    // that title, else the middle of the view's visible frame.
    Point textPoint(const View& v, const std::string& text) const;
    // The frontmost shown view showing `text` that is uncovered at
    // textPoint (a control rather than its own label), or null: a view
    // behind a dimming or an alert is not taken.
    View* findTappableByText(const std::string& text) const;

    // Whether the view and all its ancestors are shown.
    static bool isVisible(const View& v);

    // --- Pictures ---
    bool snapshot(const std::string& pngPath);

private:
    Window& window_;
};

}  // namespace ui::test
