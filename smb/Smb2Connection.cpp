#include "smb/Smb2Connection.h"

#include "remote/protocols/SmbSocket.h"

#include "platform/core/Unicode.h"
#include "remote/protocols/NtlmV2.h"
#include "remote/protocols/SmbWire.h"
#include "smb/Spnego.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <deque>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <openssl/core_names.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Bytes = Smb2Connection::Bytes;
using W = SmbWire;

enum Command : uint16_t {
    kNegotiate = 0,
    kSessionSetup = 1,
    kLogoff = 2,
    kTreeConnect = 3,
    kTreeDisconnect = 4,
    kCreate = 5,
    kClose = 6,
    kRead = 8,
    kIoctl = 0x0B,
    kEcho = 0x0D,
    kQueryDirectory = 0x0E,
};

constexpr uint32_t kFlagResponse = 0x1;
constexpr uint32_t kFlagAsync = 0x2;
constexpr uint32_t kFlagSigned = 0x8;
constexpr uint32_t kFlagDfs = 0x10000000;
constexpr uint16_t kSigningEnabled = 1;
constexpr uint16_t kSigningRequired = 2;
constexpr uint32_t kCapLargeMtu = 0x4;
constexpr uint32_t kCapEncryption = 0x40;
constexpr uint16_t kSessionGuest = 0x1;
constexpr uint16_t kSessionNull = 0x2;
constexpr uint16_t kSessionEncrypt = 0x4;
constexpr uint32_t kShareEncrypt = 0x8000;
constexpr uint32_t kShareCapDfs = 0x8;
constexpr uint32_t kFsctlPipeTransceive = 0x0011C017;
constexpr uint32_t kFsctlDfsGetReferrals = 0x00060194;
constexpr uint16_t kCreditsAsked = 256;
constexpr int kConnectTimeoutMs = 15000;
constexpr size_t kTransformSize = 52;
// The largest read asked for at once, and how many travel together.
constexpr uint32_t kReadChunkCap = 1u << 20;
constexpr size_t kReadsInFlight = 8;
// A reply longer than this is refused before it is read.
constexpr size_t kMaxMessage = 16u << 20;
constexpr uint16_t kDialects[] = {0x0202, 0x0210, 0x0300, 0x0302, 0x0311};
// The ciphers offered to 3.1.1 servers, the one we prefer first.
constexpr uint16_t kCiphers[] = {Smb2Connection::kAes128Gcm, Smb2Connection::kAes128Ccm, Smb2Connection::kAes256Gcm,
                                 Smb2Connection::kAes256Ccm};

// A text with its terminating zero.
Bytes label(const char* s) { return Bytes(s, s + std::strlen(s) + 1); }

std::array<uint8_t, 16> key16(const Bytes& b) {
    std::array<uint8_t, 16> k{};
    std::copy_n(b.begin(), std::min<size_t>(b.size(), 16), k.begin());
    return k;
}

bool isCcm(Smb2Connection::Cipher c) { return c == Smb2Connection::kAes128Ccm || c == Smb2Connection::kAes256Ccm; }

const EVP_CIPHER* evpCipher(Smb2Connection::Cipher c) {
    switch (c) {
    case Smb2Connection::kAes128Ccm: return EVP_aes_128_ccm();
    case Smb2Connection::kAes128Gcm: return EVP_aes_128_gcm();
    case Smb2Connection::kAes256Ccm: return EVP_aes_256_ccm();
    case Smb2Connection::kAes256Gcm: return EVP_aes_256_gcm();
    case Smb2Connection::kNoCipher: break;
    }
    return nullptr;
}

size_t keyBytes(Smb2Connection::Cipher c) {
    return c == Smb2Connection::kAes256Ccm || c == Smb2Connection::kAes256Gcm ? 32 : 16;
}

void sha512Chain(std::array<uint8_t, 64>& hash, const Bytes& message) {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    unsigned len = 0;
    EVP_DigestInit_ex(ctx, EVP_sha512(), nullptr);
    EVP_DigestUpdate(ctx, hash.data(), hash.size());
    EVP_DigestUpdate(ctx, message.data(), message.size());
    EVP_DigestFinal_ex(ctx, hash.data(), &len);
    EVP_MD_CTX_free(ctx);
}

// The body of a reply after the 64-byte header, with the structure size it
// must start with checked.
bool body(const Bytes& m, uint16_t structureSize, size_t minimum) {
    uint16_t size = 0;
    return W::read16(m, 64, size) && size == structureSize && W::has(m, 64, minimum);
}

}  // namespace

Smb2Connection::Smb2Connection() = default;

Smb2Connection::~Smb2Connection() {
    std::lock_guard lock(fdMutex_);
    if (fd_ >= 0) ::close(fd_);
}

uint32_t Smb2Connection::errorForStatus(uint32_t status) {
    switch (status) {
    case 0xC000000D:  // invalid parameter
        return SmbStackClient::kErrorBadParameter;
    case 0xC000006D:  // logon failure
    case 0xC000006A:  // wrong password
    case 0xC0000064:  // no such user
        return SmbStackClient::kErrorLogonFailure;
    case 0xC0000072:  // account disabled
    case 0xC000006E:  // account restriction
    case 0xC0000071:  // password expired
    case 0xC0000234:  // account locked out
    case 0xC0000193:  // account expired
        return SmbStackClient::kErrorAccountRestricted;
    case 0xC0000022:  // access denied
    case 0xC00000CC:  // bad network name: the share is missing or not ours
        return status == 0xC0000022 ? SmbStackClient::kErrorAccessDenied : SmbStackClient::kErrorNotFound;
    case 0xC00000D0:  // request not accepted
        return SmbStackClient::kErrorNotAccepted;
    case 0xC000005E:  // no logon servers
        return SmbStackClient::kErrorNoLogonServers;
    case 0xC0000034:  // object name not found
    case 0xC000003A:  // object path not found
    case 0xC0000033:  // object name invalid
    case 0xC0000103:  // not a directory
    case 0xC00000BA:  // file is a directory
        return SmbStackClient::kErrorNotFound;
    case 0xC000A000:  // invalid signature
        return SmbStackClient::kErrorSignature;
    default:
        return SmbStackClient::kErrorStatus;
    }
}

bool Smb2Connection::fail(uint32_t error, uint32_t status, const std::string& message) {
    error_ = error;
    ntStatus_ = status;
    message_ = message;
    return false;
}

