#include "tests/support/SecretSession.h"

#include "platform/core/SessionBus.h"
#include "tests/support/BusServiceThread.h"
#include "tests/support/PrivateSessionBus.h"

#include <gio/gio.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace test {

namespace {

constexpr const char* kSecretsName = "org.freedesktop.secrets";
constexpr const char* kPassword = "keyring password";
constexpr int kWaitMs = 10000;

// Starts `argv` with exactly `env`; its stdin reads `input` (then end of file),
// its stdout goes to `outFd` (or nowhere with -1).
pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env, const std::string& input,
            int outFd) {
    std::vector<char*> args, envp;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    int in[2];
    if (::pipe2(in, O_CLOEXEC) != 0) return -1;
    int devnull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    pid_t pid = ::fork();
    if (pid == 0) {
        // A test that dies takes its daemons with it.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::dup2(in[0], 0);
        ::dup2(outFd >= 0 ? outFd : devnull, 1);
        ::dup2(devnull, 2);
        ::execve(args[0], args.data(), envp.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(devnull);
    if (pid > 0 && !input.empty()) {
        ssize_t n = ::write(in[1], input.data(), input.size());
        (void)n;
    }
    ::close(in[1]);
    return pid;
}

std::string which(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t colon = dirs.find(':', start);
        std::string dir = dirs.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    return "";
}

// Ends a child: politely, then by force when it does not go within the wait.
void stop(pid_t& pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    bool gone = false;
    if (fd >= 0) {
        pollfd p{fd, POLLIN, 0};
        gone = ::poll(&p, 1, kWaitMs) == 1;
        ::close(fd);
    }
    if (!gone) ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    pid = -1;
}

// Only ever the private bus: an empty address would be the desktop's own.
GDBusConnection* connectTo(const std::string& address) {
    return address.empty() ? nullptr : sys::SessionBus::connect(address);
}

void closeConnection(GDBusConnection*& c) {
    if (!c) return;
    g_dbus_connection_close_sync(c, nullptr, nullptr);
    g_object_unref(c);
    c = nullptr;
}

}  // namespace

std::string SecretSession::unavailableReason() {
    if (which("dbus-daemon").empty()) return "dbus-daemon is not installed";
    if (which("gnome-keyring-daemon").empty()) return "gnome-keyring-daemon is not installed";
    return "";
}

SecretSession::SecretSession() : root_("secrets") {
    for (const char* d : {"home", "run", "data", "config", "cache"}) ::mkdir(root_.file(d).c_str(), 0700);
    const std::string config = root_.file("bus.conf");
    // No service folders: nothing is started on demand (not the machine's own
    // keyring either), so "no provider" stays so.
    std::ofstream(config) << PrivateSessionBus::configuration("unix:dir=" + root_.file("run"));
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        error_ = "pipe failed";
        return;
    }
    bus_ = spawn({which("dbus-daemon"), "--config-file=" + config, "--nofork", "--print-address=1"},
                 {"HOME=" + root_.file("home")}, "", out[1]);
    ::close(out[1]);
    std::string line;
    char buf[256];
    for (;;) {
        pollfd p{out[0], POLLIN, 0};
        if (::poll(&p, 1, kWaitMs) != 1) break;
        ssize_t n = ::read(out[0], buf, sizeof buf);
        if (n <= 0) break;
        line.append(buf, static_cast<size_t>(n));
        if (line.find('\n') != std::string::npos) break;
    }
    ::close(out[0]);
    size_t nl = line.find('\n');
    if (bus_ <= 0 || nl == std::string::npos) {
        error_ = "dbus-daemon did not start";
        return;
    }
    address_ = line.substr(0, nl);
    connection_ = connectTo(address_);
    if (!connection_) {
        error_ = "cannot connect to the private bus";
        address_.clear();
    }
}

SecretSession::~SecretSession() {
    standIn_.reset();
    closeConnection(silent_);
    stop(keyring_);
    closeConnection(connection_);
    stop(bus_);
}

