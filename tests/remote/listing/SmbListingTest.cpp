// SMB shares and folders listed by FileDownload against smbd, through the
// SMB stack's client, our SMB1 client or the automatic choice between them,
// and the listing's rules on their own: which entries show, how their URLs
// are escaped, how URLs name shares and paths.

#include "remote/listing/FileDownload.h"
#include "remote/listing/SmbListing.h"

#include "foundation/BookCommon.h"
#include "foundation/Settings.h"
#include "platform/core/PlistValue.h"
#include "smb/CIFSStackClient.h"
#include "tests/support/VirtualClockTest.h"
#include "tests/support/net/FakeSmb2Server.h"
#include "tests/support/net/SmbPeer.h"
#include "tests/support/net/StuckNameLookup.h"
#include "tests/remote/listing/ListingOutcome.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <tuple>

namespace {

using test::SmbPeer;

using Outcome = test::ListingOutcome;

class SmbListingTest : public test::VirtualClockTest {
protected:
    static void SetUpTestSuite() {
        CIFSStackClient::registerWithRemote();
        skip_ = SmbPeer::skipReason();
        if (!skip_.empty()) return;
        peer_ = new SmbPeer;
        SmbPeer::writeFile(peer_->booksDir(), "Comics/a.cbz", SmbPeer::noise(1000, 1));
        SmbPeer::writeFile(peer_->booksDir(), "Comics/100% #1.cbz", SmbPeer::noise(10, 2));
        SmbPeer::writeFile(peer_->booksDir(), "Comics/notes.txt", {'x'});
        SmbPeer::writeFile(peer_->booksDir(), "Comics/.hidden.cbz", {'x'});
        SmbPeer::writeFile(peer_->booksDir(), "Comics/notes.txt.d/inner.pdf", {'x'});
        SmbPeer::writeFile(peer_->booksDir(), "Comics/50% #2/b.zip", {'x'});
        SmbPeer::writeFile(peer_->publicDir(), "free.cbz", {'x'});
        if (!peer_->start("  server signing = mandatory\n")) error_ = peer_->error();
        old_ = new SmbPeer;
        SmbPeer::writeFile(old_->booksDir(), "Old Comics/c.cbz", SmbPeer::noise(2000, 3));
        SmbPeer::writeFile(old_->booksDir(), "Old Comics/c.txt", {'x'});
        if (!old_->start("  server min protocol = NT1\n  server max protocol = NT1\n")) error_ += old_->error();
    }
    static void TearDownTestSuite() {
        delete peer_;
        delete old_;
        peer_ = nullptr;
        old_ = nullptr;
    }
    void SetUp() override {
        VirtualClockTest::SetUp();
        if (!skip_.empty()) GTEST_SKIP() << skip_;
        ASSERT_TRUE(error_.empty()) << error_;
    }

    static std::string url(const std::string& path) { return "smb://127.0.0.1:" + std::to_string(peer_->port()) + path; }

    std::shared_ptr<Outcome> list(const std::string& u, const std::string& user = SmbPeer::kUser,
                                  const std::string& pw = SmbPeer::kPassword, const sys::PlistDictionary& other = {},
                                  Settings* settings = nullptr) {
        auto out = std::make_shared<Outcome>();
        auto fd = std::make_shared<FileDownload>();
        fd->setDelegate(out);
        fd->setOtherSettings_(other);
        fd->setSettings_(settings);
        fd->getFileListFromUrl(u, std::string("Title"), user, pw, true, nullptr);
        EXPECT_TRUE(loop().runUntil([&] { return out->count > 0; }, 30));
        advance(1);
        EXPECT_EQ(out->count, 1) << "exactly one outcome";
        return out;
    }

