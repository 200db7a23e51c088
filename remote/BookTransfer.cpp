#include "remote/BookTransfer.h"

#include "foundation/BookCommon.h"
#include "foundation/NetworkIndicatorWithKey.h"
#include "foundation/QNKeyChain.h"
#include "foundation/Settings.h"
#include "platform/core/Clock.h"
#include "platform/core/FileManager.h"
#include "platform/core/Path.h"
#include "platform/core/PropertyList.h"
#include "platform/ui/UserNotificationCenter.h"
#include "remote/screens/ShowHttpAuth.h"
#include "remote/transfer/FtpDownload.h"
#include "remote/transfer/HttpDownload.h"
#include "remote/transfer/SMBDownload.h"

#include <cctype>
#include <chrono>

namespace {

constexpr const char* kIndicatorKey = "bookTransfer";

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 0;  // an invalid digit counts as 0
}

// ftp URLs run through our FTP client, whatever type the caller gave.
bool isFtpUrl(const std::string& s) {
    if (s.size() < 6) return false;
    for (size_t i = 0; i < 6; ++i)
        if (std::tolower(static_cast<unsigned char>(s[i])) != "ftp://"[i]) return false;
    return true;
}

// A refused log-on or a challenge asks through the sign-in panel. The
// item's site forgets its own password when the server refuses it, an
// answer typed for the item is remembered for the site, and the item goes
// with the answer from then on (a continuation, a retry).
HttpDownload::CredentialAsker credentialAsker(const std::shared_ptr<TransferItem>& item) {
    return [panel = HttpDownload::panelAsker(item->site.url), id = item->site.id,
            weak = std::weak_ptr<TransferItem>(item)](const std::string& url, const std::string& user,
                                                      const std::string& password, bool prevStored,
                                                      HttpDownload::CredentialAnswer answer) {
        ShowHttpAuth::forgetRefusedSitePassword(id, password);
        panel(url, user, password, prevStored,
              [weak, answer = std::move(answer)](std::optional<std::string> user, std::optional<std::string> password,
                                                 bool stored, std::function<void()> accepted) {
                  if (auto taken = weak.lock(); taken && user) {
                      taken->username = user;
                      taken->password = password.value_or("");
                  }
                  answer(std::move(user), std::move(password), stored, std::move(accepted));
              });
    };
}

// What the item goes with: its own password, else (an item read back from
// the state file, which keeps none) its site's.
std::string passwordOf(const TransferItem& item) {
    if (item.password) return *item.password;
    if (!item.username || item.site.id.empty()) return {};
    return QNKeyChain::getPasswordWithAccount(item.site.id, std::string(ShowHttpAuth::kSitePasswordService))
        .value_or("");
}

// An item that knows its user but no password (one read back from the state
// file, its site keeping none) would go with an empty password, which the
// server would only refuse: it asks first.
bool asksBeforeSending(const TransferItem& item) {
    if (item.password || item.username.value_or("").empty() || !item.serviceName.value_or("").empty()) return false;
    if (!BookCommon::isURLHttp(item.source) && !isFtpUrl(item.source) && !BookCommon::isSMB(item.source))
        return false;
    return item.site.id.empty() ||
           !QNKeyChain::getPasswordWithAccount(item.site.id, std::string(ShowHttpAuth::kSitePasswordService));
}

double unixNow() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace

// Hands one downloader's callbacks to the queue; a downloader that was
// replaced or cancelled keeps a forwarder that is switched off.
class BookTransfer::Forwarder : public HttpDownloadDelegate {
public:
    explicit Forwarder(std::weak_ptr<BookTransfer> q) : queue_(std::move(q)) {}
    void off() { on_ = false; }
    void onChangeHttpDownloadStatus(int, int64_t size) override {
        if (auto q = live()) q->onChangeHttpDownloadStatus(size);
    }
    void onConnected(const std::string&, int64_t size) override {
        if (auto q = live()) q->onConnected(size);
    }
    void setStartOffset(int64_t offset) override {
        if (auto q = live()) q->setStartOffset(offset);
    }
    void onFinishConnection(int result) override {
        if (auto q = live()) q->onFinishConnection(result);
    }

private:
    std::shared_ptr<BookTransfer> live() { return on_ ? queue_.lock() : nullptr; }
    std::weak_ptr<BookTransfer> queue_;
    bool on_ = true;
};

