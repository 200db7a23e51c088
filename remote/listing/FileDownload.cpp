#include "remote/listing/FileDownload.h"
#include "remote/listing/GoogleDriveShareLink.h"

#include "cloud/CloudAccountInfo.h"
#include "cloud/CloudClient.h"
#include "cloud/CloudJson.h"
#include "cloud/CloudSignIn.h"
#include "cloud/HttpEasy.h"
#include "cloud/TrustedServer.h"
#include "foundation/BookCommon.h"
#include "foundation/BookCommonPaths.h"
#include "foundation/NetworkIndicatorWithKey.h"
#include "foundation/QNKeyChain.h"
#include "foundation/QNUrl.h"
#include "foundation/Settings.h"
#include "foundation/UrlPercent.h"
#include "platform/core/Clock.h"
#include "platform/core/PercentEncoding.h"
#include "platform/core/RunLoop.h"
#include "platform/core/Unicode.h"
#include "platform/ui/ViewController.h"
#include "remote/listing/FolderPath.h"
#include "remote/listing/HtmlIndexListing.h"
#include "remote/protocols/QNNbns.h"
#include "remote/protocols/SmbDfsCredentials.h"
#include "remote/listing/WebDavFileListReader.h"

#include <algorithm>
#include <array>

namespace {

constexpr const char* kIndicatorKey = "bookTransfer";

std::string text(const char* key) { return BookCommon::localizedStringWithOnOff(key); }

// A listing given up for its size (FileDownload::kMaxBodyBytes).
std::string listTooLarge() { return text("The list of this folder is too large to show."); }

}  // namespace

FileDownload::FileDownload() = default;

FileDownload::~FileDownload() {
    if (deadlineTimer_) deadlineTimer_->invalidate();
    if (awaitingSignIn_) CloudSignIn::cancelPending();
    dropRequests();
    if (isActive_) indicator(false);
}

void FileDownload::dropRequests() {
    if (cloudTicket_) {
        cloudTicket_->cancelTicket();
        cloudTicket_.reset();
    }
    if (nbns_) {
        nbns_->cancel();
        nbns_.reset();
    }
    if (connection_) {
        connection_->cancel();
        connection_.reset();
    }
    if (ftp_) {
        ftp_->cancel();
        ftp_.reset();
    }
    if (smb_) {
        smb_->cancel();
        smb_.reset();
    }
}

void FileDownload::indicator(bool on) { NetworkIndicatorWithKey::networkIndicatorWithKey()->visible(on, kIndicatorKey); }

std::string FileDownload::fileNameFromURL(const std::string& url) {
    std::string path = url;
    if (size_t q = path.find_first_of("?#", path.find("://") == std::string::npos ? 0 : path.find("://") + 3);
        q != std::string::npos) {
        path.resize(q);
    }
    std::string last;
    size_t end = path.size();
    if (end > 0 && path[end - 1] == '/') --end;
    size_t slash = path.rfind('/', end == 0 ? 0 : end - 1);
    last = slash == std::string::npos ? "/" : path.substr(slash + 1, end - slash - 1);
    if (last.empty()) last = "/";
    std::array<char, 1024> buf{};
    UrlPercent::decode(last.c_str(), buf.data(), buf.size());
    std::string decoded(buf.data());
    if (!sys::Unicode::isValidUtf8(decoded)) return {};
    return QNUrl::lastPathComponentOf(decoded);
}

void FileDownload::getFileListFromUrl(const std::string& url, const std::optional<std::string>& targetTitle,
                                      const std::optional<std::string>& userName,
                                      const std::optional<std::string>& password, bool targetIsNecessarilyFolder,
                                      ui::ViewController* viewController) {
    isCancel_ = false;
    delivered_ = false;
    isActive_ = true;
    startedAt_ = sys::Clock::realNow();
    stopWatching();
    armDeadline();
    isWebDav_ = otherSettings_.getBool("isWebDav");
    targetViewController_ = viewController;
    baseURL_ = url;
    shareLinkURL_.clear();
    targetTitle_ = targetTitle;
    userName_ = userName.value_or("");
    password_ = password.value_or("");

    // A folder's share link on the Drive web site is listed as the shared
    // folder it names, under its pseudo address.
    if (auto shared = GoogleDriveShareLink::siteShareLinkAddress(url)) baseURL_ = *shared;
    if (baseURL_.compare(0, std::char_traits<char>::length(kShareLinkPrefix), kShareLinkPrefix) == 0) {
        startShareLinkListing();
        return;
    }
    if (BookCommon::isGoogleDrive(url) || BookCommon::isOneDrive(url) || BookCommon::isDropbox(url) ||
        BookCommon::isBox(url)) {
        startCloudListing();
        return;
    }
    isHttp_ = BookCommon::isURLHttp(url) && url.size() >= 6;

    // A link to one book is listed as itself, without asking the server.
    if (!targetIsNecessarilyFolder) {
        // The extension of the last component, a trailing "/" aside.
        const std::string ext = QNUrl::pathExtensionOf(url);
        if (BookCommon::isBookorPDFFileorThemeWithExtension(ext)) {
            RemoteFileEntry one;
            sys::PlistDictionary info;
            info.set(RemoteFileEntry::kName, sys::PlistValue(fileNameFromURL(url)));
            one.add(url, std::move(info));
            deliver(std::move(one), std::nullopt);
            return;
        }
    }
    // A Windows-style host name is looked up on the local network first.
    if (auto u = QNUrl::URLWithString(baseURL_); u && QNNbns::isNetBiosName(u->host())) {
        netBiosName_ = u->host();
        nbns_ = std::make_unique<QNNbns>();
        nbns_->setTimeout(5);
        nbns_->setDelegate(this);
        nbns_->getIPAddressWithNETBIOSNameAsync(netBiosName_);
        return;
    }
    getFileListFromUrlNext(baseURL_);
}

