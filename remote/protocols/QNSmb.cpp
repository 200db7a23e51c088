#include "remote/protocols/QNSmb.h"

#include "remote/protocols/SmbSocket.h"

#include "platform/core/Unicode.h"
#include "remote/protocols/HmacMd5.h"
#include "remote/protocols/NtlmV2.h"
#include "remote/protocols/QNNbns.h"
#include "remote/protocols/SrvsvcShareEnum.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Bytes = std::vector<uint8_t>;

enum Command : uint8_t {
    kClose = 0x04,
    kTransaction = 0x25,
    kReadAndX = 0x2E,
    kTransaction2 = 0x32,
    kTreeDisconnect = 0x71,
    kNegotiate = 0x72,
    kSessionSetup = 0x73,
    kLogoff = 0x74,
    kTreeConnect = 0x75,
    kNtCreate = 0xA2,
};

constexpr uint16_t kFlags2 = 0xC841;  // Unicode, NT status, extended security, long names
constexpr uint32_t kCapExtendedSecurity = 0x80000000;
constexpr uint32_t kCapLargeReadX = 0x4000;
constexpr uint32_t kClientCaps = 0x8000405C;
constexpr uint32_t kMoreProcessing = 0xC0000016;
constexpr uint32_t kNoMoreFiles = 0x80000006;
constexpr uint32_t kBufferOverflow = 0x80000005;
constexpr size_t kMaxMessage = 16u << 20;
constexpr size_t kMaxTransaction = 16u << 20;
constexpr int kTimeoutMs = 60000;

void put16(Bytes& b, size_t at, uint16_t v) {
    if (b.size() < at + 2) b.resize(at + 2);
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}
void put32(Bytes& b, size_t at, uint32_t v) {
    if (b.size() < at + 4) b.resize(at + 4);
    for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}
uint16_t get16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t get32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint64_t get64(const uint8_t* p) { return uint64_t(get32(p)) | uint64_t(get32(p + 4)) << 32; }
bool has(const Bytes& b, size_t at, size_t n) { return at <= b.size() && n <= b.size() - at; }

// UTF-8 as UTF-16LE, with or without the terminating zero.
void appendUnicode(Bytes& b, const std::string& s, bool terminate = true) {
    for (char16_t c : sys::Unicode::toUtf16(s)) {
        b.push_back(uint8_t(c));
        b.push_back(uint8_t(c >> 8));
    }
    if (terminate) b.insert(b.end(), {0, 0});
}
std::string fromUnicode(const uint8_t* p, size_t bytes) {
    std::u16string u;
    for (size_t i = 0; i + 1 < bytes; i += 2) u.push_back(char16_t(p[i] | p[i + 1] << 8));
    return sys::Unicode::fromUtf16(u);
}
// Strings in the data bytes start on an even offset from the header.
void alignTo2(Bytes& bytes, size_t bytesOffset) {
    if ((bytesOffset + bytes.size()) % 2) bytes.push_back(0);
}
// Single-byte text of a share list: UTF-8 when it is, else one code point per byte.
std::string oemText(const uint8_t* p, size_t n) {
    std::string s(reinterpret_cast<const char*>(p), n);
    if (sys::Unicode::isValidUtf8(s)) return s;
    std::u16string u;
    for (size_t i = 0; i < n; ++i) u.push_back(char16_t(p[i]));
    return sys::Unicode::fromUtf16(u);
}
int64_t unixSeconds(uint64_t filetime) { return int64_t(filetime / 10'000'000) - 11'644'473'600; }

}  // namespace

QNSmb::QNSmb() = default;

QNSmb::~QNSmb() {
    std::lock_guard lock(fdMutex_);
    if (fd_ >= 0) ::close(fd_);
}

size_t QNSmb::messageLimit() const {
    // No answer is longer than the largest read or buffer agreed on (before
    // the negotiation, than a negotiate answer can be).
    return negotiated_ ? std::min<size_t>(kMaxMessage, std::max<size_t>(maxBuffer_, kMaxRead) + 4096) : 65536;
}

bool QNSmb::fail(int error, uint32_t status) {
    lastError_ = cancelled_ ? kErrorCancelled : error;
    lastNtStatus_ = status;
    return false;
}

bool QNSmb::failTransport() {
    connected_ = false;
    return fail(cancelled_ ? kErrorCancelled : kErrorProtocol);
}

void QNSmb::cancel() {
    cancelled_ = true;
    std::lock_guard lock(fdMutex_);
    if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
}

bool QNSmb::connectSocket(const std::string& host, int port) {
    return SmbSocket::connect(host, port, 15000, cancelled_, fdMutex_, fd_) == SmbSocket::Connect::Ok ||
           fail(kErrorConnect);
}

bool QNSmb::writeAll(const Bytes& data) {
    return SmbSocket::sendAll(fd_, data.data(), data.size(), cancelled_) || failTransport();
}

