// The FTP client's socket and its cancel: a cancel is never undone by a later
// connect, and one made while the host name is being looked up returns at
// once, the look-up left to end on its own.

#include "foundation/QNSocketSync.h"

#include "tests/support/net/StuckNameLookup.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <future>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A loopback listener that accepts nothing (the kernel completes connects).
class Listener {
public:
    Listener() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd_, 8);
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~Listener() { ::close(fd_); }
    int port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

TEST(QNSocketSyncTest, ACancelIsNeverUndoneByAConnect) {
    Listener peer;
    QNSocketSync open;
    ASSERT_TRUE(open.connect("127.0.0.1", peer.port()));
    EXPECT_EQ(open.peerAddress(), "127.0.0.1");

    // A cancel that reached the socket before its connect began.
    QNSocketSync early;
    early.cancel();
    EXPECT_FALSE(early.connect("127.0.0.1", peer.port()));
    EXPECT_FALSE(early.active());
    // And a connection cancelled once stays cancelled.
    open.cancel();
    EXPECT_FALSE(open.connect("127.0.0.1", peer.port()));
}

TEST(QNSocketSyncTest, ACancelDuringAHangingLookUpReturnsAtOnce) {
    Listener peer;
    test::StuckNameLookup stuck;
    QNSocketSync socket;
    auto connecting =
        std::async(std::launch::async, [&] { return socket.connect(test::StuckNameLookup::kName, peer.port()); });
    ASSERT_TRUE(stuck.waitForLookup(10));
    socket.cancel();
    if (connecting.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        stuck.release();
        FAIL() << "the connect waited for the look-up";
    }
    EXPECT_FALSE(connecting.get());
    EXPECT_EQ(stuck.blocked(), 1) << "the look-up is left to end on its own";
}

}  // namespace