void FileDownload::finishNetBiosNameResolve(const std::optional<std::string>& address) {
    // The resolver is done; it goes away after this call returns.
    sys::RunLoop::main().post([gone = std::shared_ptr<QNNbns>(std::move(nbns_))] {});
    if (isCancel_) return;
    if (address) {
        baseURL_ = BookCommon::replaceHostWithURL(baseURL_, *address);
        isNetBIOSResolveError_ = false;
    } else {
        isNetBIOSResolveError_ = true;
    }
    getFileListFromUrlNext(baseURL_);
}

void FileDownload::getFileListFromUrlNext(const std::string& url) {
    if (BookCommon::isSMB(url)) {
        startSmbListing();
    } else if (BookCommon::isFTP(url)) {
        startFtpListing();
    } else {
        startHttpListing();
    }
}

void FileDownload::failLater(const std::string& messageKey) {
    const std::string message = BookCommon::localizedStringWithOnOff(messageKey);
    sys::RunLoop::main().post(
        [weak = weak_from_this(), message] {
            if (auto self = weak.lock(); self && !self->isCancel_) self->deliver(std::nullopt, message);
        });
}

void FileDownload::startSmbListing() {
    SmbListing::Request request;
    request.url = baseURL_;
    request.userName = userName_;
    request.password = password_;
    request.library = SmbClientChoice::libraryOf(otherSettings_, settings_ ? settings_->defaultSmbLibrary() : 0);
    request.hideDotFiles = settings_ && settings_->isHideDotFileSMB();
    request.netBiosResolveError = isNetBIOSResolveError_;
    request.netBiosName = netBiosName_;
    request.meter = std::make_shared<net::ReceiveMeter>();
    watch(request.meter);
    smb_ = std::make_shared<SmbListing>();
    std::weak_ptr<FileDownload> weak = weak_from_this();
    indicator(true);
    smb_->start(request, [weak](const SmbListing::Result& r) {
        if (auto self = weak.lock()) self->onSmbComplete(r);
    });
}

void FileDownload::armDeadline() {
    // On the program's clock, beside the real one: a headless run's time is
    // its script's, and a listing has had its time once the script has
    // waited that long.
    if (deadlineTimer_) deadlineTimer_->invalidate();
    std::weak_ptr<FileDownload> weak = weak_from_this();
    deadlineTimer_ = sys::RunLoop::main().schedule(timeLimits_.deadline, [weak] {
        if (auto self = weak.lock()) self->onListingExpired(ListingWatch::Reason::Deadline);
    });
}

void FileDownload::stopWatching() {
    watch_.reset();
    if (deadlineTimer_) deadlineTimer_->invalidate();
    deadlineTimer_.reset();
}

void FileDownload::watch(std::shared_ptr<net::ReceiveMeter> meter) {
    std::weak_ptr<FileDownload> weak = weak_from_this();
    watch_ = std::make_unique<ListingWatch>(timeLimits_, startedAt_, std::move(meter), [weak](ListingWatch::Reason r) {
        if (auto self = weak.lock()) self->onListingExpired(r);
    });
}

void FileDownload::onListingExpired(ListingWatch::Reason reason) {
    stopWatching();
    if (isCancel_ || delivered_) return;
    // Stopped as a cancel stops it, and said so.
    dropRequests();
    indicator(false);
    userName_.clear();
    password_.clear();
    // The server is named: a cloud drive's by its service's address.
    deliver(std::nullopt, failedAt(cloud_ ? CloudEndpoints::forService(cloudService_).apiBase : baseURL_,
                                   ListingWatch::describe(reason, timeLimits_)));
}

std::string FileDownload::failedAt(const std::string& url, const std::string& why) {
    std::string server;
    if (url.rfind("http", 0) == 0) {
        server = HttpEasy::hostAndPort(url);
    } else if (auto u = QNUrl::URLWithString(url)) {
        server = u->host();
        if (u->port()) server += ":" + std::to_string(*u->port());
    }
    std::string detail = server;
    if (!why.empty()) detail += (detail.empty() ? "" : ": ") + why;
    return BookCommon::localizedStringWithOnOff("Connection Failed.") + (detail.empty() ? "" : "\n(" + detail + ")");
}

