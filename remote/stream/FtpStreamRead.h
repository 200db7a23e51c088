#pragma once

#include "remote/stream/BlockLoaderStreamRead.h"

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
class FtpStreamRead : public BlockLoaderStreamRead {
public:
    FtpStreamRead();
    ~FtpStreamRead() override;

    // Makes newStreamWithProtocol() give these readers for ftp URLs.
    static void registerWithEngine();

    bool openURL(const std::string& url) override;

private:
    struct Site {
        std::string host, user, password, folder, name;
        int port = 21;
    };
    bool probe() override;
    Outcome fetchBlock(uint64_t block) override;
    void cancelTransfer() override;
    // Logs on and changes to the file's folder with a fresh client; a
    // status of the client (0 when ready).
    int logOn(const std::shared_ptr<QNFtpRequestSync>& client);
    void setClient(std::shared_ptr<QNFtpRequestSync> client);

    Site site_;
    std::mutex clientMutex_;
    std::shared_ptr<QNFtpRequestSync> client_;  // guarded by clientMutex_
};
