#pragma once

#include "engine/RemoteStreamRead.h"
#include "platform/core/Thread.h"
#include "remote/protocols/SmbStackClient.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

// Reads a book on an SMB share in place: the block cache of
// RemoteStreamRead filled through the SMB stack's client over one
// connection, block after block in the order the cache chooses, until the
// file is complete or the stream is closed. Opening asks for the file's
// size and time; the pair is the cached copy's version.
//
// A lost connection is made again (after a pause from the second failure in
// a row on) until the stream is closed; a refusal (a wrong password, a
// missing file, access denied) fails the stream. The user and password come
// from the stream's properties, else from the URL; "domain\user" names a
// domain.
class SmbStreamRead : public RemoteStreamRead {
public:
    SmbStreamRead();
    ~SmbStreamRead() override;

    // Makes newStreamWithProtocol() give these readers for smb URLs.
    static void registerWithEngine();

    bool openURL(const std::string& url) override;
    void closeURL() override;
    void cancelStreaming() override;

    int blockRequests() const { return blockRequests_; }
    bool loaderRunning() const { return loader_.running(); }
    void joinLoader() { loader_.join(); }
    // The client's code of the failure that ended the stream.
    uint32_t lastError() const { return lastError_; }

private:
    enum class Outcome { Done, Retry, Fatal };
    struct Site {
        std::string server, share, path, domain, user, password;
    };
    void run(const std::atomic<bool>& stop);
    bool probe();
    // A fresh client with the file open; false when that failed.
    bool connect();
    Outcome fetchBlock(uint64_t block);
    void stopLoader();
    bool stopping() const { return abort_.load() || isExitStream(); }

    Site site_;
    std::mutex clientMutex_;
    std::shared_ptr<SmbStackClient> client_;  // guarded by clientMutex_
    std::shared_ptr<SmbStackClient::FileHandle> file_;
    std::atomic<bool> abort_{false};
    std::atomic<int> blockRequests_{0};
    std::atomic<int> probeState_{0};  // 0 running, 1 ok, 2 failed
    std::atomic<uint32_t> lastError_{0};
    sys::Thread loader_;
};
