#include "platform/core/SecretServiceStore.h"

#include "platform/core/SessionBus.h"

#include <libsecret/secret.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace sys {

namespace {

constexpr const char* kBusName = "org.freedesktop.secrets";
constexpr const char* kServicePath = "/org/freedesktop/secrets";
constexpr const char* kServiceInterface = "org.freedesktop.Secret.Service";
// Attribute values are D-Bus strings: text that is not valid UTF-8 (or holds a
// NUL) travels hex-encoded behind this prefix, as does text that starts with it.
constexpr const char* kBytesPrefix = "leafbright-bytes:";

const SecretSchema* schema() {
    static const SecretSchema s = [] {
        SecretSchema v{};
        v.name = "io.leafbright.Password";
        v.flags = SECRET_SCHEMA_NONE;
        v.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
        v.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
        v.attributes[2] = {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING};
        return v;
    }();
    return &s;
}

std::string encodeAttribute(const std::string& s) {
    bool plain = g_utf8_validate(s.data(), static_cast<gssize>(s.size()), nullptr) &&
                 s.compare(0, std::strlen(kBytesPrefix), kBytesPrefix) != 0;
    if (plain) return s;
    static const char* hex = "0123456789abcdef";
    std::string out = kBytesPrefix;
    for (unsigned char c : s) {
        out += hex[c >> 4];
        out += hex[c & 15];
    }
    return out;
}

std::string decodeAttribute(const char* text) {
    if (!text) return "";
    std::string s = text;
    size_t n = std::strlen(kBytesPrefix);
    if (s.compare(0, n, kBytesPrefix) != 0 || (s.size() - n) % 2 != 0) return s;
    std::string out;
    for (size_t i = n; i + 1 < s.size(); i += 2) {
        int h = g_ascii_xdigit_value(s[i]), l = g_ascii_xdigit_value(s[i + 1]);
        if (h < 0 || l < 0) return s;
        out += static_cast<char>(h * 16 + l);
    }
    return out;
}

std::string labelOf(const std::string& service, const std::string& account) {
    std::string label = "Leafbright: " + service;
    if (!account.empty()) label += " (" + account + ")";
    gchar* valid = g_utf8_make_valid(label.data(), static_cast<gssize>(label.size()));
    std::string out = valid;
    g_free(valid);
    return out;
}

// Owns one reference of a GObject.
template <class T>
struct Ref {
    T* p = nullptr;
    Ref() = default;
    explicit Ref(T* adopt) : p(adopt) {}
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& o) noexcept : p(o.p) { o.p = nullptr; }
    Ref& operator=(Ref&& o) noexcept {
        if (this != &o) {
            reset();
            p = o.p;
            o.p = nullptr;
        }
        return *this;
    }
    ~Ref() { reset(); }
    void reset() {
        if (p) g_object_unref(p);
        p = nullptr;
    }
    T* get() const { return p; }
    explicit operator bool() const { return p != nullptr; }
};

struct Error {
    GError* e = nullptr;
    Error() = default;
    Error(const Error&) = delete;
    Error& operator=(const Error&) = delete;
    ~Error() { g_clear_error(&e); }
    GError** out() {
        g_clear_error(&e);
        return &e;
    }
    std::string message() const { return e ? e->message : "unknown error"; }
};

// Where one asynchronous call reports its end. A call given up on (its
// deadline passed, or the provider left) may still end later, or never: its
// report then finds the record abandoned and frees it.
struct Report {
    GObject* source = nullptr;
    GAsyncResult* result = nullptr;
    bool abandoned = false;
    ~Report() {
        if (source) g_object_unref(source);
        if (result) g_object_unref(result);
    }
    static void done(GObject* source, GAsyncResult* result, gpointer data) {
        auto* self = static_cast<Report*>(data);
        if (self->abandoned) {
            delete self;
            return;
        }
        self->source = source ? G_OBJECT(g_object_ref(source)) : nullptr;
        self->result = G_ASYNC_RESULT(g_object_ref(result));
    }
};

// The end of one asynchronous call: its result and the object it came from,
// both null when the call was not waited for to its end.
struct Completion {
    Report* report = new Report;
    bool started = false;
    GObject* source = nullptr;
    GAsyncResult* result = nullptr;
    Completion() = default;
    Completion(const Completion&) = delete;
    Completion& operator=(const Completion&) = delete;
    ~Completion() {
        if (started && !report->result) report->abandoned = true;
        else delete report;
    }
};

