#include "tests/support/BusServiceThread.h"

#include "platform/core/SessionBus.h"

#include <gio/gio.h>

namespace test {

BusServiceThread::BusServiceThread(const std::string& busAddress, std::function<void(GDBusConnection*)> setUp) {
    thread_ = std::thread([this, busAddress, setUp = std::move(setUp)] {
        GMainContext* context = g_main_context_new();
        g_main_context_push_thread_default(context);
        GMainLoop* loop = g_main_loop_new(context, FALSE);
        GDBusConnection* bus = sys::SessionBus::connect(busAddress);
        setUp(bus);
        loop_ = loop;
        // Told from inside the running loop: a quit from the destructor can
        // never come before the loop runs (and be lost).
        GSource* started = g_idle_source_new();
        g_source_set_callback(
            started,
            [](gpointer self) -> gboolean {
                auto* me = static_cast<BusServiceThread*>(self);
                {
                    std::lock_guard<std::mutex> lock(me->mutex_);
                    me->started_ = true;
                }
                me->startedCv_.notify_all();
                return G_SOURCE_REMOVE;
            },
            this, nullptr);
        g_source_attach(started, context);
        g_source_unref(started);
        g_main_loop_run(loop);
        if (bus) {
            g_dbus_connection_close_sync(bus, nullptr, nullptr);
            g_object_unref(bus);
        }
        g_main_loop_unref(loop);
        g_main_context_pop_thread_default(context);
        g_main_context_unref(context);
    });
    std::unique_lock<std::mutex> lock(mutex_);
    startedCv_.wait(lock, [&] { return started_; });
}

BusServiceThread::~BusServiceThread() {
    g_main_loop_quit(loop_);
    thread_.join();
}

bool BusServiceThread::serve(GDBusConnection* bus, const char* xml, const char* path, const char* name,
                             const GDBusInterfaceVTable* vtable, void* self) {
    if (!bus) return false;
    GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(xml, nullptr);
    if (!info) return false;
    g_dbus_connection_register_object(bus, path, info->interfaces[0], vtable, self, nullptr, nullptr);
    g_dbus_node_info_unref(info);
    return requestName(bus, name);
}

bool BusServiceThread::requestName(GDBusConnection* bus, const char* name) {
    GVariant* reply = g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus", "RequestName",
                                                  g_variant_new("(su)", name, 4u /* do not queue */),
                                                  G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    guint32 result = 0;
    if (reply) {
        g_variant_get(reply, "(u)", &result);
        g_variant_unref(reply);
    }
    return result == 1;  // the primary owner
}

}  // namespace test