bool Smb2Connection::failStatus(uint32_t status) { return fail(errorForStatus(status), status); }

bool Smb2Connection::failTransport() {
    broken_ = true;
    if (cancelled_) return fail(SmbStackClient::kErrorCancelled);
    if (!open_) return fail(SmbStackClient::kErrorConnect);
    return fail(SmbStackClient::kErrorDisconnected, 0, "The server closed the connection.");
}

void Smb2Connection::cancel() {
    cancelled_ = true;
    std::lock_guard lock(fdMutex_);
    if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
}

uint32_t Smb2Connection::maxReadSize() const {
    if (dialect_ == 0x0202 || !(serverCapabilities_ & kCapLargeMtu)) return std::min<uint32_t>(maxRead_, 65536);
    return std::min(maxRead_, kReadChunkCap);
}

int Smb2Connection::waitMs() const { return loggingOn_ ? std::max(1, replyTimeoutMs_ / 4) : replyTimeoutMs_; }

uint16_t Smb2Connection::creditCharge(uint32_t payload) const {
    if (dialect_ == 0x0202 || !(serverCapabilities_ & kCapLargeMtu)) return 0;
    return uint16_t(payload == 0 ? 1 : (payload - 1) / 65536 + 1);
}

bool Smb2Connection::connectSocket(const std::string& host, int port) {
    switch (SmbSocket::connect(host, port, kConnectTimeoutMs, cancelled_, fdMutex_, fd_)) {
    case SmbSocket::Connect::Ok: return true;
    case SmbSocket::Connect::Unresolved:
        return fail(SmbStackClient::kErrorConnect, 0, "The server's name could not be resolved.");
    case SmbSocket::Connect::Unreachable: break;
    }
    if (cancelled_) return fail(SmbStackClient::kErrorCancelled);
    return fail(SmbStackClient::kErrorConnect, 0, "The server could not be reached.");
}

bool Smb2Connection::writeAll(const Bytes& data) {
    return SmbSocket::sendAll(fd_, data.data(), data.size(), cancelled_) || failTransport();
}

bool Smb2Connection::readExact(uint8_t* p, size_t n) {
    return SmbSocket::recvExact(fd_, p, n, waitMs(), cancelled_) || failTransport();
}

bool Smb2Connection::readMessage(Bytes& out, bool& encrypted) {
    encrypted = false;
    uint8_t head[4];
    if (!readExact(head, 4)) return false;
    const size_t length = size_t(head[1]) << 16 | size_t(head[2]) << 8 | head[3];
    // No reply is longer than the largest read or transaction the server
    // announced, sealed (before it has, than a negotiate reply can be).
    const size_t most =
        dialect_ ? std::min<size_t>(kMaxMessage, size_t(std::max(maxRead_, maxTransact_)) + 4096 + kTransformSize)
                 : size_t(65536);
    if (head[0] != 0 || length < 64) {
        broken_ = true;
        return fail(SmbStackClient::kErrorProtocol, 0, "The server's reply is not SMB2.");
    }
    if (length > most) {
        broken_ = true;
        return fail(SmbStackClient::kErrorProtocol, 0, "The server's reply is too large.");
    }
    out.resize(length);
    if (!readExact(out.data(), length)) return false;
    if (out[0] == 0xFD) {
        broken_ = true;
        if (decryptionKey_.empty()) {
            return fail(SmbStackClient::kErrorProtocol, 0, "The server sent an encrypted reply without agreeing a key.");
        }
        auto plain = W::get64(&out[44]) == sessionId_ ? unseal(cipher_, decryptionKey_, out) : std::nullopt;
        if (!plain || plain->size() < 64) {
            return fail(SmbStackClient::kErrorSignature, 0xC000A000,
                        "The server's encrypted reply does not decrypt: it was changed on the way.");
        }
        broken_ = false;
        out = std::move(*plain);
        encrypted = true;
    }
    if (out[0] != 0xFE || out[1] != 'S' || out[2] != 'M' || out[3] != 'B' || W::get16(&out[4]) != 64) {
        broken_ = true;
        return fail(SmbStackClient::kErrorProtocol, 0, "The server's reply is not SMB2.");
    }
    return true;
}

void Smb2Connection::sign(Bytes& m) const {
    std::fill(m.begin() + 48, m.begin() + 64, 0);
    W::put32(m, 16, W::get32(&m[16]) | kFlagSigned);
    const auto sig = signature(m);
    std::copy(sig.begin(), sig.end(), m.begin() + 48);
}

bool Smb2Connection::verify(Bytes& m) const {
    // Checked in place: the signature field is zero while the MAC runs.
    std::array<uint8_t, 16> sent;
    std::copy(m.begin() + 48, m.begin() + 64, sent.begin());
    std::fill(m.begin() + 48, m.begin() + 64, 0);
    const auto sig = signature(m);
    std::copy(sent.begin(), sent.end(), m.begin() + 48);
    return sig == sent;
}

std::array<uint8_t, 16> Smb2Connection::signature(const Bytes& m) const {
    if (gmac_) {
        // The nonce: the message id, then whether it is a reply (and a cancel).
        std::array<uint8_t, 12> nonce{};
        std::copy(m.begin() + 24, m.begin() + 32, nonce.begin());
        nonce[8] = uint8_t((W::get32(&m[16]) & kFlagResponse) ? 1 : 0) | uint8_t(W::get16(&m[12]) == 0x0C ? 2 : 0);
        return gmacSignature(signingKey_, nonce, m);
    }
    return dialect_ >= 0x0300 ? cmacSignature(signingKey_, m) : hmacSha256Signature(sessionKey_, m);
}