// Attributes of a query. The table owns its values: a call that is given up
// on may keep it beyond this object.
struct Attributes {
    GHashTable* table = g_hash_table_new_full(g_str_hash, g_str_equal, nullptr, g_free);
    Attributes(const std::optional<std::string>& s, const std::optional<std::string>& a) {
        if (s) g_hash_table_insert(table, const_cast<char*>("service"), g_strdup(encodeAttribute(*s).c_str()));
        if (a) g_hash_table_insert(table, const_cast<char*>("account"), g_strdup(encodeAttribute(*a).c_str()));
    }
    Attributes(const Attributes&) = delete;
    Attributes& operator=(const Attributes&) = delete;
    ~Attributes() { g_hash_table_unref(table); }
};

struct Found {
    Ref<SecretItem> item;
    std::string service, account, path;
    bool locked = false;
    guint64 created = 0, modified = 0;
};

// Providers number their items as they make them; comparing the last path
// element as a number keeps the order in which items were added.
bool pathBefore(const std::string& a, const std::string& b) {
    std::string ta = a.substr(a.rfind('/') + 1), tb = b.substr(b.rfind('/') + 1);
    if (ta.size() != tb.size()) return ta.size() < tb.size();
    return ta < tb;
}

GObject* (*gServiceConstructor)(GType, guint, GObjectConstructParam*) = nullptr;

// libsecret's service proxy always takes the process-wide session bus, whose
// connection ends the whole process when the bus goes away and which cannot
// be pointed at another bus. This subclass keeps the connection it is given.
GType serviceOnOwnConnectionType() {
    static const GType type = [] {
        GTypeQuery parent;
        g_type_query(SECRET_TYPE_SERVICE, &parent);
        GTypeInfo info{};
        info.class_size = static_cast<guint16>(parent.class_size);
        info.instance_size = static_cast<guint16>(parent.instance_size);
        info.class_init = [](gpointer klass, gpointer) {
            GObjectClass* objectClass = G_OBJECT_CLASS(klass);
            gServiceConstructor = objectClass->constructor;
            objectClass->constructor = [](GType t, guint n, GObjectConstructParam* params) -> GObject* {
                GObject* object = gServiceConstructor(t, n, params);
                g_object_set(object, "g-bus-type", G_BUS_TYPE_NONE, nullptr);
                return object;
            };
        };
        return g_type_register_static(SECRET_TYPE_SERVICE, "LeafbrightSecretService", &info, GTypeFlags(0));
    }();
    return type;
}

}  // namespace

struct SecretServiceStore::Impl {
    std::string address;
    GMainContext* context = g_main_context_new();
    Ref<GDBusConnection> connection;
    Ref<SecretService> service;
    // Of the current Scope.
    GCancellable* cancellable = nullptr;
    GSource* timer = nullptr;
    bool reopened = false;
    // Watches the provider's name on our connection: its owner leaving the
    // bus ends the current Scope's calls at once.
    guint ownerWatch = 0;
    // A Scope was cut short (no answer in time, or the provider left): the
    // store is not asked again until a provider takes the name anew.
    bool away = false;

    static void ownerChanged(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                             GVariant* parameters, gpointer data) {
        auto* self = static_cast<Impl*>(data);
        const gchar *name = nullptr, *oldOwner = nullptr, *newOwner = nullptr;
        g_variant_get(parameters, "(&s&s&s)", &name, &oldOwner, &newOwner);
        if (*newOwner) self->away = false;
        else if (self->cancellable && *oldOwner) g_cancellable_cancel(self->cancellable);
    }

    void watchOwner() {
        ownerWatch = g_dbus_connection_signal_subscribe(connection.get(), "org.freedesktop.DBus",
                                                        "org.freedesktop.DBus", "NameOwnerChanged",
                                                        "/org/freedesktop/DBus", kBusName,
                                                        G_DBUS_SIGNAL_FLAGS_NONE, &Impl::ownerChanged, this, nullptr);
    }