bool QNSmb::readExact(uint8_t* p, size_t n) {
    return SmbSocket::recvExact(fd_, p, n, kTimeoutMs, cancelled_) || failTransport();
}

bool QNSmb::netbiosSession(const std::string& calledName) {
    uint8_t called[QNNbns::kEncodedNameLength], calling[QNNbns::kEncodedNameLength];
    QNNbns::encodeName(sys::Unicode::uppercase(calledName), 0x20, called);
    QNNbns::encodeName(sys::Unicode::uppercase(workStation_), 0x00, calling);
    Bytes m = {0x81, 0, 0, 68};
    m.insert(m.end(), called, called + 34);
    m.insert(m.end(), calling, calling + 34);
    if (!writeAll(m)) return false;
    uint8_t head[4];
    if (!readExact(head, 4)) return false;
    const size_t length = size_t(head[1] & 1) << 16 | size_t(head[2]) << 8 | head[3];
    if (length > 256) return fail(kErrorConnect);
    Bytes rest(length);
    if (!readExact(rest.data(), length)) return fail(kErrorConnect);
    return head[0] == 0x82 || fail(kErrorConnect);
}

std::optional<uint16_t> QNSmb::sendRequest(uint8_t command, uint16_t tree, const Bytes& words, const Bytes& bytes) {
    if (cancelled_ || fd_ < 0) {
        fail(kErrorCancelled);
        return std::nullopt;
    }
    Bytes m(4 + 32, 0);
    m[4] = 0xFF;
    m[5] = 'S';
    m[6] = 'M';
    m[7] = 'B';
    m[8] = command;
    m[4 + 9] = 0x18;
    put16(m, 4 + 10, useExtendedSecurity_ ? kFlags2 : uint16_t(kFlags2 & ~0x0800));
    put16(m, 4 + 24, tree);
    put16(m, 4 + 26, 0xFEFF);
    put16(m, 4 + 28, uid_);
    const uint16_t mid = mid_++;
    if (mid_ == 0xFFFF) mid_ = 1;
    put16(m, 4 + 30, mid);
    m.push_back(uint8_t(words.size() / 2));
    m.insert(m.end(), words.begin(), words.end());
    put16(m, m.size(), uint16_t(bytes.size()));
    m.insert(m.end(), bytes.begin(), bytes.end());
    const uint32_t length = uint32_t(m.size() - 4);
    m[1] = uint8_t(length >> 16);
    m[2] = uint8_t(length >> 8);
    m[3] = uint8_t(length);
    if (!writeAll(m)) return std::nullopt;
    return mid;
}

std::optional<QNSmb::Reply> QNSmb::receiveMessage(uint8_t command) {
    for (;;) {
        uint8_t head[4];
        if (!readExact(head, 4)) return std::nullopt;
        const size_t n = size_t(head[1]) << 16 | size_t(head[2]) << 8 | head[3];
        if (head[0] == 0x85) continue;  // NetBIOS keep-alive
        if (head[0] != 0 || n < 35 || n > messageLimit()) {
            failTransport();
            return std::nullopt;
        }
        Reply r;
        r.message.resize(n);
        if (!readExact(r.message.data(), n)) return std::nullopt;
        const Bytes& b = r.message;
        // An answer to this command, and an answer at all (not a request).
        if (b[0] != 0xFF || b[1] != 'S' || b[2] != 'M' || b[3] != 'B' || b[4] != command || !(b[9] & 0x80)) {
            failTransport();
            return std::nullopt;
        }
        r.mid = get16(&b[30]);
        r.status = get32(&b[5]);
        r.wordCount = b[32];
        r.words = 33;
        if (!has(b, 33, r.wordCount * 2 + 2)) {
            failTransport();
            return std::nullopt;
        }
        r.byteCount = get16(&b[33 + r.wordCount * 2]);
        r.bytes = 33 + r.wordCount * 2 + 2;
        if (!has(b, r.bytes, r.byteCount)) {
            // Large reads state their length in the parameter words instead.
            if (command != kReadAndX) {
                failTransport();
                return std::nullopt;
            }
            r.byteCount = b.size() - r.bytes;
        }
        return r;
    }
}

std::optional<QNSmb::Reply> QNSmb::receiveReply(uint8_t command, uint16_t mid) {
    auto r = receiveMessage(command);
    // Every request is answered before the next is sent (reads aside, which
    // match their own): another id answers nothing we asked.
    if (r && r->mid != mid) {
        failTransport();
        return std::nullopt;
    }
    return r;
}

std::optional<QNSmb::Reply> QNSmb::transact(uint8_t command, uint16_t tree, const Bytes& words, const Bytes& bytes) {
    auto mid = sendRequest(command, tree, words, bytes);
    if (!mid) return std::nullopt;
    return receiveReply(command, *mid);
}

