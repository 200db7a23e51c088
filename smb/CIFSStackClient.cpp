#include "smb/CIFSStackClient.h"

#include "remote/protocols/SrvsvcShareEnum.h"
#include "remote/protocols/SmbDfsCredentials.h"
#include "remote/protocols/SmbServerAddress.h"
#include "smb/CIFSStackManager.h"
#include "smb/DfsReferral.h"
#include "smb/Smb2Connection.h"

#include <algorithm>

namespace {

// A path inside a share as the server takes it: backslashes, none leading.
std::string sharePath(const std::string& path) {
    std::string p = path;
    std::replace(p.begin(), p.end(), '/', '\\');
    size_t start = p.find_first_not_of('\\');
    p = start == std::string::npos ? std::string() : p.substr(start);
    while (!p.empty() && p.back() == '\\') p.pop_back();
    return p;
}

std::string lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Where a DFS target on `host` is reached from `server`: the same server
// (and port) when it is that host, else the host at the port `server` was
// asked on, if one was given.
std::string serverFor(const std::string& host, const std::string& server) {
    std::string fromHost;
    int port = 445;
    if (!SmbServerAddress::split(server, fromHost, port) || lower(fromHost) == lower(host)) return server;
    const std::string h = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    return port == 445 ? h : h + ":" + std::to_string(port);
}

// The connection's key: a server reached as a guest is held apart from the
// same server reached with the site's credentials.
std::string keyOf(const std::string& server, bool guest) { return guest ? server + "\n(guest)" : server; }

std::string lastName(const std::string& path) {
    const size_t slash = path.find_last_of('\\', path.size() > 1 ? path.size() - 2 : 0);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    while (!name.empty() && name.back() == '\\') name.pop_back();
    return name;
}

}  // namespace

struct CIFSStackClient::Opened {
    std::shared_ptr<Smb2Connection> connection;
    uint32_t tree = 0;
    Smb2Connection::CreateResult file;
};

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
    auto it = servers_.find(server_);
    return it != servers_.end() && it->second.connection->isOpen() ? it->second.connection->dialect() : 0;
}

bool CIFSStackClient::isSigning() const {
    std::lock_guard lock(mutex_);
    auto it = servers_.find(server_);
    return it != servers_.end() && it->second.connection->isOpen() && it->second.connection->signing();
}

uint16_t CIFSStackClient::cipher() const {
    std::lock_guard lock(mutex_);
    auto it = servers_.find(server_);
    return it != servers_.end() && it->second.connection->isOpen() ? it->second.connection->cipher() : 0;
}

bool CIFSStackClient::isEncryptingSession() const {
    std::lock_guard lock(mutex_);
    auto it = servers_.find(server_);
    return it != servers_.end() && it->second.connection->isOpen() && it->second.connection->encryptsSession();
}

void CIFSStackClient::cancel() {
    cancelled_ = true;
    std::lock_guard lock(mutex_);
    for (auto& [name, server] : servers_) server.connection->cancel();
}