void FileDownload::onSmbComplete(const SmbListing::Result& r) {
    stopWatching();
    // The worker has ended; it is joined and dropped after this call.
    sys::RunLoop::main().post([gone = std::move(smb_)] {});
    indicator(false);
    if (isCancel_) return;
    const std::string url = HttpEasy::withoutCredentials(baseURL_);
    const std::string user = userName_;
    const std::string smbPassword = password_;
    userName_.clear();
    password_.clear();
    auto delegate = delegate_.lock();
    switch (r.outcome) {
    case SmbListing::Outcome::Listed:
        deliver(r.entries, std::nullopt);
        return;
    case SmbListing::Outcome::PasswordRequested:
        isActive_ = false;
        delivered_ = true;
        if (delegate) delegate->passwordRequested(url, false);
        return;
    case SmbListing::Outcome::AccessDenied: {
        isActive_ = false;
        delivered_ = true;
        std::weak_ptr<FileDownload> weak = weak_from_this();
        userAlert_ = SmbQuestionAlert::show(
            text("User: %@"), user, text("Access Denied."), text("Cancel"), text("Change User"), targetViewController_,
            [weak, url](bool changeUser) {
                auto self = weak.lock();
                if (!self) return;
                self->userAlert_.reset();
                auto d = self->delegate_.lock();
                if (!d) return;
                if (changeUser) {
                    d->passwordRequested(url, true);
                } else {
                    d->finishListDownload(std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                                          text("Access Denied.\nPlease check file permissions."), false);
                }
            });
        return;
    }
    case SmbListing::Outcome::DfsCredentials: {
        // Asked once per site and server; the answer stands for every
        // listing, stream and download that follows the link from then on.
        const std::string password = smbPassword;
        std::weak_ptr<FileDownload> weak = weak_from_this();
        dfsAlert_ = SmbQuestionAlert::show(
            text("Another Server: %@"), r.dfsServer,
            text("This folder is on another server. Send it the user name and password of this site?"),
            text("Don't Send"), text("Send"), targetViewController_,
            [weak, user, password, site = r.site, server = r.dfsServer](bool send) {
                auto self = weak.lock();
                if (!self) return;
                self->dfsAlert_.reset();
                SmbDfsCredentials::remember(site, server, send);
                if (self->isCancel_) return;
                // Listed again: with the credentials where the user let
                // them go, else as a guest, which then says why it failed.
                // The time the question was up does not count.
                self->userName_ = user;
                self->password_ = password;
                self->startedAt_ = sys::Clock::realNow();
                self->armDeadline();
                self->startSmbListing();
            });
        return;
    }
    case SmbListing::Outcome::Failed:
        delivered_ = true;
        isActive_ = false;
        if (delegate) delegate->finishListDownload(std::nullopt, std::nullopt, targetTitle_, url, r.message, r.requireSMB2);
        return;
    }
}
void FileDownload::startShareLinkListing() {
    // The folder's public page on the Drive web site, fetched without any
    // credentials; the listing keeps the pseudo address it was asked for.
    auto page = GoogleDriveShareLink::folderPageURL(baseURL_);
    if (!page) {
        failLater("Connection Failed.");
        return;
    }
    shareLinkURL_ = baseURL_;
    baseURL_ = *page;
    userName_.clear();
    password_.clear();
    isHttp_ = true;
    isWebDav_ = false;
    startHttpListing();
}

void FileDownload::startHttpListing() {
    HttpRequest req;
    req.url = baseURL_;
    req.userName = userName_;
    req.password = password_;
    TrustedServer::applyTo(req);
    // The certificate the user let through once, and only that one.
    if (connectToUntrustedServer_ && !untrustedServerKey_.empty()) req.trustedPublicKey = untrustedServerKey_;
    // What is left of the listing's time (a NetBIOS name's look-up took some).
    req.totalTimeout = std::max(1.0, timeLimits_.deadline - (sys::Clock::realNow() - startedAt_));
    req.lowSpeedTime = timeLimits_.lowSpeedTime;
    req.lowSpeedLimit = timeLimits_.lowSpeedBytes;
    req.setHeader("Cache-Control", "no-cache");
    if (isWebDav_) {
        req.method = "PROPFIND";
        req.setHeader("Depth", "1");
    }
    connection_ = std::make_shared<QNHTTPRequestOperation>(req);
    connection_->setCollectBody(kMaxBodyBytes);
    std::weak_ptr<FileDownload> weak = weak_from_this();
    connection_->setCompletion([weak](const HttpResponse& r) {
        if (auto self = weak.lock()) self->onHttpComplete(r);
    });
    indicator(true);
    connection_->start();
}