bool QNSmb::startSession(const std::string& host, const std::string& netBiosName, std::string* name, int* port) {
    lastError_ = 0;
    lastNtStatus_ = 0;
    *name = host;
    *port = 445;
    if (const size_t colon = host.rfind(':'); colon != std::string::npos && host.find(':') == colon) {
        *name = host.substr(0, colon);
        *port = std::atoi(host.c_str() + colon + 1);
        if (*port <= 0 || *port > 65535) return fail(kErrorConnect);
    }
    host_ = *name;
    if (!connectSocket(*name, *port)) return false;
    return *port != netbiosPort_ || netbiosSession(netBiosName.empty() ? *name : netBiosName);
}

bool QNSmb::connect(const std::string& host, const std::string& netBiosName, const std::string& domainAndUser,
                    const std::string& password) {
    std::string name;
    int port = 0;
    if (!startSession(host, netBiosName, &name, &port)) return false;
    if (!negotiate()) return false;
    std::string domain, user = domainAndUser;
    if (const size_t slash = user.find('\\'); slash != std::string::npos) {
        domain = user.substr(0, slash);
        user.erase(0, slash + 1);
    }
    if (!(extendedSecurity_ ? sessionSetup(domain, user, password) : rawSessionSetup(domain, user, password))) {
        return false;
    }
    connected_ = true;
    return true;
}

QNSmb::Dialects QNSmb::probeDialects(const std::string& host, const std::string& netBiosName) {
    std::string name;
    int port = 0;
    const bool started = startSession(host, netBiosName, &name, &port);
    Dialects answer = Dialects::Unclear;
    if (!started && lastError_ == kErrorConnect && fd_ < 0) answer = Dialects::Unreachable;
    Bytes bytes;
    for (const char* d : {"NT LM 0.12", "SMB 2.002", "SMB 2.???"}) {
        bytes.push_back(0x02);
        bytes.insert(bytes.end(), d, d + std::char_traits<char>::length(d));
        bytes.push_back(0);
    }
    uint8_t head[4];
    if (started && sendRequest(kNegotiate, 0, {}, bytes) && readExact(head, 4) && head[0] == 0) {
        const size_t n = size_t(head[1]) << 16 | size_t(head[2]) << 8 | head[3];
        Bytes m(std::min<size_t>(n, 65536));
        if (n >= 35 && n <= 65536 && readExact(m.data(), n)) {
            if (m[0] == 0xFE && m[1] == 'S' && m[2] == 'M' && m[3] == 'B') {
                answer = Dialects::Newer;
            } else if (m[0] == 0xFF && m[1] == 'S' && m[2] == 'M' && m[3] == 'B' && m[4] == kNegotiate &&
                       get32(&m[5]) == 0 && m[32] >= 1 && get16(&m[33]) == 0) {
                answer = Dialects::Smb1Only;
            }
        }
    }
    std::lock_guard lock(fdMutex_);
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (cancelled_) lastError_ = kErrorCancelled;
    return cancelled_ ? Dialects::Unclear : answer;
}

bool QNSmb::negotiate() {
    const std::string dialect = "NT LM 0.12";
    Bytes bytes = {0x02};
    bytes.insert(bytes.end(), dialect.begin(), dialect.end());
    bytes.push_back(0);
    auto r = transact(kNegotiate, 0, {}, bytes);
    if (!r) return false;
    if (r->status != 0) return fail(kErrorNtStatus, r->status);
    const Bytes& b = r->message;
    if (r->wordCount != 17 || get16(&b[r->words]) != 0) return fail(kErrorProtocol);
    const size_t w = r->words;
    maxBuffer_ = get32(&b[w + 7]);
    sessionKey_ = get32(&b[w + 15]);
    capabilities_ = get32(&b[w + 19]);
    if (maxBuffer_ < 1024) return fail(kErrorProtocol);
    extendedSecurity_ = capabilities_ & kCapExtendedSecurity;
    if (!extendedSecurity_) {
        // The challenge and the server's domain travel in the answer itself.
        if (b[w + 33] != 8 || r->byteCount < 8) return fail(kErrorProtocol);
        std::copy(b.begin() + long(r->bytes), b.begin() + long(r->bytes + 8), challenge_.begin());
        const uint8_t* d = &b[r->bytes + 8];
        size_t n = 0;
        while (8 + n + 1 < r->byteCount && (d[n] || d[n + 1])) n += 2;
        serverDomain_ = fromUnicode(d, n);
    }
    negotiated_ = true;
    return true;
}