std::optional<uint64_t> Smb2Connection::send(uint16_t command, const Bytes& body, uint32_t tree, uint32_t payload,
                                             Bytes* sent) {
    if (broken_ || cancelled_) {
        failTransport();
        return std::nullopt;
    }
    const uint16_t charge = creditCharge(payload);
    const uint64_t cost = creditCost(payload);
    // Nothing is sent without a credit (read() waits for replies that bring
    // more before it asks).
    if (credits_ < cost) {
        fail(SmbStackClient::kErrorProtocol, 0, "The server granted no credits.");
        return std::nullopt;
    }
    Bytes msg(64, 0);
    msg[0] = 0xFE;
    msg[1] = 'S';
    msg[2] = 'M';
    msg[3] = 'B';
    W::put16(msg, 4, 64);
    W::put16(msg, 6, charge);
    W::put16(msg, 12, command);
    W::put16(msg, 14, std::max<uint16_t>(kCreditsAsked, charge));
    if (command == kCreate && dfsTrees_.count(tree)) W::put32(msg, 16, kFlagDfs);
    const uint64_t id = nextMessageId_;
    W::put64(msg, 24, id);
    W::put32(msg, 32, 0xFEFF);
    W::put32(msg, 36, tree);
    W::put64(msg, 40, sessionId_);
    W::append(msg, body);
    const bool handshake = command == kNegotiate || command == kSessionSetup;
    const bool sealed = !handshake && encryptsTree(tree);
    // A sealed message needs no signature: the cipher's tag covers it.
    if (signing_ && !handshake && !sealed) sign(msg);
    nextMessageId_ += cost;
    credits_ -= cost;
    waiting_[id] = Waiting{sealed, false};
    const Bytes wire = sealed ? encrypt(msg) : Bytes();
    if (sealed && wire.empty()) {
        broken_ = true;
        fail(SmbStackClient::kErrorProtocol, 0, "The request could not be encrypted.");
        return std::nullopt;
    }
    const Bytes& out = sealed ? wire : msg;
    const uint32_t length = uint32_t(out.size());
    Bytes frame = {0, uint8_t(length >> 16), uint8_t(length >> 8), uint8_t(length)};
    W::append(frame, out);
    if (!writeAll(frame)) return std::nullopt;
    if (sent) *sent = std::move(msg);
    return id;
}

std::optional<Smb2Connection::Reply> Smb2Connection::receive(uint64_t messageId) {
    for (;;) {
        if (auto it = early_.find(messageId); it != early_.end()) {
            Reply r = std::move(it->second);
            early_.erase(it);
            return r;
        }
        if (!waiting_.count(messageId)) {
            fail(SmbStackClient::kErrorProtocol, 0, "No such request is waiting.");
            return std::nullopt;
        }
        if (!receiveOne()) return std::nullopt;
    }
}

bool Smb2Connection::awaitReply() {
    for (;;) {
        switch (SmbSocket::waitReadable(fd_, waitMs(), cancelled_)) {
        case SmbSocket::Wait::Ready: return true;
        case SmbSocket::Wait::Failed: return failTransport();
        case SmbSocket::Wait::TimedOut: break;
        }
        const bool pending =
            std::any_of(waiting_.begin(), waiting_.end(), [](const auto& w) { return w.second.pending; });
        if (!pending) {
            broken_ = true;
            return fail(SmbStackClient::kErrorDisconnected, 0,
                        loggingOn_ ? "The server did not answer the log-on in time." : "The server did not answer in time.");
        }
        // The server is working on a request: as long as it answers an
        // echo, the wait goes on.
        if (echo_ || credits_ < 1) {
            broken_ = true;
            return fail(SmbStackClient::kErrorDisconnected, 0, "The server stopped answering.");
        }
        Bytes b(4, 0);
        W::put16(b, 0, 4);
        auto id = send(kEcho, b, 0, 0);
        if (!id) return false;
        echo_ = *id;
    }
}

bool Smb2Connection::receiveOne() {
    if (!awaitReply()) return false;
    // The buffer of an earlier reply is filled again: no fresh pages for
    // every large read.
    Bytes m;
    m.swap(spare_);
    bool encrypted = false;
    if (!readMessage(m, encrypted)) return false;
    const uint32_t flags = W::get32(&m[16]);
    const uint32_t status = W::get32(&m[8]);
    const uint64_t id = W::get64(&m[24]);
    if (!(flags & kFlagResponse) || W::get32(&m[20]) != 0) {
        broken_ = true;
        return fail(SmbStackClient::kErrorProtocol, 0, "The server's reply is malformed.");
    }
    auto it = waiting_.find(id);
    if (it == waiting_.end()) {
        broken_ = true;
        return fail(SmbStackClient::kErrorProtocol, 0, "The server answered a request that was not sent.");
    }
    if (it->second.encrypted && !encrypted) {
        broken_ = true;
        return fail(SmbStackClient::kErrorProtocol, 0, "The server answered an encrypted request in the clear.");
    }
    credits_ += W::get16(&m[14]);
    if ((flags & kFlagAsync) && status == kStatusPending) {
        it->second.pending = true;
        return true;
    }
    if (!encrypted && signing_ && W::get64(&m[40]) == sessionId_) {
        if (!(flags & kFlagSigned) || !verify(m)) {
            broken_ = true;
            return fail(SmbStackClient::kErrorSignature, 0xC000A000, "The server's signature is invalid.");
        }
    }
    waiting_.erase(it);
    if (echo_ && *echo_ == id) {
        echo_.reset();
        spare_ = std::move(m);
        return true;
    }
    early_[id] = Reply{status, std::move(m)};
    return true;
}

std::optional<Smb2Connection::Reply> Smb2Connection::transact(uint16_t command, const Bytes& body, uint32_t tree,
                                                              uint32_t payload) {
    auto id = send(command, body, tree, payload);
    if (!id) return std::nullopt;
    return receive(*id);
}

bool Smb2Connection::open(const std::string& host, int port, const std::string& domain, const std::string& user,
                          const std::string& password) {
    host_ = host;
    if (!connectSocket(host, port)) return false;
    // An anonymous session has no key to encrypt with: it offers no cipher,
    // so that a server that would encrypt where it can leaves it in the clear.
    loggingOn_ = true;
    const bool loggedOn = negotiate(!user.empty()) && sessionSetup(domain, user, password);
    loggingOn_ = false;
    if (!loggedOn) {
        broken_ = true;
        return false;
    }
    open_ = true;
    return true;
}

