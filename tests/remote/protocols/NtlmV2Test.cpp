#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "remote/protocols/HmacMd5.h"
#include "remote/protocols/NtlmMessages.h"
#include "remote/protocols/NtlmV2.h"

namespace {

using Bytes = NtlmV2::Bytes;

Bytes fromHex(const std::string& h) {
    Bytes out;
    for (size_t i = 0; i + 1 < h.size(); i += 2) {
        if (h[i] == ' ') {
            --i;
            continue;
        }
        out.push_back(uint8_t(std::stoi(h.substr(i, 2), nullptr, 16)));
    }
    return out;
}

template <class C>
std::string hex(const C& c) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (uint8_t b : c) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

uint16_t get16(const Bytes& b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }
uint32_t get32(const Bytes& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

// The published NTLMv2 example: user "User", domain "Domain", password
// "Password", server challenge 0123456789abcdef, client challenge aa x 8,
// time 0, target information NetBIOS domain "Domain" and computer "Server".
// Its challenge message ends with the target information.
const char* kChallengeMessage =
    "4e544c4d53535000020000000c000c003800000033828ae20123456789abcdef"
    "00000000000000002400240044000000060070170000000f5300650072007600"
    "6500720002000c0044006f006d00610069006e0001000c005300650072007600"
    "6500720000000000";

Bytes challengeWithInfo(size_t infoBytes) {
    // A minimal challenge: 64-byte header and target name "S", then the info.
    Bytes m(64, 0);
    std::memcpy(m.data(), "NTLMSSP", 8);
    m[8] = 2;
    m[12] = 2;  // target name length
    m[14] = 2;
    m[16] = 56;  // at 56
    for (int i = 0; i < 8; ++i) m[24 + i] = uint8_t(0x10 + i);
    m[40] = uint8_t(infoBytes);
    m[42] = uint8_t(infoBytes);
    m[44] = 64;
    m[56] = 'S';
    for (size_t i = 0; i < infoBytes; ++i) m.push_back(uint8_t(i));
    return m;
}

}  // namespace

TEST(NtlmV2Test, PublishedExampleValues) {
    NtlmV2::Key key = NtlmV2::ntowfv2(u"Password", u"USER" u"Domain");
    EXPECT_EQ(hex(key), "0c868a403bfd7a93a3001ef22ef02e3f");

    Bytes message = fromHex(kChallengeMessage);
    auto challenge = NtlmV2::parseChallenge(message.data(), message.size());
    ASSERT_TRUE(challenge) << "target information ending the message must be accepted";
    EXPECT_EQ(hex(challenge->serverChallenge), "0123456789abcdef");
    EXPECT_EQ(challenge->flags, 0xe28a8233u);
    EXPECT_EQ(challenge->targetName, NtlmV2::utf16le(u"Server"));
    auto pairs = NtlmV2::parseAvPairs(challenge->targetInfo);
    ASSERT_TRUE(pairs);
    ASSERT_EQ(pairs->size(), 2u);
    EXPECT_EQ((*pairs)[0].id, NtlmV2::kAvNbDomainName);
    EXPECT_EQ((*pairs)[0].value, NtlmV2::utf16le(u"Domain"));
    EXPECT_EQ((*pairs)[1].id, NtlmV2::kAvNbComputerName);
    EXPECT_EQ(NtlmV2::buildAvPairs(*pairs), challenge->targetInfo);

    NtlmV2::Nonce client;
    client.fill(0xaa);
    Bytes blob = NtlmV2::clientBlob(0, client, challenge->targetInfo);
    NtlmV2::Key proof = NtlmV2::ntProofStr(key, challenge->serverChallenge, blob);
    EXPECT_EQ(hex(proof), "68cd0ab851e51c96aabc927bebef6a1c");
    EXPECT_EQ(hex(NtlmV2::sessionBaseKey(key, proof)), "8de40ccadbc14a82f15cb0ad0de95ca3");
    Bytes response = NtlmV2::ntlmV2Response(key, challenge->serverChallenge, 0, client, challenge->targetInfo);
    ASSERT_EQ(response.size(), 16 + 28 + challenge->targetInfo.size() + 4);
    EXPECT_EQ(hex(Bytes(response.begin(), response.begin() + 16)), hex(proof));
    EXPECT_EQ(Bytes(response.begin() + 16, response.end()), blob);
    EXPECT_EQ(blob[0], 1);
    EXPECT_EQ(blob[1], 1);
}

// The lengths and offsets of every field are checked before a byte is read:
// nothing past the end, no wrap-around of a 32-bit offset.
TEST(NtlmV2Test, ChallengeBoundsAreChecked) {
    Bytes good = challengeWithInfo(20);
    EXPECT_TRUE(NtlmV2::parseChallenge(good.data(), good.size()));

    Bytes shortMessage = challengeWithInfo(0);
    shortMessage.resize(63);
    EXPECT_FALSE(NtlmV2::parseChallenge(shortMessage.data(), shortMessage.size()));

    Bytes infoPastEnd = good;
    infoPastEnd[40] = 21;
    EXPECT_FALSE(NtlmV2::parseChallenge(infoPastEnd.data(), infoPastEnd.size()));

    Bytes hugeOffset = good;
    hugeOffset[44] = 0xF0;
    hugeOffset[45] = hugeOffset[46] = hugeOffset[47] = 0xFF;
    EXPECT_FALSE(NtlmV2::parseChallenge(hugeOffset.data(), hugeOffset.size()));

    Bytes namePastEnd = good;
    namePastEnd[16] = uint8_t(good.size() - 1);
    EXPECT_FALSE(NtlmV2::parseChallenge(namePastEnd.data(), namePastEnd.size()));

    Bytes notAChallenge = good;
    notAChallenge[8] = 3;
    EXPECT_FALSE(NtlmV2::parseChallenge(notAChallenge.data(), notAChallenge.size()));

    // The plain builder gives length 0 for each of them.
    for (Bytes* bad : {&shortMessage, &infoPastEnd, &hugeOffset, &namePastEnd}) {
        NtlmBuffer in{uint32_t(bad->size()), bad->data()};
        uint64_t ts = 0;
        NtlmBuffer out = NtlmBuildAuthenticateMessage(&in, u"D", u"U", u"W", u"pw", &ts);
        EXPECT_EQ(out.length, 0u);
        NtlmBufferFree(&out);
    }

    // Attribute lists that run past their bytes are refused.
    EXPECT_FALSE(NtlmV2::parseAvPairs(fromHex("0100080041004200")));
    EXPECT_FALSE(NtlmV2::parseAvPairs(fromHex("010002")));
}

TEST(NtlmV2Test, NegotiateMessageLayout) {
    NtlmBuffer b = NtlmBuildNegotiateMessage(NtlmV2::kNegotiateFlags, "WORKGROUP", "PC");
    ASSERT_EQ(b.length, 43u);
    Bytes m(b.data, b.data + b.length);
    NtlmBufferFree(&b);
    EXPECT_EQ(b.length, 0u);
    EXPECT_EQ(std::string(m.begin(), m.begin() + 8), std::string("NTLMSSP\0", 8));
    EXPECT_EQ(get32(m, 8), 1u);
    EXPECT_EQ(get32(m, 12), 0x20080205u);
    EXPECT_EQ(get16(m, 16), 9);
    EXPECT_EQ(get16(m, 18), 9);
    EXPECT_EQ(get32(m, 20), 32u);
    EXPECT_EQ(get16(m, 24), 2);
    EXPECT_EQ(get32(m, 28), 41u);
    EXPECT_EQ(std::string(m.begin() + 32, m.end()), "WORKGROUPPC");
}

// The authenticate message's layout, and that its NT response proves the
// password: recomputing the proof from the blob it carries gives the same
// bytes, and the session key follows from it.
TEST(NtlmV2Test, AuthenticateMessageLayoutAndProof) {
    Bytes challengeBytes = challengeWithInfo(20);
    auto challenge = NtlmV2::parseChallenge(challengeBytes.data(), challengeBytes.size());
    ASSERT_TRUE(challenge);
    const uint64_t ts = NtlmV2::timestampFromUnix(1700000000);
    EXPECT_EQ(ts, 1700000000ULL * 10000000ULL + 116444736000000000ULL);

    auto a = NtlmV2::authenticateMessage(*challenge, u"D", u"U", u"W", u"secret", ts);
    ASSERT_TRUE(a);
    const Bytes& m = a->message;
    ASSERT_EQ(m.size(), 162u);
    EXPECT_EQ(get32(m, 8), 3u);
    EXPECT_EQ(get16(m, 12), 24);
    EXPECT_EQ(get32(m, 16), 64u);
    EXPECT_EQ(get16(m, 20), 68);
    EXPECT_EQ(get32(m, 24), 88u);
    EXPECT_EQ(get32(m, 32), 156u);
    EXPECT_EQ(get32(m, 40), 158u);
    EXPECT_EQ(get32(m, 48), 160u);
    EXPECT_EQ(get16(m, 52), 0);
    EXPECT_EQ(get32(m, 60), 0x00088205u);
    EXPECT_EQ(Bytes(m.begin() + 64, m.begin() + 88), Bytes(24, 0));
    EXPECT_EQ(Bytes(m.begin() + 156, m.end()), fromHex("4400 5500 5700"));

    Bytes nt(m.begin() + 88, m.begin() + 156);
    EXPECT_EQ(nt, a->ntResponse);
    Bytes blob(nt.begin() + 16, nt.end());
    ASSERT_EQ(blob.size(), 52u);
    uint64_t stamped = 0;
    for (int i = 0; i < 8; ++i) stamped |= uint64_t(blob[8 + i]) << (8 * i);
    EXPECT_EQ(stamped, ts);
    EXPECT_EQ(Bytes(blob.begin() + 28, blob.begin() + 48), challenge->targetInfo);
    EXPECT_EQ(Bytes(blob.begin() + 48, blob.end()), Bytes(4, 0));

    NtlmV2::Key key = NtlmV2::ntowfv2(u"secret", u"UD");
    NtlmV2::Key proof = NtlmV2::ntProofStr(key, challenge->serverChallenge, blob);
    EXPECT_EQ(Bytes(nt.begin(), nt.begin() + 16), Bytes(proof.begin(), proof.end()));
    EXPECT_EQ(a->sessionBaseKey, NtlmV2::sessionBaseKey(key, proof));
    NtlmV2::Key wrong = NtlmV2::ntProofStr(NtlmV2::ntowfv2(u"Secret", u"UD"), challenge->serverChallenge, blob);
    EXPECT_NE(wrong, proof);

    // Anonymous: no responses, the names straight after the header.
    auto anon = NtlmV2::authenticateMessage(*challenge, u"D", u"", u"W", u"", ts);
    ASSERT_TRUE(anon);
    EXPECT_EQ(anon->message.size(), 88u + 2 + 0 + 2);
    EXPECT_EQ(get16(anon->message, 12), 0);
    EXPECT_EQ(get16(anon->message, 20), 0);
    EXPECT_EQ(get32(anon->message, 32), 88u);
    EXPECT_EQ(anon->sessionBaseKey, NtlmV2::Key{});
}

// The client challenge comes from the system's random source: two responses
// made in the same second differ, so a captured exchange cannot be replayed
// against a server that repeats its challenge.
TEST(NtlmV2Test, ClientChallengeIsFreshEachTime) {
    Bytes challengeBytes = challengeWithInfo(4);
    NtlmBuffer in{uint32_t(challengeBytes.size()), challengeBytes.data()};
    uint64_t ts = NtlmV2::timestampFromUnix(1700000000);
    std::vector<Bytes> seen;
    for (int i = 0; i < 4; ++i) {
        NtlmBuffer out = NtlmBuildAuthenticateMessage(&in, u"D", u"U", u"W", u"pw", &ts);
        ASSERT_EQ(out.length, 88u + 16 + 28 + 4 + 4 + 6);
        Bytes clientChallenge(out.data + 88 + 16 + 16, out.data + 88 + 16 + 24);
        NtlmBufferFree(&out);
        for (const auto& other : seen) EXPECT_NE(clientChallenge, other);
        seen.push_back(clientChallenge);
    }
}

// Session set-ups without extended security: one attribute chosen by the
// caller, at most 256 bytes of it; the key comes from the identity as given.
TEST(NtlmV2Test, ResponseWithOneAttribute) {
    const uint8_t server[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    uint64_t ts = 42;
    std::u16string value(128, u'n');
    NtlmBuffer r = NtlmV2ResponseWithAvPair(value.c_str(), NtlmV2::kAvDnsComputerName, u"USERDOM", u"pw", server, &ts);
    ASSERT_EQ(r.length, 16u + 32 + 256 + 8);
    Bytes resp(r.data, r.data + r.length);
    NtlmBufferFree(&r);
    Bytes blob(resp.begin() + 16, resp.end());
    auto pairs = NtlmV2::parseAvPairs(Bytes(blob.begin() + 28, blob.end() - 4));
    ASSERT_TRUE(pairs);
    ASSERT_EQ(pairs->size(), 1u);
    EXPECT_EQ((*pairs)[0].id, NtlmV2::kAvDnsComputerName);
    EXPECT_EQ((*pairs)[0].value, NtlmV2::utf16le(value));
    NtlmV2::Nonce nonce;
    std::memcpy(nonce.data(), server, 8);
    NtlmV2::Key proof = NtlmV2::ntProofStr(NtlmV2::ntowfv2(u"pw", u"USERDOM"), nonce, blob);
    EXPECT_EQ(Bytes(resp.begin(), resp.begin() + 16), Bytes(proof.begin(), proof.end()));

    value += u'n';
    r = NtlmV2ResponseWithAvPair(value.c_str(), 3, u"USERDOM", u"pw", server, &ts);
    EXPECT_EQ(r.length, 0u);
    NtlmBufferFree(&r);

    // The plain response over given target information has the same shape.
    Bytes info = NtlmV2::buildAvPairs({{NtlmV2::kAvNbComputerName, NtlmV2::utf16le(u"HOST")}});
    NtlmBuffer plain = NtlmV2Response(u"DOM", u"USER", u"pw", server, info.data(), &ts, uint32_t(info.size()));
    ASSERT_EQ(plain.length, 16u + 32 + info.size());
    Bytes plainBlob(plain.data + 16, plain.data + plain.length);
    NtlmBufferFree(&plain);
    proof = NtlmV2::ntProofStr(NtlmV2::ntowfv2(u"pw", u"USERDOM"), nonce, plainBlob);
    EXPECT_EQ(Bytes(plainBlob.begin() + 28, plainBlob.end() - 4), info);
}

// RC4 of the key exchange, against the published example's encrypted
// session key (random key 55 x 16 under its session base key).
TEST(NtlmV2Test, KeyExchangeCipherMatchesThePublishedExample) {
    NtlmV2::Key base;
    const Bytes k = fromHex("8de40ccadbc14a82f15cb0ad0de95ca3");
    std::copy(k.begin(), k.end(), base.begin());
    EXPECT_EQ(hex(NtlmV2::rc4(base, Bytes(16, 0x55))), "c5dad2544fc9799094ce1ce90bc9d03e");
    EXPECT_EQ(NtlmV2::rc4(base, NtlmV2::rc4(base, Bytes(40, 7))), Bytes(40, 7));
}

// What a Windows server expects of a client that signs: the signing and
// key-exchange flags as far as the server offered them, a random session
// key sent under the base key, and the service's name among the target
// information the proof covers.
TEST(NtlmV2Test, AuthenticateMessageForWindowsServers) {
    Bytes message = fromHex(kChallengeMessage);
    auto challenge = NtlmV2::parseChallenge(message.data(), message.size());
    ASSERT_TRUE(challenge);
    ASSERT_TRUE(challenge->flags & NtlmV2::kFlagKeyExchange);
    const uint64_t ts = NtlmV2::timestampFromUnix(1700000000);
    const uint32_t flags = NtlmV2::kSmb2NegotiateFlags & challenge->flags;
    EXPECT_EQ(flags, 0xE0088211u);  // 56, key exchange, 128, extended security, always sign, NTLM, sign, Unicode
    auto a = NtlmV2::authenticateMessage(*challenge, u"Domain", u"USER", u"W", u"Password", ts, flags, u"cifs/server");
    ASSERT_TRUE(a);
    const Bytes& m = a->message;
    EXPECT_EQ(get32(m, 60), flags);

    // The session key field: 16 bytes after the names, the random key
    // under the base key.
    ASSERT_EQ(get16(m, 52), 16);
    EXPECT_EQ(get16(m, 54), 16);
    const uint32_t keyAt = get32(m, 52 + 4);
    EXPECT_EQ(keyAt, get32(m, 48) + get16(m, 44));
    ASSERT_EQ(m.size(), keyAt + 16);
    const Bytes sent(m.begin() + keyAt, m.end());
    EXPECT_EQ(NtlmV2::rc4(a->sessionBaseKey, sent), Bytes(a->sessionKey.begin(), a->sessionKey.end()));
    EXPECT_NE(a->sessionKey, a->sessionBaseKey);

    // The blob: the server's pairs, then the service's name, then the end.
    const Bytes nt(m.begin() + get32(m, 24), m.begin() + get32(m, 24) + get16(m, 20));
    const Bytes blob(nt.begin() + 16, nt.end());
    auto pairs = NtlmV2::parseAvPairs(Bytes(blob.begin() + 28, blob.end() - 4));
    ASSERT_TRUE(pairs);
    ASSERT_EQ(pairs->size(), 3u);
    EXPECT_EQ((*pairs)[0].id, NtlmV2::kAvNbDomainName);
    EXPECT_EQ((*pairs)[1].id, NtlmV2::kAvNbComputerName);
    EXPECT_EQ((*pairs)[2].id, NtlmV2::kAvTargetName);
    EXPECT_EQ((*pairs)[2].value, NtlmV2::utf16le(u"cifs/server"));
    // The proof covers it, so the server's check of the proof holds.
    const NtlmV2::Key key = NtlmV2::ntowfv2(u"Password", u"USERDomain");
    const NtlmV2::Key proof = NtlmV2::ntProofStr(key, challenge->serverChallenge, blob);
    EXPECT_EQ(Bytes(nt.begin(), nt.begin() + 16), Bytes(proof.begin(), proof.end()));

    // A server that offers no key exchange: none is claimed or sent, and the
    // session key is the base key.
    NtlmV2::Challenge plain = *challenge;
    plain.flags &= ~NtlmV2::kFlagKeyExchange;
    auto b = NtlmV2::authenticateMessage(plain, u"Domain", u"USER", u"W", u"Password", ts,
                                         NtlmV2::kSmb2NegotiateFlags & plain.flags);
    ASSERT_TRUE(b);
    EXPECT_EQ(get32(b->message, 60) & NtlmV2::kFlagKeyExchange, 0u);
    EXPECT_EQ(get16(b->message, 52), 0);
    EXPECT_EQ(b->sessionKey, b->sessionBaseKey);

    // The negotiate message asks for all of it.
    const Bytes n = NtlmV2::negotiateMessage(NtlmV2::kSmb2NegotiateFlags, "", "LEAFBRIGHT");
    EXPECT_EQ(get32(n, 12), 0xE0088215u);
}
