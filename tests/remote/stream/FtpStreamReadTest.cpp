// Books read in place from FTP servers through the block cache, one session
// per open book: a cbz on vsftpd opened by the zip page reader; a book read
// whole on pyftpdlib with one log-on and about its size sent; a seek that
// breaks the transfer off once; a server that drops the session (logged on
// again) and a file that shrinks under the reader (an error, not a loader
// asking for ever); a complete cache served without the server; a server
// without the file, a user the server refuses, and a close while blocks are
// on their way.
#include "remote/stream/FtpStreamRead.h"

#include "engine/ImageLoader.h"
#include "engine/PageReaderZip.h"
#include "tests/remote/stream/StreamReadChecks.h"
#include "tests/support/TestHome.h"
#include "tests/support/VirtualClockTest.h"
#include "tests/support/net/FtpTestServer.h"
#include "remote/protocols/QNFtpRequestSync.h"
#include "platform/core/Clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <poll.h>
#include <random>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace {

constexpr uint64_t BS = RemoteStreamRead::kBlockSize;

using test::readAt;

std::string noise(size_t n, uint32_t seed) {
    std::mt19937 rng{seed};
    std::string s(n, '\0');
    for (auto& c : s) c = char(rng());
    return s;
}

class FtpStreamReadTest : public test::VirtualClockTest {
protected:
    void SetUp() override {
        VirtualClockTest::SetUp();
        RemoteStreamRead::removeCache();
        FtpStreamRead::registerWithEngine();
    }
    void TearDown() override {
        RemoteStreamRead::registerStreamClass(RemoteStreamRead::kFTP, nullptr);
        RemoteStreamRead::removeCache();
        VirtualClockTest::TearDown();
    }
    std::shared_ptr<FtpStreamRead> open(const std::string& url) { return test::streamFor<FtpStreamRead>(url); }
    bool startPy(test::FtpTestServer::PyOptions o = {}) {
        if (!test::FtpTestServer::havePyftpdlib()) return false;
        o.statsFile = stats_.file("stats");
        EXPECT_TRUE(server_.startPyftpdlib(www_.path(), o)) << server_.lastError();
        return true;
    }
    test::FtpTestServer::Stats stats() const { return test::FtpTestServer::readStats(stats_.file("stats")); }
    // Waits in real time (the loader talks to a real server) for the loader to end.
    static bool loaderEnds(BlockLoaderStreamRead& s, double seconds) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (s.loaderRunning() && std::chrono::steady_clock::now() < until) ::poll(nullptr, 0, 10);
        return !s.loaderRunning();
    }

    // Waits in real time (for a thread or a real server) until `done`.
    template <class Done>
    static bool until(Done done, double seconds) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (!done() && std::chrono::steady_clock::now() < end) ::poll(nullptr, 0, 5);
        return done();
    }

    test::TempDir www_{"ftpbooks"};
    test::TempDir pages_{"ftppages"};
    test::TempDir stats_{"ftpstats"};
    test::FtpTestServer server_;
};

TEST_F(FtpStreamReadTest, VsftpdServesACbzToThePageReaderAndACompleteCacheNeedsNoServer) {
    if (!test::FtpTestServer::haveVsftpd()) GTEST_SKIP() << "vsftpd is not installed";
    if (!test::haveProgram("zip") || !test::haveProgram("convert")) GTEST_SKIP() << "no zip or convert";
    ASSERT_TRUE(test::makeNoiseBook(pages_, www_.file("book.cbz")));
    const std::string book = test::readFile(www_.file("book.cbz"));
    ASSERT_GT(book.size(), 2 * BS);
    ASSERT_TRUE(server_.startVsftpd(www_.path())) << server_.lastError();
    const std::string url = server_.url("/book.cbz");
    test::expectNoiseBookPage(url, pages_);

    RemoteStreamRead::removeCache();
    auto s = open(url);
    ASSERT_TRUE(s->openURL(url));
    EXPECT_EQ(s->contentLength(), int64_t(book.size()));
    EXPECT_TRUE(readAt(*s, int64_t(book.size() - 100), 100) == book.substr(book.size() - 100));
    s->joinLoader();
    EXPECT_FALSE(s->isError());
    EXPECT_EQ(s->logOns(), 1);
    EXPECT_TRUE(readAt(*s, 0, book.size()) == book);
    s->closeURL();
    // A complete cache needs no server.
    server_.stop();
    test::expectServedFromCache(*open(url), url, book);
}

