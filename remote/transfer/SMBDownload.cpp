#include "remote/transfer/SMBDownload.h"

#include "cloud/HttpEasy.h"
#include "foundation/QNUrl.h"
#include "foundation/Settings.h"
#include "platform/core/PropertyList.h"
#include "platform/core/WholeWrite.h"
#include "remote/listing/SmbListing.h"
#include "remote/protocols/QNNbns.h"
#include "remote/protocols/QNSmbClient.h"
#include "remote/protocols/SmbAutoClient.h"
#include "remote/transfer/DownloadedFilePlacer.h"
#include "remote/transfer/HttpDownload.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

SMBDownload::SMBDownload() : WorkerDownload("smb-download", kSmbFailed) {}

SMBDownload::~SMBDownload() { cancelDownload(); }

void SMBDownload::cancelClients() {
    if (client_) client_->cancel();
    if (nbns_) nbns_->cancel();
}

void SMBDownload::releaseClients() {
    client_.reset();
    nbns_.reset();
}

std::shared_ptr<SmbStackClient> SMBDownload::newClient(const Job& job) {
    auto client = SmbClientChoice::makeClient(library_, 1);
    if (!client) return nullptr;
    if (auto automatic = std::dynamic_pointer_cast<SmbAutoClient>(client)) automatic->setNetBiosName(netBiosName_);
    if (auto own = std::dynamic_pointer_cast<QNSmbClient>(client)) own->setNetBiosName(netBiosName_);
    client->setPassword(job.password);
    if (const size_t slash = job.user.find('\\'); slash != std::string::npos) {
        client->setDomain(job.user.substr(0, slash));
        client->setUsername(job.user.substr(slash + 1));
    } else {
        client->setUsername(job.user);
    }
    std::lock_guard lock(mutex_);
    client_ = client;
    if (*cancelled_) client->cancel();
    return client;
}

int SMBDownload::transfer(const Job& job) {
    auto target = SmbListing::targetOf(job.url);
    if (!target || target->share.empty() || target->path.empty()) return kSmbFailed;
    std::string server = target->server;
    netBiosName_ = target->host;
    if (QNNbns::isNetBiosName(target->host)) {
        auto nbns = std::make_shared<QNNbns>();
        nbns->setTimeout(5);
        {
            std::lock_guard lock(mutex_);
            nbns_ = nbns;
        }
        if (*cancelled_) return -1;
        auto address = nbns->getIPAddressWithNETBIOSName(target->host);
        if (*cancelled_) return -1;
        if (!address) return kNetBiosFailed;
        server = *address + server.substr(target->host.size());
    }
    const int64_t lib = otherSettings_.getInteger("smblib");
    library_ = SmbClientChoice::libraryOf(otherSettings_, settings_ ? settings_->defaultSmbLibrary() : 0);
    // A lost connection is made again, unless the site asked for our SMB1 client.
    const bool retryRule = lib == 0 || lib == 1;
    const std::string& share = target->share;
    const std::string& path = target->path;
    const std::string fileName = path.substr(path.rfind('\\') + 1);

    auto client = newClient(job);
    if (!client) return kSmbFailed;
    auto found = client->getFilelistPattern(server, share, path);
    if (*cancelled_) return -1;
    auto denied = [](uint32_t e) {
        return e == SmbStackClient::kErrorAccessDenied || e == SmbStackClient::kErrorLogonFailure;
    };
    if (!found && client->lastError() == SmbStackClient::kErrorLogonFailure)
        return canAsk() ? kAskCredentials : kSmbFailed;
    if (!found || found->empty() || (found->front().attributes & 0x10)) return kSmbFailed;
    loggedOn();
    const uint64_t size = found->front().size;
    auto file = client->openFileForRead(server, share, path, true);
    if (*cancelled_) return -1;
    if (!file) return denied(client->lastError()) ? kAccessDenied : kSmbFailed;
    auto closeRemote = [&] {
        if (client && file) client->closeFile(file);
    };

    post([](HttpDownloadDelegate& d) { d.onChangeHttpDownloadStatus(0, 0); });
    post([fileName, size](HttpDownloadDelegate& d) { d.onConnected(fileName, int64_t(size)); });

    const std::string dir = HttpDownload::temporaryFolder();
    const std::string temp = dir + "/" + HttpDownload::kTempFileName;
    const std::string side = dir + "/" + HttpDownload::kSideFileName;
    sys::PropertyList::writeFile(sys::PlistValue(sys::PlistArray{HttpEasy::withoutCredentials(job.url)}), side);

    // The saved name is one name inside the save folder.
    if (job.saveName.empty() || job.saveName == "." || job.saveName == ".." ||
        job.saveName.find('/') != std::string::npos) {
        closeRemote();
        return kMoveFailed;
    }
    const int mode = settings_ ? settings_->overWriteMode() : 1;
    if (DownloadedFilePlacer::skipsExisting(job.savePath, job.saveName, mode)) {
        closeRemote();
        return kExistsSkipped;
    }

    ::unlink(temp.c_str());
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        closeRemote();
        return kSmbFailed;
    }
    uint64_t done = 0;
    int result = kSaved;
    // Each block is written while the next one is read.
    std::future<bool> writing;
    auto written = [&] { return !writing.valid() || writing.get(); };
    auto stop = [&] {
        written();
        ::close(fd);
        ::unlink(temp.c_str());
        closeRemote();
    };
    while (done < size) {
        const size_t want = size_t(std::min<uint64_t>(size - done, kReadBlock));
        auto data = client->readFile(file, share, want);
        if (*cancelled_) {
            stop();
            return -1;
        }
        if (data && data->empty()) {
            // The file ended before its listed size: it changed under us.
            result = kSmbFailed;
            break;
        }
        if (!data) {
            if (!retryRule || !client->isRequireRetry()) {
                result = kSmbFailed;
                break;
            }
            // A fresh connection, the file opened again where we were.
            client = newClient(job);
            file = client ? client->openFileForRead(server, share, path, true) : nullptr;
            if (*cancelled_) {
                stop();
                return -1;
            }
            if (!file) {
                result = kSmbFailed;
                break;
            }
            file->position = done;
            continue;
        }
        const int64_t before = int64_t(done);
        post([before](HttpDownloadDelegate& d) { d.onChangeHttpDownloadStatus(1, before); });
        if (!written()) {
            result = kSmbFailed;
            break;
        }
        done += data->size();
        auto block = std::make_shared<std::vector<uint8_t>>(std::move(*data));
        writing = std::async(std::launch::async, [fd, block] { return sys::WholeWrite::write(fd, reinterpret_cast<const char*>(block->data()), block->size()); });
    }
    if (!written()) result = kSmbFailed;
    const bool closed = ::close(fd) == 0;
    closeRemote();
    if (result != kSaved || !closed) {
        ::unlink(temp.c_str());
        return result != kSaved ? result : kSmbFailed;
    }
    result = placeResult(temp, job);
    if (result == kSaved) ::unlink(side.c_str());
    return result;
}

int SMBDownload::placeResult(const std::string& temp, const Job& job) {
    const int mode = settings_ ? settings_->overWriteMode() : 1;
    std::error_code ec;
    fs::create_directories(fs::path(job.savePath), ec);
    switch (DownloadedFilePlacer::place(temp, job.savePath, job.saveName, mode, &savedPath_)) {
    case DownloadedFilePlacer::Outcome::Placed: return kSaved;
    case DownloadedFilePlacer::Outcome::ExistsSkipped: return kExistsSkipped;
    case DownloadedFilePlacer::Outcome::Failed: break;
    }
    return kMoveFailed;
}
