#include "remote/listing/FileDownload.h"

#include "cloud/CloudAccountInfo.h"
#include "cloud/CloudSignIn.h"
#include "cloud/CloudTokenStore.h"
#include "cloud/HttpEasy.h"
#include "foundation/Settings.h"
#include "platform/core/Keychain.h"
#include "platform/core/UserDefaults.h"
#include "platform/ui/RecordingURLOpener.h"
#include "tests/support/TestHome.h"
#include "tests/support/VirtualClockTest.h"
#include "tests/support/net/CloudApiEmulator.h"
#include "tests/remote/listing/ListingOutcome.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <thread>

namespace {

using Outcome = test::ListingOutcome;

class CloudListingTest : public test::VirtualClockTest {
protected:
    void SetUp() override {
        VirtualClockTest::SetUp();
        sys::Keychain::setShared(sys::Keychain::inMemory());
        ASSERT_TRUE(api_.start());
        api_.useForAllServices();
        // Three books, a folder, a text file and (Drive) a trashed book: a
        // top folder of five or six items, two per page.
        api_.addFolder("root", "f1", "Sub Folder");
        api_.addFile("root", "b1", "a b.cbz", "zipbytes", "2024-05-01T10:20:30.123Z");
        api_.addFile("root", "t1", "notes.txt", "text");
        api_.addFile("root", "b2", "second.zip", "zip2", "2024-05-02T00:00:00-02:00");
        api_.addFile("root", "b3", "trashed.cbz", "zip3", "2024-05-01T10:20:30Z", true);
        api_.addFile("f1", "b4", "inner.cbr", "rar");
        settings_ = std::make_unique<Settings>(folder_.path());
    }
    void TearDown() override {
        CloudSignIn::cancelPending();
        VirtualClockTest::TearDown();
        test::CloudApiEmulator::forgetServiceSettings();
        sys::Keychain::setShared(nullptr);
    }

    void storeTokens(CloudService s, const std::string& access, const std::string& refresh, int64_t expiresIn = 3600) {
        api_.addTokens(access, refresh);
        CloudToken t{access, refresh, int64_t(std::time(nullptr)) + expiresIn};
        ASSERT_TRUE(CloudTokenStore::save(s, "acct", t));
    }

    std::shared_ptr<Outcome> start(const std::string& url, std::shared_ptr<FileDownload>* keep = nullptr) {
        auto out = std::make_shared<Outcome>();
        auto fd = std::make_shared<FileDownload>();
        fd->setDelegate(out);
        fd->setSettings_(settings_.get());
        fd->getFileListFromUrl(url, std::string("Title"), std::nullopt, std::nullopt, true, nullptr);
        if (keep) *keep = fd;
        fds_.push_back(fd);
        return out;
    }
    std::shared_ptr<Outcome> list(const std::string& url) {
        auto out = start(url);
        EXPECT_TRUE(loop().runUntil([&] { return out->count > 0; }, 30));
        advance(1);
        EXPECT_EQ(out->count, 1) << "exactly one outcome";
        return out;
    }
    // Plays the browser: opens the page the program asked for and follows
    // its redirect to the program's loopback listener.
    bool browse(const std::string& url) {
        bool ok = false;
        std::thread browser([&] {
            HttpEasy easy;
            HttpRequest req;
            req.url = url;
            easy.prepare(req, {}, {}, {}, 65536);
            HttpResponse r = easy.perform();
            ok = r.ok() && r.status == 200 && r.body.find("Leafbright") != std::string::npos;
        });
        browser.join();
        return ok;
    }

