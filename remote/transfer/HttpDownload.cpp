#include "remote/transfer/HttpDownload.h"
#include "remote/listing/GoogleDriveShareLink.h"

#include "cloud/CloudTokenStore.h"
#include "cloud/DropboxCommon.h"
#include "cloud/HttpContentRange.h"
#include "cloud/HttpEasy.h"
#include "foundation/BookCommonPaths.h"
#include "foundation/BookCommonTypes.h"
#include "cloud/TrustedServer.h"
#include "foundation/QNUrl.h"
#include "foundation/Settings.h"
#include "platform/core/AppPaths.h"
#include "platform/core/Clock.h"
#include "platform/core/PropertyList.h"
#include "platform/core/RunLoop.h"
#include "remote/screens/ShowHttpAuth.h"
#include "remote/transfer/DownloadedFilePlacer.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

bool isRegularFile(const std::string& path, int64_t* size) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    *size = st.st_size;
    return true;
}

// Keeps the panel and the answer together until the user has answered.
class PanelQuestion : public ShowHttpAuthDelegate, public std::enable_shared_from_this<PanelQuestion> {
public:
    PanelQuestion(HttpDownload::CredentialAnswer answer, std::string rememberFor)
        : answer_(std::move(answer)), rememberFor_(std::move(rememberFor)) {}
    void ask(const std::string& url, const std::string& user, const std::string& password, bool prevStored) {
        self_ = shared_from_this();
        panel_ = std::make_shared<ShowHttpAuth>();
        if (!user.empty() || !password.empty()) panel_->setRefusedCredentials(user, password);
        panel_->getUserAuth(url, user.empty() ? std::nullopt : std::optional<std::string>(user), prevStored, false,
                            self_);
    }
    // Nothing refused yet: the key chain's entry for the URL, else the panel
    // with the user given.
    void askFirst(const std::string& url, const std::string& user) {
        self_ = shared_from_this();
        panel_ = std::make_shared<ShowHttpAuth>();
        panel_->getUserAuth(url, user, false, false, self_);
    }
    void onFinishInput(const std::string& url, const std::optional<std::string>& user,
                       const std::optional<std::string>& password, bool stored) override {
        auto keep = std::move(self_);
        auto answer = std::move(answer_);
        std::function<void()> accepted;
        if (panel_ && panel_->rememberAnswer() && user && password) {
            accepted = [url = rememberFor_.empty() ? url : rememberFor_, user = *user, password = *password] {
                ShowHttpAuth::rememberAccepted(url, user, password);
            };
        }
        sys::RunLoop::main().post([panel = std::move(panel_)] {});  // released after this call returns
        if (answer) answer(user, password, stored, std::move(accepted));
    }

private:
    HttpDownload::CredentialAnswer answer_;
    std::string rememberFor_;
    std::shared_ptr<ShowHttpAuth> panel_;
    std::shared_ptr<PanelQuestion> self_;
};

}  // namespace

HttpDownload::CredentialAsker HttpDownload::panelAsker(const std::string& rememberFor) {
    return [rememberFor](const std::string& url, const std::string& user, const std::string& password,
                         bool prevStored, CredentialAnswer answer) {
        std::make_shared<PanelQuestion>(std::move(answer), rememberFor)->ask(url, user, password, prevStored);
    };
}

void HttpDownload::askBeforeSending(const std::string& url, const std::string& user, const std::string& rememberFor,
                                    CredentialAnswer answer) {
    std::make_shared<PanelQuestion>(std::move(answer), rememberFor)->askFirst(HttpEasy::withoutCredentials(url), user);
}

HttpDownload::HttpDownload() = default;

HttpDownload::~HttpDownload() {
    if (op_) op_->cancel();
    closeFile();
}

std::string HttpDownload::temporaryFolder() {
    std::string dir = sys::AppPaths::tmp();
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0) {
        std::error_code ec;
        fs::create_directories(fs::path(dir).parent_path(), ec);
        ::mkdir(dir.c_str(), 0700);
    } else if (S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) != 0) {
        ::chmod(dir.c_str(), 0700);
    }
    return dir;
}

void HttpDownload::closeFile() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void HttpDownload::discardTemporary() {
    closeFile();
    std::string dir = temporaryFolder();
    ::unlink((dir + "/" + kTempFileName).c_str());
    ::unlink((dir + "/" + kSideFileName).c_str());
}

