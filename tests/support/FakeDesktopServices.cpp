#include "tests/support/FakeDesktopServices.h"

#include "tests/support/BusServiceThread.h"

#include <gio/gio.h>

namespace test {

namespace {
const char* kNotificationsXml =
    "<node><interface name='org.freedesktop.Notifications'>"
    "<method name='Notify'><arg type='s' direction='in'/><arg type='u' direction='in'/>"
    "<arg type='s' direction='in'/><arg type='s' direction='in'/><arg type='s' direction='in'/>"
    "<arg type='as' direction='in'/><arg type='a{sv}' direction='in'/><arg type='i' direction='in'/>"
    "<arg type='u' direction='out'/></method>"
    "<method name='GetCapabilities'><arg type='as' direction='out'/></method>"
    "</interface></node>";
}

FakeDesktopServices::FakeDesktopServices(const std::string& busAddress, bool notifications,
                                         std::vector<std::string> capabilities)
    : capabilities_(std::move(capabilities)) {
    service_ = std::make_unique<BusServiceThread>(busAddress, [this, notifications](GDBusConnection* bus) {
        if (!bus) return;
        g_dbus_connection_signal_subscribe(bus, nullptr, "com.canonical.Unity.LauncherEntry", "Update", nullptr,
                                           nullptr, G_DBUS_SIGNAL_FLAGS_NONE, &FakeDesktopServices::onSignal, this,
                                           nullptr);
        static const GDBusInterfaceVTable vtable = {&FakeDesktopServices::onCall, nullptr, nullptr, {}};
        ready_ = !notifications || BusServiceThread::serve(bus, kNotificationsXml, "/org/freedesktop/Notifications",
                                                           "org.freedesktop.Notifications", &vtable, this);
        // The subscription is in place at the bus once a round trip has passed.
        GVariant* ping = g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                     "org.freedesktop.DBus", "GetId", nullptr, nullptr,
                                                     G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
        if (ping) g_variant_unref(ping);
    });
}

FakeDesktopServices::~FakeDesktopServices() {
    service_.reset();
    for (auto* call : unanswered_) g_object_unref(call);
}

std::vector<FakeDesktopServices::Notice> FakeDesktopServices::notices() {
    std::lock_guard<std::mutex> lock(mutex_);
    return notices_;
}

std::vector<FakeDesktopServices::LauncherUpdate> FakeDesktopServices::launcherUpdates() {
    std::lock_guard<std::mutex> lock(mutex_);
    return updates_;
}

void FakeDesktopServices::setRecorder(std::function<void(const std::string&)> recorder) {
    std::lock_guard<std::mutex> lock(mutex_);
    recorder_ = std::move(recorder);
}

void FakeDesktopServices::record(const std::string& line) {
    if (recorder_) recorder_(line);
}

void FakeDesktopServices::onCall(GDBusConnection*, const char*, const char*, const char*, const char* method,
                                 GVariant* parameters, GDBusMethodInvocation* invocation, void* self) {
    auto* me = static_cast<FakeDesktopServices*>(self);
    if (g_strcmp0(method, "GetCapabilities") == 0) {
        if (!me->answerCapabilities_) {
            std::lock_guard<std::mutex> lock(me->mutex_);
            me->unanswered_.push_back(G_DBUS_METHOD_INVOCATION(g_object_ref(invocation)));
            return;
        }
        GVariantBuilder caps;
        g_variant_builder_init(&caps, G_VARIANT_TYPE("as"));
        for (const auto& cap : me->capabilities_) g_variant_builder_add(&caps, "s", cap.c_str());
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(as)", &caps));
        return;
    }
    Notice n;
    const char *app = nullptr, *icon = nullptr, *summary = nullptr, *body = nullptr;
    GVariantIter* actions = nullptr;
    GVariant* hints = nullptr;
    g_variant_get(parameters, "(&su&s&s&sas@a{sv}i)", &app, &n.replaces, &icon, &summary, &body, &actions, &hints,
                  &n.timeout);
    n.application = app;
    n.icon = icon;
    n.summary = summary;
    n.body = body;
    const char* entry = nullptr;
    if (g_variant_lookup(hints, "desktop-entry", "&s", &entry)) n.desktopEntry = entry;
    g_variant_iter_free(actions);
    g_variant_unref(hints);
    uint32_t id;
    {
        std::lock_guard<std::mutex> lock(me->mutex_);
        id = me->nextId_++;
        me->notices_.push_back(n);
        me->record("notify " + n.application + " | " + n.icon + " | " + n.summary + " | " + n.body + " | " +
                   n.desktopEntry + " | " + std::to_string(n.replaces));
    }
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", id));
}

void FakeDesktopServices::onSignal(GDBusConnection*, const char*, const char*, const char*, const char*,
                                   GVariant* parameters, void* self) {
    auto* me = static_cast<FakeDesktopServices*>(self);
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(sa{sv})"))) return;
    LauncherUpdate u;
    const char* uri = nullptr;
    GVariant* properties = nullptr;
    g_variant_get(parameters, "(&s@a{sv})", &uri, &properties);
    u.appUri = uri;
    gint64 count = 0;
    if (g_variant_lookup(properties, "count", "x", &count)) {
        u.hasCount = true;
        u.count = count;
    }
    gboolean visible = FALSE;
    if (g_variant_lookup(properties, "count-visible", "b", &visible)) u.countVisible = visible;
    g_variant_unref(properties);
    std::lock_guard<std::mutex> lock(me->mutex_);
    me->updates_.push_back(u);
    me->record("launcher " + u.appUri + " count " + std::to_string(u.count) + (u.countVisible ? " shown" : " hidden"));
}

}  // namespace test
