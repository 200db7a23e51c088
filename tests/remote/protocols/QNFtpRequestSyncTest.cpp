// Our FTP client against vsftpd and pyftpdlib on loopback: log-on through
// multi-line greetings and welcomes, at USER, and refused as busy; one
// session for many ranged reads (each stopped without ending the session),
// EPSV and the PASV fallback, MLSD where offered and LIST elsewhere, passive
// replies that name a foreign address, listings cut short, refused names
// and a cancel that frees a call blocked on a silent server.
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
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using Ftp = QNFtpRequestSync;

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

    std::string fetch(Ftp& c, const std::string& name, int64_t offset, int64_t length, int* rc,
                      int* chunks = nullptr) {
        std::string got;
        *rc = c.getFile(name, offset, length, [&](const char* d, size_t n) {
            got.append(d, n);
            if (chunks) ++*chunks;
            EXPECT_LE(n, Ftp::kMaxChunk);
            return true;
        });
        return got;
    }
    bool startPy(test::FtpTestServer& server, test::FtpTestServer::PyOptions o = {}) {
        if (!test::FtpTestServer::havePyftpdlib()) return false;
        o.statsFile = stats_.file("stats");
        EXPECT_TRUE(server.startPyftpdlib(www_.path(), o)) << server.lastError();
        return true;
    }
    test::FtpTestServer::Stats stats() const { return test::FtpTestServer::readStats(stats_.file("stats")); }

    test::TempDir www_{"ftproot"};
    test::TempDir stats_{"ftpstats"};
    std::string book_;
};

// A server that takes one session per address may still count the session
// of the readiness check that ended a moment ago: the first log-on waits,
// in real time, until the server has let it go.
int logOnWhenFree(Ftp& c, int port, const std::string& user, const std::string& password) {
    int rc = Ftp::kServerBusy;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (rc == Ftp::kServerBusy && std::chrono::steady_clock::now() < until) {
        rc = c.connectToFtp("127.0.0.1", port, user, password);
        if (rc == Ftp::kServerBusy) ::poll(nullptr, 0, 20);
    }
    return rc;
}

TEST(QNFtpRequestTest, PassiveRepliesAndStatusCodes) {
    int port = 0;
    EXPECT_EQ(QNFtpRequest::getAddressAndPortWithPassiveResponse("227 Entering Passive Mode (192,168,1,2,19,137).",
                                                                 &port),
              "192.168.1.2");
    EXPECT_EQ(port, 5001);
    // No port to connect to: a reply without numbers, port 0, a number that is no byte.
    port = 7;
    for (const char* bad : {"227 Entering Passive Mode", "227 (10,0,0,1,0,0)", "227 (10,0,0,1)", "227 (10,0,0,1,300,1)",
                            "227 (10,0,256,1,4,1)"}) {
        EXPECT_FALSE(QNFtpRequest::getAddressAndPortWithPassiveResponse(bad, &port)) << bad;
    }
    EXPECT_EQ(port, 7);
    EXPECT_EQ(QNFtpRequest::getAddressAndPortWithPassiveResponse("227 (10,0,0,1,4", &port), "10.0.0.1");
    EXPECT_EQ(port, 1024) << "a reply cut short counts the missing numbers as 0";
    EXPECT_FALSE(QNFtpRequest::getAddressAndPortWithPassiveResponse("227 (" + std::string(1000, '1') + ")", &port));

    EXPECT_EQ(QNFtpRequest::getPortWithExtendedPassiveResponse("229 Entering Extended Passive Mode (|||6446|)"), 6446);
    EXPECT_EQ(QNFtpRequest::getPortWithExtendedPassiveResponse("229 (!!!65535!)."), 65535);
    for (const char* bad : {"229 Entering Extended Passive Mode", "229 (|||0|)", "229 (|||65536|)", "229 (||6446|)",
                            "229 (|||6446)", "229 (|||6446!)", "229 (1116446|)", "229 (|||9999999|)", "229 (|||"}) {
        EXPECT_FALSE(QNFtpRequest::getPortWithExtendedPassiveResponse(bad)) << bad;
    }
    EXPECT_EQ(Ftp::ftpStatusCodeWithBuffer("230-Welcome"), 230);
    EXPECT_EQ(Ftp::ftpStatusCodeWithBuffer("22"), 22);
}