bool SecretSession::waitForOwner(bool owned) {
    struct State {
        bool owned = false;
        bool known = false;
    } state;
    GMainContext* ctx = g_main_context_new();
    g_main_context_push_thread_default(ctx);
    guint watch = g_bus_watch_name_on_connection(
        connection_, kSecretsName, G_BUS_NAME_WATCHER_FLAGS_NONE,
        [](GDBusConnection*, const gchar*, const gchar*, gpointer data) {
            auto* s = static_cast<State*>(data);
            s->owned = s->known = true;
        },
        [](GDBusConnection*, const gchar*, gpointer data) {
            auto* s = static_cast<State*>(data);
            s->owned = false;
            s->known = true;
        },
        &state, nullptr);
    bool timedOut = false;
    GSource* timer = g_timeout_source_new(kWaitMs);
    g_source_set_callback(
        timer,
        [](gpointer data) -> gboolean {
            *static_cast<bool*>(data) = true;
            return G_SOURCE_REMOVE;
        },
        &timedOut, nullptr);
    g_source_attach(timer, ctx);
    while (!timedOut && !(state.known && state.owned == owned)) g_main_context_iteration(ctx, TRUE);
    g_source_destroy(timer);
    g_source_unref(timer);
    g_bus_unwatch_name(watch);
    while (g_main_context_iteration(ctx, FALSE)) {
    }
    g_main_context_pop_thread_default(ctx);
    g_main_context_unref(ctx);
    return state.known && state.owned == owned;
}

bool SecretSession::startKeyring() {
    if (!ok()) return false;
    std::vector<std::string> env = {
        "HOME=" + root_.file("home"),
        "XDG_RUNTIME_DIR=" + root_.file("run"),
        "XDG_DATA_HOME=" + root_.file("data"),
        "XDG_CONFIG_HOME=" + root_.file("config"),
        "XDG_CACHE_HOME=" + root_.file("cache"),
        "DBUS_SESSION_BUS_ADDRESS=" + address_,
    };
    if (const char* path = std::getenv("PATH")) env.push_back(std::string("PATH=") + path);
    keyring_ = spawn({which("gnome-keyring-daemon"), "--foreground", "--unlock", "--components=secrets"}, env,
                     kPassword, -1);
    if (keyring_ <= 0 || !waitForOwner(true)) {
        error_ = "gnome-keyring-daemon did not take the secret service's name";
        return false;
    }
    return true;
}

bool SecretSession::stopKeyring() {
    stop(keyring_);
    return waitForOwner(false);
}

bool SecretSession::lockDefaultCollection() {
    GError* err = nullptr;
    GVariant* alias = g_dbus_connection_call_sync(connection_, kSecretsName, "/org/freedesktop/secrets",
                                                  "org.freedesktop.Secret.Service", "ReadAlias",
                                                  g_variant_new("(s)", "default"), G_VARIANT_TYPE("(o)"),
                                                  G_DBUS_CALL_FLAGS_NONE, kWaitMs, nullptr, &err);
    if (!alias) {
        error_ = err ? err->message : "ReadAlias failed";
        g_clear_error(&err);
        return false;
    }
    const gchar* path = nullptr;
    g_variant_get(alias, "(&o)", &path);
    const gchar* objects[] = {path, nullptr};
    GVariant* locked = g_dbus_connection_call_sync(
        connection_, kSecretsName, "/org/freedesktop/secrets", "org.freedesktop.Secret.Service", "Lock",
        g_variant_new("(^ao)", objects), G_VARIANT_TYPE("(aoo)"), G_DBUS_CALL_FLAGS_NONE, kWaitMs, nullptr, &err);
    g_variant_unref(alias);
    if (!locked) {
        error_ = err ? err->message : "Lock failed";
        g_clear_error(&err);
        return false;
    }
    g_variant_unref(locked);
    return true;
}

bool SecretSession::startSilentOwner() {
    silent_ = connectTo(address_);
    if (!silent_) return false;
    // Calls to us are swallowed: the caller gets no answer at all.
    g_dbus_connection_add_filter(
        silent_,
        [](GDBusConnection*, GDBusMessage* message, gboolean incoming, gpointer) -> GDBusMessage* {
            if (incoming && g_dbus_message_get_message_type(message) == G_DBUS_MESSAGE_TYPE_METHOD_CALL) {
                g_object_unref(message);
                return nullptr;
            }
            return message;
        },
        nullptr, nullptr);
    return BusServiceThread::requestName(silent_, kSecretsName);
}