bool QNSmb::sessionSetup(const std::string& domain, const std::string& user, const std::string& password) {
    auto step = [&](const Bytes& blob, Bytes& answer) -> std::optional<uint32_t> {
        Bytes words(24, 0);
        words[0] = 0xFF;
        put16(words, 4, 61440);
        put16(words, 6, 2);
        put16(words, 8, 1);
        put32(words, 10, sessionKey_);
        put16(words, 14, uint16_t(blob.size()));
        put32(words, 20, kClientCaps);
        Bytes bytes = blob;
        alignTo2(bytes, 32 + 1 + words.size() + 2);
        appendUnicode(bytes, "Linux");
        appendUnicode(bytes, nativeLanManager_);
        auto r = transact(kSessionSetup, 0, words, bytes);
        if (!r) return std::nullopt;
        if (r->status != 0 && r->status != kMoreProcessing) {
            fail(kErrorNtStatus, r->status);
            return std::nullopt;
        }
        const Bytes& b = r->message;
        if (r->wordCount < 4) {
            fail(kErrorProtocol);
            return std::nullopt;
        }
        const size_t blobLength = get16(&b[r->words + 6]);
        if (blobLength > r->byteCount) {
            fail(kErrorProtocol);
            return std::nullopt;
        }
        answer.assign(b.begin() + long(r->bytes), b.begin() + long(r->bytes + blobLength));
        uid_ = get16(&b[28]);
        return r->status;
    };
    Bytes answer;
    auto first = step(NtlmV2::negotiateMessage(NtlmV2::kNegotiateFlags, sys::Unicode::uppercase(domain), workStation_),
                      answer);
    if (!first) return false;
    if (*first != kMoreProcessing) return fail(kErrorProtocol);
    // The challenge, raw or inside the server's SPNEGO answer.
    static const uint8_t sig[8] = {'N', 'T', 'L', 'M', 'S', 'S', 'P', 0};
    auto at = std::search(answer.begin(), answer.end(), sig, sig + 8);
    auto challenge = NtlmV2::parseChallenge(answer.data() + (at - answer.begin()), size_t(answer.end() - at));
    if (!challenge) return fail(kErrorProtocol);
    std::u16string domain16 = sys::Unicode::toUtf16(sys::Unicode::uppercase(domain));
    if (domain16.empty()) {
        if (auto pairs = NtlmV2::parseAvPairs(challenge->targetInfo)) {
            for (const auto& p : *pairs) {
                if (p.id != NtlmV2::kAvNbDomainName) continue;
                for (size_t i = 0; i + 1 < p.value.size(); i += 2) domain16 += char16_t(p.value[i] | p.value[i + 1] << 8);
            }
        }
    }
    const uint64_t timestamp = uint64_t(::time(nullptr)) * 10'000'000ull + 116'444'736'000'000'000ull;
    auto auth = NtlmV2::authenticateMessage(*challenge, domain16, sys::Unicode::toUtf16(sys::Unicode::uppercase(user)),
                                            sys::Unicode::toUtf16(workStation_), sys::Unicode::toUtf16(password),
                                            timestamp);
    if (!auth) return fail(kErrorProtocol);
    auto last = step(auth->message, answer);
    if (!last) return false;
    return *last == 0 || fail(kErrorNtStatus, *last);
}

bool QNSmb::rawSessionSetup(const std::string& domain, const std::string& user, const std::string& password) {
    const std::string dom = sys::Unicode::uppercase(domain.empty() ? serverDomain_ : domain);
    const std::string name = sys::Unicode::uppercase(user);
    Bytes lm(24, 0), nt;
    if (!user.empty()) {
        const auto key = NtlmV2::ntowfv2(sys::Unicode::toUtf16(password), sys::Unicode::toUtf16(name + dom));
        const auto client = NtlmV2::randomClientChallenge();
        if (!client) return fail(kErrorProtocol);
        NtlmV2::Nonce server;
        std::copy(challenge_.begin(), challenge_.end(), server.begin());
        const uint64_t timestamp = uint64_t(::time(nullptr)) * 10'000'000ull + 116'444'736'000'000'000ull;
        nt = NtlmV2::ntlmV2Response(key, server, timestamp, *client,
                                    NtlmV2::buildAvPairs({{NtlmV2::kAvNbDomainName,
                                                           NtlmV2::utf16le(sys::Unicode::toUtf16(dom))}}));
        // LMv2: HMAC-MD5 of both challenges under the same key, then the client's.
        uint8_t both[16];
        std::copy(challenge_.begin(), challenge_.end(), both);
        std::copy(client->begin(), client->end(), both + 8);
        hmacMd5(both, sizeof both, key.data(), key.size(), lm.data());
        std::copy(client->begin(), client->end(), lm.begin() + 16);
    } else {
        lm.clear();
    }
    Bytes words(26, 0);
    words[0] = 0xFF;
    put16(words, 4, 61440);
    put16(words, 6, 2);
    put16(words, 8, 1);
    put32(words, 10, sessionKey_);
    put16(words, 14, uint16_t(lm.size()));
    put16(words, 16, uint16_t(nt.size()));
    put32(words, 22, kClientCaps & ~kCapExtendedSecurity);
    Bytes bytes = lm;
    bytes.insert(bytes.end(), nt.begin(), nt.end());
    alignTo2(bytes, 32 + 1 + words.size() + 2);
    appendUnicode(bytes, user);
    appendUnicode(bytes, dom);
    appendUnicode(bytes, "Linux");
    appendUnicode(bytes, nativeLanManager_);
    auto r = transact(kSessionSetup, 0, words, bytes);
    if (!r) return false;
    if (r->status != 0) return fail(kErrorNtStatus, r->status);
    uid_ = get16(&r->message[28]);
    return true;
}

