#pragma once

#include "platform/core/PlistDictionary.h"
#include "platform/core/Thread.h"
#include "platform/net/ReceiveMeter.h"
#include "remote/listing/RemoteFileEntry.h"
#include "remote/protocols/SmbClientChoice.h"
#include "remote/protocols/SmbStackClient.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class QNSmbClient;
// An SMB share list or folder listed for FileDownload on a worker thread of
// its own, through the client SmbClientChoice gives (the stack's SMB2/3
// client, our SMB1 client, or the automatic choice between them), with the
// server's failures turned into what the user sees: a message (with the
// code), a password request, the "Access Denied." question, the question
// whether the site's credentials may go to another server a DFS link leads
// to, or the hint that
// the other SMB library may do better (requireSMB2, only where the site or
// the setting asked for our SMB1 client).
class SmbListing : public std::enable_shared_from_this<SmbListing> {
public:
    // DfsCredentials: a DFS link leads to another server that lets no guest
    // in, and the user has not said whether the site's credentials may go
    // there (SmbDfsCredentials): `site` and `dfsServer` say which.
    enum class Outcome { Listed, Failed, PasswordRequested, AccessDenied, DfsCredentials };
    struct Result {
        Outcome outcome = Outcome::Failed;
        RemoteFileEntry entries;
        std::string message;
        bool requireSMB2 = false;
        std::string site, dfsServer;
    };
    using Completion = std::function<void(const Result&)>;

    struct Request {
        std::string url;  // as opened: entries are made from it
        std::string userName, password;
        SmbClientChoice::Library library = SmbClientChoice::Library::Stack;
        bool hideDotFiles = false;
        bool netBiosResolveError = false;
        std::string netBiosName;  // the host's NetBIOS name, when it had one
        // What the listing's connections receive counts into it (none: not counted).
        std::shared_ptr<net::ReceiveMeter> meter;
    };

    // What a URL names: the share ("" for the share list) and the
    // backslash path inside it ("" for the share's root).
    struct Target {
        std::string server;  // host, or host:port
        std::string host;
        std::string share;
        std::string path;
    };

    SmbListing();
    ~SmbListing();

    static std::optional<Target> targetOf(const std::string& url);
    // Entries of the records listed at `baseURL` in the order received.
    // Share records have no attributes; `lastWriteTimeIs1601` tells the
    // stack's time stamps (100-ns ticks since 1601) from ours (seconds).
    struct Record {
        std::string name;
        std::optional<uint32_t> attributes;
        std::optional<uint32_t> type;
        std::optional<std::string> comment;
        std::optional<uint64_t> size;
        std::optional<uint64_t> lastWriteTime;
    };
    static RemoteFileEntry entriesOf(const std::vector<Record>& records, const std::string& baseURL,
                                     bool hideDotFiles, bool lastWriteTimeIs1601);
    // "%@\n(CODE=SMB%08X)" and the like.
    static std::string withCode(const std::string& text, const char* format, uint32_t code);

    // Lists on a worker thread; `done` runs once on the main thread unless
    // cancelled first.
    void start(const Request& request, Completion done);
    // Stops the client and returns at once, without waiting for the worker
    // (it may sit in a name look-up no cancel reaches): the process keeps it
    // until it ends. No completion after this.
    void cancel();

private:
    // What the worker uses: it may outlive the listing after a cancel.
    struct Job {
        std::mutex mutex;
        std::shared_ptr<SmbStackClient> stack;  // guarded by mutex
        std::shared_ptr<std::atomic<bool>> cancelled = std::make_shared<std::atomic<bool>>(false);
    };
    static void run(Job& job, Request request, Completion done);
    static std::optional<Result> list(Job& job, const Request& request, const Target& target);
    // Our SMB1 client's failure as the user sees it (its own codes and texts).
    static Result ownFailure(const Request& request, int error, uint32_t status, const char* failedStep,
                             bool offerSmb2);
    static void finish(Job& job, Result result, const Completion& done);

    std::shared_ptr<Job> job_;
    sys::Thread worker_;
};