void CIFSStackClient::clearError() {
    dfsServer_.clear();
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

std::shared_ptr<Smb2Connection> CIFSStackClient::connection(const std::string& server, bool guest) {
    if (cancelled_) {
        fail(kErrorCancelled);
        return nullptr;
    }
    const std::string key = keyOf(server, guest);
    {
        std::lock_guard lock(mutex_);
        auto it = servers_.find(key);
        if (it != servers_.end() && it->second.connection->isOpen()) return it->second.connection;
    }
    std::string host;
    int port = 445;
    if (!SmbServerAddress::split(server, host, port)) {
        fail(kErrorBadParameter, "The server address is not valid.");
        return nullptr;
    }
    auto c = std::make_shared<Smb2Connection>();
    {
        std::lock_guard lock(mutex_);
        if (!servers_.count(key) && servers_.size() >= kMaxConnections) {
            fail(kErrorProtocol, "Too many servers at once.");
            return nullptr;
        }
        servers_[key] = Server{c, {}};
        if (cancelled_) c->cancel();
    }
    if (!c->open(host, port, guest ? std::string() : domain_, guest ? std::string() : user_,
                 guest ? std::string() : password_)) {
        failFrom(c);
        return nullptr;
    }
    return c;
}

uint32_t CIFSStackClient::tree(const std::shared_ptr<Smb2Connection>& c, const std::string& server,
                               const std::string& share) {
    {
        std::lock_guard lock(mutex_);
        auto& trees = servers_[server].trees;
        if (auto it = trees.find(share); it != trees.end()) return it->second;
    }
    const uint32_t id = c->treeConnect(share);
    if (id == 0) {
        failFrom(c);
        return 0;
    }
    std::lock_guard lock(mutex_);
    servers_[server].trees[share] = id;
    return id;
}

std::optional<CIFSStackClient::Opened> CIFSStackClient::open(const std::string& server, const std::string& share,
                                                             const std::string& path, uint32_t access,
                                                             uint32_t options) {
    std::string at = server, inShare = share, p = sharePath(path);
    std::string link;  // the DFS link last followed, "\\server\\share\\link", for messages
    dfsServer_.clear();
    for (int hop = 0;; ++hop) {
        // Another server a link leads to is another party: it gets the
        // site's credentials only when the user has said so, and is tried
        // as a guest until then.
        const bool foreign = !SmbDfsCredentials::sameServer(at, server);
        const auto answer =
            foreign && !user_.empty() ? SmbDfsCredentials::answer(server, at) : SmbDfsCredentials::Answer::Send;
        const bool guest = answer != SmbDfsCredentials::Answer::Send;
        const std::string key = keyOf(at, guest);
        // The server is there but lets no guest in (or not to this path):
        // the user says whether the site's user name and password may go to it.
        auto askForCredentials = [&] {
            fail(kErrorDfsCredentials,
                 "The DFS link " + link + " leads to another server, " + at +
                     (answer == SmbDfsCredentials::Answer::DontSend
                          ? ", which does not let a guest in; the site's user name and password are not sent there."
                          : ", which does not let a guest in."));
            dfsServer_ = at;
        };
        auto c = connection(at, guest);
        const uint32_t t = c ? tree(c, key, inShare) : 0;
        if (t) {
            if (auto f = c->create(t, p, access, options)) return Opened{c, t, *f};
            failFrom(c);
            if (c->ntStatus() != Smb2Connection::kStatusPathNotCovered) {
                if (guest && !cancelled_ && error_ == kErrorAccessDenied) askForCredentials();
                return std::nullopt;
            }
        }
        if (!t) {
            if (guest && !cancelled_ &&
                (error_ == kErrorLogonFailure || error_ == kErrorAccessDenied || error_ == kErrorAccountRestricted ||
                 error_ == kErrorEncryptionRequired || error_ == kErrorStatus)) {
                askForCredentials();
                return std::nullopt;
            }
            // The link's target is not there: say where the link led.
            if (!link.empty()) {
                const std::string why = !message_.empty() ? message_ : "the server refused it";
                message_ = "The DFS link " + link + " leads to \\\\" + at + "\\" + inShare +
                           ", which could not be reached: " + why;
            }
            return std::nullopt;
        }
        // The path crosses a DFS link: the server says where it leads.
        const std::string asked = "\\" + c->host() + "\\" + inShare + (p.empty() ? "" : "\\" + p);
        if (hop >= kMaxDfsHops) {
            fail(kErrorNotFound, "The DFS links from " + asked + " lead round in a circle.");
            return std::nullopt;
        }
        const uint32_t ipc = tree(c, key, "IPC$");
        auto reply = ipc ? c->dfsReferral(ipc, asked) : std::nullopt;
        auto referral = reply ? DfsReferral::parse(*reply) : std::nullopt;
        auto rest = referral ? DfsReferral::remainder(asked, referral->pathConsumed) : std::nullopt;
        if (!referral || !rest || referral->targets.empty()) {
            if (cancelled_) {
                fail(kErrorCancelled);
                return std::nullopt;
            }
            fail(reply && !referral ? kErrorProtocol : kErrorNotFound,
                 "\"" + lastName(p.empty() ? inShare : p) + "\" is a DFS link, and the server " +
                     (reply && referral ? "names no share it leads to." : "does not say where it leads."));
            return std::nullopt;
        }
        const auto& target = referral->targets.front();
        const std::string covered = asked.substr(0, asked.size() - rest->size());
        link = "\\" + covered;
        while (!link.empty() && link.back() == '\\') link.pop_back();
        at = serverFor(target.server, at);
        inShare = target.share;
        p = target.path.empty() ? *rest : rest->empty() ? target.path : target.path + "\\" + *rest;
    }
}

std::optional<std::vector<SmbStackClient::ShareInfo>> CIFSStackClient::getTreeList(const std::string& server,
                                                                                   bool shareInfo) {
    clearError();
    server_ = server;
    auto c = connection(server);
    if (!c) return std::nullopt;
    const uint32_t ipc = tree(c, server, "IPC$");
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
        } else if (auto stub = call(SrvsvcShareEnum::shareEnumRequest(2, server), SrvsvcShareEnum::kResponse)) {
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
    server_ = server;
    auto dir = open(server, share, path, Smb2Connection::kAccessListFolder, Smb2Connection::kOptionDirectory);
    if (!dir) return std::nullopt;
    auto& c = dir->connection;
    auto list = c->queryDirectory(dir->tree, dir->file.id, pattern);
    if (!list) failFrom(c);
    if (!c->isBroken()) c->close(dir->tree, dir->file.id);
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
    server_ = server;
    const std::string p = sharePath(path);
    auto opened = open(server, share, p, Smb2Connection::kAccessAttributes, 0);
    if (!opened) return std::nullopt;
    const auto* f = &opened->file;
    opened->connection->close(opened->tree, f->id);
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
    server_ = server;
    auto f = open(server, share, path, Smb2Connection::kAccessReadFile,
                  Smb2Connection::kOptionNonDirectory | (isSequential ? Smb2Connection::kOptionSequential : 0));
    if (!f) return nullptr;
    auto h = std::make_shared<OpenFile>();
    h->connection = f->connection;
    h->tree = f->tree;
    h->id = f->file.id;
    h->size = f->file.size;
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