    test::CloudApiEmulator api_;
    test::TempDir folder_{"cloudsettings"};
    std::unique_ptr<Settings> settings_;
    std::vector<std::shared_ptr<FileDownload>> fds_;
};

TEST_F(CloudListingTest, GoogleDriveTwoPagesFoldersFilesAndItemKeys) {
    storeTokens(CloudService::GoogleDrive, "g-access", "g-refresh");
    auto out = list("googledrive://acct/");
    ASSERT_TRUE(out->fileList) << out->message.value_or("");
    EXPECT_EQ(api_.count("/drive/v3/files"), 3u) << "six items, two per page";
    EXPECT_EQ(out->fileList->size(), 3u) << "no text file, no trashed book";
    EXPECT_EQ(out->url("Sub Folder"), "googledrive://acct/f1/");
    EXPECT_EQ(out->url("a b.cbz"), "googledrive://acct/a%20b.cbz");
    EXPECT_EQ(out->withURL, "googledrive://acct/");
    const auto* book = out->info("a b.cbz");
    ASSERT_TRUE(book);
    EXPECT_EQ(book->getInteger("booksize"), 8);
    EXPECT_EQ(book->getString("bookdate"), "1714558830");
    EXPECT_EQ(book->getString("extension"), "cbz");
    EXPECT_EQ(book->getString("googledriveItemId"), "b1");
    EXPECT_EQ(book->getString("googledriveKey"), "acct");
    EXPECT_TRUE(book->getBool("isBook"));
    // A folder has no file name: its record ends at the date.
    const auto* folder = out->info("Sub Folder");
    ASSERT_TRUE(folder);
    EXPECT_TRUE(folder->getBool("isFolder"));
    EXPECT_TRUE(folder->contains("bookdate"));
    EXPECT_FALSE(folder->contains("extension"));
    EXPECT_FALSE(folder->contains("googledriveKey"));
    EXPECT_FALSE(folder->contains("booksize")) << "a size the service did not give is none, not 0 bytes";
    // Every request carried the account's token.
    for (const auto& r : api_.requests()) EXPECT_EQ(r.authorization, "Bearer g-access");

    auto sub = list("googledrive://acct/f1/");
    ASSERT_TRUE(sub->fileList);
    EXPECT_EQ(*sub->fileList, (std::vector<std::string>{"googledrive://acct/f1/inner.cbr"}));
}

// A cloud listing gives up by itself on a service that answers too slowly,
// as every listing does (the limits shortened here), however many pages it
// would have: one that sends a page's head and then nothing, one that drips
// it. The message names the service's address. Waited for in real time.
TEST_F(CloudListingTest, APageThatNeverComesOrDripsIsGivenUpInTime) {
    storeTokens(CloudService::GoogleDrive, "g-access", "g-refresh");
    auto listWithin = [&](const FileDownload::TimeLimits& limits, double within) {
        auto out = std::make_shared<Outcome>();
        auto fd = std::make_shared<FileDownload>();
        fd->setDelegate(out);
        fd->setSettings_(settings_.get());
        fd->setTimeLimits(limits);
        fds_.push_back(fd);
        const auto t0 = std::chrono::steady_clock::now();
        fd->getFileListFromUrl("googledrive://acct/", std::string("Title"), std::nullopt, std::nullopt, true, nullptr);
        EXPECT_TRUE(test::drainUntil([&] { return out->count > 0; }, 20));
        EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), within);
        EXPECT_FALSE(out->fileList);
        EXPECT_EQ(out->message.value_or("").rfind("Connection Failed.", 0), 0u) << out->message.value_or("");
        EXPECT_NE(out->message.value_or("").find(api_.url("").substr(7) + ": "), std::string::npos)
            << out->message.value_or("");
        return out;
    };
    api_.holdAnswers("/drive/v3/files", -1);
    EXPECT_NE(listWithin({1.5, 60, 100}, 5)->message.value_or("").find("gave up after 1.5\u00a0s"), std::string::npos);
    // Each page's pace is the HTTP client's to watch, over the last few
    // seconds: the head it had at once counts for a while.
    api_.holdAnswers("/drive/v3/files", 100);
    listWithin({60, 1.5, 100}, 10);
    api_.holdAnswers("", 0);
    auto out = list("googledrive://acct/");
    EXPECT_TRUE(out->fileList) << out->message.value_or("");
}

