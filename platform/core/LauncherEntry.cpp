#include "platform/core/LauncherEntry.h"

#include <gio/gio.h>

namespace sys {

LauncherEntry::LauncherEntry(std::string busAddress, std::string appUri)
    : bus_(std::move(busAddress)), appUri_(std::move(appUri)) {}

LauncherEntry::~LauncherEntry() {
    // A number left on the icon would outlive the program.
    if (count_ > 0) setCount(0);
}

bool LauncherEntry::setCount(long count) {
    if (count < 0) count = 0;
    if (count == count_) return false;
    GDBusConnection* bus = bus_.connection();
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
