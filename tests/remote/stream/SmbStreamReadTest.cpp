// Books read in place from SMB shares through the block cache: a cbz on
// smbd (signing required) read with each block fetched once and opened by
// the zip page reader from a guest share; a complete cache reused without a
// request; a missing file, a refused password, a folder and a close while
// blocks load.
#include "remote/stream/SmbStreamRead.h"

#include "engine/ImageLoader.h"
#include "engine/PageReaderZip.h"
#include "smb/CIFSStackClient.h"
#include "tests/support/TestHome.h"
#include "tests/support/VirtualClockTest.h"
#include "tests/support/net/SmbPeer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

using test::SmbPeer;
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

class SmbStreamReadTest : public test::VirtualClockTest {
protected:
    static void SetUpTestSuite() {
        CIFSStackClient::registerWithRemote();
        skip_ = SmbPeer::skipReason();
        if (skip_.empty() && (!test::haveProgram("zip") || !test::haveProgram("convert"))) skip_ = "no zip or convert";
        if (!skip_.empty()) return;
        pages_ = new test::TempDir("smbpages");
        peer_ = new SmbPeer;
        // Pages of noise (they do not compress), so the book spans blocks.
        for (int i = 0; i < 3; ++i) {
            const std::string name = "p" + std::to_string(i) + ".png";
            test::shell("convert -size 320x320 xc: +noise Random -seed " + std::to_string(i) + " '" +
                        pages_->file(name) + "'");
        }
        test::shell("cd '" + pages_->path() + "' && zip -q -0 '" + peer_->booksDir() + "/book.cbz' p*.png");
        test::shell("cp '" + peer_->booksDir() + "/book.cbz' '" + peer_->publicDir() + "/book.cbz'");
        book_ = readFile(peer_->booksDir() + "/book.cbz");
        if (!peer_->start("  server signing = mandatory\n")) error_ = peer_->error();
    }
    static void TearDownTestSuite() {
        delete peer_;
        delete pages_;
        peer_ = nullptr;
        pages_ = nullptr;
    }
    void SetUp() override {
        VirtualClockTest::SetUp();
        if (!skip_.empty()) GTEST_SKIP() << skip_;
        ASSERT_TRUE(error_.empty()) << error_;
        ASSERT_GT(book_.size(), 2 * BS);
        RemoteStreamRead::removeCache();
        SmbStreamRead::registerWithEngine();
    }
    void TearDown() override {
        RemoteStreamRead::registerStreamClass(RemoteStreamRead::kSMB, nullptr);
        RemoteStreamRead::removeCache();
        VirtualClockTest::TearDown();
    }
    static std::string url(const std::string& path) { return "smb://127.0.0.1:" + std::to_string(peer_->port()) + path; }
    std::shared_ptr<SmbStreamRead> open(const std::string& u, const std::string& user = SmbPeer::kUser,
                                        const std::string& pw = SmbPeer::kPassword) {
        auto s = std::dynamic_pointer_cast<SmbStreamRead>(
            RemoteStreamRead::newStreamWithProtocol(RemoteStreamRead::getProtocolWithURL(u)));
        EXPECT_TRUE(s) << "smb URLs get the SMB reader";
        if (s) {
            s->setUserName(user);
            s->setPassword(pw);
        }
        return s;
    }

    static inline SmbPeer* peer_ = nullptr;
    static inline test::TempDir* pages_ = nullptr;
    static inline std::string book_, skip_, error_;
};

TEST_F(SmbStreamReadTest, ReadsACbzInPlaceEachBlockOnce) {
    const std::string u = url("/books/book.cbz");
    auto s = open(u);
    ASSERT_TRUE(s);
    ASSERT_TRUE(s->openURL(u)) << std::hex << s->lastError();
    EXPECT_EQ(s->contentLength(), int64_t(book_.size()));
    const size_t tail = book_.size() - 100;
    EXPECT_TRUE(readAt(*s, int64_t(tail), 100) == book_.substr(tail));
    s->joinLoader();
    EXPECT_FALSE(s->isError());
    EXPECT_EQ(uint64_t(s->blockRequests()), (book_.size() - 1) / BS + 1) << "each block once";
    EXPECT_TRUE(readAt(*s, 0, book_.size()) == book_);
    s->closeURL();
    // A complete cache of the same version needs no request.
    auto again = open(u);
    ASSERT_TRUE(again->openURL(u));
    EXPECT_TRUE(readAt(*again, 5, 1000) == book_.substr(5, 1000));
    EXPECT_EQ(again->blockRequests(), 0);
}