    ~Impl() {
        g_main_context_push_thread_default(context);
        service.reset();
        if (connection && ownerWatch) g_dbus_connection_signal_unsubscribe(connection.get(), ownerWatch);
        if (connection) g_dbus_connection_close(connection.get(), nullptr, nullptr, nullptr);
        connection.reset();
        while (g_main_context_iteration(context, FALSE)) {
        }
        g_main_context_pop_thread_default(context);
        g_main_context_unref(context);
    }

    void begin(double timeout) {
        g_main_context_push_thread_default(context);
        // Signals queued since the last call (owner changes, property updates).
        while (g_main_context_iteration(context, FALSE)) {
        }
        cancellable = g_cancellable_new();
        reopened = false;
        timer = g_timeout_source_new(static_cast<guint>(std::max(0.0, timeout) * 1000));
        g_source_set_callback(
            timer,
            [](gpointer data) -> gboolean {
                g_cancellable_cancel(G_CANCELLABLE(data));
                return G_SOURCE_REMOVE;
            },
            g_object_ref(cancellable), g_object_unref);
        g_source_attach(timer, context);
    }

    void end() {
        if (g_cancellable_is_cancelled(cancellable)) away = true;
        g_source_destroy(timer);
        g_source_unref(timer);
        timer = nullptr;
        g_object_unref(cancellable);
        cancellable = nullptr;
        g_main_context_pop_thread_default(context);
    }

    // Starts one asynchronous call and runs our context until it ends, the
    // Scope's deadline passes or the provider leaves the bus, whichever comes
    // first: a call that does not end on being cancelled (libsecret waits for
    // a prompt that a departed provider never completes) is not waited for.
    // False when the call did not end in time.
    template <class Start>
    bool await(Completion& c, Start start) {
        if (!cancellable || g_cancellable_is_cancelled(cancellable)) return false;
        c.started = true;
        start(cancellable, &Report::done, c.report);
        while (!c.report->result && !g_cancellable_is_cancelled(cancellable)) g_main_context_iteration(context, TRUE);
        c.source = c.report->source;
        c.result = c.report->result;
        return c.result != nullptr;
    }

    Keychain::Status statusOf(const GError* e) const {
        if (e && g_error_matches(e, SECRET_ERROR, SECRET_ERROR_IS_LOCKED)) return Keychain::kInteractionNotAllowed;
        return Keychain::kNotAvailable;
    }

    bool connect(std::string* why) {
        if (connection && !g_dbus_connection_is_closed(connection.get())) return true;
        if (connection && ownerWatch) g_dbus_connection_signal_unsubscribe(connection.get(), ownerWatch);
        ownerWatch = 0;
        connection.reset();
        Completion c;
        if (!await(c, [&](GCancellable* cancel, GAsyncReadyCallback cb, gpointer data) {
                g_dbus_connection_new_for_address(
                    address.c_str(),
                    GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                         G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                    nullptr, cancel, cb, data);
            })) {
            if (why) *why = "session bus: no answer in time";
            return false;
        }
        Error err;
        connection = Ref<GDBusConnection>(g_dbus_connection_new_for_address_finish(c.result, err.out()));
        if (!connection) {
            if (why) *why = "session bus: " + err.message();
            return false;
        }
        g_dbus_connection_set_exit_on_close(connection.get(), FALSE);
        watchOwner();
        return true;
    }

    GVariant* busCall(const char* method, GVariant* args, const char* replyType, std::string* why) {
        Completion c;
        if (!await(c, [&](GCancellable* cancel, GAsyncReadyCallback cb, gpointer data) {
                g_dbus_connection_call(connection.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                       "org.freedesktop.DBus", method, args, G_VARIANT_TYPE(replyType),
                                       G_DBUS_CALL_FLAGS_NONE, -1, cancel, cb, data);
            })) {
            if (args && !c.started) g_variant_unref(g_variant_ref_sink(args));
            if (why) *why = std::string("session bus: ") + method + ": no answer in time";
            return nullptr;
        }
        Error err;
        GVariant* reply = g_dbus_connection_call_finish(connection.get(), c.result, err.out());
        if (!reply && why) *why = std::string("session bus: ") + method + ": " + err.message();
        return reply;
    }

