#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct MHD_Daemon;
struct MHD_Connection;

// The on-device HTTP media server: shares one folder of the library with
// other devices. A folder is answered with the page our own HTTP listing
// reads (one link per entry carrying "booktitle", "booksize", "bookdate" and
// "bookfile"; "lbexpand" and "passcode" are never due here), a file with its bytes, ranges
// included, so that a book can be read in place from another device.
//
// The server is off until `start` and is stopped by `stop`, its destruction
// or `releaseMediaServer`. What it refuses:
// - a request whose Host is not an address of this machine, "localhost" or
//   this machine's name (a web page in a browser reaching the folder through
//   a name of its own that was pointed at this machine);
// - anything outside the shared folder: ".." (plain or percent-encoded) and
//   symbolic links (paths are opened one component at a time from the
//   folder's own descriptor, never following a link, so a link swapped in
//   while a request runs leads nowhere);
// - hidden names and the library's own side files, anything but folders and
//   regular files (a FIFO or a device never holds up a request);
// - locked folders: below the shared folder, the shared folder itself and
//   the folders above it up to the library's Documents, checked on every
//   request;
// - methods other than GET and HEAD, and any request with a body (answered
//   at once and the connection closed: a body dripped in a byte at a time
//   would hold the connection for ever);
// - every request while the program is behind its start-up lock;
// - more than `Limits::connectionsPerAddress` connections from one address,
//   and a connection whose request headers have not all arrived within
//   `Limits::headerDeadline` seconds (trickling header lines keeps no-one
//   else out).
class MediaServerMain {
public:
    struct Limits {
        unsigned connections = 512;
        unsigned connectionsPerAddress = 32;
        // Seconds from a connection's start, or from its last answer, to the
        // end of the next request's headers.
        double headerDeadline = 15;
        // Seconds without any progress while a request is being answered.
        unsigned idleTimeout = 60;
    };

    // While the program is locked (its start-up lock's cover up, the
    // passphrase not yet given) every server answers 503 to every request.
    static void setProgramLocked(bool locked);

    static std::shared_ptr<MediaServerMain> sharedMediaServer();
    static bool hasSharedMediaServer();
    // Releases the shared object (termination), stopping its server.
    static void releaseMediaServer();

    MediaServerMain() = default;
    ~MediaServerMain();
    MediaServerMain(const MediaServerMain&) = delete;
    MediaServerMain& operator=(const MediaServerMain&) = delete;

    // For the next start.
    void setLimits(const Limits& limits) { limits_ = limits; }
    // Locks on folders from the shared one up to this one (exclusive) count;
    // "" (the default) takes the library's Documents. For the next start.
    void setLockScope(const std::string& folder) { lockScope_ = folder; }

    // Serves `folder` on `address` (an IPv4 or IPv6 literal, "" for every
    // IPv4 address) and `port` (0 picks a free one). A running server is
    // stopped first. False, with `lastError()`, when the folder or the
    // address cannot be used.
    bool start(const std::string& folder, const std::string& address, uint16_t port);
    void stop();

    bool isRunning() const;
    // The port listened on (the one picked when 0 was asked), 0 when stopped.
    uint16_t port() const;
    const std::string& address() const { return address_; }
    // The addresses other devices can open, "http://A:port/": the address
    // listened on, or with every address each interface's IPv4 address (this
    // machine's own loopback address last). Empty when stopped.
    std::vector<std::string> reachableURLs() const;
    // The shared folder as resolved on disk ("" when stopped).
    std::string sharedFolder() const;
    const std::string& lastError() const { return lastError_; }

    // Whether a Host header names this machine: one of its addresses (with
    // or without a port), "localhost", or its name (also with ".local").
    static bool isOwnHost(const std::string& host);
    // Opens what a request path (already percent-decoded) names below the
    // folder open as `rootFd`: a folder or a regular file, as a descriptor
    // the caller closes; -1 when it must not be served. Exposed for the tests.
    static int openRequestPath(int rootFd, const std::string& requestPath);
    // The page of the folder open as `dirFd`, reached at `urlPath`
    // (percent-decoded) and titled `title`. Links are absolute paths.
    static std::string folderPage(int dirFd, const std::string& urlPath, const std::string& title);
    // Whether a name in a shared folder is left out of pages and refused.
    static bool isHiddenFromServer(const std::string& name);

private:
    friend struct MediaServerRequest;
    // Whether the shared folder is still where it was shared and neither it
    // nor a folder above it (within the lock scope) is locked.
    bool rootIsOpen() const;
    // The request on `c` has all arrived: it is no longer late.
    void requestArrived(MHD_Connection* c);
    void watchHeaders();
    void stopWatching();

    mutable std::mutex mutex_;
    MHD_Daemon* daemon_ = nullptr;
    int rootFd_ = -1;
    std::string root_;
    std::string lockScope_;
    std::string scope_;  // the resolved lock scope of the running server
    std::string address_;
    uint16_t port_ = 0;
    std::string lastError_;
    Limits limits_;

    // Connections waiting for a request's headers, with their sockets and
    // deadlines, watched by a thread of their own that shuts the late ones.
    struct Waiting {
        int fd = -1;
        double deadline = 0;  // steady-clock seconds; 0 while a request runs
    };
    std::mutex watchMutex_;
    std::condition_variable watchWake_;
    std::map<MHD_Connection*, Waiting> waiting_;
    bool watchStop_ = false;
    std::thread watcher_;
};