uint16_t QNSmb::connectTree(const std::string& share) {
    Bytes words(8, 0);
    words[0] = 0xFF;
    put16(words, 6, 1);
    Bytes bytes = {0};
    alignTo2(bytes, 32 + 1 + words.size() + 2);
    appendUnicode(bytes, "\\\\" + host_ + "\\" + share);
    const std::string service = "?????";
    bytes.insert(bytes.end(), service.begin(), service.end());
    bytes.push_back(0);
    auto r = transact(kTreeConnect, 0, words, bytes);
    if (!r) return 0;
    if (r->status != 0) {
        fail(kErrorNtStatus, r->status);
        return 0;
    }
    const uint16_t tid = get16(&r->message[24]);
    if (tid == 0) fail(kErrorProtocol);
    return tid;
}

void QNSmb::disconnectTree(uint16_t tree) {
    if (connected_ && !cancelled_) transact(kTreeDisconnect, tree, {}, {});
}

void QNSmb::disconnect() {
    if (connected_ && !cancelled_) {
        Bytes words(4, 0);
        words[0] = 0xFF;
        transact(kLogoff, 0, words, {});
    }
    connected_ = false;
    std::lock_guard lock(fdMutex_);
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool QNSmb::transaction(uint8_t command, uint16_t tree, const std::string& name, const std::vector<uint16_t>& setup,
                        const Bytes& params, const Bytes& data, Bytes& outParams, Bytes& outData) {
    const uint32_t maxData = std::min<uint32_t>(maxBuffer_ - 512, 0xFF00);
    Bytes words(28 + setup.size() * 2, 0);
    put16(words, 0, uint16_t(params.size()));
    put16(words, 2, uint16_t(data.size()));
    put16(words, 4, 64);
    put16(words, 6, uint16_t(maxData));
    put16(words, 18, uint16_t(params.size()));
    put16(words, 22, uint16_t(data.size()));
    words[26] = uint8_t(setup.size());
    for (size_t i = 0; i < setup.size(); ++i) put16(words, 28 + i * 2, setup[i]);
    const size_t bytesOffset = 32 + 1 + words.size() + 2;
    Bytes bytes;
    alignTo2(bytes, bytesOffset);
    appendUnicode(bytes, name);
    while ((bytesOffset + bytes.size()) % 4) bytes.push_back(0);
    put16(words, 20, uint16_t(bytesOffset + bytes.size()));
    bytes.insert(bytes.end(), params.begin(), params.end());
    while ((bytesOffset + bytes.size()) % 4) bytes.push_back(0);
    put16(words, 24, uint16_t(bytesOffset + bytes.size()));
    bytes.insert(bytes.end(), data.begin(), data.end());

    outParams.clear();
    outData.clear();
    auto mid = sendRequest(command, tree, words, bytes);
    if (!mid) return false;
    size_t totalParams = 0, totalData = 0, gotParams = 0, gotData = 0;
    // The answer may come in several parts, each placed by its displacement.
    for (bool first = true; first || gotParams < totalParams || gotData < totalData; first = false) {
        auto r = receiveReply(command, *mid);
        if (!r) return false;
        // A pipe with more to read than fitted says so and has the rest.
        if (r->status != 0 && r->status != kBufferOverflow) return fail(kErrorNtStatus, r->status);
        const Bytes& b = r->message;
        if (r->wordCount < 10) return fail(kErrorProtocol);
        const size_t w = r->words;
        const size_t tp = get16(&b[w]), td = get16(&b[w + 2]);
        const size_t pc = get16(&b[w + 6]), po = get16(&b[w + 8]), pd = get16(&b[w + 10]);
        const size_t dc = get16(&b[w + 12]), dof = get16(&b[w + 14]), dd = get16(&b[w + 16]);
        if (first) {
            totalParams = tp;
            totalData = td;
            if (tp + td > kMaxTransaction) return fail(kErrorProtocol);
            outParams.assign(tp, 0);
            outData.assign(td, 0);
        }
        if (!has(b, po, pc) || !has(b, dof, dc) || pd + pc > totalParams || dd + dc > totalData) {
            return fail(kErrorProtocol);
        }
        std::copy(b.begin() + long(po), b.begin() + long(po + pc), outParams.begin() + long(pd));
        std::copy(b.begin() + long(dof), b.begin() + long(dof + dc), outData.begin() + long(dd));
        gotParams += pc;
        gotData += dc;
        if (pc == 0 && dc == 0 && !first) return fail(kErrorProtocol);
    }
    return true;
}

std::optional<std::vector<QNSmb::ShareInfo>> QNSmb::getTreeList() {
    const uint16_t ipc = connectTree("IPC$");
    if (!ipc) return std::nullopt;
    // Names in UTF-16 through srvsvc; the single-byte RAP list only from a
    // server that refuses srvsvc (it cannot carry names outside its code page).
    bool refused = false;
    auto shares = sharesThroughSrvsvc(ipc, &refused);
    if (!shares && refused && connected_ && !cancelled_) shares = sharesThroughRap(ipc);
    disconnectTree(ipc);
    return shares;
}

std::optional<std::vector<QNSmb::ShareInfo>> QNSmb::sharesThroughSrvsvc(uint16_t ipc, bool* refused) {
    const uint16_t pipe = createFile(ipc, "\\srvsvc", 0x0002019F, 0x3, 0, nullptr);
    if (!pipe) {
        *refused = lastError_ == kErrorNtStatus;
        return std::nullopt;
    }
    // One call at a time on the pipe: the bind, then the enumeration. A PDU
    // longer than one answer is read on from the pipe.
    auto call = [&](const Bytes& request, uint8_t expect) -> std::optional<Bytes> {
        Bytes outParams, data;
        if (!transaction(kTransaction, ipc, "\\PIPE\\", {0x0026, pipe}, {}, request, outParams, data)) {
            *refused = lastError_ == kErrorNtStatus;
            return std::nullopt;
        }
        Bytes stub;
        for (int fragments = 0;; ++fragments) {
            bool malformed = false;
            auto pdu = SrvsvcShareEnum::parsePdu(data, &malformed);
            if (!pdu) {
                if (malformed || fragments > 10000 || data.size() > kMaxTransaction) {
                    fail(kErrorProtocol);
                    return std::nullopt;
                }
                auto more = readPipe(pipe, ipc);
                if (!more) return std::nullopt;
                data.insert(data.end(), more->begin(), more->end());
                continue;
            }
            data.erase(data.begin(), data.begin() + long(pdu->length));
            if (pdu->type != expect) {
                // A refused bind or a fault: the server will not list this way.
                *refused = pdu->type == SrvsvcShareEnum::kBindNak || pdu->type == SrvsvcShareEnum::kFault;
                fail(kErrorProtocol);
                return std::nullopt;
            }
            if (expect == SrvsvcShareEnum::kBindAck) return pdu->body;
            auto part = SrvsvcShareEnum::responseStub(*pdu);
            if (!part || stub.size() + part->size() > kMaxTransaction) {
                fail(kErrorProtocol);
                return std::nullopt;
            }
            stub.insert(stub.end(), part->begin(), part->end());
            if (pdu->last) return stub;
        }
    };
    std::optional<std::vector<ShareInfo>> out;
    if (auto ack = call(SrvsvcShareEnum::bindRequest(1), SrvsvcShareEnum::kBindAck)) {
        SrvsvcShareEnum::Pdu p;
        p.type = SrvsvcShareEnum::kBindAck;
        p.body = *ack;
        if (!SrvsvcShareEnum::bindAccepted(p)) {
            *refused = true;
            fail(kErrorProtocol);
        } else if (auto stub = call(SrvsvcShareEnum::shareEnumRequest(2, host_), SrvsvcShareEnum::kResponse)) {
            uint32_t werror = 0;
            if (auto shares = SrvsvcShareEnum::parseShareEnum(*stub, &werror)) {
                out.emplace();
                for (auto& sh : *shares) out->push_back({std::move(sh.name), sh.type.value_or(0), std::move(sh.comment)});
            } else if (werror != 0) {
                *refused = true;
                fail(kErrorNtStatus, werror == 5 ? kStatusAccessDenied : werror);
            } else {
                fail(kErrorProtocol);
            }
        }
    }
    if (connected_) closeFile(pipe, ipc);
    return out;
}

std::optional<std::vector<uint8_t>> QNSmb::readPipe(uint16_t pipe, uint16_t tree) {
    const uint32_t n = std::min<uint32_t>(maxBuffer_ - 128, 0xFF00);
    Bytes words(24, 0);
    words[0] = 0xFF;
    put16(words, 4, pipe);
    put16(words, 10, uint16_t(n));
    put16(words, 12, uint16_t(n));
    auto r = transact(kReadAndX, tree, words, {});
    if (!r) return std::nullopt;
    if (r->status != 0 && r->status != kBufferOverflow) {
        fail(kErrorNtStatus, r->status);
        return std::nullopt;
    }
    const Bytes& b = r->message;
    if (r->wordCount < 12) {
        fail(kErrorProtocol);
        return std::nullopt;
    }
    const size_t length = get16(&b[r->words + 10]), offset = get16(&b[r->words + 12]);
    if (length == 0 || length > n || !has(b, offset, length)) {
        fail(kErrorProtocol);
        return std::nullopt;
    }
    return Bytes(b.begin() + long(offset), b.begin() + long(offset + length));
}

std::optional<std::vector<QNSmb::ShareInfo>> QNSmb::sharesThroughRap(uint16_t ipc) {
    Bytes params = {0, 0};
    for (const char* s : {"WrLeh", "B13BWz"}) {
        params.insert(params.end(), s, s + std::char_traits<char>::length(s));
        params.push_back(0);
    }
    put16(params, params.size(), 1);
    put16(params, params.size(), 0xFF00);
    Bytes outParams, outData;
    if (!transaction(kTransaction, ipc, "\\PIPE\\LANMAN", {}, params, {}, outParams, outData)) return std::nullopt;
    if (outParams.size() < 8) {
        fail(kErrorProtocol);
        return std::nullopt;
    }
    const uint16_t status = get16(&outParams[0]), converter = get16(&outParams[2]), count = get16(&outParams[4]);
    if (status != 0 && status != 234) {
        fail(kErrorNtStatus, status == 5 ? kStatusAccessDenied : status);
        return std::nullopt;
    }
    if (size_t(count) * 20 > outData.size()) {
        fail(kErrorProtocol);
        return std::nullopt;
    }
    std::vector<ShareInfo> out;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* e = &outData[i * 20];
        ShareInfo s;
        s.name = oemText(e, size_t(std::find(e, e + 13, 0) - e));
        s.type = get16(e + 14);
        const size_t remark = size_t(uint16_t(get32(e + 16) - converter));
        if (get32(e + 16) != 0 && remark < outData.size()) {
            const uint8_t* r = &outData[remark];
            const uint8_t* end = outData.data() + outData.size();
            s.comment = oemText(r, size_t(std::find(r, end, 0) - r));
        }
        out.push_back(std::move(s));
    }
    return out;
}

