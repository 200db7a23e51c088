#include "platform/ui/Application.h"

#include "platform/core/NotificationCenter.h"
#include "platform/core/RunLoop.h"
#include "platform/ui/Window.h"

#include <algorithm>

namespace ui {

Application& Application::shared() {
    static Application* a = new Application;
    return *a;
}

void Application::addWindow(Window* w) {
    if (std::find(windows_.begin(), windows_.end(), w) == windows_.end()) windows_.push_back(w);
}

void Application::removeWindow(Window* w) {
    windows_.erase(std::remove(windows_.begin(), windows_.end(), w), windows_.end());
    if (keyWindow_ == w) keyWindow_ = nullptr;
}

void Application::setKeyWindow(Window* w) { keyWindow_ = w; }

void Application::setStatusBarHidden(bool hidden) {
    if (hidden == statusBarHidden_) return;
    statusBarHidden_ = hidden;
    barChanged();
}

void Application::setStatusBarStyle(StatusBarStyle style) {
    statusBarStyle_ = style;
    for (Window* w : windows_) w->setNeedsRender();
}

void Application::barChanged() {
    for (Window* w : std::vector<Window*>(windows_)) w->statusBarDidChange();
}

InterfaceOrientation Application::statusBarOrientation() const {
    return keyWindow_ ? keyWindow_->orientation() : Screen::main().orientation();
}

Rect Application::statusBarFrame() const {
    if (!keyWindow_) return Rect();
    double h = keyWindow_->statusBarHeight();
    if (h <= 0) return Rect();
    return Rect(0, 0, keyWindow_->bounds().width(), h);
}

void Application::setIdleTimerDisabled(bool disabled) {
    if (disabled == idleTimerDisabled_) return;
    idleTimerDisabled_ = disabled;
    if (idleObserver_) idleObserver_(disabled);
}

void Application::setApplicationIconBadgeNumber(long n) {
    if (n < 0) n = 0;
    if (n == badge_) return;
    badge_ = n;
    if (badgeObserver_) badgeObserver_(n);
}

bool Application::canOpenURL(const std::string& url) const {
    return opener_.canOpen ? opener_.canOpen(url) : false;
}

void Application::openURL(const std::string& url, std::function<void(bool)> completion) {
    if (completion && opener_.openTelling) {
        auto told = [completion](bool ok) { sys::RunLoop::main().post([completion, ok] { completion(ok); }); };
        if (!opener_.openTelling(url, told)) told(false);
        return;
    }
    bool ok = opener_.open ? opener_.open(url) : false;
    if (completion) sys::RunLoop::main().post([completion, ok] { completion(ok); });
}

void Application::setApplicationState(State s) {
    if (s == state_) return;
    auto& nc = sys::NotificationCenter::defaultCenter();
    if (state_ == State::Active) {
        state_ = State::Inactive;
        if (auto d = delegate()) d->applicationWillResignActive();
        nc.post(willResignActiveNotification, this);
    }
    if (s == State::Background) {
        state_ = State::Background;
        if (auto d = delegate()) d->applicationDidEnterBackground();
        nc.post(didEnterBackgroundNotification, this);
        return;
    }
    if (state_ == State::Background) {
        state_ = State::Inactive;
        if (auto d = delegate()) d->applicationWillEnterForeground();
        nc.post(willEnterForegroundNotification, this);
    }
    state_ = s;
    if (s == State::Active) {
        if (auto d = delegate()) d->applicationDidBecomeActive();
        nc.post(didBecomeActiveNotification, this);
    }
}

bool Application::requestTermination() {
    if (!terminationRequest_) return false;
    auto handler = terminationRequest_;
    handler();
    return true;
}

void Application::reset() {
    windows_.clear();
    keyWindow_ = nullptr;
    statusBarHidden_ = false;
    statusBarStyle_ = StatusBarStyle::Default;
    idleTimerDisabled_ = false;
    badge_ = 0;
    opener_ = {};
    idleObserver_ = {};
    badgeObserver_ = {};
    terminationRequest_ = {};
    state_ = State::Active;
    delegate_.reset();
}

}  // namespace ui