TEST_F(QNFtpRequestSyncTest, OneSessionReadsRangesListsAndGoesOn) {
    test::FtpTestServer server;
    test::FtpTestServer::PyOptions o;
    o.loginMessage = kWelcome;
    if (!startPy(server, o)) GTEST_SKIP() << "python3-pyftpdlib is not installed";

    Ftp c;
    ASSERT_EQ(c.connectToFtp("127.0.0.1", server.port(), "reader", "secret"), Ftp::kLoggedOn);
    EXPECT_TRUE(c.connected());
    EXPECT_TRUE(c.hasFeature("MLST") && c.hasFeature("UTF8") && c.hasFeature("EPSV"));
    // The welcome was read whole: the next reply is SIZE's own.
    EXPECT_EQ(c.getFilesize("book.cbz"), int64_t(book_.size()));
    EXPECT_EQ(c.getFilesize("missing.cbz"), -1);
    EXPECT_EQ(c.changeDir("/"), Ftp::kDirChanged);
    EXPECT_EQ(c.changeDir("/no such folder"), Ftp::kDirRefused);

    // A range: only its bytes, in chunks of at most 10240; the session goes on.
    int rc = 0, chunks = 0;
    EXPECT_TRUE(fetch(c, "book.cbz", 1000, 100, &rc, &chunks) == book_.substr(1000, 100));
    EXPECT_EQ(rc, Ftp::kTransferDone);
    EXPECT_EQ(chunks, 1);
    EXPECT_EQ(c.getFilesize("book.cbz"), int64_t(book_.size())) << "the session is in step after the range";
    EXPECT_TRUE(fetch(c, "book.cbz", 300000, 262144, &rc) == book_.substr(300000, 262144));
    EXPECT_EQ(rc, Ftp::kTransferDone);
    EXPECT_TRUE(fetch(c, "book.cbz", 300000, 0, &rc) == book_.substr(300000));
    EXPECT_EQ(rc, Ftp::kTransferDone);

    // A reader that wants no more stops the transfer, not the session.
    std::string part;
    rc = c.getFile("book.cbz", 0, 0, [&](const char* d, size_t n) {
        part.append(d, n);
        return part.size() < 50000;
    });
    EXPECT_EQ(rc, Ftp::kTransferStopped);
    EXPECT_TRUE(part == book_.substr(0, part.size()));
    EXPECT_TRUE(fetch(c, "book.cbz", 0, 0, &rc) == book_);
    EXPECT_EQ(rc, Ftp::kTransferDone);

    EXPECT_EQ(fetch(c, "missing.cbz", 0, 0, &rc), "");
    EXPECT_EQ(rc, Ftp::kTransferRefused);
    // MLSD where the server offers it: exact sizes in its facts.
    std::string list;
    EXPECT_EQ(c.getList(&list, 1 << 20), Ftp::kTransferDone);
    EXPECT_NE(list.find("size=600000;"), std::string::npos) << list;
    EXPECT_NE(list.find("; book.cbz"), std::string::npos) << list;
    EXPECT_EQ(c.getList(&list, 10), Ftp::kListTooLarge);
    EXPECT_EQ(c.getFilesize("book.cbz"), int64_t(book_.size()));
    EXPECT_TRUE(c.connected());
    EXPECT_EQ(stats().logOns, 1) << "all of that in one session";
    c.disconnect();
    EXPECT_FALSE(c.connected());

    EXPECT_EQ(c.connectToFtp("127.0.0.1", server.port(), "reader", "wrong"), Ftp::kPasswordRefused);
    EXPECT_EQ(c.connectToFtp("127.0.0.1", server.port(), "anonymous", "leaf.bright"), 0);
    c.disconnect();
    EXPECT_EQ(c.connectToFtp("127.0.0.1", 1, "anonymous", "x"), Ftp::kConnectFailed);
}

TEST_F(QNFtpRequestSyncTest, VsftpdTakesOnlyTheRealAnonymousNameAndListsWithList) {
    if (!test::FtpTestServer::haveVsftpd()) GTEST_SKIP() << "vsftpd is not installed";
    test::FtpTestServer server;
    ASSERT_TRUE(server.startVsftpd(www_.path())) << server.lastError();
    Ftp c;
    EXPECT_NE(c.connectToFtp("127.0.0.1", server.port(), "anonymouse", "leaf.bright"), 0);
    ASSERT_EQ(c.connectToFtp("127.0.0.1", server.port(), "anonymous", "leaf.bright"), 0);
    EXPECT_FALSE(c.hasFeature("MLST"));
    EXPECT_TRUE(c.hasFeature("EPSV"));
    EXPECT_EQ(c.getFilesize("book.cbz"), int64_t(book_.size()));
    int rc = 0;
    EXPECT_TRUE(fetch(c, "book.cbz", 599990, 10, &rc) == book_.substr(599990));
    EXPECT_EQ(rc, Ftp::kTransferDone);
    // A range that stops mid-file: vsftpd ends the transfer with 426 and
    // the session goes on.
    EXPECT_TRUE(fetch(c, "book.cbz", 1, 262144, &rc) == book_.substr(1, 262144));
    EXPECT_EQ(rc, Ftp::kTransferDone);
    std::string list;
    EXPECT_EQ(c.getList(&list, 1 << 20), Ftp::kTransferDone);
    EXPECT_NE(list.find(" book.cbz"), std::string::npos) << list;
    EXPECT_EQ(list.find("type="), std::string::npos) << "LIST, not MLSD";
    EXPECT_TRUE(fetch(c, "book.cbz", 0, 0, &rc) == book_);
    EXPECT_EQ(rc, Ftp::kTransferDone);
}