TEST_F(SmbStreamReadTest, PageReaderOpensTheBookOnAGuestShare) {
    auto r = std::make_shared<PageReaderZip>();
    ASSERT_TRUE(r->openFile(url("/public/book.cbz"), std::nullopt, std::nullopt, false, false));
    ASSERT_EQ(r->getPageNameList().size(), 3u);
    int result = -1;
    auto image = r->newLoadAndCreateImage(1, result);
    ASSERT_EQ(result, PageReader::kResultImage);
    auto local = ImageLoader::imageWithAnyContentsOfFile(pages_->file("p1.png"));
    ASSERT_TRUE(image && local);
    ASSERT_EQ(image->width(), local->width());
    ASSERT_EQ(image->height(), local->height());
    EXPECT_EQ(std::memcmp(image->pixels(), local->pixels(), size_t(local->width()) * size_t(local->height()) * 4), 0);
    r->closeFile();
}

TEST_F(SmbStreamReadTest, MissingFilesRefusedUsersAndCloseWhileLoading) {
    auto missing = open(url("/books/missing.cbz"));
    EXPECT_FALSE(missing->openURL(url("/books/missing.cbz")));
    EXPECT_TRUE(missing->isError());
    EXPECT_EQ(missing->lastError(), SmbStackClient::kErrorNotFound);

    auto refused = open(url("/books/book.cbz"), SmbPeer::kUser, "wrong");
    EXPECT_FALSE(refused->openURL(url("/books/book.cbz")));
    EXPECT_TRUE(refused->isError());
    EXPECT_EQ(refused->lastError(), SmbStackClient::kErrorLogonFailure);

    // A folder is no book.
    EXPECT_FALSE(open(url("/books"))->openURL(url("/books")));

    // A close while the loader runs returns at once and stops it.
    auto s = open(url("/books/book.cbz"));
    ASSERT_TRUE(s->openURL(url("/books/book.cbz")));
    s->closeURL();
    EXPECT_FALSE(s->loaderRunning());
    EXPECT_EQ(readAt(*s, 0, 10), "");
}

TEST_F(SmbStreamReadTest, A200MiBFileIsReadInPlaceOnlyWhereAsked) {
    // Sparse, with noise where the reads go, so a misplaced block shows.
    constexpr int64_t kHuge = 200LL * 1024 * 1024 + 333;
    const std::string path = peer_->booksDir() + "/huge.cbz";
    { std::ofstream(path, std::ios::binary | std::ios::trunc); }
    std::filesystem::resize_file(path, uintmax_t(kHuge));
    const std::vector<int64_t> spots = {kHuge - 70'000, 104'857'599, 3 * int64_t(BS) - 5};
    {
        std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
        for (size_t i = 0; i < spots.size(); ++i) {
            const auto bytes = SmbPeer::noise(60'000, uint32_t(40 + i));
            f.seekp(spots[i] + 3);
            f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        }
    }
    auto expectedAt = [&](int64_t at, size_t n) {
        std::ifstream in(path, std::ios::binary);
        std::string out(n, '\0');
        in.seekg(at);
        in.read(out.data(), std::streamsize(n));
        out.resize(size_t(in.gcount()));
        return out;
    };
    const std::string u = url("/books/huge.cbz");
    auto s = open(u);
    ASSERT_TRUE(s);
    ASSERT_TRUE(s->openURL(u)) << std::hex << s->lastError();
    EXPECT_EQ(s->contentLength(), kHuge);
    // Read from a worker, as the page readers do: it wakes as each block lands.
    std::vector<std::string> got;
    std::thread reader([&] {
        for (int64_t at : spots) got.push_back(readAt(*s, at, 60'010));
        got.push_back(readAt(*s, kHuge - 10, 100));
    });
    reader.join();
    ASSERT_EQ(got.size(), spots.size() + 1);
    for (size_t i = 0; i < spots.size(); ++i) EXPECT_TRUE(got[i] == expectedAt(spots[i], 60'010)) << "at " << spots[i];
    EXPECT_TRUE(got.back() == expectedAt(kHuge - 10, 10));
    // Only the blocks asked for (and what the loader managed meanwhile), not the whole file first.
    EXPECT_LT(uint64_t(s->blockRequests()), uint64_t(kHuge) / BS / 4);
    s->closeURL();
    EXPECT_FALSE(s->loaderRunning());
    std::error_code ec;
    std::filesystem::remove(path, ec);
}

}  // namespace