TEST_F(FtpStreamReadTest, ABookIsReadOnOneSessionWithAboutItsSizeSent) {
    const std::string book = noise(20 * BS + 1234, 3);
    std::ofstream(www_.file("book.cbz"), std::ios::binary) << book;
    test::FtpTestServer::PyOptions o;
    // Logs anonymous users on at USER.
    o.anonymousAtUser = true;
    if (!startPy(o)) GTEST_SKIP() << "python3-pyftpdlib is not installed";
    const std::string url = server_.url("/book.cbz");
    auto s = open(url);
    ASSERT_TRUE(s->openURL(url));
    // The end first (as a zip reader does), then the loader reads on from
    // the start in one transfer.
    EXPECT_TRUE(readAt(*s, int64_t(book.size() - 100), 100) == book.substr(book.size() - 100));
    EXPECT_TRUE(readAt(*s, 0, 1000) == book.substr(0, 1000));
    s->joinLoader();
    EXPECT_FALSE(s->isError());
    EXPECT_TRUE(readAt(*s, 0, book.size()) == book);
    s->closeURL();
    EXPECT_EQ(s->logOns(), 1);
    EXPECT_EQ(stats().logOns, 1);
    EXPECT_LE(s->blockRequests(), 3) << "transfers, not one per block";
    // Each byte once, but for one transfer broken off (what the receive
    // buffer held then: the kernel gives it twice the size asked for) and
    // the short last block read a second time.
    EXPECT_GE(stats().bytesSent, int64_t(book.size()));
    EXPECT_LE(stats().bytesSent, int64_t(book.size() + 2 * FtpStreamRead::kDataReceiveBuffer + BS));
}

TEST_F(FtpStreamReadTest, ASeekBreaksTheTransferOffOnceAndTheSessionGoesOn) {
    // The loader talks to a real server: real time.
    sys::Clock::setVirtual(false);
    const std::string book = noise(12 * BS, 5);
    std::ofstream(www_.file("book.cbz"), std::ios::binary) << book;
    test::FtpTestServer::PyOptions o;
    // Each download sends one block, then waits for the test: the loader
    // is still at the start when the reader jumps ahead.
    o.holdDownloadsAfter = int64_t(BS);
    if (!startPy(o)) GTEST_SKIP() << "python3-pyftpdlib is not installed";
    const std::string url = server_.url("/book.cbz");
    auto s = open(url);
    ASSERT_TRUE(s->openURL(url));
    EXPECT_TRUE(readAt(*s, 10, 100) == book.substr(10, 100));
    EXPECT_FALSE(s->isBlockCached(9));
    // The jump, read on a thread of its own: once the read waits for block
    // 9, the first download goes on and the loader breaks it off.
    std::string far;
    std::thread reader([&] { far = readAt(*s, int64_t(9 * BS + 5), 100); });
    EXPECT_TRUE(until([&] { return s->waitForReadByte() && s->blockNeed() == 9; }, 20)) << "the read waits";
    server_.releaseDownloads(1);
    reader.join();
    EXPECT_TRUE(far == book.substr(9 * BS + 5, 100));
    for (uint64_t b = 1; b < 9; ++b)
        EXPECT_FALSE(s->isBlockCached(b)) << b << ": the loader jumped to the block wanted, not read its way there";
    server_.releaseDownloads(1000);
    s->joinLoader();
    EXPECT_FALSE(s->isError());
    EXPECT_TRUE(readAt(*s, 0, book.size()) == book);
    s->closeURL();
    EXPECT_EQ(stats().logOns, 1);
    // From the start, from the seek, and back for the blocks in between.
    EXPECT_EQ(s->blockRequests(), 3);
    EXPECT_LE(stats().bytesSent, int64_t(book.size() * 3 / 2));
}

