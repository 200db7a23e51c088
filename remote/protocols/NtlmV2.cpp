#include "remote/protocols/NtlmV2.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <sys/random.h>

#include "remote/protocols/HmacMd5.h"
#include "remote/protocols/Md4.h"

namespace {

const uint8_t kSignature[8] = {'N', 'T', 'L', 'M', 'S', 'S', 'P', 0};

void put16(NtlmV2::Bytes& b, size_t at, uint16_t v) {
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}

void put32(NtlmV2::Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}

void putBuffer(NtlmV2::Bytes& b, size_t at, size_t length, size_t offset) {
    put16(b, at, uint16_t(length));
    put16(b, at + 2, uint16_t(length));
    put32(b, at + 4, uint32_t(offset));
}

uint16_t get16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

uint32_t get32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void append(NtlmV2::Bytes& b, const NtlmV2::Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }

}  // namespace

NtlmV2::Bytes NtlmV2::utf16le(const std::u16string& text) {
    Bytes out(text.size() * 2);
    for (size_t i = 0; i < text.size(); ++i) {
        out[i * 2] = uint8_t(text[i]);
        out[i * 2 + 1] = uint8_t(text[i] >> 8);
    }
    return out;
}

uint64_t NtlmV2::timestampFromUnix(int64_t seconds) {
    return uint64_t(seconds) * 10000000ULL + 116444736000000000ULL;
}

NtlmV2::Bytes NtlmV2::negotiateMessage(uint32_t flags, const std::string& domain, const std::string& workstation) {
    // Security buffers hold 16-bit lengths; longer names cannot be sent.
    std::string d = domain.substr(0, 0xFFFF), w = workstation.substr(0, 0xFFFF);
    Bytes m(32);
    std::memcpy(m.data(), kSignature, 8);
    put32(m, 8, 1);
    put32(m, 12, flags);
    putBuffer(m, 16, d.size(), 32);
    putBuffer(m, 24, w.size(), 32 + d.size());
    m.insert(m.end(), d.begin(), d.end());
    m.insert(m.end(), w.begin(), w.end());
    return m;
}

std::optional<NtlmV2::Challenge> NtlmV2::parseChallenge(const uint8_t* data, size_t length) {
    // Header, server challenge, reserved and the target information buffer.
    if (!data || length < 64) return std::nullopt;
    if (std::memcmp(data, kSignature, 8) != 0 || get32(data + 8) != 2) return std::nullopt;
    Challenge c;
    // A field may end exactly where the message ends (the target
    // information usually does); it may not reach past it.
    uint64_t nameLength = get16(data + 12), nameOffset = get32(data + 16);
    if (nameOffset + nameLength > length) return std::nullopt;
    uint64_t infoLength = get16(data + 40), infoOffset = get32(data + 44);
    if (infoOffset + infoLength > length) return std::nullopt;
    c.flags = get32(data + 20);
    std::memcpy(c.serverChallenge.data(), data + 24, 8);
    c.targetName.assign(data + nameOffset, data + nameOffset + nameLength);
    c.targetInfo.assign(data + infoOffset, data + infoOffset + infoLength);
    return c;
}

NtlmV2::Key NtlmV2::ntHash(const std::u16string& password) {
    Bytes pw = utf16le(password);
    Key k;
    Md4::digest(pw.data(), pw.size(), k.data());
    return k;
}

NtlmV2::Key NtlmV2::ntowfv2(const std::u16string& password, const std::u16string& identity) {
    Key hash = ntHash(password);
    Bytes id = utf16le(identity);
    Key k;
    hmacMd5(id.data(), id.size(), hash.data(), hash.size(), k.data());
    return k;
}

NtlmV2::Bytes NtlmV2::clientBlob(uint64_t timestamp, const Nonce& clientChallenge, const Bytes& avPairs) {
    Bytes blob(28, 0);
    blob[0] = 1;
    blob[1] = 1;
    for (int i = 0; i < 8; ++i) blob[8 + i] = uint8_t(timestamp >> (8 * i));
    std::memcpy(blob.data() + 16, clientChallenge.data(), 8);
    append(blob, avPairs);
    blob.insert(blob.end(), 4, 0);
    return blob;
}

NtlmV2::Key NtlmV2::ntProofStr(const Key& responseKey, const Nonce& serverChallenge, const Bytes& blob) {
    Bytes msg(serverChallenge.begin(), serverChallenge.end());
    append(msg, blob);
    Key k;
    hmacMd5(msg.data(), msg.size(), responseKey.data(), responseKey.size(), k.data());
    return k;
}

NtlmV2::Key NtlmV2::sessionBaseKey(const Key& responseKey, const Key& ntProof) {
    Key k;
    hmacMd5(ntProof.data(), ntProof.size(), responseKey.data(), responseKey.size(), k.data());
    return k;
}

NtlmV2::Bytes NtlmV2::ntlmV2Response(const Key& responseKey, const Nonce& serverChallenge, uint64_t timestamp,
                                     const Nonce& clientChallenge, const Bytes& avPairs) {
    Bytes blob = clientBlob(timestamp, clientChallenge, avPairs);
    Key proof = ntProofStr(responseKey, serverChallenge, blob);
    Bytes out(proof.begin(), proof.end());
    append(out, blob);
    return out;
}

