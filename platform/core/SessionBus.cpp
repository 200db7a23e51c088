#include "platform/core/SessionBus.h"

#include <gio/gio.h>

namespace sys {

GDBusConnection* SessionBus::connect(const std::string& address, GCancellable* cancellable) {
    std::string target = address;
    if (target.empty()) {
        const char* env = g_getenv("DBUS_SESSION_BUS_ADDRESS");
        if (!env || !*env) return nullptr;
        target = env;
    }
    GError* error = nullptr;
    GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
        target.c_str(),
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                             G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, cancellable, &error);
    g_clear_error(&error);
    if (bus) g_dbus_connection_set_exit_on_close(bus, FALSE);
    return bus;
}

SessionBus::~SessionBus() {
    if (!connection_) return;
    g_dbus_connection_flush_sync(connection_, nullptr, nullptr);
    g_dbus_connection_close_sync(connection_, nullptr, nullptr);
    g_object_unref(connection_);
}

GDBusConnection* SessionBus::connection() {
    if (connection_ || connectFailed_) return connection_;
    connection_ = connect(address_);
    connectFailed_ = connection_ == nullptr;
    return connection_;
}

}  // namespace sys
