#include "platform/core/DesktopNotifier.h"

#include <gio/gio.h>

namespace sys {

namespace {
constexpr int kTimeoutMs = int(DesktopNotifier::kTimeout * 1000);
}

DesktopNotifier::DesktopNotifier(std::string busAddress, std::string applicationName, std::string iconName)
    : bus_(std::move(busAddress)), applicationName_(std::move(applicationName)), iconName_(std::move(iconName)) {}

std::optional<uint32_t> DesktopNotifier::notify(const std::string& summary, const std::string& body) {
    GDBusConnection* bus = bus_.connection();
    if (!bus) return std::nullopt;
    GVariantBuilder actions;
    g_variant_builder_init(&actions, G_VARIANT_TYPE("as"));
    GVariantBuilder hints;
    g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
    // The desktop entry the installer writes: the notice is filed under it.
    g_variant_builder_add(&hints, "{sv}", "desktop-entry", g_variant_new_string("leafbright"));
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        bus, kService, kPath, kService, "Notify",
        g_variant_new("(susssasa{sv}i)", applicationName_.c_str(), 0u, iconName_.c_str(), summary.c_str(),
                      body.c_str(), &actions, &hints, -1),
        G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NO_AUTO_START, kTimeoutMs, nullptr, &error);
    if (!reply) {
        g_clear_error(&error);
        return std::nullopt;
    }
    guint32 id = 0;
    g_variant_get(reply, "(u)", &id);
    g_variant_unref(reply);
    return id;
}

}  // namespace sys