void HttpDownload::downloadFile(const std::string& url, const std::string& savePath, const std::string& saveName,
                                const std::string& username, const std::string& password,
                                const std::string& serviceName, const sys::PlistDictionary& serviceKey) {
    url_ = url;
    clockHoldUntil_ = sys::Clock::NetworkHoldLimit::current();
    savePath_ = savePath;
    userName_ = username;
    password_ = password;
    finished_ = false;
    restartedWhole_ = steppedBack_ = false;
    // The name comes from a server: one component of the save folder only.
    auto name = BookCommonPaths::confinePathComponent(saveName);
    if (!name || !BookCommonTypes::isBookorPDFFileorThemeWithFilename(*name)) {
        sys::RunLoop::main().post([self = shared_from_this()] { self->finish(kFailed); });
        return;
    }
    saveName_ = *name;
    cloud_.reset();
    cloudRefreshed_ = false;
    cloudToken_.clear();
    if (!serviceName.empty()) {
        std::string lower;
        for (char c : serviceName) lower += char(std::tolower(static_cast<unsigned char>(c)));
        cloud_ = lower.find("onedrive") != std::string::npos      ? std::optional(CloudService::OneDrive)
                 : lower.find("google") != std::string::npos      ? std::optional(CloudService::GoogleDrive)
                 : lower.find("dropbox") != std::string::npos     ? std::optional(CloudService::Dropbox)
                 : lower.find("box") != std::string::npos         ? std::optional(CloudService::Box)
                                                                  : std::nullopt;
        cloudKey_ = serviceKey.getString("key");
        cloudItem_ = serviceKey.getString("itemId");
        const bool needsItem = cloud_ == CloudService::GoogleDrive || cloud_ == CloudService::Dropbox;
        if (!cloud_ || cloudKey_.empty() || (needsItem && cloudItem_.empty())) {
            sys::RunLoop::main().post([self = shared_from_this()] { self->finish(kFailed); });
            return;
        }
    }
    const int mode = settings_ ? settings_->overWriteMode() : 1;
    if (DownloadedFilePlacer::skipsExisting(savePath_, saveName_, mode)) {
        sys::RunLoop::main().post([self = shared_from_this()] { self->finish(kExistsSkipped); });
        return;
    }
    if (cloud_) {
        if (auto token = CloudTokenStore::validAccessToken(*cloud_, cloudKey_)) {
            cloudToken_ = *token;
        } else {
            refreshCloudToken();
            return;
        }
    }
    start();
}

int HttpDownload::cloudFailureCode() const {
    switch (cloud_.value_or(CloudService::Dropbox)) {
    case CloudService::OneDrive: return kOneDriveTokenFailed;
    case CloudService::GoogleDrive: return kGoogleDriveTokenFailed;
    case CloudService::Box: return kBoxTokenFailed;
    case CloudService::Dropbox: return kAuthFailed;
    }
    return kAuthFailed;
}

void HttpDownload::refreshCloudToken() {
    cloudRefreshed_ = true;
    std::weak_ptr<HttpDownload> weak = weak_from_this();
    CloudTokenStore::refresh(*cloud_, cloudKey_, [weak](std::optional<std::string> token, std::string) {
        auto self = weak.lock();
        if (!self || self->finished_) return;
        if (!token) {
            self->finish(self->cloudFailureCode());
            return;
        }
        self->cloudToken_ = *token;
        self->start();
    });
}

HttpRequest HttpDownload::cloudRequest() const {
    const CloudEndpoints e = CloudEndpoints::forService(*cloud_);
    HttpRequest req;
    switch (*cloud_) {
    case CloudService::Dropbox: req = DropboxCommon::downloadRequest(cloudItem_); break;
    case CloudService::GoogleDrive:
        req.url = e.apiBase + "/drive/v3/files/" + CloudTokenStore::formEncode(cloudItem_) + "?alt=media";
        break;
    case CloudService::OneDrive:
    case CloudService::Box: {
        // The listing's file URL ends in the item's name (OneDrive) or
        // "content.<ext>" (Box): the bytes are at ".../content".
        std::string url = url_;
        if (size_t q = url.find_first_of("?#"); q != std::string::npos) url.resize(q);
        const size_t slash = url.rfind('/');
        req.url = (slash == std::string::npos ? url : url.substr(0, slash)) + "/content";
        break;
    }
    }
    // The service's redirect to its storage must not carry the token:
    // HttpEasy drops "Authorization" when the origin changes.
    req.setHeader("Authorization", "Bearer " + cloudToken_);
    return req;
}

