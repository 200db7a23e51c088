#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace sys {

class SecretServiceStore;

// One generic-password item: a secret stored under a service and an account.
// Dates are wall-clock seconds since 1970.
struct KeychainItem {
    std::string service;
    std::string account;
    std::string value;
    double creationDate = 0;
    double modificationDate = 0;
};

// Which items an operation touches: an absent field matches every item.
struct KeychainQuery {
    std::optional<std::string> service;
    std::optional<std::string> account;
};

// What an update changes on every matched item.
struct KeychainChanges {
    std::optional<std::string> service;
    std::optional<std::string> account;
    std::optional<std::string> value;
};

// Our stand-in for the platform key chain: generic-password items keyed by
// (service, account), answered with the platform's status codes. Items keep
// the order in which they were added.
//
// The file-backed store keeps its items in one plain-text file (mode 0600):
// the secrets are protected by the file's permissions only, not encrypted.
// Every change rewrites the file atomically. A file that exists but cannot be
// read makes every operation fail with kIO, so that nothing overwrites it.
//
// The process's store prefers the desktop's secret store (the Secret Service
// on the session bus): nothing is then written to disk, and the entries of an
// earlier file are moved into it, each removed from the file only once stored.
// Every operation on it is bounded by kSecretServiceTimeout, and ends when
// the provider leaves the bus. Without a usable secret store (no session bus,
// no provider, no answer in time when the process starts) the file store is
// used instead, and that is logged once. A store that goes away later (leaves
// the bus, stops answering) sends what is added while it is away to the file,
// logged once too, and what the file keeps is found there; it moves into the
// store when that is back. Whatever the store answers (away, locked), an item
// changed or removed goes from the file at once, so that the move never
// brings back a value the user replaced or removed; a removal of one item the
// store could not make is kept in the file (names only) and made there first
// when it is back or unlocked, unless the store's item changed since.
//
// All operations are serialised: callers on any thread may use one store.
class Keychain {
public:
    using Status = int32_t;
    static constexpr Status kSuccess = 0;
    static constexpr Status kParam = -50;
    static constexpr Status kIO = -36;
    static constexpr Status kDuplicateItem = -25299;
    static constexpr Status kItemNotFound = -25300;
    // The secret store failed or did not answer in time.
    static constexpr Status kNotAvailable = -25291;
    // The secret store is locked: the item may well exist; the user can unlock it.
    static constexpr Status kInteractionNotAllowed = -25308;

    // The longest any operation on the secret store may take, in seconds.
    static constexpr double kSecretServiceTimeout = 2.5;

    ~Keychain();

    // A store that lives only in memory (tests).
    static std::shared_ptr<Keychain> inMemory();
    // A store kept in `file`; the folder is created when missing.
    static std::shared_ptr<Keychain> atPath(const std::string& file);

    // The secret store on the bus at `busAddress` when one is usable there;
    // `file` is then the earlier store whose entries move into it. Else (no
    // address, or no usable secret store) the store kept in `file`.
    static std::shared_ptr<Keychain> preferringSecretService(const std::string& file,
                                                            const std::optional<std::string>& busAddress);

    // The process's store: the one installed with setShared, else, made on
    // first use, the session's secret store or the file "keychain.txt" in the
    // application's Library folder (preferringSecretService).
    static std::shared_ptr<Keychain> shared();
    // Installs a store (nullptr: back to the default file on next use).
    static void setShared(std::shared_ptr<Keychain> store);

    // Every matching item, in insertion order; kItemNotFound when none.
    Status copyMatching(const KeychainQuery& query, std::vector<KeychainItem>* items) const;
    // Adds an item dated now; kDuplicateItem when (service, account) is taken.
    Status add(const std::string& service, const std::string& account, const std::string& value);
    // Applies `changes` to every matching item and renews its modification
    // date; kItemNotFound when nothing matches, kDuplicateItem (and nothing
    // changed) when two items would end with the same (service, account).
    Status update(const KeychainQuery& query, const KeychainChanges& changes);
    // Deletes every matching item; kItemNotFound when nothing matches.
    Status remove(const KeychainQuery& query);

    // The file behind the store ("" for an in-memory one); with the secret
    // store, the file whose entries are moved into it.
    const std::string& path() const { return path_; }
    bool usesSecretService() const { return secrets_ != nullptr; }

private:
    explicit Keychain(std::string path);
    void migrateLocked() const;
    // One call on the secret store, bounded by kSecretServiceTimeout, after
    // the file's pending entries have been moved into it.
    template <class Call>
    Status inSecretStoreLocked(Call call) const;
    Status loadLocked() const;
    Status fileCopyMatchingLocked(const KeychainQuery& query, std::vector<KeychainItem>* items) const;
    // A removal the secret store could not make yet (away or locked).
    struct KeychainRemoval {
        std::string service;
        std::string account;
        double date = 0;
    };
    Status saveLocked(const std::vector<KeychainItem>& items, const std::vector<KeychainRemoval>& removals) const;
    Status noteRemovalLocked(const std::string& service, const std::string& account);
    Status fileUpdateLocked(const KeychainQuery& query, const KeychainChanges& changes);
    Status fileRemoveLocked(const KeychainQuery& query);
    // After the secret store answered `store` to a change: applies `change`
    // to what the file keeps of `query` too, and answers for both.
    template <class FileChange>
    Status withFileLocked(Status store, const KeychainQuery& query, FileChange change);
    static bool matches(const KeychainItem& item, const KeychainQuery& query);

    std::string path_;
    mutable std::mutex mutex_;
    mutable std::vector<KeychainItem> items_;
    mutable bool loaded_ = false;
    // With the secret store, items_ holds what the file still keeps, and
    // removals_ what is to be removed from the store once it can be asked.
    mutable std::vector<KeychainRemoval> removals_;
    std::unique_ptr<SecretServiceStore> secrets_;
    mutable bool migrationPending_ = false;
};

}  // namespace sys