BookTransfer::BookTransfer()
    : statePath_(sys::Path::stringByAppendingPathComponent(BookCommon::getSettingsFolder(), kStateFileName)) {}

BookTransfer::~BookTransfer() {
    if (forwarder_) forwarder_->off();
    if (httpDownload_) httpDownload_->cancelDownload();
    if (smbDownload_) smbDownload_->cancelDownload();
    if (ftpDownload_) ftpDownload_->cancelDownload();
    if (idleHeld_) BookCommon::globalIdleTimerDisabled(false);
}

std::string BookTransfer::fileNameFromSource(const std::string& source) {
    std::string path = source;
    if (auto scheme = path.find("://"); scheme != std::string::npos) {
        if (auto cut = path.find_first_of("?#", scheme + 3); cut != std::string::npos) path.resize(cut);
    }
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    const auto slash = path.rfind('/');
    const std::string last = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string name;
    for (size_t i = 0; i < last.size(); ++i) {
        if (last[i] != '%') {
            name += last[i];
            continue;
        }
        if (i + 1 >= last.size()) break;  // a "%" at the very end stops the decoding
        const char hi = last[i + 1];
        const char lo = i + 2 < last.size() ? last[i + 2] : '0';
        name += char(hexDigit(hi) * 16 + hexDigit(lo));
        i += 2;
    }
    if (name.size() > 1023) {
        name.resize(1023);
        // Never end inside a UTF-8 sequence.
        size_t cut = name.size();
        size_t back = 0;
        while (cut > 0 && back < 4 && (static_cast<unsigned char>(name[cut - 1]) & 0xC0) == 0x80) --cut, ++back;
        if (cut > 0) {
            const unsigned char lead = static_cast<unsigned char>(name[cut - 1]);
            const size_t need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
            if (need > back + 1) name.resize(cut - 1);
        }
    }
    auto confined = BookCommon::confinePathComponent(name);
    return confined ? *confined : "download";
}

std::string BookTransfer::settleSaveFolder(int type, const std::string& source, std::string folder,
                                           const std::optional<std::string>& createFolder) const {
    if (type == 0 && settings_ && settings_->isFileDownloadOnlyDownloadFolder()) {
        if (auto checked = BookCommon::checkSaveFolder(folder.empty() ? std::nullopt : std::optional(folder)))
            folder = *checked;
    }
    if (createFolder) {
        if (auto sub = BookCommon::confinePathComponent(*createFolder))
            folder = sys::Path::stringByAppendingPathComponent(folder, *sub);
    }
    if (type == 0 && !BookCommon::isLeafbrightLibraryDownloadDirectory(folder) &&
        BookCommon::isUrlIsInLeafbrightLibrary(source)) {
        const std::string root = BookCommon::getBooksTempRoot();
        const std::string library = sys::Path::stringByAppendingPathComponent(root, ".BookLibrary");
        if (BookCommon::isPathInFolder(folder, root) && folder.size() > root.size() + 1)
            folder = sys::Path::stringByAppendingPathComponent(library, folder.substr(root.size() + 1));
        else
            folder = library;
    }
    return folder;
}

void BookTransfer::addNewItem(int type, const std::string& source, const std::string& savePath,
                              const std::optional<std::string>& createFolder,
                              const std::optional<std::string>& saveName, const std::optional<std::string>& username,
                              const std::optional<std::string>& password,
                              const std::optional<std::string>& serviceName, const sys::PlistDictionary& serviceKey,
                              const sys::PlistDictionary& otherSettings, int64_t fileSize,
                              const TransferItem::Site& site) {
    auto item = std::make_shared<TransferItem>();
    // A name from a server keeps no control character: the file would show
    // cut in the library and garble a terminal that lists it.
    item->saveName = saveName ? BookCommon::withoutControlCharacters(*saveName) : fileNameFromSource(source);
    item->savePath = settleSaveFolder(type, source, savePath, createFolder);
    item->type = BookCommon::isSMB(source) ? TransferItem::kSmb : BookCommon::isGoogleDrive(source) ? 0 : type;
    item->status = TransferItem::kWaiting;
    item->source = source;
    item->username = username;
    item->password = password;
    item->serviceName = serviceName;
    item->serviceKey = serviceKey;
    item->otherSettings = otherSettings;
    item->size = fileSize;
    item->site = site;
    cue_.push_back(item);
    saveState();
    onChangeCue();
}