void FileDownload::onHttpComplete(const HttpResponse& r) {
    stopWatching();
    connection_.reset();
    indicator(false);
    if (isCancel_) return;
    if (!r.url.empty() && isHttp_) baseURL_ = r.url;
    const std::string user = userName_, password = password_;
    userName_.clear();
    password_.clear();
    auto delegate = delegate_.lock();
    if (r.error == HttpResponse::kTooLarge && r.bodyBytes > 0) {
        // Given up, and said so: an empty end would look like a folder
        // that failed for no reason.
        deliver(std::nullopt, listTooLarge());
        return;
    }
    if (r.error == HttpResponse::kUntrustedCertificate) {
        serverPublicKey_ = r.serverPublicKey;
        isActive_ = false;
        delivered_ = true;
        if (delegate && delegate->serverCertificateUntrusted(HttpEasy::withoutCredentials(baseURL_), user, password)) {
            return;
        }
        delivered_ = false;
        deliver(std::nullopt, BookCommon::localizedStringWithOnOff("Server Certificate Untrusted."));
        return;
    }
    if (!r.ok()) {
        // Named: the server may be one the user never typed (a redirect's,
        // the Drive site behind a share link). The request's own limits are
        // the listing's: said as the other kinds of listing say them.
        std::string why = r.errorMessage;
        const double took = sys::Clock::realNow() - startedAt_;
        if (r.timedOut && took + 0.5 >= std::min(timeLimits_.deadline, timeLimits_.lowSpeedTime)) {
            why = ListingWatch::describe(took + 0.5 >= timeLimits_.deadline ? ListingWatch::Reason::Deadline
                                                                              : ListingWatch::Reason::TooSlow,
                                         timeLimits_);
        }
        deliver(std::nullopt, failedAt(baseURL_, why));
        return;
    }
    if (r.status == 401 && r.hasHeader("www-authenticate")) {
        isActive_ = false;
        delivered_ = true;
        if (delegate) delegate->passwordRequested(HttpEasy::withoutCredentials(baseURL_), false);
        return;
    }
    if (r.status >= 400 && r.status != 401) {
        // An error page is not a folder: say so instead of showing it empty.
        deliver(std::nullopt, BookCommon::localizedStringWithOnOff("Connection Failed.") + "\n(HTTP " +
                                  std::to_string(r.status) + ")");
        return;
    }
    if (!shareLinkURL_.empty() && GoogleDriveShareLink::isFolderPage(baseURL_)) {
        std::string title;
        auto entries = GoogleDriveShareLink::getListFromGoogleDriveLink(r.body, &title);
        if (!title.empty()) targetTitle_ = title;
        baseURL_ = shareLinkURL_;
        deliver(std::move(entries), std::nullopt);
        return;
    }
    static const std::string kNoBody;
    const std::string& body = r.status == 401 ? kNoBody : r.body;
    if (isWebDav_) {
        auto entries = getListFromWebDav(body, baseURL_);
        if (!entries) {
            // A reply that is no listing is not an empty folder.
            deliver(std::nullopt, BookCommon::localizedStringWithOnOff("Error Getting File List.") + "\n(" +
                                      HttpEasy::hostAndPort(baseURL_) + ": the server sent a broken listing)");
            return;
        }
        deliverAfterAnswer(std::move(entries));
        return;
    }
    const int listType = settings_ ? settings_->downloadListType() : 0;
    deliverAfterAnswer(HtmlIndexListing::getListFromHyperHtml(body, HttpEasy::withoutCredentials(baseURL_), listType));
}

void FileDownload::deliverAfterAnswer(std::optional<RemoteFileEntry> entries) {
    // The answer (a body of up to kMaxBodyBytes, and its copies on the way)
    // is let go first: the list screen that takes the entries builds a row
    // for each.
    sys::RunLoop::main().post([weak = weak_from_this(), entries = std::move(entries)]() mutable {
        if (auto self = weak.lock(); self && !self->isCancel_) self->deliver(std::move(entries), std::nullopt);
    });
}

void FileDownload::deliver(std::optional<RemoteFileEntry> entries, const std::optional<std::string>& message) {
    stopWatching();
    if (delivered_) return;
    if (entries && entries->tooMany) {
        deliver(std::nullopt, listTooLarge());
        return;
    }
    delivered_ = true;
    isActive_ = false;
    auto delegate = delegate_.lock();
    if (!delegate) return;
    const std::string url = HttpEasy::withoutCredentials(baseURL_);
    if (entries) {
        delegate->finishListDownload(std::move(entries->fileList), std::move(entries->infoList), targetTitle_, url,
                                     std::nullopt, false);
    } else {
        delegate->finishListDownload(std::nullopt, std::nullopt, targetTitle_, url, message, false);
    }
}