bool Smb2Connection::negotiate(bool offerEncryption) {
    Bytes b(36, 0);
    W::put16(b, 0, 36);
    W::put16(b, 2, uint16_t(std::size(kDialects)));
    W::put16(b, 4, kSigningEnabled);
    W::put32(b, 8, kCapLargeMtu | (offerEncryption ? kCapEncryption : 0));
    uint8_t guid[16];
    uint8_t salt[32];
    if (RAND_bytes(guid, sizeof guid) != 1 || RAND_bytes(salt, sizeof salt) != 1) {
        return fail(SmbStackClient::kErrorProtocol, 0, "No random numbers.");
    }
    std::copy(guid, guid + 16, b.begin() + 12);
    for (uint16_t d : kDialects) W::append(b, {uint8_t(d), uint8_t(d >> 8)});
    // The contexts of 3.1.1 start 8-aligned from the header.
    while ((64 + b.size()) % 8) b.push_back(0);
    W::put32(b, 28, uint32_t(64 + b.size()));
    W::put16(b, 32, offerEncryption ? 3 : 2);
    Bytes preauth = {1, 0, 38, 0, 0, 0, 0, 0, 1, 0, 32, 0, 1, 0};
    preauth.insert(preauth.end(), salt, salt + 32);
    W::append(b, preauth);
    if (offerEncryption) {
        while ((64 + b.size()) % 8) b.push_back(0);
        Bytes ciphers = {2, 0, uint8_t(2 + 2 * std::size(kCiphers)), 0, 0, 0, 0, 0, uint8_t(std::size(kCiphers)), 0};
        for (uint16_t c : kCiphers) W::append(ciphers, {uint8_t(c), uint8_t(c >> 8)});
        W::append(b, ciphers);
    }
    while ((64 + b.size()) % 8) b.push_back(0);
    W::append(b, {8, 0, 6, 0, 0, 0, 0, 0, 2, 0, 2, 0, 1, 0});  // signing with AES-GMAC, else AES-CMAC

    Bytes request;
    auto id = send(kNegotiate, b, 0, 0, &request);
    if (!id) return false;
    auto r = receive(*id);
    if (!r) return false;
    if (r->status != 0) return failStatus(r->status);
    const Bytes& m = r->message;
    if (!body(m, 65, 64)) return fail(SmbStackClient::kErrorProtocol, 0, "The server's negotiate reply is malformed.");
    serverSecurityMode_ = W::get16(&m[64 + 2]);
    dialect_ = W::get16(&m[64 + 4]);
    serverCapabilities_ = W::get32(&m[64 + 24]);
    maxTransact_ = W::get32(&m[64 + 28]);
    maxRead_ = W::get32(&m[64 + 32]);
    if (std::find(std::begin(kDialects), std::end(kDialects), dialect_) == std::end(kDialects)) {
        return fail(SmbStackClient::kErrorProtocol, 0, "The server chose an SMB dialect this client does not speak.");
    }
    if (maxRead_ < 4096) return fail(SmbStackClient::kErrorProtocol, 0, "The server's read size is too small.");
    if (dialect_ == 0x0311) {
        // The server must take part in the pre-authentication hash with SHA-512.
        const uint16_t count = W::get16(&m[64 + 6]);
        size_t at = W::get32(&m[64 + 60]);
        bool sha512 = false;
        for (uint16_t i = 0; i < count; ++i) {
            at = (at + 7) & ~size_t(7);
            uint16_t type = 0, length = 0;
            if (!W::read16(m, at, type) || !W::read16(m, at + 2, length) || !W::has(m, at + 8, length)) {
                return fail(SmbStackClient::kErrorProtocol, 0, "The server's negotiate contexts are malformed.");
            }
            if (type == 1 && length >= 6 && W::get16(&m[at + 8]) >= 1 && W::get16(&m[at + 12]) == 1) sha512 = true;
            if (type == 8 && length >= 4 && W::get16(&m[at + 8]) == 1) gmac_ = W::get16(&m[at + 10]) == 2;
            if (type == 2 && length >= 4 && W::get16(&m[at + 8]) == 1) {
                // The server's choice among ours (none when we offered
                // none); 0 means it encrypts nothing.
                const uint16_t chosen = W::get16(&m[at + 10]);
                const bool offered =
                    offerEncryption && std::find(std::begin(kCiphers), std::end(kCiphers), chosen) != std::end(kCiphers);
                if (chosen != 0 && !offered) {
                    return fail(SmbStackClient::kErrorProtocol, 0, "The server chose a cipher this client did not offer.");
                }
                cipher_ = Cipher(chosen);
            }
            at += 8 + length;
        }
        if (!sha512) return fail(SmbStackClient::kErrorProtocol, 0, "The server sent no pre-authentication hash.");
        preauth_.fill(0);
        sha512Chain(preauth_, request);
        sha512Chain(preauth_, m);
    } else if (dialect_ >= 0x0300 && (serverCapabilities_ & kCapEncryption)) {
        cipher_ = kAes128Ccm;
    }
    return true;
}

