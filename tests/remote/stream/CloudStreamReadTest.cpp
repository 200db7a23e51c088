// Cloud books read in place and downloaded, from the loopback emulator of
// the four services, with the item keys their listings give.
#include "remote/listing/FileDownload.h"
#include "remote/stream/HTTPURLStreamRead.h"
#include "remote/transfer/HttpDownload.h"

#include "cloud/CloudTokenStore.h"
#include "engine/ZipArchive.h"
#include "foundation/Settings.h"
#include "platform/core/Keychain.h"
#include "tests/remote/stream/StreamReadChecks.h"
#include "tests/support/TestHome.h"
#include "tests/support/VirtualClockTest.h"
#include "tests/support/net/CloudApiEmulator.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace {

namespace fs = std::filesystem;

// A cbz of three stored noise pages (about 900 KB: four blocks) made by zip.
std::string makeBook(const test::TempDir& dir) {
    test::TempDir src("pages");
    std::mt19937 rng{7};
    for (int i = 0; i < 3; ++i) {
        std::string bytes(300000, '\0');
        for (auto& c : bytes) c = char(rng());
        std::ofstream(src.file(std::to_string(i + 1) + ".jpg"), std::ios::binary) << bytes;
    }
    EXPECT_EQ(test::shell("cd '" + src.path() + "' && zip -q -0 '" + dir.file("book.cbz") + "' *.jpg"), 0);
    return test::readFile(dir.file("book.cbz"));
}

struct Listed : FileDownloadDelegate {
    void finishListDownload(std::optional<std::vector<std::string>> files,
                            std::optional<std::vector<sys::PlistDictionary>> infos,
                            const std::optional<std::string>&, const std::optional<std::string>&,
                            const std::optional<std::string>&, bool) override {
        done = true;
        if (files) fileList = *files;
        if (infos) infoList = *infos;
    }
    void passwordRequested(const std::string&, bool) override { done = true; }
    void cancelListDownload() override { done = true; }
    bool done = false;
    std::vector<std::string> fileList;
    std::vector<sys::PlistDictionary> infoList;
};

struct Recorder : HttpDownloadDelegate {
    void onFinishConnection(int r) override { results.push_back(r); }
    std::vector<int> results;
};

class CloudStreamReadTest : public test::VirtualClockTest {
protected:
    void SetUp() override {
        VirtualClockTest::SetUp();
        sys::Keychain::setShared(sys::Keychain::inMemory());
        RemoteStreamRead::removeCache();
        HTTPURLStreamRead::registerWithEngine();
        book_ = makeBook(www_);
        ASSERT_TRUE(api_.start());
        ASSERT_TRUE(storage_.start());
        api_.useForAllServices();
        api_.setPreauthorizedBase(storage_.url(""));
        for (auto* e : {&api_, &storage_}) {
            e->addFile("root", "bk", "book.cbz", book_);
            e->addFile("root", "other", "other.cbz", "second book bytes");
        }
        for (CloudService s : {CloudService::GoogleDrive, CloudService::OneDrive, CloudService::Box,
                               CloudService::Dropbox}) {
            const std::string n = CloudEndpoints::name(s);
            api_.addTokens(n + "-access", n + "-refresh");
            CloudTokenStore::save(s, "acct", {n + "-access", n + "-refresh", int64_t(std::time(nullptr)) + 3600});
        }
        settings_ = std::make_shared<Settings>(settingsDir_.path());
        fs::remove(HttpDownload::temporaryFolder() + "/" + HttpDownload::kTempFileName);
        fs::remove(HttpDownload::temporaryFolder() + "/" + HttpDownload::kSideFileName);
    }
    void TearDown() override {
        RemoteStreamRead::removeCache();
        VirtualClockTest::TearDown();
        test::CloudApiEmulator::forgetServiceSettings();
        sys::Keychain::setShared(nullptr);
    }

