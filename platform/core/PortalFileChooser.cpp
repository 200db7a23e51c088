#include "platform/core/PortalFileChooser.h"

#include "platform/core/Clock.h"
#include "platform/core/RunLoop.h"
#include "platform/core/SessionBus.h"

#include <gio/gio.h>

#include <atomic>
#include <mutex>

namespace sys {

namespace {

std::shared_ptr<PortalFileChooser>& installedChooser() {
    static std::shared_ptr<PortalFileChooser> chooser;
    return chooser;
}

// What the request object said, filled by the signal handlers on the worker.
struct Answer {
    bool done = false;
    uint32_t response = 2;
    std::vector<std::string> uris;
};

void onResponse(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* parameters,
                gpointer data) {
    auto* answer = static_cast<Answer*>(data);
    if (answer->done || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ua{sv})"))) return;
    GVariant* results = nullptr;
    guint32 response = 2;
    g_variant_get(parameters, "(u@a{sv})", &response, &results);
    answer->response = response;
    if (GVariant* uris = g_variant_lookup_value(results, "uris", G_VARIANT_TYPE_STRING_ARRAY)) {
        gsize n = 0;
        const gchar** list = g_variant_get_strv(uris, &n);
        for (gsize i = 0; i < n; ++i) answer->uris.emplace_back(list[i]);
        g_free(list);
        g_variant_unref(uris);
    }
    g_variant_unref(results);
    answer->done = true;
}

// The portal left the bus without answering: nobody will.
void onOwnerChanged(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* parameters,
                    gpointer data) {
    auto* answer = static_cast<Answer*>(data);
    const gchar* name = nullptr;
    const gchar* oldOwner = nullptr;
    const gchar* newOwner = nullptr;
    g_variant_get(parameters, "(&s&s&s)", &name, &oldOwner, &newOwner);
    if (answer->done || !newOwner || *newOwner) return;
    answer->response = 2;
    answer->done = true;
}

void onClosed(GDBusConnection*, gboolean, GError*, gpointer data) {
    auto* answer = static_cast<Answer*>(data);
    if (answer->done) return;
    answer->response = 2;
    answer->done = true;
}

GVariant* filterVariant(const PortalFileChooser::Filter& filter) {
    GVariantBuilder kinds;
    g_variant_builder_init(&kinds, G_VARIANT_TYPE("a(us)"));
    for (const auto& mime : filter.mimeTypes) g_variant_builder_add(&kinds, "(us)", 1u, mime.c_str());
    for (const auto& pattern : filter.patterns) g_variant_builder_add(&kinds, "(us)", 0u, pattern.c_str());
    return g_variant_new("(s@a(us))", filter.name.c_str(), g_variant_builder_end(&kinds));
}


}  // namespace

// Shared by the owner (main thread) and the worker: how to wake and stop it.
struct PortalFileChooser::Question {
    std::mutex mutex;
    GMainContext* context = nullptr;  // the worker's, while it waits
    GCancellable* cancellable = g_cancellable_new();
    std::atomic<bool> cancelled{false};