TEST_F(CloudListingTest, OneDriveBoxAndDropboxPagesUrlsAndDates) {
    storeTokens(CloudService::OneDrive, "o-access", "o-refresh");
    storeTokens(CloudService::Box, "x-access", "x-refresh");
    storeTokens(CloudService::Dropbox, "d-access", "d-refresh");

    auto one = list("onedrive://acct/");
    ASSERT_TRUE(one->fileList) << one->message.value_or("");
    EXPECT_EQ(api_.count("/v1.0/me/drive/root/children"), 3u) << "followed @odata.nextLink";
    EXPECT_EQ(one->fileList->size(), 4u) << "folder and three books (trash is the service's business)";
    EXPECT_EQ(one->url("Sub Folder"), "onedrive://acct/f1");
    EXPECT_EQ(one->url("a b.cbz"), api_.url("/v1.0/me/drive/items/b1/a%20b.cbz"));
    // Fractional seconds and "Z"; an offset is honoured.
    EXPECT_EQ(one->info("a b.cbz")->getString("bookdate"), "1714558830");
    EXPECT_EQ(one->info("second.zip")->getString("bookdate"), std::to_string(1714608000 + 7200));
    EXPECT_EQ(one->info("a b.cbz")->getString("onedriveKey"), "acct");
    auto oneSub = list("onedrive://acct/f1");
    ASSERT_TRUE(oneSub->fileList);
    EXPECT_EQ(oneSub->info("inner.cbr")->getInteger("booksize"), 3);

    auto box = list("box://acct/0");
    ASSERT_TRUE(box->fileList) << box->message.value_or("");
    EXPECT_EQ(api_.count("/2.0/folders/0/items"), 3u);
    EXPECT_EQ(box->url("second.zip"), api_.url("/2.0/files/b2/content.zip"));
    EXPECT_EQ(box->url("Sub Folder"), "box://acct/f1");
    EXPECT_EQ(box->info("second.zip")->getString("boxapikey"), "acct");

    auto drop = list("dropbox://acct/");
    ASSERT_TRUE(drop->fileList) << drop->message.value_or("");
    EXPECT_EQ(api_.count("/2/files/list_folder/continue"), 2u);
    EXPECT_EQ(drop->url("Sub Folder"), "dropbox://acct//Sub Folder");
    EXPECT_EQ(drop->url("a b.cbz"), "dropbox://id%3Ab1/a%20b.cbz");
    EXPECT_EQ(drop->info("a b.cbz")->getString("dropboxItemId"), "id:b1");
    EXPECT_EQ(drop->info("a b.cbz")->getString("dropboxKey"), "acct");
    // A Dropbox folder has no date: its row shows none rather than 1970.
    EXPECT_FALSE(drop->info("Sub Folder")->contains("bookdate"));
    EXPECT_FALSE(drop->info("Sub Folder")->contains("booksize"));
    EXPECT_EQ(drop->info("a b.cbz")->getInteger("booksize", -1), 8);
    EXPECT_FALSE(drop->info("a b.cbz")->getString("bookdate").empty());
    // The folder URL as listed opens that folder.
    auto dropSub = list("dropbox://acct//Sub Folder");
    ASSERT_TRUE(dropSub->fileList) << dropSub->message.value_or("");
    EXPECT_EQ(dropSub->fileList->size(), 1u);
    // As a saved site keeps it, escaped.
    auto escaped = list("dropbox://acct/%2FSub%20Folder");
    ASSERT_TRUE(escaped->fileList) << escaped->message.value_or("");
    EXPECT_EQ(escaped->fileList->size(), 1u);
}

TEST_F(CloudListingTest, ExpiredTokensAreRefreshedOnceAndStored) {
    // Expired at the service (401): refreshed, then the page is asked again.
    for (CloudService s : {CloudService::GoogleDrive, CloudService::OneDrive, CloudService::Box,
                           CloudService::Dropbox}) {
        const std::string name = CloudEndpoints::name(s);
        storeTokens(s, name + "-old", name + "-refresh");
    }
    api_.expireAccessTokens();
    for (const char* url : {"googledrive://acct/", "onedrive://acct/", "box://acct/", "dropbox://acct/"}) {
        auto out = list(url);
        EXPECT_TRUE(out->fileList) << url << ": " << out->message.value_or("");
        EXPECT_TRUE(out->baseView.empty()) << "no new sign-in";
    }
    EXPECT_EQ(api_.count("/oauth/token"), 4u);
    auto t = CloudTokenStore::load(CloudService::Box, "acct");
    ASSERT_TRUE(t);
    EXPECT_NE(t->access, "box-old");
    EXPECT_NE(t->refresh, "box-refresh") << "a rotated refresh token is kept";

    // Expired locally (or within 300 s of it): refreshed before any request.
    api_.clearRequests();
    storeTokens(CloudService::OneDrive, "soon", "o2-refresh", 200);
    auto out = list("onedrive://acct/");
    EXPECT_TRUE(out->fileList);
    auto reqs = api_.requests();
    ASSERT_FALSE(reqs.empty());
    EXPECT_EQ(reqs.front().path, "/oauth/token");
    for (const auto& r : reqs) EXPECT_NE(r.authorization, "Bearer soon");
}