void FileDownload::cancelFileListDownload() {
    isCancel_ = true;
    stopWatching();
    if (nbns_) {
        nbns_->cancel();
        nbns_.reset();
        isActive_ = false;
        delivered_ = true;
        if (auto d = delegate_.lock()) d->cancelListDownload();
        return;
    }
    if (ftp_) {
        ftp_->cancel();
        ftp_.reset();
        indicator(false);
    }
    if (smb_) {
        smb_->cancel();
        smb_.reset();
        indicator(false);
    }
    if (connection_ && isActive_) {
        connection_->cancel();
        connection_.reset();
        indicator(false);
        isActive_ = false;
        delivered_ = true;
        if (auto d = delegate_.lock()) d->cancelListDownload();
        return;
    }
    if (cloudTicket_) {
        cloudTicket_->cancelTicket();
        cloudTicket_.reset();
        indicator(false);
    }
    if (awaitingSignIn_) {
        awaitingSignIn_ = false;
        CloudSignIn::cancelPending();
    }
    if (isActive_ && !delivered_) {
        // A branch that answers later is stopped before it does.
        isActive_ = false;
        delivered_ = true;
        if (auto d = delegate_.lock()) d->cancelListDownload();
    }
}

void FileDownload::startFtpListing() {
    // The URL names a folder: entries resolve inside it.
    if (baseURL_.empty() || baseURL_.back() != '/') baseURL_ += '/';
    ftp_ = std::make_shared<FtpListing>();
    auto meter = std::make_shared<net::ReceiveMeter>();
    ftp_->setReceiveMeter(meter);
    watch(meter);
    std::weak_ptr<FileDownload> weak = weak_from_this();
    indicator(true);
    ftp_->fetch(baseURL_, userName_, password_, kMaxBodyBytes, [weak](const FtpListing::Result& r) {
        if (auto self = weak.lock()) self->onFtpComplete(r);
    });
}

void FileDownload::onFtpComplete(const FtpListing::Result& r) {
    stopWatching();
    ftp_.reset();
    indicator(false);
    if (isCancel_) return;
    userName_.clear();
    password_.clear();
    auto delegate = delegate_.lock();
    switch (r.outcome) {
    case FtpListing::Outcome::TooLarge:
        deliver(std::nullopt, listTooLarge());
        return;
    case FtpListing::Outcome::LoginRefused:
        isActive_ = false;
        delivered_ = true;
        if (delegate) delegate->passwordRequested(HttpEasy::withoutCredentials(baseURL_), false);
        return;
    case FtpListing::Outcome::Busy:
        deliver(std::nullopt, BookCommon::localizedStringWithOnOff("The server is busy. Please try again later."));
        return;
    case FtpListing::Outcome::Failed:
        deliver(std::nullopt, failedAt(baseURL_, "FTP " + std::to_string(r.status)));
        return;
    case FtpListing::Outcome::Listed:
        break;
    }
    bool encodeError = false;
    RemoteFileEntry list =
        FtpListing::getListFromFtpList(r.text, baseURL_, otherSettings_.getString("ftpcharset"), &encodeError);
    if (encodeError) {
        deliver(std::move(list), BookCommon::localizedStringWithOnOff(
            "Error decoding character set. Please select the default character set in protocol settings."));
        return;
    }
    deliver(std::move(list), std::nullopt);
}

std::optional<RemoteFileEntry> FileDownload::getListFromWebDav(const std::string& body,
                                                              const std::string& listedURL) {
    const auto records = WebDavFileListReader::getFileListFromXmlData(body);
    if (!records) return std::nullopt;
    std::string folder = FolderPath::withoutQuery(HttpEasy::resolve(HttpEasy::withoutCredentials(listedURL), ""));
    if (folder.empty()) return std::nullopt;
    if (folder.back() != '/') folder += '/';
    const std::string folderPath = FolderPath::pathOf(folder);
    const std::string folderOrigin = HttpEasy::origin(folder);
    RemoteFileEntry list;
    for (const auto& rec : *records) {
        if (!rec.contains("path")) continue;
        // Servers name their members as absolute paths, or as absolute URLs
        // (their default port written out or not): the path is what counts,
        // compared decoded, and the entry is reached at the address the
        // folder was listed at. A member on another origin is none of the
        // folder's.
        const std::string where = HttpEasy::resolve(folder, rec.getString("path"));
        if (where.empty() || folderOrigin.empty() || HttpEasy::origin(where) != folderOrigin) continue;
        const auto below = FolderPath::segmentsBelow(folderPath, FolderPath::pathOf(where));
        // Only the folder's own members, one level down: "name" or "name/"
        // (the folder itself, with or without its "/", is none of them).
        if (!below || below->front().empty() || below->size() > 2 || (below->size() == 2 && !below->back().empty())) {
            continue;
        }
        const std::string& component = below->front();
        // A folder is what the server calls a collection; servers that write
        // its href without the final "/" are common. The "/" decides only
        // where the reply gives no resourcetype.
        const bool isDir = rec.contains("collection") ? rec.getBool("collection") : below->size() == 2;
        if (!isDir && !BookCommon::isBookorPDFFileorThemeWithExtension(QNUrl::pathExtensionOf(component))) continue;
        const auto decoded = BookCommon::PercentDecodingWithString(component);
        // An escaped dot segment or slash would lead out of the folder again
        // at the server; an escaped NUL or line break cuts or splits the name.
        if (decoded && (*decoded == "." || *decoded == ".." ||
                        decoded->find_first_of(std::string_view("/\r\n\0", 4)) != std::string::npos)) {
            continue;
        }
        const std::string name = decoded && sys::Unicode::isValidUtf8(*decoded) ? *decoded : component;
        const std::string url = HttpEasy::resolve(folder, "./" + component + (isDir ? "/" : ""));
        if (url.empty()) continue;
        sys::PlistDictionary info;
        info.set(RemoteFileEntry::kName, sys::PlistValue(name));
        info.set(RemoteFileEntry::kIsFolder, sys::PlistValue(isDir));
        if (rec.contains("length")) {
            info.set(RemoteFileEntry::kBookSize, sys::PlistValue(rec.getInteger("length")));
            if (auto d = rec.getDate("date")) {
                info.set(RemoteFileEntry::kBookDate, RemoteFileEntry::dateValue(int64_t(d->timeIntervalSince1970())));
            }
        }
        list.add(url, std::move(info));
    }
    return list;
}

