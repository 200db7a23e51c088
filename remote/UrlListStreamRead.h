#pragma once

#include "engine/UrlListStream.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// The remote sources' page-by-page fetcher behind the engine's UrlListStream:
// a list of page addresses (a folder of images on a server, a companion-
// server book, or a remote PDF as a one-page list) fetched over each page's
// own protocol (HTTP(S), SMB through the client SmbClientChoice gives for the
// site, FTP through our FTP client) into a per-page cache
// ("streaming_cache.dir" under the remote cache path, described by
// "streaming_cache.plist" as [book, pages, complete, expanded]). SMB and FTP
// pages of a book share one connection, made again once when it broke.
//
// A page is fetched when it is asked for, on a worker of this object while
// the caller waits (the main loop keeps turning when the caller is the main
// thread); a page already in the cache of the same book is not fetched
// again. Every size is capped and cancelStreaming ends a wait at once.
class QNFtpRequestSync;
class SmbStackClient;

class UrlListStreamRead : public UrlListStream {
public:
    // Largest page file (a whole PDF); a longer answer fails the page.
    static constexpr uint64_t kMaxPageBytes = 2ull << 30;
    // Largest companion-server index and its number of entries.
    static constexpr size_t kMaxIndexBytes = 4u << 20;
    static constexpr size_t kMaxIndexEntries = 100'000;

    UrlListStreamRead() = default;
    ~UrlListStreamRead() override;

    // Makes this class the engine's fetcher (at start-up).
    static void registerWithEngine();

    // The index is a property-list array of entry paths, or one path a line.
    std::optional<std::vector<std::string>> getIndex(const std::string& indexUrl) override;
    // The entries of an index as fetched; nothing when it holds more than
    // kMaxIndexEntries or is a property list of another shape.
    static std::optional<std::vector<std::string>> parseIndex(const std::string& body);
    bool openUrls(const std::vector<std::string>& urls, const std::optional<std::vector<int32_t>>& globalPageNoList,
                  int64_t totalPage, const std::string& infoURL, bool isLbExpand) override;
    std::optional<std::string> getLocalCachePath(int64_t index) override;
    void closeUrls() override;
    void cancelStreaming() override;

    bool isOpen() const { return isOpen_; }
    bool isCancelled() const { return isCancelled_.load(); }
    // The cache file page `index` is kept in (whether or not it is there).
    std::string pagePath(int64_t index) const;

private:
    // Fetches one address into `path` (through a ".part" file); false on any
    // failure, a cancel included. Runs on a worker.
    bool fetch(const std::string& url, const std::string& path, int64_t index, std::string* body, size_t maxBody);
    bool fetchSmb(const std::string& url, const std::string& path, int64_t index);
    bool fetchFtp(const std::string& url, const std::string& path, int64_t index);
    // Writes the `length` bytes `produce` hands to its sink into `path`
    // (through a ".part" file), reporting progress; only a whole page is kept.
    using Sink = std::function<bool(const char* data, size_t size)>;
    using Producer = std::function<bool(const Sink& sink)>;
    bool writePage(const std::string& path, int64_t index, uint64_t length, const Producer& produce);
    // The user and password for a page: the book's on its own site, else the URL's.
    void siteCredentials(const std::string& url, std::string* user, std::string* password) const;
    void cancelClients();
    // Runs `work` on a worker and waits for it (turning the main loop when
    // called from it).
    bool runWorker(const std::function<bool(const std::atomic<bool>&)>& work);
    void writeCachePlist(bool complete);
    void reportPages();

    // One fetch at a time; guards the lists. Recursive: a wait on the main
    // thread turns the main loop, which may close the list.
    std::recursive_mutex mutex_;
    std::vector<std::string> urls_;
    std::vector<uint16_t> pageMap_;
    std::string cacheDir_;
    std::string infoURL_;
    int64_t totalPage_ = 0;
    bool isLbExpand_ = false;
    bool isOpen_ = false;
    std::atomic<bool> isCancelled_{false};

    // SMB and FTP pages are read in pieces of this size.
    static constexpr size_t kReadChunk = 4u << 20;
    struct FtpSession {
        std::shared_ptr<QNFtpRequestSync> client;
        std::string site;  // host, port and user
        bool loggedOn = false;
        std::optional<std::string> folder;  // the session's current folder
    };
    // Held by an SMB or FTP fetch from start to end (a nested wait on the
    // main loop may ask for a second page meanwhile).
    std::mutex fetchMutex_;
    std::mutex clientMutex_;
    std::shared_ptr<SmbStackClient> smb_;  // guarded by clientMutex_
    std::string smbServer_;                // the server smb_ is for; guarded by clientMutex_
    std::shared_ptr<FtpSession> ftp_;      // guarded by clientMutex_
};
