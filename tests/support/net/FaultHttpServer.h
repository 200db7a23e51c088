#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace test {

// A small HTTP/1.1 file server of our own on 127.0.0.1 that misbehaves on
// request, for the stream and download tests. It serves the files under its
// root with single byte ranges, an ETag and a Last-Modified like nginx's, and
// logs every request. Faults are chosen per request by query parameters, so a
// stream opened on such a URL sees them on every request it makes:
//
//   delay_ms=N      wait N ms (real time) before answering
//   rate=B          send the body at about B bytes per second
//   drop_after=N    close the connection after N body bytes ...
//   drop_times=K    ... for the first K requests of the path only
//   stall_after=N   send N body bytes, then nothing more until the client
//                   goes away or the server stops
//   norange=1       ignore Range: always 200 with the whole file
//   norange_from=K  the K-th and later requests of the path ignore Range
//   fail416_from=K  the K-th and later requests of the path get 416
//   stall_from=K    the K-th and later requests of the path get no answer
//                   until the client goes away or the server stops
//   etag=X          send ETag "X" (a new version of the file, as a server
//                   would announce it)
//   range_shift=N   answer a range with the bytes N further on (N may be
//                   negative), reporting them truthfully in Content-Range
//   short_range=N   answer with a 206 of at most N bytes from the first byte
//                   asked for (from 0 when no range was asked), reporting
//                   them truthfully: short but self-consistent ...
//   short_times=K   ... for the first K requests of the path only
//   drip_ms=N       send the head at once, then the body one byte every
//                   N ms (until the client goes away or the server stops)
//   header_bytes=N  a file's answer carries a header line of N bytes more
//   propfind_body=X a PROPFIND is answered 207 with X (as written) as its body
//
// Requests are numbered per path (without the query) from 1. The server
// runs on its own threads (not counted by the virtual clock).
//
// It also answers PROPFIND (Depth 0 or 1) on its files and folders as a
// WebDAV server does: hrefs as absolute paths with upper-case escapes, a
// resourcetype, getcontentlength and getlastmodified. setDavFolderSlash(false)
// writes every folder's href without its final "/" (the listed folder's own
// too), as several servers do.
class FaultHttpServer {
public:
    struct Request {
        std::string method;
        std::string target;  // path and query as sent
        std::string path;    // without the query
        std::string range;   // the Range header, "" when none
        std::string authorization;  // the Authorization header, "" when none
        int status = 0;
        uint64_t bodyBytes = 0;
        bool finished = false;  // answered, or given up (a stall the client left)
    };

    explicit FaultHttpServer(std::string root);
    ~FaultHttpServer();
    FaultHttpServer(const FaultHttpServer&) = delete;
    FaultHttpServer& operator=(const FaultHttpServer&) = delete;

    // Listens on 127.0.0.1:port (0 = a free port). False when it cannot.
    bool start(int port = 0);
    void stop();
    int port() const { return port_; }
    // "http://127.0.0.1:<port>" + pathAndQuery (which starts with "/").
    std::string url(const std::string& pathAndQuery) const;

    void setDavFolderSlash(bool on) { davFolderSlash_ = on; }
    std::vector<Request> requests() const;
    // Requests whose path equals `path` ("" counts all).
    size_t requestCount(const std::string& path = "") const;
    // Forgets the log; the per-path numbering of the faults goes on.
    void clearRequests();
    // Waits, in real time at most `seconds`, until `n` connections are held by
    // a stall fault. For tests that must act while a client is stuck.
    bool waitForStalled(int n, double seconds);
    // Waits, in real time at most `seconds`, until every logged request is
    // finished: a client may read the answer before the server logs it.
    bool waitForAnswered(double seconds);

private:
    void acceptLoop();
    void serve(int fd);
    bool pause(int ms);  // false when the server stops meanwhile
    // The 207 reply to a PROPFIND of `rel` (decoded, below the root).
    std::string propfind(const std::string& rel, bool depthZero) const;
    // Keeps the connection open, sending nothing, until the client closes it
    // or the server stops.
    void holdUntilClosed(int fd);

    std::string root_;
    int listenFd_ = -1;
    int wakeFd_[2] = {-1, -1};
    int port_ = 0;
    std::thread acceptor_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::thread> connections_;
    std::vector<Request> log_;
    size_t logStart_ = 0;
    std::map<std::string, int> perPath_;
    int stalled_ = 0;
    bool davFolderSlash_ = true;
    bool stopping_ = false;
};

}  // namespace test
