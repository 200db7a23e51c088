#pragma once

#include "remote/transfer/HttpDownload.h"
#include "remote/transfer/WorkerDownload.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

class QNFtpRequestSync;
class Settings;

// Downloads one file from an FTP server into a library folder on a worker
// thread of its own, through our FTP client. The bytes go to the same
// temporary file as HttpDownload's, with the same side file ([URL without
// credentials, validator]); the validator is the file's size on the server,
// so a later download of the same, unchanged file continues from the
// temporary file's size with REST, and a file that changed is fetched whole.
// A server that refuses REST is read from the start. Only a complete file is
// moved into the save folder (DownloadedFilePlacer, the overwrite mode).
//
// The delegate hears HttpDownload's calls and result codes, on the main
// thread, and nothing after cancelDownload().
class FtpDownload : public WorkerDownload, public std::enable_shared_from_this<FtpDownload> {
public:
    enum Result {
        kSaved = 0,
        kFailed = 1,               // not a book, PDF or theme, no connection, or failed before any byte
        kNotFound = 4,             // the folder or the file is not there, or RETR was refused
        kAuthFailed = 5,           // the server refused the user or the password
        kTempFileFailed = 6,       // temporary file not made, written or moved
        kExistsSkipped = 7,        // the target exists and the mode is "skip"
        kFailedAfterProgress = 14, // the connection broke after bytes arrived: resume
    };

    FtpDownload();
    ~FtpDownload() override;

    // Seconds to wait for the connection, and without a byte before the
    // transfer counts as broken.
    void setTimeouts(double connectSeconds, double idleSeconds) {
        connectTimeout_ = connectSeconds;
        idleTimeout_ = idleSeconds;
    }

    // downloadFile takes ftp://[user[:password]@]host[:port]/folder/file;
    // the user and password given win over the URL's; with neither, the
    // anonymous log-on is used. A cancel keeps the temporary file for a
    // later resume.

private:
    int transfer(const Job& job) override;
    int refusedResult() const override { return kAuthFailed; }
    void cancelClients() override;
    void releaseClients() override;

    double connectTimeout_ = 30;
    double idleTimeout_ = 60;

    std::shared_ptr<QNFtpRequestSync> client_;  // guarded by mutex_
};
