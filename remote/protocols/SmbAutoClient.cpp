#include "remote/protocols/SmbAutoClient.h"

#include "remote/protocols/QNSmb.h"
#include "remote/protocols/QNSmbClient.h"
#include "remote/protocols/SmbClientChoice.h"

namespace {

// Failures that say nothing about the credentials or the files: the
// connection itself did not work out.
bool connectionFailed(uint32_t error) {
    return error == SmbStackClient::kErrorConnect || error == SmbStackClient::kErrorProtocol ||
           error == SmbStackClient::kErrorDisconnected;
}

}  // namespace

SmbAutoClient::SmbAutoClient(int slot) : slot_(slot) {}

SmbAutoClient::~SmbAutoClient() = default;

void SmbAutoClient::cancel() {
    cancelled_ = true;
    std::lock_guard lock(mutex_);
    if (current_) current_->cancel();
    if (probe_) probe_->cancel();
}

std::shared_ptr<SmbStackClient> SmbAutoClient::current() const {
    std::lock_guard lock(mutex_);
    return current_;
}

std::shared_ptr<QNSmbClient> SmbAutoClient::smb1() const {
    std::lock_guard lock(mutex_);
    return own_ ? std::static_pointer_cast<QNSmbClient>(current_) : nullptr;
}

void SmbAutoClient::takeError(const SmbStackClient& c) {
    error_ = cancelled_ ? uint32_t(kErrorCancelled) : c.lastError();
    ntStatus_ = c.lastNtStatus();
    message_ = c.lastMessage();
    dfsServer_ = c.lastDfsServer();
    requireRetry_ = c.isRequireRetry();
}

void SmbAutoClient::fail(uint32_t error, const std::string& message) {
    error_ = cancelled_ ? uint32_t(kErrorCancelled) : error;
    ntStatus_ = 0;
    message_ = message;
    dfsServer_.clear();
    requireRetry_ = false;
}

std::shared_ptr<SmbStackClient> SmbAutoClient::clientFor(const std::string& server, bool* fromMemory) {
    {
        std::lock_guard lock(mutex_);
        if (current_ && server_ == server) {
            *fromMemory = fromMemory_;
            return current_;
        }
    }
    if (cancelled_) {
        fail(kErrorCancelled, {});
        return nullptr;
    }
    using Library = SmbClientChoice::Library;
    Library library = Library::Stack;
    *fromMemory = false;
    if (auto known = SmbClientChoice::remembered(server)) {
        library = *known;
        *fromMemory = true;
    } else {
        auto probe = std::make_shared<QNSmb>();
        probe->setWorkStationName("Leafbright");
        {
            std::lock_guard lock(mutex_);
            probe_ = probe;
            if (cancelled_) probe->cancel();
        }
        std::string host = server;
        if (const size_t colon = host.rfind(':'); colon != std::string::npos && host.find(':') == colon) {
            host.resize(colon);
        }
        const QNSmb::Dialects dialects = probe->probeDialects(server, netBiosName_.empty() ? host : netBiosName_);
        {
            std::lock_guard lock(mutex_);
            probe_.reset();
        }
        if (cancelled_) {
            fail(kErrorCancelled, {});
            return nullptr;
        }
        switch (dialects) {
        case QNSmb::Dialects::Newer:
            SmbClientChoice::remember(server, Library::Stack);
            break;
        case QNSmb::Dialects::Smb1Only:
            library = Library::Own;
            SmbClientChoice::remember(server, Library::Own);
            break;
        case QNSmb::Dialects::Unreachable:
            fail(kErrorConnect, "The server could not be reached.");
            return nullptr;
        case QNSmb::Dialects::Unclear:
            // The SMB2/3 client says for itself what it makes of the server.
            break;
        }
    }
    std::shared_ptr<SmbStackClient> client;
    if (library == Library::Own) {
        auto own = std::make_shared<QNSmbClient>();
        own->setNetBiosName(netBiosName_);
        client = own;
    } else {
        client = SmbStackClient::make(slot_);
    }
    if (!client) {
        fail(kErrorConnect, "No SMB2 client is available.");
        return nullptr;
    }
    client->setDomain(domain_);
    client->setUsername(user_);
    client->setPassword(password_);
    std::lock_guard lock(mutex_);
    current_ = client;
    server_ = server;
    fromMemory_ = *fromMemory;
    own_ = library == Library::Own;
    if (cancelled_) client->cancel();
    return client;
}

template <typename Op>
auto SmbAutoClient::run(const std::string& server, Op op) -> decltype(op(std::declval<SmbStackClient&>())) {
    bool fromMemory = false;
    auto client = clientFor(server, &fromMemory);
    if (!client) return {};
    auto result = op(*client);
    takeError(*client);
    const auto library = [this] { return own_ ? SmbClientChoice::Library::Own : SmbClientChoice::Library::Stack; };
    if (!result && fromMemory && connectionFailed(client->lastError()) && !cancelled_) {
        // What worked before does not now: ask the server again, and go
        // on with the other client when that is what it speaks now.
        const auto before = library();
        SmbClientChoice::forget(server);
        {
            std::lock_guard lock(mutex_);
            current_.reset();
        }
        bool again = false;
        auto other = clientFor(server, &again);
        if (other && library() != before) {
            result = op(*other);
            takeError(*other);
        }
    } else if (result) {
        SmbClientChoice::remember(server, library());
    }
    return result;
}

std::optional<std::vector<SmbStackClient::ShareInfo>> SmbAutoClient::getTreeList(const std::string& server,
                                                                                 bool shareInfo) {
    return run(server, [&](SmbStackClient& c) { return c.getTreeList(server, shareInfo); });
}

std::optional<std::vector<SmbStackClient::FileInfo>> SmbAutoClient::getFilelist(const std::string& server,
                                                                               const std::string& share,
                                                                               const std::string& path) {
    return run(server, [&](SmbStackClient& c) { return c.getFilelist(server, share, path); });
}

std::optional<std::vector<SmbStackClient::FileInfo>> SmbAutoClient::getFilelistPattern(const std::string& server,
                                                                                      const std::string& share,
                                                                                      const std::string& path) {
    return run(server, [&](SmbStackClient& c) { return c.getFilelistPattern(server, share, path); });
}

std::shared_ptr<SmbStackClient::FileHandle> SmbAutoClient::openFileForRead(const std::string& server,
                                                                           const std::string& share,
                                                                           const std::string& path,
                                                                           bool isSequential) {
    return run(server, [&](SmbStackClient& c) { return c.openFileForRead(server, share, path, isSequential); });
}

template <typename Read>
std::optional<std::vector<uint8_t>> SmbAutoClient::readOnCurrent(Read read) {
    auto client = current();
    if (!client) {
        fail(kErrorBadParameter, {});
        return std::nullopt;
    }
    auto data = read(*client);
    if (!data) takeError(*client);
    return data;
}

std::optional<std::vector<uint8_t>> SmbAutoClient::readFile(const std::shared_ptr<FileHandle>& file,
                                                            const std::string& share, size_t length) {
    return readOnCurrent([&](SmbStackClient& c) { return c.readFile(file, share, length); });
}

std::optional<std::vector<uint8_t>> SmbAutoClient::readFileAt(const std::shared_ptr<FileHandle>& file,
                                                              uint64_t offset, size_t length) {
    return readOnCurrent([&](SmbStackClient& c) { return c.readFileAt(file, offset, length); });
}

void SmbAutoClient::closeFile(const std::shared_ptr<FileHandle>& file) {
    if (auto client = current()) client->closeFile(file);
}
