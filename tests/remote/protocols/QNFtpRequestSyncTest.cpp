// Our FTP client against vsftpd and pyftpdlib on loopback: log-on through
// multi-line greetings and welcomes, sizes, ranged retrievals stopped with
// ABOR, passive replies that name a foreign address, refused names and a
// cancel that frees a call blocked on a silent server.
#include "remote/protocols/QNFtpRequest.h"
#include "remote/protocols/QNFtpRequestSync.h"

#include "tests/support/TestHome.h"
#include "tests/support/net/FtpTestServer.h"
#include "tests/support/net/SilentServer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <condition_variable>
#include <fstream>
#include <future>
#include <netinet/in.h>
#include <random>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

std::string noise(size_t n, uint32_t seed) {
    std::mt19937 rng{seed};
    std::string s(n, '\0');
    for (auto& c : s) c = char(rng());
    return s;
}

// The long welcome pyftpdlib sends as "230-" lines, some without a code.
const char* const kWelcome =
    "Welcome to the Leafbright test site. This text is long enough to be sent over several reply lines.\r\n"
    "Second line of the welcome, without a code of its own.\r\n230-A continuation line that looks like the end";

class QNFtpRequestSyncTest : public ::testing::Test {
protected:
    void SetUp() override {
        book_ = noise(600000, 7);
        std::ofstream(www_.file("book.cbz"), std::ios::binary) << book_;
    }

    std::string fetch(QNFtpRequestSync& c, const std::string& name, int64_t offset, int64_t length, int* rc,
                      int* chunks = nullptr) {
        std::string got;
        *rc = c.getFile(name, offset, length, [&](const char* d, size_t n) {
            got.append(d, n);
            if (chunks) ++*chunks;
            EXPECT_LE(n, QNFtpRequestSync::kMaxChunk);
            return true;
        });
        return got;
    }

    test::TempDir www_{"ftproot"};
    std::string book_;
};

TEST(QNFtpRequestTest, PassiveRepliesAndStatusCodes) {
    int port = 0;
    EXPECT_EQ(QNFtpRequest::getAddressAndPortWithPassiveResponse("227 Entering Passive Mode (192,168,1,2,19,137).",
                                                                 &port),
              "192.168.1.2");
    EXPECT_EQ(port, 5001);
    port = 7;
    EXPECT_EQ(QNFtpRequest::getAddressAndPortWithPassiveResponse("227 Entering Passive Mode", &port), "0.0.0.0");
    EXPECT_EQ(port, 0);
    EXPECT_EQ(QNFtpRequest::getAddressAndPortWithPassiveResponse("227 (10,0,0,1,4", &port), "10.0.0.1");
    EXPECT_EQ(port, 1024) << "a reply cut short counts the missing numbers as 0";
    EXPECT_FALSE(QNFtpRequest::getAddressAndPortWithPassiveResponse("227 (" + std::string(1000, '1') + ")", &port));
    EXPECT_EQ(QNFtpRequestSync::ftpStatusCodeWithBuffer("230-Welcome"), 230);
    EXPECT_EQ(QNFtpRequestSync::ftpStatusCodeWithBuffer("22"), 22);
}

TEST_F(QNFtpRequestSyncTest, LogsOnThroughMultiLineRepliesAndReadsRanges) {
    if (!test::FtpTestServer::havePyftpdlib()) GTEST_SKIP() << "python3-pyftpdlib is not installed";
    test::FtpTestServer server;
    test::FtpTestServer::PyOptions o;
    o.loginMessage = kWelcome;
    ASSERT_TRUE(server.startPyftpdlib(www_.path(), o)) << server.lastError();

    QNFtpRequestSync c;
    ASSERT_EQ(c.connectToFtp("127.0.0.1", server.port(), "reader", "secret"), QNFtpRequestSync::kLoggedOn);
    // The welcome was read whole: the next reply is SIZE's own.
    EXPECT_EQ(c.getFilesize("book.cbz"), int64_t(book_.size()));
    EXPECT_EQ(c.getFilesize("missing.cbz"), -1);
    EXPECT_EQ(c.changeDir("/"), QNFtpRequestSync::kDirChanged);
    EXPECT_EQ(c.changeDir("/no such folder"), QNFtpRequestSync::kDirRefused);

    // A range: only its bytes, in chunks of at most 10240, then the
    // session is over.
    int rc = 0, chunks = 0;
    EXPECT_TRUE(fetch(c, "book.cbz", 1000, 100, &rc, &chunks) == book_.substr(1000, 100));
    EXPECT_EQ(rc, QNFtpRequestSync::kTransferDone);
    EXPECT_EQ(chunks, 1);
    EXPECT_EQ(c.getFilesize("book.cbz"), -1) << "the control connection ended with the range";

    ASSERT_EQ(c.connectToFtp("127.0.0.1", server.port(), "reader", "secret"), 0);
    EXPECT_TRUE(fetch(c, "book.cbz", 300000, 0, &rc) == book_.substr(300000));
    EXPECT_EQ(rc, QNFtpRequestSync::kTransferDone);
    // After a whole transfer the session goes on.
    EXPECT_TRUE(fetch(c, "book.cbz", 0, 262144, &rc) == book_.substr(0, 262144));
    EXPECT_EQ(rc, QNFtpRequestSync::kTransferDone);

    ASSERT_EQ(c.connectToFtp("127.0.0.1", server.port(), "reader", "secret"), 0);
    EXPECT_EQ(fetch(c, "missing.cbz", 0, 0, &rc), "");
    EXPECT_EQ(rc, QNFtpRequestSync::kTransferRefused);
    std::string list;
    EXPECT_EQ(c.getList(&list, 1 << 20), QNFtpRequestSync::kTransferDone);
    EXPECT_NE(list.find("book.cbz"), std::string::npos);
    EXPECT_EQ(c.getList(&list, 10), QNFtpRequestSync::kListTooLarge);
    c.disconnect();

    EXPECT_EQ(c.connectToFtp("127.0.0.1", server.port(), "reader", "wrong"), QNFtpRequestSync::kPasswordRefused);
    EXPECT_EQ(c.connectToFtp("127.0.0.1", server.port(), "anonymous", "leaf.bright"), 0);
    c.disconnect();
    EXPECT_EQ(c.connectToFtp("127.0.0.1", 1, "anonymous", "x"), QNFtpRequestSync::kConnectFailed);
}

