#include "remote/listing/SmbListing.h"

#include "foundation/BookCommon.h"
#include "foundation/QNUrl.h"
#include "platform/core/PlistValue.h"
#include "platform/core/RunLoop.h"
#include "platform/core/Unicode.h"
#include "remote/protocols/QNSmb.h"
#include "remote/protocols/QNSmbClient.h"
#include "remote/protocols/SmbAutoClient.h"
#include "remote/protocols/SmbDfsCredentials.h"

#include <cstdio>

namespace {

std::string text(const char* key) { return BookCommon::localizedStringWithOnOff(key); }

}  // namespace

SmbListing::SmbListing() = default;

SmbListing::~SmbListing() { cancel(); }

std::optional<SmbListing::Target> SmbListing::targetOf(const std::string& url) {
    auto u = QNUrl::URLWithString(url);
    if (!u || u->host().empty()) return std::nullopt;
    Target t;
    t.host = u->host();
    t.server = u->port() ? t.host + ":" + std::to_string(*u->port()) : t.host;
    std::string path = u->path();
    if (!path.empty() && path.back() == '/') path.pop_back();
    if (!path.empty() && path.front() == '/') path.erase(0, 1);
    if (path.empty()) return t;
    std::vector<std::string> parts;
    for (size_t b = 0;;) {
        const size_t e = path.find('/', b);
        parts.push_back(path.substr(b, e == std::string::npos ? std::string::npos : e - b));
        if (e == std::string::npos) break;
        b = e + 1;
    }
    if (parts.front().empty()) return t;
    for (size_t i = 0; i < parts.size(); ++i) {
        auto decoded = BookCommon::PercentDecodingWithString(parts[i]);
        std::string part = decoded && sys::Unicode::isValidUtf8(*decoded) ? *decoded : parts[i];
        // A component is one name: no way up or sideways at the server.
        if (part == "." || part == ".." || part.find_first_of(std::string("\\/\0", 3)) != std::string::npos) {
            return std::nullopt;
        }
        if (i == 0) {
            t.share = part;
        } else {
            t.path += "\\" + part;
        }
    }
    return t;
}

std::string SmbListing::withCode(const std::string& message, const char* format, uint32_t code) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, unsigned(code));
    return message + buf;
}

RemoteFileEntry SmbListing::entriesOf(const std::vector<Record>& records, const std::string& baseURL,
                                      bool hideDotFiles, bool lastWriteTimeIs1601) {
    RemoteFileEntry out;
    const bool slash = !baseURL.empty() && baseURL.back() == '/';
    int64_t order = 0;
    for (const auto& r : records) {
        const std::string& name = r.name;
        if (name.empty() || name == "." || name == "..") continue;
        if (hideDotFiles && name[0] == '.') continue;
        // Server names are single components; anything else is not listed.
        if (name.find_first_of(std::string("/\\\0", 3)) != std::string::npos) continue;
        const bool isFolder = !r.attributes || (*r.attributes & 0x10);
        if (!isFolder && !BookCommon::isBookorPDFFileorThemeWithFilename(name)) continue;
        if (r.type && (*r.type & 3)) continue;
        if (name.back() == '$') continue;
        sys::PlistDictionary info;
        info.set(RemoteFileEntry::kOrder, sys::PlistValue(order));
        info.set(RemoteFileEntry::kName, sys::PlistValue(name));
        if (r.comment) info.set(RemoteFileEntry::kComment, sys::PlistValue(*r.comment));
        if (r.size) info.set(RemoteFileEntry::kBookSize, sys::PlistValue(int64_t(*r.size)));
        if (r.lastWriteTime) {
            const int64_t seconds = lastWriteTimeIs1601 ? int64_t(*r.lastWriteTime / 10'000'000) - 11'644'473'600
                                                        : int64_t(*r.lastWriteTime);
            info.set(RemoteFileEntry::kBookDate, RemoteFileEntry::dateValue(seconds));
        }
        info.set(RemoteFileEntry::kIsBook, sys::PlistValue(!isFolder));
        info.set(RemoteFileEntry::kIsFolder, sys::PlistValue(isFolder));
        out.add(baseURL + (slash ? "" : "/") + BookCommon::PercentEncodingWithString(name), std::move(info));
        ++order;
    }
    return out;
}