std::optional<std::vector<QNSmb::FileInfo>> QNSmb::getFileList(uint16_t tree, const std::string& pattern) {
    std::vector<FileInfo> out;
    // Entries of the directory-information level, each checked against the data.
    auto parse = [&](const Bytes& data, std::string& lastName) -> bool {
        for (size_t at = 0; at < data.size();) {
            if (!has(data, at, 64)) return fail(kErrorProtocol);
            const uint32_t next = get32(&data[at]);
            const uint32_t nameLength = get32(&data[at + 60]);
            if (!has(data, at + 64, nameLength) || (next && next < 64 + nameLength)) return fail(kErrorProtocol);
            FileInfo f;
            f.lastWriteTime = unixSeconds(get64(&data[at + 24]));
            f.size = get64(&data[at + 40]);
            f.attributes = get32(&data[at + 56]);
            f.name = fromUnicode(&data[at + 64], nameLength);
            while (!f.name.empty() && f.name.back() == '\0') f.name.pop_back();
            lastName = f.name;
            out.push_back(std::move(f));
            if (out.size() > kMaxEntries) return fail(kErrorProtocol);
            if (!next) break;
            at += next;
        }
        return true;
    };
    Bytes params(12, 0);
    put16(params, 0, 0x16);    // folders, hidden and system files too
    put16(params, 2, 1024);    // entries per answer
    put16(params, 4, 0x0002);  // close at the end of the search
    put16(params, 6, 0x0101);  // directory information
    appendUnicode(params, pattern);
    Bytes outParams, outData;
    if (!transaction(kTransaction2, tree, "", {0x0001}, params, {}, outParams, outData)) return std::nullopt;
    if (outParams.size() < 10) {
        fail(kErrorProtocol);
        return std::nullopt;
    }
    const uint16_t sid = get16(&outParams[0]);
    bool end = get16(&outParams[4]) != 0;
    std::string lastName;
    if (!parse(outData, lastName)) return std::nullopt;
    while (!end) {
        Bytes more(12, 0);
        put16(more, 0, sid);
        put16(more, 2, 1024);
        put16(more, 4, 0x0101);
        put16(more, 10, 0x000A);  // go on after the last name, close at the end
        appendUnicode(more, lastName);
        if (!transaction(kTransaction2, tree, "", {0x0002}, more, {}, outParams, outData)) {
            if (lastNtStatus_ == kNoMoreFiles) break;
            return std::nullopt;
        }
        if (outParams.size() < 8) {
            fail(kErrorProtocol);
            return std::nullopt;
        }
        end = get16(&outParams[2]) != 0;
        const size_t before = out.size();
        if (!parse(outData, lastName)) return std::nullopt;
        if (out.size() == before && !end) {
            fail(kErrorProtocol);
            return std::nullopt;
        }
    }
    return out;
}