bool Smb2Connection::sessionSetup(const std::string& domain, const std::string& user, const std::string& password) {
    std::array<uint8_t, 64> hash = preauth_;
    auto step = [&](const Bytes& token, Bytes& securityBuffer, uint16_t& sessionFlags) -> std::optional<Reply> {
        Bytes b(24, 0);
        W::put16(b, 0, 25);
        b[3] = uint8_t(kSigningEnabled);
        W::put16(b, 12, 64 + 24);
        W::put16(b, 14, uint16_t(token.size()));
        W::append(b, token);
        Bytes request;
        auto id = send(kSessionSetup, b, 0, 0, &request);
        if (!id) return std::nullopt;
        auto r = receive(*id);
        if (!r) return std::nullopt;
        if (dialect_ == 0x0311) sha512Chain(hash, request);
        if (r->status != 0 && r->status != kStatusMoreProcessing) {
            failStatus(r->status);
            return std::nullopt;
        }
        const Bytes& m = r->message;
        if (!body(m, 9, 8)) {
            fail(SmbStackClient::kErrorProtocol, 0, "The server's session reply is malformed.");
            return std::nullopt;
        }
        sessionFlags = W::get16(&m[64 + 2]);
        const size_t offset = W::get16(&m[64 + 4]), length = W::get16(&m[64 + 6]);
        if (length && !W::has(m, offset, length)) {
            fail(SmbStackClient::kErrorProtocol, 0, "The server's session reply is malformed.");
            return std::nullopt;
        }
        securityBuffer.assign(m.begin() + long(length ? offset : 0), m.begin() + long(length ? offset + length : 0));
        sessionId_ = W::get64(&m[40]);
        if (dialect_ == 0x0311 && r->status == kStatusMoreProcessing) sha512Chain(hash, m);
        return r;
    };

    Bytes buffer;
    uint16_t flags = 0;
    auto first = step(Spnego::initToken(NtlmV2::negotiateMessage(NtlmV2::kSmb2NegotiateFlags, "", "LEAFBRIGHT")),
                      buffer, flags);
    if (!first) return false;
    if (first->status != kStatusMoreProcessing) {
        return fail(SmbStackClient::kErrorProtocol, 0, "The server skipped the authentication.");
    }
    auto reply = Spnego::parseReply(buffer);
    if (!reply || reply->negState == Spnego::kReject) {
        return fail(SmbStackClient::kErrorProtocol, 0, "The server does not accept NTLM authentication.");
    }
    auto challenge = NtlmV2::parseChallenge(reply->responseToken.data(), reply->responseToken.size());
    if (!challenge) return fail(SmbStackClient::kErrorProtocol, 0, "The server's NTLM challenge is malformed.");
    std::u16string domain16 = sys::Unicode::toUtf16(domain);
    if (domain16.empty()) {
        // Without a typed domain the server's own is the account's.
        if (auto pairs = NtlmV2::parseAvPairs(challenge->targetInfo)) {
            for (const auto& p : *pairs) {
                if (p.id != NtlmV2::kAvNbDomainName) continue;
                for (size_t i = 0; i + 1 < p.value.size(); i += 2) domain16 += char16_t(p.value[i] | p.value[i + 1] << 8);
            }
        }
    }
    // Signing and key exchange as far as the server agreed to them, and the
    // service we mean to reach, for servers that check it.
    auto auth = NtlmV2::authenticateMessage(
        *challenge, domain16, sys::Unicode::toUtf16(sys::Unicode::uppercase(user)), u"LEAFBRIGHT",
        sys::Unicode::toUtf16(password), NtlmV2::timestampFromUnix(int64_t(::time(nullptr))),
        NtlmV2::kSmb2NegotiateFlags & challenge->flags, sys::Unicode::toUtf16("cifs/" + host_));
    if (!auth) return fail(SmbStackClient::kErrorProtocol, 0, "No random numbers.");
    auto last = step(Spnego::responseToken(auth->message), buffer, flags);
    if (!last) return false;
    if (last->status != 0) return fail(SmbStackClient::kErrorLogonFailure, last->status);
    const bool anonymous = user.empty() || (flags & (kSessionGuest | kSessionNull));
    if (!anonymous) {
        sessionKey_ = auth->sessionKey;
        const Bytes preauth(hash.begin(), hash.end());
        if (dialect_ >= 0x0311) {
            signingKey_ = key16(kdf(sessionKey_, label("SMBSigningKey"), preauth));
        } else if (dialect_ >= 0x0300) {
            signingKey_ = key16(kdf(sessionKey_, label("SMB2AESCMAC"), label("SmbSign")));
        }
        if (cipher_ != kNoCipher && dialect_ >= 0x0311) {
            encryptionKey_ = kdf(sessionKey_, label("SMBC2SCipherKey"), preauth, keyBytes(cipher_));
            decryptionKey_ = kdf(sessionKey_, label("SMBS2CCipherKey"), preauth, keyBytes(cipher_));
        } else if (cipher_ != kNoCipher) {
            encryptionKey_ = kdf(sessionKey_, label("SMB2AESCCM"), label("ServerIn "));
            decryptionKey_ = kdf(sessionKey_, label("SMB2AESCCM"), label("ServerOut"));
        }
        if (RAND_bytes(nonceSalt_.data(), int(nonceSalt_.size())) != 1) {
            return fail(SmbStackClient::kErrorProtocol, 0, "No random numbers.");
        }
    }
    if (flags & kSessionEncrypt) {
        if (encryptionKey_.empty()) {
            return fail(SmbStackClient::kErrorEncryptionRequired, 0,
                        anonymous ? "The server requires encryption, which a guest cannot use."
                                  : "The server requires encryption but agreed no cipher.");
        }
        encryptSession_ = true;
    }
    // 3.1.1 servers take nothing unsigned from a named user after log-on.
    signing_ = !anonymous && ((serverSecurityMode_ & kSigningRequired) || dialect_ == 0x0311);
    // The final reply is the first the server signs; a signed one is checked
    // even where signing is not required.
    const bool signedReply = W::get32(&last->message[16]) & kFlagSigned;
    if ((signing_ && !signedReply) || (signedReply && !anonymous && !verify(last->message))) {
        return fail(SmbStackClient::kErrorSignature, 0xC000A000, "The server's signature is invalid.");
    }
    return true;
}

uint32_t Smb2Connection::treeConnect(const std::string& share) {
    const Bytes path = W::utf16le("\\\\" + host_ + "\\" + share);
    Bytes b(8, 0);
    W::put16(b, 0, 9);
    W::put16(b, 4, 64 + 8);
    W::put16(b, 6, uint16_t(path.size()));
    W::append(b, path);
    auto r = transact(kTreeConnect, b, 0);
    if (!r) return 0;
    if (r->status != 0) {
        failStatus(r->status);
        return 0;
    }
    if (!body(r->message, 16, 16)) {
        fail(SmbStackClient::kErrorProtocol, 0, "The server's tree reply is malformed.");
        return 0;
    }
    const uint32_t tree = W::get32(&r->message[36]);
    if (tree == 0) {
        fail(SmbStackClient::kErrorProtocol, 0, "The server gave the share no id.");
        return 0;
    }
    if (W::get32(&r->message[64 + 4]) & kShareEncrypt) {
        if (encryptionKey_.empty()) {
            treeDisconnect(tree);
            fail(SmbStackClient::kErrorEncryptionRequired, 0,
                 "The share \"" + share + "\" requires encryption, which " +
                     (sessionKey_ == std::array<uint8_t, 16>{} ? "a guest cannot use."
                                                               : "this server offers no cipher for."));
            return 0;
        }
        encryptedTrees_.insert(tree);
    }
    if (W::get32(&r->message[64 + 4 + 4]) & kShareCapDfs) dfsTrees_[tree] = share;
    return tree;
}

void Smb2Connection::treeDisconnect(uint32_t tree) {
    Bytes b(4, 0);
    W::put16(b, 0, 4);
    transact(kTreeDisconnect, b, tree);
    encryptedTrees_.erase(tree);
    dfsTrees_.erase(tree);
}