namespace {

std::atomic<bool> fixedRandom{false};

bool randomBytes(uint8_t* p, size_t n) {
    if (fixedRandom) {
        for (size_t i = 0; i < n; ++i) p[i] = uint8_t(0xA0 + i);
        return true;
    }
    size_t got = 0;
    while (got < n) {
        ssize_t r = ::getrandom(p + got, n - got, 0);
        if (r < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        got += size_t(r);
    }
    return true;
}

}  // namespace

void NtlmV2::setFixedRandomForTesting(bool fixed) { fixedRandom = fixed; }

std::optional<NtlmV2::Nonce> NtlmV2::randomClientChallenge() {
    Nonce n;
    if (!randomBytes(n.data(), n.size())) return std::nullopt;
    return n;
}

NtlmV2::Bytes NtlmV2::rc4(const Key& key, const Bytes& data) {
    uint8_t s[256];
    for (int i = 0; i < 256; ++i) s[i] = uint8_t(i);
    for (size_t i = 0, j = 0; i < 256; ++i) {
        j = (j + s[i] + key[i % key.size()]) & 0xFF;
        std::swap(s[i], s[j]);
    }
    Bytes out(data.size());
    for (size_t n = 0, i = 0, j = 0; n < data.size(); ++n) {
        i = (i + 1) & 0xFF;
        j = (j + s[i]) & 0xFF;
        std::swap(s[i], s[j]);
        out[n] = data[n] ^ s[(s[i] + s[j]) & 0xFF];
    }
    return out;
}

std::optional<std::vector<NtlmV2::AvPair>> NtlmV2::parseAvPairs(const Bytes& list) {
    std::vector<AvPair> out;
    size_t at = 0;
    while (at < list.size()) {
        if (list.size() - at < 4) return std::nullopt;
        uint16_t id = get16(list.data() + at), len = get16(list.data() + at + 2);
        at += 4;
        if (id == kAvEol) break;
        if (list.size() - at < len) return std::nullopt;
        out.push_back({id, Bytes(list.begin() + long(at), list.begin() + long(at + len))});
        at += len;
    }
    return out;
}

NtlmV2::Bytes NtlmV2::buildAvPairs(const std::vector<AvPair>& pairs) {
    Bytes out;
    for (const auto& p : pairs) {
        size_t len = std::min<size_t>(p.value.size(), 0xFFFF);
        Bytes head(4);
        put16(head, 0, p.id);
        put16(head, 2, uint16_t(len));
        append(out, head);
        out.insert(out.end(), p.value.begin(), p.value.begin() + long(len));
    }
    out.insert(out.end(), 4, 0);
    return out;
}

std::optional<NtlmV2::Authenticate> NtlmV2::authenticateMessage(const Challenge& challenge,
                                                                const std::u16string& domain,
                                                                const std::u16string& user,
                                                                const std::u16string& workstation,
                                                                const std::u16string& password, uint64_t timestamp,
                                                                uint32_t flags, const std::u16string& targetName) {
    Authenticate a;
    Bytes encryptedKey;
    if (!user.empty()) {
        auto clientChallenge = randomClientChallenge();
        if (!clientChallenge) return std::nullopt;
        Bytes info = challenge.targetInfo;
        if (!targetName.empty()) {
            // The server's pairs, then ours, then the end marker. A list that
            // does not parse goes back as it came.
            if (auto pairs = parseAvPairs(info)) {
                std::erase_if(*pairs, [](const AvPair& p) { return p.id == kAvTargetName; });
                pairs->push_back({kAvTargetName, utf16le(targetName)});
                info = buildAvPairs(*pairs);
            }
        }
        Key key = ntowfv2(password, user + domain);
        a.ntResponse = ntlmV2Response(key, challenge.serverChallenge, timestamp, *clientChallenge, info);
        Key proof;
        std::memcpy(proof.data(), a.ntResponse.data(), proof.size());
        a.sessionBaseKey = sessionBaseKey(key, proof);
        a.sessionKey = a.sessionBaseKey;
        if ((flags & kFlagKeyExchange) && (challenge.flags & kFlagKeyExchange)) {
            if (!randomBytes(a.sessionKey.data(), a.sessionKey.size())) return std::nullopt;
            encryptedKey = rc4(a.sessionBaseKey, Bytes(a.sessionKey.begin(), a.sessionKey.end()));
        }
    }
    // Key exchange is claimed only when it took place.
    if (encryptedKey.empty()) flags &= ~kFlagKeyExchange;
    Bytes d = utf16le(domain), u = utf16le(user), w = utf16le(workstation);
    // Every field's length must fit its 16-bit security buffer.
    if (a.ntResponse.size() > 0xFFFF || d.size() > 0xFFFF || u.size() > 0xFFFF || w.size() > 0xFFFF) {
        return std::nullopt;
    }
    Bytes& m = a.message;
    m.assign(88, 0);
    std::memcpy(m.data(), kSignature, 8);
    put32(m, 8, 3);
    size_t nt = a.ntResponse.size();
    putBuffer(m, 12, user.empty() ? 0 : 24, 64);
    putBuffer(m, 20, nt, 88);
    size_t domainAt = 88 + nt, userAt = domainAt + d.size(), wsAt = userAt + u.size();
    putBuffer(m, 28, d.size(), domainAt);
    putBuffer(m, 36, u.size(), userAt);
    putBuffer(m, 44, w.size(), wsAt);
    if (!encryptedKey.empty()) putBuffer(m, 52, encryptedKey.size(), wsAt + w.size());
    put32(m, 60, flags);
    append(m, a.ntResponse);
    append(m, d);
    append(m, u);
    append(m, w);
    append(m, encryptedKey);
    return a;
}
