#pragma once

#include "platform/ui/ApplicationDelegate.h"
#include "platform/ui/Geometry.h"
#include "platform/ui/Responder.h"
#include "platform/ui/Screen.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ui {

class Window;

enum class StatusBarStyle { Default, LightContent, DarkContent };

// The running application: its windows and key window, the status bar, the
// idle timer, the icon badge, opening URLs in other programs and the
// life-cycle state with its notifications. One per process, on the main thread.
class Application : public Responder {
public:
    enum class State { Active, Inactive, Background };

    static Application& shared();

    Window* keyWindow() const { return keyWindow_; }
    const std::vector<Window*>& windows() const { return windows_; }

    bool isStatusBarHidden() const { return statusBarHidden_; }
    void setStatusBarHidden(bool hidden);
    StatusBarStyle statusBarStyle() const { return statusBarStyle_; }
    void setStatusBarStyle(StatusBarStyle style);
    InterfaceOrientation statusBarOrientation() const;
    // Where the bar is in the key window (empty when hidden or absent).
    Rect statusBarFrame() const;

    bool isIdleTimerDisabled() const { return idleTimerDisabled_; }
    void setIdleTimerDisabled(bool disabled);
    // Told when the idle timer is switched off or on again (the desktop
    // holds its screen saver off meanwhile).
    void setIdleTimerObserver(std::function<void(bool disabled)> observer) { idleObserver_ = std::move(observer); }
    long applicationIconBadgeNumber() const { return badge_; }
    void setApplicationIconBadgeNumber(long n);
    // Told when the icon's number changes (the desktop shows it on its launcher).
    void setBadgeObserver(std::function<void(long number)> observer) { badgeObserver_ = std::move(observer); }

    // Handing URLs to the system: the desktop installs its opener; without
    // one nothing can be opened.
    struct URLOpener {
        std::function<bool(const std::string&)> canOpen;
        std::function<bool(const std::string&)> open;
        // Where the opener can tell how it went (its helper program's end):
        // starts like open, false when it could not start, and otherwise
        // calls `outcome` once, on the main loop, when that is known.
        std::function<bool(const std::string&, std::function<void(bool)> outcome)> openTelling;
    };
    void setURLOpener(URLOpener opener) { opener_ = std::move(opener); }
    bool canOpenURL(const std::string& url) const;
    // The completion runs on a later turn of the main loop with the outcome:
    // once the opener knows it where it can tell, else as it started.
    void openURL(const std::string& url, std::function<void(bool)> completion = {});

    // Words the system itself shows (a back button whose screen has no
    // title, Done, Cancel, Edit, a search field's "Search"): the program gives
    // them in its own language.
    void setSystemWordTranslator(std::function<std::string(const std::string&)> translate) {
        translateSystemWord_ = std::move(translate);
    }
    std::string systemWord(const std::string& english) const {
        return translateSystemWord_ ? translateSystemWord_(english) : english;
    }

    // Ends the program as closing its window does (the desktop's Ctrl+Q):
    // the program installs what takes its termination path. False, and
    // nothing happens, without one.
    void setTerminationRequestHandler(std::function<void()> handler) { terminationRequest_ = std::move(handler); }
    bool requestTermination();

    State applicationState() const { return state_; }
    // Moves through the life cycle: each step tells the delegate, then posts
    // its notification.
    void setApplicationState(State s);
    // Who hears the life-cycle steps first (not owned).
    void setDelegate(std::weak_ptr<ApplicationDelegate> d) { delegate_ = std::move(d); }
    std::shared_ptr<ApplicationDelegate> delegate() const { return delegate_.lock(); }

    static constexpr const char* didBecomeActiveNotification = "UIApplicationDidBecomeActiveNotification";
    static constexpr const char* willResignActiveNotification = "UIApplicationWillResignActiveNotification";
    static constexpr const char* didEnterBackgroundNotification = "UIApplicationDidEnterBackgroundNotification";
    static constexpr const char* willEnterForegroundNotification = "UIApplicationWillEnterForegroundNotification";

    // Back to a fresh state (between tests): no windows, bar shown, active, no delegate.
    void reset();

    // Windows register themselves.
    void addWindow(Window* w);
    void removeWindow(Window* w);
    void setKeyWindow(Window* w);

private:
    Application() = default;
    void barChanged();

    std::vector<Window*> windows_;
    Window* keyWindow_ = nullptr;
    bool statusBarHidden_ = false;
    StatusBarStyle statusBarStyle_ = StatusBarStyle::Default;
    bool idleTimerDisabled_ = false;
    long badge_ = 0;
    URLOpener opener_;
    std::function<void(bool)> idleObserver_;
    std::function<void(long)> badgeObserver_;
    std::function<std::string(const std::string&)> translateSystemWord_;
    std::function<void()> terminationRequest_;
    State state_ = State::Active;
    std::weak_ptr<ApplicationDelegate> delegate_;
};

}  // namespace ui