std::optional<Smb2Connection::CreateResult> Smb2Connection::create(uint32_t tree, const std::string& path,
                                                                   uint32_t access, uint32_t options) {
    // In a DFS namespace a path names its server and share too.
    auto dfs = dfsTrees_.find(tree);
    Bytes name = W::utf16le(dfs == dfsTrees_.end() ? path
                                                   : host_ + "\\" + dfs->second + (path.empty() ? "" : "\\" + path));
    if (name.size() > 0xFFFF - 2) {
        fail(SmbStackClient::kErrorBadParameter, 0, "The path is too long.");
        return std::nullopt;
    }
    Bytes b(56, 0);
    W::put16(b, 0, 57);
    W::put32(b, 4, 2);  // impersonation
    W::put32(b, 24, access);
    W::put32(b, 32, 0x7);  // share read, write and delete
    W::put32(b, 36, 1);    // open an existing one
    W::put32(b, 40, options);
    W::put16(b, 44, 64 + 56);
    W::put16(b, 46, uint16_t(name.size()));
    if (name.empty()) name.push_back(0);
    W::append(b, name);
    auto r = transact(kCreate, b, tree);
    if (!r) return std::nullopt;
    if (r->status != 0) {
        failStatus(r->status);
        return std::nullopt;
    }
    const Bytes& m = r->message;
    if (!body(m, 89, 88)) {
        fail(SmbStackClient::kErrorProtocol, 0, "The server's create reply is malformed.");
        return std::nullopt;
    }
    CreateResult c;
    c.lastWriteTime = W::get64(&m[64 + 24]);
    c.size = W::get64(&m[64 + 48]);
    c.attributes = W::get32(&m[64 + 56]);
    c.id.persistent = W::get64(&m[64 + 64]);
    c.id.volatileId = W::get64(&m[64 + 72]);
    return c;
}

void Smb2Connection::close(uint32_t tree, const FileId& id) {
    Bytes b(24, 0);
    W::put16(b, 0, 24);
    W::put64(b, 8, id.persistent);
    W::put64(b, 16, id.volatileId);
    transact(kClose, b, tree);
}

std::optional<std::vector<Smb2Connection::FileInfo>> Smb2Connection::queryDirectory(uint32_t tree, const FileId& id,
                                                                                    const std::string& pattern) {
    const Bytes name = W::utf16le(pattern);
    const uint32_t outLength = std::min<uint32_t>(65536, maxTransact_);
    std::vector<FileInfo> out;
    for (bool first = true;; first = false) {
        Bytes b(32, 0);
        W::put16(b, 0, 33);
        b[2] = 0x01;               // FileDirectoryInformation
        b[3] = first ? 0x01 : 0;  // restart the scan
        W::put64(b, 8, id.persistent);
        W::put64(b, 16, id.volatileId);
        W::put16(b, 24, 64 + 32);
        W::put16(b, 26, uint16_t(name.size()));
        W::put32(b, 28, outLength);
        W::append(b, name);
        auto r = transact(kQueryDirectory, b, tree, outLength);
        if (!r) return std::nullopt;
        if (r->status == kStatusNoMoreFiles) return out;
        if (r->status != 0) {
            failStatus(r->status);
            return std::nullopt;
        }
        const Bytes& m = r->message;
        if (!body(m, 9, 8)) {
            fail(SmbStackClient::kErrorProtocol, 0, "The server's folder reply is malformed.");
            return std::nullopt;
        }
        const size_t offset = W::get16(&m[64 + 2]), length = W::get32(&m[64 + 4]);
        if (length == 0) return out;
        if (!W::has(m, offset, length) || length > outLength) {
            fail(SmbStackClient::kErrorProtocol, 0, "The server's folder reply is malformed.");
            return std::nullopt;
        }
        for (size_t at = offset;;) {
            const size_t end = offset + length;
            if (end - at < 64) {
                fail(SmbStackClient::kErrorProtocol, 0, "The server's folder entry is malformed.");
                return std::nullopt;
            }
            const uint32_t next = W::get32(&m[at]);
            const uint32_t nameLength = W::get32(&m[at + 60]);
            if (nameLength > end - at - 64 || (next && (next < 64 + nameLength || next > end - at))) {
                fail(SmbStackClient::kErrorProtocol, 0, "The server's folder entry is malformed.");
                return std::nullopt;
            }
            FileInfo f;
            f.lastWriteTime = W::get64(&m[at + 24]);
            f.size = W::get64(&m[at + 40]);
            f.attributes = W::get32(&m[at + 56]);
            f.name = W::fromUtf16le(&m[at + 64], nameLength);
            out.push_back(std::move(f));
            if (out.size() > kMaxEntries) {
                fail(SmbStackClient::kErrorProtocol, 0, "The folder holds too many entries.");
                return std::nullopt;
            }
            if (!next) break;
            at += next;
        }
    }
}

std::optional<Bytes> Smb2Connection::read(uint32_t tree, const FileId& id, uint64_t offset, size_t length) {
    const uint32_t chunk = maxReadSize();
    struct Pending {
        uint64_t messageId;
        size_t at, length;
    };
    std::deque<Pending> inFlight;
    Bytes out;
    out.reserve(std::min<size_t>(length, 8u << 20));
    size_t sent = 0;
    bool ended = false;  // a short read or the end of the file: nothing after it counts
    bool failed = false;
    while ((sent < length && !ended && !failed) || !inFlight.empty()) {
        while (sent < length && !ended && !failed && inFlight.size() < kReadsInFlight) {
            uint32_t n = uint32_t(std::min<size_t>(chunk, length - sent));
            // Fewer credits than the read takes: wait for the replies in
            // flight, or with none, a smaller read (send() refuses one
            // without any credit).
            if (creditCost(n) > credits_) {
                if (!inFlight.empty()) break;
                if (credits_ > 0) n = uint32_t(std::min<uint64_t>(n, credits_ * 65536));
            }
            Bytes b(49, 0);
            W::put16(b, 0, 49);
            b[2] = 0x50;
            W::put32(b, 4, n);
            W::put64(b, 8, offset + sent);
            W::put64(b, 16, id.persistent);
            W::put64(b, 24, id.volatileId);
            auto mid = send(kRead, b, tree, n);
            if (!mid) {
                failed = true;
                break;
            }
            inFlight.push_back({*mid, sent, n});
            sent += n;
        }
        if (inFlight.empty()) break;
        const Pending p = inFlight.front();
        inFlight.pop_front();
        auto r = receive(p.messageId);
        if (!r) return std::nullopt;
        if (failed || ended) continue;
        if (r->status == kStatusEndOfFile) {
            ended = true;
            continue;
        }
        if (r->status != 0) {
            failStatus(r->status);
            failed = true;
            continue;
        }
        const Bytes& m = r->message;
        if (!body(m, 17, 16)) {
            fail(SmbStackClient::kErrorProtocol, 0, "The server's read reply is malformed.");
            failed = true;
            continue;
        }
        const size_t dataOffset = m[64 + 2], dataLength = W::get32(&m[64 + 4]);
        if (dataLength > p.length || !W::has(m, dataOffset, dataLength) || out.size() != p.at) {
            fail(SmbStackClient::kErrorProtocol, 0, "The server's read reply is malformed.");
            failed = true;
            continue;
        }
        out.insert(out.end(), m.begin() + long(dataOffset), m.begin() + long(dataOffset + dataLength));
        if (dataLength < p.length) ended = true;
        spare_ = std::move(r->message);
    }
    if (failed) return std::nullopt;
    return out;
}

