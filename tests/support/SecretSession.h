#pragma once

#include "tests/support/TestHome.h"

#include <memory>
#include <string>
#include <sys/types.h>

typedef struct _GDBusConnection GDBusConnection;

namespace test {

class BusServiceThread;

// A private session bus with, when asked, a headless gnome-keyring on it whose
// login keyring is unlocked by a password: a secret store that is nobody's
// real one. HOME and the XDG folders of the keyring are in a temporary folder;
// the bus is never the one named in this process's environment. Every process
// started here is stopped and reaped when the session goes away.
class SecretSession {
public:
    SecretSession();
    ~SecretSession();
    SecretSession(const SecretSession&) = delete;
    SecretSession& operator=(const SecretSession&) = delete;

    // Why the machine cannot give a session ("" when it can).
    static std::string unavailableReason();

    // False (with the reason in error()) when the bus could not be started.
    bool ok() const { return !address_.empty(); }
    const std::string& error() const { return error_; }
    const std::string& address() const { return address_; }

    // Starts gnome-keyring and returns once it owns the secret service's name.
    bool startKeyring();
    // Stops it and returns once the name is free again.
    bool stopKeyring();
    // Locks the keyring's default collection, as the desktop does on a timeout.
    bool lockDefaultCollection();
    // Takes the secret service's name and never answers a call (a hung provider).
    bool startSilentOwner();

    // How the stand-in provider fails once it has been opened: asked to store
    // an item, it hands out a prompt, and when prompted it never answers again,
    // or leaves the bus without answering.
    enum class Failure { StopsAnswering, LeavesTheBus };
    // Takes the secret service's name with a stand-in that opens a session
    // and finds nothing stored, then fails `how`.
    bool startFailingProvider(Failure how);
    // Ends the stand-in and returns once the name is free again.
    bool stopFailingProvider();

private:
    bool waitForOwner(bool owned);

    TempDir root_;
    std::string address_;
    std::string error_;
    pid_t bus_ = -1;
    pid_t keyring_ = -1;
    GDBusConnection* connection_ = nullptr;
    GDBusConnection* silent_ = nullptr;
    std::unique_ptr<BusServiceThread> standIn_;
};

}  // namespace test