void HttpDownload::start() {
    const std::string dir = temporaryFolder();
    const std::string temp = dir + "/" + kTempFileName;
    const std::string side = dir + "/" + kSideFileName;
    const std::string source = HttpEasy::withoutCredentials(url_);

    resumeOffset_ = 0;
    validator_.clear();
    if (auto arr = sys::PropertyList::readArray(side)) {
        int64_t size = 0;
        if (arr->size() >= 2 && (*arr)[0].isString() && (*arr)[0].asString() == source && (*arr)[1].isString() &&
            !(*arr)[1].asString().empty() && isRegularFile(temp, &size) && size > 0) {
            resumeOffset_ = size;
            validator_ = (*arr)[1].asString();
        }
    }
    closeFile();
    if (resumeOffset_ > 0) {
        fd_ = ::open(temp.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
        if (fd_ >= 0 && ::lseek(fd_, 0, SEEK_END) != resumeOffset_) closeFile();
    } else {
        ::unlink(temp.c_str());
        fd_ = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    }
    if (fd_ < 0 || !sys::PropertyList::writeFile(sys::PlistValue(sys::PlistArray{source, validator_}), side)) {
        closeFile();
        sys::RunLoop::main().post([self = shared_from_this()] { self->finish(kTempFileFailed); });
        return;
    }

    HttpRequest req;
    if (cloud_) {
        req = cloudRequest();
    } else if (auto shared = GoogleDriveShareLink::downloadURL(url_)) {
        // A file of a shared Drive folder: public, fetched without credentials.
        req.url = *shared;
    } else {
        req.url = url_;
        req.userName = userName_;
        req.password = password_;
    }
    req.lowSpeedTime = stallTimeout_;
    TrustedServer::applyTo(req);
    if (resumeOffset_ > 0) {
        req.setHeader("Range", "bytes=" + std::to_string(resumeOffset_) + "-");
        req.setHeader("If-Range", validator_);
    }
    status_ = 0;
    startOffset_ = 0;
    expectedTotal_ = -1;
    written_ = 0;
    refused_ = writeFailed_ = rangeRejected_ = false;
    rejectedTotal_ = -1;
    received_ = 0;

    if (op_) op_->cancel();
    op_ = std::make_shared<QNHTTPRequestOperation>(req);
    // The handlers run on the network thread while this object lives: the
    // destructor and cancelDownload() cancel the operation first.
    op_->setResponseHandler([this](const HttpResponse& r) { return onResponse(r); });
    op_->setDataHandler([this](const char* d, size_t n) { return onData(d, n); });
    std::weak_ptr<HttpDownload> weak = weak_from_this();
    op_->setCompletion([weak](const HttpResponse& r) {
        if (auto self = weak.lock()) self->onComplete(r);
    });
    sys::Clock::NetworkHoldLimit hold(clockHoldUntil_ - sys::Clock::realNow());
    op_->start();
}

bool HttpDownload::onResponse(const HttpResponse& r) {
    status_ = r.status;
    if (r.status == 200) {
        // A whole file: the server did not honour the range, or the file
        // changed since the temporary one was begun (If-Range).
        if (resumeOffset_ > 0 && (::ftruncate(fd_, 0) != 0 || ::lseek(fd_, 0, SEEK_SET) != 0)) {
            writeFailed_ = true;
            return false;
        }
        startOffset_ = 0;
        std::string len = r.header("content-length");
        expectedTotal_ = len.empty() ? -1 : std::strtoll(len.c_str(), nullptr, 10);
    } else if (r.status == 206) {
        const auto range = HttpContentRange::parse(r.header("content-range"));
        if (!range || range->first != resumeOffset_) {
            refused_ = true;
            return false;
        }
        startOffset_ = resumeOffset_;
        expectedTotal_ = range->total;
    } else {
        if (r.status == 416 && resumeOffset_ > 0) {
            rangeRejected_ = true;
            // The file's length, when the answer gives it.
            const auto range = HttpContentRange::parse(r.header("content-range"));
            rejectedTotal_ = range && range->unsatisfied() ? range->total : -1;
        }
        return false;
    }
    std::string validator = r.header("etag");
    if (validator.empty()) validator = r.header("last-modified");
    const std::string side = temporaryFolder() + "/" + kSideFileName;
    sys::PropertyList::writeFile(sys::PlistValue(sys::PlistArray{HttpEasy::withoutCredentials(url_), validator}),
                                 side);
    const std::string name = saveName_;
    const int64_t total = expectedTotal_, offset = startOffset_;
    sys::RunLoop::main().post(
        [weak = weak_from_this(), name, total, offset] {
            auto self = weak.lock();
            if (!self || self->finished_ || !self->delegate_) return;
            auto d = self->delegate_;
            d->onChangeHttpDownloadStatus(0, 0);
            d->onConnected(name, total);
            d->setStartOffset(offset);
        });
    return true;
}

bool HttpDownload::onData(const char* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        ssize_t w = ::write(fd_, data + done, size - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            writeFailed_ = true;
            return false;
        }
        done += size_t(w);
    }
    written_ += int64_t(size);
    received_ += int64_t(size);
    if (!progressQueued_.exchange(true)) {
        sys::RunLoop::main().post([weak = weak_from_this()] {
            auto self = weak.lock();
            if (!self) return;
            self->progressQueued_ = false;
            if (!self->finished_ && self->delegate_) self->delegate_->onChangeHttpDownloadStatus(1, self->received_);
        });
    }
    return true;
}

