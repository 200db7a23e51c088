#pragma once

#include "platform/core/Thread.h"
#include "remote/transfer/HttpDownloadDelegate.h"

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
class FtpDownload : public std::enable_shared_from_this<FtpDownload> {
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
    ~FtpDownload();
    FtpDownload(const FtpDownload&) = delete;
    FtpDownload& operator=(const FtpDownload&) = delete;

    void setDelegate(std::shared_ptr<HttpDownloadDelegate> d) { delegate_ = std::move(d); }
    void setSettings(Settings* s) { settings_ = s; }
    // Seconds to wait for the connection, and without a byte before the
    // transfer counts as broken.
    void setTimeouts(double connectSeconds, double idleSeconds) {
        connectTimeout_ = connectSeconds;
        idleTimeout_ = idleSeconds;
    }

    // ftp://[user[:password]@]host[:port]/folder/file into savePath/saveName.
    // The user and password given win over the URL's; with neither, the
    // anonymous log-on is used. Returns at once.
    void downloadFile(const std::string& url, const std::string& savePath, const std::string& saveName,
                      const std::string& username, const std::string& password);
    // Stops the download and joins the worker; no callback after it returns.
    // The temporary file stays for a later resume.
    void cancelDownload();

    bool isRunning() const { return worker_.running(); }
    // Where the file went (after result 0; read on the main thread after the callback).
    const std::string& savedPath() const { return savedPath_; }

private:
    struct Job {
        std::string url, savePath, saveName, user, password;
    };
    void run(const Job& job);
    int transfer(const Job& job);
    void post(std::function<void(HttpDownloadDelegate&)> call);

    std::shared_ptr<HttpDownloadDelegate> delegate_;
    Settings* settings_ = nullptr;
    double connectTimeout_ = 30;
    double idleTimeout_ = 60;

    std::shared_ptr<std::atomic<bool>> cancelled_ = std::make_shared<std::atomic<bool>>(false);
    std::mutex mutex_;
    std::shared_ptr<QNFtpRequestSync> client_;  // guarded by mutex_
    sys::Thread worker_;
    std::string savedPath_;
};