    // The listed URL and info of `name` in the account's top folder.
    std::pair<std::string, sys::PlistDictionary> listed(const std::string& folderURL, const std::string& name) {
        auto out = std::make_shared<Listed>();
        auto fd = std::make_shared<FileDownload>();
        fd->setDelegate(out);
        fd->getFileListFromUrl(folderURL, std::nullopt, std::nullopt, std::nullopt, true, nullptr);
        EXPECT_TRUE(loop().runUntil([&] { return out->done; }, 30));
        for (size_t i = 0; i < out->infoList.size(); ++i) {
            if (out->infoList[i].getString("name") == name) return {out->fileList[i], out->infoList[i]};
        }
        ADD_FAILURE() << name << " not listed in " << folderURL;
        return {};
    }
    std::shared_ptr<HTTPURLStreamRead> stream(const std::string& url, const sys::PlistDictionary& info) {
        auto s = std::dynamic_pointer_cast<HTTPURLStreamRead>(
            RemoteStreamRead::newStreamWithProtocol(RemoteStreamRead::getProtocolWithURL(url)));
        EXPECT_TRUE(s);
        if (s) s->setFileInfo(info);
        return s;
    }
    // Downloads as the list screen does: the cloud row's service and key.
    int download(const std::string& url, const sys::PlistDictionary& info, std::string* saved = nullptr) {
        std::string service;
        sys::PlistDictionary key;
        if (info.contains("onedriveKey")) service = "OneDrive", key.set("key", sys::PlistValue(info.getString("onedriveKey")));
        if (info.contains("boxapikey")) service = "BoxAPI", key.set("key", sys::PlistValue(info.getString("boxapikey")));
        if (info.contains("dropboxKey")) {
            service = "Dropbox";
            key.set("key", sys::PlistValue(info.getString("dropboxKey")));
            key.set("itemId", sys::PlistValue(info.getString("dropboxItemId")));
        }
        if (info.contains("googledriveKey")) {
            service = "GoogleDrive";
            key.set("key", sys::PlistValue(info.getString("googledriveKey")));
            key.set("itemId", sys::PlistValue(info.getString("googledriveItemId")));
        }
        auto rec = std::make_shared<Recorder>();
        auto d = std::make_shared<HttpDownload>();
        d->setDelegate(rec);
        d->setSettings_(settings_.get());
        d->downloadFile(url, saveDir_.path(), info.getString("name"), "", "", service, key);
        EXPECT_TRUE(loop().runUntil([&] { return !rec->results.empty(); }, 30));
        if (saved) *saved = d->savedPath();
        return rec->results.empty() ? -1 : rec->results.front();
    }
    static std::string readAt(RemoteStreamRead& s, int64_t offset, size_t n) { return test::readAt(s, offset, n); }

    test::TempDir www_{"cloudbook"}, settingsDir_{"cloudsettings"}, saveDir_{"clouddownloads"};
    std::string book_;
    test::CloudApiEmulator api_, storage_;
    std::shared_ptr<Settings> settings_;
};

TEST_F(CloudStreamReadTest, EachServiceStreamsABookInPlaceWithRangesAndItsToken) {
    for (const char* folder : {"googledrive://acct/", "onedrive://acct/", "box://acct/", "dropbox://acct/"}) {
        SCOPED_TRACE(folder);
        RemoteStreamRead::removeCache();
        api_.clearRequests();
        storage_.clearRequests();
        auto [url, info] = listed(folder, "book.cbz");
        auto s = stream(url, info);
        ASSERT_TRUE(s);
        ASSERT_TRUE(s->openURL(url));
        EXPECT_EQ(s->contentLength(), int64_t(book_.size()));
        EXPECT_TRUE(readAt(*s, int64_t(book_.size()) - 300, 300) == book_.substr(book_.size() - 300));
        s->joinLoader();
        EXPECT_FALSE(s->isError());
        EXPECT_TRUE(readAt(*s, 0, book_.size()) == book_);
        s->closeURL();
        // Graph's content went to the pre-authenticated address: with the
        // range, without the token (the storage refuses a token).
        const auto& where = std::string(folder) == "onedrive://acct/" ? storage_ : api_;
        size_t ranged = 0;
        for (const auto& r : where.requests()) {
            if (r.status == 206) ++ranged;
        }
        EXPECT_EQ(ranged, (book_.size() + RemoteStreamRead::kBlockSize - 1) / RemoteStreamRead::kBlockSize)
            << "one request per block, the first block's with the length";
        for (const auto& r : api_.requests()) {
            if (r.path != "/drive/v3/files" && r.path.find("/children") == std::string::npos &&
                r.path.find("/items") == std::string::npos && r.path.find("list_folder") == std::string::npos) {
                EXPECT_TRUE(r.authorization.rfind("Bearer ", 0) == 0) << r.path;
            }
        }
    }
}