TEST_F(QNFtpRequestSyncTest, WithoutEpsvDataGoesOnlyToTheControlConnectionsPeer) {
    test::FtpTestServer server;
    test::FtpTestServer::PyOptions o;
    // A documentation address: following it would fail (or reach a stranger).
    o.masqueradeAddress = "192.0.2.77";
    o.cannedReplies["EPSV"] = "500 Command \"EPSV\" not understood.";
    // A DELE that reached the server would end the session.
    o.cannedReplies["DELE"] = "421 DELE seen.";
    if (!startPy(server, o)) GTEST_SKIP() << "python3-pyftpdlib is not installed";
    Ftp c;
    c.setTimeouts(3, 10);
    ASSERT_EQ(c.connectToFtp("127.0.0.1", server.port(), "reader", "secret"), 0);
    int rc = 0;
    EXPECT_TRUE(fetch(c, "book.cbz", 0, 0, &rc) == book_);
    EXPECT_EQ(rc, Ftp::kTransferDone);
    EXPECT_TRUE(fetch(c, "book.cbz", 5, 5, &rc) == book_.substr(5, 5));

    // Names cannot carry a second command.
    EXPECT_EQ(c.changeDir("/\r\nDELE book.cbz"), Ftp::kDirRefused);
    EXPECT_EQ(c.getFilesize(std::string("book.cbz\0x", 10)), -1);
    EXPECT_EQ(c.getFilesize("a.cbz\r\nDELE b.cbz"), -1);
    EXPECT_EQ(fetch(c, "book.cbz\nQUIT", 0, 0, &rc), "");
    EXPECT_EQ(rc, Ftp::kTransferRefused);
    EXPECT_EQ(fetch(c, "a.cbz\r\nDELE b.cbz", 0, 0, &rc), "");
    EXPECT_EQ(rc, Ftp::kTransferRefused);
    EXPECT_EQ(c.getFilesize("book.cbz"), int64_t(book_.size())) << "the session is still in step";
}

TEST_F(QNFtpRequestSyncTest, ADownloadEndedWithAnErrorIsNoWholeFile) {
    test::FtpTestServer server;
    test::FtpTestServer::PyOptions o;
    o.cutDownloadAfter = 5000;
    if (!startPy(server, o)) GTEST_SKIP() << "python3-pyftpdlib is not installed";
    Ftp c;
    ASSERT_EQ(c.connectToFtp("127.0.0.1", server.port(), "reader", "secret"), 0);
    int rc = 0;
    EXPECT_EQ(fetch(c, "book.cbz", 0, 0, &rc).size(), 5000u);
    EXPECT_EQ(rc, Ftp::kTransferBroken) << "part of the file, then 426";
    EXPECT_TRUE(fetch(c, "book.cbz", 0, 0, &rc) == book_) << "the session goes on";
    EXPECT_EQ(rc, Ftp::kTransferDone);
}

TEST_F(QNFtpRequestSyncTest, EpsvComesFirst) {
    // A server whose PASV is of no use (as behind a NAT or on IPv6).
    test::FtpTestServer server;
    test::FtpTestServer::PyOptions o;
    o.cannedReplies["PASV"] = "500 Command \"PASV\" not understood.";
    if (!startPy(server, o)) GTEST_SKIP() << "python3-pyftpdlib is not installed";
    Ftp c;
    ASSERT_EQ(c.connectToFtp("127.0.0.1", server.port(), "reader", "secret"), 0);
    int rc = 0;
    EXPECT_TRUE(fetch(c, "book.cbz", 0, 0, &rc) == book_);
    EXPECT_EQ(rc, Ftp::kTransferDone);
    std::string list;
    EXPECT_EQ(c.getList(&list, 1 << 20), Ftp::kTransferDone);
}

