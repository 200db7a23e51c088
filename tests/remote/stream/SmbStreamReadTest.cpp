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
#include "tests/remote/stream/StreamReadChecks.h"
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

using test::readAt;

class SmbStreamReadTest : public test::VirtualClockTest {
protected:
    static void SetUpTestSuite() {
        CIFSStackClient::registerWithRemote();
        skip_ = SmbPeer::skipReason();
        if (skip_.empty() && (!test::haveProgram("zip") || !test::haveProgram("convert"))) skip_ = "no zip or convert";
        if (!skip_.empty()) return;
        pages_ = new test::TempDir("smbpages");
        peer_ = new SmbPeer;
        test::makeNoiseBook(*pages_, peer_->booksDir() + "/book.cbz");
        test::shell("cp '" + peer_->booksDir() + "/book.cbz' '" + peer_->publicDir() + "/book.cbz'");
        book_ = test::readFile(peer_->booksDir() + "/book.cbz");
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
        auto s = test::streamFor<SmbStreamRead>(u);
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
    test::expectEachBlockReadOnce(*s, book_);
    // A complete cache of the same version needs no request.
    test::expectServedFromCache(*open(u), u, book_);
}

TEST_F(SmbStreamReadTest, PageReaderOpensTheBookOnAGuestShare) {
    test::expectNoiseBookPage(url("/public/book.cbz"), *pages_);
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

    test::expectCloseStopsLoader(*open(url("/books/book.cbz")), url("/books/book.cbz"));
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
    peer_->openUp();
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
