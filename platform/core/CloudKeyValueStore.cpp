#include "platform/core/CloudKeyValueStore.h"

#include "platform/core/AppPaths.h"
#include "platform/core/Clock.h"
#include "platform/core/FileManager.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/Path.h"
#include "platform/core/PropertyList.h"
#include "platform/core/RunLoop.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace sys {

namespace {

std::mutex& defaultMutex() {
    static std::mutex m;
    return m;
}

std::shared_ptr<CloudKeyValueStore>& defaultSlot() {
    static std::shared_ptr<CloudKeyValueStore> store;
    return store;
}

// Serialises synchronisations of every device that shares the file, also
// across processes: read, merge and write happen under one lock.
class SharedFileLock {
public:
    explicit SharedFileLock(const std::string& path) {
        fd_ = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ < 0) return;
        Clock::IdleScope idle;
        while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~SharedFileLock() {
        if (fd_ >= 0) ::close(fd_);  // closing releases the lock
    }
    SharedFileLock(const SharedFileLock&) = delete;
    SharedFileLock& operator=(const SharedFileLock&) = delete;

private:
    int fd_ = -1;
};

// The shared file's dictionary: empty when there is no file yet; nothing
// when a file is there but is not a dictionary we can read (it must not be
// overwritten then).
std::optional<PlistDictionary> readShared(const std::string& path) {
    if (!FileManager::fileExists(path)) return PlistDictionary();
    return PropertyList::readDictionary(path);
}

}  // namespace

std::shared_ptr<CloudKeyValueStore> CloudKeyValueStore::defaultStore() {
    std::lock_guard<std::mutex> g(defaultMutex());
    auto& slot = defaultSlot();
    if (!slot) {
        const char* env = std::getenv(kStoreFileEnvironment);
        std::string file = env && *env ? std::string(env) : AppPaths::library() + "/cloud-kvs.plist";
        slot = atPath(file);
    }
    return slot;
}

void CloudKeyValueStore::setDefaultStore(std::shared_ptr<CloudKeyValueStore> store) {
    std::lock_guard<std::mutex> g(defaultMutex());
    defaultSlot() = std::move(store);
}

std::shared_ptr<CloudKeyValueStore> CloudKeyValueStore::atPath(const std::string& file) {
    FileManager::createDirectory(Path::stringByDeletingLastPathComponent(file), true);
    auto store = std::shared_ptr<CloudKeyValueStore>(new CloudKeyValueStore(file));
    // What the other devices stored so far is there from the start.
    SharedFileLock lock(file);
    if (auto shared = readShared(file)) {
        store->values_ = *shared;
        store->base_ = *shared;
    }
    return store;
}

CloudKeyValueStore::CloudKeyValueStore(std::string path) : path_(std::move(path)) {}

CloudKeyValueStore::~CloudKeyValueStore() { stopWatching(); }

PlistValue CloudKeyValueStore::objectForKey(std::string_view key) const {
    std::lock_guard<std::mutex> g(mutex_);
    return values_.get(key);
}

std::optional<PlistDictionary> CloudKeyValueStore::dictionaryForKey(std::string_view key) const {
    std::lock_guard<std::mutex> g(mutex_);
    return values_.getDictionary(key);
}

void CloudKeyValueStore::setObject(PlistValue value, std::string_view key) {
    std::lock_guard<std::mutex> g(mutex_);
    pending_[std::string(key)] = value;
    values_.set(key, std::move(value));
}

void CloudKeyValueStore::removeObjectForKey(std::string_view key) { setObject(PlistValue(), key); }

PlistDictionary CloudKeyValueStore::dictionaryRepresentation() const {
    std::lock_guard<std::mutex> g(mutex_);
    return values_;
}