void SmbListing::start(const Request& request, Completion done) {
    cancel();
    job_ = std::make_shared<Job>();
    worker_ = sys::Thread([job = job_, request, done](const std::atomic<bool>&) { run(*job, request, done); },
                          "smb-listing");
}

void SmbListing::cancel() {
    if (!job_) return;
    *job_->cancelled = true;
    {
        std::lock_guard lock(job_->mutex);
        if (job_->stack) job_->stack->cancel();
    }
    if (worker_.joinable() && !worker_.isCurrent()) sys::Thread::leaveToFinish(std::move(worker_));
}

void SmbListing::finish(Job& job, Result result, const Completion& done) {
    auto cancelled = job.cancelled;
    if (*cancelled) return;
    sys::RunLoop::main().post([cancelled, done, result = std::move(result)] {
        if (!*cancelled) done(result);
    });
}

void SmbListing::run(Job& job, Request request, Completion done) {
    std::optional<net::ReceiveMeter::Scope> counted;
    if (request.meter) counted.emplace(request.meter);
    auto target = targetOf(request.url);
    if (!target) {
        Result r;
        r.message = text("Error Getting File List.");
        finish(job, std::move(r), done);
        return;
    }
    if (auto r = list(job, request, *target)) finish(job, std::move(*r), done);
}

