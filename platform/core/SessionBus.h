#pragma once

#include <string>

typedef struct _GDBusConnection GDBusConnection;
typedef struct _GCancellable GCancellable;

namespace sys {

// A private connection to the desktop's session bus, for the few desktop
// services the program asks (the screen saver, the file chooser portal).
class SessionBus {
public:
    // Connects to `address`, or when it is empty to the bus the environment
    // names (DBUS_SESSION_BUS_ADDRESS). Never launches a bus: without one the
    // answer is null, as it is when the bus cannot be reached. The connection
    // never ends the process when the bus goes away. The caller owns it.
    static GDBusConnection* connect(const std::string& address, GCancellable* cancellable = nullptr);
};

}  // namespace sys