TEST_F(CloudListingTest, RefusedRefreshSignsInAgainThroughTheBrowserAndLists) {
    auto opener = ui::RecordingURLOpener::install();
    storeTokens(CloudService::GoogleDrive, "g-old", "g-refresh");
    api_.expireAccessTokens();
    api_.revokeRefreshTokens();
    api_.setAccountName("reader@example.com");

    auto out = start("googledrive://acct/");
    ASSERT_TRUE(loop().runUntil([&] { return !opener->opened.empty(); }, 30));
    EXPECT_EQ(out->count, 0) << "nothing delivered while signing in";
    EXPECT_EQ(out->baseView, std::vector<bool>{false});
    EXPECT_FALSE(CloudTokenStore::load(CloudService::GoogleDrive, "acct")) << "refused tokens forgotten";
    const std::string page = opener->opened.back();
    EXPECT_NE(page.find("code_challenge="), std::string::npos);
    EXPECT_NE(page.find("redirect_uri=http%3A%2F%2F127.0.0.1%3A"), std::string::npos);
    EXPECT_NE(page.find("access_type=offline"), std::string::npos);

    ASSERT_TRUE(browse(page));
    ASSERT_TRUE(loop().runUntil([&] { return out->count > 0; }, 30));
    ASSERT_TRUE(out->fileList) << out->message.value_or("");
    EXPECT_EQ(out->fileList->size(), 3u);
    EXPECT_EQ(out->baseView, (std::vector<bool>{false, true}));
    auto accounts = CloudAccountInfo::accounts(CloudService::GoogleDrive, folder_.path());
    ASSERT_EQ(accounts.size(), 1u);
    EXPECT_EQ(accounts[0].getString("key"), "acct");
    EXPECT_EQ(accounts[0].getString("email"), "reader@example.com");
}

TEST_F(CloudListingTest, FirstSignInForEachServiceAndFailures) {
    auto opener = ui::RecordingURLOpener::install();
    api_.setAccountName("Reader Name");
    const std::pair<const char*, CloudService> cases[] = {{"onedrive://new/", CloudService::OneDrive},
                                                          {"box://new/", CloudService::Box},
                                                          {"dropbox://new/", CloudService::Dropbox}};
    for (const auto& [url, service] : cases) {
        opener->opened.clear();
        auto out = start(url);
        ASSERT_TRUE(loop().runUntil([&] { return !opener->opened.empty(); }, 30)) << url;
        ASSERT_TRUE(browse(opener->opened.back())) << url;
        ASSERT_TRUE(loop().runUntil([&] { return out->count > 0; }, 30)) << url;
        EXPECT_TRUE(out->fileList) << url << ": " << out->message.value_or("");
        auto accounts = CloudAccountInfo::accounts(service, folder_.path());
        ASSERT_EQ(accounts.size(), 1u) << url;
        EXPECT_EQ(accounts[0].getString("displayName"), "Reader Name");
        EXPECT_TRUE(CloudTokenStore::load(service, "new")) << url;
    }

    // The service turns the program away (unknown client): the sign-in
    // error, with the service's title, and no tokens.
    opener->opened.clear();
    sys::UserDefaults::standard().setObject(sys::PlistValue("someone-else"), "cloud.box.clientID");
    auto refused = start("box://other/");
    ASSERT_TRUE(loop().runUntil([&] { return !opener->opened.empty(); }, 30));
    browse(opener->opened.back());
    // The browser got the service's error page, never reaching the program:
    // the user gives up, and the listing is cancelled.
    fds_.back()->cancelFileListDownload();
    EXPECT_EQ(refused->cancels, 1);
    EXPECT_TRUE(CloudSignIn::pendingRedirectURI().empty()) << "the listener is closed";

    // A browser that cannot be opened ends the sign-in with the error text,
    // which says why.
    opener->failOpen = true;
    auto failed = start("dropbox://third/");
    ASSERT_TRUE(loop().runUntil([&] { return failed->count > 0; }, 30));
    EXPECT_FALSE(failed->fileList);
    EXPECT_EQ(failed->listTitle, "Dropbox");
    EXPECT_FALSE(failed->withURL);
    EXPECT_EQ(failed->message,
              std::optional<std::string>("Dropbox Authorization error.\n(The web browser could not be opened.)"));

    // A browser that never comes back: the sign-in is given up after five
    // minutes, and the listing says so.
    opener->failOpen = false;
    auto unfinished = start("googledrive://fifth/");
    ASSERT_TRUE(loop().runUntil([&] { return !CloudSignIn::pendingRedirectURI().empty(); }, 30));
    advance(4 * 60 + 50);
    EXPECT_EQ(unfinished->count, 0) << "given up too early";
    advance(15);
    EXPECT_EQ(unfinished->count, 1);
    EXPECT_FALSE(unfinished->fileList);
    EXPECT_EQ(unfinished->listTitle, "GoogleDrive");
    EXPECT_EQ(unfinished->message,
              std::optional<std::string>("Google Drive Authorization error.\n(The sign-in was not finished in the web "
                                         "browser within 5 minutes.)"));
    EXPECT_TRUE(CloudSignIn::pendingRedirectURI().empty()) << "the listener is closed";

    // No client id: the listing says so at once, and no sign-in starts.
    opener->failOpen = false;
    opener->opened.clear();
    sys::UserDefaults::standard().removeObjectForKey("cloud.onedrive.clientID");
    auto noClient = start("onedrive://fourth/");
    ASSERT_TRUE(loop().runUntil([&] { return noClient->count > 0; }, 1));
    EXPECT_FALSE(noClient->fileList);
    EXPECT_EQ(noClient->listTitle, "OneDrive");
    EXPECT_EQ(noClient->message,
              std::optional<std::string>("OneDrive needs a client id: see \"cloud.onedrive.clientID\" in the README."));
    EXPECT_TRUE(opener->opened.empty());
    EXPECT_TRUE(CloudSignIn::pendingRedirectURI().empty());
}

