#include "tests/support/FakePortal.h"

#include "tests/support/BusServiceThread.h"

#include <gio/gio.h>

namespace test {

namespace {

const char* kPortalXml =
    "<node><interface name='org.freedesktop.portal.FileChooser'>"
    "<method name='OpenFile'><arg type='s' direction='in'/><arg type='s' direction='in'/>"
    "<arg type='a{sv}' direction='in'/><arg type='o' direction='out'/></method>"
    "</interface></node>";
const char* kSettingsXml =
    "<node><interface name='org.freedesktop.portal.Settings'>"
    "<method name='Read'><arg type='s' direction='in'/><arg type='s' direction='in'/>"
    "<arg type='v' direction='out'/></method>"
    "<signal name='SettingChanged'><arg type='s'/><arg type='s'/><arg type='v'/></signal>"
    "</interface></node>";
const char* kRequestXml =
    "<node><interface name='org.freedesktop.portal.Request'><method name='Close'/></interface></node>";

std::string senderPart(const char* sender) {
    std::string s = sender ? sender : "";
    if (!s.empty() && s[0] == ':') s.erase(0, 1);
    for (char& c : s)
        if (c == '.') c = '_';
    return s;
}

}  // namespace

FakePortal::FakePortal(const std::string& busAddress, bool fileChooser) {
    service_ = std::make_unique<BusServiceThread>(busAddress, [this, fileChooser](GDBusConnection* bus) {
        static const GDBusInterfaceVTable vtable = {&FakePortal::onCall, nullptr, nullptr, {}};
        if (!bus) return;
        bus_ = bus;
        GDBusNodeInfo* settings = g_dbus_node_info_new_for_xml(kSettingsXml, nullptr);
        g_dbus_connection_register_object(bus, "/org/freedesktop/portal/desktop", settings->interfaces[0], &vtable,
                                          this, nullptr, nullptr);
        g_dbus_node_info_unref(settings);
        owned_ = fileChooser ? BusServiceThread::serve(bus, kPortalXml, "/org/freedesktop/portal/desktop",
                                                       "org.freedesktop.portal.Desktop", &vtable, this)
                             : BusServiceThread::requestName(bus, "org.freedesktop.portal.Desktop");
    });
}

FakePortal::~FakePortal() { service_.reset(); }

void FakePortal::answer(Answer how, std::vector<std::string> uris) {
    std::lock_guard<std::mutex> lock(mutex_);
    answer_ = how;
    uris_ = std::move(uris);
}

bool FakePortal::set(std::optional<uint32_t>& setting, std::optional<uint32_t> value) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (setting == value) return false;
    setting = value;
    return value.has_value();
}

void FakePortal::setColorScheme(std::optional<uint32_t> scheme) {
    if (set(scheme_, scheme)) announce("org.freedesktop.appearance", "color-scheme", *scheme);
}

void FakePortal::setContrast(std::optional<uint32_t> contrast) {
    if (set(contrast_, contrast)) announce("org.freedesktop.appearance", "contrast", *contrast);
}

void FakePortal::announce(const std::string& space, const std::string& key, uint32_t value) {
    GDBusConnection* bus = bus_;
    if (!bus) return;
    g_dbus_connection_emit_signal(bus, nullptr, "/org/freedesktop/portal/desktop", "org.freedesktop.portal.Settings",
                                  "SettingChanged",
                                  g_variant_new("(ssv)", space.c_str(), key.c_str(), g_variant_new_uint32(value)),
                                  nullptr);
    g_dbus_connection_flush_sync(bus, nullptr, nullptr);
}

std::vector<FakePortal::Call> FakePortal::calls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

std::vector<std::string> FakePortal::closes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return closes_;
}

