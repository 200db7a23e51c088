#pragma once

#include "platform/ui/Geometry.h"

namespace ui {

class Window;

// The on-screen keyboard as the screens see it: there is no drawn keyboard,
// but editing text announces one of a fixed size at the bottom of the window
// with the platform's notifications, so screens can make room for it.
//
// userInfo of the notifications: frameBeginKey and frameEndKey hold a Rect
// in window coordinates, animationDurationKey a double (seconds).
class Keyboard {
public:
    static Keyboard& shared();

    bool isVisible() const { return visible_; }
    // The keyboard's rectangle in the window (empty when there is no window).
    static Rect frameIn(const Window* window);

    // Posts will-show now and did-show on the next turn of the main loop.
    void show(const Window* window);
    // Posts will-hide now and did-hide on the next turn.
    void hide(const Window* window);
    // Hides unless the first responder still takes text (checked on the next turn).
    void hideUnlessEditing(const Window* window);
    void reset() { visible_ = false; }

    static constexpr const char* willShowNotification = "UIKeyboardWillShowNotification";
    static constexpr const char* didShowNotification = "UIKeyboardDidShowNotification";
    static constexpr const char* willHideNotification = "UIKeyboardWillHideNotification";
    static constexpr const char* didHideNotification = "UIKeyboardDidHideNotification";
    static constexpr const char* frameBeginKey = "UIKeyboardFrameBeginUserInfoKey";
    static constexpr const char* frameEndKey = "UIKeyboardFrameEndUserInfoKey";
    static constexpr const char* animationDurationKey = "UIKeyboardAnimationDurationUserInfoKey";
    static constexpr double kAnimationDuration = 0.25;

private:
    Keyboard() = default;
    bool visible_ = false;
};

}  // namespace ui
