#pragma once

#include <optional>
#include <string>

typedef struct _GDBusConnection GDBusConnection;
typedef struct _GCancellable GCancellable;

namespace sys {

// A private connection to the desktop's session bus, for the few desktop
// services the program asks (the screen saver, notices, the launcher's
// count, the file chooser portal).
class SessionBus {
public:
    // The longest a connect waits for the bus to answer, in seconds: a bus
    // that does not answer (its daemon stopped) never holds the program up.
    static constexpr double kConnectTimeout = 2.5;

    // The session bus named by this process's environment: DBUS_SESSION_BUS_ADDRESS,
    // else the user bus socket in XDG_RUNTIME_DIR. Nothing when there is neither;
    // no bus is ever started for us.
    static std::optional<std::string> sessionAddress();

    // Connects to `address`, or when it is empty to the bus the environment
    // names (DBUS_SESSION_BUS_ADDRESS). Never launches a bus: without one the
    // answer is null, as it is when the bus cannot be reached or has not
    // answered within `timeout` seconds, or `cancellable` is cancelled. The
    // connection never ends the process when the bus goes away. The caller owns it.
    static GDBusConnection* connect(const std::string& address, GCancellable* cancellable = nullptr,
                                    double timeout = kConnectTimeout);
    // Whether the bus at `address` takes a connection within `timeout` seconds.
    static bool answers(const std::string& address, double timeout = kConnectTimeout);

    // `address` empty: the session bus of the environment.
    explicit SessionBus(std::string address = {}) : address_(std::move(address)) {}
    // Sends what is still queued, then closes.
    ~SessionBus();
    SessionBus(const SessionBus&) = delete;
    SessionBus& operator=(const SessionBus&) = delete;

    // The connection, made at the first call; null when there is no bus (a
    // failed connect is not tried again).
    GDBusConnection* connection();

private:
    std::string address_;
    GDBusConnection* connection_ = nullptr;
    bool connectFailed_ = false;
};

}  // namespace sys
