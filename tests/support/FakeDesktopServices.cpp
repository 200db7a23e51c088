#include "tests/support/FakeDesktopServices.h"

#include <gio/gio.h>

namespace test {

namespace {
const char* kNotificationsXml =
    "<node><interface name='org.freedesktop.Notifications'>"
    "<method name='Notify'><arg type='s' direction='in'/><arg type='u' direction='in'/>"
    "<arg type='s' direction='in'/><arg type='s' direction='in'/><arg type='s' direction='in'/>"
    "<arg type='as' direction='in'/><arg type='a{sv}' direction='in'/><arg type='i' direction='in'/>"
    "<arg type='u' direction='out'/></method>"
    "</interface></node>";
}

FakeDesktopServices::FakeDesktopServices(const std::string& busAddress, bool notifications) {
    thread_ = std::thread([this, busAddress, notifications] { run(busAddress, notifications); });
    std::unique_lock<std::mutex> lock(mutex_);
    startedCv_.wait(lock, [&] { return started_; });
}

FakeDesktopServices::~FakeDesktopServices() {
    if (loop_) g_main_loop_quit(loop_);
    thread_.join();
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

void FakeDesktopServices::run(const std::string& address, bool notifications) {
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    loop_ = g_main_loop_new(context, FALSE);
    GError* error = nullptr;
    bus_ = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                             G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    g_clear_error(&error);
    bool ready = false;
    if (bus_) {
        g_dbus_connection_signal_subscribe(bus_, nullptr, "com.canonical.Unity.LauncherEntry", "Update", nullptr,
                                           nullptr, G_DBUS_SIGNAL_FLAGS_NONE, &FakeDesktopServices::onSignal, this,
                                           nullptr);
        ready = true;
        if (notifications) {
            GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(kNotificationsXml, nullptr);
            static const GDBusInterfaceVTable vtable = {&FakeDesktopServices::onCall, nullptr, nullptr, {}};
            g_dbus_connection_register_object(bus_, "/org/freedesktop/Notifications", info->interfaces[0], &vtable,
                                              this, nullptr, nullptr);
            g_dbus_node_info_unref(info);
            GVariant* reply = g_dbus_connection_call_sync(
                bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
                g_variant_new("(su)", "org.freedesktop.Notifications", 4u), G_VARIANT_TYPE("(u)"),
                G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
            guint32 r = 0;
            if (reply) {
                g_variant_get(reply, "(u)", &r);
                g_variant_unref(reply);
            }
            ready = r == 1;
        }
        // The subscription is in place at the bus once a round trip has passed.
        GVariant* ping = g_dbus_connection_call_sync(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                     "org.freedesktop.DBus", "GetId", nullptr, nullptr,
                                                     G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
        if (ping) g_variant_unref(ping);
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ready_ = ready;
        started_ = true;
    }
    startedCv_.notify_all();
    g_main_loop_run(loop_);
    if (bus_) {
        g_dbus_connection_close_sync(bus_, nullptr, nullptr);
        g_object_unref(bus_);
    }
    g_main_loop_unref(loop_);
    g_main_context_pop_thread_default(context);
    g_main_context_unref(context);
}

void FakeDesktopServices::onCall(GDBusConnection*, const char*, const char*, const char*, const char*,
                                 GVariant* parameters, GDBusMethodInvocation* invocation, void* self) {
    auto* me = static_cast<FakeDesktopServices*>(self);
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
