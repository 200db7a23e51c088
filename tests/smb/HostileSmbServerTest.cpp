// The SMB2 client against a peer that answers the negotiate request with
// replies that lie about their lengths or leave out what they must carry:
// each call fails as a protocol error, allocates nothing the reply claims
// and never reads past it.

#include <gtest/gtest.h>

#include "remote/protocols/NtlmV2.h"
#include "remote/protocols/SmbWire.h"
#include "smb/CIFSStackClient.h"
#include "smb/Smb2Connection.h"
#include "tests/support/net/FakeSmb2Server.h"
#include "tests/support/net/OneReplyPeer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using Bytes = std::vector<uint8_t>;

using test::OneReplyPeer;

// A negotiate reply choosing `dialect`, `bodyBytes` long after the header.
Bytes negotiateReply(uint16_t dialect, size_t bodyBytes = 64) {
    Bytes m(64, 0);
    m[0] = 0xFE;
    m[1] = 'S';
    m[2] = 'M';
    m[3] = 'B';
    SmbWire::put16(m, 4, 64);
    SmbWire::put16(m, 14, 1);
    SmbWire::put32(m, 16, 1);  // a reply
    Bytes body(bodyBytes, 0);
    if (body.size() >= 64) {
        SmbWire::put16(body, 0, 65);
        SmbWire::put16(body, 4, dialect);
        SmbWire::put32(body, 28, 65536);
        SmbWire::put32(body, 32, 65536);
        SmbWire::put32(body, 60, 0);
    } else if (body.size() >= 2) {
        SmbWire::put16(body, 0, 65);
    }
    SmbWire::append(m, body);
    return m;
}

uint32_t errorAgainst(const Bytes& reply) {
    OneReplyPeer peer(reply);
    CIFSStackClient c(0);
    EXPECT_FALSE(c.getTreeList(peer.server(), false));
    return c.lastError();
}

TEST(HostileSmbServerTest, LyingNegotiateRepliesAreProtocolErrors) {
    // A length far beyond any reply: refused before anything is allocated.
    EXPECT_EQ(errorAgainst(OneReplyPeer::frame(negotiateReply(0x0210), 0xFFFFFF)), SmbStackClient::kErrorProtocol);
    // A body shorter than its structure says.
    EXPECT_EQ(errorAgainst(OneReplyPeer::frame(negotiateReply(0x0210, 10))), SmbStackClient::kErrorProtocol);
    // A dialect never offered.
    EXPECT_EQ(errorAgainst(OneReplyPeer::frame(negotiateReply(0x0399))), SmbStackClient::kErrorProtocol);
    // 3.1.1 without the pre-authentication context it must carry.
    EXPECT_EQ(errorAgainst(OneReplyPeer::frame(negotiateReply(0x0311))), SmbStackClient::kErrorProtocol);
    // 3.1.1 whose context list points past the reply.
    Bytes far = negotiateReply(0x0311);
    SmbWire::put16(far, 64 + 6, 1);
    SmbWire::put32(far, 64 + 60, 0x7FFFFFF0);
    EXPECT_EQ(errorAgainst(OneReplyPeer::frame(far)), SmbStackClient::kErrorProtocol);
    // An SMB1 answer.
    Bytes smb1 = negotiateReply(0x0210);
    smb1[0] = 0xFF;
    EXPECT_EQ(errorAgainst(OneReplyPeer::frame(smb1)), SmbStackClient::kErrorProtocol);
    // A peer that hangs up mid-reply: the server is not reachable as SMB.
    Bytes cut = OneReplyPeer::frame(negotiateReply(0x0210));
    cut.resize(cut.size() / 2);
    const uint32_t e = errorAgainst(cut);
    EXPECT_TRUE(e == SmbStackClient::kErrorConnect || e == SmbStackClient::kErrorDisconnected) << std::hex << e;
}

// A 3.1.1 negotiate reply with the pre-authentication context and an
// encryption context choosing `cipher`.
Bytes negotiateChoosingCipher(uint16_t cipher) {
    Bytes m = negotiateReply(0x0311);
    SmbWire::put16(m, 64 + 6, 2);
    SmbWire::put32(m, 64 + 60, uint32_t(m.size()));
    SmbWire::append(m, {1, 0, 6, 0, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0});  // SHA-512, no salt
    SmbWire::append(m, {2, 0, 4, 0, 0, 0, 0, 0, 1, 0, uint8_t(cipher), uint8_t(cipher >> 8)});
    return m;
}

TEST(HostileSmbServerTest, ACipherNeverOfferedEndsTheNegotiate) {
    // Beyond the list offered to a named user; any at all for a guest, who
    // offers none.
    for (const auto& [user, cipher] : {std::pair<std::string, uint16_t>{"reader", 5}, {"", 2}}) {
        OneReplyPeer peer(OneReplyPeer::frame(negotiateChoosingCipher(cipher)));
        Smb2Connection c;
        EXPECT_FALSE(c.open("127.0.0.1", peer.port(), "", user, user.empty() ? "" : "pw"));
        EXPECT_EQ(c.error(), SmbStackClient::kErrorProtocol) << cipher;
        EXPECT_EQ(c.message(), "The server chose a cipher this client did not offer.") << cipher;
    }
}

