#pragma once

#include "platform/core/SessionBus.h"

#include <cstdint>
#include <optional>
#include <string>

namespace sys {

// Keeps the desktop's screen saver away while something long runs (a
// download): org.freedesktop.ScreenSaver's Inhibit and UnInhibit on the
// session bus. Where there is no session bus, or nothing answers for that
// service, nothing happens. Each call waits at most kTimeout for the bus.
// Main thread only.
class ScreenSaverInhibitor {
public:
    static constexpr double kTimeout = 1.0;
    static constexpr const char* kService = "org.freedesktop.ScreenSaver";
    static constexpr const char* kPath = "/org/freedesktop/ScreenSaver";

    // `busAddress` empty: the session bus of the environment.
    explicit ScreenSaverInhibitor(std::string busAddress = {}, std::string applicationName = "Leafbright");
    ~ScreenSaverInhibitor();
    ScreenSaverInhibitor(const ScreenSaverInhibitor&) = delete;
    ScreenSaverInhibitor& operator=(const ScreenSaverInhibitor&) = delete;

    // Holds (true, with the reason shown by the desktop) or lets go (false).
    // True when the hold is in place afterwards.
    bool setInhibited(bool on, const std::string& reason = {});
    bool isInhibited() const { return cookie_.has_value(); }

private:
    SessionBus bus_;
    std::string applicationName_;
    std::optional<uint32_t> cookie_;
};

}  // namespace sys