// Cloud listings. The URL's host is the account key; its path names the
// folder.

const char* FileDownload::cloudListTitle(CloudService s) {
    switch (s) {
    case CloudService::GoogleDrive: return "GoogleDrive";
    case CloudService::OneDrive: return "OneDrive";
    case CloudService::Dropbox: return "Dropbox";
    case CloudService::Box: return "Box";
    }
    return "";
}

const char* FileDownload::cloudAuthorizationError(CloudService s) {
    switch (s) {
    case CloudService::GoogleDrive: return "Google Drive Authorization error.";
    case CloudService::OneDrive: return "OneDrive Authorization error.";
    case CloudService::Dropbox: return "Dropbox Authorization error.";
    case CloudService::Box: return "Box Authorization error.";
    }
    return "";
}

std::string FileDownload::cloudSignInFailure(CloudService s, const std::string& cause) {
    std::string text = BookCommon::localizedStringWithOnOff(cloudAuthorizationError(s));
    if (!cause.empty()) text += "\n(" + BookCommon::localizedStringWithOnOff(cause) + ")";
    return text;
}

std::string FileDownload::cloudClientIDMissing(CloudService s) {
    std::string text = cloudAuthorizationError(s);
    text.resize(text.find(" Authorization error."));
    return text + " needs a client id: see \"cloud." + CloudEndpoints::name(s) + ".clientID\" in the README.";
}

std::string FileDownload::untrustedCertificateQuestion(const std::string& url) {
    return BookCommon::localizedStringWithOnOff(
               "Server Certificate Untrusted.\nAre you sure you want to continue connecting?") +
           "\n\n(" + HttpEasy::hostAndPort(url) + ")";
}

void FileDownload::startCloudListing() {
    // Not before the first request (requestCloudList).
    stopWatching();
    const auto service = CloudEndpoints::fromURL(baseURL_);
    const size_t hostStart = baseURL_.find("://") + 3;
    size_t hostEnd = baseURL_.find_first_of("/?#", hostStart);
    if (hostEnd == std::string::npos) hostEnd = baseURL_.size();
    const std::string key = baseURL_.substr(hostStart, hostEnd - hostStart);
    if (!service || key.empty()) {
        failLater("Connection Failed.");
        return;
    }
    cloudService_ = *service;
    // Without a client id the service's sign-in page would only turn the
    // program away.
    if (CloudEndpoints::forService(cloudService_).clientID.empty()) {
        sys::RunLoop::main().post([weak = weak_from_this()] {
            auto self = weak.lock();
            if (!self || self->isCancel_ || self->delivered_) return;
            self->delivered_ = true;
            self->isActive_ = false;
            if (auto d = self->delegate_.lock()) {
                d->finishListDownload(std::nullopt, std::nullopt, std::string(cloudListTitle(self->cloudService_)),
                                      std::nullopt, cloudClientIDMissing(self->cloudService_), false);
            }
        });
        return;
    }
    std::string path = baseURL_.substr(hostEnd);
    if (size_t q = path.find_first_of("?#"); q != std::string::npos) path.resize(q);
    if (path.empty()) path = "/";
    // Dropbox folders are listed by their display path, which the listing
    // puts into the URL as it is; an escaped form (a saved site) is read back.
    if (cloudService_ == CloudService::Dropbox && path.find('%') != std::string::npos) {
        if (auto decoded = sys::PercentEncoding::decodeStrict(path); decoded && sys::Unicode::isValidUtf8(*decoded)) {
            path = *decoded;
        }
    }
    targetPath_ = path;
    if (cloudService_ == CloudService::GoogleDrive) {
        // Folder URLs are the account's URL and the identifiers of the
        // folders opened on the way: the last one is this folder.
        std::string p = path;
        while (!p.empty() && p.back() == '/') p.pop_back();
        const size_t slash = p.rfind('/');
        targetID_ = slash == std::string::npos || slash + 1 >= p.size() ? std::string("root") : p.substr(slash + 1);
        if (baseURL_.back() != '/') baseURL_ += '/';
    }
    cloud_ = CloudClient::clientForService(cloudService_, key);
    cloud_->setDelegate(std::weak_ptr<CloudClientDelegate>(shared_from_this()));
    awaitingSignIn_ = true;
    ui::NavigationController* nav = targetViewController_ ? targetViewController_->navigationController() : nullptr;
    cloud_->setListingPace(timeLimits_.lowSpeedTime, timeLimits_.lowSpeedBytes);
    if (cloud_->checkForAuthorization(nav)) {
        awaitingSignIn_ = false;
        requestCloudList();
    }
}

