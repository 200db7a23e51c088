#pragma once

#include "cloud/CloudService.h"
#include "cloud/QNHTTPRequestOperation.h"
#include "platform/core/PlistDictionary.h"
#include "remote/transfer/HttpDownloadDelegate.h"

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class Settings;

// Downloads one file over HTTP or HTTPS into a library folder. The bytes go
// to "download_temp.zip" in the private temporary folder, with the side file
// "download_temp.lbs" naming the source ([URL without credentials,
// validator]); a later download of the same source continues from the
// temporary file's size with "Range" and "If-Range", so that a file changed
// on the server is fetched whole instead of spliced. Only a complete file is
// moved into the save folder; in "overwrite" mode the old file is replaced
// at that moment, not before.
//
// Made with std::make_shared (its callbacks hold it weakly); the owner keeps
// it until onFinishConnection.
class HttpDownload : public std::enable_shared_from_this<HttpDownload> {
public:
    enum Result {
        kSaved = 0,
        kFailed = 1,           // not a book, PDF or theme, or failed with no progress
        kClientError = 2,      // 400-499 other than 404
        kServerError = 3,      // 500 and above
        kNotFound = 4,
        kAuthFailed = 5,       // refused or the user cancelled
        kTempFileFailed = 6,   // temporary file not made or not moved
        kExistsSkipped = 7,    // the target exists and the mode is "skip"
        kOneDriveTokenFailed = 11,
        kGoogleDriveTokenFailed = 12,
        kBoxTokenFailed = 13,
        kFailedAfterProgress = 14,
    };
    static constexpr const char* kTempFileName = "download_temp.zip";
    static constexpr const char* kSideFileName = "download_temp.lbs";

    // Asks the user for credentials for a URL the server refused
    // (refusedUser / refusedPassword, prevStored: they came from the key
    // chain); answer(user, password, fromKeyChain, accepted) with no user
    // means cancelled. The downloader calls `accepted` (when given) once the
    // server has taken the answer: a typed password is remembered only then.
    using CredentialAnswer = std::function<void(std::optional<std::string>, std::optional<std::string>, bool,
                                                std::function<void()> accepted)>;
    using CredentialAsker =
        std::function<void(const std::string& url, const std::string& refusedUser, const std::string& refusedPassword,
                           bool prevStored, CredentialAnswer answer)>;

    HttpDownload();
    ~HttpDownload();

    void setDelegate(std::shared_ptr<HttpDownloadDelegate> d) { delegate_ = std::move(d); }
    void setSettings_(Settings* s) { settings_ = s; }
    // Who asks for credentials when the server wants them (the sign-in
    // panel unless set); without one a challenge ends with kAuthFailed.
    void setCredentialAsker(CredentialAsker asker) { asker_ = std::move(asker); }
    // An asker that uses the server sign-in panel (ShowHttpAuth). A typed
    // answer is remembered for `rememberFor` (a site's address) when given,
    // else for the address asked about.
    static CredentialAsker panelAsker(const std::string& rememberFor = {});
    // Asks before anything goes to the server, for a download that knows its
    // user but no password (an empty one would only be refused): the key
    // chain's entry for the URL, else the sign-in panel with the user given.
    // Answers as a CredentialAsker does.
    static void askBeforeSending(const std::string& url, const std::string& user, const std::string& rememberFor,
                                 CredentialAnswer answer);
    // The credentials the next downloadFile goes with answered such a
    // question: `fromKeyChain` as the answer said, and `accepted` is called
    // once the server takes them.
    void setAnswered(bool fromKeyChain, std::function<void()> accepted) {
        usedStoredCredentials_ = fromKeyChain;
        accepted_ = std::move(accepted);
    }
    // Seconds without a byte after which the connection counts as failed.
    void setStallTimeout(double seconds) { stallTimeout_ = seconds; }

    // The calling thread's sys::Clock::NetworkHoldLimit bounds how long the
    // download's requests hold up advancing virtual time, also those made
    // later (a sign-in asked for, a renewed token, a fresh start).
    //
    // serviceName "OneDrive", "BoxAPI", "Dropbox" or "GoogleDrive" (with
    // serviceKey {"key": account key, "itemId": item} for the last two)
    // fetches a cloud item with the account's bearer token, renewed once
    // when missing, near its expiry or refused; a failed renewal ends the
    // download with the service's token code (Dropbox: kAuthFailed).
    void downloadFile(const std::string& url, const std::string& savePath, const std::string& saveName,
                      const std::string& username, const std::string& password, const std::string& serviceName,
                      const sys::PlistDictionary& serviceKey);
    // Stops the connection; no callback follows.
    void cancelDownload();

    // The private folder of the two temporary files (made 0700 on demand).
    static std::string temporaryFolder();
    // Where the last successful download went.
    const std::string& savedPath() const { return savedPath_; }

private:
    void start();
    void onComplete(const HttpResponse& response);
    bool onResponse(const HttpResponse& response);
    bool onData(const char* data, size_t size);
    void askCredentials();
    // Cloud items: the request for the item's bytes, and a token renewal
    // that starts the download again.
    HttpRequest cloudRequest() const;
    void refreshCloudToken();
    int cloudFailureCode() const;
    void finish(int result);
    bool moveIntoPlace();
    void discardTemporary();
    void closeFile();

    std::shared_ptr<HttpDownloadDelegate> delegate_;
    Settings* settings_ = nullptr;
    CredentialAsker asker_;
    double stallTimeout_ = 60;
    std::shared_ptr<QNHTTPRequestOperation> op_;

    std::string url_, savePath_, saveName_, userName_, password_, savedPath_;
    bool usedStoredCredentials_ = false;
    bool triedCredentials_ = false;
    // Told once the server takes the answer in use.
    std::function<void()> accepted_;
    bool restartedWhole_ = false;
    bool steppedBack_ = false;
    bool finished_ = false;
    int fd_ = -1;
    int64_t resumeOffset_ = 0;
    std::string validator_;
    std::optional<CloudService> cloud_;
    std::string cloudKey_, cloudItem_, cloudToken_;
    bool cloudRefreshed_ = false;
    // Network-thread state, read on the main thread after completion.
    int status_ = 0;
    int64_t startOffset_ = 0;
    int64_t expectedTotal_ = -1;
    int64_t written_ = 0;
    bool refused_ = false;
    bool writeFailed_ = false;
    bool rangeRejected_ = false;
    int64_t rejectedTotal_ = -1;  // the length a 416 gave

    // The NetworkHoldLimit the download was started under (a realNow() time).
    double clockHoldUntil_ = 0;

    std::atomic<int64_t> received_{0};
    std::atomic<bool> progressQueued_{false};
};
