#include "platform/core/DesktopAppearance.h"

#include "platform/core/Clock.h"
#include "platform/core/RunLoop.h"
#include "platform/core/SessionBus.h"

#include <gio/gio.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace sys {

// Shared by the owner (main thread) and the worker. The fields after
// `changed` are the worker's alone (its GLib callbacks run on it).
struct DesktopAppearance::State {
    std::mutex mutex;
    std::condition_variable answeredCv;
    bool answered = false;
    bool dark = false;
    GMainContext* context = nullptr;  // the worker's, while it runs
    GCancellable* cancellable = g_cancellable_new();
    std::atomic<bool> cancelled{false};
    // Posts the preference to the main thread (set before the worker starts).
    std::function<void(bool dark)> deliver;

    bool firstDone = false;
    bool finished = false;
    GDBusConnection* bus = nullptr;
    guint subscription = 0;

    ~State() { g_object_unref(cancellable); }
    void cancel() {
        cancelled = true;
        g_cancellable_cancel(cancellable);
        std::lock_guard<std::mutex> lock(mutex);
        if (context) g_main_context_wakeup(context);
    }
    // On the worker: a preference learned (the first answer, or a change).
    void report(bool isDark) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            answered = true;
            dark = isDark;
        }
        answeredCv.notify_all();
        if (!cancelled) deliver(isDark);
    }
};

namespace {

using StateRef = std::shared_ptr<DesktopAppearance::State>;

// A value as the portal gives it, wrapped in one variant (ReadOne, the
// signal) or two (Read): 1 is "prefer dark".
bool schemeIsDark(GVariant* value) {
    GVariant* v = g_variant_ref(value);
    while (g_variant_is_of_type(v, G_VARIANT_TYPE_VARIANT)) {
        GVariant* inner = g_variant_get_variant(v);
        g_variant_unref(v);
        v = inner;
    }
    const bool dark = g_variant_is_of_type(v, G_VARIANT_TYPE_UINT32) && g_variant_get_uint32(v) == 1;
    g_variant_unref(v);
    return dark;
}

void onSettingChanged(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* parameters,
                      gpointer data) {
    auto* state = static_cast<DesktopAppearance::State*>(data);
    if (state->finished || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ssv)"))) return;
    const gchar* space = nullptr;
    const gchar* key = nullptr;
    GVariant* value = nullptr;
    g_variant_get(parameters, "(&s&s@v)", &space, &key, &value);
    if (g_strcmp0(space, DesktopAppearance::kNamespace) == 0 && g_strcmp0(key, DesktopAppearance::kKey) == 0)
        state->report(schemeIsDark(value));
    g_variant_unref(value);
}

void onRead(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<StateRef> holder(static_cast<StateRef*>(data));
    DesktopAppearance::State& state = **holder;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
    bool dark = false;
    if (reply) {
        GVariant* value = nullptr;
        g_variant_get(reply, "(@v)", &value);
        dark = schemeIsDark(value);
        g_variant_unref(value);
        g_variant_unref(reply);
    }
    // No portal, no such setting, no answer in time: no preference.
    state.firstDone = true;
    if (!state.finished) state.report(dark);
}

// On the worker, connected: listens for changes, then asks for the setting.
void follow(const StateRef& state, GDBusConnection* bus) {
    state->bus = bus;
    // Listening before asking, so that a change meanwhile is not missed.
    state->subscription = g_dbus_connection_signal_subscribe(
        bus, DesktopAppearance::kService, DesktopAppearance::kInterface, "SettingChanged", DesktopAppearance::kPath,
        DesktopAppearance::kNamespace, G_DBUS_SIGNAL_FLAGS_NONE, onSettingChanged, state.get(), nullptr);
    // Read is there in every version of the portal (ReadOne only in newer ones).
    g_dbus_connection_call(bus, DesktopAppearance::kService, DesktopAppearance::kPath, DesktopAppearance::kInterface,
                           "Read", g_variant_new("(ss)", DesktopAppearance::kNamespace, DesktopAppearance::kKey),
                           G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE, int(DesktopAppearance::kReadTimeout * 1000),
                           state->cancellable, onRead, new StateRef(state));
}

}  // namespace

DesktopAppearance::DesktopAppearance(std::string busAddress)
    : busAddress_(std::move(busAddress)), state_(std::make_shared<State>()) {}

DesktopAppearance::~DesktopAppearance() {
    state_->cancel();
    if (worker_.joinable()) worker_.join();
}

bool DesktopAppearance::prefersDark() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->dark;
}

bool DesktopAppearance::waitForFirstAnswer(double seconds) {
    std::unique_lock<std::mutex> lock(state_->mutex);
    return state_->answeredCv.wait_for(lock, std::chrono::duration<double>(seconds),
                                       [&] { return state_->answered; });
}

void DesktopAppearance::start(std::function<void(bool dark)> changed) {
    if (worker_.joinable()) return;
    auto keep = std::make_shared<std::function<void(bool)>>(std::move(changed));
    std::weak_ptr<State> weak = state_;
    state_->deliver = [keep, weak](bool dark) {
        RunLoop::main().post(
            [keep, weak, dark] {
                auto state = weak.lock();
                if (state && !state->cancelled && *keep) (*keep)(dark);
            },
            weak);
    };
    std::string target = busAddress_;
    if (target.empty()) {
        const char* env = g_getenv("DBUS_SESSION_BUS_ADDRESS");
        if (env) target = env;
    }
    worker_ = Thread(
        [state = state_, target](const std::atomic<bool>&) {
            GMainContext* context = g_main_context_new();
            g_main_context_push_thread_default(context);
            {
                std::lock_guard<std::mutex> lock(state->mutex);
                state->context = context;
            }
            if (target.empty()) {
                state->report(false);
            } else {
                {
                    // The bus and the portal are peers: one that says nothing
                    // holds a headless run's clock once, not for ever.
                    Clock::NetworkWait wait;
                    // Made on this thread's context: its calls and signals come here.
                    GDBusConnection* bus = SessionBus::connect(target, state->cancellable);
                    if (bus && state->cancelled) {
                        g_dbus_connection_close(bus, nullptr, nullptr, nullptr);
                        g_object_unref(bus);
                    } else if (bus) {
                        follow(state, bus);
                    } else if (!state->cancelled) {
                        state->firstDone = true;
                        state->report(false);
                    }
                    while (!state->cancelled && !state->firstDone) g_main_context_iteration(context, TRUE);
                }
                // Then the desktop's changes, for as long as the program runs.
                Clock::IdleScope idle;
                while (!state->cancelled) g_main_context_iteration(context, TRUE);
            }
            state->finished = true;
            if (state->bus) {
                g_dbus_connection_signal_unsubscribe(state->bus, state->subscription);
                // Closed without waiting: the bus may be the one not answering.
                g_dbus_connection_close(state->bus, nullptr, nullptr, nullptr);
                g_object_unref(state->bus);
                state->bus = nullptr;
            }
            // What is already due goes with the context.
            while (g_main_context_iteration(context, FALSE)) {
            }
            {
                std::lock_guard<std::mutex> lock(state->mutex);
                state->context = nullptr;
            }
            g_main_context_pop_thread_default(context);
            g_main_context_unref(context);
        },
        "desktop-appearance");
}

}  // namespace sys