TEST_F(FtpStreamReadTest, AServerThatDropsTheSessionIsLoggedOnAgainAndAShrunkFileEndsInAnError) {
    const std::string book = noise(6 * BS, 9);
    std::ofstream(www_.file("book.cbz"), std::ios::binary) << book;
    test::FtpTestServer::PyOptions o;
    // The first download: 300,000 bytes, then both connections close.
    o.dropFirstDownloadAfter = 300000;
    if (!startPy(o)) GTEST_SKIP() << "python3-pyftpdlib is not installed";
    const std::string url = server_.url("/book.cbz");
    auto s = open(url);
    ASSERT_TRUE(s->openURL(url));
    EXPECT_TRUE(readAt(*s, int64_t(5 * BS), 100) == book.substr(5 * BS, 100));
    s->joinLoader();
    EXPECT_FALSE(s->isError());
    EXPECT_TRUE(readAt(*s, 0, book.size()) == book);
    s->closeURL();
    EXPECT_EQ(s->logOns(), 2) << "once, and again after the server hung up";
    EXPECT_EQ(stats().logOns, 2);

    // A server that says the file is twice as long as it is (as when it
    // shrank after the stream opened): the blocks past its end are an
    // error, not asked for again and again.
    RemoteStreamRead::removeCache();
    test::FtpTestServer lying;
    o = {};
    o.cannedReplies["SIZE"] = "213 " + std::to_string(book.size() * 2);
    ASSERT_TRUE(lying.startPyftpdlib(www_.path(), o)) << lying.lastError();
    auto shrunk = open(lying.url("/book.cbz"));
    ASSERT_TRUE(shrunk->openURL(lying.url("/book.cbz")));
    EXPECT_EQ(shrunk->contentLength(), int64_t(book.size() * 2));
    EXPECT_EQ(readAt(*shrunk, int64_t(book.size() + 5), 100), "");
    EXPECT_TRUE(loaderEnds(*shrunk, 20)) << "the loader gave up";
    EXPECT_TRUE(shrunk->isError());
    shrunk->closeURL();

    // One that says it is shorter than it is (as when it grew): the transfer
    // ends at the length opened, and nothing past it enters the cache.
    RemoteStreamRead::removeCache();
    test::FtpTestServer grown;
    const size_t opened = 3 * BS + 100;
    o.cannedReplies["SIZE"] = "213 " + std::to_string(opened);
    ASSERT_TRUE(grown.startPyftpdlib(www_.path(), o)) << grown.lastError();
    auto longer = open(grown.url("/book.cbz"));
    ASSERT_TRUE(longer->openURL(grown.url("/book.cbz")));
    EXPECT_TRUE(readAt(*longer, int64_t(opened - 50), 50) == book.substr(opened - 50, 50));
    EXPECT_TRUE(loaderEnds(*longer, 20)) << "the transfer went on past the length opened";
    EXPECT_FALSE(longer->isError());
    EXPECT_TRUE(longer->isCacheComplete());
    EXPECT_TRUE(readAt(*longer, 0, opened) == book.substr(0, opened));
    longer->closeURL();
}