    // A provider owns the name now, or the bus can start one for it.
    bool providerPresent(std::string* why) {
        GVariant* owned = busCall("NameHasOwner", g_variant_new("(s)", kBusName), "(b)", why);
        if (!owned) return false;
        gboolean has = FALSE;
        g_variant_get(owned, "(b)", &has);
        g_variant_unref(owned);
        if (has) return true;
        GVariant* names = busCall("ListActivatableNames", nullptr, "(as)", why);
        if (!names) return false;
        bool found = false;
        GVariantIter* iter = nullptr;
        const gchar* name = nullptr;
        g_variant_get(names, "(as)", &iter);
        while (g_variant_iter_loop(iter, "&s", &name))
            if (std::strcmp(name, kBusName) == 0) found = true;
        g_variant_iter_free(iter);
        g_variant_unref(names);
        if (!found && why) *why = std::string("no provider of ") + kBusName + " on the session bus";
        return found;
    }

    bool openService(std::string* why) {
        service.reset();
        Completion c;
        if (!await(c, [&](GCancellable* cancel, GAsyncReadyCallback cb, gpointer data) {
                g_async_initable_new_async(serviceOnOwnConnectionType(), G_PRIORITY_DEFAULT, cancel, cb, data,
                                           "g-flags", G_DBUS_PROXY_FLAGS_NONE, "g-connection", connection.get(),
                                           "g-name", kBusName, "g-object-path", kServicePath, "g-interface-name",
                                           kServiceInterface, "flags", SECRET_SERVICE_OPEN_SESSION, nullptr);
            })) {
            if (why) *why = "secret service: no answer in time";
            return false;
        }
        Error err;
        GObject* obj = g_async_initable_new_finish(G_ASYNC_INITABLE(c.source), c.result, err.out());
        if (!obj) {
            if (why) *why = "secret service: " + err.message();
            return false;
        }
        service = Ref<SecretService>(SECRET_SERVICE(obj));
        return true;
    }

    // After a failure that may come from a provider that was restarted (its
    // session and name owner are gone), once per Scope.
    bool reopen() {
        if (reopened || g_cancellable_is_cancelled(cancellable)) return false;
        reopened = true;
        return connect(nullptr) && openService(nullptr);
    }

    template <class Op>
    Keychain::Status withReopen(Op op) {
        if (away) return Keychain::kNotAvailable;
        Keychain::Status st = op();
        if (st == Keychain::kNotAvailable && reopen()) st = op();
        return st;
    }

    Keychain::Status search(const KeychainQuery& query, bool loadSecrets, std::vector<Found>* out) {
        out->clear();
        Attributes attrs(query.service, query.account);
        Completion c;
        if (!await(c, [&](GCancellable* cancel, GAsyncReadyCallback cb, gpointer data) {
                secret_service_search(service.get(), schema(), attrs.table,
                                      SecretSearchFlags(SECRET_SEARCH_ALL |
                                                        (loadSecrets ? SECRET_SEARCH_LOAD_SECRETS : 0)),
                                      cancel, cb, data);
            })) {
            return Keychain::kNotAvailable;
        }
        Error err;
        GList* list = secret_service_search_finish(service.get(), c.result, err.out());
        if (err.e) return statusOf(err.e);
        for (GList* l = list; l; l = l->next) {
            Found f;
            f.item = Ref<SecretItem>(SECRET_ITEM(l->data));
            GHashTable* a = secret_item_get_attributes(f.item.get());
            f.service = decodeAttribute(static_cast<const char*>(g_hash_table_lookup(a, "service")));
            f.account = decodeAttribute(static_cast<const char*>(g_hash_table_lookup(a, "account")));
            g_hash_table_unref(a);
            f.path = g_dbus_proxy_get_object_path(G_DBUS_PROXY(f.item.get()));
            f.locked = secret_item_get_locked(f.item.get());
            f.created = secret_item_get_created(f.item.get());
            f.modified = secret_item_get_modified(f.item.get());
            out->push_back(std::move(f));
        }
        g_list_free(list);  // the items' references went to `out`
        std::stable_sort(out->begin(), out->end(), [](const Found& a, const Found& b) {
            if (a.created != b.created) return a.created < b.created;
            return pathBefore(a.path, b.path);
        });
        return Keychain::kSuccess;
    }

