#include "platform/core/Keychain.h"

#include "platform/core/AppPaths.h"
#include "platform/core/Date.h"
#include "platform/core/SecretServiceStore.h"
#include "platform/core/WholeWrite.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace sys {

namespace {

constexpr const char* kHeader = "# Leafbright key chain: plain text, protected by its file mode only";

double wallNow() { return Date::now().timeIntervalSince1970(); }

std::string escapeField(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\0': out += "\\0"; break;
        default: out += c;
        }
    }
    return out;
}

bool unescapeField(const std::string& s, std::string* out) {
    out->clear();
    for (size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (c != '\\') {
            *out += c;
            continue;
        }
        if (++i >= s.size()) return false;
        switch (s[i]) {
        case '\\': *out += '\\'; break;
        case 't': *out += '\t'; break;
        case 'n': *out += '\n'; break;
        case 'r': *out += '\r'; break;
        case '0': *out += '\0'; break;
        default: return false;
        }
    }
    return true;
}

std::vector<std::string> splitTabs(const std::string& line) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t tab = line.find('\t', start);
        parts.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) break;
        start = tab + 1;
    }
    return parts;
}

bool parseDate(const std::string& s, double* out) {
    if (s.empty()) return false;
    char* end = nullptr;
    errno = 0;
    double v = std::strtod(s.c_str(), &end);
    if (errno != 0 || end == s.c_str() || *end != '\0') return false;
    *out = v;
    return true;
}

std::mutex& sharedMutex() {
    static std::mutex m;
    return m;
}

std::shared_ptr<Keychain>& sharedSlot() {
    static std::shared_ptr<Keychain> s;
    return s;
}

void logFileFallbackOnce(const std::string& why, const std::string& file) {
    static std::atomic<bool> logged{false};
    if (logged.exchange(true)) return;
    std::fprintf(stderr, "Keychain: no secret store (%s); passwords are kept in %s, protected by its file mode only\n",
                 why.c_str(), file.c_str());
}

}  // namespace

Keychain::Keychain(std::string path) : path_(std::move(path)) {
    loaded_ = path_.empty();
}

Keychain::~Keychain() = default;

std::shared_ptr<Keychain> Keychain::preferringSecretService(const std::string& file,
                                                          const std::optional<std::string>& busAddress) {
    std::string why = "no session bus";
    if (busAddress) {
        if (auto secrets = SecretServiceStore::open(*busAddress, kSecretServiceTimeout, &why)) {
            auto k = std::shared_ptr<Keychain>(new Keychain(file));
            k->secrets_ = std::move(secrets);
            k->migrationPending_ = true;
            return k;
        }
    }
    logFileFallbackOnce(why, file);
    return atPath(file);
}

// Moves the file's items into the secret store, oldest first. Each leaves the
// file only once the store holds it, so that an interrupted move loses
// nothing; whatever is left is tried again on the next operation.
void Keychain::migrateLocked() const {
    if (!migrationPending_) return;
    if (loadLocked() != kSuccess) {
        // An unreadable file is left alone, as the file store leaves it.
        migrationPending_ = false;
        return;
    }
    // First the removals the store could not make when they were asked for:
    // what it still holds from before the removal goes (an item changed
    // since stays).
    while (!removals_.empty()) {
        const KeychainRemoval removal = removals_.front();
        KeychainQuery key{removal.service, removal.account};
        std::vector<KeychainItem> stored;
        Status st = secrets_->copyMatching(key, &stored);
        if (st == kSuccess && stored.front().modificationDate <= removal.date) st = secrets_->remove(key);
        if (st != kSuccess && st != kItemNotFound) return;
        std::vector<KeychainRemoval> rest(removals_.begin() + 1, removals_.end());
        if (rest.empty() && items_.empty()) {
            if (::unlink(path_.c_str()) != 0 && errno != ENOENT) return;
        } else if (saveLocked(items_, rest) != kSuccess) {
            return;
        }
        removals_ = std::move(rest);
    }
    while (!items_.empty()) {
        const KeychainItem item = items_.front();
        KeychainQuery key{item.service, item.account};
        std::vector<KeychainItem> stored;
        Status st = secrets_->copyMatching(key, &stored);
        if (st == kItemNotFound) {
            st = secrets_->add(item.service, item.account, item.value);
        } else if (st == kSuccess && stored.front().modificationDate < item.modificationDate) {
            // Changed in the file while the secret store was away: the file's value is newer.
            st = secrets_->update(key, KeychainChanges{{}, {}, item.value});
        }
        if (st != kSuccess) return;
        std::vector<KeychainItem> rest(items_.begin() + 1, items_.end());
        if (rest.empty()) {
            if (::unlink(path_.c_str()) != 0 && errno != ENOENT) return;
        } else if (saveLocked(rest, removals_) != kSuccess) {
            return;
        }
        items_ = std::move(rest);
    }
    migrationPending_ = false;
}

