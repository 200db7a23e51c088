#pragma once

#include "platform/core/Thread.h"

#include <functional>
#include <memory>
#include <string>

namespace sys {

// The desktop's light or dark preference, as the XDG desktop portal's
// Settings give it (org.freedesktop.appearance's color-scheme: 1 prefers
// dark; 0, no preference, and 2 prefer light), read at start and followed
// through the portal's SettingChanged signal. A worker thread of its own,
// with its own GLib main context, talks to the session bus: nothing on the
// main thread waits for the bus beyond the bounded first wait, and the
// object goes at once whatever the bus does. Without a session bus or a
// portal the preference is light.
class DesktopAppearance {
public:
    static constexpr const char* kService = "org.freedesktop.portal.Desktop";
    static constexpr const char* kPath = "/org/freedesktop/portal/desktop";
    static constexpr const char* kInterface = "org.freedesktop.portal.Settings";
    static constexpr const char* kNamespace = "org.freedesktop.appearance";
    static constexpr const char* kKey = "color-scheme";
    // How long the portal may take to answer the first read on the worker
    // (it may have to be started first).
    static constexpr double kReadTimeout = 10.0;

    // `busAddress` empty: the session bus of the environment.
    explicit DesktopAppearance(std::string busAddress = {});
    // Stops following; returns at once, also while the bus says nothing.
    ~DesktopAppearance();
    DesktopAppearance(const DesktopAppearance&) = delete;
    DesktopAppearance& operator=(const DesktopAppearance&) = delete;

    // Starts reading. `changed` runs on the main thread with each answer:
    // the first one (the portal's, or light where none answers) and each
    // change the portal announces after it (the same preference may come
    // again); never after this object is gone.
    void start(std::function<void(bool dark)> changed);
    // Waits, at most `seconds` of real time, for the first answer; true
    // when it came.
    bool waitForFirstAnswer(double seconds);
    // The preference known so far (light until an answer says dark).
    bool prefersDark() const;

    struct State;

private:
    std::string busAddress_;
    std::shared_ptr<State> state_;
    Thread worker_;
};

}  // namespace sys
