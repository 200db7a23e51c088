#pragma once

#include "cloud/CloudService.h"
#include "cloud/HttpEasy.h"
#include "remote/stream/BlockLoaderStreamRead.h"

#include <atomic>
#include <functional>
#include <optional>
#include <string>

// Reads a book on a web server in place: the block cache of RemoteStreamRead
// filled with one HTTP range request per 256 KiB block. Opening asks for the
// first block, whose answer (Content-Range, ETag) also tells the length, the
// file's validator and that ranges are served; for a file with a cache
// already, whose first block may be there, it asks for nine bytes instead.
// openURL returns once the answer's headers are in. The loader thread then
// fetches the spans readers ask for (requestSpan) and the blocks, in the
// order the cache chooses (those a waiting read needs first), over one
// reused connection, until the file is complete or the stream is closed.
//
// A server that ignores ranges is found by the probe, which stops at the
// answer's headers instead of taking the whole file (isUnsupportedServer:
// the caller downloads instead). A block is taken only from a 206 that
// starts at the byte asked for and covers the block, of the same length and
// the same ETag (a span likewise); anything else fails the stream. Dropped or refused
// connections are retried without end, after a pause from the second
// failure in a row on, until the stream is closed or cancelled.
//
// A cloud item (fileInfo holding "dropboxKey", "googledriveKey",
// "onedriveKey" or "boxapikey", the listing's item keys) is read from the
// service's download address with the account's bearer token, renewed when
// missing, near its expiry or refused; a redirect to the service's storage
// keeps the range but not the token.
class HTTPURLStreamRead : public BlockLoaderStreamRead {
public:
    HTTPURLStreamRead();
    ~HTTPURLStreamRead() override;

    // Makes newStreamWithProtocol() give these readers for web URLs.
    static void registerWithEngine();

    bool openURL(const std::string& url) override;

    // The service whose item this is, by fileInfo's keys; none for a plain URL.
    std::optional<CloudService> cloudService() const;
    // The address actually asked for `url`: the service's download address
    // for a cloud item, else `url`.
    std::string fixURLforCloudService(const std::string& url) const;

private:
    bool probe() override;
    // One length probe; the answer's status (0 when none came).
    int probeOnce();
    Outcome fetchBlock(uint64_t block) override;
    bool canFetchSpans() const override { return true; }
    Outcome fetchSpan(int64_t offset, uint64_t size) override;
    // One range request for the bytes [first, last], checked against the
    // length and validator; `begin` opens the cache's transfer (false: the
    // bytes are no longer wanted, and nothing is taken).
    Outcome fetchRange(int64_t first, int64_t last, const std::function<bool()>& begin);
    HttpRequest baseRequest();
    // After a 401 for a cloud item: a new token (worker thread); false when
    // none could be had.
    bool renewCloudToken();

    HttpEasy easy_;
    bool validatorIsETag_ = false;
    // The cloud item's token (loader thread only).
    std::string cloudToken_;
    bool probed_ = false;
};

// The same reader for plain http addresses.
class HTTPStreamRead : public HTTPURLStreamRead {};
