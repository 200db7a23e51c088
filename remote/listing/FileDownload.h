#pragma once

#include "cloud/CloudClientDelegate.h"
#include "cloud/CloudService.h"
#include "cloud/GoogleDriveAPIFile.h"
#include "cloud/QNHTTPRequestOperation.h"
#include "platform/core/PlistDictionary.h"
#include "platform/core/RunLoop.h"
#include "remote/listing/FileDownloadDelegate.h"
#include "remote/listing/FtpListing.h"
#include "remote/listing/ListingWatch.h"
#include "remote/listing/SmbListing.h"
#include "remote/listing/SmbQuestionAlert.h"
#include "remote/listing/RemoteFileEntry.h"
#include "remote/protocols/QNNbnsDelegate.h"

#include <memory>
#include <optional>
#include <string>

class CloudClient;
class CloudTicket;
class QNNbns;
class Settings;
namespace ui {
class ViewController;
}

// Lists one remote folder and hands the result to its delegate as a
// RemoteFileEntry (fileList / infoList), on the main thread. One object per
// listing: the caller sets the properties, calls getFileListFromUrl once and
// gets exactly one outcome (a list, a failure message, a password request
// or a cancel). The source is told from the URL: SMB, FTP, cloud services,
// Google Drive share links, WebDAV (the site option "isWebDav") and, for
// anything else, an HTTP or HTTPS index page.
class FileDownload : public QNNbnsDelegate,
                     public CloudClientDelegate,
                     public std::enable_shared_from_this<FileDownload> {
public:
    // Bodies larger than this are refused: the listing ends with a message.
    static constexpr size_t kMaxBodyBytes = 10'485'760;
    static constexpr const char* kShareLinkPrefix = "https://googledrive.sharelink/";

    FileDownload();
    ~FileDownload() override;

    void setSettings_(Settings* s) { settings_ = s; }
    void setOtherSettings_(const sys::PlistDictionary& d) { otherSettings_ = d; }
    // Not retained.
    void setDelegate(const std::shared_ptr<FileDownloadDelegate>& d) { delegate_ = d; }
    // Accept a server certificate that is not trusted (the user said so):
    // the one whose public key is given (HttpResponse::serverPublicKey), no
    // other.
    void setConnectToUntrustedServer(bool on) { connectToUntrustedServer_ = on; }
    void setUntrustedServerKey(const std::string& publicKey) { untrustedServerKey_ = publicKey; }
    // After serverCertificateUntrusted: the public key of the certificate
    // that was refused.
    const std::string& serverPublicKey() const { return serverPublicKey_; }

    // A listing of any kind ends in an error when it takes longer than
    // `deadline` seconds in all (from getFileListFromUrl: name look-ups,
    // log-on and data connection included), or when its server sends fewer
    // than `lowSpeedBytes` a second for `lowSpeedTime` seconds (one that
    // says nothing, or drips its answer). The user can cancel it before
    // either. A cloud listing counts from its first request, after the
    // sign-in.
    using TimeLimits = ListingWatch::Limits;
    void setTimeLimits(const TimeLimits& limits) { timeLimits_ = limits; }

    void getFileListFromUrl(const std::string& url, const std::optional<std::string>& targetTitle,
                            const std::optional<std::string>& userName, const std::optional<std::string>& password,
                            bool targetIsNecessarilyFolder, ui::ViewController* viewController);
    // Stops whatever runs; a running listing reports cancelListDownload.
    void cancelFileListDownload();

    // The name a single-file URL is listed under: its last component,
    // percent-decoded.
    static std::string fileNameFromURL(const std::string& url);

    bool isActive() const { return isActive_; }
    // The host was a NetBIOS name that did not resolve (it stays in the URL).
    bool isNetBIOSResolveError() const { return isNetBIOSResolveError_; }

    // The NetBIOS resolver's answer (main thread).
    void finishNetBiosNameResolve(const std::optional<std::string>& address) override;

    // The entries of a PROPFIND reply listed at `listedURL`: the folder's
    // own members only (the folder itself and any href elsewhere left out),
    // sub-folders and book, PDF and theme files. Nothing when the reply does
    // not parse.
    static std::optional<RemoteFileEntry> getListFromWebDav(const std::string& body, const std::string& listedURL);

    // The cloud client's answers (main thread).
    void finishAuthorization(CloudClient& client, const std::optional<std::string>& error,
                             const std::string& name) override;
    void didFinishRecieveFileList(CloudClient& client, CloudTicket& ticket,
                                  const std::optional<std::vector<sys::PlistDictionary>>& list,
                                  bool isAuthorizationError, const std::optional<std::string>& error) override;
    // The entries of a Drive folder listed at `baseURL` ("googledrive://key/
    // ...", ending with "/"): sub-folders and book, PDF and theme files,
    // trashed items left out.
    static RemoteFileEntry getListFromGoogleDrive(const std::vector<GoogleDriveAPIFile>& files,
                                                  const std::string& baseURL, const std::string& key);
    // The entries of a OneDrive, Box or Dropbox folder from the service's
    // items; `apiBase` is the service's address (file URLs of OneDrive and
    // Box point there).
    static RemoteFileEntry getListFromCloudItems(CloudService service, const std::vector<sys::PlistDictionary>& items,
                                                 const std::string& key, const std::string& apiBase);
    // The list title and the sign-in error text of a service.
    static const char* cloudListTitle(CloudService service);
    static const char* cloudAuthorizationError(CloudService service);
    // What the listing says when the sign-in failed: the service's sign-in
    // error text, then why (the sign-in's own reasons in the program's
    // language, a service's as it gave them).
    static std::string cloudSignInFailure(CloudService service, const std::string& cause);
    // What the listing says when no client id is set for the service.
    static std::string cloudClientIDMissing(CloudService service);
    // "Connection Failed." with the server of `url` ("host:port"; the host
    // alone for a scheme without a known port) and why: what a listing says
    // when it could not be done.
    static std::string failedAt(const std::string& url, const std::string& why);
    // The question put when the server at `url` shows a certificate that is
    // not trusted; it names that server (a redirect may have led elsewhere).
    static std::string untrustedCertificateQuestion(const std::string& url);

private:
    void getFileListFromUrlNext(const std::string& url);
    void startHttpListing();
    void onHttpComplete(const HttpResponse& r);
    void onFtpComplete(const FtpListing::Result& r);
    // Delivers on the next turn of the main loop, once the HTTP answer is gone.
    void deliverAfterAnswer(std::optional<RemoteFileEntry> entries);
    void startFtpListing();
    // The branches whose protocols arrive later: they answer with a failure.
    void startSmbListing();
    void startCloudListing();
    void startShareLinkListing();
    void failLater(const std::string& messageKey);
    void onSmbComplete(const SmbListing::Result& r);
    void retryCloudAfterAuth();
    void requestCloudList();
    std::string cloudFolderReference() const;

    void deliver(std::optional<RemoteFileEntry> entries, const std::optional<std::string>& message);
    // Cancels and drops whatever request is out (name look-up, HTTP, FTP,
    // SMB, cloud ticket); says nothing to the delegate.
    void dropRequests();
    // Watches the running listing (FTP, SMB, a cloud drive's pages) from
    // `startedAt_` on; HTTP listings are bounded by their request.
    void watch(std::shared_ptr<net::ReceiveMeter> meter);
    // The deadline on the program's clock, for every kind of listing.
    void armDeadline();
    void stopWatching();
    void onListingExpired(ListingWatch::Reason reason);
    void indicator(bool on);

    Settings* settings_ = nullptr;
    sys::PlistDictionary otherSettings_;
    std::weak_ptr<FileDownloadDelegate> delegate_;
    bool connectToUntrustedServer_ = false;
    TimeLimits timeLimits_;
    // When the listing began (Clock::realNow()), and its watch while it runs.
    double startedAt_ = 0;
    std::unique_ptr<ListingWatch> watch_;
    sys::RunLoop::TimerRef deadlineTimer_;
    std::string untrustedServerKey_;
    std::string serverPublicKey_;

    std::string baseURL_;
    // The pseudo address of a shared Drive folder being listed ("" otherwise).
    std::string shareLinkURL_;
    std::optional<std::string> targetTitle_;
    std::string userName_, password_;
    std::shared_ptr<QNHTTPRequestOperation> connection_;
    std::shared_ptr<FtpListing> ftp_;
    std::shared_ptr<SmbListing> smb_;
    std::shared_ptr<SmbQuestionAlert> userAlert_;
    std::shared_ptr<SmbQuestionAlert> dfsAlert_;
    bool isActive_ = false;
    bool isCancel_ = false;
    bool isHttp_ = false;
    bool isWebDav_ = false;
    bool delivered_ = false;
    std::unique_ptr<QNNbns> nbns_;
    std::string netBiosName_;
    bool isNetBIOSResolveError_ = false;
    ui::ViewController* targetViewController_ = nullptr;
    // Cloud listings: the client, its running listing, the folder (the
    // Drive identifier, "root" for the top; the URL path for the others).
    std::shared_ptr<CloudClient> cloud_;
    std::shared_ptr<CloudTicket> cloudTicket_;
    CloudService cloudService_ = CloudService::GoogleDrive;
    std::string targetID_, targetPath_;
    bool awaitingSignIn_ = false;
};
