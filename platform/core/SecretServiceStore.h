#pragma once

#include "platform/core/Keychain.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sys {

// Key chain items kept in the desktop's secret store (the Secret Service on
// the session bus, e.g. gnome-keyring), under a schema of our own whose
// attributes are the item's service and account.
//
// A provider that hangs would block a caller for the D-Bus default of 25 s or
// more, so every piece of work runs inside a Scope: all the calls it makes
// share one deadline, after which they are cancelled and answer kNotAvailable.
// The store has its own bus connection (never the process-wide one, which
// would end the process when the bus goes away) and its own main context, so
// that it needs no running GLib loop. One store is used by one thread at a
// time (Keychain serialises its calls).
class SecretServiceStore {
public:
    using Status = Keychain::Status;

    ~SecretServiceStore();
    SecretServiceStore(const SecretServiceStore&) = delete;
    SecretServiceStore& operator=(const SecretServiceStore&) = delete;

    // The session bus named by this process's environment: DBUS_SESSION_BUS_ADDRESS,
    // else the user bus socket in XDG_RUNTIME_DIR. Nothing when there is neither;
    // no bus is ever started for us.
    static std::optional<std::string> sessionBusAddress();

    // Connects to the bus and opens the secret service within `timeout` seconds.
    // Nothing (and the reason in *why) when the bus does not answer or no provider
    // owns or can be started for the service's name.
    static std::unique_ptr<SecretServiceStore> open(const std::string& busAddress, double timeout,
                                                    std::string* why);

    // Bounds the calls made while it lives by one deadline `timeout` seconds
    // away, or the provider leaving the bus, whichever comes first.
    class Scope {
    public:
        Scope(SecretServiceStore& store, double timeout);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        SecretServiceStore& store_;
    };

    // The operations answer as Keychain's do. A locked collection answers
    // kInteractionNotAllowed (never "not found"); a provider that fails, does
    // not answer in time or leaves the bus during a call answers kNotAvailable,
    // and after a Scope cut short that way, every call does at once until a
    // provider takes the service's name again. Every call must be made inside a Scope.
    Status copyMatching(const KeychainQuery& query, std::vector<KeychainItem>* items);
    Status add(const std::string& service, const std::string& account, const std::string& value);
    Status update(const KeychainQuery& query, const KeychainChanges& changes);
    Status remove(const KeychainQuery& query);

private:
    struct Impl;
    explicit SecretServiceStore(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace sys
