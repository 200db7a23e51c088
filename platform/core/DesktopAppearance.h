#pragma once

#include "platform/core/Thread.h"

#include <functional>
#include <memory>
#include <string>

namespace sys {

// The desktop's appearance preferences, as the XDG desktop portal's
// Settings give them in org.freedesktop.appearance: light or dark
// (color-scheme: 1 prefers dark; 0, no preference, and 2 prefer light) and
// the contrast (contrast: 1 asks for higher contrast; 0 is none asked).
// Both are read at start and followed through the portal's SettingChanged
// signal. A worker thread of its own, with its own GLib main context, talks
// to the session bus: nothing on the main thread waits for the bus beyond
// the bounded first wait, and the object goes at once whatever the bus
// does. Without a session bus or a portal (or a setting the portal does
// not have) the preference is light, at the usual contrast.
class DesktopAppearance {
public:
    static constexpr const char* kService = "org.freedesktop.portal.Desktop";
    static constexpr const char* kPath = "/org/freedesktop/portal/desktop";
    static constexpr const char* kInterface = "org.freedesktop.portal.Settings";
    static constexpr const char* kNamespace = "org.freedesktop.appearance";
    static constexpr const char* kColorSchemeKey = "color-scheme";
    static constexpr const char* kContrastKey = "contrast";
    struct Preferences {
        bool dark = false;          // color-scheme 1
        bool highContrast = false;  // contrast 1
        bool operator==(const Preferences&) const = default;
    };

    // How long the portal may take to answer the first reads on the worker
    // (it may have to be started first).
    static constexpr double kReadTimeout = 10.0;

    // `busAddress` empty: the session bus of the environment.
    explicit DesktopAppearance(std::string busAddress = {});
    // Stops following; returns at once, also while the bus says nothing.
    ~DesktopAppearance();
    DesktopAppearance(const DesktopAppearance&) = delete;
    DesktopAppearance& operator=(const DesktopAppearance&) = delete;

    // Starts reading. `changed` runs on the main thread with each answer:
    // the first one (the portal's to both reads, or light at the usual
    // contrast where none answers) and each change the portal announces
    // after it (the same preferences may come again); never after this
    // object is gone.
    void start(std::function<void(Preferences)> changed);
    // Waits, at most `seconds` of real time, for the first answer; true
    // when it came.
    bool waitForFirstAnswer(double seconds);
    // The preferences known so far (light at the usual contrast until an
    // answer says otherwise).
    Preferences preferences() const;
    bool prefersDark() const { return preferences().dark; }
    bool prefersHighContrast() const { return preferences().highContrast; }

    struct State;

private:
    std::string busAddress_;
    std::shared_ptr<State> state_;
    Thread worker_;
};

}  // namespace sys
