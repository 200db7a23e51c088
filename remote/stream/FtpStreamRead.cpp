#include "remote/stream/FtpStreamRead.h"

#include "foundation/QNUrl.h"
#include "foundation/UrlPercent.h"
#include "remote/listing/FtpListing.h"
#include "remote/protocols/QNFtpRequestSync.h"

#include <algorithm>

namespace {

using Ftp = QNFtpRequestSync;

bool refusedLogOn(int status) { return status == Ftp::kUserRefused || status == Ftp::kPasswordRefused; }

}  // namespace

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

std::shared_ptr<QNFtpRequestSync> FtpStreamRead::client() {
    std::lock_guard<std::mutex> lock(clientMutex_);
    return client_;
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

int FtpStreamRead::session(std::shared_ptr<QNFtpRequestSync>* out) {
    auto c = client();
    if (c && c->connected()) {
        *out = c;
        return 0;
    }
    c = std::make_shared<QNFtpRequestSync>();
    c->setTimeouts(30, 30);
    c->setDataReceiveBuffer(kDataReceiveBuffer);
    setClient(c);
    *out = c;
    if (const int rc = c->connectToFtp(site_.host, site_.port, site_.user, site_.password)) return rc;
    ++logOns_;
    if (!site_.folder.empty()) {
        if (const int rc = c->changeDir(site_.folder)) {
            c->disconnect();
            return rc;
        }
    }
    return 0;
}

void FtpStreamRead::endSession() {
    if (auto c = client()) c->disconnect();
}

bool FtpStreamRead::probe() {
    std::shared_ptr<QNFtpRequestSync> c;
    const int rc = session(&c);
    if (stopping()) return false;
    if (rc != 0) {
        setIsServerBusy(rc == Ftp::kServerBusy);
        setIsAuthRefused(refusedLogOn(rc));
        setIsError();
        return false;
    }
    const int64_t size = c->getFilesize(site_.name);
    if (stopping()) return false;
    if (size < 0) {
        // A server that does not know SIZE cannot have its files read in
        // place; a file it cannot size (550: missing, unreadable) or a
        // session that broke is just a failure.
        if (c->connected() && Ftp::notImplemented(c->lastReplyCode())) setIsUnsupportedFtp(true);
        else setIsError();
        endSession();
        return false;
    }
    if (size == 0) {
        endSession();
        return false;
    }
    setContentLength(size);
    if (!prepareCacheFiles()) {
        endSession();
        return false;
    }
    return true;
}

void FtpStreamRead::cancelTransfer() {
    std::lock_guard<std::mutex> lock(clientMutex_);
    if (client_) client_->cancel();
}

void FtpStreamRead::loaderDone() { endSession(); }

uint64_t FtpStreamRead::bytesOfBlock(uint64_t block) const {
    const uint64_t start = block * kBlockSize, length = uint64_t(contentLength());
    return start >= length ? 0 : std::min(kBlockSize, length - start);
}

bool FtpStreamRead::readsOn(uint64_t next) {
    if (stopping()) return false;
    const uint64_t blocks = (uint64_t(contentLength()) + kBlockSize - 1) / kBlockSize;
    const int64_t wanted = findNextBlock();
    // Nothing more is wanted: a short tail is read to its end, which costs
    // less than breaking the transfer off.
    if (wanted < 0) return blocks - std::min(next, blocks) <= kReadOnBlocks;
    // The block wanted next is this one or a little further on.
    return uint64_t(wanted) >= next && uint64_t(wanted) - next <= kReadOnBlocks;
}

FtpStreamRead::Outcome FtpStreamRead::fetchBlock(uint64_t block) {
    if (bytesOfBlock(block) == 0) return Outcome::Fatal;
    ++blockRequests_;
    std::shared_ptr<QNFtpRequestSync> c;
    const int logon = session(&c);
    if (stopping()) return Outcome::Fatal;
    if (refusedLogOn(logon)) {
        setIsAuthRefused(true);
        endSession();
        return Outcome::Fatal;
    }
    if (logon != 0) return Outcome::Retry;

    // One transfer from the start of `block` on, read block by block.
    uint64_t next = block, fill = 0, completed = 0;
    bool began = false, refused = false;
    const int rc = c->getFile(site_.name, int64_t(block * kBlockSize), 0, [&](const char* data, size_t n) {
        while (n > 0) {
            if (fill == 0 && next != block && !readsOn(next)) return false;
            if (!began) {
                beginTransfer(block);
                began = true;
            }
            // More than the file held when it was opened belongs to no
            // block: the transfer ends there (whether the file is still the
            // one opened is the loader's question once every block is in).
            const uint64_t blockBytes = bytesOfBlock(next);
            if (blockBytes == 0) return false;
            const size_t take = size_t(std::min<uint64_t>(n, blockBytes - fill));
            if (!appendTransferBytes(data, take)) {
                refused = true;
                return false;
            }
            data += take;
            n -= take;
            fill += take;
            if (fill == blockBytes) {
                ++completed;
                ++next;
                fill = 0;
            }
        }
        return true;
    });
    if (began) endTransfer();
    if (stopping() || refused) {
        endSession();
        return Outcome::Fatal;
    }
    // Blocks arrived: whatever ended the transfer, the loader goes on (on
    // this session while the server keeps it).
    if (completed > 0) return Outcome::Done;
    switch (rc) {
    case Ftp::kRestRefused:
        setIsUnsupportedFtp(true);
        endSession();
        return Outcome::Fatal;
    case Ftp::kTransferRefused:
        // RETR refused: the file is gone or unreadable.
    case Ftp::kTransferDone:
        // Ended as whole without a block: the file is shorter than it was.
        endSession();
        return Outcome::Fatal;
    default:
        return Outcome::Retry;
    }
}
