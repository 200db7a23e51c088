#include "smb/CIFSStackClient.h"

#include "remote/protocols/SrvsvcShareEnum.h"
#include "smb/CIFSStackManager.h"
#include "smb/Smb2Connection.h"

#include <algorithm>

namespace {

// "host", "host:port", "[v6]" or "[v6]:port".
bool splitServer(const std::string& server, std::string& host, int& port) {
    port = 445;
    std::string rest;
    if (!server.empty() && server[0] == '[') {
        const size_t close = server.find(']');
        if (close == std::string::npos) return false;
        host = server.substr(1, close - 1);
        rest = server.substr(close + 1);
    } else if (std::count(server.begin(), server.end(), ':') > 1) {
        host = server;
    } else {
        const size_t colon = server.find(':');
        host = server.substr(0, colon);
        if (colon != std::string::npos) rest = server.substr(colon);
    }
    if (!rest.empty()) {
        if (rest[0] != ':' || rest.size() < 2 || rest.size() > 6) return false;
        port = 0;
        for (size_t i = 1; i < rest.size(); ++i) {
            if (rest[i] < '0' || rest[i] > '9') return false;
            port = port * 10 + (rest[i] - '0');
        }
        if (port <= 0 || port > 65535) return false;
    }
    return !host.empty();
}

// A path inside a share as the server takes it: backslashes, none leading.
std::string sharePath(const std::string& path) {
    std::string p = path;
    std::replace(p.begin(), p.end(), '/', '\\');
    size_t start = p.find_first_not_of('\\');
    p = start == std::string::npos ? std::string() : p.substr(start);
    while (!p.empty() && p.back() == '\\') p.pop_back();
    return p;
}

}  // namespace

struct CIFSStackClient::OpenFile : SmbStackClient::FileHandle {
    std::weak_ptr<Smb2Connection> connection;
    uint32_t tree = 0;
    Smb2Connection::FileId id;
};

CIFSStackClient::CIFSStackClient(int slot) : slot_(slot) {}

CIFSStackClient::~CIFSStackClient() = default;

void CIFSStackClient::registerWithRemote() {
    SmbStackClient::registerMaker([](int slot) { return std::make_shared<CIFSStackClient>(slot); },
                                  [](int slot) {
                                      if (auto m = CIFSStackManager::sharedManager(slot)) m->resetClient();
                                  });
}

void CIFSStackClient::setDomain(const std::string& domain) { domain_ = domain; }
void CIFSStackClient::setUsername(const std::string& user) { user_ = user; }
void CIFSStackClient::setPassword(const std::string& password) { password_ = password; }

uint16_t CIFSStackClient::dialect() const {
    std::lock_guard lock(mutex_);
    return connection_ && connection_->isOpen() ? connection_->dialect() : 0;
}

bool CIFSStackClient::isSigning() const {
    std::lock_guard lock(mutex_);
    return connection_ && connection_->isOpen() && connection_->signing();
}

void CIFSStackClient::cancel() {
    cancelled_ = true;
    std::lock_guard lock(mutex_);
    if (connection_) connection_->cancel();
}

void CIFSStackClient::clearError() {
    error_ = 0;
    ntStatus_ = 0;
    message_.clear();
    requireRetry_ = false;
}

bool CIFSStackClient::fail(uint32_t error, const std::string& message) {
    error_ = cancelled_ ? kErrorCancelled : error;
    ntStatus_ = 0;
    message_ = message;
    requireRetry_ = false;
    return false;
}

bool CIFSStackClient::failFrom(const std::shared_ptr<Smb2Connection>& c) {
    error_ = cancelled_ ? kErrorCancelled : c->error();
    ntStatus_ = c->ntStatus();
    message_ = c->message();
    // A lost connection, or a session the server has dropped: a fresh
    // client may get on where this one cannot.
    requireRetry_ = !cancelled_ && (error_ == kErrorDisconnected || ntStatus_ == 0xC000203C ||
                                    ntStatus_ == 0xC0000203);
    return false;
}