bool CloudKeyValueStore::synchronize() {
    std::vector<std::string> changed;
    {
        std::lock_guard<std::mutex> g(mutex_);
        SharedFileLock lock(path_);
        std::optional<PlistDictionary> shared = readShared(path_);
        if (!shared) return false;

        // What other devices changed since our last look, except where this
        // device has a newer value of its own.
        std::vector<std::string> keys = shared->keys();
        for (const auto& k : base_.keys()) {
            if (!shared->contains(k)) keys.push_back(k);
        }
        std::sort(keys.begin(), keys.end());
        keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
        for (const auto& k : keys) {
            const PlistValue& now = shared->get(k);
            if (now == base_.get(k) || pending_.count(k)) continue;
            values_.set(k, now);
            changed.push_back(k);
        }

        if (!pending_.empty()) {
            PlistDictionary merged = *shared;
            for (const auto& [k, v] : pending_) merged.set(k, v);
            if (!PropertyList::writeFile(PlistValue(merged), path_)) return false;
            shared = std::move(merged);
            pending_.clear();
        }
        base_ = std::move(*shared);
    }
    if (!changed.empty()) postChanges(std::move(changed));
    return true;
}

void CloudKeyValueStore::postChanges(std::vector<std::string> keys) {
    const void* sender = this;
    RunLoop::main().post([sender, keys = std::move(keys)] {
        NotificationCenter::defaultCenter().post(kDidChangeExternallyNotification, sender,
                                                 {{kChangedKeysKey, keys}, {kChangeReasonKey, int(kServerChange)}});
    });
}

bool CloudKeyValueStore::startWatching() {
    std::lock_guard<std::mutex> g(watchMutex_);
    if (watcher_) return true;
    int inotifyFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotifyFd < 0) return false;
    // The file is replaced by a rename on every write, so the folder is
    // watched, not the file.
    std::string folder = Path::stringByDeletingLastPathComponent(path_);
    if (::inotify_add_watch(inotifyFd, folder.empty() ? "." : folder.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO) < 0) {
        ::close(inotifyFd);
        return false;
    }
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0) {
        ::close(inotifyFd);
        return false;
    }
    int wakeFd = wakeFd_;
    watcher_ = std::make_unique<Thread>(
        [this, inotifyFd, wakeFd](const std::atomic<bool>& stop) {
            watchLoop(inotifyFd, wakeFd, stop);
            ::close(inotifyFd);
        },
        "cloud-kvs");
    return true;
}

void CloudKeyValueStore::watchLoop(int inotifyFd, int wakeFd, const std::atomic<bool>& stop) {
    const std::string name = Path::lastPathComponent(path_);
    alignas(inotify_event) char buffer[4096];
    while (!stop.load()) {
        pollfd fds[2] = {{inotifyFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        int n;
        {
            Clock::IdleScope idle;
            n = ::poll(fds, 2, -1);
        }
        if (n < 0 && errno != EINTR) return;
        if (stop.load() || (fds[1].revents & POLLIN)) return;
        bool ours = false;
        for (;;) {
            ssize_t len = ::read(inotifyFd, buffer, sizeof buffer);
            if (len <= 0) break;
            for (char* p = buffer; p < buffer + len;) {
                auto* ev = reinterpret_cast<inotify_event*>(p);
                if (ev->len > 0 && name == ev->name) ours = true;
                p += sizeof(inotify_event) + ev->len;
            }
        }
        if (!ours) continue;
        std::weak_ptr<CloudKeyValueStore> weak = weak_from_this();
        RunLoop::main().post([weak] {
            if (auto self = weak.lock()) self->synchronize();
        });
    }
}

void CloudKeyValueStore::stopWatching() {
    std::unique_ptr<Thread> watcher;
    int wakeFd;
    {
        std::lock_guard<std::mutex> g(watchMutex_);
        watcher = std::move(watcher_);
        wakeFd = wakeFd_;
        wakeFd_ = -1;
    }
    if (!watcher) return;
    watcher->requestStop();
    uint64_t one = 1;
    [[maybe_unused]] ssize_t w = ::write(wakeFd, &one, sizeof one);
    watcher->join();
    ::close(wakeFd);
}

bool CloudKeyValueStore::isWatching() const {
    std::lock_guard<std::mutex> g(watchMutex_);
    return watcher_ != nullptr;
}

}  // namespace sys
