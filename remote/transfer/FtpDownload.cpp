#include "remote/transfer/FtpDownload.h"

#include "cloud/HttpEasy.h"
#include "foundation/BookCommonPaths.h"
#include "foundation/BookCommonTypes.h"
#include "foundation/QNUrl.h"
#include "foundation/Settings.h"
#include "foundation/UrlPercent.h"
#include "platform/core/PropertyList.h"
#include "platform/core/RunLoop.h"
#include "platform/core/WholeWrite.h"
#include "remote/listing/FtpListing.h"
#include "remote/protocols/QNFtpRequestSync.h"
#include "remote/transfer/DownloadedFilePlacer.h"
#include "remote/transfer/HttpDownload.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// The size of a regular file (not followed through a link), or -1.
int64_t regularFileSize(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return int64_t(st.st_size);
}

std::string validatorFor(int64_t size) { return "ftp-size:" + std::to_string(size); }

}  // namespace

FtpDownload::FtpDownload() : WorkerDownload("ftp-download", kFailed) {}

FtpDownload::~FtpDownload() { cancelDownload(); }

void FtpDownload::cancelClients() {
    if (client_) client_->cancel();
}

void FtpDownload::releaseClients() { client_.reset(); }

int FtpDownload::transfer(const Job& job) {
    // The name comes from a listing: one component of the save folder only,
    // and only what the library can open.
    auto name = BookCommonPaths::confinePathComponent(job.saveName);
    if (!name || *name != job.saveName || !BookCommonTypes::isBookorPDFFileorThemeWithFilename(*name)) return kFailed;
    auto u = QNUrl::URLWithString(job.url);
    if (!u || u->host().empty()) return kFailed;
    const int port = u->port() ? int(*u->port()) : 21;
    if (port <= 0 || port > 65535) return kFailed;
    // The path's bytes are in the site's character set, as the listing
    // escaped them; it starts at the log-on folder.
    std::string path = UrlPercent::decoded(u->path());
    if (!path.empty() && path[0] == '/') path.erase(0, 1);
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash);
    const std::string remoteName = slash == std::string::npos ? path : path.substr(slash + 1);
    if (remoteName.empty()) return kNotFound;
    std::string user = !job.user.empty() ? job.user : UrlPercent::decoded(u->user());
    std::string password = !job.user.empty() ? job.password : UrlPercent::decoded(u->password());
    if (user.empty()) user = FtpListing::kAnonymousUser;
    if (password.empty()) password = FtpListing::kAnonymousPassword;

    const int mode = settings_ ? settings_->overWriteMode() : 1;
    if (DownloadedFilePlacer::skipsExisting(job.savePath, *name, mode)) return kExistsSkipped;

    auto client = std::make_shared<QNFtpRequestSync>();
    client->setTimeouts(connectTimeout_, idleTimeout_);
    {
        std::lock_guard lock(mutex_);
        client_ = client;
        if (*cancelled_) return -1;
    }
    const int logon = client->connectToFtp(u->host(), port, user, password);
    if (*cancelled_) return -1;
    if (logon == QNFtpRequestSync::kUserRefused || logon == QNFtpRequestSync::kPasswordRefused) {
        return canAsk() ? kAskCredentials : kAuthFailed;
    }
    if (logon != QNFtpRequestSync::kLoggedOn) return kFailed;
    loggedOn();
    if (!folder.empty() && client->changeDir(folder) != QNFtpRequestSync::kDirChanged) {
        client->disconnect();
        return *cancelled_ ? -1 : kNotFound;
    }
    const int64_t size = client->getFilesize(remoteName);
    if (*cancelled_) return -1;

    const std::string dir = HttpDownload::temporaryFolder();
    const std::string temp = dir + "/" + HttpDownload::kTempFileName;
    const std::string side = dir + "/" + HttpDownload::kSideFileName;
    const std::string source = HttpEasy::withoutCredentials(job.url);
    // Continue the temporary file only when it belongs to this file as it
    // still is on the server (same source, same size); without a size the
    // server cannot tell us the file is unchanged.
    int64_t offset = 0;
    if (size > 0) {
        auto kept = sys::PropertyList::readArray(side);
        const int64_t have = regularFileSize(temp);
        if (kept && kept->size() >= 2 && (*kept)[0].isString() && (*kept)[0].asString() == source &&
            (*kept)[1].isString() && (*kept)[1].asString() == validatorFor(size) && have > 0 && have < size)
            offset = have;
    }
    int fd = -1;
    if (offset > 0) {
        fd = ::open(temp.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0 && ::lseek(fd, 0, SEEK_END) != offset) {
            ::close(fd);
            fd = -1;
        }
    }
    if (fd < 0) {
        offset = 0;
        ::unlink(temp.c_str());
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    }
    if (fd < 0 ||
        !sys::PropertyList::writeFile(
            sys::PlistValue(sys::PlistArray{source, size > 0 ? validatorFor(size) : std::string()}), side)) {
        if (fd >= 0) ::close(fd);
        client->disconnect();
        return kTempFileFailed;
    }

    const std::string shownName = *name;
    post([shownName, size, offset](HttpDownloadDelegate& d) {
        d.onChangeHttpDownloadStatus(0, 0);
        d.onConnected(shownName, size);
        d.setStartOffset(offset);
    });

    int64_t got = 0;
    bool writeFailed = false;
    auto progressQueued = std::make_shared<std::atomic<bool>>(false);
    auto progressBytes = std::make_shared<std::atomic<int64_t>>(0);
    auto receive = [&](const char* data, size_t n) {
        if (!sys::WholeWrite::write(fd, data, n)) {
            writeFailed = true;
            return false;
        }
        got += int64_t(n);
        progressBytes->store(got);
        // At most one progress call waits on the main loop at a time.
        if (!progressQueued->exchange(true))
            post([progressQueued, progressBytes](HttpDownloadDelegate& d) {
                progressQueued->store(false);
                d.onChangeHttpDownloadStatus(1, progressBytes->load());
            });
        return true;
    };
    int rc = client->getFile(remoteName, offset, 0, receive);
    if (rc == QNFtpRequestSync::kRestRefused && !*cancelled_) {
        // No resuming on this server: the whole file, from the start.
        offset = 0;
        if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0) {
            ::close(fd);
            client->disconnect();
            return kTempFileFailed;
        }
        post([](HttpDownloadDelegate& d) { d.setStartOffset(0); });
        rc = client->getFile(remoteName, 0, 0, receive);
    }
    const bool closed = ::close(fd) == 0;
    if (*cancelled_) return -1;
    client->disconnect();
    if (writeFailed || !closed) {
        ::unlink(temp.c_str());
        ::unlink(side.c_str());
        return kTempFileFailed;
    }
    const bool complete = rc == QNFtpRequestSync::kTransferDone && (size < 0 || offset + got == size);
    if (!complete) {
        if (rc == QNFtpRequestSync::kTransferRefused && got == 0) return kNotFound;
        // More than the server said: the file changed while we read it.
        if (size >= 0 && offset + got > size) {
            ::unlink(temp.c_str());
            ::unlink(side.c_str());
            return kFailed;
        }
        // The temporary file stays for the next attempt.
        return got > 0 ? kFailedAfterProgress : kFailed;
    }

    std::error_code ec;
    fs::create_directories(fs::path(job.savePath), ec);
    switch (DownloadedFilePlacer::place(temp, job.savePath, *name, mode, &savedPath_)) {
    case DownloadedFilePlacer::Outcome::Placed: ::unlink(side.c_str()); return kSaved;
    case DownloadedFilePlacer::Outcome::ExistsSkipped: return kExistsSkipped;
    case DownloadedFilePlacer::Outcome::Failed: break;
    }
    return kTempFileFailed;
}