namespace {

constexpr const char* kStandInXml =
    "<node>"
    "<interface name='org.freedesktop.Secret.Service'>"
    "<method name='OpenSession'><arg type='s' direction='in'/><arg type='v' direction='in'/>"
    "<arg type='v' direction='out'/><arg type='o' direction='out'/></method>"
    "<method name='SearchItems'><arg type='a{ss}' direction='in'/><arg type='ao' direction='out'/>"
    "<arg type='ao' direction='out'/></method>"
    "<method name='ReadAlias'><arg type='s' direction='in'/><arg type='o' direction='out'/></method>"
    "<method name='CreateCollection'><arg type='a{sv}' direction='in'/><arg type='s' direction='in'/>"
    "<arg type='o' direction='out'/><arg type='o' direction='out'/></method>"
    "</interface>"
    "<interface name='org.freedesktop.Secret.Collection'>"
    "<method name='CreateItem'><arg type='a{sv}' direction='in'/><arg type='(oayays)' direction='in'/>"
    "<arg type='b' direction='in'/><arg type='o' direction='out'/><arg type='o' direction='out'/></method>"
    "<property name='Locked' type='b' access='read'/>"
    "<property name='Items' type='ao' access='read'/>"
    "</interface>"
    "<interface name='org.freedesktop.Secret.Prompt'>"
    "<method name='Prompt'><arg type='s' direction='in'/></method>"
    "<method name='Dismiss'/>"
    "<signal name='Completed'><arg type='b'/><arg type='v'/></signal>"
    "</interface>"
    "</node>";
constexpr const char* kCollectionPath = "/org/freedesktop/secrets/collection/login";
constexpr const char* kPromptPath = "/org/freedesktop/secrets/prompt/p1";

struct StandIn {
    SecretSession::Failure how;
    GDBusConnection* bus = nullptr;
    // Calls it never answers, kept so that they are answered by nobody.
    std::vector<GDBusMethodInvocation*> unanswered;
    ~StandIn() {
        for (auto* i : unanswered) g_object_unref(i);
    }

    static void call(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                     GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data) {
        auto* self = static_cast<StandIn*>(data);
        if (std::strcmp(method, "OpenSession") == 0) {
            const gchar* algorithm = nullptr;
            g_variant_get(parameters, "(&sv)", &algorithm, nullptr);
            if (std::strcmp(algorithm, "plain") != 0) {
                g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.NotSupported",
                                                           "plain only");
                return;
            }
            g_dbus_method_invocation_return_value(
                invocation, g_variant_new("(vo)", g_variant_new_string(""), "/org/freedesktop/secrets/session/s1"));
        } else if (std::strcmp(method, "SearchItems") == 0) {
            const gchar* none[] = {nullptr};
            g_dbus_method_invocation_return_value(invocation, g_variant_new("(^ao^ao)", none, none));
        } else if (std::strcmp(method, "ReadAlias") == 0) {
            g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", kCollectionPath));
        } else if (std::strcmp(method, "CreateCollection") == 0) {
            g_dbus_method_invocation_return_value(invocation, g_variant_new("(oo)", kCollectionPath, "/"));
        } else if (std::strcmp(method, "CreateItem") == 0) {
            g_dbus_method_invocation_return_value(invocation, g_variant_new("(oo)", "/", kPromptPath));
        } else {
            // Prompt, or the Dismiss sent when the caller gives up on it.
            self->unanswered.push_back(G_DBUS_METHOD_INVOCATION(g_object_ref(invocation)));
            if (self->how == SecretSession::Failure::LeavesTheBus) g_dbus_connection_close(self->bus, nullptr, nullptr, nullptr);
        }
    }

    // The collection's: open, and empty.
    static GVariant* property(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* name, GError**,
                              gpointer) {
        if (std::strcmp(name, "Locked") == 0) return g_variant_new_boolean(FALSE);
        return g_variant_new_objv(nullptr, 0);
    }
};

}  // namespace

bool SecretSession::startFailingProvider(Failure how) {
    if (!ok()) return false;
    auto standIn = std::make_shared<StandIn>();
    standIn->how = how;
    bool owned = false;
    standIn_ = std::make_unique<BusServiceThread>(address_, [standIn, &owned](GDBusConnection* bus) {
        if (!bus) return;
        standIn->bus = bus;
        static const GDBusInterfaceVTable vtable = {&StandIn::call, &StandIn::property, nullptr, {}};
        GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(kStandInXml, nullptr);
        if (!info) return;
        // `standIn` lives as long as this thread's set-up, which outlives the connection.
        for (const char* path : {kCollectionPath, "/org/freedesktop/secrets/aliases/default"})
            g_dbus_connection_register_object(bus, path, info->interfaces[1], &vtable, standIn.get(), nullptr,
                                              nullptr);
        g_dbus_connection_register_object(bus, kPromptPath, info->interfaces[2], &vtable, standIn.get(), nullptr,
                                          nullptr);
        g_dbus_node_info_unref(info);
        // The service itself (the first interface), then its name.
        owned = BusServiceThread::serve(bus, kStandInXml, "/org/freedesktop/secrets", kSecretsName, &vtable,
                                        standIn.get());
    });
    return owned;
}

bool SecretSession::stopFailingProvider() {
    standIn_.reset();
    return waitForOwner(false);
}

}  // namespace test
