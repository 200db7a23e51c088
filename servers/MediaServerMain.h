#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

struct MHD_Daemon;
struct MHD_Connection;

// The on-device HTTP media server: shares one folder of the library with
// other devices. A folder is answered with the page our own HTTP listing
// reads (one link per entry carrying "booktitle", "booksize", "bookdate" and
// "bookfile"; "lbexpand" and "passcode" are never due here), a file with its bytes, ranges
// included, so that a book can be read in place from another device.
//
// Nothing leaves the shared folder: ".." (plain or percent-encoded),
// symbolic links that lead out, locked folders, hidden names and the
// library's own side files are answered 404. The server is off until
// `start` and is stopped by `stop`, its destruction or `releaseMediaServer`.
class MediaServerMain {
public:
    static std::shared_ptr<MediaServerMain> sharedMediaServer();
    static bool hasSharedMediaServer();
    // Releases the shared object (termination), stopping its server.
    static void releaseMediaServer();

    MediaServerMain() = default;
    ~MediaServerMain();
    MediaServerMain(const MediaServerMain&) = delete;
    MediaServerMain& operator=(const MediaServerMain&) = delete;

    // Serves `folder` on `address` (an IPv4 or IPv6 literal, "" for every
    // address) and `port` (0 picks a free one). A running server is stopped
    // first. False, with `lastError()`, when the folder or the address
    // cannot be used.
    bool start(const std::string& folder, const std::string& address, uint16_t port);
    void stop();

    bool isRunning() const;
    // The port listened on (the one picked when 0 was asked), 0 when stopped.
    uint16_t port() const;
    const std::string& address() const { return address_; }
    // The shared folder as resolved on disk ("" when stopped).
    std::string sharedFolder() const;
    const std::string& lastError() const { return lastError_; }

    // Where a request path (already percent-decoded) lies on disk, or ""
    // when it must not be served. Exposed for the tests.
    static std::string resolveRequestPath(const std::string& root, const std::string& requestPath);
    // The page of the folder at `urlPath` (percent-decoded) of the folder
    // shared as `root` (resolved on disk). Links are absolute paths.
    static std::string folderPage(const std::string& root, const std::string& urlPath);
    // Whether a name in a shared folder is left out of pages and refused.
    static bool isHiddenFromServer(const std::string& name);

private:
    friend struct MediaServerRequest;

    mutable std::mutex mutex_;
    MHD_Daemon* daemon_ = nullptr;
    std::string root_;
    std::string address_;
    uint16_t port_ = 0;
    std::string lastError_;
};