void FileDownload::requestCloudList() {
    // The listing's time counts from its first request: a sign-in is the
    // user's.
    indicator(true);
    startedAt_ = sys::Clock::realNow();
    armDeadline();
    watch(nullptr);
    cloudTicket_ = cloud_->getFileList(cloudFolderReference());
}

std::string FileDownload::cloudFolderReference() const {
    return cloudService_ == CloudService::GoogleDrive ? targetID_ : targetPath_;
}

void FileDownload::finishAuthorization(CloudClient& client, const std::optional<std::string>& error,
                                       const std::string& name) {
    if (!awaitingSignIn_ || isCancel_ || delivered_) return;
    awaitingSignIn_ = false;
    if (error) {
        delivered_ = true;
        isActive_ = false;
        if (auto d = delegate_.lock()) {
            d->finishListDownload(std::nullopt, std::nullopt, std::string(cloudListTitle(cloudService_)), std::nullopt,
                                  cloudSignInFailure(cloudService_, *error), false);
        }
        return;
    }
    const std::string folder = settings_ ? settings_->settingsFolder() : BookCommonPaths::getSettingsFolder();
    CloudAccountInfo::recordSignIn(cloudService_, folder, client.keychainItemName(), name);
    if (auto d = delegate_.lock()) d->showHideBaseView(true);
    sys::RunLoop::main().schedule(0.1, [weak = weak_from_this()] {
        if (auto self = weak.lock()) self->retryCloudAfterAuth();
    });
}

void FileDownload::retryCloudAfterAuth() {
    if (isCancel_ || delivered_ || !cloud_) return;
    awaitingSignIn_ = true;
    if (!cloud_->checkForAuthorization(nullptr)) return;
    awaitingSignIn_ = false;
    requestCloudList();
}

void FileDownload::didFinishRecieveFileList(CloudClient& client, CloudTicket& ticket,
                                            const std::optional<std::vector<sys::PlistDictionary>>& list,
                                            bool isAuthorizationError, const std::optional<std::string>& error) {
    if (!cloudTicket_ || cloudTicket_.get() != &ticket || isCancel_) return;
    stopWatching();
    cloudTicket_.reset();
    indicator(false);
    if (isAuthorizationError) {
        // The tokens were refused and could not be renewed: sign in again,
        // then list through the sign-in's answer.
        if (auto d = delegate_.lock()) d->showHideBaseView(false);
        CloudClient::removeAuthInfo(cloudService_, client.keychainItemName());
        awaitingSignIn_ = true;
        ui::NavigationController* nav = targetViewController_ ? targetViewController_->navigationController() : nullptr;
        if (cloud_->checkForAuthorization(nav)) retryCloudAfterAuth();
        return;
    }
    const std::string key = client.keychainItemName();
    // A listing that failed is said so, for every service: an empty list
    // would show the folder as empty.
    if (!list) {
        delivered_ = true;
        isActive_ = false;
        if (auto d = delegate_.lock()) {
            d->finishListDownload(std::nullopt, std::nullopt, std::string(cloudListTitle(cloudService_)), baseURL_,
                                  failedAt(CloudEndpoints::forService(cloudService_).apiBase, error.value_or("")),
                                  false);
        }
        return;
    }
    if (cloudService_ == CloudService::GoogleDrive) {
        const std::string apiBase = CloudEndpoints::forService(CloudService::GoogleDrive).apiBase;
        std::vector<GoogleDriveAPIFile> files;
        files.reserve(list->size());
        for (const auto& item : *list) files.push_back(GoogleDriveAPIFile::fromItem(item, apiBase));
        deliver(getListFromGoogleDrive(files, baseURL_, key), std::nullopt);
        return;
    }
    deliver(getListFromCloudItems(cloudService_, *list, key, CloudEndpoints::forService(cloudService_).apiBase),
            std::nullopt);
}