void HttpDownload::onComplete(const HttpResponse& r) {
    if (finished_ || r.error == HttpResponse::kCancelled) return;
    if (accepted_ && status_ > 0 && status_ != 401) {
        // The server took the answer.
        auto accepted = std::move(accepted_);
        accepted_ = nullptr;
        accepted();
    }
    if (refused_) {
        // Bytes from elsewhere in the file must not be appended: start over
        // next time.
        discardTemporary();
        finish(kFailed);
        return;
    }
    if (rangeRejected_ && !steppedBack_ && resumeOffset_ > 1 &&
        (rejectedTotal_ < 0 || rejectedTotal_ == resumeOffset_)) {
        // Every byte is already here (the program ended after the last one
        // came, before the book was put in place): nothing lies after the
        // end. The last byte is asked again under the same If-Range: the same
        // version sends it and the book is whole; another one comes whole.
        steppedBack_ = true;
        closeFile();
        if (::truncate((temporaryFolder() + "/" + kTempFileName).c_str(), resumeOffset_ - 1) == 0) {
            start();
            return;
        }
    }
    if (rangeRejected_ && !restartedWhole_) {
        restartedWhole_ = true;
        discardTemporary();
        start();
        return;
    }
    if (writeFailed_) {
        finish(kTempFileFailed);
        return;
    }
    if (status_ == 200 || status_ == 206) {
        const bool complete = r.ok() && (expectedTotal_ < 0 || startOffset_ + written_ == expectedTotal_);
        closeFile();
        if (!complete) {
            // The temporary file stays for a later resume.
            finish(written_ > 0 ? kFailedAfterProgress : kFailed);
            return;
        }
        if (!moveIntoPlace()) return;
        ::unlink((temporaryFolder() + "/" + kSideFileName).c_str());
        finish(kSaved);
        return;
    }
    closeFile();
    if (status_ == 401 && cloud_) {
        // The token was refused: renewed once, then the service's code.
        if (cloudRefreshed_) {
            finish(cloudFailureCode());
        } else {
            refreshCloudToken();
        }
    } else if (status_ == 401) {
        askCredentials();
    } else if (status_ == 404) {
        finish(kNotFound);
    } else if (status_ >= 400 && status_ < 500) {
        finish(kClientError);
    } else if (status_ >= 500) {
        finish(kServerError);
    } else {
        finish(kFailed);
    }
}

bool HttpDownload::moveIntoPlace() {
    const std::string temp = temporaryFolder() + "/" + kTempFileName;
    const int mode = settings_ ? settings_->overWriteMode() : 1;
    switch (DownloadedFilePlacer::place(temp, savePath_, saveName_, mode, &savedPath_)) {
    case DownloadedFilePlacer::Outcome::Placed: return true;
    case DownloadedFilePlacer::Outcome::ExistsSkipped:
        finish(kExistsSkipped);
        return false;
    case DownloadedFilePlacer::Outcome::Failed: break;
    }
    finish(kTempFileFailed);
    return false;
}

void HttpDownload::askCredentials() {
    if (!asker_) {
        finish(kAuthFailed);
        return;
    }
    std::weak_ptr<HttpDownload> weak = weak_from_this();
    accepted_ = nullptr;
    asker_(HttpEasy::withoutCredentials(url_), userName_, password_, usedStoredCredentials_,
           [weak](std::optional<std::string> user, std::optional<std::string> password, bool stored,
                  std::function<void()> accepted) {
               auto self = weak.lock();
               if (!self || self->finished_) return;
               if (!user) {
                   self->finish(kAuthFailed);
                   return;
               }
               self->userName_ = *user;
               self->password_ = password.value_or("");
               self->usedStoredCredentials_ = stored;
               self->accepted_ = std::move(accepted);
               self->start();
           });
}

void HttpDownload::cancelDownload() {
    finished_ = true;
    if (op_) op_->cancel();
    closeFile();
}

void HttpDownload::finish(int result) {
    if (finished_) return;
    finished_ = true;
    closeFile();
    if (auto d = delegate_) d->onFinishConnection(result);
}
