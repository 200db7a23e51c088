#include "platform/core/LauncherEntry.h"

#include "platform/core/SessionBus.h"

#include <gio/gio.h>

namespace sys {

LauncherEntry::LauncherEntry(std::string busAddress, std::string appUri)
    : busAddress_(std::move(busAddress)), appUri_(std::move(appUri)) {}

LauncherEntry::~LauncherEntry() {
    // A number left on the icon would outlive the program.
    if (count_ > 0) setCount(0);
    if (connection_) {
        g_dbus_connection_flush_sync(connection_, nullptr, nullptr);
        g_dbus_connection_close_sync(connection_, nullptr, nullptr);
        g_object_unref(connection_);
    }
}

GDBusConnection* LauncherEntry::connection() {
    if (connection_ || connectFailed_) return connection_;
    connection_ = SessionBus::connect(busAddress_);
    connectFailed_ = connection_ == nullptr;
    return connection_;
}

bool LauncherEntry::setCount(long count) {
    if (count < 0) count = 0;
    if (count == count_) return false;
    GDBusConnection* bus = connection();
    if (!bus) return false;
    GVariantBuilder properties;
    g_variant_builder_init(&properties, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&properties, "{sv}", "count", g_variant_new_int64(count));
    g_variant_builder_add(&properties, "{sv}", "count-visible", g_variant_new_boolean(count > 0));
    GError* error = nullptr;
    const bool sent = g_dbus_connection_emit_signal(bus, nullptr, kPath, kInterface, "Update",
                                                    g_variant_new("(sa{sv})", appUri_.c_str(), &properties), &error);
    g_clear_error(&error);
    if (!sent) return false;
    count_ = count;
    return true;
}

}  // namespace sys