std::shared_ptr<Smb2Connection> CIFSStackClient::connection(const std::string& server) {
    if (cancelled_) {
        fail(kErrorCancelled);
        return nullptr;
    }
    {
        std::lock_guard lock(mutex_);
        if (connection_ && connection_->isOpen() && server_ == server) return connection_;
    }
    std::string host;
    int port = 445;
    if (!splitServer(server, host, port)) {
        fail(kErrorBadParameter, "The server address is not valid.");
        return nullptr;
    }
    auto c = std::make_shared<Smb2Connection>();
    {
        std::lock_guard lock(mutex_);
        connection_ = c;
        server_ = server;
        trees_.clear();
        if (cancelled_) c->cancel();
    }
    if (!c->open(host, port, domain_, user_, password_)) {
        failFrom(c);
        return nullptr;
    }
    return c;
}

uint32_t CIFSStackClient::tree(const std::shared_ptr<Smb2Connection>& c, const std::string& share) {
    if (auto it = trees_.find(share); it != trees_.end()) return it->second;
    const uint32_t id = c->treeConnect(share);
    if (id == 0) {
        failFrom(c);
        return 0;
    }
    trees_[share] = id;
    return id;
}

std::optional<std::vector<SmbStackClient::ShareInfo>> CIFSStackClient::getTreeList(const std::string& server,
                                                                                   bool shareInfo) {
    clearError();
    auto c = connection(server);
    if (!c) return std::nullopt;
    const uint32_t ipc = tree(c, "IPC$");
    if (!ipc) return std::nullopt;
    auto pipe = c->create(ipc, "srvsvc", Smb2Connection::kAccessPipe, 0);
    if (!pipe) {
        failFrom(c);
        return std::nullopt;
    }
    std::optional<std::vector<ShareInfo>> shares;
    // One call at a time on the pipe: the bind, then the enumeration.
    auto call = [&](const SrvsvcShareEnum::Bytes& request, uint8_t expect) -> std::optional<SrvsvcShareEnum::Bytes> {
        auto data = c->transceive(ipc, pipe->id, request);
        if (!data) {
            failFrom(c);
            return std::nullopt;
        }
        SrvsvcShareEnum::Bytes stub;
        for (int fragments = 0;; ++fragments) {
            bool malformed = false;
            auto pdu = SrvsvcShareEnum::parsePdu(*data, &malformed);
            if (!pdu) {
                // A PDU longer than one reply: the pipe has the rest.
                if (malformed || fragments > 10000 || data->size() > (16u << 20)) {
                    fail(kErrorProtocol, "The server's share list is malformed.");
                    return std::nullopt;
                }
                auto more = c->readPipe(ipc, pipe->id, 65536);
                if (!more || more->empty()) {
                    if (more) fail(kErrorProtocol, "The server's share list is cut short.");
                    else failFrom(c);
                    return std::nullopt;
                }
                data->insert(data->end(), more->begin(), more->end());
                continue;
            }
            data->erase(data->begin(), data->begin() + long(pdu->length));
            if (pdu->type != expect) {
                fail(kErrorProtocol, "The server refused the share list call.");
                return std::nullopt;
            }
            if (expect == SrvsvcShareEnum::kBindAck) return pdu->body;
            auto part = SrvsvcShareEnum::responseStub(*pdu);
            if (!part || stub.size() + part->size() > (16u << 20)) {
                fail(kErrorProtocol, "The server's share list is malformed.");
                return std::nullopt;
            }
            stub.insert(stub.end(), part->begin(), part->end());
            if (pdu->last) return stub;
        }
    };
    if (auto ack = call(SrvsvcShareEnum::bindRequest(1), SrvsvcShareEnum::kBindAck)) {
        SrvsvcShareEnum::Pdu p;
        p.type = SrvsvcShareEnum::kBindAck;
        p.body = *ack;
        if (!SrvsvcShareEnum::bindAccepted(p)) {
            fail(kErrorProtocol, "The server refused the share list call.");
        } else if (auto stub = call(SrvsvcShareEnum::shareEnumRequest(2, server_), SrvsvcShareEnum::kResponse)) {
            uint32_t werror = 0;
            shares = SrvsvcShareEnum::parseShareEnum(*stub, &werror);
            if (!shares) {
                if (werror == 5) fail(kErrorAccessDenied);
                else fail(kErrorProtocol, "The server's share list is malformed.");
            }
        }
    }
    if (!c->isBroken()) c->close(ipc, pipe->id);
    if (shares && !shareInfo) {
        for (auto& s : *shares) {
            s.type.reset();
            s.comment.clear();
        }
    }
    return shares;
}