void BookTransfer::onChangeCue() {
    if (delegate_) delegate_->onChangeCue(cue_, false, 0);
    runItem();
}

void BookTransfer::runItem() {
    if (transferInProgress_) return;
    if (cue_.empty()) {
        NetworkIndicatorWithKey::networkIndicatorWithKey()->visible(false, kIndicatorKey);
        if (delegate_) delegate_->onChangeTransferItem(nullptr);
        if (settings_ && settings_->isDoNotStorePasswords()) BookCommon::deleteAllHttpUrlKeyChain();
        saveState();
        return;
    }
    transferInProgress_ = cue_.front();
    cue_.erase(cue_.begin());
    continuations_ = 0;
    clockHoldUntil_ = sys::Clock::realNow() + clockHoldSeconds_;
    transferInProgress_->status = TransferItem::kTransferring;
    startDownloader();
    if (delegate_) {
        delegate_->onChangeTransferItem(transferInProgress_);
        delegate_->onChangeCue(cue_, true, 0);
    }
    NetworkIndicatorWithKey::networkIndicatorWithKey()->visible(true, kIndicatorKey);
}

void BookTransfer::askBeforeSending() {
    auto item = transferInProgress_;
    auto question = std::make_shared<bool>(true);
    question_ = question;
    HttpDownload::askBeforeSending(
        item->source, item->username.value_or(""), item->site.url,
        [weak = weak_from_this(), item, asked = std::weak_ptr<bool>(question)](
            std::optional<std::string> user, std::optional<std::string> password, bool stored,
            std::function<void()> accepted) {
            auto self = weak.lock();
            // Cancelled while asking, or another item runs.
            if (!self || asked.expired() || self->transferInProgress_ != item) return;
            self->question_.reset();
            if (!user) {
                self->onFinishConnection(HttpDownload::kAuthFailed);
                return;
            }
            item->username = user;
            item->password = password.value_or("");
            // The item starts now: the question took the user's time.
            self->clockHoldUntil_ = sys::Clock::realNow() + self->clockHoldSeconds_;
            self->startDownloader(stored, std::move(accepted));
        });
}

void BookTransfer::startDownloader(bool fromKeyChain, std::function<void()> accepted) {
    releaseDownloaders();
    const TransferItem& item = *transferInProgress_;
    if (asksBeforeSending(item)) {
        askBeforeSending();
        return;
    }
    forwarder_ = std::make_shared<Forwarder>(weak_from_this());
    if (!idleHeld_) {
        BookCommon::globalIdleTimerDisabled(true);
        idleHeld_ = true;
    }
    // A new subfolder, or the ".BookLibrary" one, may not exist yet.
    sys::FileManager::createDirectory(item.savePath, true);
    // The downloaders take the item's limit on.
    sys::Clock::NetworkHoldLimit hold(clockHoldUntil_ - sys::Clock::realNow());
    const std::string password = passwordOf(item);
    if (item.type == TransferItem::kSmb) {
        smbDownload_ = std::make_shared<SMBDownload>();
        smbDownload_->setSettings(settings_.get());
        smbDownload_->setOtherSettings(item.otherSettings);
        smbDownload_->setDelegate(forwarder_);
        smbDownload_->setCredentialAsker(credentialAsker(transferInProgress_));
        smbDownload_->setAnswered(fromKeyChain, std::move(accepted));
        smbDownload_->downloadFile(item.source, item.savePath, item.saveName, item.username.value_or(""),
                                   password);
    } else if (isFtpUrl(item.source)) {
        ftpDownload_ = std::make_shared<FtpDownload>();
        ftpDownload_->setSettings(settings_.get());
        ftpDownload_->setDelegate(forwarder_);
        ftpDownload_->setTimeouts(30, stallTimeout_);
        ftpDownload_->setCredentialAsker(credentialAsker(transferInProgress_));
        ftpDownload_->setAnswered(fromKeyChain, std::move(accepted));
        ftpDownload_->downloadFile(item.source, item.savePath, item.saveName, item.username.value_or(""),
                                   password);
    } else {
        httpDownload_ = std::make_shared<HttpDownload>();
        httpDownload_->setSettings_(settings_.get());
        httpDownload_->setDelegate(forwarder_);
        httpDownload_->setCredentialAsker(credentialAsker(transferInProgress_));
        httpDownload_->setAnswered(fromKeyChain, std::move(accepted));
        httpDownload_->setStallTimeout(stallTimeout_);
        httpDownload_->downloadFile(item.source, item.savePath, item.saveName, item.username.value_or(""),
                                    password, item.serviceName.value_or(""), item.serviceKey);
    }
}

