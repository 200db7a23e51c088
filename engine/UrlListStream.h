#pragma once

#include "engine/RemoteStreamRead.h"
#include "platform/core/PlistDictionary.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class Settings;

// A book whose pages are separate addresses (an image folder on a server, or
// a book the companion server hands out page by page) is fetched one page at
// a time into a per-page cache. The fetcher lives with the remote sources,
// above the engine; the engine knows it only through this interface and asks
// the maker that the remote layer registers at start-up for a new one.
//
// Configure with the setters before openUrls; the implementation reads them
// from its own threads afterwards. getLocalCachePath blocks its caller until
// the page is cached; cancelStreaming (from any thread) ends that wait.
class UrlListStream : public RemoteAccess {
public:
    virtual ~UrlListStream();

    using Maker = std::function<std::shared_ptr<UrlListStream>()>;
    // The remote layer's maker; an empty function removes it.
    static void registerMaker(Maker maker);
    // A new fetcher, or null when no maker is registered.
    static std::shared_ptr<UrlListStream> newUrlListStream();

    // The companion server's entry index of one archive, fetched from
    // `indexUrl` ("<base>?archive=<name>"): entry paths in the server's order,
    // or nothing when it cannot be fetched.
    virtual std::optional<std::vector<std::string>> getIndex(const std::string& indexUrl) = 0;

    // Prepares the page cache for `urls` and starts fetching in the
    // background. `globalPageNoList` is parallel to `urls` or absent;
    // `totalPage` is the number of pages of the whole book; `infoURL` names
    // the book. False when streaming cannot start.
    virtual bool openUrls(const std::vector<std::string>& urls,
                          const std::optional<std::vector<int32_t>>& globalPageNoList, int64_t totalPage,
                          const std::string& infoURL, bool isLbExpand) = 0;

    // The local file of page `index` once all of it is cached (fetched first
    // when needed); nothing when it cannot be fetched or the wait was cancelled.
    virtual std::optional<std::string> getLocalCachePath(int64_t index) = 0;

    // Stops fetching, waits for the fetcher's threads and frees its buffers.
    // Safe on a fetcher that never opened, and more than once.
    virtual void closeUrls() = 0;
    // Cancels the running fetch and any waiting getLocalCachePath.
    virtual void cancelStreaming() = 0;

    // ---- Configuration ---------------------------------------------------------
    // Receives updateCacheStatus and updateCacheBlock; not owned.
    void setDelegate(std::weak_ptr<RemoteStreamReadDelegate> delegate) { delegate_ = std::move(delegate); }
    std::shared_ptr<RemoteStreamReadDelegate> delegate() const { return delegate_.lock(); }
    // Pages only from the local page cache, never from the server.
    void setIsOfflineMode(bool on) { isOfflineMode_ = on; }
    bool isOfflineMode() const { return isOfflineMode_; }
    // Cache under the thumbnail jobs' path.
    void setIsThumbsCreateMode(bool on) { isThumbsCreateMode_ = on; }
    bool isThumbsCreateMode() const { return isThumbsCreateMode_; }

    // The server ("host:port") whose certificate was refused in the last
    // fetch that met one, perhaps one a redirect led to; empty when none.
    std::string untrustedServer() const {
        std::lock_guard<std::mutex> lock(untrustedMutex_);
        return untrustedServer_;
    }

    // A fetch was refused for its user name or password.
    bool isAuthRefused() const { return isAuthRefused_; }

protected:
    void setIsAuthRefused(bool on) { isAuthRefused_ = on; }
    void setUntrustedServer(const std::string& server) {
        std::lock_guard<std::mutex> lock(untrustedMutex_);
        untrustedServer_ = server;
    }

private:
    std::weak_ptr<RemoteStreamReadDelegate> delegate_;
    bool isOfflineMode_ = false;
    bool isThumbsCreateMode_ = false;
    std::atomic<bool> isAuthRefused_{false};
    mutable std::mutex untrustedMutex_;
    std::string untrustedServer_;
};
