#include "platform/core/ScreenSaverInhibitor.h"

#include <gio/gio.h>

namespace sys {

namespace {
constexpr int kTimeoutMs = int(ScreenSaverInhibitor::kTimeout * 1000);
}

ScreenSaverInhibitor::ScreenSaverInhibitor(std::string busAddress, std::string applicationName)
    : bus_(std::move(busAddress)), applicationName_(std::move(applicationName)) {}

ScreenSaverInhibitor::~ScreenSaverInhibitor() {
    setInhibited(false);
}

bool ScreenSaverInhibitor::setInhibited(bool on, const std::string& reason) {
    if (on == cookie_.has_value()) return on;
    GDBusConnection* bus = bus_.connection();
    if (!bus) return false;
    GError* error = nullptr;
    if (!on) {
        GVariant* reply = g_dbus_connection_call_sync(bus, kService, kPath, kService, "UnInhibit",
                                                      g_variant_new("(u)", *cookie_), nullptr,
                                                      G_DBUS_CALL_FLAGS_NO_AUTO_START, kTimeoutMs, nullptr, &error);
        if (reply) g_variant_unref(reply);
        g_clear_error(&error);
        // Gone either way: a service that went away took its holds with it.
        cookie_.reset();
        return false;
    }
    GVariant* reply = g_dbus_connection_call_sync(
        bus, kService, kPath, kService, "Inhibit", g_variant_new("(ss)", applicationName_.c_str(), reason.c_str()),
        G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NO_AUTO_START, kTimeoutMs, nullptr, &error);
    if (!reply) {
        g_clear_error(&error);
        return false;
    }
    guint32 cookie = 0;
    g_variant_get(reply, "(u)", &cookie);
    g_variant_unref(reply);
    cookie_ = cookie;
    return true;
}

}  // namespace sys
