#include <gtest/gtest.h>

#include "remote/protocols/SmbWire.h"
#include "remote/protocols/SrvsvcShareEnum.h"
#include "smb/Spnego.h"

namespace {

using Bytes = std::vector<uint8_t>;

void u32(Bytes& b, uint32_t v) { SmbWire::put32(b, b.size(), v); }

void ndrString(Bytes& b, const std::string& s, uint32_t maxExtra = 0) {
    Bytes chars = SmbWire::utf16le(s);
    chars.insert(chars.end(), {0, 0});
    const uint32_t n = uint32_t(chars.size() / 2);
    u32(b, n + maxExtra);
    u32(b, 0);
    u32(b, n);
    SmbWire::append(b, chars);
    SmbWire::pad(b, 4);
}

// A NetrShareEnum reply at level 1 with the shares given as (name, type, comment).
Bytes shareEnumStub(const std::vector<std::tuple<std::string, uint32_t, std::string>>& shares, uint32_t count,
                    uint32_t werror = 0) {
    Bytes b;
    u32(b, 1);
    u32(b, 1);
    u32(b, 0x20000);
    u32(b, count);
    u32(b, 0x20004);
    u32(b, count);
    for (size_t i = 0; i < shares.size(); ++i) {
        u32(b, 0x20008 + uint32_t(i));
        u32(b, std::get<1>(shares[i]));
        u32(b, std::get<2>(shares[i]).empty() ? 0 : 0x30000 + uint32_t(i));
    }
    for (const auto& s : shares) {
        ndrString(b, std::get<0>(s));
        if (!std::get<2>(s).empty()) ndrString(b, std::get<2>(s));
    }
    u32(b, count);
    u32(b, 0x40000);
    u32(b, 0);
    u32(b, werror);
    return b;
}

TEST(SmbRepliesTest, ShareEnumRepliesAreReadWithinTheirBytes) {
    const auto stub = shareEnumStub({{"books", 0, "Comics here"}, {"IPC$", 0x80000003, ""}, {"日本", 0, "x"}}, 3);
    uint32_t werror = 7;
    auto shares = SrvsvcShareEnum::parseShareEnum(stub, &werror);
    ASSERT_TRUE(shares);
    EXPECT_EQ(werror, 0u);
    ASSERT_EQ(shares->size(), 3u);
    EXPECT_EQ((*shares)[0].name, "books");
    EXPECT_EQ((*shares)[0].comment, "Comics here");
    EXPECT_EQ((*shares)[1].type, 0x80000003u);
    EXPECT_EQ((*shares)[1].comment, "");
    EXPECT_EQ((*shares)[2].name, "日本");

    // Every cut of the reply is refused rather than read past its end.
    for (size_t cut = 0; cut < stub.size(); cut += 3) {
        EXPECT_FALSE(SrvsvcShareEnum::parseShareEnum(Bytes(stub.begin(), stub.begin() + long(cut)), nullptr)) << cut;
    }
    // A count larger than the entries sent, or than any server has.
    EXPECT_FALSE(SrvsvcShareEnum::parseShareEnum(shareEnumStub({{"a", 0, ""}}, 2), nullptr));
    EXPECT_FALSE(SrvsvcShareEnum::parseShareEnum(shareEnumStub({}, 0x7fffffff), nullptr));
    // A string whose length runs past the reply.
    Bytes lying = shareEnumStub({{"a", 0, ""}}, 1);
    SmbWire::put32(lying, 36, 0x10000);
    SmbWire::put32(lying, 44, 0x10000);
    EXPECT_FALSE(SrvsvcShareEnum::parseShareEnum(lying, nullptr));
    // The call's own failure is passed on.
    EXPECT_FALSE(SrvsvcShareEnum::parseShareEnum(shareEnumStub({}, 0, 5), &werror));
    EXPECT_EQ(werror, 5u);
}

TEST(SmbRepliesTest, RpcFragmentsAreWholeBeforeTheyAreRead) {
    Bytes bind = SrvsvcShareEnum::bindRequest(1);
    bool malformed = true;
    auto pdu = SrvsvcShareEnum::parsePdu(bind, &malformed);
    ASSERT_TRUE(pdu);
    EXPECT_EQ(pdu->type, SrvsvcShareEnum::kBind);
    EXPECT_TRUE(pdu->last);
    EXPECT_EQ(pdu->length, bind.size());
    EXPECT_FALSE(SrvsvcShareEnum::parsePdu(Bytes(bind.begin(), bind.end() - 1), &malformed));
    EXPECT_FALSE(malformed);  // only not whole yet
    Bytes bad = bind;
    bad[0] = 4;
    EXPECT_FALSE(SrvsvcShareEnum::parsePdu(bad, &malformed));
    EXPECT_TRUE(malformed);
    bad = bind;
    SmbWire::put16(bad, 10, 0xFFFF);  // authentication longer than the PDU
    EXPECT_FALSE(SrvsvcShareEnum::parsePdu(bad, &malformed));
    EXPECT_TRUE(malformed);
    // A bind acknowledgement with its address length pointing past the end.
    SrvsvcShareEnum::Pdu ack;
    ack.type = SrvsvcShareEnum::kBindAck;
    ack.body = Bytes(12, 0);
    SmbWire::put16(ack.body, 8, 500);
    EXPECT_FALSE(SrvsvcShareEnum::bindAccepted(ack));
}

TEST(SmbRepliesTest, SpnegoRepliesAreCheckedBeforeUse) {
    const Bytes ntlm = {'N', 'T', 'L', 'M', 'S', 'S', 'P', 0, 2, 0, 0, 0};
    using S = Spnego;
    const Bytes reply =
        S::der(0xa1, S::der(0x30, [&] {
                   Bytes b = S::der(0xa0, S::der(0x0a, {1}));
                   SmbWire::append(b, S::der(0xa1, S::der(0x06, {0x2b, 0x06, 0x01})));
                   SmbWire::append(b, S::der(0xa2, S::der(0x04, ntlm)));
                   return b;
               }()));
    auto r = S::parseReply(reply);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->negState, S::kAcceptIncomplete);
    EXPECT_EQ(r->responseToken, ntlm);
    for (size_t cut = 0; cut < reply.size(); ++cut) {
        EXPECT_FALSE(S::parseReply(Bytes(reply.begin(), reply.begin() + long(cut)))) << cut;
    }
    Bytes huge = reply;
    huge[1] = 0x84;  // a four-byte length far beyond the token
    EXPECT_FALSE(S::parseReply(huge));
    // Long tokens take the long length forms.
    const Bytes big(70000, 0x41);
    const Bytes wrapped = S::responseToken(big);
    EXPECT_EQ(wrapped[1], 0x83);
    auto back = S::parseReply(wrapped);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->responseToken, big);
    EXPECT_EQ(back->negState, S::kNone);
}

}  // namespace