TEST_F(QNFtpRequestSyncTest, ListingsWithoutMlsdAndListingsCutShort) {
    for (int i = 0; i < 400; ++i) std::ofstream(www_.file("Volume " + std::to_string(1000 + i) + ".cbz")) << i;
    for (const char* reply : {"426 Connection closed; transfer aborted.", "451 Local error in processing."}) {
        for (bool mlsd : {true, false}) {
            SCOPED_TRACE(std::string(reply) + (mlsd ? " MLSD" : " LIST"));
            test::FtpTestServer server;
            test::FtpTestServer::PyOptions o;
            o.cutListingAfter = 3000;
            o.cutListingReply = reply;
            // FEAT offers MLST, but MLSD is not known after all: LIST.
            if (!mlsd) o.cannedReplies["MLSD"] = "500 Command \"MLSD\" not understood.";
            if (!startPy(server, o)) GTEST_SKIP() << "python3-pyftpdlib is not installed";
            Ftp c;
            ASSERT_EQ(c.connectToFtp("127.0.0.1", server.port(), "reader", "secret"), 0);
            std::string list;
            EXPECT_EQ(c.getList(&list, 1 << 20), Ftp::kTransferBroken) << "part of a listing is no listing";
            EXPECT_EQ(list.size(), 3000u);
            EXPECT_EQ(list.find("type=") != std::string::npos, mlsd) << list.substr(0, 200);
            // Not cut again: the whole listing.
            EXPECT_EQ(c.getList(&list, 1 << 20), Ftp::kTransferDone);
            EXPECT_NE(list.find("Volume 1399.cbz"), std::string::npos);
        }
    }
}

TEST_F(QNFtpRequestSyncTest, AnonymousLogOnAtUserAndBusyServers) {
    test::FtpTestServer atUser;
    test::FtpTestServer::PyOptions o;
    o.anonymousAtUser = true;
    if (!startPy(atUser, o)) GTEST_SKIP() << "python3-pyftpdlib is not installed";
    Ftp c;
    // 230 at USER: no PASS follows (pyftpdlib would refuse it as out of turn).
    ASSERT_EQ(c.connectToFtp("127.0.0.1", atUser.port(), "anonymous", "leaf.bright"), Ftp::kLoggedOn);
    EXPECT_EQ(c.getFilesize("book.cbz"), int64_t(book_.size()));
    c.disconnect();
    EXPECT_EQ(c.connectToFtp("127.0.0.1", atUser.port(), "reader", "secret"), Ftp::kLoggedOn);
    EXPECT_EQ(c.connectToFtp("127.0.0.1", atUser.port(), "reader", "wrong"), Ftp::kPasswordRefused);

    // A server that takes one session per address greets a second with 421:
    // busy, not a refused user.
    test::FtpTestServer one;
    o = {};
    o.maxSessionsPerIp = 1;
    ASSERT_TRUE(startPy(one, o));
    Ftp first, second;
    ASSERT_EQ(logOnWhenFree(first, one.port(), "reader", "secret"), Ftp::kLoggedOn);
    EXPECT_EQ(second.connectToFtp("127.0.0.1", one.port(), "reader", "secret"), Ftp::kServerBusy);
    first.disconnect();

    // 421 in answer to PASS: the server is going away, the password may be right.
    test::FtpTestServer closing;
    o = {};
    o.cannedReplies["PASS"] = "421 Service not available, closing control connection.";
    ASSERT_TRUE(startPy(closing, o));
    EXPECT_EQ(c.connectToFtp("127.0.0.1", closing.port(), "reader", "secret"), Ftp::kServerBusy);
    EXPECT_FALSE(c.connected());

    if (test::FtpTestServer::haveVsftpd()) {
        test::FtpTestServer vs;
        test::FtpTestServer::VsOptions v;
        v.maxSessionsPerIp = 1;
        ASSERT_TRUE(vs.startVsftpd(www_.path(), v)) << vs.lastError();
        ASSERT_EQ(logOnWhenFree(first, vs.port(), "anonymous", "x"), Ftp::kLoggedOn);
        EXPECT_EQ(second.connectToFtp("127.0.0.1", vs.port(), "anonymous", "x"), Ftp::kServerBusy);
    }
}

TEST(QNFtpRequestSyncCancelTest, CancelFreesACallBlockedOnASilentServer) {
    // A server that takes the connection and never says a word.
    test::SilentServer silent;
    ASSERT_NE(silent.port(), 0);
    Ftp c;
    auto call = std::async(std::launch::async,
                           [&] { return c.connectToFtp("127.0.0.1", silent.port(), "anonymous", "x"); });
    // Once accepted, the client waits for a greeting that never comes.
    const int fd = silent.accept(10);
    ASSERT_GE(fd, 0);
    c.cancel();
    ASSERT_EQ(call.wait_for(std::chrono::seconds(5)), std::future_status::ready) << "the blocked read woke";
    EXPECT_NE(call.get(), Ftp::kLoggedOn);
    EXPECT_FALSE(c.connected());
    ::close(fd);
}

}  // namespace