std::optional<std::vector<SmbStackClient::FileInfo>> CIFSStackClient::listFolder(const std::string& server,
                                                                                 const std::string& share,
                                                                                 const std::string& path,
                                                                                 const std::string& pattern) {
    clearError();
    auto c = connection(server);
    if (!c) return std::nullopt;
    const uint32_t t = tree(c, share);
    if (!t) return std::nullopt;
    auto dir = c->create(t, sharePath(path), Smb2Connection::kAccessListFolder, Smb2Connection::kOptionDirectory);
    if (!dir) {
        failFrom(c);
        return std::nullopt;
    }
    auto list = c->queryDirectory(t, dir->id, pattern);
    if (!list) failFrom(c);
    if (!c->isBroken()) c->close(t, dir->id);
    return list;
}

std::optional<std::vector<SmbStackClient::FileInfo>> CIFSStackClient::getFilelist(const std::string& server,
                                                                                  const std::string& share,
                                                                                  const std::string& path) {
    return listFolder(server, share, path, "*");
}

std::optional<std::vector<SmbStackClient::FileInfo>> CIFSStackClient::getFilelistPattern(const std::string& server,
                                                                                         const std::string& share,
                                                                                         const std::string& path) {
    clearError();
    auto c = connection(server);
    if (!c) return std::nullopt;
    const uint32_t t = tree(c, share);
    if (!t) return std::nullopt;
    const std::string p = sharePath(path);
    auto f = c->create(t, p, Smb2Connection::kAccessAttributes, 0);
    if (!f) {
        failFrom(c);
        return std::nullopt;
    }
    c->close(t, f->id);
    FileInfo info;
    const size_t slash = p.rfind('\\');
    info.name = slash == std::string::npos ? p : p.substr(slash + 1);
    info.attributes = f->attributes;
    info.size = f->size;
    info.lastWriteTime = f->lastWriteTime;
    return std::vector<FileInfo>{info};
}

std::shared_ptr<SmbStackClient::FileHandle> CIFSStackClient::openFileForRead(const std::string& server,
                                                                             const std::string& share,
                                                                             const std::string& path,
                                                                             bool isSequential) {
    clearError();
    auto c = connection(server);
    if (!c) return nullptr;
    const uint32_t t = tree(c, share);
    if (!t) return nullptr;
    auto f = c->create(t, sharePath(path), Smb2Connection::kAccessReadFile,
                       Smb2Connection::kOptionNonDirectory | (isSequential ? Smb2Connection::kOptionSequential : 0));
    if (!f) {
        failFrom(c);
        return nullptr;
    }
    auto h = std::make_shared<OpenFile>();
    h->connection = c;
    h->tree = t;
    h->id = f->id;
    h->size = f->size;
    return h;
}

std::optional<std::vector<uint8_t>> CIFSStackClient::readFileAt(const std::shared_ptr<FileHandle>& file,
                                                                uint64_t offset, size_t length) {
    clearError();
    auto h = std::dynamic_pointer_cast<OpenFile>(file);
    if (!h) {
        fail(kErrorBadParameter);
        return std::nullopt;
    }
    auto c = h->connection.lock();
    if (cancelled_) {
        fail(kErrorCancelled);
        return std::nullopt;
    }
    if (!c || !c->isOpen()) {
        fail(kErrorDisconnected, "The connection to the server was lost.");
        requireRetry_ = true;
        return std::nullopt;
    }
    auto data = c->read(h->tree, h->id, offset, std::min(length, kMaxReadLength));
    if (!data) failFrom(c);
    return data;
}

std::optional<std::vector<uint8_t>> CIFSStackClient::readFile(const std::shared_ptr<FileHandle>& file,
                                                              const std::string& share, size_t length) {
    (void)share;
    if (!file) {
        fail(kErrorBadParameter);
        return std::nullopt;
    }
    auto data = readFileAt(file, file->position, length);
    if (data) file->position += data->size();
    return data;
}

void CIFSStackClient::closeFile(const std::shared_ptr<FileHandle>& file) {
    auto h = std::dynamic_pointer_cast<OpenFile>(file);
    if (!h) return;
    if (auto c = h->connection.lock(); c && c->isOpen() && !cancelled_) c->close(h->tree, h->id);
    h->connection.reset();
}
