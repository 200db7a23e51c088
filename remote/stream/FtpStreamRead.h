#pragma once

#include "remote/stream/BlockLoaderStreamRead.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

class QNFtpRequestSync;

// Reads a book on an FTP server in place: the block cache of
// RemoteStreamRead filled by our FTP client over one logged-on session per
// open book. Opening logs on, changes to the file's folder and asks its
// SIZE; the loader thread then fetches the blocks the cache asks for on the
// same session: one RETR (with REST at the first wanted block) reads on
// block after block for as long as the next block is wanted, and is broken
// off only when the reader wants a block elsewhere (a seek). The session is
// logged on again only when the server has closed it, and ended (QUIT) when
// the file is complete.
//
// A server that cannot tell the size or resume at an offset is reported as
// an unsupported FTP server (isUnsupportedFtp: the caller downloads
// instead). Once open, a busy server (421) is tried again, and so are
// dropped connections, after a pause from the second failure in a row on,
// until the stream is closed or cancelled. The user and password come from the stream's
// properties, else from the URL, else the anonymous log-on is used.
class FtpStreamRead : public BlockLoaderStreamRead {
public:
    FtpStreamRead();
    ~FtpStreamRead() override;

    // Makes newStreamWithProtocol() give these readers for ftp URLs.
    static void registerWithEngine();

    bool openURL(const std::string& url) override;

    // Log-ons so far.
    int logOns() const { return logOns_.load(); }
    // A transfer reads on over at most this many blocks to reach the block
    // wanted next, rather than break off and start again there (breaking off
    // costs a round trip and what was already on its way).
    static constexpr uint64_t kReadOnBlocks = 4;
    // The receive buffer of its data connections: what a broken-off
    // transfer can waste, and enough for a window of 10 MB/s at 50 ms.
    static constexpr int kDataReceiveBuffer = 256 * 1024;

private:
    struct Site {
        std::string host, user, password, folder, name;
        int port = 21;
    };
    bool probe() override;
    Outcome fetchBlock(uint64_t block) override;
    void cancelTransfer() override;
    void loaderDone() override;
    // The session, logged on and in the file's folder: logs on when there
    // is none or the server closed it. A status of the client (0 when ready).
    int session(std::shared_ptr<QNFtpRequestSync>* client);
    void setClient(std::shared_ptr<QNFtpRequestSync> client);
    std::shared_ptr<QNFtpRequestSync> client();
    // Ends the session (QUIT).
    void endSession();
    // Whether a transfer at the start of `next` should go on.
    bool readsOn(uint64_t next);
    uint64_t bytesOfBlock(uint64_t block) const;

    Site site_;
    std::mutex clientMutex_;
    std::shared_ptr<QNFtpRequestSync> client_;  // guarded by clientMutex_
    std::atomic<int> logOns_{0};
};
