// Books read in place from FTP servers through the block cache: a cbz on
// vsftpd opened by the zip page reader, each block fetched once with REST
// and a RETR stopped at the block's end; a complete cache served without the
// server; a server without the file, a user the server refuses, and a close
// while blocks are on their way.
#include "remote/stream/FtpStreamRead.h"

#include "engine/ImageLoader.h"
#include "engine/PageReaderZip.h"
#include "tests/support/TestHome.h"
#include "tests/support/VirtualClockTest.h"
#include "tests/remote/stream/StreamReadChecks.h"
#include "tests/support/net/FtpTestServer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <random>
#include <sstream>

namespace {

constexpr uint64_t BS = RemoteStreamRead::kBlockSize;

using test::readAt;

class FtpStreamReadTest : public test::VirtualClockTest {
protected:
    void SetUp() override {
        VirtualClockTest::SetUp();
        if (!test::FtpTestServer::haveVsftpd()) GTEST_SKIP() << "vsftpd is not installed";
        if (!test::haveProgram("zip") || !test::haveProgram("convert")) GTEST_SKIP() << "no zip or convert";
        RemoteStreamRead::removeCache();
        FtpStreamRead::registerWithEngine();
        ASSERT_TRUE(test::makeNoiseBook(pages_, www_.file("book.cbz")));
        book_ = test::readFile(www_.file("book.cbz"));
        ASSERT_TRUE(server_.startVsftpd(www_.path())) << server_.lastError();
    }
    void TearDown() override {
        RemoteStreamRead::registerStreamClass(RemoteStreamRead::kFTP, nullptr);
        RemoteStreamRead::removeCache();
        VirtualClockTest::TearDown();
    }
    std::shared_ptr<FtpStreamRead> open(const std::string& url) { return test::streamFor<FtpStreamRead>(url); }

    test::TempDir www_{"ftpbooks"};
    test::TempDir pages_{"ftppages"};
    std::string book_;
    test::FtpTestServer server_;
};

TEST_F(FtpStreamReadTest, ReadsACbzInPlaceEachBlockOnce) {
    const std::string url = server_.url("/book.cbz");
    auto s = open(url);
    ASSERT_TRUE(s);
    ASSERT_TRUE(s->openURL(url));
    EXPECT_EQ(s->contentLength(), int64_t(book_.size()));
    ASSERT_GT(book_.size(), 2 * BS);
    test::expectEachBlockReadOnce(*s, book_);

    // A complete cache needs no server.
    server_.stop();
    test::expectServedFromCache(*open(url), url, book_);
}

TEST_F(FtpStreamReadTest, PageReaderOpensTheBookOverFtp) {
    test::expectNoiseBookPage(server_.url("/book.cbz"), pages_);
}

TEST_F(FtpStreamReadTest, MissingFilesRefusedUsersAndCloseWhileLoading) {
    auto missing = open(server_.url("/missing.cbz"));
    EXPECT_FALSE(missing->openURL(server_.url("/missing.cbz")));
    EXPECT_TRUE(missing->isUnsupportedFtp() || missing->contentLength() == 0);

    auto refused = open(server_.url("/book.cbz"));
    refused->setUserName("nobody");
    refused->setPassword("x");
    EXPECT_FALSE(refused->openURL(server_.url("/book.cbz")));
    EXPECT_TRUE(refused->isError());

    RemoteStreamRead::removeCache();
    test::expectCloseStopsLoader(*open(server_.url("/book.cbz")), server_.url("/book.cbz"));
}

}  // namespace
