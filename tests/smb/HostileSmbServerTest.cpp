// The SMB2 client against a peer that answers the negotiate request with
// replies that lie about their lengths or leave out what they must carry:
// each call fails as a protocol error, allocates nothing the reply claims
// and never reads past it.

#include <gtest/gtest.h>

#include "smb/CIFSStackClient.h"
#include "smb/SmbWire.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using Bytes = std::vector<uint8_t>;

// Accepts one connection, reads one framed request, sends `reply` as is and
// hangs up.
class OneReplyPeer {
public:
    explicit OneReplyPeer(Bytes reply) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(listener_, 1);
        socklen_t len = sizeof a;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this, reply] {
            pollfd p{listener_, POLLIN, 0};
            if (::poll(&p, 1, 10000) != 1) return;
            int fd = ::accept(listener_, nullptr, nullptr);
            uint8_t head[4];
            if (::recv(fd, head, 4, MSG_WAITALL) == 4) {
                Bytes rest(size_t(head[1]) << 16 | size_t(head[2]) << 8 | head[3]);
                ::recv(fd, rest.data(), rest.size(), MSG_WAITALL);
                ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
            }
            ::close(fd);
        });
    }
    ~OneReplyPeer() {
        thread_.join();
        ::close(listener_);
    }
    std::string server() const { return "127.0.0.1:" + std::to_string(port_); }

private:
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
};

Bytes frame(const Bytes& message, size_t claimed = 0) {
    const size_t n = claimed ? claimed : message.size();
    Bytes f = {0, uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
    f.insert(f.end(), message.begin(), message.end());
    return f;
}

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
    EXPECT_EQ(errorAgainst(frame(negotiateReply(0x0210), 0xFFFFFF)), SmbStackClient::kErrorProtocol);
    // A body shorter than its structure says.
    EXPECT_EQ(errorAgainst(frame(negotiateReply(0x0210, 10))), SmbStackClient::kErrorProtocol);
    // A dialect never offered.
    EXPECT_EQ(errorAgainst(frame(negotiateReply(0x0399))), SmbStackClient::kErrorProtocol);
    // 3.1.1 without the pre-authentication context it must carry.
    EXPECT_EQ(errorAgainst(frame(negotiateReply(0x0311))), SmbStackClient::kErrorProtocol);
    // 3.1.1 whose context list points past the reply.
    Bytes far = negotiateReply(0x0311);
    SmbWire::put16(far, 64 + 6, 1);
    SmbWire::put32(far, 64 + 60, 0x7FFFFFF0);
    EXPECT_EQ(errorAgainst(frame(far)), SmbStackClient::kErrorProtocol);
    // An SMB1 answer.
    Bytes smb1 = negotiateReply(0x0210);
    smb1[0] = 0xFF;
    EXPECT_EQ(errorAgainst(frame(smb1)), SmbStackClient::kErrorProtocol);
    // A peer that hangs up mid-reply: the server is not reachable as SMB.
    Bytes cut = frame(negotiateReply(0x0210));
    cut.resize(cut.size() / 2);
    const uint32_t e = errorAgainst(cut);
    EXPECT_TRUE(e == SmbStackClient::kErrorConnect || e == SmbStackClient::kErrorDisconnected) << std::hex << e;
}

}  // namespace
