#include "platform/ui/Keyboard.h"

#include "platform/core/NotificationCenter.h"
#include "platform/core/RunLoop.h"
#include "platform/ui/Responder.h"
#include "platform/ui/Window.h"

namespace ui {

Keyboard& Keyboard::shared() {
    static Keyboard* k = new Keyboard;
    return *k;
}

Rect Keyboard::frameIn(const Window* window) {
    if (!window) return Rect();
    Rect b = window->bounds();
    bool pad = window->windowTraits().idiom == UserInterfaceIdiom::Pad;
    bool landscape = b.width() > b.height();
    // Fixed heights in the range of the platform's keyboards, plus the home
    // indicator's strip.
    double h = pad ? (landscape ? 398 : 320) : (landscape ? 209 : 291);
    h += window->windowSafeAreaInsets().bottom;
    if (h > b.height()) h = b.height();
    return Rect(b.x(), b.maxY() - h, b.width(), h);
}

void Keyboard::show(const Window* window) {
    if (visible_) return;
    visible_ = true;
    Rect end = frameIn(window);
    Rect begin = rectOffset(end, 0, end.height());
    std::map<std::string, std::any> info{{frameBeginKey, begin}, {frameEndKey, end},
                                         {animationDurationKey, kAnimationDuration}};
    sys::NotificationCenter::defaultCenter().post(willShowNotification, nullptr, info);
    sys::RunLoop::main().post([info] {
        sys::NotificationCenter::defaultCenter().post(didShowNotification, nullptr, info);
    });
}

void Keyboard::hide(const Window* window) {
    if (!visible_) return;
    visible_ = false;
    Rect begin = frameIn(window);
    Rect end = rectOffset(begin, 0, begin.height());
    std::map<std::string, std::any> info{{frameBeginKey, begin}, {frameEndKey, end},
                                         {animationDurationKey, kAnimationDuration}};
    sys::NotificationCenter::defaultCenter().post(willHideNotification, nullptr, info);
    sys::RunLoop::main().post([info] {
        sys::NotificationCenter::defaultCenter().post(didHideNotification, nullptr, info);
    });
}

void Keyboard::hideUnlessEditing(const Window* window) {
    // The window may be gone by the next turn: keep its rectangle now.
    Rect frame = frameIn(window);
    sys::RunLoop::main().post([this, frame] {
        Responder* r = Responder::firstResponder();
        if (r && r->takesTextInput()) return;
        if (!visible_) return;
        visible_ = false;
        Rect end = rectOffset(frame, 0, frame.height());
        std::map<std::string, std::any> info{{frameBeginKey, frame}, {frameEndKey, end},
                                             {animationDurationKey, kAnimationDuration}};
        sys::NotificationCenter::defaultCenter().post(willHideNotification, nullptr, info);
        sys::RunLoop::main().post([info] {
            sys::NotificationCenter::defaultCenter().post(didHideNotification, nullptr, info);
        });
    });
}

}  // namespace ui
