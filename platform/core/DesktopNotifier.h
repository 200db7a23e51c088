#pragma once

#include "platform/core/SessionBus.h"

#include <cstdint>
#include <optional>
#include <string>

namespace sys {

// Shows a notice in the desktop's notification area (a finished download):
// org.freedesktop.Notifications' Notify on the session bus, under the
// program's name and icon. Each notice is a new one; none replaces another.
// Where there is no session bus, or nothing answers for that service,
// notify() says so and nothing else happens. Each of its two calls (the
// service's capabilities, the notice) waits at most kTimeout. Where the
// service reads markup, the texts are sent escaped, so they show as given.
// Main thread only.
class DesktopNotifier {
public:
    static constexpr double kTimeout = 1.0;
    static constexpr const char* kService = "org.freedesktop.Notifications";
    static constexpr const char* kPath = "/org/freedesktop/Notifications";

    // `busAddress` empty: the session bus of the environment.
    explicit DesktopNotifier(std::string busAddress = {}, std::string applicationName = "Leafbright",
                             std::string iconName = "leafbright");
    DesktopNotifier(const DesktopNotifier&) = delete;
    DesktopNotifier& operator=(const DesktopNotifier&) = delete;

    // The notice's id given by the service; nothing when none took it.
    std::optional<uint32_t> notify(const std::string& summary, const std::string& body = {});

private:
    SessionBus bus_;
    std::string applicationName_;
    std::string iconName_;
};

}  // namespace sys