std::shared_ptr<Keychain> Keychain::inMemory() { return std::shared_ptr<Keychain>(new Keychain("")); }

std::shared_ptr<Keychain> Keychain::atPath(const std::string& file) {
    return std::shared_ptr<Keychain>(new Keychain(file));
}

std::shared_ptr<Keychain> Keychain::shared() {
    std::lock_guard<std::mutex> lock(sharedMutex());
    auto& s = sharedSlot();
    if (!s) s = preferringSecretService(AppPaths::library() + "/keychain.txt", SecretServiceStore::sessionBusAddress());
    return s;
}

void Keychain::setShared(std::shared_ptr<Keychain> store) {
    std::lock_guard<std::mutex> lock(sharedMutex());
    sharedSlot() = std::move(store);
}

bool Keychain::matches(const KeychainItem& item, const KeychainQuery& query) {
    if (query.service && item.service != *query.service) return false;
    if (query.account && item.account != *query.account) return false;
    return true;
}

Keychain::Status Keychain::loadLocked() const {
    if (loaded_) return kSuccess;
    FILE* f = std::fopen(path_.c_str(), "rb");
    if (!f) {
        if (errno == ENOENT) {
            items_.clear();
            removals_.clear();
            loaded_ = true;
            return kSuccess;
        }
        return kIO;
    }
    std::string content;
    char buf[8192];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) content.append(buf, n);
    bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) return kIO;

    std::vector<KeychainItem> items;
    std::vector<KeychainRemoval> removals;
    size_t pos = 0;
    while (pos < content.size()) {
        size_t nl = content.find('\n', pos);
        std::string line = content.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
        pos = nl == std::string::npos ? content.size() : nl + 1;
        if (line.empty() || line[0] == '#') continue;
        auto parts = splitTabs(line);
        if (parts.size() == 4 && parts[0] == "removed") {
            KeychainRemoval removal;
            if (unescapeField(parts[1], &removal.service) && unescapeField(parts[2], &removal.account) &&
                parseDate(parts[3], &removal.date))
                removals.push_back(std::move(removal));
            continue;
        }
        // A damaged line is dropped rather than failing the whole store.
        if (parts.size() != 6 || parts[0] != "item") continue;
        KeychainItem item;
        if (!unescapeField(parts[1], &item.service) || !unescapeField(parts[2], &item.account) ||
            !unescapeField(parts[3], &item.value) || !parseDate(parts[4], &item.creationDate) ||
            !parseDate(parts[5], &item.modificationDate))
            continue;
        bool duplicate = false;
        for (const auto& other : items)
            if (other.service == item.service && other.account == item.account) duplicate = true;
        if (!duplicate) items.push_back(std::move(item));
    }
    items_ = std::move(items);
    removals_ = std::move(removals);
    loaded_ = true;
    return kSuccess;
}

Keychain::Status Keychain::saveLocked(const std::vector<KeychainItem>& items,
                                      const std::vector<KeychainRemoval>& removals) const {
    if (path_.empty()) return kSuccess;
    std::error_code ec;
    std::filesystem::path p(path_);
    if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path(), ec);

    std::string data = std::string(kHeader) + "\n";
    char dates[80];
    for (const auto& it : items) {
        std::snprintf(dates, sizeof dates, "\t%.3f\t%.3f\n", it.creationDate, it.modificationDate);
        data += "item\t" + escapeField(it.service) + "\t" + escapeField(it.account) + "\t" +
                escapeField(it.value) + dates;
    }
    for (const auto& r : removals) {
        std::snprintf(dates, sizeof dates, "\t%.3f\n", r.date);
        data += "removed\t" + escapeField(r.service) + "\t" + escapeField(r.account) + dates;
    }

    std::string tmp = path_ + ".tmp" + std::to_string(::getpid());
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return kIO;
    // The mode given to open is masked by the umask; the secrets must stay private.
    bool ok = ::fchmod(fd, 0600) == 0 && sys::WholeWrite::write(fd, data) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (!ok || ::rename(tmp.c_str(), path_.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return kIO;
    }
    return kSuccess;
}

template <class Call>
Keychain::Status Keychain::inSecretStoreLocked(Call call) const {
    SecretServiceStore::Scope bounded(*secrets_, kSecretServiceTimeout);
    migrateLocked();
    return call(*secrets_);
}

Keychain::Status Keychain::copyMatching(const KeychainQuery& query,
                                        std::vector<KeychainItem>* items) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (secrets_) {
        const Status st = inSecretStoreLocked([&](SecretServiceStore& s) { return s.copyMatching(query, items); });
        // What the file keeps while the store is away is found there; all
        // else is unknown, not missing.
        if (st != kNotAvailable || fileCopyMatchingLocked(query, items) != kSuccess) return st;
        return kSuccess;
    }
    return fileCopyMatchingLocked(query, items);
}