void BookTransfer::releaseDownloaders() {
    question_.reset();
    if (forwarder_) forwarder_->off();
    forwarder_.reset();
    if (httpDownload_) httpDownload_->cancelDownload();
    if (smbDownload_) smbDownload_->cancelDownload();
    if (ftpDownload_) ftpDownload_->cancelDownload();
    httpDownload_.reset();
    smbDownload_.reset();
    ftpDownload_.reset();
}

void BookTransfer::onConnected(int64_t fileSize) {
    if (!transferInProgress_) return;
    transferInProgress_->size = fileSize;
    transferInProgress_->startTime = unixNow();
    if (delegate_) delegate_->onChangeTransferProgress(transferInProgress_);
}

void BookTransfer::onChangeHttpDownloadStatus(int64_t sizeDownload) {
    if (!transferInProgress_) return;
    transferInProgress_->sizeTransfer = sizeDownload;
    if (delegate_) delegate_->onChangeTransferProgress(transferInProgress_);
}

void BookTransfer::setStartOffset(int64_t offset) {
    if (transferInProgress_) transferInProgress_->startOffset = offset;
}

void BookTransfer::onFinishConnection(int result) {
    if (!transferInProgress_) return;
    if (idleHeld_) {
        BookCommon::globalIdleTimerDisabled(false);
        idleHeld_ = false;
    }
    // The downloader is ending: drop it without cancelling (its callback is
    // still on the stack).
    if (forwarder_) forwarder_->off();
    forwarder_.reset();
    auto http = std::move(httpDownload_);
    auto smb = std::move(smbDownload_);
    auto ftp = std::move(ftpDownload_);
    // Released after the callback returns: the SMB and FTP workers wait for
    // it, and their cancel joins that worker.
    if (http || smb || ftp)
        sys::RunLoop::main().post([http, smb, ftp] {
            if (smb) smb->cancelDownload();
            if (ftp) ftp->cancelDownload();
        });

    auto item = transferInProgress_;
    if (result == 0) item->savedPath = http ? http->savedPath() : smb ? smb->savedPath() : ftp ? ftp->savedPath() : "";
    if (result == HttpDownload::kFailedAfterProgress) {
        // Continues from the temporary file, a bounded number of times: a
        // server that breaks off every attempt (one that cannot resume sends
        // the same head again each time) must not keep the queue busy for
        // ever. The part stays for a retry.
        if (++continuations_ <= kMaxContinuations) {
            startDownloader();
            return;
        }
        result = HttpDownload::kFailed;
    }
    static const char* const kMessages[] = {
        nullptr,          "HTTP Error.",      "HTTP Client Errorr.", "HTTP Server Errorr.",
        "HTTP File Not Found.", "Auth Error.", "Error local file.",   nullptr,
        "SMB Error.",     "SMB Access denied.", nullptr,             "OneDrive Token expired.",
        "GoogleDrive Token expired.", "Box Token expired.",
    };
    item->errorMessage.reset();
    if (result >= 0 && result < int(std::size(kMessages)) && kMessages[result])
        item->errorMessage = kMessages[result];
    item->status = result == 0 ? TransferItem::kDone : result == 7 ? TransferItem::kSkipped : TransferItem::kFailed;

    recentCue_.insert(recentCue_.begin(), item);
    int changeType = 0;
    if (recentCue_.size() > kMaxRecent) {
        recentCue_.pop_back();
        changeType = 1;
    }
    if (isRecentCueChangeFlag_) {
        isRecentCueChangeFlag_ = false;
        changeType = 3;
    }
    if (delegate_) delegate_->onChangeRecentCue(recentCue_, changeType, 0);
    onDownloadFinishedWith(item->saveName, item->status != TransferItem::kDone);
    transferInProgress_.reset();
    saveState();
    if (finishedObserver_) finishedObserver_(*item);
    runItem();
}

