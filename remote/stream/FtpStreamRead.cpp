#include "remote/stream/FtpStreamRead.h"

#include "foundation/QNUrl.h"
#include "foundation/UrlPercent.h"
#include "remote/listing/FtpListing.h"
#include "remote/protocols/QNFtpRequestSync.h"

#include <algorithm>

FtpStreamRead::FtpStreamRead() = default;

FtpStreamRead::~FtpStreamRead() {
    closeURL();
    stopLoader();
}

void FtpStreamRead::registerWithEngine() {
    registerStreamClass(kFTP, [] { return std::make_shared<FtpStreamRead>(); });
}

void FtpStreamRead::setClient(std::shared_ptr<QNFtpRequestSync> client) {
    std::lock_guard<std::mutex> lock(clientMutex_);
    client_ = std::move(client);
    if (client_ && abort_) client_->cancel();
}

bool FtpStreamRead::openURL(const std::string& url) {
    stopLoader();
    abort_ = false;
    setTargetURL(url);
    if (isOfflineMode()) return isCacheComplete() && prepareCacheFiles();
    if (isCacheComplete()) {
        setIsUnsupportedFtp(false);
        return prepareCacheFiles();
    }
    auto u = QNUrl::URLWithString(url);
    if (!u || u->host().empty()) return false;
    site_ = Site{};
    site_.host = u->host();
    if (u->port()) site_.port = int(*u->port());
    // The path's bytes are in the site's character set, as the listing
    // escaped them. As in every ftp URL, it starts at the log-on folder.
    std::string path = UrlPercent::decoded(u->path());
    if (!path.empty() && path[0] == '/') path.erase(0, 1);
    const size_t slash = path.rfind('/');
    site_.folder = slash == std::string::npos ? std::string() : path.substr(0, slash);
    site_.name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (site_.name.empty()) return false;
    site_.user = !userName().empty() ? userName() : UrlPercent::decoded(u->user());
    site_.password = !userName().empty() ? password() : UrlPercent::decoded(u->password());
    if (site_.user.empty()) site_.user = FtpListing::kAnonymousUser;
    if (site_.password.empty()) site_.password = FtpListing::kAnonymousPassword;

    return startLoader("ftp-stream");
}

int FtpStreamRead::logOn(const std::shared_ptr<QNFtpRequestSync>& client) {
    setClient(client);
    client->setTimeouts(30, 30);
    if (const int rc = client->connectToFtp(site_.host, site_.port, site_.user, site_.password)) return rc;
    return site_.folder.empty() ? 0 : client->changeDir(site_.folder);
}

bool FtpStreamRead::probe() {
    auto client = std::make_shared<QNFtpRequestSync>();
    const int rc = logOn(client);
    if (stopping()) return false;
    if (rc != 0) {
        setIsError();
        return false;
    }
    const int64_t size = client->getFilesize(site_.name);
    client->disconnect();
    if (stopping()) return false;
    if (size < 0) {
        // Without SIZE the file cannot be read in place.
        setIsUnsupportedFtp(true);
        return false;
    }
    if (size == 0) return false;
    setContentLength(size);
    return prepareCacheFiles();
}

void FtpStreamRead::cancelTransfer() {
    std::lock_guard<std::mutex> lock(clientMutex_);
    if (client_) client_->cancel();
}
FtpStreamRead::Outcome FtpStreamRead::fetchBlock(uint64_t block) {
    const int64_t first = int64_t(block * kBlockSize);
    const int64_t length = std::min<int64_t>(contentLength() - first, int64_t(kBlockSize));
    if (length <= 0) return Outcome::Fatal;
    ++blockRequests_;
    auto client = std::make_shared<QNFtpRequestSync>();
    const int logon = logOn(client);
    if (stopping()) return Outcome::Fatal;
    if (logon == QNFtpRequestSync::kUserRefused || logon == QNFtpRequestSync::kPasswordRefused) {
        return Outcome::Fatal;
    }
    if (logon != 0) return Outcome::Retry;
    int64_t got = 0;
    bool began = false, refused = false;
    const int rc = client->getFile(site_.name, first, length, [&](const char* data, size_t n) {
        if (!began) {
            beginTransfer(block);
            began = true;
        }
        const size_t take = size_t(std::min<int64_t>(int64_t(n), length - got));
        if (take > 0 && !appendTransferBytes(data, take)) {
            refused = true;
            return false;
        }
        got += int64_t(take);
        return true;
    });
    if (began) endTransfer();
    client->disconnect();
    if (stopping() || refused) return Outcome::Fatal;
    if (rc == QNFtpRequestSync::kRestRefused) {
        setIsUnsupportedFtp(true);
        return Outcome::Fatal;
    }
    if (rc == QNFtpRequestSync::kTransferRefused && got == 0) {
        // RETR refused: the file is gone or unreadable.
        return Outcome::Fatal;
    }
    if (rc != QNFtpRequestSync::kTransferDone || got < length) return Outcome::Retry;
    return Outcome::Done;
}
