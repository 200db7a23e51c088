#pragma once

#include "platform/core/PlistDictionary.h"
#include "remote/protocols/SmbClientChoice.h"
#include "remote/protocols/SmbStackClient.h"
#include "remote/transfer/WorkerDownload.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

class QNNbns;
class Settings;

// Copies one file from an SMB share into the library on a worker thread of
// its own, through the client SmbClientChoice gives for the site's options
// and the global setting (slot 1). The bytes go to the same
// temporary file as HttpDownload's, read in blocks of several MiB; the
// finished file is moved into place with the same clash rule. The delegate
// hears the same calls as from HttpDownload, on the main thread, and
// nothing after cancelDownload().
class SMBDownload : public WorkerDownload, public std::enable_shared_from_this<SMBDownload> {
public:
    enum Result {
        kSaved = 0,
        kMoveFailed = 6,
        kExistsSkipped = 7,
        kSmbFailed = 8,
        kAccessDenied = 9,
        kNetBiosFailed = 10,
    };
    // One read asks for this much (the client splits it into the server's
    // largest reads, several in flight).
    static constexpr size_t kReadBlock = 4u << 20;

    SMBDownload();
    ~SMBDownload() override;

    void setOtherSettings(const sys::PlistDictionary& d) { otherSettings_ = d; }

    // downloadFile takes smb://host[:port]/share/path/file.

private:
    int refusedResult() const override { return kSmbFailed; }
    int transfer(const Job& job) override;
    void cancelClients() override;
    void releaseClients() override;
    // A client for slot 1 with the job's credentials, installed as the one
    // cancel reaches.
    std::shared_ptr<SmbStackClient> newClient(const Job& job);
    int placeResult(const std::string& temp, const Job& job);

    sys::PlistDictionary otherSettings_;

    std::shared_ptr<SmbStackClient> client_;  // guarded by mutex_
    std::shared_ptr<QNNbns> nbns_;            // guarded by mutex_
    SmbClientChoice::Library library_ = SmbClientChoice::Library::Stack;
    std::string netBiosName_;
};
