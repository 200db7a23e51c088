#include "remote/stream/SmbStreamRead.h"

#include "foundation/QNUrl.h"
#include "foundation/UrlPercent.h"
#include "foundation/Settings.h"
#include "remote/listing/SmbListing.h"
#include "remote/protocols/SmbClientChoice.h"

#include <algorithm>

SmbStreamRead::SmbStreamRead() = default;

SmbStreamRead::~SmbStreamRead() {
    closeURL();
    stopLoader();
}

void SmbStreamRead::registerWithEngine() {
    registerStreamClass(kSMB, [] { return std::make_shared<SmbStreamRead>(); });
}

bool SmbStreamRead::openURL(const std::string& url) {
    stopLoader();
    abort_ = false;
    setTargetURL(url);
    if (isOfflineMode()) return isCacheComplete() && prepareCacheFiles();
    if (isCacheComplete()) return prepareCacheFiles();
    auto target = SmbListing::targetOf(url);
    auto u = QNUrl::URLWithString(url);
    if (!target || !u || target->share.empty() || target->path.empty()) return false;
    site_ = Site{};
    site_.server = target->server;
    site_.share = target->share;
    site_.path = target->path;
    std::string user = !userName().empty() ? userName() : UrlPercent::decoded(u->user());
    site_.password = !userName().empty() ? password() : UrlPercent::decoded(u->password());
    if (const size_t slash = user.find('\\'); slash != std::string::npos) {
        site_.domain = user.substr(0, slash);
        user.erase(0, slash + 1);
    }
    site_.user = user;

    return startLoader("smb-stream");
}

std::shared_ptr<SmbStackClient> SmbStreamRead::newClient() {
    const auto library =
        SmbClientChoice::libraryOf(otherSettingForRemote(), settings() ? settings()->defaultSmbLibrary() : 0);
    auto client = SmbClientChoice::makeClient(library, 0);
    if (!client) return nullptr;
    {
        std::lock_guard<std::mutex> lock(clientMutex_);
        client_ = client;
        if (abort_) client->cancel();
    }
    client->setDomain(site_.domain);
    client->setUsername(site_.user);
    client->setPassword(site_.password);
    return client;
}

bool SmbStreamRead::connect() {
    auto client = newClient();
    if (!client) return false;
    file_ = client->openFileForRead(site_.server, site_.share, site_.path, false);
    if (!file_) {
        lastError_ = client->lastError();
        if (lastError_ == SmbStackClient::kErrorLogonFailure) setIsAuthRefused(true);
    }
    return file_ != nullptr;
}

bool SmbStreamRead::probe() {
    auto client = newClient();
    if (!client) return false;
    auto info = client->getFilelistPattern(site_.server, site_.share, site_.path);
    if (stopping()) return false;
    if (!info || info->empty() || (info->front().attributes & 0x10)) {
        lastError_ = info ? uint32_t(SmbStackClient::kErrorNotFound) : client->lastError();
        setIsAuthRefused(lastError_ == SmbStackClient::kErrorLogonFailure);
        setIsError();
        return false;
    }
    const auto& f = info->front();
    if (f.size == 0) return false;
    file_ = client->openFileForRead(site_.server, site_.share, site_.path, false);
    if (!file_) {
        lastError_ = client->lastError();
        if (!stopping()) setIsError();
        return false;
    }
    setContentLength(int64_t(f.size));
    version_ = std::to_string(f.size) + "-" + std::to_string(f.lastWriteTime);
    setValidator(version_);
    return prepareCacheFiles();
}

void SmbStreamRead::cancelTransfer() {
    std::lock_guard<std::mutex> lock(clientMutex_);
    if (client_) client_->cancel();
}

bool SmbStreamRead::prepareRetry() {
    if (connect()) return true;
    const uint32_t e = lastError_;
    // Only a lost connection is worth another go.
    if (e == SmbStackClient::kErrorConnect || e == SmbStackClient::kErrorDisconnected) return true;
    if (!stopping()) setIsError();
    return false;
}

bool SmbStreamRead::stillTheSameFile() {
    std::shared_ptr<SmbStackClient> client;
    {
        std::lock_guard<std::mutex> lock(clientMutex_);
        client = client_;
    }
    if (!client) return false;
    auto info = client->getFilelistPattern(site_.server, site_.share, site_.path);
    if (!info || info->empty()) return false;
    return std::to_string(info->front().size) + "-" + std::to_string(info->front().lastWriteTime) == version_;
}

void SmbStreamRead::loaderDone() {
    std::shared_ptr<SmbStackClient> client;
    {
        std::lock_guard<std::mutex> lock(clientMutex_);
        client = client_;
    }
    if (client && file_) client->closeFile(file_);
}
SmbStreamRead::Outcome SmbStreamRead::fetchBlock(uint64_t block) {
    const int64_t first = int64_t(block * kBlockSize);
    const int64_t length = std::min<int64_t>(contentLength() - first, int64_t(kBlockSize));
    if (length <= 0) return Outcome::Fatal;
    std::shared_ptr<SmbStackClient> client;
    {
        std::lock_guard<std::mutex> lock(clientMutex_);
        client = client_;
    }
    if (!client || !file_) return Outcome::Retry;
    ++blockRequests_;
    auto data = client->readFileAt(file_, uint64_t(first), size_t(length));
    if (stopping()) return Outcome::Fatal;
    if (!data) {
        lastError_ = client->lastError();
        return client->isRequireRetry() ? Outcome::Retry : Outcome::Fatal;
    }
    // A file that shrank under us is not the file we began with.
    if (int64_t(data->size()) != length) return Outcome::Fatal;
    beginTransfer(block);
    const bool ok = appendTransferBytes(data->data(), data->size());
    endTransfer();
    return ok ? Outcome::Done : Outcome::Fatal;
}