void BookTransfer::onDownloadFinishedWith(const std::string& name, bool isError) {
    auto center = ui::UserNotificationCenter::shared();
    if (!center) return;
    ui::UserNotificationCenter::Request request;
    request.identifier = "transfer-" + std::to_string(++noticeCount_);
    request.body = BookCommon::localizedStringWithOnOff(isError ? "Download Error" : "Download Complete") + ": " + name;
    request.delay = 0;
    request.userInfo = {{"category", "FILE_TRANSFER"}, {"action", BookCommon::localizedStringWithOnOff("Open")}};
    center->add(request);
}

void BookTransfer::cancelCurrentTransfer() {
    if (!transferInProgress_) return;
    releaseDownloaders();
    if (idleHeld_) {
        BookCommon::globalIdleTimerDisabled(false);
        idleHeld_ = false;
    }
    transferInProgress_.reset();
    saveState();
    runItem();
}

void BookTransfer::cancelCurrentTransferAll() {
    cue_.clear();
    if (delegate_) delegate_->onChangeCue(cue_, false, 0);
    saveState();
    cancelCurrentTransfer();
}

void BookTransfer::removeItemAtIndex(size_t index) {
    if (index >= cue_.size()) return;
    cue_.erase(cue_.begin() + long(index));
    saveState();
    if (delegate_) delegate_->onChangeCue(cue_, true, int(index));
}

void BookTransfer::retryItemInRecentCue(size_t index) {
    if (index >= recentCue_.size()) return;
    auto item = recentCue_[index];
    recentCue_.erase(recentCue_.begin() + long(index));
    item->status = TransferItem::kWaiting;
    cue_.push_back(item);
    isRecentCueChangeFlag_ = true;
    saveState();
    onChangeCue();
    if (delegate_) delegate_->onChangeRecentCue(recentCue_, 3, 0);
}

void BookTransfer::clearRecentCue() {
    recentCue_.clear();
    if (delegate_) delegate_->onChangeRecentCue(recentCue_, 3, 0);
}

void BookTransfer::removeRecentCueItem(size_t index) {
    if (index >= recentCue_.size()) return;
    recentCue_.erase(recentCue_.begin() + long(index));
    if (delegate_) delegate_->onChangeRecentCue(recentCue_, 2, int(index));
}

void BookTransfer::saveState() {
    if (statePath_.empty()) return;
    sys::PlistArray items;
    if (transferInProgress_) items.emplace_back(transferInProgress_->toStateDictionary());
    for (const auto& item : cue_) items.emplace_back(item->toStateDictionary());
    if (items.empty()) {
        sys::FileManager::removeItem(statePath_);
        return;
    }
    auto bytes = sys::PropertyList::serialize(sys::PlistValue(std::move(items)));
    if (!bytes) return;
    sys::FileManager::createDirectory(sys::Path::stringByDeletingLastPathComponent(statePath_), true);
    sys::FileManager::writeFile(statePath_, *bytes, true);
}

size_t BookTransfer::restoreState() {
    if (statePath_.empty()) return 0;
    auto array = sys::PropertyList::readArray(statePath_);
    if (!array) return 0;
    size_t restored = 0;
    for (const auto& value : *array) {
        if (!value.isDictionary()) continue;
        auto item = TransferItem::fromStateDictionary(value.asDictionary());
        if (!item) continue;
        // A saved name that is not one path component would leave the folder.
        if (!BookCommon::confinePathComponent(item->saveName) ||
            *BookCommon::confinePathComponent(item->saveName) != item->saveName)
            continue;
        cue_.push_back(std::make_shared<TransferItem>(std::move(*item)));
        ++restored;
    }
    if (restored) onChangeCue();
    return restored;
}
