// Files copied from SMB shares into the library by SMBDownload through the
// SMB stack's client against smbd (signing required): the callbacks in
// order with reads of several MiB, the clash rules, refusals and missing
// files with their result codes, and a cancel that silences everything.

#include "remote/transfer/SMBDownload.h"

#include "foundation/Settings.h"
#include "platform/core/PlistValue.h"
#include "remote/transfer/HttpDownload.h"
#include "smb/CIFSStackClient.h"
#include "tests/support/TestHome.h"
#include "tests/support/VirtualClockTest.h"
#include "tests/support/net/SmbPeer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

namespace fs = std::filesystem;
using test::SmbPeer;

constexpr size_t kBigSize = 9 * 1024 * 1024 + 7;
constexpr int64_t kHugeSize = 200LL * 1024 * 1024 + 333;

// A sparse file of kHugeSize with noise at offsets no block lines up with,
// so a misplaced or skipped read shows; made in well under a second.
void makeHugeFile(const std::string& path) {
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    { std::ofstream(path, std::ios::binary | std::ios::trunc); }
    fs::resize_file(path, uintmax_t(kHugeSize));
    std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
    for (uint32_t i = 0; i < 13; ++i) {
        const auto bytes = SmbPeer::noise(65536, 100 + i);
        const int64_t at = i < 12 ? int64_t(i) * 17'000'017 : kHugeSize - 65536;
        f.seekp(at);
        f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
}

bool sameFiles(const std::string& a, const std::string& b) {
    std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
    if (!x || !y) return false;
    std::vector<char> bx(1 << 20), by(1 << 20);
    for (;;) {
        x.read(bx.data(), std::streamsize(bx.size()));
        y.read(by.data(), std::streamsize(by.size()));
        if (x.gcount() != y.gcount()) return false;
        if (x.gcount() == 0) return true;
        if (std::memcmp(bx.data(), by.data(), size_t(x.gcount())) != 0) return false;
    }
}

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

struct Recorder : HttpDownloadDelegate {
    void onChangeHttpDownloadStatus(int status, int64_t size) override { events.push_back({status, size}); }
    void onConnected(const std::string& name, int64_t size) override {
        connectedName = name;
        fileSize = size;
    }
    void onFinishConnection(int result) override { results.push_back(result); }
    std::vector<std::pair<int, int64_t>> events;
    std::string connectedName;
    int64_t fileSize = -1;
    std::vector<int> results;
};

class SMBDownloadTest : public test::VirtualClockTest {
protected:
    static void SetUpTestSuite() {
        CIFSStackClient::registerWithRemote();
        skip_ = SmbPeer::skipReason();
        if (!skip_.empty()) return;
        peer_ = new SmbPeer;
        SmbPeer::writeFile(peer_->booksDir(), "dir/Big Book.cbz", SmbPeer::noise(kBigSize, 5));
        SmbPeer::writeFile(peer_->booksDir(), "dir/small#1.zip", SmbPeer::noise(1000, 6));
        if (!peer_->start("  server signing = mandatory\n")) error_ = peer_->error();
    }
    static void TearDownTestSuite() {
        delete peer_;
        peer_ = nullptr;
    }
    void SetUp() override {
        VirtualClockTest::SetUp();
        if (!skip_.empty()) GTEST_SKIP() << skip_;
        ASSERT_TRUE(error_.empty()) << error_;
        settings_ = std::make_shared<Settings>(settingsDir_.path());
        setMode("rename");
    }
    void setMode(const char* mode) { settings_->setValueForKey("overWriteMode", sys::PlistValue(mode)); }
    static std::string url(const std::string& path) { return "smb://127.0.0.1:" + std::to_string(peer_->port()) + path; }

    int download(const std::string& u, const std::string& name, std::shared_ptr<Recorder> rec = nullptr,
                 const std::string& password = SmbPeer::kPassword) {
        if (!rec) rec = std::make_shared<Recorder>();
        auto d = std::make_shared<SMBDownload>();
        d->setDelegate(rec);
        d->setSettings(settings_.get());
        d->downloadFile(u, out_.path(), name, SmbPeer::kUser, password);
        EXPECT_TRUE(loop().runUntil([&] { return !rec->results.empty(); }, 60));
        advance(1);
        EXPECT_EQ(rec->results.size(), 1u);
        return rec->results.empty() ? -1 : rec->results.front();
    }

    test::TempDir out_{"smbout"};
    test::TempDir settingsDir_{"smbsettings"};
    std::shared_ptr<Settings> settings_;
    static inline SmbPeer* peer_ = nullptr;
    static inline std::string skip_, error_;
};

TEST_F(SMBDownloadTest, SavesTheFileInBlocksOfSeveralMiB) {
    auto rec = std::make_shared<Recorder>();
    ASSERT_EQ(download(url("/books/dir/Big%20Book.cbz"), "Big Book.cbz", rec), SMBDownload::kSaved);
    EXPECT_EQ(readFile(out_.file("Big Book.cbz")), SmbPeer::noise(kBigSize, 5));
    EXPECT_EQ(rec->connectedName, "Big Book.cbz");
    EXPECT_EQ(rec->fileSize, int64_t(kBigSize));
    // Connected, then one report per block with the bytes before it.
    const std::vector<std::pair<int, int64_t>> expected = {
        {0, 0}, {1, 0}, {1, int64_t(SMBDownload::kReadBlock)}, {1, int64_t(2 * SMBDownload::kReadBlock)}};
    EXPECT_EQ(rec->events, expected);
    EXPECT_FALSE(fs::exists(HttpDownload::temporaryFolder() + "/" + HttpDownload::kTempFileName));
}

TEST_F(SMBDownloadTest, ClashesFollowTheOverwriteMode) {
    const std::string u = url("/books/dir/small%231.zip");
    ASSERT_EQ(download(u, "small#1.zip"), SMBDownload::kSaved);
    ASSERT_EQ(download(u, "small#1.zip"), SMBDownload::kSaved);
    EXPECT_TRUE(fs::exists(out_.file("small#1 2.zip")));
    setMode("skip");
    EXPECT_EQ(download(u, "small#1.zip"), SMBDownload::kExistsSkipped);
    EXPECT_FALSE(fs::exists(out_.file("small#1 3.zip")));
    // Overwriting replaces the old file only once the new one is whole.
    setMode("overwrite");
    { std::ofstream(out_.file("small#1.zip"), std::ios::trunc) << "old"; }
    EXPECT_EQ(download(u, "small#1.zip"), SMBDownload::kSaved);
    EXPECT_EQ(readFile(out_.file("small#1.zip")), SmbPeer::noise(1000, 6));
    // A saved name that would leave the save folder is refused.
    EXPECT_EQ(download(u, "../escape.zip"), SMBDownload::kMoveFailed);
    EXPECT_FALSE(fs::exists(fs::path(out_.path()).parent_path() / "escape.zip"));
}

TEST_F(SMBDownloadTest, RefusalsAndMissingFilesHaveTheirCodes) {
    EXPECT_EQ(download(url("/books/dir/missing.cbz"), "missing.cbz"), SMBDownload::kSmbFailed);
    EXPECT_EQ(download(url("/books/dir/small%231.zip"), "x.zip", nullptr, "wrong"), SMBDownload::kSmbFailed);
    EXPECT_EQ(download(url("/locked/a.zip"), "a.zip"), SMBDownload::kSmbFailed);
    EXPECT_EQ(download(url("/books/dir"), "dir"), SMBDownload::kSmbFailed);
    EXPECT_FALSE(fs::exists(out_.file("x.zip")));
}

TEST_F(SMBDownloadTest, AnOldServerIsReadThroughOurSmb1Client) {
    SmbPeer old;
    SmbPeer::writeFile(old.booksDir(), "dir/old.cbz", SmbPeer::noise(2'500'000, 8));
    ASSERT_TRUE(old.start("  server min protocol = NT1\n  server max protocol = NT1\n")) << old.error();
    sys::PlistDictionary site;
    site.set("smblib", sys::PlistValue(int64_t(2)));
    auto rec = std::make_shared<Recorder>();
    auto d = std::make_shared<SMBDownload>();
    d->setDelegate(rec);
    d->setSettings(settings_.get());
    d->setOtherSettings(site);
    d->downloadFile("smb://" + old.server() + "/books/dir/old.cbz", out_.path(), "old.cbz", SmbPeer::kUser,
                    SmbPeer::kPassword);
    ASSERT_TRUE(loop().runUntil([&] { return !rec->results.empty(); }, 60));
    EXPECT_EQ(rec->results.front(), SMBDownload::kSaved);
    EXPECT_EQ(rec->fileSize, 2'500'000);
    EXPECT_EQ(readFile(out_.file("old.cbz")), SmbPeer::noise(2'500'000, 8));

    auto denied = std::make_shared<Recorder>();
    d->setDelegate(denied);
    d->downloadFile("smb://" + old.server() + "/books/dir/old.cbz", out_.path(), "x.cbz", SmbPeer::kUser, "wrong");
    ASSERT_TRUE(loop().runUntil([&] { return !denied->results.empty(); }, 60));
    EXPECT_EQ(denied->results.front(), SMBDownload::kSmbFailed);

    // The default setting ("auto") takes our SMB1 client for this server by itself.
    settings_->readFromFile();
    ASSERT_EQ(settings_->defaultSmbLibrary(), 2);
    auto byDefault = std::make_shared<Recorder>();
    auto plain = std::make_shared<SMBDownload>();
    plain->setDelegate(byDefault);
    plain->setSettings(settings_.get());
    plain->downloadFile("smb://" + old.server() + "/books/dir/old.cbz", out_.path(), "auto.cbz", SmbPeer::kUser,
                        SmbPeer::kPassword);
    ASSERT_TRUE(loop().runUntil([&] { return !byDefault->results.empty(); }, 60));
    EXPECT_EQ(byDefault->results.front(), SMBDownload::kSaved);
    EXPECT_EQ(readFile(out_.file("auto.cbz")), SmbPeer::noise(2'500'000, 8));
}

TEST_F(SMBDownloadTest, ACancelledDownloadSaysNothing) {
    auto rec = std::make_shared<Recorder>();
    auto d = std::make_shared<SMBDownload>();
    d->setDelegate(rec);
    d->setSettings(settings_.get());
    d->downloadFile(url("/books/dir/Big%20Book.cbz"), out_.path(), "Big Book.cbz", SmbPeer::kUser,
                    SmbPeer::kPassword);
    d->cancelDownload();
    EXPECT_FALSE(d->isRunning());
    advance(2);
    EXPECT_TRUE(rec->results.empty());
    EXPECT_TRUE(rec->events.empty());
    EXPECT_FALSE(fs::exists(out_.file("Big Book.cbz")));
}

TEST_F(SMBDownloadTest, A200MiBFileArrivesWhole) {
    const std::string source = peer_->booksDir() + "/dir/huge.cbz";
    makeHugeFile(source);
    peer_->openUp();
    auto rec = std::make_shared<Recorder>();
    EXPECT_EQ(download(url("/books/dir/huge.cbz"), "huge.cbz", rec), SMBDownload::kSaved);
    EXPECT_EQ(rec->fileSize, kHugeSize);
    EXPECT_EQ(int64_t(fs::file_size(out_.file("huge.cbz"))), kHugeSize);
    EXPECT_TRUE(sameFiles(source, out_.file("huge.cbz"))) << "the bytes differ";
    std::error_code ec;
    fs::remove(source, ec);
    fs::remove(out_.file("huge.cbz"), ec);
}

TEST_F(SMBDownloadTest, AServerStoppedMidReadFailsAndLeavesNoFile) {
    SmbPeer gone;
    makeHugeFile(gone.booksDir() + "/huge.cbz");
    ASSERT_TRUE(gone.start("")) << gone.error();
    const std::string partial = HttpDownload::temporaryFolder() + "/" + HttpDownload::kTempFileName;
    std::error_code ec;
    fs::remove(partial, ec);
    auto rec = std::make_shared<Recorder>();
    auto d = std::make_shared<SMBDownload>();
    d->setDelegate(rec);
    d->setSettings(settings_.get());
    d->downloadFile("smb://" + gone.server() + "/books/huge.cbz", out_.path(), "huge.cbz", SmbPeer::kUser,
                    SmbPeer::kPassword);
    // Loopback outruns the main loop's progress reports: a worker stops the
    // server as soon as the first bytes reach the partial file.
    std::atomic<bool> stopped{false}, finished{false};
    std::thread stopper([&] {
        std::error_code ec;
        while (!finished) {
            const auto n = fs::file_size(partial, ec);
            if (!ec && n > 0 && n < uintmax_t(kHugeSize)) {
                gone.stop();
                stopped = true;
                return;
            }
            std::this_thread::yield();
        }
    });
    const bool ended = loop().runUntil([&] { return !rec->results.empty(); }, 60);
    finished = true;
    stopper.join();
    ASSERT_TRUE(ended);
    ASSERT_TRUE(stopped) << "the download ended before the server could be stopped";
    advance(1);
    ASSERT_EQ(rec->results.size(), 1u);
    EXPECT_EQ(rec->results.front(), SMBDownload::kSmbFailed);
    EXPECT_FALSE(fs::exists(out_.file("huge.cbz")));
    EXPECT_FALSE(fs::exists(partial));
}

}  // namespace