std::optional<SmbListing::Result> SmbListing::list(Job& job, const Request& request, const Target& target) {
    auto client = SmbClientChoice::makeClient(request.library, 0);
    auto automatic = std::dynamic_pointer_cast<SmbAutoClient>(client);
    auto own = std::dynamic_pointer_cast<QNSmbClient>(client);
    if (automatic) automatic->setNetBiosName(request.netBiosName);
    if (own) own->setNetBiosName(request.netBiosName);
    Result r;
    if (!client) {
        r.message = text("Error Connecting to SMB Host.");
        return r;
    }
    {
        std::lock_guard lock(job.mutex);
        job.stack = client;
        if (*job.cancelled) client->cancel();
    }
    const std::string& user = request.userName;
    if (const size_t slash = user.find('\\'); slash != std::string::npos) {
        client->setDomain(user.substr(0, slash));
        client->setUsername(user.substr(slash + 1));
    } else {
        client->setUsername(user);
    }
    client->setPassword(request.password);

    std::optional<std::vector<Record>> records;
    const char* failedStep = nullptr;
    if (target.share.empty()) {
        failedStep = "Error Getting SMB Tree List.";
        // Our SMB1 client, asked for by name, shows what it always showed:
        // share types (print queues and IPC hidden) and comments.
        if (auto shares = client->getTreeList(target.server, own != nullptr)) {
            records.emplace();
            for (auto& s : *shares) {
                Record rec{};
                rec.name = s.name;
                rec.type = s.type;
                if (!s.comment.empty()) rec.comment = s.comment;
                records->push_back(std::move(rec));
            }
        }
    } else {
        failedStep = "Error Getting File List.";
        if (auto files = client->getFilelist(target.server, target.share, target.path)) {
            records.emplace();
            for (auto& f : *files) {
                Record rec{};
                rec.name = f.name;
                rec.attributes = f.attributes;
                rec.size = f.size;
                rec.lastWriteTime = f.lastWriteTime;
                records->push_back(std::move(rec));
            }
        }
    }
    {
        std::lock_guard lock(job.mutex);
        job.stack.reset();
    }
    if (*job.cancelled) return std::nullopt;
    if (records) {
        r.entries = entriesOf(*records, request.url, request.hideDotFiles, true);
        // An empty share list means the server showed us nothing: ask who we are.
        r.outcome = target.share.empty() && r.entries.size() == 0 ? Outcome::PasswordRequested : Outcome::Listed;
        return r;
    }
    // Our SMB1 client's failures read as its own (asked for by name, or
    // chosen for a server that speaks nothing newer).
    if (auto smb1 = own ? own : automatic ? automatic->smb1() : nullptr) {
        const char* step = target.share.empty() ? "Error Getting SMB Tree List." : "Error Getting File List.";
        switch (smb1->failedStep()) {
        case QNSmbClient::Step::Connect: step = "Error Connecting to SMB Host."; break;
        case QNSmbClient::Step::Tree: step = "Error Connecting to SMB Tree."; break;
        default: break;
        }
        // Only where it was asked for by name may another library do better.
        return ownFailure(request, smb1->ownError(), smb1->lastNtStatus(), step, own != nullptr);
    }
    const uint32_t code = client->lastError();
    if (request.netBiosResolveError) {
        r.message = withCode(text("Unable to Resolve NetBIOS Name"), "(CODE=SMB%08X)", code);
        return r;
    }
    switch (code) {
    case SmbStackClient::kErrorBadParameter:
        SmbStackClient::resetStack(0);
        r.message = withCode(text("Bad parameter.Please retry later."), "\n(CODE=SMB%08X)", code);
        return r;
    case SmbStackClient::kErrorLogonFailure:
    case SmbStackClient::kErrorAccountRestricted:
    case SmbStackClient::kErrorNoLogonServers:
        r.outcome = Outcome::PasswordRequested;
        return r;
    case SmbStackClient::kErrorAccessDenied:
        r.outcome = user.empty() ? Outcome::PasswordRequested : Outcome::AccessDenied;
        return r;
    case SmbStackClient::kErrorDfsCredentials:
        if (SmbDfsCredentials::answer(target.server, client->lastDfsServer()) == SmbDfsCredentials::Answer::Unasked) {
            r.outcome = Outcome::DfsCredentials;
            r.site = target.server;
            r.dfsServer = client->lastDfsServer();
            return r;
        }
        r.message = withCode(text(failedStep) + "\n" + client->lastMessage(), "\n(CODE=SMB%08X)", code);
        return r;
    case SmbStackClient::kErrorEncryptionRequired:
    case SmbStackClient::kErrorProtocol:
        // Said as it is, whoever asks: another password would not help (a
        // reply that is no SMB, or one too large).
        r.message = withCode(text(failedStep) + "\n" + client->lastMessage(), "\n(CODE=SMB%08X)", code);
        return r;
    case SmbStackClient::kErrorNotAccepted:
        r.message = withCode(text("Not accepted. (Too many connections or other issues.)"), "\n(CODE=SMB%08X)", code);
        return r;
    default:
        if (user.empty() && request.password.empty()) {
            r.outcome = Outcome::PasswordRequested;
            return r;
        }
        // The client's own sentence says what the step's message cannot
        // (a share that demands encryption names the share).
        std::string message = text(failedStep);
        if (!client->lastMessage().empty()) message += "\n" + client->lastMessage();
        r.message = withCode(message, "\n(CODE=SMB%08X)", code);
        return r;
    }
}

SmbListing::Result SmbListing::ownFailure(const Request& request, int error, uint32_t status, const char* failedStep,
                                          bool offerSmb2) {
    Result r;
    if (error == QNSmb::kErrorProtocol) {
        r.message = text("Leafbright SMB ProtocolError");
        r.requireSMB2 = offerSmb2;
        return r;
    }
    if (request.netBiosResolveError) {
        r.message = withCode(text("Unable to Resolve NetBIOS Name"), "(CODE=%08X)", status);
        return r;
    }
    std::string message;
    switch (status) {
    case 0xC0000022:
        r.outcome = request.userName.empty() ? Outcome::PasswordRequested : Outcome::AccessDenied;
        return r;
    case 0xC000006D:
    case 0xC0000072:
        r.outcome = Outcome::PasswordRequested;
        return r;
    case 0xC00000D0:
        message = text("Not accepted. (Too many connections or other issues.)");
        break;
    case 0xC000A000:
        message = text("The cryptographic signature is invalid.\nWould you like to change the Leafbright SMB Library setting?");
        r.requireSMB2 = offerSmb2;
        break;
    case 0x00080001:
        message = text("Not enough storage is available on Server(SMB1).\nPlease restart your server or try use SMB2.");
        break;
    default:
        message = text(failedStep);
        break;
    }
    r.message = withCode(message, "\n(CODE=%08X)", status);
    return r;
}