void FakePortal::onCall(GDBusConnection* bus, const char* sender, const char* path, const char*, const char* method,
                        GVariant* parameters, GDBusMethodInvocation* invocation, void* self) {
    auto* fake = static_cast<FakePortal*>(self);
    if (g_strcmp0(method, "Close") == 0) {
        {
            std::lock_guard<std::mutex> lock(fake->mutex_);
            fake->closes_.push_back(path);
        }
        g_dbus_method_invocation_return_value(invocation, nullptr);
        return;
    }
    if (g_strcmp0(method, "Read") == 0) {
        const gchar* space = nullptr;
        const gchar* key = nullptr;
        g_variant_get(parameters, "(&s&s)", &space, &key);
        const bool appearance = g_strcmp0(space, "org.freedesktop.appearance") == 0;
        if (appearance && g_strcmp0(key, "color-scheme") == 0) ++fake->reads_;
        std::optional<uint32_t> value;
        {
            std::lock_guard<std::mutex> lock(fake->mutex_);
            if (appearance && g_strcmp0(key, "color-scheme") == 0) value = fake->scheme_;
            if (appearance && g_strcmp0(key, "contrast") == 0) value = fake->contrast_;
        }
        if (!value) {
            g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.portal.Error.NotFound",
                                                       "Requested setting not found");
            return;
        }
        g_dbus_method_invocation_return_value(
            invocation, g_variant_new("(v)", g_variant_new_variant(g_variant_new_uint32(*value))));
        return;
    }
    if (g_strcmp0(method, "OpenFile") != 0) {
        g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.UnknownMethod", "no");
        return;
    }
    Call call;
    const gchar* parent = nullptr;
    const gchar* title = nullptr;
    GVariant* options = nullptr;
    g_variant_get(parameters, "(&s&s@a{sv})", &parent, &title, &options);
    call.parentWindow = parent;
    call.title = title;
    const gchar* token = nullptr;
    if (g_variant_lookup(options, "handle_token", "&s", &token)) call.token = token;
    gboolean multiple = TRUE;
    if (g_variant_lookup(options, "multiple", "b", &multiple)) call.multiple = multiple;
    if (GVariant* filters = g_variant_lookup_value(options, "filters", G_VARIANT_TYPE("a(sa(us))"))) {
        if (g_variant_n_children(filters) > 0) {
            GVariant* first = g_variant_get_child_value(filters, 0);
            GVariant* kinds = g_variant_get_child_value(first, 1);
            for (gsize i = 0; i < g_variant_n_children(kinds); ++i) {
                guint32 kind = 0;
                const gchar* text = nullptr;
                g_variant_get_child(kinds, i, "(u&s)", &kind, &text);
                call.filter.emplace_back(kind, text);
            }
            g_variant_unref(kinds);
            g_variant_unref(first);
        }
        g_variant_unref(filters);
    }
    g_variant_unref(options);
    const std::string handle = "/org/freedesktop/portal/desktop/request/" + senderPart(sender) + "/" +
                               (call.token.empty() ? std::string("t") : call.token);
    Answer how;
    std::vector<std::string> uris;
    {
        std::lock_guard<std::mutex> lock(fake->mutex_);
        fake->calls_.push_back(call);
        how = fake->answer_;
        uris = fake->uris_;
    }
    GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(kRequestXml, nullptr);
    static const GDBusInterfaceVTable vtable = {&FakePortal::onCall, nullptr, nullptr, {}};
    g_dbus_connection_register_object(bus, handle.c_str(), info->interfaces[0], &vtable, fake, nullptr, nullptr);
    g_dbus_node_info_unref(info);

    auto respond = [&](guint32 code) {
        GVariantBuilder results;
        g_variant_builder_init(&results, G_VARIANT_TYPE_VARDICT);
        if (code == 0) {
            std::vector<const gchar*> list;
            for (const auto& u : uris) list.push_back(u.c_str());
            g_variant_builder_add(&results, "{sv}", "uris", g_variant_new_strv(list.data(), gssize(list.size())));
        }
        g_dbus_connection_emit_signal(bus, sender, handle.c_str(), "org.freedesktop.portal.Request", "Response",
                                      g_variant_new("(ua{sv})", code, &results), nullptr);
    };
    if (how == Answer::PickBeforeReply) respond(0);
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", handle.c_str()));
    switch (how) {
    case Answer::Pick: respond(0); break;
    case Answer::Cancel: respond(1); break;
    case Answer::Fail: respond(2); break;
    case Answer::Leave: {
        GVariant* reply = g_dbus_connection_call_sync(
            bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "ReleaseName",
            g_variant_new("(s)", "org.freedesktop.portal.Desktop"), nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr,
            nullptr);
        if (reply) g_variant_unref(reply);
        fake->owned_ = false;
        break;
    }
    case Answer::PickBeforeReply:
    case Answer::Never: break;
    }
}

}  // namespace test