    // A search finds nothing in a locked collection: "not found" is only true
    // when the collection that would hold the item is open.
    Keychain::Status notFoundOrLocked() {
        Completion c;
        if (!await(c, [&](GCancellable* cancel, GAsyncReadyCallback cb, gpointer data) {
                secret_collection_for_alias(service.get(), SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, cancel,
                                            cb, data);
            })) {
            return Keychain::kNotAvailable;
        }
        Error err;
        Ref<SecretCollection> collection(secret_collection_for_alias_finish(c.result, err.out()));
        if (err.e) return statusOf(err.e);
        if (collection && secret_collection_get_locked(collection.get())) return Keychain::kInteractionNotAllowed;
        return Keychain::kItemNotFound;
    }

    // Found items, or why there are none to work on.
    Keychain::Status find(const KeychainQuery& query, bool loadSecrets, std::vector<Found>* out) {
        if (Keychain::Status st = search(query, loadSecrets, out); st != Keychain::kSuccess) return st;
        if (out->empty()) return notFoundOrLocked();
        for (const auto& f : *out)
            if (f.locked) return Keychain::kInteractionNotAllowed;
        return Keychain::kSuccess;
    }

    // A call not waited for to its end (see await) answers kNotAvailable.
    template <class Finish>
    Keychain::Status finishItemCall(Completion& c, Finish finish) {
        if (!c.result) return Keychain::kNotAvailable;
        Error err;
        if (!finish(c.result, err.out())) return statusOf(err.e);
        return Keychain::kSuccess;
    }

    Keychain::Status copyMatching(const KeychainQuery& query, std::vector<KeychainItem>* items) {
        std::vector<Found> found;
        if (Keychain::Status st = find(query, items != nullptr, &found); st != Keychain::kSuccess) return st;
        if (!items) return Keychain::kSuccess;
        std::vector<KeychainItem> out;
        for (const auto& f : found) {
            SecretValue* value = secret_item_get_secret(f.item.get());
            if (!value) return Keychain::kNotAvailable;
            gsize len = 0;
            const gchar* data = secret_value_get(value, &len);
            out.push_back(KeychainItem{f.service, f.account, std::string(data, len), double(f.created),
                                       double(f.modified)});
            secret_value_unref(value);
        }
        *items = std::move(out);
        return Keychain::kSuccess;
    }

    Keychain::Status add(const std::string& svc, const std::string& account, const std::string& value) {
        std::vector<Found> found;
        Keychain::Status st = find(KeychainQuery{svc, account}, false, &found);
        if (st == Keychain::kSuccess) return Keychain::kDuplicateItem;
        if (st != Keychain::kItemNotFound) return st;
        Attributes attrs(svc, account);
        SecretValue* secret = secret_value_new(value.data(), static_cast<gssize>(value.size()), "text/plain");
        std::string label = labelOf(svc, account);
        Completion c;
        await(c, [&](GCancellable* cancel, GAsyncReadyCallback cb, gpointer data) {
            secret_service_store(service.get(), schema(), attrs.table, SECRET_COLLECTION_DEFAULT, label.c_str(),
                                 secret, cancel, cb, data);
        });
        secret_value_unref(secret);
        return finishItemCall(c, [&](GAsyncResult* r, GError** e) {
            return secret_service_store_finish(service.get(), r, e);
        });
    }