TEST_F(CloudListingTest, CancelStopsDeliveryAndForeignNextLinksAreNotFollowed) {
    storeTokens(CloudService::Box, "x-access", "x-refresh");
    std::shared_ptr<FileDownload> fd;
    auto out = start("box://acct/", &fd);
    fd->cancelFileListDownload();
    advance(5);
    loop().drain();
    EXPECT_EQ(out->count, 1);
    EXPECT_EQ(out->cancels, 1);
    EXPECT_FALSE(out->fileList);

    // A next-page link to another host must not get the token.
    test::CloudApiEmulator other;
    ASSERT_TRUE(other.start());
    other.addTokens("o-access", "");
    for (int i = 0; i < 3; ++i) other.addFile("root", "x" + std::to_string(i), "x.cbz", "x");
    storeTokens(CloudService::OneDrive, "o-access", "o-refresh");
    // The emulator's links name its own address; reached as "localhost",
    // that is another origin.
    sys::UserDefaults::standard().setObject(sys::PlistValue("http://localhost:" + std::to_string(other.port())),
                                            "cloud.onedrive.apiBase");
    auto foreign = list("onedrive://acct/");
    EXPECT_FALSE(foreign->fileList) << "a cut listing is not shown as the folder ";
    EXPECT_EQ(foreign->listTitle, "OneDrive");
    EXPECT_TRUE(foreign->message);
    EXPECT_EQ(other.count("/v1.0/me/drive/root/children"), 1u);
}

TEST(CloudAccountInfoTest, SameAccountLeavesTheFileAChangedNameIsReplacedInPlace) {
    test::TempDir dir("accounts");
    EXPECT_TRUE(CloudAccountInfo::recordSignIn(CloudService::OneDrive, dir.path(), "k1", "One"));
    EXPECT_TRUE(CloudAccountInfo::recordSignIn(CloudService::OneDrive, dir.path(), "k2", "Two"));
    const std::string file = dir.file(".onedrive.lbs");
    const auto before = std::filesystem::last_write_time(file);
    EXPECT_FALSE(CloudAccountInfo::recordSignIn(CloudService::OneDrive, dir.path(), "k1", "One"));
    EXPECT_EQ(std::filesystem::last_write_time(file), before);
    EXPECT_TRUE(CloudAccountInfo::recordSignIn(CloudService::OneDrive, dir.path(), "k1", "Renamed"));
    auto list = CloudAccountInfo::accounts(CloudService::OneDrive, dir.path());
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].getString("key"), "k1");
    EXPECT_EQ(list[0].getString("displayName"), "Renamed");
    EXPECT_EQ(list[1].getString("key"), "k2");
    EXPECT_TRUE(std::filesystem::exists(dir.file(".onedrive.lbs")));
    EXPECT_TRUE(CloudAccountInfo::recordSignIn(CloudService::Box, dir.path(), "b", "B"));
    EXPECT_TRUE(std::filesystem::exists(dir.file(".boxcloud.lbs")));
}

}  // namespace