TEST_F(CloudStreamReadTest, TheZipReaderOpensADriveBookAndATokenExpiringMidwayIsRenewed) {
    auto [url, info] = listed("googledrive://acct/", "book.cbz");
    auto [burl, binfo] = listed("box://acct/", "book.cbz");
    // The service stops taking the token while the book is read: after
    // the probe and two blocks.
    api_.expireAccessTokensAfter(3);
    auto s = stream(url, info);
    ASSERT_TRUE(s->openURL(url));
    auto zip = ZipArchive::openStream(s);
    ASSERT_TRUE(zip);
    EXPECT_EQ(zip->entryCount(), 3u);
    s->joinLoader();
    EXPECT_FALSE(s->isError());
    EXPECT_TRUE(readAt(*s, 0, book_.size()) == book_);
    EXPECT_EQ(api_.count("/oauth/token"), 1u);
    EXPECT_NE(CloudTokenStore::load(CloudService::GoogleDrive, "acct")->access, "googledrive-access");
    s->closeURL();

    // A token that cannot be renewed ends the stream instead of retrying
    // without end.
    RemoteStreamRead::removeCache();
    api_.expireAccessTokens();
    api_.revokeRefreshTokens();
    auto refused = stream(burl, binfo);
    EXPECT_FALSE(refused->openURL(burl));
}

TEST_F(CloudStreamReadTest, DownloadsOfEachServiceAndTheTokenCodes) {
    for (const char* folder : {"googledrive://acct/", "onedrive://acct/", "box://acct/", "dropbox://acct/"}) {
        SCOPED_TRACE(folder);
        auto [url, info] = listed(folder, "other.cbz");
        std::string saved;
        ASSERT_EQ(download(url, info, &saved), HttpDownload::kSaved);
        EXPECT_EQ(test::readFile(saved), "second book bytes");
        fs::remove(saved);
    }
    EXPECT_EQ(storage_.count("/pre/other"), 1u) << "OneDrive's bytes come from the storage address";

    // Refused at the service: renewed once, then fetched.
    auto [url, info] = listed("box://acct/", "other.cbz");
    api_.expireAccessTokens();
    const size_t refreshes = api_.count("/oauth/token");
    std::string saved;
    EXPECT_EQ(download(url, info, &saved), HttpDownload::kSaved);
    EXPECT_EQ(api_.count("/oauth/token"), refreshes + 1);
    fs::remove(saved);

    // No renewal possible: each service's code.
    std::vector<std::pair<std::string, sys::PlistDictionary>> items;
    for (const char* folder : {"onedrive://acct/", "googledrive://acct/", "box://acct/", "dropbox://acct/"}) {
        items.push_back(listed(folder, "other.cbz"));
    }
    api_.expireAccessTokens();
    api_.revokeRefreshTokens();
    std::vector<int> codes;
    for (const auto& [u, i] : items) codes.push_back(download(u, i));
    EXPECT_EQ(codes, (std::vector<int>{HttpDownload::kOneDriveTokenFailed, HttpDownload::kGoogleDriveTokenFailed,
                                       HttpDownload::kBoxTokenFailed, HttpDownload::kAuthFailed}));
}

}  // namespace
