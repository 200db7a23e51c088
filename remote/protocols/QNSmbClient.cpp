#include "remote/protocols/QNSmbClient.h"

#include "remote/protocols/QNSmb.h"

#include <algorithm>

namespace {

// A path inside a share as the server takes it: backslashes, one leading.
std::string sharePath(const std::string& path) {
    std::string p = path;
    std::replace(p.begin(), p.end(), '/', '\\');
    const size_t start = p.find_first_not_of('\\');
    p = start == std::string::npos ? std::string() : p.substr(start);
    while (!p.empty() && p.back() == '\\') p.pop_back();
    return "\\" + p;
}

uint64_t ticksSince1601(int64_t unixSeconds) { return uint64_t(unixSeconds + 11'644'473'600) * 10'000'000ull; }

SmbStackClient::FileInfo fileInfoOf(const QNSmb::FileInfo& f) {
    SmbStackClient::FileInfo out;
    out.name = f.name;
    out.attributes = f.attributes;
    out.size = f.size;
    out.lastWriteTime = ticksSince1601(f.lastWriteTime);
    return out;
}

}  // namespace

struct QNSmbClient::OpenFile : SmbStackClient::FileHandle {
    std::weak_ptr<QNSmb> smb;
    uint16_t tree = 0;
    uint16_t fid = 0;
};

QNSmbClient::QNSmbClient() = default;

QNSmbClient::~QNSmbClient() {
    std::shared_ptr<QNSmb> smb;
    {
        std::lock_guard lock(mutex_);
        smb = std::move(smb_);
    }
    if (smb) smb->disconnect();
}

uint32_t QNSmbClient::errorForStatus(uint32_t status) {
    switch (status) {
    case 0xC000006D:  // logon failure
    case 0xC000006A:  // wrong password
    case 0xC0000064:  // no such user
        return kErrorLogonFailure;
    case 0xC0000072:  // account disabled
    case 0xC000006E:  // account restriction
    case 0xC0000071:  // password expired
    case 0xC0000234:  // account locked out
    case 0xC0000193:  // account expired
        return kErrorAccountRestricted;
    case 0xC0000022:  // access denied
        return kErrorAccessDenied;
    case 0xC00000CC:  // bad network name
    case 0xC0000034:  // object name not found
    case 0xC000003A:  // object path not found
    case 0xC0000033:  // object name invalid
    case 0xC0000103:  // not a directory
    case 0xC00000BA:  // file is a directory
        return kErrorNotFound;
    case 0xC00000D0:  // request not accepted
        return kErrorNotAccepted;
    case 0xC000005E:  // no logon servers
        return kErrorNoLogonServers;
    case 0xC000A000:  // invalid signature
        return kErrorSignature;
    default:
        return kErrorStatus;
    }
}

void QNSmbClient::cancel() {
    cancelled_ = true;
    std::lock_guard lock(mutex_);
    if (smb_) smb_->cancel();
}

void QNSmbClient::clearError() {
    error_ = 0;
    ntStatus_ = 0;
    message_.clear();
    requireRetry_ = false;
    ownError_ = 0;
    step_ = Step::None;
}

bool QNSmbClient::failFrom(const QNSmb& smb, Step step, bool wasConnected) {
    ownError_ = smb.lastError();
    ntStatus_ = smb.lastNtStatus();
    step_ = step;
    message_.clear();
    requireRetry_ = false;
    if (cancelled_) {
        error_ = kErrorCancelled;
        return false;
    }
    switch (ownError_) {
    case QNSmb::kErrorConnect:
        error_ = kErrorConnect;
        message_ = "The server could not be reached.";
        break;
    case QNSmb::kErrorNtStatus:
        error_ = errorForStatus(ntStatus_);
        // A session the server dropped, or a share that went: a new connection may do.
        requireRetry_ = ntStatus_ == 0xC0000203 || ntStatus_ == 0xC00000C9;
        break;
    case QNSmb::kErrorCancelled:
        error_ = kErrorCancelled;
        break;
    default:
        // A connection that was up and is gone was lost, not misunderstood.
        if (wasConnected && !smb.isConnected()) {
            error_ = kErrorDisconnected;
            message_ = "The server closed the connection.";
            requireRetry_ = true;
        } else {
            error_ = kErrorProtocol;
        }
        break;
    }
    return false;
}

std::shared_ptr<QNSmb> QNSmbClient::connection(const std::string& server) {
    if (cancelled_) {
        error_ = kErrorCancelled;
        return nullptr;
    }
    {
        std::lock_guard lock(mutex_);
        if (smb_ && smb_->isConnected() && server_ == server) return smb_;
    }
    auto smb = std::make_shared<QNSmb>();
    smb->setNativeLanManager("LeafbrightLM");
    smb->setWorkStationName("Leafbright");
    std::shared_ptr<QNSmb> old;
    {
        std::lock_guard lock(mutex_);
        old = std::move(smb_);
        smb_ = smb;
        server_ = server;
        trees_.clear();
        if (cancelled_) smb->cancel();
    }
    if (old) old->disconnect();
    std::string host = server;
    if (const size_t colon = host.rfind(':'); colon != std::string::npos && host.find(':') == colon) host.resize(colon);
    const std::string user = domain_.empty() ? user_ : domain_ + "\\" + user_;
    if (!smb->connect(server, netBiosName_.empty() ? host : netBiosName_, user, password_)) {
        failFrom(*smb, Step::Connect, false);
        return nullptr;
    }
    return smb;
}

uint16_t QNSmbClient::tree(const std::shared_ptr<QNSmb>& smb, const std::string& share) {
    if (auto it = trees_.find(share); it != trees_.end()) return it->second;
    const uint16_t id = smb->connectTree(share);
    if (id == 0) {
        failFrom(*smb, Step::Tree, true);
        return 0;
    }
    trees_[share] = id;
    return id;
}

std::optional<std::vector<SmbStackClient::ShareInfo>> QNSmbClient::getTreeList(const std::string& server,
                                                                               bool shareInfo) {
    clearError();
    auto smb = connection(server);
    if (!smb) return std::nullopt;
    auto shares = smb->getTreeList();
    if (!shares) {
        failFrom(*smb, Step::ShareList, true);
        return std::nullopt;
    }
    std::vector<ShareInfo> out;
    for (auto& s : *shares) {
        ShareInfo info;
        info.name = std::move(s.name);
        if (shareInfo) {
            info.type = s.type;
            info.comment = std::move(s.comment);
        }
        out.push_back(std::move(info));
    }
    return out;
}

std::optional<std::vector<SmbStackClient::FileInfo>> QNSmbClient::listMatching(const std::string& server,
                                                                              const std::string& share,
                                                                              const std::string& pattern,
                                                                              Step failStep) {
    clearError();
    auto smb = connection(server);
    if (!smb) return std::nullopt;
    const uint16_t t = tree(smb, share);
    if (!t) return std::nullopt;
    auto files = smb->getFileList(t, pattern);
    if (!files) {
        failFrom(*smb, failStep, true);
        return std::nullopt;
    }
    std::vector<FileInfo> out;
    out.reserve(files->size());
    for (const auto& f : *files) out.push_back(fileInfoOf(f));
    return out;
}

std::optional<std::vector<SmbStackClient::FileInfo>> QNSmbClient::getFilelist(const std::string& server,
                                                                             const std::string& share,
                                                                             const std::string& path) {
    std::string pattern = sharePath(path);
    pattern += pattern.size() > 1 ? "\\*" : "*";
    return listMatching(server, share, pattern, Step::FileList);
}

std::optional<std::vector<SmbStackClient::FileInfo>> QNSmbClient::getFilelistPattern(const std::string& server,
                                                                                    const std::string& share,
                                                                                    const std::string& path) {
    auto files = listMatching(server, share, sharePath(path), Step::File);
    if (!files) return std::nullopt;
    if (files->empty()) {
        error_ = kErrorNotFound;
        step_ = Step::File;
        return std::nullopt;
    }
    files->resize(1);
    return files;
}

std::shared_ptr<SmbStackClient::FileHandle> QNSmbClient::openFileForRead(const std::string& server,
                                                                         const std::string& share,
                                                                         const std::string& path, bool isSequential) {
    (void)isSequential;
    clearError();
    auto smb = connection(server);
    if (!smb) return nullptr;
    const uint16_t t = tree(smb, share);
    if (!t) return nullptr;
    uint64_t size = 0;
    const uint16_t fid = smb->openFile(t, sharePath(path), &size);
    if (!fid) {
        failFrom(*smb, Step::File, true);
        return nullptr;
    }
    auto h = std::make_shared<OpenFile>();
    h->smb = smb;
    h->tree = t;
    h->fid = fid;
    h->size = size;
    return h;
}

std::optional<std::vector<uint8_t>> QNSmbClient::readFileAt(const std::shared_ptr<FileHandle>& file, uint64_t offset,
                                                            size_t length) {
    clearError();
    auto h = std::dynamic_pointer_cast<OpenFile>(file);
    if (!h) {
        error_ = kErrorBadParameter;
        return std::nullopt;
    }
    if (cancelled_) {
        error_ = kErrorCancelled;
        return std::nullopt;
    }
    auto smb = h->smb.lock();
    if (!smb || !smb->isConnected()) {
        error_ = kErrorDisconnected;
        message_ = "The connection to the server was lost.";
        requireRetry_ = true;
        return std::nullopt;
    }
    length = std::min(length, kMaxReadLength);
    // The client sends a window of reads at a time: asked on until the
    // length, the file's end, or an answer that brings nothing.
    std::vector<uint8_t> out;
    while (out.size() < length) {
        auto part = smb->readFile(h->fid, h->tree, offset + out.size(), uint32_t(length - out.size()));
        if (!part) {
            failFrom(*smb, Step::File, true);
            return std::nullopt;
        }
        if (part->empty()) break;
        if (out.empty()) out = std::move(*part);
        else out.insert(out.end(), part->begin(), part->end());
        if (offset + out.size() >= h->size) break;
    }
    return out;
}

std::optional<std::vector<uint8_t>> QNSmbClient::readFile(const std::shared_ptr<FileHandle>& file,
                                                          const std::string& share, size_t length) {
    (void)share;
    if (!file) {
        error_ = kErrorBadParameter;
        return std::nullopt;
    }
    auto data = readFileAt(file, file->position, length);
    if (data) file->position += data->size();
    return data;
}

void QNSmbClient::closeFile(const std::shared_ptr<FileHandle>& file) {
    auto h = std::dynamic_pointer_cast<OpenFile>(file);
    if (!h) return;
    if (auto smb = h->smb.lock(); smb && smb->isConnected() && !cancelled_) smb->closeFile(h->fid, h->tree);
    h->smb.reset();
}