    static inline SmbPeer* peer_ = nullptr;
    static inline SmbPeer* old_ = nullptr;
    static inline std::string skip_, error_;
};

TEST_F(SmbListingTest, SharesAndFoldersOfASigningServer) {
    auto shares = list(url(""));
    ASSERT_TRUE(shares->fileList) << shares->message.value_or("");
    // IPC$ and other administrative shares stay hidden.
    EXPECT_EQ(shares->names(), (std::vector<std::string>{"books", "locked", "public", "sealed", "本棚"}));
    EXPECT_EQ(shares->url("books"), url("/books"));

    auto root = list(shares->url("books"));
    ASSERT_TRUE(root->fileList) << root->message.value_or("");
    EXPECT_EQ(root->names(), std::vector<std::string>{"Comics"});

    auto comics = list(root->url("Comics") + "/");
    ASSERT_TRUE(comics->fileList);
    // Text files are not listed, a folder named like one is; dot files show
    // unless the setting hides them.
    EXPECT_EQ(comics->names(), (std::vector<std::string>{".hidden.cbz", "100% #1.cbz", "50% #2", "a.cbz",
                                                         "notes.txt.d"}));
    EXPECT_EQ(comics->url("100% #1.cbz"), url("/books/Comics/100%25%20%231.cbz"));
    // An escaped folder name opens the folder it names.
    auto escaped = list(comics->url("50% #2"));
    ASSERT_TRUE(escaped->fileList) << escaped->message.value_or("");
    EXPECT_EQ(escaped->names(), std::vector<std::string>{"b.zip"});
    for (size_t i = 0; i < comics->infoList->size(); ++i) {
        const auto& info = (*comics->infoList)[i];
        EXPECT_EQ(info.getInteger("order"), int64_t(i));
        if (info.getString("name") == "a.cbz") {
            EXPECT_EQ(info.getInteger("booksize"), 1000);
            EXPECT_TRUE(info.getBool("isBook"));
            EXPECT_GT(std::stoll(info.getString("bookdate")), 1'600'000'000);
        }
    }
}

TEST_F(SmbListingTest, RefusalsBecomeQuestionsOrMessages) {
    auto wrong = list(url("/books/"), SmbPeer::kUser, "wrong");
    EXPECT_EQ(wrong->passwords, 1);
    EXPECT_EQ(wrong->passwordURL, url("/books/"));

    auto guest = list(url("/public"), "", "");
    ASSERT_TRUE(guest->fileList);
    EXPECT_EQ(guest->names(), std::vector<std::string>{"free.cbz"});
    // A guest refused is asked who they are.
    EXPECT_EQ(list(url("/books"), "", "")->passwords, 1);

    // A share that requires encryption lists like any other.
    auto sealed = list(url("/sealed"));
    ASSERT_TRUE(sealed->fileList) << sealed->message.value_or("");
    EXPECT_TRUE(sealed->names().empty());

    auto missing = list(url("/books/NoSuchFolder"));
    ASSERT_TRUE(missing->message);
    EXPECT_EQ(missing->message->rfind("Error Getting File List.", 0), 0u) << *missing->message;
    EXPECT_NE(missing->message->find("(CODE=SMB00FF0004)"), std::string::npos);
}

// The site asks for our SMB1 client: an NT1 server lists through it; a
// server that speaks only SMB2 gets the hint to switch the library.
TEST_F(SmbListingTest, OurSmb1ClientListsOldServersAndHintsAtSmb2) {
    sys::PlistDictionary site;
    site.set("smblib", sys::PlistValue(int64_t(2)));
    const std::string old = "smb://" + old_->server();
    auto shares = list(old, SmbPeer::kUser, SmbPeer::kPassword, site);
    ASSERT_TRUE(shares->fileList) << shares->message.value_or("");
    EXPECT_EQ(shares->names(), (std::vector<std::string>{"books", "locked", "public", "sealed", "本棚"}));
    auto folder = list(old + "/books/Old%20Comics", SmbPeer::kUser, SmbPeer::kPassword, site);
    ASSERT_TRUE(folder->fileList) << folder->message.value_or("");
    EXPECT_EQ(folder->names(), std::vector<std::string>{"c.cbz"});
    EXPECT_EQ(folder->url("c.cbz"), old + "/books/Old%20Comics/c.cbz");
    EXPECT_GT(std::stoll((*folder->infoList)[0].getString("bookdate")), 1'600'000'000);
    EXPECT_EQ(list(old + "/books", SmbPeer::kUser, "wrong", site)->passwords, 1);
    auto missing = list(old + "/nosuchshare", SmbPeer::kUser, SmbPeer::kPassword, site);
    ASSERT_TRUE(missing->message);
    EXPECT_EQ(missing->message->rfind("Error Connecting to SMB Tree.\n(CODE=C00000CC)", 0), 0u) << *missing->message;

    auto modern = list(url("/books"), SmbPeer::kUser, SmbPeer::kPassword, site);
    ASSERT_TRUE(modern->message);
    EXPECT_EQ(*modern->message, "Leafbright SMB ProtocolError");
    EXPECT_TRUE(modern->requireSMB2);
}

// A new site with the default setting ("auto"): a server that speaks SMB2
// is listed through it, one that speaks only SMB1 through our SMB1 client,
// and a wrong password there asks for the password again like anywhere else.
TEST_F(SmbListingTest, TheDefaultSettingListsNewAndOldServersAlike) {
    test::TempDir settingsDir("smbsettings");
    Settings settings(settingsDir.path());
    settings.readFromFile();
    ASSERT_EQ(SmbClientChoice::libraryOf({}, settings.defaultSmbLibrary()), SmbClientChoice::Library::Auto);
    const std::string old = "smb://" + old_->server();
    SmbClientChoice::forget(old_->server());
    SmbClientChoice::forget(peer_->server());

    auto shares = list(url(""), SmbPeer::kUser, SmbPeer::kPassword, {}, &settings);
    ASSERT_TRUE(shares->fileList) << shares->message.value_or("");
    EXPECT_EQ(shares->names(), (std::vector<std::string>{"books", "locked", "public", "sealed", "本棚"}));
    auto oldShares = list(old, SmbPeer::kUser, SmbPeer::kPassword, {}, &settings);
    ASSERT_TRUE(oldShares->fileList) << oldShares->message.value_or("");
    EXPECT_EQ(oldShares->names(), (std::vector<std::string>{"books", "locked", "public", "sealed", "本棚"}));
    auto folder = list(old + "/books/Old%20Comics", SmbPeer::kUser, SmbPeer::kPassword, {}, &settings);
    ASSERT_TRUE(folder->fileList) << folder->message.value_or("");
    EXPECT_EQ(folder->names(), std::vector<std::string>{"c.cbz"});
    EXPECT_GT(std::stoll((*folder->infoList)[0].getString("bookdate")), 1'600'000'000);

    auto wrong = list(old + "/books", SmbPeer::kUser, "wrong", {}, &settings);
    EXPECT_EQ(wrong->passwords, 1);
    EXPECT_FALSE(wrong->message) << *wrong->message;
    auto missing = list(old + "/nosuchshare", SmbPeer::kUser, SmbPeer::kPassword, {}, &settings);
    ASSERT_TRUE(missing->message);
    EXPECT_EQ(missing->message->rfind("Error Connecting to SMB Tree.\n(CODE=C00000CC)", 0), 0u) << *missing->message;
    EXPECT_FALSE(missing->requireSMB2);
}

// A cancel on the main thread never waits for the worker: not even while
// the worker waits on a name look-up that no cancel reaches.
TEST_F(SmbListingTest, ACancelReturnsAtOnceWhileTheNameIsLookedUp) {
    for (auto library : {SmbClientChoice::Library::Stack, SmbClientChoice::Library::Own, SmbClientChoice::Library::Auto}) {
        test::StuckNameLookup stuck;
        auto listing = std::make_shared<SmbListing>();
        SmbListing::Request request;
        request.url = std::string("smb://") + test::StuckNameLookup::kName + "/books";
        request.library = library;
        auto called = std::make_shared<bool>(false);
        listing->start(request, [called](const SmbListing::Result&) { *called = true; });
        ASSERT_TRUE(stuck.waitForLookup(10));
        auto cancelling = std::async(std::launch::async, [&] { listing->cancel(); });
        const bool quick = cancelling.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
        if (!quick) stuck.release();
        cancelling.get();
        EXPECT_TRUE(quick) << "the cancel waited for the worker";
        listing.reset();
        stuck.release();
        sys::Thread::joinLeftThreads();
        loop().drain();
        EXPECT_FALSE(*called) << "no completion after a cancel";
    }
}

TEST_F(SmbListingTest, ACancelledListingSaysOnlyThat) {
    auto out = std::make_shared<Outcome>();
    auto fd = std::make_shared<FileDownload>();
    fd->setDelegate(out);
    fd->getFileListFromUrl(url("/books/Comics"), std::nullopt, SmbPeer::kUser, SmbPeer::kPassword, true, nullptr);
    fd->cancelFileListDownload();
    advance(2);
    EXPECT_EQ(out->cancels, 1);
    EXPECT_EQ(out->count, 1);
}

// A listing gives up by itself on an SMB server that answers too slowly, as
// on any other (the limits shortened here): one that never answers the
// folder's listing, and one that says the listing is pending and then only
// answers echoes, a few bytes a minute. The message names the server.
class SmbListingTimeTest : public test::VirtualClockTest {
protected:
    static void SetUpTestSuite() { CIFSStackClient::registerWithRemote(); }

    struct Given {
        std::shared_ptr<Outcome> out;
        double seconds = 0;
    };
    Given listWithin(const test::FakeSmb2Server& server, const FileDownload::TimeLimits& limits) {
        Given g;
        g.out = std::make_shared<Outcome>();
        auto fd = std::make_shared<FileDownload>();
        fd->setDelegate(g.out);
        sys::PlistDictionary other;
        other.set("smblib", sys::PlistValue(int64_t(1)));
        fd->setOtherSettings_(other);
        fd->setTimeLimits(limits);
        const auto t0 = std::chrono::steady_clock::now();
        fd->getFileListFromUrl("smb://" + server.server() + "/books/Comics", std::nullopt, std::nullopt, std::nullopt,
                               true, nullptr);
        EXPECT_TRUE(test::drainUntil([&] { return g.out->count > 0; }, 20));
        g.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        EXPECT_EQ(g.out->count, 1);
        EXPECT_FALSE(g.out->fileList);
        EXPECT_NE(g.out->message.value_or("").find(server.server() + ": "), std::string::npos)
            << g.out->message.value_or("");
        return g;
    }
};

TEST_F(SmbListingTimeTest, AFolderListingThatNeverComesOrCrawlsIsGivenUpInTime) {
    constexpr uint16_t kQueryDirectory = 0x0E;
    {
        test::FakeSmb2Server silent;
        silent.on(kQueryDirectory, [](const test::FakeSmb2Server::Request&, test::FakeSmb2Server&) {});
        const Given g = listWithin(silent, {1.5, 60, 100});
        EXPECT_LT(g.seconds, 5);
        EXPECT_NE(g.out->message.value_or("").find("gave up after 1.5\u00a0s"), std::string::npos)
            << g.out->message.value_or("");
        EXPECT_EQ(silent.count(kQueryDirectory), 1);
    }
    {
        test::FakeSmb2Server pending;
        pending.on(kQueryDirectory, [](const test::FakeSmb2Server::Request& r, test::FakeSmb2Server& s) {
            s.replyPending(r);
        });
        pending.on(test::FakeSmb2Server::kEcho, [](const test::FakeSmb2Server::Request& r, test::FakeSmb2Server& s) {
            s.reply(r, 0, test::FakeSmb2Server::echoBody());
        });
        const Given g = listWithin(pending, {60, 1.5, 100});
        EXPECT_LT(g.seconds, 5);
        EXPECT_NE(g.out->message.value_or("").find("under 100\u00a0bytes a second for 1.5\u00a0s"), std::string::npos)
            << g.out->message.value_or("");
    }
    sys::Thread::joinLeftThreads();
}

// A server that answers what is no SMB (garbage, a length past any reply, a
// NEGOTIATE answer cut short) is said to be so, by every library: a
// password would not help.
TEST_F(SmbListingTimeTest, AReplyThatIsNoSmbIsSaidToBeSo) {
    using Server = test::FakeSmb2Server;
    const std::string step = BookCommon::localizedStringWithOnOff("Error Getting File List.");
    const std::vector<std::tuple<std::string, Server::Handler, std::string>> answers = {
        {"garbage", [](const Server::Request&, Server& s) { s.sendRaw(Server::Bytes(200, 'x')); },
         "The server's reply is not SMB2."},
        {"16 MB", [](const Server::Request&, Server& s) { s.sendRaw({0, 0xFF, 0xFF, 0xFF, 0xFE, 'S', 'M', 'B'}); },
         "The server's reply is too large."},
        {"cut short", [](const Server::Request& r, Server& s) { s.reply(r, 0, {65, 0, 1}); },
         "The server's negotiate reply is malformed."},
    };
    for (const auto& [what, answer, said] : answers) {
        SCOPED_TRACE(what);
        Server server;
        server.on(Server::kNegotiate, answer);
        auto out = std::make_shared<Outcome>();
        auto fd = std::make_shared<FileDownload>();
        fd->setDelegate(out);
        fd->getFileListFromUrl("smb://" + server.server() + "/books/", std::nullopt, std::nullopt, std::nullopt, true,
                               nullptr);
        EXPECT_TRUE(test::drainUntil([&] { return out->count > 0; }, 20));
        EXPECT_EQ(out->passwords, 0);
        EXPECT_EQ(out->message.value_or("").substr(0, step.size() + 1 + said.size()), step + "\n" + said);
    }
    sys::Thread::joinLeftThreads();
}

TEST(SmbListingRulesTest, EntriesShownAndTheirUrls) {
    std::vector<SmbListing::Record> records(9);
    records[0].name = "books";
    records[0].type = 0;
    records[0].comment = "Comics";
    records[1].name = "IPC$";
    records[1].type = 0x80000003;
    records[2].name = "C$";
    records[2].type = 0;
    records[3].name = "printer";
    records[3].type = 1;
    records[4].name = "a.cbz";
    records[4].attributes = 0x20;
    records[4].size = 5;
    records[4].lastWriteTime = 116444736000000000ull;
    records[5].name = "a.txt";
    records[5].attributes = 0x20;
    records[6].name = "a.txt";
    records[6].attributes = 0x10;
    records[7].name = "..";
    records[7].attributes = 0x10;
    records[8].name = "x/y.cbz";
    records[8].attributes = 0x20;
    auto e = SmbListing::entriesOf(records, "smb://h/s", false, true);
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e.fileList[0], "smb://h/s/books");
    EXPECT_EQ(e.infoList[0].getString("comment"), "Comics");
    EXPECT_TRUE(e.infoList[0].getBool("isFolder"));
    EXPECT_EQ(e.fileList[1], "smb://h/s/a.cbz");
    EXPECT_EQ(e.infoList[1].getString("bookdate"), "0");
    EXPECT_EQ(e.infoList[1].getInteger("order"), 1);
    EXPECT_EQ(e.fileList[2], "smb://h/s/a.txt");
    EXPECT_TRUE(e.infoList[2].getBool("isFolder"));

    std::vector<SmbListing::Record> dots(1);
    dots[0].name = ".x.cbz";
    dots[0].attributes = 0;
    EXPECT_EQ(SmbListing::entriesOf(dots, "smb://h/", true, false).size(), 0u);
    auto shown = SmbListing::entriesOf(dots, "smb://h/", false, false);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown.fileList[0], "smb://h/.x.cbz");
}

TEST(SmbListingRulesTest, UrlsNameServerShareAndPath) {
    auto t = SmbListing::targetOf("smb://nas:1445/My%20Share/a%23b/c%25d/");
    ASSERT_TRUE(t);
    EXPECT_EQ(t->server, "nas:1445");
    EXPECT_EQ(t->share, "My Share");
    EXPECT_EQ(t->path, "\\a#b\\c%d");
    auto root = SmbListing::targetOf("smb://nas/");
    ASSERT_TRUE(root);
    EXPECT_EQ(root->server, "nas");
    EXPECT_TRUE(root->share.empty());
    // No component may lead elsewhere at the server.
    EXPECT_FALSE(SmbListing::targetOf("smb://nas/books/%2E%2E/x"));
    EXPECT_FALSE(SmbListing::targetOf("smb://nas/books/a%5Cb"));
    EXPECT_FALSE(SmbListing::targetOf("smb://nas/books/a%2Fb"));

    // The client chosen: the site's "smblib" first, then the setting ("assmb"
    // 1 ours, "auto" 2 automatic, "auto2" 3 and anything else the stack's).
    using Library = SmbClientChoice::Library;
    sys::PlistDictionary site;
    EXPECT_EQ(SmbClientChoice::libraryOf(site, 0), Library::Stack);
    EXPECT_EQ(SmbClientChoice::libraryOf(site, 1), Library::Own);
    EXPECT_EQ(SmbClientChoice::libraryOf(site, 2), Library::Auto);
    EXPECT_EQ(SmbClientChoice::libraryOf(site, 3), Library::Stack);
    site.set("smblib", sys::PlistValue(int64_t(2)));
    EXPECT_EQ(SmbClientChoice::libraryOf(site, 2), Library::Own);
    site.set("smblib", sys::PlistValue(int64_t(1)));
    EXPECT_EQ(SmbClientChoice::libraryOf(site, 2), Library::Stack);
}

}  // namespace
