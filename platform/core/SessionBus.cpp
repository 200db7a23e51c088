#include "platform/core/SessionBus.h"

#include <gio/gio.h>

#include <algorithm>
#include <cstdlib>
#include <sys/stat.h>

namespace sys {

namespace {

// One connect under way. Its report comes on a context of the connect's own;
// one not waited for to its end closes what it made and frees itself.
struct PendingConnect {
    GObject* connection = nullptr;
    bool ok = false;
    bool done = false;
    bool abandoned = false;

    static void finished(GObject*, GAsyncResult* result, gpointer data) {
        auto* self = static_cast<PendingConnect*>(data);
        self->ok = g_async_initable_init_finish(G_ASYNC_INITABLE(self->connection), result, nullptr);
        if (self->abandoned) {
            if (self->ok) g_dbus_connection_close(G_DBUS_CONNECTION(self->connection), nullptr, nullptr, nullptr);
            g_object_unref(self->connection);
            delete self;
            return;
        }
        self->done = true;
    }
};

GSource* flagAfter(double seconds, bool* flag, GMainContext* context) {
    GSource* timer = g_timeout_source_new(guint(std::max(0.0, seconds) * 1000));
    g_source_set_callback(
        timer,
        [](gpointer data) -> gboolean {
            *static_cast<bool*>(data) = true;
            return G_SOURCE_REMOVE;
        },
        flag, nullptr);
    g_source_attach(timer, context);
    return timer;
}

void dropTimer(GSource* timer) {
    g_source_destroy(timer);
    g_source_unref(timer);
}

}  // namespace

std::optional<std::string> SessionBus::sessionAddress() {
    const char* env = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (env && *env) return std::string(env);
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || !*runtime) return std::nullopt;
    std::string socket = std::string(runtime) + "/bus";
    struct stat st {};
    if (::stat(socket.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) return std::nullopt;
    gchar* escaped = g_dbus_address_escape_value(socket.c_str());
    std::string address = std::string("unix:path=") + escaped;
    g_free(escaped);
    return address;
}

GDBusConnection* SessionBus::connect(const std::string& address, GCancellable* cancellable, double timeout) {
    std::string target = address;
    if (target.empty()) {
        const char* env = g_getenv("DBUS_SESSION_BUS_ADDRESS");
        if (!env || !*env) return nullptr;
        target = env;
    }
    // A connect waits for the bus's answers (authentication, Hello) with no
    // end of its own: it is made on a context of ours, given up on at the
    // deadline. The connection itself belongs to the caller's context (where
    // it tells that it was closed).
    auto* pending = new PendingConnect;
    pending->connection = G_OBJECT(g_object_new(
        G_TYPE_DBUS_CONNECTION, "address", target.c_str(), "flags",
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                             G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr));
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    GCancellable* cancel = g_cancellable_new();
    const gulong linked =
        cancellable ? g_cancellable_connect(cancellable, G_CALLBACK(+[](GCancellable*, gpointer ours) {
                                                g_cancellable_cancel(G_CANCELLABLE(ours));
                                            }),
                                            g_object_ref(cancel), g_object_unref)
                    : 0;
    g_async_initable_init_async(G_ASYNC_INITABLE(pending->connection), G_PRIORITY_DEFAULT, cancel,
                                &PendingConnect::finished, pending);
    bool late = false;
    GSource* deadline = flagAfter(timeout, &late, context);
    while (!pending->done && !late) g_main_context_iteration(context, TRUE);
    dropTimer(deadline);
    if (!pending->done) {
        // Cancelled, a connect ends at once; one that does not is left to end by itself.
        g_cancellable_cancel(cancel);
        bool given = false;
        GSource* grace = flagAfter(0.2, &given, context);
        while (!pending->done && !given) g_main_context_iteration(context, TRUE);
        dropTimer(grace);
    }
    GDBusConnection* bus = nullptr;
    if (pending->done) {
        if (pending->ok) bus = G_DBUS_CONNECTION(pending->connection);
        else g_object_unref(pending->connection);
        delete pending;
    } else {
        pending->abandoned = true;
    }
    if (linked) g_cancellable_disconnect(cancellable, linked);
    g_object_unref(cancel);
    g_main_context_pop_thread_default(context);
    g_main_context_unref(context);
    if (bus) g_dbus_connection_set_exit_on_close(bus, FALSE);
    return bus;
}

bool SessionBus::answers(const std::string& address, double timeout) {
    GDBusConnection* bus = connect(address, nullptr, timeout);
    if (!bus) return false;
    g_dbus_connection_close_sync(bus, nullptr, nullptr);
    g_object_unref(bus);
    return true;
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
