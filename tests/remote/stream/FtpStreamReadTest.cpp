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
#include "tests/support/net/FtpTestServer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <random>
#include <sstream>

namespace {

constexpr uint64_t BS = RemoteStreamRead::kBlockSize;

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string readAt(RemoteStreamRead& s, int64_t offset, size_t n) {
    std::string out(n, '\0');
    out.resize(size_t(s.readByte(out.data(), offset, n)));
    return out;
}

class FtpStreamReadTest : public test::VirtualClockTest {
protected:
    void SetUp() override {
        VirtualClockTest::SetUp();
        if (!test::FtpTestServer::haveVsftpd()) GTEST_SKIP() << "vsftpd is not installed";
        if (!test::haveProgram("zip") || !test::haveProgram("convert")) GTEST_SKIP() << "no zip or convert";
        RemoteStreamRead::removeCache();
        FtpStreamRead::registerWithEngine();
        // Pages of noise (they do not compress), so the book spans blocks.
        for (int i = 0; i < 3; ++i) {
            const std::string name = "p" + std::to_string(i) + ".png";
            ASSERT_EQ(test::shell("convert -size 320x320 xc: +noise Random -seed " + std::to_string(i) + " '" +
                                  pages_.file(name) + "'"),
                      0);
        }
        ASSERT_EQ(test::shell("cd '" + pages_.path() + "' && zip -q -0 '" + www_.file("book.cbz") + "' p*.png"), 0);
        book_ = readFile(www_.file("book.cbz"));
        ASSERT_TRUE(server_.startVsftpd(www_.path())) << server_.lastError();
    }
    void TearDown() override {
        RemoteStreamRead::registerStreamClass(RemoteStreamRead::kFTP, nullptr);
        RemoteStreamRead::removeCache();
        VirtualClockTest::TearDown();
    }
    std::shared_ptr<FtpStreamRead> open(const std::string& url) {
        auto s = std::dynamic_pointer_cast<FtpStreamRead>(
            RemoteStreamRead::newStreamWithProtocol(RemoteStreamRead::getProtocolWithURL(url)));
        EXPECT_TRUE(s) << "ftp URLs get the FTP reader";
        return s;
    }

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
    const size_t tail = book_.size() - 100;
    EXPECT_TRUE(readAt(*s, int64_t(tail), 100) == book_.substr(tail));
    s->joinLoader();
    EXPECT_FALSE(s->isError());
    EXPECT_EQ(uint64_t(s->blockRequests()), (book_.size() - 1) / BS + 1) << "each block once";
    EXPECT_TRUE(readAt(*s, 0, book_.size()) == book_);
    s->closeURL();

    // A complete cache needs no server.
    server_.stop();
    auto again = open(url);
    ASSERT_TRUE(again->openURL(url));
    EXPECT_TRUE(readAt(*again, 5, 1000) == book_.substr(5, 1000));
    EXPECT_EQ(again->blockRequests(), 0);
}

TEST_F(FtpStreamReadTest, PageReaderOpensTheBookOverFtp) {
    auto r = std::make_shared<PageReaderZip>();
    ASSERT_TRUE(r->openFile(server_.url("/book.cbz"), std::nullopt, std::nullopt, false, false));
    ASSERT_EQ(r->getPageNameList().size(), 3u);
    int result = -1;
    auto image = r->newLoadAndCreateImage(1, result);
    ASSERT_EQ(result, PageReader::kResultImage);
    auto local = ImageLoader::imageWithAnyContentsOfFile(pages_.file("p1.png"));
    ASSERT_TRUE(image && local);
    ASSERT_EQ(image->width(), local->width());
    ASSERT_EQ(image->height(), local->height());
    EXPECT_EQ(std::memcmp(image->pixels(), local->pixels(), size_t(local->width()) * size_t(local->height()) * 4), 0);
    r->closeFile();
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

    // A close while the loader runs returns at once and stops it.
    RemoteStreamRead::removeCache();
    auto s = open(server_.url("/book.cbz"));
    ASSERT_TRUE(s->openURL(server_.url("/book.cbz")));
    s->closeURL();
    EXPECT_FALSE(s->loaderRunning());
    EXPECT_EQ(readAt(*s, 0, 10), "");
}

}  // namespace