Keychain::Status Keychain::fileCopyMatchingLocked(const KeychainQuery& query, std::vector<KeychainItem>* items) const {
    if (Status st = loadLocked(); st != kSuccess) return st;
    std::vector<KeychainItem> found;
    for (const auto& it : items_)
        if (matches(it, query)) found.push_back(it);
    if (found.empty()) return kItemNotFound;
    if (items) *items = std::move(found);
    return kSuccess;
}

Keychain::Status Keychain::add(const std::string& service, const std::string& account,
                               const std::string& value) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (secrets_) {
        const Status st = inSecretStoreLocked([&](SecretServiceStore& s) { return s.add(service, account, value); });
        if (st != kNotAvailable) return st;
        // The store went away or stopped answering: the item goes where it
        // goes without one, and into the store once it is back.
        logFileFallbackOnce("the secret store left the session bus or stopped answering", path_);
        migrationPending_ = true;
    }
    if (Status st = loadLocked(); st != kSuccess) return st;
    for (const auto& it : items_)
        if (it.service == service && it.account == account) return kDuplicateItem;
    auto next = items_;
    double now = wallNow();
    next.push_back(KeychainItem{service, account, value, now, now});
    if (Status st = saveLocked(next, removals_); st != kSuccess) return st;
    items_ = std::move(next);
    return kSuccess;
}

Keychain::Status Keychain::update(const KeychainQuery& query, const KeychainChanges& changes) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!secrets_) return fileUpdateLocked(query, changes);
    const Status st = inSecretStoreLocked([&](SecretServiceStore& s) { return s.update(query, changes); });
    // What the file still keeps (saved while the store was away) is changed
    // there too, whatever the store answered (away, locked): else the old
    // value would move into the store once it can take it.
    return withFileLocked(st, query, [&] { return fileUpdateLocked(query, changes); });
}

Keychain::Status Keychain::fileUpdateLocked(const KeychainQuery& query, const KeychainChanges& changes) {
    if (Status st = loadLocked(); st != kSuccess) return st;
    auto next = items_;
    double now = wallNow();
    bool any = false;
    for (auto& it : next) {
        if (!matches(it, query)) continue;
        any = true;
        if (changes.service) it.service = *changes.service;
        if (changes.account) it.account = *changes.account;
        if (changes.value) it.value = *changes.value;
        it.modificationDate = now;
    }
    if (!any) return kItemNotFound;
    for (size_t i = 0; i < next.size(); ++i)
        for (size_t j = i + 1; j < next.size(); ++j)
            if (next[i].service == next[j].service && next[i].account == next[j].account)
                return kDuplicateItem;
    if (Status st = saveLocked(next, removals_); st != kSuccess) return st;
    items_ = std::move(next);
    return kSuccess;
}

Keychain::Status Keychain::remove(const KeychainQuery& query) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!secrets_) return fileRemoveLocked(query);
    const Status st = inSecretStoreLocked([&](SecretServiceStore& s) { return s.remove(query); });
    // What the file still keeps goes from there at once, whatever the store
    // answered: else it would move into the store once that is back or
    // unlocked, and the password the user removed would be there again.
    const Status result = withFileLocked(st, query, [&] { return fileRemoveLocked(query); });
    if (result == kIO || (st != kNotAvailable && st != kInteractionNotAllowed) || !query.service || !query.account)
        return result;
    // The store (away or locked) may still hold the item: the removal is
    // kept in the file and made in the store once it can be asked.
    return noteRemovalLocked(*query.service, *query.account);
}

Keychain::Status Keychain::noteRemovalLocked(const std::string& service, const std::string& account) {
    if (Status st = loadLocked(); st != kSuccess) return st;
    std::vector<KeychainRemoval> next;
    for (const auto& r : removals_)
        if (r.service != service || r.account != account) next.push_back(r);
    next.push_back(KeychainRemoval{service, account, wallNow()});
    if (Status st = saveLocked(items_, next); st != kSuccess) return st;
    removals_ = std::move(next);
    migrationPending_ = true;
    return kSuccess;
}

Keychain::Status Keychain::fileRemoveLocked(const KeychainQuery& query) {
    if (Status st = loadLocked(); st != kSuccess) return st;
    std::vector<KeychainItem> next;
    for (const auto& it : items_)
        if (!matches(it, query)) next.push_back(it);
    if (next.size() == items_.size()) return kItemNotFound;
    if (Status st = saveLocked(next, removals_); st != kSuccess) return st;
    items_ = std::move(next);
    return kSuccess;
}

template <class FileChange>
Keychain::Status Keychain::withFileLocked(Status store, const KeychainQuery& query, FileChange change) {
    // An unreadable file is left alone (nothing moves from it either), and
    // one that holds no such item has nothing to change.
    if (fileCopyMatchingLocked(query, nullptr) != kSuccess) return store;
    const Status file = change();
    if (file != kSuccess) return file;
    // The file's change moves into the store with the rest of the file.
    migrationPending_ = true;
    // Done, unless the store may hold such an item that it could not change.
    return store == kItemNotFound || store == kNotAvailable ? kSuccess : store;
}

}  // namespace sys