TEST_F(FtpStreamReadTest, MissingFilesRefusedUsersAndCloseWhileLoading) {
    if (!test::FtpTestServer::haveVsftpd()) GTEST_SKIP() << "vsftpd is not installed";
    std::ofstream(www_.file("book.cbz"), std::ios::binary) << noise(3 * BS, 1);
    ASSERT_TRUE(server_.startVsftpd(www_.path())) << server_.lastError();
    auto missing = open(server_.url("/missing.cbz"));
    EXPECT_FALSE(missing->openURL(server_.url("/missing.cbz")));
    EXPECT_TRUE(missing->isError());
    EXPECT_FALSE(missing->isUnsupportedFtp()) << "SIZE works, the file is not there";

    auto refused = open(server_.url("/book.cbz"));
    refused->setUserName("nobody");
    refused->setPassword("x");
    EXPECT_FALSE(refused->openURL(server_.url("/book.cbz")));
    EXPECT_TRUE(refused->isError());

    RemoteStreamRead::removeCache();
    test::expectCloseStopsLoader(*open(server_.url("/book.cbz")), server_.url("/book.cbz"));
}

}  // namespace

namespace {

TEST_F(FtpStreamReadTest, BusyServersAndServersThatCannotSendPartsOfAFile) {
    std::ofstream(www_.file("book.cbz"), std::ios::binary) << noise(3 * BS, 1);
    if (!test::FtpTestServer::havePyftpdlib()) GTEST_SKIP() << "python3-pyftpdlib is not installed";
    // One session per address, taken: the stream's log-on is greeted with 421.
    test::FtpTestServer full;
    test::FtpTestServer::PyOptions o;
    o.maxSessionsPerIp = 1;
    ASSERT_TRUE(full.startPyftpdlib(www_.path(), o)) << full.lastError();
    QNFtpRequestSync holder;
    int rc = QNFtpRequestSync::kServerBusy;
    // The readiness check's session may not be gone yet.
    for (int i = 0; i < 100 && rc == QNFtpRequestSync::kServerBusy; ++i) {
        rc = holder.connectToFtp("127.0.0.1", full.port(), "reader", "secret");
        if (rc == QNFtpRequestSync::kServerBusy) ::poll(nullptr, 0, 20);
    }
    ASSERT_EQ(rc, QNFtpRequestSync::kLoggedOn);
    auto busy = open(full.url("/book.cbz"));
    EXPECT_FALSE(busy->openURL(full.url("/book.cbz")));
    EXPECT_TRUE(busy->isServerBusy());
    EXPECT_FALSE(busy->isUnsupportedFtp());
    // The page reader says so of the book, for the reading screen to tell.
    auto reader = std::make_shared<PageReaderZip>();
    EXPECT_FALSE(reader->openFile(full.url("/book.cbz"), std::nullopt, std::nullopt, false, false));
    EXPECT_TRUE(reader->isServerBusy());
    EXPECT_FALSE(reader->isUnsupportedServer());
    holder.disconnect();

    // Without SIZE the stream cannot know where the book ends; without
    // REST it can read only from the start. The loader talks to a real
    // server: real time.
    sys::Clock::setVirtual(false);
    std::ofstream(www_.file("book.cbz"), std::ios::binary) << noise(12 * BS, 1);
    for (const char* command : {"SIZE", "REST"}) {
        test::FtpTestServer noParts;
        o = {};
        o.cannedReplies[command] = std::string("502 Command \"") + command + "\" not implemented.";
        // The download from the start holds after its first block, so the
        // loader is still there when the end is asked for.
        o.holdDownloadsAfter = int64_t(BS);
        ASSERT_TRUE(noParts.startPyftpdlib(www_.path(), o)) << noParts.lastError();
        RemoteStreamRead::removeCache();
        auto s = open(noParts.url("/book.cbz"));
        if (s->openURL(noParts.url("/book.cbz"))) {
            // The end, far from the start the loader reads from.
            std::string end = "unread";
            std::thread reader([&] { end = readAt(*s, int64_t(11 * BS), 10); });
            EXPECT_TRUE(until([&] { return s->waitForReadByte() && s->blockNeed() == 11; }, 20)) << "the read waits";
            noParts.releaseDownloads(1000);
            reader.join();
            EXPECT_EQ(end, "");
        }
        EXPECT_TRUE(s->isUnsupportedFtp()) << command;
        EXPECT_FALSE(s->isServerBusy());
        s->closeURL();
    }
}

}  // namespace
