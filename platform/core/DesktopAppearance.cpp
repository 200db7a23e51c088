#include "platform/core/DesktopAppearance.h"

#include "platform/core/Clock.h"
#include "platform/core/RunLoop.h"
#include "platform/core/SessionBus.h"

#include <gio/gio.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <iterator>
#include <mutex>

namespace sys {

// Shared by the owner (main thread) and the worker. The fields after
// `changed` are the worker's alone (its GLib callbacks run on it).
struct DesktopAppearance::State {
    std::mutex mutex;
    std::condition_variable answeredCv;
    bool answered = false;
    Preferences known;
    GMainContext* context = nullptr;  // the worker's, while it runs
    GCancellable* cancellable = g_cancellable_new();
    std::atomic<bool> cancelled{false};
    // Posts the preferences to the main thread (set before the worker starts).
    std::function<void(Preferences)> deliver;

    // The preferences as the worker learns them, and its first reads still unanswered.
    Preferences current;
    int readsPending = 0;
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
    // On the worker: the preferences learned (the first answer, or a change).
    void report() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            answered = true;
            known = current;
        }
        answeredCv.notify_all();
        if (!cancelled) deliver(current);
    }
    // On the worker: a setting's value (from a read or a change); false for
    // a setting that is none of ours.
    bool take(const char* key, bool isOne) {
        if (g_strcmp0(key, DesktopAppearance::kColorSchemeKey) == 0)
            current.dark = isOne;
        else if (g_strcmp0(key, DesktopAppearance::kContrastKey) == 0)
            current.highContrast = isOne;
        else
            return false;
        return true;
    }
};

namespace {

using StateRef = std::shared_ptr<DesktopAppearance::State>;

// A value as the portal gives it, wrapped in one variant (ReadOne, the
// signal) or two (Read): 1 is "prefer dark" for the colour scheme and
// "higher contrast" for the contrast.
bool valueIsOne(GVariant* value) {
    GVariant* v = g_variant_ref(value);
    while (g_variant_is_of_type(v, G_VARIANT_TYPE_VARIANT)) {
        GVariant* inner = g_variant_get_variant(v);
        g_variant_unref(v);
        v = inner;
    }
    const bool one = g_variant_is_of_type(v, G_VARIANT_TYPE_UINT32) && g_variant_get_uint32(v) == 1;
    g_variant_unref(v);
    return one;
}

void onSettingChanged(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* parameters,
                      gpointer data) {
    auto* state = static_cast<DesktopAppearance::State*>(data);
    if (state->finished || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ssv)"))) return;
    const gchar* space = nullptr;
    const gchar* key = nullptr;
    GVariant* value = nullptr;
    g_variant_get(parameters, "(&s&s@v)", &space, &key, &value);
    if (g_strcmp0(space, DesktopAppearance::kNamespace) == 0 && state->take(key, valueIsOne(value))) state->report();
    g_variant_unref(value);
}

// The first read of one setting.
struct Read {
    StateRef state;
    const char* key;
};

void onRead(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<Read> read(static_cast<Read*>(data));
    DesktopAppearance::State& state = *read->state;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
    // No portal, no such setting, no answer in time: no preference.
    bool one = false;
    if (reply) {
        GVariant* value = nullptr;
        g_variant_get(reply, "(@v)", &value);
        one = valueIsOne(value);
        g_variant_unref(value);
        g_variant_unref(reply);
    }
    state.take(read->key, one);
    // The first answer is both settings'.
    if (--state.readsPending > 0) return;
    state.firstDone = true;
    if (!state.finished) state.report();
}

// On the worker, connected: listens for changes, then asks for the setting.
void follow(const StateRef& state, GDBusConnection* bus) {
    state->bus = bus;
    // Listening before asking, so that a change meanwhile is not missed.
    state->subscription = g_dbus_connection_signal_subscribe(
        bus, DesktopAppearance::kService, DesktopAppearance::kInterface, "SettingChanged", DesktopAppearance::kPath,
        DesktopAppearance::kNamespace, G_DBUS_SIGNAL_FLAGS_NONE, onSettingChanged, state.get(), nullptr);
    // Read is there in every version of the portal (ReadOne only in newer ones).
    const char* keys[] = {DesktopAppearance::kColorSchemeKey, DesktopAppearance::kContrastKey};
    state->readsPending = int(std::size(keys));
    for (const char* key : keys)
        g_dbus_connection_call(bus, DesktopAppearance::kService, DesktopAppearance::kPath,
                               DesktopAppearance::kInterface, "Read",
                               g_variant_new("(ss)", DesktopAppearance::kNamespace, key), G_VARIANT_TYPE("(v)"),
                               G_DBUS_CALL_FLAGS_NONE, int(DesktopAppearance::kReadTimeout * 1000),
                               state->cancellable, onRead, new Read{state, key});
}

}  // namespace

DesktopAppearance::DesktopAppearance(std::string busAddress)
    : busAddress_(std::move(busAddress)), state_(std::make_shared<State>()) {}

DesktopAppearance::~DesktopAppearance() {
    state_->cancel();
    if (worker_.joinable()) worker_.join();
}

DesktopAppearance::Preferences DesktopAppearance::preferences() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->known;
}

bool DesktopAppearance::waitForFirstAnswer(double seconds) {
    std::unique_lock<std::mutex> lock(state_->mutex);
    return state_->answeredCv.wait_for(lock, std::chrono::duration<double>(seconds),
                                       [&] { return state_->answered; });
}

void DesktopAppearance::start(std::function<void(Preferences)> changed) {
    if (worker_.joinable()) return;
    auto keep = std::make_shared<std::function<void(Preferences)>>(std::move(changed));
    std::weak_ptr<State> weak = state_;
    state_->deliver = [keep, weak](Preferences preferences) {
        RunLoop::main().post(
            [keep, weak, preferences] {
                auto state = weak.lock();
                if (state && !state->cancelled && *keep) (*keep)(preferences);
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
                state->report();
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
                        state->report();
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