RemoteFileEntry FileDownload::getListFromGoogleDrive(const std::vector<GoogleDriveAPIFile>& files,
                                                     const std::string& baseURL, const std::string& key) {
    RemoteFileEntry out;
    for (const auto& f : files) {
        const bool folder = f.isFolder();
        const std::optional<std::string>& name = folder ? f.title : f.originalFilename;
        if (!name || name->empty() || f.explicitlyTrashed.value_or(false) || f.identifier.empty()) continue;
        std::string url;
        if (folder) {
            url = baseURL + f.identifier + "/";
        } else {
            if (!BookCommon::isBookorPDFFileorThemeWithFilename(*name)) continue;
            url = baseURL + BookCommon::PercentEncodingWithString(*f.originalFilename);
        }
        sys::PlistDictionary info;
        info.set(RemoteFileEntry::kName, sys::PlistValue(*name));
        info.set(RemoteFileEntry::kIsFolder, sys::PlistValue(folder));
        info.set(RemoteFileEntry::kIsBook, sys::PlistValue(!folder));
        if (f.fileSize && *f.fileSize >= 0) info.set(RemoteFileEntry::kBookSize, sys::PlistValue(*f.fileSize));
        // The record ends at its first missing value (a folder has no file name).
        [&] {
            if (!f.modifiedDate) return;
            info.set(RemoteFileEntry::kBookDate, RemoteFileEntry::dateValue(*f.modifiedDate));
            if (!f.originalFilename) return;
            info.set(RemoteFileEntry::kExtension, sys::PlistValue(QNUrl::pathExtensionOf(*f.originalFilename)));
            if (!f.title) return;
            info.set("googleDriveTitle", sys::PlistValue(*f.title));
            info.set("googledriveItemId", sys::PlistValue(f.identifier));
            info.set("googledriveKey", sys::PlistValue(key));
        }();
        out.add(std::move(url), std::move(info));
    }
    return out;
}

RemoteFileEntry FileDownload::getListFromCloudItems(CloudService service, const std::vector<sys::PlistDictionary>& items,
                                                    const std::string& key, const std::string& apiBase) {
    RemoteFileEntry out;
    for (const auto& item : items) {
        const std::string name = item.getString("name");
        const std::string id = item.getString("id");
        if (name.empty() || id.empty()) continue;
        bool folder = false;
        std::string date;
        switch (service) {
        case CloudService::OneDrive:
            folder = item.contains("folder");
            date = item.getString("lastModifiedDateTime");
            break;
        case CloudService::Box:
            folder = item.getString("type") == "folder";
            date = item.getString("content_modified_at");
            break;
        case CloudService::Dropbox:
            folder = item.getString(".tag") == "folder";
            date = item.getString("server_modified");
            break;
        case CloudService::GoogleDrive: continue;
        }
        if (!folder && !BookCommon::isBookorPDFFileorThemeWithFilename(name)) continue;
        const std::string ext = QNUrl::pathExtensionOf(name);
        std::string url;
        switch (service) {
        case CloudService::OneDrive:
            url = folder ? "onedrive://" + key + "/" + id
                         : apiBase + "/v1.0/me/drive/items/" + BookCommon::PercentEncodingWithString(id) + "/" +
                               BookCommon::PercentEncodingWithString(name);
            break;
        case CloudService::Box:
            url = folder ? "box://" + key + "/" + id
                         : apiBase + "/2.0/files/" + BookCommon::PercentEncodingWithString(id) + "/content." + ext;
            break;
        case CloudService::Dropbox:
            url = folder ? "dropbox://" + key + "/" + item.getString("path_display")
                         : "dropbox://" + BookCommon::PercentEncodingWithString(id) + "/" +
                               BookCommon::PercentEncodingWithString(name);
            break;
        case CloudService::GoogleDrive: break;
        }
        const sys::PlistValue& size = item.get("size");
        sys::PlistDictionary info;
        info.set(RemoteFileEntry::kName, sys::PlistValue(name));
        info.set(RemoteFileEntry::kIsFolder, sys::PlistValue(folder));
        info.set(RemoteFileEntry::kIsBook, sys::PlistValue(!folder));
        // A size the service did not give (folders, some documents) is none,
        // not 0 bytes.
        if (size.isNumber() && size.doubleValue() >= 0) {
            info.set(RemoteFileEntry::kBookSize, sys::PlistValue(item.getInteger("size")));
        }
        // An item without a date (a Dropbox folder) is shown without one.
        if (auto when = CloudJson::parseDate(date)) info.set(RemoteFileEntry::kBookDate, RemoteFileEntry::dateValue(*when));
        info.set(RemoteFileEntry::kExtension, sys::PlistValue(ext));
        switch (service) {
        case CloudService::OneDrive: info.set("onedriveKey", sys::PlistValue(key)); break;
        case CloudService::Box: info.set("boxapikey", sys::PlistValue(key)); break;
        case CloudService::Dropbox:
            info.set("dropboxKey", sys::PlistValue(key));
            info.set("dropboxItemId", sys::PlistValue(id));
            break;
        case CloudService::GoogleDrive: break;
        }
        out.add(std::move(url), std::move(info));
    }
    return out;
}
