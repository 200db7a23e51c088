// The SMB2 client against a peer that answers the negotiate request with
// replies that lie about their lengths or leave out what they must carry:
// each call fails as a protocol error, allocates nothing the reply claims
// and never reads past it.

#include <gtest/gtest.h>

#include "remote/protocols/SmbWire.h"
#include "smb/CIFSStackClient.h"
#include "tests/support/net/OneReplyPeer.h"

#include <arpa/inet.h>
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

}  // namespace
