// The loopback servers the tests start take a port that was free a moment
// before; another test running beside them may take it first. A server is
// up only when the port it answers on is its own: otherwise a test would
// talk to another test's server (and that one receive its log-ons).
#include "tests/support/net/SambaServer.h"
#include "tests/support/net/ServerProcess.h"
#include "tests/support/net/SmbPeer.h"
#include "tests/support/TestHome.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A socket of this process listening on a port of 127.0.0.1.
struct Listener {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int port = 0;
    Listener() {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && ::listen(fd, 4) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
            port = ntohs(addr.sin_port);
    }
    ~Listener() { ::close(fd); }
};

TEST(TestServerPortsTest, APortIsAServersOwnOnlyWhenItOrItsChildListensThere) {
    Listener taken;
    ASSERT_GT(taken.port, 0);
    EXPECT_TRUE(test::ServerProcess::listens(::getpid(), taken.port));
    // A child of another process (here the parent of this test) counts for that process.
    EXPECT_TRUE(test::ServerProcess::listens(::getppid(), taken.port));
    const char* argv[] = {"/bin/sleep", "30", nullptr};
    pid_t other = test::ServerProcess::spawn(argv, "");
    ASSERT_GT(other, 0);
    EXPECT_TRUE(test::ServerProcess::canConnect(taken.port));
    EXPECT_FALSE(test::ServerProcess::listens(other, taken.port));
    EXPECT_FALSE(test::ServerProcess::serves(other, taken.port));
    test::ServerProcess::stop(other);
    EXPECT_FALSE(test::ServerProcess::listens(::getpid(), taken.port + 1 == 65536 ? 1 : taken.port + 1));
}

// smbd given a port another process holds exits; until it does, the port
// answers, but the server is not up.
TEST(TestServerPortsTest, SmbdOnAPortAnotherHoldsDoesNotStart) {
    const std::string skip = test::SmbPeer::skipReason();
    if (!skip.empty()) GTEST_SKIP() << skip;
    Listener taken;
    ASSERT_GT(taken.port, 0);
    test::TempDir root("portshare");
    test::SambaServer smbd;
    EXPECT_FALSE(smbd.startSmbd("", taken.port, {{"books", root.path(), false, false, ""}},
                                {{test::SmbPeer::kUser, test::SmbPeer::kPassword}}))
        << "the port was taken";
}

}  // namespace