    Keychain::Status update(const KeychainQuery& query, const KeychainChanges& changes) {
        std::vector<Found> found;
        if (Keychain::Status st = find(query, false, &found); st != Keychain::kSuccess) return st;
        bool renames = changes.service || changes.account;
        if (renames) {
            // Two items must never end with one (service, account).
            std::vector<Found> all;
            if (Keychain::Status st = search(KeychainQuery{}, false, &all); st != Keychain::kSuccess) return st;
            std::vector<std::pair<std::string, std::string>> keys;
            for (const auto& f : all) {
                bool matched = std::any_of(found.begin(), found.end(), [&](const Found& m) { return m.path == f.path; });
                if (matched)
                    keys.emplace_back(changes.service.value_or(f.service), changes.account.value_or(f.account));
                else
                    keys.emplace_back(f.service, f.account);
            }
            std::sort(keys.begin(), keys.end());
            if (std::adjacent_find(keys.begin(), keys.end()) != keys.end()) return Keychain::kDuplicateItem;
        }
        for (const auto& f : found) {
            SecretItem* item = f.item.get();
            if (renames) {
                std::string svc = changes.service.value_or(f.service), account = changes.account.value_or(f.account);
                Attributes attrs(svc, account);
                Completion c;
                await(c, [&](GCancellable* cancel, GAsyncReadyCallback cb, gpointer data) {
                    secret_item_set_attributes(item, schema(), attrs.table, cancel, cb, data);
                });
                Keychain::Status st = finishItemCall(c, [&](GAsyncResult* r, GError** e) {
                    return secret_item_set_attributes_finish(item, r, e);
                });
                if (st != Keychain::kSuccess) return st;
                std::string label = labelOf(svc, account);
                Completion l;
                await(l, [&](GCancellable* cancel, GAsyncReadyCallback cb, gpointer data) {
                    secret_item_set_label(item, label.c_str(), cancel, cb, data);
                });
                st = finishItemCall(l, [&](GAsyncResult* r, GError** e) {
                    return secret_item_set_label_finish(item, r, e);
                });
                if (st != Keychain::kSuccess) return st;
            }
            if (changes.value) {
                SecretValue* secret = secret_value_new(changes.value->data(),
                                                       static_cast<gssize>(changes.value->size()), "text/plain");
                Completion c;
                await(c, [&](GCancellable* cancel, GAsyncReadyCallback cb, gpointer data) {
                    secret_item_set_secret(item, secret, cancel, cb, data);
                });
                secret_value_unref(secret);
                Keychain::Status st = finishItemCall(c, [&](GAsyncResult* r, GError** e) {
                    return secret_item_set_secret_finish(item, r, e);
                });
                if (st != Keychain::kSuccess) return st;
            }
        }
        return Keychain::kSuccess;
    }

    Keychain::Status remove(const KeychainQuery& query) {
        std::vector<Found> found;
        if (Keychain::Status st = find(query, false, &found); st != Keychain::kSuccess) return st;
        for (const auto& f : found) {
            SecretItem* item = f.item.get();
            Completion c;
            await(c, [&](GCancellable* cancel, GAsyncReadyCallback cb, gpointer data) {
                secret_item_delete(item, cancel, cb, data);
            });
            Keychain::Status st = finishItemCall(c, [&](GAsyncResult* r, GError** e) {
                return secret_item_delete_finish(item, r, e);
            });
            if (st != Keychain::kSuccess) return st;
        }
        return Keychain::kSuccess;
    }
};

SecretServiceStore::SecretServiceStore(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

SecretServiceStore::~SecretServiceStore() = default;

std::optional<std::string> SecretServiceStore::sessionBusAddress() { return SessionBus::sessionAddress(); }

std::unique_ptr<SecretServiceStore> SecretServiceStore::open(const std::string& busAddress, double timeout,
                                                             std::string* why) {
    auto impl = std::make_unique<Impl>();
    impl->address = busAddress;
    impl->begin(timeout);
    bool ok = impl->connect(why) && impl->providerPresent(why) && impl->openService(why);
    if (!ok && why && g_cancellable_is_cancelled(impl->cancellable))
        *why = "the session bus or the secret service did not answer in time";
    impl->end();
    if (!ok) return nullptr;
    return std::unique_ptr<SecretServiceStore>(new SecretServiceStore(std::move(impl)));
}

SecretServiceStore::Scope::Scope(SecretServiceStore& store, double timeout) : store_(store) {
    store_.impl_->begin(timeout);
}

SecretServiceStore::Scope::~Scope() { store_.impl_->end(); }

SecretServiceStore::Status SecretServiceStore::copyMatching(const KeychainQuery& query,
                                                            std::vector<KeychainItem>* items) {
    return impl_->withReopen([&] { return impl_->copyMatching(query, items); });
}

SecretServiceStore::Status SecretServiceStore::add(const std::string& service, const std::string& account,
                                                   const std::string& value) {
    return impl_->withReopen([&] { return impl_->add(service, account, value); });
}

SecretServiceStore::Status SecretServiceStore::update(const KeychainQuery& query, const KeychainChanges& changes) {
    return impl_->withReopen([&] { return impl_->update(query, changes); });
}

SecretServiceStore::Status SecretServiceStore::remove(const KeychainQuery& query) {
    return impl_->withReopen([&] { return impl_->remove(query); });
}

}  // namespace sys
