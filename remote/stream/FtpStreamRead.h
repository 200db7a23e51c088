#pragma once

#include "engine/RemoteStreamRead.h"
#include "platform/core/Thread.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

class QNFtpRequestSync;

// Reads a book on an FTP server in place: the block cache of
// RemoteStreamRead filled by our FTP client, one REST + RETR per 256 KiB
// block, stopped with ABOR as soon as the block has arrived. Opening logs on,
// changes to the file's folder and asks its SIZE; a loader thread then
// fetches the blocks in the order the cache chooses until the file is
// complete or the stream is closed.
//
// A server that cannot tell the size or resume at an offset is reported as
// an unsupported FTP server (isUnsupportedFtp: the caller downloads
// instead). Dropped or refused connections are retried without end, after
// a pause from the second failure in a row on, until the stream is closed
// or cancelled. The user and password come from the stream's properties,
// else from the URL, else the anonymous log-on is used.
class FtpStreamRead : public RemoteStreamRead {
public:
    FtpStreamRead();
    ~FtpStreamRead() override;

    // Makes newStreamWithProtocol() give these readers for ftp URLs.
    static void registerWithEngine();

    bool openURL(const std::string& url) override;
    void closeURL() override;
    void cancelStreaming() override;

    int blockRequests() const { return blockRequests_; }
    bool loaderRunning() const { return loader_.running(); }
    void joinLoader() { loader_.join(); }

private:
    enum class Outcome { Done, Retry, Fatal };
    struct Site {
        std::string host, user, password, folder, name;
        int port = 21;
    };
    void run(const std::atomic<bool>& stop);
    bool probe();
    Outcome fetchBlock(uint64_t block);
    // Logs on and changes to the file's folder with a fresh client; a
    // status of the client (0 when ready).
    int logOn(const std::shared_ptr<QNFtpRequestSync>& client);
    void setClient(std::shared_ptr<QNFtpRequestSync> client);
    void stopLoader();
    bool stopping() const { return abort_.load() || isExitStream(); }

    Site site_;
    std::mutex clientMutex_;
    std::shared_ptr<QNFtpRequestSync> client_;  // guarded by clientMutex_
    std::atomic<bool> abort_{false};
    std::atomic<int> blockRequests_{0};
    std::atomic<int> probeState_{0};  // 0 running, 1 ok, 2 failed
    sys::Thread loader_;
};