uint16_t QNSmb::openFile(uint16_t tree, const std::string& path, uint64_t* openedSize) {
    std::string name = path;
    std::replace(name.begin(), name.end(), '/', '\\');
    // Read data, attributes and extended attributes; others may read,
    // write and delete; not a folder.
    return createFile(tree, name, 0x00120089, 0x7, 0x40, openedSize);
}

uint16_t QNSmb::createFile(uint16_t tree, const std::string& name, uint32_t access, uint32_t shareAccess,
                           uint32_t options, uint64_t* openedSize) {
    Bytes words(48, 0);
    words[0] = 0xFF;
    Bytes nameBytes;
    appendUnicode(nameBytes, name, false);
    put16(words, 5, uint16_t(nameBytes.size()));
    put32(words, 15, access);
    put32(words, 31, shareAccess);
    put32(words, 35, 1);  // open an existing file
    put32(words, 39, options);
    put32(words, 43, 2);  // impersonation
    Bytes bytes;
    alignTo2(bytes, 32 + 1 + words.size() + 2);
    bytes.insert(bytes.end(), nameBytes.begin(), nameBytes.end());
    bytes.insert(bytes.end(), {0, 0});
    auto r = transact(kNtCreate, tree, words, bytes);
    if (!r) return 0;
    if (r->status != 0) {
        fail(kErrorNtStatus, r->status);
        return 0;
    }
    const Bytes& b = r->message;
    if (r->wordCount < 34) {
        fail(kErrorProtocol);
        return 0;
    }
    const size_t w = r->words;
    const uint16_t fid = get16(&b[w + 5]);
    if (openedSize) *openedSize = get64(&b[w + 55]);
    if (fid == 0) fail(kErrorProtocol);
    return fid;
}