std::optional<Bytes> Smb2Connection::dfsReferral(uint32_t tree, const std::string& path) {
    Bytes input = {4, 0};  // the highest referral version we read
    W::append(input, W::utf16le(path));
    W::append(input, {0, 0});
    return ioctl(tree, kFsctlDfsGetReferrals, FileId{~uint64_t(0), ~uint64_t(0)}, input);
}

std::optional<Bytes> Smb2Connection::transceive(uint32_t tree, const FileId& id, const Bytes& input) {
    return ioctl(tree, kFsctlPipeTransceive, id, input);
}

std::optional<Bytes> Smb2Connection::ioctl(uint32_t tree, uint32_t code, const FileId& id, const Bytes& input) {
    const uint32_t maxOut = std::min<uint32_t>(65536, maxTransact_);
    Bytes b(56, 0);
    W::put16(b, 0, 57);
    W::put32(b, 4, code);
    W::put64(b, 8, id.persistent);
    W::put64(b, 16, id.volatileId);
    W::put32(b, 24, 64 + 56);
    W::put32(b, 28, uint32_t(input.size()));
    W::put32(b, 44, maxOut);
    W::put32(b, 48, 1);  // a file system control
    W::append(b, input);
    auto r = transact(kIoctl, b, tree, std::max<uint32_t>(uint32_t(input.size()), maxOut));
    if (!r) return std::nullopt;
    if (r->status != 0 && r->status != kStatusBufferOverflow) {
        failStatus(r->status);
        return std::nullopt;
    }
    const Bytes& m = r->message;
    if (!body(m, 49, 48)) {
        fail(SmbStackClient::kErrorProtocol, 0, "The server's control reply is malformed.");
        return std::nullopt;
    }
    const size_t offset = W::get32(&m[64 + 32]), length = W::get32(&m[64 + 36]);
    if (length > maxOut || (length && !W::has(m, offset, length))) {
        fail(SmbStackClient::kErrorProtocol, 0, "The server's control reply is malformed.");
        return std::nullopt;
    }
    return Bytes(m.begin() + long(length ? offset : 0), m.begin() + long(length ? offset + length : 0));
}

std::optional<Bytes> Smb2Connection::readPipe(uint32_t tree, const FileId& id, size_t length) {
    Bytes b(49, 0);
    W::put16(b, 0, 49);
    b[2] = 0x50;
    const uint32_t n = uint32_t(std::min<size_t>(length, maxReadSize()));
    W::put32(b, 4, n);
    W::put64(b, 16, id.persistent);
    W::put64(b, 24, id.volatileId);
    auto r = transact(kRead, b, tree, n);
    if (!r) return std::nullopt;
    if (r->status != 0 && r->status != kStatusBufferOverflow) {
        failStatus(r->status);
        return std::nullopt;
    }
    const Bytes& m = r->message;
    if (!body(m, 17, 16)) {
        fail(SmbStackClient::kErrorProtocol, 0, "The server's read reply is malformed.");
        return std::nullopt;
    }
    const size_t dataOffset = m[64 + 2], dataLength = W::get32(&m[64 + 4]);
    if (dataLength > n || !W::has(m, dataOffset, dataLength)) {
        fail(SmbStackClient::kErrorProtocol, 0, "The server's read reply is malformed.");
        return std::nullopt;
    }
    return Bytes(m.begin() + long(dataOffset), m.begin() + long(dataOffset + dataLength));
}

Bytes Smb2Connection::kdf(const std::array<uint8_t, 16>& key, const Bytes& label, const Bytes& context, size_t bytes) {
    // One round of the counter-mode KDF with HMAC-SHA256 gives up to 32 bytes.
    bytes = std::min<size_t>(bytes, 32);
    const uint32_t bits = uint32_t(bytes * 8);
    Bytes input = {0, 0, 0, 1};
    W::append(input, label);
    input.push_back(0);
    W::append(input, context);
    W::append(input, {uint8_t(bits >> 24), uint8_t(bits >> 16), uint8_t(bits >> 8), uint8_t(bits)});
    uint8_t out[32];
    unsigned len = 0;
    HMAC(EVP_sha256(), key.data(), int(key.size()), input.data(), input.size(), out, &len);
    return Bytes(out, out + bytes);
}

Bytes Smb2Connection::encrypt(const Bytes& message) {
    // A nonce is never used twice under a key: a counter, then a salt drawn
    // at log-on.
    std::array<uint8_t, 16> nonce{};
    const uint64_t n = ++nonceCounter_;
    for (int i = 0; i < 8; ++i) nonce[size_t(i)] = uint8_t(n >> (8 * i));
    std::copy(nonceSalt_.begin(), nonceSalt_.end(), nonce.begin() + 8);
    return seal(cipher_, encryptionKey_, nonce, sessionId_, message);
}