// Logs "reader" (password "pw") on over SMB 3.0 and encrypts the session:
// it works the session key out of the NTLM answer as a server does, and
// seals its replies under it with `transformSession` as the session id of
// their transform headers.
void encryptSession(test::FakeSmb2Server& server, uint64_t transformSession) {
    using test::FakeSmb2Server;
    server.on(FakeSmb2Server::kNegotiate, [](const FakeSmb2Server::Request& r, FakeSmb2Server& s) {
        Bytes b(65, 0);
        SmbWire::put16(b, 0, 65);
        SmbWire::put16(b, 2, 1);
        SmbWire::put16(b, 4, 0x0300);
        SmbWire::put32(b, 24, 0x44);  // large MTU, encryption
        SmbWire::put32(b, 28, 65536);
        SmbWire::put32(b, 32, 65536);
        SmbWire::put32(b, 36, 65536);
        SmbWire::put16(b, 56, 128);
        s.reply(r, 0, b);
    });
    server.on(FakeSmb2Server::kSessionSetup, [transformSession](const FakeSmb2Server::Request& r,
                                                                 FakeSmb2Server& s) {
        if (s.count(FakeSmb2Server::kSessionSetup) == 1) return s.answerAsUsual(r);
        const Bytes& m = r.message;
        const uint8_t type3[] = {'N', 'T', 'L', 'M', 'S', 'S', 'P', 0, 3, 0, 0, 0};
        const size_t at = size_t(std::search(m.begin(), m.end(), std::begin(type3), std::end(type3)) - m.begin());
        if (at + 28 > m.size()) return;
        const size_t proofAt = at + SmbWire::get32(&m[at + 24]);
        if (proofAt + 16 > m.size()) return;
        NtlmV2::Key proof;
        std::copy_n(m.begin() + long(proofAt), 16, proof.begin());
        const auto key = NtlmV2::sessionBaseKey(NtlmV2::ntowfv2(u"pw", u"READER"), proof);
        auto label = [](const char* text) { return Bytes(text, text + std::strlen(text) + 1); };
        const Bytes in = Smb2Connection::kdf(key, label("SMB2AESCCM"), label("ServerIn "));
        const Bytes out = Smb2Connection::kdf(key, label("SMB2AESCCM"), label("ServerOut"));
        Bytes b(9, 0);
        SmbWire::put16(b, 0, 9);
        SmbWire::put16(b, 2, 0x4);  // encrypt the session
        s.reply(r, 0, b);
        auto counter = std::make_shared<uint8_t>(0);
        s.sealWith(
            [out, transformSession, counter](const Bytes& message) {
                std::array<uint8_t, 16> nonce{};
                nonce[0] = ++*counter;
                return Smb2Connection::seal(Smb2Connection::kAes128Ccm, out, nonce, transformSession, message);
            },
            [in](const Bytes& sealed) { return Smb2Connection::unseal(Smb2Connection::kAes128Ccm, in, sealed); });
    });
}

TEST(HostileSmbServerTest, AReplySealedForAnotherSessionIsRefused) {
    // Sealed for this session, the reply is read.
    {
        test::FakeSmb2Server server;
        encryptSession(server, 0x1234);
        Smb2Connection c;
        ASSERT_TRUE(c.open("127.0.0.1", server.port(), "", "reader", "pw")) << c.message();
        EXPECT_TRUE(c.encryptsSession());
        EXPECT_EQ(c.treeConnect("books"), 7u) << c.message();
    }
    // Sealed under the same key but named for another session: refused.
    test::FakeSmb2Server server;
    encryptSession(server, 0x1235);
    Smb2Connection c;
    ASSERT_TRUE(c.open("127.0.0.1", server.port(), "", "reader", "pw")) << c.message();
    EXPECT_EQ(c.treeConnect("books"), 0u);
    EXPECT_EQ(c.error(), SmbStackClient::kErrorSignature) << c.message();
}

TEST(HostileSmbServerTest, ALogOnWithoutAuthenticationOrAShareWithoutAnIdFails) {
    using test::FakeSmb2Server;
    // A first session set-up answered with success: the server skipped NTLM.
    {
        FakeSmb2Server server;
        server.on(FakeSmb2Server::kSessionSetup, [](const FakeSmb2Server::Request& r, FakeSmb2Server& s) {
            Bytes b(9, 0);
            SmbWire::put16(b, 0, 9);
            s.reply(r, 0, b);
        });
        Smb2Connection c;
        EXPECT_FALSE(c.open("127.0.0.1", server.port(), "", "reader", "pw"));
        EXPECT_EQ(c.error(), SmbStackClient::kErrorProtocol);
        EXPECT_EQ(c.message(), "The server skipped the authentication.");
        server.stop();
        EXPECT_EQ(server.count(FakeSmb2Server::kSessionSetup), 1);
    }
    // A share connected with tree id 0.
    FakeSmb2Server server;
    server.setTreeId(0);
    Smb2Connection c;
    ASSERT_TRUE(c.open("127.0.0.1", server.port(), "", "", "")) << c.message();
    EXPECT_EQ(c.treeConnect("books"), 0u);
    EXPECT_EQ(c.error(), SmbStackClient::kErrorProtocol);
    EXPECT_EQ(c.message(), "The server gave the share no id.");
}

}  // namespace
