#pragma once

#include "remote/protocols/SmbStackClient.h"
#include "remote/stream/BlockLoaderStreamRead.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

// Reads a book on an SMB share in place: the block cache of
// RemoteStreamRead filled over one connection of the client SmbClientChoice
// gives for the site (SMB2/3 or our SMB1 client), block after block in the
// order the cache chooses, until the file is complete or the stream is closed. Opening asks for the file's
// size and time; the pair is the cached copy's version.
//
// A lost connection is made again (after a pause from the second failure in
// a row on) until the stream is closed; a refusal (a wrong password, a
// missing file, access denied) fails the stream. The user and password come
// from the stream's properties, else from the URL; "domain\user" names a
// domain.
class SmbStreamRead : public BlockLoaderStreamRead {
public:
    SmbStreamRead();
    ~SmbStreamRead() override;

    // Makes newStreamWithProtocol() give these readers for smb URLs.
    static void registerWithEngine();

    bool openURL(const std::string& url) override;
    // The client's code of the failure that ended the stream.
    uint32_t lastError() const { return lastError_; }

private:
    struct Site {
        std::string server, share, path, domain, user, password;
    };
    bool probe() override;
    // A client with the site's credentials, installed as the one a cancel
    // reaches (and cancelled at once when the stream is stopping).
    std::shared_ptr<SmbStackClient> newClient();
    // A fresh client with the file open; false when that failed.
    bool connect();
    Outcome fetchBlock(uint64_t block) override;
    // A lost connection is made again; anything else fails the stream.
    bool prepareRetry() override;
    // The size and time asked for again must be those the reading began with.
    bool stillTheSameFile() override;
    void loaderDone() override;
    void cancelTransfer() override;

    Site site_;
    std::mutex clientMutex_;
    std::shared_ptr<SmbStackClient> client_;  // guarded by clientMutex_
    std::shared_ptr<SmbStackClient::FileHandle> file_;
    std::atomic<uint32_t> lastError_{0};
    std::string version_;  // size and time when the reading began
};
