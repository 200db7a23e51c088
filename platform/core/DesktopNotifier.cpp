#include "platform/core/DesktopNotifier.h"

#include <gio/gio.h>

namespace sys {

namespace {
constexpr int kTimeoutMs = int(DesktopNotifier::kTimeout * 1000);

// Whether the service reads markup in what it shows (its "body-markup"
// capability); one that does not say is taken to read it.
bool takesMarkup(GDBusConnection* bus) {
    GVariant* reply = g_dbus_connection_call_sync(bus, DesktopNotifier::kService, DesktopNotifier::kPath,
                                                  DesktopNotifier::kService, "GetCapabilities", nullptr,
                                                  G_VARIANT_TYPE("(as)"), G_DBUS_CALL_FLAGS_NO_AUTO_START,
                                                  kTimeoutMs, nullptr, nullptr);
    if (!reply) return true;
    bool markup = false;
    GVariantIter* caps = nullptr;
    const gchar* cap = nullptr;
    g_variant_get(reply, "(as)", &caps);
    while (g_variant_iter_loop(caps, "&s", &cap))
        if (g_strcmp0(cap, "body-markup") == 0) markup = true;
    g_variant_iter_free(caps);
    g_variant_unref(reply);
    return markup;
}

// The text as the bus carries it (UTF-8, bad bytes as U+FFFD), escaped
// where the service reads markup.
std::string shownText(const std::string& text, bool markup) {
    gchar* valid = g_utf8_make_valid(text.c_str(), gssize(text.size()));
    gchar* escaped = markup ? g_markup_escape_text(valid, -1) : nullptr;
    std::string out = escaped ? escaped : valid;
    g_free(escaped);
    g_free(valid);
    return out;
}
}  // namespace

DesktopNotifier::DesktopNotifier(std::string busAddress, std::string applicationName, std::string iconName)
    : bus_(std::move(busAddress)), applicationName_(std::move(applicationName)), iconName_(std::move(iconName)) {}

std::optional<uint32_t> DesktopNotifier::notify(const std::string& summary, const std::string& body) {
    GDBusConnection* bus = bus_.connection();
    if (!bus) return std::nullopt;
    // Names in a notice are the files' and servers': never read as markup.
    const bool markup = takesMarkup(bus);
    const std::string shownSummary = shownText(summary, markup);
    const std::string shownBody = shownText(body, markup);
    GVariantBuilder actions;
    g_variant_builder_init(&actions, G_VARIANT_TYPE("as"));
    GVariantBuilder hints;
    g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
    // The desktop entry the installer writes: the notice is filed under it.
    g_variant_builder_add(&hints, "{sv}", "desktop-entry", g_variant_new_string("leafbright"));
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        bus, kService, kPath, kService, "Notify",
        g_variant_new("(susssasa{sv}i)", applicationName_.c_str(), 0u, iconName_.c_str(), shownSummary.c_str(),
                      shownBody.c_str(), &actions, &hints, -1),
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