std::optional<std::vector<uint8_t>> QNSmb::readFile(uint16_t file, uint16_t tree, uint64_t offset, uint32_t length) {
    const uint32_t most = (capabilities_ & kCapLargeReadX) ? kMaxRead : std::min<uint32_t>(maxBuffer_ - 128, 0xFF00);
    // Several reads travel at once.
    struct Pending {
        uint16_t mid;
        uint32_t length;
    };
    std::vector<Pending> sent;
    for (uint32_t at = 0; at < length && sent.size() < kReadsInFlight;) {
        const uint32_t n = std::min(length - at, most);
        const uint64_t where = offset + at;
        Bytes words(24, 0);
        words[0] = 0xFF;
        put16(words, 4, file);
        put32(words, 6, uint32_t(where));
        put16(words, 10, uint16_t(n));
        put16(words, 12, uint16_t(std::min<uint32_t>(n, 0xFFFF)));
        put32(words, 14, n >> 16);
        put32(words, 20, uint32_t(where >> 32));
        auto mid = sendRequest(kReadAndX, tree, words, {});
        if (!mid) return std::nullopt;
        sent.push_back({*mid, n});
        at += n;
    }
    // The answers may come in any order; each goes to its own place.
    std::vector<std::optional<Reply>> replies(sent.size());
    while (std::any_of(replies.begin(), replies.end(), [](const auto& r) { return !r; })) {
        auto r = receiveMessage(kReadAndX);
        if (!r) return std::nullopt;
        const auto it = std::find_if(sent.begin(), sent.end(), [&](const Pending& p) { return p.mid == r->mid; });
        // An id never sent, or one answered already, answers nothing we asked.
        if (it == sent.end() || replies[size_t(it - sent.begin())]) {
            failTransport();
            return std::nullopt;
        }
        replies[size_t(it - sent.begin())] = std::move(r);
    }
    std::vector<uint8_t> out;
    bool ended = false, failed = false;
    for (size_t i = 0; i < sent.size(); ++i) {
        const Pending& p = sent[i];
        const Reply* r = &*replies[i];
        if (ended || failed) continue;
        if (r->status == 0xC0000011) {  // the end of the file
            ended = true;
            continue;
        }
        if (r->status != 0) {
            fail(kErrorNtStatus, r->status);
            failed = true;
            continue;
        }
        const Bytes& b = r->message;
        if (r->wordCount < 12) {
            fail(kErrorProtocol);
            failed = true;
            continue;
        }
        const size_t w = r->words;
        const size_t dataLength = size_t(get16(&b[w + 10])) | size_t(get16(&b[w + 14])) << 16;
        const size_t dataOffset = get16(&b[w + 12]);
        if (dataLength > p.length || !has(b, dataOffset, dataLength)) {
            fail(kErrorProtocol);
            failed = true;
            continue;
        }
        out.insert(out.end(), b.begin() + long(dataOffset), b.begin() + long(dataOffset + dataLength));
        if (dataLength < p.length) ended = true;
    }
    if (failed) return std::nullopt;
    return out;
}

void QNSmb::closeFile(uint16_t file, uint16_t tree) {
    if (!connected_ || cancelled_) return;
    Bytes words(6, 0);
    put16(words, 0, file);
    put32(words, 2, 0xFFFFFFFF);
    transact(kClose, tree, words, {});
}
