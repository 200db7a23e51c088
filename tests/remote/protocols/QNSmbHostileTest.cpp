// Our SMB1 client against peers that answer wrongly: negotiate answers that
// lie about their lengths or leave out the challenge.

#include "remote/protocols/QNSmb.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstring>
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
    ~OneReplyPeer() { join(); }
    void join() {
        if (thread_.joinable()) thread_.join();
        if (listener_ >= 0) ::close(listener_);
        listener_ = -1;
    }
    int port() const { return port_; }

private:
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
};

// A negotiate answer with 17 parameter words, `extended` security or not.
Bytes negotiateAnswer(bool extended, size_t claimed = 0) {
    Bytes m(32, 0);
    m[0] = 0xFF;
    m[1] = 'S';
    m[2] = 'M';
    m[3] = 'B';
    m[4] = 0x72;
    m[9] = 0x98;
    m.push_back(17);
    Bytes words(34, 0);
    words[3] = 50;
    words[7] = 0;
    words[8] = 0;
    words[9] = 1;  // buffer of 65536
    const uint32_t caps = extended ? 0x8000405C : 0x0000405C;
    std::memcpy(&words[19], &caps, 4);
    m.insert(m.end(), words.begin(), words.end());
    m.insert(m.end(), {16, 0});
    m.insert(m.end(), 16, 0);
    const size_t n = claimed ? claimed : m.size();
    Bytes f = {0, uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
    f.insert(f.end(), m.begin(), m.end());
    return f;
}

int errorAgainst(const Bytes& reply) {
    OneReplyPeer peer(reply);
    QNSmb smb;
    EXPECT_FALSE(smb.connect("127.0.0.1:" + std::to_string(peer.port()), "", "u", "p"));
    return smb.lastError();
}

TEST(QNSmbHostileTest, WrongNegotiateAnswersAreProtocolErrors) {
    // A server without extended security that sends no challenge.
    EXPECT_EQ(errorAgainst(negotiateAnswer(false)), QNSmb::kErrorProtocol);
    // A length far beyond a negotiate answer: refused before it is read.
    EXPECT_EQ(errorAgainst(negotiateAnswer(true, 0xFFFFFF)), QNSmb::kErrorProtocol);
    // Parameter words running past the answer.
    Bytes cut = negotiateAnswer(true);
    cut.resize(4 + 40);
    cut[3] = 40;
    EXPECT_EQ(errorAgainst(cut), QNSmb::kErrorProtocol);
}

}  // namespace
