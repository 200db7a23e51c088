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

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using test::SmbPeer;

constexpr size_t kBigSize = 9 * 1024 * 1024 + 7;

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

TEST_F(SMBDownloadTest, OurSmb1ClientDownloadsFromAnOldServer) {
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

}  // namespace