TEST_F(QNFtpRequestSyncTest, VsftpdTakesOnlyTheRealAnonymousName) {
    if (!test::FtpTestServer::haveVsftpd()) GTEST_SKIP() << "vsftpd is not installed";
    test::FtpTestServer server;
    ASSERT_TRUE(server.startVsftpd(www_.path())) << server.lastError();
    QNFtpRequestSync c;
    EXPECT_NE(c.connectToFtp("127.0.0.1", server.port(), "anonymouse", "leaf.bright"), 0);
    ASSERT_EQ(c.connectToFtp("127.0.0.1", server.port(), "anonymous", "leaf.bright"), 0);
    EXPECT_EQ(c.getFilesize("book.cbz"), int64_t(book_.size()));
    int rc = 0;
    EXPECT_TRUE(fetch(c, "book.cbz", 599990, 10, &rc) == book_.substr(599990));
    EXPECT_EQ(rc, QNFtpRequestSync::kTransferDone);
}

TEST_F(QNFtpRequestSyncTest, DataGoesOnlyToTheControlConnectionsPeer) {
    if (!test::FtpTestServer::havePyftpdlib()) GTEST_SKIP() << "python3-pyftpdlib is not installed";
    test::FtpTestServer server;
    test::FtpTestServer::PyOptions o;
    // A documentation address: following it would fail (or reach a stranger).
    o.masqueradeAddress = "192.0.2.77";
    ASSERT_TRUE(server.startPyftpdlib(www_.path(), o)) << server.lastError();
    QNFtpRequestSync c;
    c.setTimeouts(3, 10);
    ASSERT_EQ(c.connectToFtp("127.0.0.1", server.port(), "reader", "secret"), 0);
    int rc = 0;
    EXPECT_TRUE(fetch(c, "book.cbz", 0, 0, &rc) == book_);
    EXPECT_EQ(rc, QNFtpRequestSync::kTransferDone);

    // Names cannot carry a second command.
    EXPECT_EQ(c.changeDir("/\r\nDELE book.cbz"), QNFtpRequestSync::kDirRefused);
    EXPECT_EQ(c.getFilesize(std::string("book.cbz\0x", 10)), -1);
    EXPECT_EQ(fetch(c, "book.cbz\nQUIT", 0, 0, &rc), "");
    EXPECT_EQ(rc, QNFtpRequestSync::kTransferRefused);
    EXPECT_EQ(c.getFilesize("book.cbz"), int64_t(book_.size())) << "the session is still in step";
}

TEST(QNFtpRequestSyncCancelTest, CancelFreesACallBlockedOnASilentServer) {
    // A server that takes the connection and never says a word.
    test::SilentServer silent;
    ASSERT_NE(silent.port(), 0);
    std::mutex m;
    std::condition_variable cv;
    int accepted = -1;
    std::thread acceptor([&] {
        const int fd = silent.accept(10);
        // USER goes out before the greeting is read: once it is here, the
        // client waits for a reply that never comes.
        std::string got;
        char c = 0;
        while (got.find("\r\n") == std::string::npos && ::recv(fd, &c, 1, 0) == 1) got += c;
        std::lock_guard<std::mutex> lock(m);
        accepted = fd;
        cv.notify_all();
    });

    QNFtpRequestSync c;
    auto call = std::async(std::launch::async,
                           [&] { return c.connectToFtp("127.0.0.1", silent.port(), "anonymous", "x"); });
    {
        std::unique_lock<std::mutex> lock(m);
        ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(10), [&] { return accepted >= 0; }));
    }
    c.cancel();
    ASSERT_EQ(call.wait_for(std::chrono::seconds(5)), std::future_status::ready) << "the blocked read woke";
    EXPECT_EQ(call.get(), QNFtpRequestSync::kNoReply);
    acceptor.join();
    ::close(accepted);
}

}  // namespace
