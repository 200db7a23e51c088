#pragma once

#include "platform/core/Thread.h"
#include "platform/net/ReceiveMeter.h"
#include "remote/listing/RemoteFileEntry.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

class QNFtpRequestSync;

// An FTP folder listed for FileDownload: the listing (MLSD where the server
// offers it, else LIST) fetched over our own FTP client on a worker thread
// (fetch), and that text read into entries (getListFromFtpList).
//
// Entry URLs never carry the user or password: those travel beside the URL
// (the list screen keeps them), so that no URL written to disk holds them.
class FtpListing : public std::enable_shared_from_this<FtpListing> {
public:
    // User and password for a site that names none.
    static constexpr const char* kAnonymousUser = "anonymous";
    static constexpr const char* kAnonymousPassword = "leaf.bright";

    // Busy: the server takes no session now (421); worth a try later.
    enum class Outcome { Listed, LoginRefused, Busy, Failed, TooLarge };
    struct Result {
        Outcome outcome = Outcome::Failed;
        std::string text;
        int status = 0;  // the client's status code of a failure
    };
    using Completion = std::function<void(const Result&)>;

    FtpListing();
    ~FtpListing();

    // Lists the folder of `url` (ftp://host[:port]/path/, credentials in it
    // or given) and calls `done` once on the main thread, unless cancelled.
    void fetch(const std::string& url, const std::string& user, const std::string& password, size_t maxBytes,
               Completion done);
    // What the listing's connections receive counts into `meter` (before
    // fetch).
    void setReceiveMeter(std::shared_ptr<net::ReceiveMeter> meter) { meter_ = std::move(meter); }
    // No completion after this returns. Returns at once: the worker, whose
    // connection is closed under it, ends on its own (the process joins it).
    void cancel();

    // Entries of a LIST or MLSD text listed at `listedURL`: names decoded in
    // `charset` ("" or "Default": UTF-8, then detection), folders and book,
    // PDF and theme files kept, each URL the name's bytes in the text's
    // encoding percent-escaped and resolved against the listed folder.
    // Names that would leave the folder ("", ".", "..", a "/" inside) are
    // dropped. isListEncodeError tells that the text could not be decoded.
    static RemoteFileEntry getListFromFtpList(const std::string& body, const std::string& listedURL,
                                              const std::string& charset, bool* isListEncodeError);

private:
    std::shared_ptr<QNFtpRequestSync> client_;
    std::shared_ptr<std::atomic<bool>> cancelled_;
    std::shared_ptr<net::ReceiveMeter> meter_;
    sys::Thread worker_;
};