    ~Question() { g_object_unref(cancellable); }
    void cancel() {
        cancelled = true;
        g_cancellable_cancel(cancellable);
        std::lock_guard<std::mutex> lock(mutex);
        if (context) g_main_context_wakeup(context);
    }
};

PortalFileChooser::PortalFileChooser(std::string busAddress) : busAddress_(std::move(busAddress)) {}

PortalFileChooser::~PortalFileChooser() {
    cancel();
    if (worker_.joinable()) worker_.join();
}

std::string PortalFileChooser::requestPath(const std::string& uniqueName, const std::string& token) {
    std::string sender = uniqueName;
    if (!sender.empty() && sender[0] == ':') sender.erase(0, 1);
    for (char& c : sender)
        if (c == '.') c = '_';
    return std::string(kPath) + "/request/" + sender + "/" + token;
}

std::vector<std::string> PortalFileChooser::localPaths(const std::vector<std::string>& uris) {
    std::vector<std::string> paths;
    for (const auto& uri : uris) {
        // Only file URIs without a host other than this one name local files.
        gchar* hostname = nullptr;
        gchar* path = g_filename_from_uri(uri.c_str(), &hostname, nullptr);
        if (path && (!hostname || g_strcmp0(hostname, "localhost") == 0) && g_path_is_absolute(path))
            paths.emplace_back(path);
        g_free(path);
        g_free(hostname);
    }
    return paths;
}

bool PortalFileChooser::isOpen() const { return question_ != nullptr; }

void PortalFileChooser::cancel() {
    if (!question_) return;
    question_->cancel();
    question_.reset();
}

void PortalFileChooser::finish() {
    question_.reset();
    if (worker_.joinable()) worker_.join();
}

bool PortalFileChooser::openFile(const std::string& title, const Filter& filter, const std::string& parentWindow,
                                 Completion completion) {
    if (question_) return false;
    // A cancelled question's worker may still be closing its dialog.
    if (worker_.joinable()) worker_.join();
    auto question = std::make_shared<Question>();
    question_ = question;
    std::weak_ptr<bool> alive = alive_;
    auto deliver = [this, alive, question, completion = std::move(completion)](Outcome outcome,
                                                                              std::vector<std::string> paths) {
        RunLoop::main().post(
            [this, alive, question, completion, outcome, paths] {
                if (!alive.lock() || question->cancelled) return;
                finish();
                if (completion) completion(outcome, paths);
            },
            alive);
    };
    static std::atomic<unsigned> counter{0};
    const std::string token = "leafbright" + std::to_string(++counter);
    worker_ = Thread(
        [address = busAddress_, title, filter, parentWindow, question, token,
         deliver = std::move(deliver)](const std::atomic<bool>&) {
            GMainContext* context = g_main_context_new();
            g_main_context_push_thread_default(context);
            {
                std::lock_guard<std::mutex> lock(question->mutex);
                question->context = context;
            }
            Outcome outcome = Outcome::Unavailable;
            std::vector<std::string> paths;
            if (GDBusConnection* bus = question->cancelled ? nullptr : SessionBus::connect(address, question->cancellable)) {
                Answer answer;
                const gchar* unique = g_dbus_connection_get_unique_name(bus);
                std::string expected = requestPath(unique ? unique : "", token);
                // Listening before asking, so that a quick answer is not missed.
                guint response = g_dbus_connection_signal_subscribe(
                    bus, nullptr, kRequestInterface, "Response", expected.c_str(), nullptr,
                    G_DBUS_SIGNAL_FLAGS_NONE, onResponse, &answer, nullptr);
                guint owner = g_dbus_connection_signal_subscribe(
                    bus, "org.freedesktop.DBus", "org.freedesktop.DBus", "NameOwnerChanged", "/org/freedesktop/DBus",
                    kService, G_DBUS_SIGNAL_FLAGS_NONE, onOwnerChanged, &answer, nullptr);
                gulong closed = g_signal_connect(bus, "closed", G_CALLBACK(onClosed), &answer);

                GVariantBuilder options;
                g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
                g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
                g_variant_builder_add(&options, "{sv}", "modal", g_variant_new_boolean(TRUE));
                g_variant_builder_add(&options, "{sv}", "multiple", g_variant_new_boolean(FALSE));
                GVariant* one = filterVariant(filter);
                g_variant_builder_add(&options, "{sv}", "filters",
                                      g_variant_new_array(G_VARIANT_TYPE("(sa(us))"), &one, 1));
                g_variant_builder_add(&options, "{sv}", "current_filter", filterVariant(filter));
                GError* error = nullptr;
                GVariant* reply = g_dbus_connection_call_sync(
                    bus, kService, kPath, kInterface, "OpenFile",
                    g_variant_new("(ss@a{sv})", parentWindow.c_str(), title.c_str(), g_variant_builder_end(&options)),
                    G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, int(kCallTimeout * 1000), question->cancellable,
                    &error);
                g_clear_error(&error);
                if (reply) {
                    const gchar* handle = nullptr;
                    g_variant_get(reply, "(&o)", &handle);
                    // Portals older than handle tokens make up their own path.
                    if (handle && expected != handle) {
                        g_dbus_connection_signal_unsubscribe(bus, response);
                        expected = handle;
                        response = g_dbus_connection_signal_subscribe(
                            bus, nullptr, kRequestInterface, "Response", expected.c_str(), nullptr,
                            G_DBUS_SIGNAL_FLAGS_NONE, onResponse, &answer, nullptr);
                    }
                    g_variant_unref(reply);
                    {
                        // The user takes their time: nobody waits for this thread meanwhile.
                        Clock::IdleScope idle;
                        while (!answer.done && !question->cancelled) g_main_context_iteration(context, TRUE);
                    }
                    if (answer.done) {
                        if (answer.response == 0) {
                            paths = localPaths(answer.uris);
                            outcome = paths.empty() ? Outcome::Cancelled : Outcome::Picked;
                        } else {
                            outcome = answer.response == 1 ? Outcome::Cancelled : Outcome::Unavailable;
                        }
                    } else {
                        // Given up on: the dialog goes too.
                        GVariant* closedReply =
                            g_dbus_connection_call_sync(bus, kService, expected.c_str(), kRequestInterface, "Close",
                                                        nullptr, nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START, 1000,
                                                        nullptr, nullptr);
                        if (closedReply) g_variant_unref(closedReply);
                    }
                }
                g_signal_handler_disconnect(bus, closed);
                g_dbus_connection_signal_unsubscribe(bus, response);
                g_dbus_connection_signal_unsubscribe(bus, owner);
                g_dbus_connection_close_sync(bus, nullptr, nullptr);
                g_object_unref(bus);
                // Handlers unsubscribed above may still have calls queued in
                // the context; they go with it, before `answer` does.
                while (g_main_context_iteration(context, FALSE)) {
                }
            }
            {
                std::lock_guard<std::mutex> lock(question->mutex);
                question->context = nullptr;
            }
            g_main_context_pop_thread_default(context);
            g_main_context_unref(context);
            if (!question->cancelled) deliver(outcome, std::move(paths));
        },
        "portal-file-chooser");
    return true;
}

void PortalFileChooser::install(std::shared_ptr<PortalFileChooser> chooser) { installedChooser() = std::move(chooser); }

std::shared_ptr<PortalFileChooser> PortalFileChooser::installed() { return installedChooser(); }

}  // namespace sys
