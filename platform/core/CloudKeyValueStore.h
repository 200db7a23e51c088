#pragma once

#include "platform/core/PlistValue.h"
#include "platform/core/Thread.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sys {

// Our stand-in for the platform's cloud key-value store: small values by key,
// shared between devices. "The cloud" is one property-list dictionary file;
// every device (every store object, in this process or another) that points
// at the same file sees the others' values once it synchronises.
//
// Values set here stay local until synchronize(), which also takes in what
// other devices wrote since the last one. When that brings in changes, the
// store posts kDidChangeExternallyNotification on the main run loop, with the
// changed keys under kChangedKeysKey (std::vector<std::string>) and the
// reason under kChangeReasonKey (int). A store that watches its file
// (startWatching) synchronises by itself when another device writes.
//
// When the same key changed here and elsewhere since the last
// synchronisation, this device's value wins. Safe from any thread.
class CloudKeyValueStore : public std::enable_shared_from_this<CloudKeyValueStore> {
public:
    static constexpr const char* kDidChangeExternallyNotification =
        "NSUbiquitousKeyValueStoreDidChangeExternallyNotification";
    static constexpr const char* kChangedKeysKey = "NSUbiquitousKeyValueStoreChangedKeysKey";
    static constexpr const char* kChangeReasonKey = "NSUbiquitousKeyValueStoreChangeReasonKey";
    enum ChangeReason { kServerChange = 0, kInitialSyncChange = 1, kQuotaViolationChange = 2, kAccountChange = 3 };

    // The environment variable that names a shared store file, so that two
    // program instances with different homes act as two devices.
    static constexpr const char* kStoreFileEnvironment = "LEAFBRIGHT_CLOUD_STORE";

    // The process's store: the one installed with setDefaultStore, else the
    // file named by $LEAFBRIGHT_CLOUD_STORE, else Library/cloud-kvs.plist of
    // the application's home.
    static std::shared_ptr<CloudKeyValueStore> defaultStore();
    // Installs a store (nullptr: back to the default file on next use).
    static void setDefaultStore(std::shared_ptr<CloudKeyValueStore> store);
    // A store (a device) kept in `file`; the folder is created when missing.
    static std::shared_ptr<CloudKeyValueStore> atPath(const std::string& file);

    ~CloudKeyValueStore();
    CloudKeyValueStore(const CloudKeyValueStore&) = delete;
    CloudKeyValueStore& operator=(const CloudKeyValueStore&) = delete;

    const std::string& path() const { return path_; }

    // Null when absent.
    PlistValue objectForKey(std::string_view key) const;
    // Only for a dictionary value.
    std::optional<PlistDictionary> dictionaryForKey(std::string_view key) const;
    // A null value removes the key.
    void setObject(PlistValue value, std::string_view key);
    void removeObjectForKey(std::string_view key);
    PlistDictionary dictionaryRepresentation() const;

    // Sends this device's changes and takes in the others'. False when the
    // shared file exists but cannot be read or written; the local changes
    // then stay pending.
    bool synchronize();

    // Synchronises whenever the shared file changes. Idempotent.
    bool startWatching();
    void stopWatching();
    bool isWatching() const;

private:
    explicit CloudKeyValueStore(std::string path);
    void postChanges(std::vector<std::string> keys);
    void watchLoop(int inotifyFd, int wakeFd, const std::atomic<bool>& stop);

    const std::string path_;
    mutable std::mutex mutex_;
    PlistDictionary values_;   // what this device sees
    PlistDictionary base_;     // the shared file as of the last synchronisation
    // Keys changed here since then; a null value is a removal.
    PlistDictionary::Map pending_;

    mutable std::mutex watchMutex_;
    int wakeFd_ = -1;
    std::unique_ptr<Thread> watcher_;
};

}  // namespace sys
