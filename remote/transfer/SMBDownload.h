#pragma once

#include "platform/core/PlistDictionary.h"
#include "platform/core/Thread.h"
#include "remote/protocols/SmbStackClient.h"
#include "remote/transfer/HttpDownloadDelegate.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

class QNNbns;
class QNSmb;
class Settings;

// Copies one file from an SMB share into the library on a worker thread of
// its own, through the SMB stack's client (slot 1) or our SMB1 client, as
// the site's options and the global setting choose. The bytes go to the same
// temporary file as HttpDownload's, read in blocks of several MiB; the
// finished file is moved into place with the same clash rule. The delegate
// hears the same calls as from HttpDownload, on the main thread, and
// nothing after cancelDownload().
class SMBDownload : public std::enable_shared_from_this<SMBDownload> {
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
    ~SMBDownload();

    void setDelegate(std::shared_ptr<HttpDownloadDelegate> d) { delegate_ = std::move(d); }
    void setSettings(Settings* s) { settings_ = s; }
    void setOtherSettings(const sys::PlistDictionary& d) { otherSettings_ = d; }

    // smb://host[:port]/share/path/file into savePath/saveName. Returns at once.
    void downloadFile(const std::string& url, const std::string& savePath, const std::string& saveName,
                      const std::string& username, const std::string& password);
    // Stops the download and joins the worker; no callback after it returns.
    void cancelDownload();

    bool isRunning() const { return worker_.running(); }
    // Where the file went (after result 0).
    const std::string& savedPath() const { return savedPath_; }

private:
    struct Job {
        std::string url, savePath, saveName, user, password;
    };
    void run(const Job& job);
    int transfer(const Job& job);
    // A stack client for slot 1 with the job's credentials, installed as the
    // one cancel reaches.
    std::shared_ptr<SmbStackClient> newClient(const Job& job);
    void post(std::function<void(HttpDownloadDelegate&)> call);
    int placeResult(const std::string& temp, const Job& job);

    std::weak_ptr<HttpDownloadDelegate> delegateWeak() const { return delegate_; }
    std::shared_ptr<HttpDownloadDelegate> delegate_;
    Settings* settings_ = nullptr;
    sys::PlistDictionary otherSettings_;

    std::shared_ptr<std::atomic<bool>> cancelled_ = std::make_shared<std::atomic<bool>>(false);
    std::mutex mutex_;
    std::shared_ptr<SmbStackClient> client_;  // guarded by mutex_
    std::shared_ptr<QNNbns> nbns_;            // guarded by mutex_
    std::shared_ptr<QNSmb> own_;              // guarded by mutex_
    sys::Thread worker_;
    std::string savedPath_;
};