Bytes Smb2Connection::seal(Cipher cipher, const Bytes& key, const std::array<uint8_t, 16>& nonce, uint64_t sessionId,
                           const Bytes& message) {
    const EVP_CIPHER* evp = evpCipher(cipher);
    if (!evp || key.size() != size_t(EVP_CIPHER_key_length(evp)) || message.size() > 0x7FFFFFFF) return {};
    const int nonceLength = isCcm(cipher) ? 11 : 12;
    Bytes out(kTransformSize + message.size(), 0);
    out[0] = 0xFD;
    out[1] = 'S';
    out[2] = 'M';
    out[3] = 'B';
    std::copy_n(nonce.begin(), nonceLength, out.begin() + 20);
    W::put32(out, 36, uint32_t(message.size()));
    W::put16(out, 42, 1);  // encrypted
    W::put64(out, 44, sessionId);
    // The header from the nonce on is authenticated, the message encrypted.
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    int len = 0;
    const int size = int(message.size());
    bool ok = ctx && EVP_EncryptInit_ex(ctx, evp, nullptr, nullptr, nullptr) == 1 &&
              EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_AEAD_SET_IVLEN, nonceLength, nullptr) == 1 &&
              (!isCcm(cipher) || EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_AEAD_SET_TAG, 16, nullptr) == 1) &&
              EVP_EncryptInit_ex(ctx, nullptr, nullptr, key.data(), out.data() + 20) == 1 &&
              (!isCcm(cipher) || EVP_EncryptUpdate(ctx, nullptr, &len, nullptr, size) == 1) &&
              EVP_EncryptUpdate(ctx, nullptr, &len, out.data() + 20, int(kTransformSize - 20)) == 1 &&
              EVP_EncryptUpdate(ctx, out.data() + kTransformSize, &len, message.data(), size) == 1 &&
              EVP_EncryptFinal_ex(ctx, out.data() + kTransformSize + len, &len) == 1 &&
              EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_AEAD_GET_TAG, 16, out.data() + 4) == 1;
    EVP_CIPHER_CTX_free(ctx);
    if (!ok) return {};
    return out;
}

std::optional<Bytes> Smb2Connection::unseal(Cipher cipher, const Bytes& key, const Bytes& t) {
    const EVP_CIPHER* evp = evpCipher(cipher);
    if (!evp || key.size() != size_t(EVP_CIPHER_key_length(evp)) || t.size() < kTransformSize) return std::nullopt;
    if (t[0] != 0xFD || t[1] != 'S' || t[2] != 'M' || t[3] != 'B' || W::get16(&t[42]) != 1 ||
        W::get32(&t[36]) != t.size() - kTransformSize) {
        return std::nullopt;
    }
    const int nonceLength = isCcm(cipher) ? 11 : 12;
    const int size = int(t.size() - kTransformSize);
    Bytes out(size_t(size) + 16);  // room for a final block, though the modes give none
    uint8_t tag[16];
    std::copy_n(t.begin() + 4, 16, tag);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    int len = 0;
    bool ok = ctx && EVP_DecryptInit_ex(ctx, evp, nullptr, nullptr, nullptr) == 1 &&
              EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_AEAD_SET_IVLEN, nonceLength, nullptr) == 1 &&
              (!isCcm(cipher) || EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_AEAD_SET_TAG, 16, tag) == 1) &&
              EVP_DecryptInit_ex(ctx, nullptr, nullptr, key.data(), t.data() + 20) == 1 &&
              (!isCcm(cipher) || EVP_DecryptUpdate(ctx, nullptr, &len, nullptr, size) == 1) &&
              EVP_DecryptUpdate(ctx, nullptr, &len, t.data() + 20, int(kTransformSize - 20)) == 1;
    // CCM checks the tag as it decrypts; GCM when it finishes.
    ok = ok && EVP_DecryptUpdate(ctx, out.data(), &len, t.data() + kTransformSize, size) == 1;
    if (ok && !isCcm(cipher)) {
        int tail = 0;
        ok = EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_AEAD_SET_TAG, 16, tag) == 1 &&
             EVP_DecryptFinal_ex(ctx, out.data() + len, &tail) == 1;
    }
    EVP_CIPHER_CTX_free(ctx);
    if (!ok) return std::nullopt;
    out.resize(size_t(size));
    return out;
}

std::array<uint8_t, 16> Smb2Connection::hmacSha256Signature(const std::array<uint8_t, 16>& key, const Bytes& m) {
    uint8_t out[32];
    unsigned len = 0;
    HMAC(EVP_sha256(), key.data(), int(key.size()), m.data(), m.size(), out, &len);
    std::array<uint8_t, 16> s{};
    std::copy(out, out + 16, s.begin());
    return s;
}

std::array<uint8_t, 16> Smb2Connection::cmacSignature(const std::array<uint8_t, 16>& key, const Bytes& m) {
    std::array<uint8_t, 16> s{};
    EVP_MAC* mac = EVP_MAC_fetch(nullptr, "CMAC", nullptr);
    if (!mac) return s;
    EVP_MAC_CTX* ctx = EVP_MAC_CTX_new(mac);
    char cipher[] = "AES-128-CBC";
    OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_CIPHER, cipher, 0), OSSL_PARAM_END};
    size_t len = 0;
    if (ctx && EVP_MAC_init(ctx, key.data(), key.size(), params) == 1 && EVP_MAC_update(ctx, m.data(), m.size()) == 1) {
        EVP_MAC_final(ctx, s.data(), &len, s.size());
    }
    EVP_MAC_CTX_free(ctx);
    EVP_MAC_free(mac);
    return s;
}

std::array<uint8_t, 16> Smb2Connection::gmacSignature(const std::array<uint8_t, 16>& key,
                                                      const std::array<uint8_t, 12>& nonce, const Bytes& m) {
    std::array<uint8_t, 16> tag{};
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    int len = 0;
    if (ctx && EVP_EncryptInit_ex(ctx, EVP_aes_128_gcm(), nullptr, nullptr, nullptr) == 1 &&
        EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_SET_IVLEN, int(nonce.size()), nullptr) == 1 &&
        EVP_EncryptInit_ex(ctx, nullptr, nullptr, key.data(), nonce.data()) == 1 &&
        EVP_EncryptUpdate(ctx, nullptr, &len, m.data(), int(m.size())) == 1 &&
        EVP_EncryptFinal_ex(ctx, tag.data(), &len) == 1) {
        EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_GET_TAG, int(tag.size()), tag.data());
    }
    EVP_CIPHER_CTX_free(ctx);
    return tag;
}
