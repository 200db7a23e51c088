// Books read in place from SMB shares through the block cache: a cbz on
// smbd (signing required) read with each block fetched once and opened by
// the zip page reader from a guest share; the same from a server that speaks
// only SMB1, with the default setting; a complete cache reused without a
// request; a missing file, a refused password, a folder, a close while
// blocks load, and a file that shrinks while it is read.
#include "remote/stream/SmbStreamRead.h"

#include "engine/ImageLoader.h"
#include "foundation/Settings.h"
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
#include <future>
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
        old_ = new SmbPeer;
        test::shell("cp '" + peer_->booksDir() + "/book.cbz' '" + old_->booksDir() + "/book.cbz'");
        test::shell("cp '" + peer_->booksDir() + "/book.cbz' '" + old_->publicDir() + "/book.cbz'");
        if (!old_->start("  server min protocol = NT1\n  server max protocol = NT1\n")) error_ += old_->error();
        settingsDir_ = new test::TempDir("smbstreamsettings");
        settings_ = std::make_shared<Settings>(settingsDir_->path());
        settings_->readFromFile();
    }
    static void TearDownTestSuite() {
        delete peer_;
        delete old_;
        delete pages_;
        settings_.reset();
        delete settingsDir_;
        peer_ = old_ = nullptr;
        pages_ = settingsDir_ = nullptr;
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
            s->setSettings(settings_);
        }
        return s;
    }

    static inline SmbPeer* peer_ = nullptr;
    static inline SmbPeer* old_ = nullptr;
    // The default settings: "auto" chooses the client per server.
    static inline test::TempDir* settingsDir_ = nullptr;
    static inline std::shared_ptr<Settings> settings_;
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

TEST_F(SmbStreamReadTest, BooksOnAnSmb1ServerAreReadInPlace) {
    const std::string u = "smb://" + old_->server() + "/books/book.cbz";
    auto s = open(u);
    ASSERT_TRUE(s);
    ASSERT_TRUE(s->openURL(u)) << std::hex << s->lastError();
    EXPECT_EQ(s->contentLength(), int64_t(book_.size()));
    test::expectEachBlockReadOnce(*s, book_);
    test::expectNoiseBookPage("smb://" + old_->server() + "/public/book.cbz", *pages_, settings_);
    // A wrong password is told as our SMB1 client's refusal.
    auto refused = open(u, SmbPeer::kUser, "wrong");
    EXPECT_FALSE(refused->openURL(u));
    EXPECT_TRUE(refused->isError());
    EXPECT_EQ(refused->lastError(), SmbStackClient::kErrorLogonFailure);
}

// A file cut short on the server while it is read in place: the pages past
// its new end fail, and the loader stops, on either kind of server. (smbd
// answers a large SMB1 read past the new end with zeros: those blocks come,
// but the cache is not kept as the complete book.)
TEST_F(SmbStreamReadTest, AFileThatShrinksWhileReadEndsInAnError) {
    for (SmbPeer* peer : {peer_, old_}) {
        SCOPED_TRACE(peer == old_ ? "SMB1" : "SMB2");
        RemoteStreamRead::removeCache();
        constexpr int64_t kLength = 24LL * 1024 * 1024;
        const std::string path = peer->booksDir() + "/shrinking.cbz";
        { std::ofstream(path, std::ios::binary | std::ios::trunc); }
        std::filesystem::resize_file(path, uintmax_t(kLength));
        peer->openUp();
        const std::string u = "smb://" + peer->server() + "/books/shrinking.cbz";
        auto s = open(u);
        ASSERT_TRUE(s->openURL(u)) << std::hex << s->lastError();
        std::filesystem::resize_file(path, uintmax_t(BS * 2));
        auto tail = std::async(std::launch::async, [&] { return readAt(*s, kLength - 1000, 1000); });
        if (tail.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
            s->closeURL();
            FAIL() << "the read past the new end still waits (" << s->blockRequests() << " block requests)";
        }
        const std::string got = tail.get();
        if (peer == peer_) {
            EXPECT_EQ(got, "");
        }
        auto loader = std::async(std::launch::async, [&] { s->joinLoader(); });
        if (loader.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
            s->closeURL();
            FAIL() << "the loader asked on and on (" << s->blockRequests() << " block requests)";
        }
        EXPECT_TRUE(s->isError());
        EXPECT_LE(s->blockRequests(), int(kLength / BS));
        // Nothing of it is kept as the whole book (a next opening would read
        // a complete cache without asking the server).
        EXPECT_FALSE(s->isCacheComplete());
        s->closeURL();
        std::error_code ec;
        std::filesystem::remove(path, ec);
    }

    // Cut to two and a half blocks, then read inside the third: half of it
    // comes back, which is not the block asked for. Nothing of it is handed
    // out, and the stream ends in an error.
    RemoteStreamRead::removeCache();
    constexpr int64_t kLength = 24LL * 1024 * 1024;
    const std::string path = peer_->booksDir() + "/halved.cbz";
    { std::ofstream(path, std::ios::binary | std::ios::trunc); }
    std::filesystem::resize_file(path, uintmax_t(kLength));
    peer_->openUp();
    const std::string u = url("/books/halved.cbz");
    auto s = open(u);
    ASSERT_TRUE(s->openURL(u)) << std::hex << s->lastError();
    std::filesystem::resize_file(path, uintmax_t(BS * 5 / 2));
    auto inside = std::async(std::launch::async, [&] { return readAt(*s, int64_t(2 * BS + 100), 1000); });
    if (inside.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        s->closeURL();
        FAIL() << "the read inside the cut block still waits (" << s->blockRequests() << " block requests)";
    }
    EXPECT_EQ(inside.get(), "");
    auto loader = std::async(std::launch::async, [&] { s->joinLoader(); });
    if (loader.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        s->closeURL();
        FAIL() << "the loader asked on and on (" << s->blockRequests() << " block requests)";
    }
    EXPECT_TRUE(s->isError());
    EXPECT_FALSE(s->isCacheComplete());
    s->closeURL();
    std::error_code ec;
    std::filesystem::remove(path, ec);
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
