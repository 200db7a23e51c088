// The transfer queue over real servers on loopback: order, results, the
// observer's view, cancelling and retrying, and the state file that lets a
// queue cut short by a kill carry on at the next start, its items with the
// password of the site they came from.
#include "remote/BookTransfer.h"

#include "foundation/QNKeyChain.h"
#include "foundation/Settings.h"
#include "platform/core/Keychain.h"
#include "platform/core/PropertyList.h"
#include "platform/ui/RecordingUserNotificationCenter.h"
#include "remote/screens/ShowHttpAuth.h"
#include "remote/transfer/HttpDownload.h"
#include "tests/remote/transfer/DownloadTestFiles.h"
#include "tests/support/TestHome.h"
#include "tests/support/VirtualClockTest.h"
#include "tests/support/net/FaultHttpServer.h"
#include "tests/support/net/NginxServer.h"
#include "tests/support/net/TestCertificate.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

namespace fs = std::filesystem;

// What the transfer screen would be told, in order.
struct Watcher : BookTransferDelegate {
    void onChangeCue(const Items& cue, bool one, int index) override {
        events.push_back("cue " + std::to_string(cue.size()) + (one ? " one " + std::to_string(index) : ""));
    }
    void onChangeRecentCue(const Items& recent, int type, int index) override {
        events.push_back("recent " + std::to_string(recent.size()) + " type " + std::to_string(type) + " at " +
                         std::to_string(index));
    }
    void onChangeTransferItem(const std::shared_ptr<TransferItem>& item) override {
        events.push_back(item ? "run " + item->saveName : "idle");
    }
    void onChangeTransferProgress(const std::shared_ptr<TransferItem>& item) override {
        if (item) lastProgress = item->sizeTransfer;
        ++progress;
    }
    std::vector<std::string> events;
    int progress = 0;
    int64_t lastProgress = 0;
};

class BookTransferTest : public test::DownloadFixture {
protected:
    void SetUp() override {
        DownloadFixture::SetUp();
        notices_ = std::make_shared<ui::RecordingUserNotificationCenter>();
        ui::UserNotificationCenter::setShared(notices_);
    }
    void TearDown() override {
        ui::UserNotificationCenter::setShared(nullptr);
        DownloadFixture::TearDown();
    }

    std::shared_ptr<BookTransfer> makeQueue() {
        auto q = std::make_shared<BookTransfer>();
        q->setSettings_(settings_);
        q->setStateFilePath(stateDir_.file("queue.plist"));
        q->setStallTimeout(5);
        q->setDelegate(watcher_);
        return q;
    }

    void add(BookTransfer& q, const std::string& url, std::optional<std::string> name = std::nullopt) {
        q.addNewItem(0, url, out_.path(), std::nullopt, name, std::nullopt, std::nullopt, std::nullopt, {}, {}, 0);
    }

    bool runIdle(BookTransfer& q, double seconds = 60) {
        return loop().runUntil([&] { return !q.isActive(); }, seconds);
    }

    test::TempDir stateDir_{"state"};
    std::shared_ptr<ui::RecordingUserNotificationCenter> notices_;
    std::shared_ptr<Watcher> watcher_ = std::make_shared<Watcher>();
};

TEST(BookTransferNames, FileNamesComeFromTheLastPathComponentDecoded) {
    EXPECT_EQ(BookTransfer::fileNameFromSource("http://h/dir/my%20book.cbz"), "my book.cbz");
    EXPECT_EQ(BookTransfer::fileNameFromSource("http://h/dir/%E6%BC%AB%e7%94%bb.zip"), "漫画.zip");
    EXPECT_EQ(BookTransfer::fileNameFromSource("http://h/a.cbz?x=1#top"), "a.cbz");
    // An invalid digit counts as 0; a "%" at the very end stops the decoding.
    EXPECT_EQ(BookTransfer::fileNameFromSource("http://h/a%4g.cbz"), std::string("a@.cbz"));
    EXPECT_EQ(BookTransfer::fileNameFromSource("http://h/ab%"), "ab");
    // An escaped slash or dots never make a path out of the name.
    EXPECT_EQ(BookTransfer::fileNameFromSource("http://h/..%2F..%2Fx.cbz"), ".._.._x.cbz");
    EXPECT_EQ(BookTransfer::fileNameFromSource("http://h/%2E%2E"), "download");
    // At most 1023 bytes, never cut inside a character.
    std::string longName;
    for (int i = 0; i < 400; ++i) longName += "%E3%81%82";  // 1200 bytes of "あ"
    const std::string name = BookTransfer::fileNameFromSource("http://h/" + longName);
    EXPECT_EQ(name.size(), 1023u);
    EXPECT_EQ(name.substr(name.size() - 3), "あ");
    const std::string shifted = BookTransfer::fileNameFromSource("http://h/x" + longName);
    EXPECT_EQ(shifted.size(), 1021u);
}

TEST_F(BookTransferTest, RunsItemsOneAtATimeInOrderAndKeepsTheirEnds) {
    if (test::NginxServer::program().empty()) GTEST_SKIP() << "no nginx";
    const std::string a = pattern(300000, 1), b = pattern(200000, 2), c = pattern(100000, 3);
    writeFile(www_.file("a.cbz"), a);
    writeFile(www_.file("b c.cbz"), b);
    writeFile(www_.file("c.cbz"), c);
    test::NginxServer nginx;
    ASSERT_TRUE(nginx.start(www_.path())) << nginx.lastError();

    auto q = makeQueue();
    add(*q, nginx.url("/a.cbz"));
    // Adding while one runs only appends.
    ASSERT_TRUE(q->getTransferInProgress());
    EXPECT_EQ(q->getTransferInProgress()->source, nginx.url("/a.cbz"));
    add(*q, nginx.url("/b%20c.cbz"));
    add(*q, nginx.url("/missing.cbz"));
    add(*q, nginx.url("/c.cbz"), "renamed.cbz");
    EXPECT_EQ(q->getCue().size(), 3u);
    EXPECT_EQ(q->getTransferCount(), 4u);
    ASSERT_TRUE(runIdle(*q));

    EXPECT_TRUE(readFile(out_.file("a.cbz")) == a);
    EXPECT_TRUE(readFile(out_.file("b c.cbz")) == b);
    EXPECT_TRUE(readFile(out_.file("renamed.cbz")) == c);
    // The server saw them in queue order, one after another.
    std::vector<std::string> order;
    for (const auto& r : nginx.requests()) order.push_back(r.target);
    EXPECT_EQ(order, (std::vector<std::string>{"/a.cbz", "/b%20c.cbz", "/missing.cbz", "/c.cbz"}));

    const auto& recent = q->getRecentCue();
    ASSERT_EQ(recent.size(), 4u);
    EXPECT_EQ(recent[0]->saveName, "renamed.cbz");
    EXPECT_EQ(recent[0]->status, TransferItem::kDone);
    EXPECT_EQ(recent[1]->status, TransferItem::kFailed);
    EXPECT_EQ(recent[1]->errorMessage.value_or(""), "HTTP File Not Found.");
    EXPECT_EQ(recent[3]->size, 300000);
    EXPECT_EQ(recent[3]->sizeTransfer, 300000);
    EXPECT_GT(recent[3]->startTime, 0);

    EXPECT_EQ(watcher_->events.front(), "cue 1");
    EXPECT_EQ(watcher_->events[1], "run a.cbz");
    EXPECT_EQ(watcher_->events.back(), "idle");
    EXPECT_GT(watcher_->progress, 0);
    // One notice per ended item, errors told apart.
    ASSERT_EQ(notices_->added.size(), 4u);
    EXPECT_EQ(notices_->added[0].body, "Download Complete: a.cbz");
    EXPECT_EQ(notices_->added[2].body, "Download Error: missing.cbz");
    EXPECT_EQ(notices_->added[2].userInfo.at("category"), "FILE_TRANSFER");
    // An empty queue leaves no state behind.
    EXPECT_FALSE(fs::exists(stateDir_.file("queue.plist")));

    // Retrying a failed entry moves it to the end of the queue and, the
    // queue being idle, starts it at once; the list is then reloaded.
    writeFile(www_.file("missing.cbz"), c);
    q->retryItemInRecentCue(1);
    EXPECT_EQ(q->getRecentCue().size(), 3u);
    ASSERT_TRUE(q->getTransferInProgress());
    EXPECT_EQ(q->getTransferInProgress()->saveName, "missing.cbz");
    ASSERT_TRUE(runIdle(*q));
    ASSERT_EQ(q->getRecentCue().size(), 4u);
    EXPECT_EQ(q->getRecentCue()[0]->status, TransferItem::kDone);
    EXPECT_TRUE(readFile(out_.file("missing.cbz")) == c);
    EXPECT_NE(std::find(watcher_->events.rbegin(), watcher_->events.rend(), "recent 4 type 3 at 0"),
              watcher_->events.rend());

    q->removeRecentCueItem(1);
    EXPECT_EQ(watcher_->events.back(), "recent 3 type 2 at 1");
    q->clearRecentCue();
    EXPECT_TRUE(q->getRecentCue().empty());
}

TEST_F(BookTransferTest, CancellingDropsTheRunningItemAndTheNextStarts) {
    const std::string a = pattern(200000, 4), b = pattern(150000, 5);
    writeFile(www_.file("a.cbz"), a);
    writeFile(www_.file("b.cbz"), b);
    writeFile(www_.file("c.cbz"), b);
    test::FaultHttpServer server(www_.path());
    ASSERT_TRUE(server.start());

    auto q = makeQueue();
    add(*q, server.url("/a.cbz?stall_from=1"));
    add(*q, server.url("/c.cbz"));
    add(*q, server.url("/b.cbz"));
    ASSERT_TRUE(server.waitForStalled(1, 10));
    q->removeItemAtIndex(0);
    EXPECT_EQ(watcher_->events.back(), "cue 1 one 0");
    q->cancelCurrentTransfer();
    ASSERT_TRUE(runIdle(*q));
    // The cancelled item shows nowhere and gave no notice.
    ASSERT_EQ(q->getRecentCue().size(), 1u);
    EXPECT_EQ(q->getRecentCue()[0]->saveName, "b.cbz");
    EXPECT_EQ(notices_->added.size(), 1u);
    EXPECT_FALSE(fs::exists(out_.file("a.cbz")));
    EXPECT_FALSE(fs::exists(out_.file("c.cbz")));
    EXPECT_TRUE(readFile(out_.file("b.cbz")) == b);

    // Cancelling everything empties the queue too.
    add(*q, server.url("/a.cbz?stall_from=1"));
    add(*q, server.url("/b.cbz"));
    ASSERT_TRUE(server.waitForStalled(1, 10));
    q->cancelCurrentTransferAll();
    EXPECT_FALSE(q->isActive());
    advance(2);
    EXPECT_EQ(q->getRecentCue().size(), 1u);
    EXPECT_FALSE(fs::exists(stateDir_.file("queue.plist")));
}

// Nobody waits for a download: an item holds up advancing virtual time for
// its hold from its start, whatever comes after it (continuations after
// broken connections, a fresh start after a refused resume), however busily
// its server talks.
TEST_F(BookTransferTest, AnItemHoldsUpTheClockOnlyForTheHoldOfItsStart) {
    writeFile(www_.file("a.cbz"), pattern(2000000, 9));
    writeFile(www_.file("b.cbz"), pattern(2000000, 10));
    test::FaultHttpServer server(www_.path());
    ASSERT_TRUE(server.start());
    auto q = makeQueue();
    q->setClockHoldSeconds(1);
    // How long advancing the clock waits for the item; its requests go on
    // (the queue running them) up to the `requests`-th.
    auto heldFor = [&](const std::string& path, const std::string& faults, size_t requests) {
        add(*q, server.url(path + faults));
        const auto t0 = std::chrono::steady_clock::now();
        advance(30);
        const double held = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        EXPECT_TRUE(test::drainUntil([&] { return server.requestCount(path) >= requests; }, 20)) << path;
        q->cancelCurrentTransferAll();
        return held;
    };
    testing::internal::CaptureStderr();
    // Each connection breaks off after 0.8 s: a continuation every 0.8 s.
    EXPECT_LT(heldFor("/a.cbz", "?rate=100000&drop_after=80000&drop_times=6", 4), 3.0);
    // The first connection breaks off, the resume is refused, and the
    // download starts afresh: 20 s of a slow server.
    EXPECT_LT(heldFor("/b.cbz", "?rate=100000&drop_after=20000&drop_times=1&fail416_from=2", 3), 3.0);
    testing::internal::GetCapturedStderr();
}

TEST_F(BookTransferTest, AQueueCutShortCarriesOnAtTheNextStartWithoutRefetching) {
    const std::string a = pattern(250000, 6), b = pattern(120000, 7), c = pattern(90000, 8);
    writeFile(www_.file("a.cbz"), a);
    writeFile(www_.file("b.cbz"), b);
    writeFile(www_.file("c.cbz"), c);
    auto server = std::make_unique<test::FaultHttpServer>(www_.path());
    ASSERT_TRUE(server->start());
    const int port = server->port();
    // The first connection drops after 150000 bytes; the queue continues at
    // once, and that connection hangs: the program is killed there.
    const std::string url = server->url("/a.cbz?drop_after=150000&drop_times=1&stall_from=2");
    const std::string temp = HttpDownload::temporaryFolder() + "/" + HttpDownload::kTempFileName;

    {
        auto q = makeQueue();
        q->setStallTimeout(1e6);
        q->addNewItem(0, url, out_.path(), std::nullopt, std::nullopt, std::string("reader"),
                      std::string("secret"), std::nullopt, {}, {}, 0);
        add(*q, server->url("/b.cbz"));
        add(*q, server->url("/c.cbz"));
        // A book on an SMB share (where no server listens) waits last.
        add(*q, "smb://127.0.0.1:1/share/d.cbz");
        ASSERT_TRUE(loop().runUntil([&] { return server->requestCount("/a.cbz") >= 2; }, 60));
        ASSERT_TRUE(server->waitForStalled(1, 20));
        // The state on disk names the running item first, then the waiting
        // ones, and never a password.
        const std::string state = readFile(stateDir_.file("queue.plist"));
        EXPECT_EQ(state.find("secret"), std::string::npos);
        // Addresses and user names are the user's alone.
        EXPECT_EQ(fs::status(stateDir_.file("queue.plist")).permissions() &
                      (fs::perms::group_all | fs::perms::others_all),
                  fs::perms::none);
        auto saved = sys::PropertyList::readArray(stateDir_.file("queue.plist"));
        ASSERT_TRUE(saved);
        ASSERT_EQ(saved->size(), 4u);
        EXPECT_EQ((*saved)[0].asDictionary().getString("source"), url);
        EXPECT_EQ((*saved)[0].asDictionary().getString("username"), "reader");
        EXPECT_EQ((*saved)[2].asDictionary().getString("saveName"), "c.cbz");
        EXPECT_EQ(fs::file_size(temp), 150000u);
        EXPECT_TRUE(q->getRecentCue().empty());
    }
    EXPECT_FALSE(fs::exists(out_.file("a.cbz")));

    // The next start: the same server address, answering afresh.
    server.reset();
    server = std::make_unique<test::FaultHttpServer>(www_.path());
    ASSERT_TRUE(server->start(port));
    // The item read back knows its user, and its password is the one the
    // key chain remembers for the server's address.
    sys::Keychain::setShared(sys::Keychain::inMemory());
    ASSERT_TRUE(QNKeyChain::addOrUpdateAccountWithURL(server->url("/"), "reader", "secret"));
    auto q = makeQueue();
    EXPECT_EQ(q->restoreState(), 4u);
    // The SMB item is still one, to be fetched by the SMB client.
    ASSERT_FALSE(q->getCue().empty());
    EXPECT_EQ(q->getCue().back()->source, "smb://127.0.0.1:1/share/d.cbz");
    EXPECT_EQ(q->getCue().back()->type, TransferItem::kSmb);
    ASSERT_TRUE(runIdle(*q));
    EXPECT_TRUE(readFile(out_.file("a.cbz")) == a);
    EXPECT_TRUE(readFile(out_.file("b.cbz")) == b);
    EXPECT_TRUE(readFile(out_.file("c.cbz")) == c);
    // The first continued where the bytes on disk ended.
    std::vector<std::string> ranges;
    for (const auto& r : server->requests())
        if (r.path == "/a.cbz") ranges.push_back(r.range);
    EXPECT_EQ(ranges, std::vector<std::string>{"bytes=150000-"});
    ASSERT_EQ(q->getRecentCue().size(), 4u);
    for (const auto& item : q->getRecentCue()) {
        if (item->source.rfind("smb:", 0) != 0) continue;
        EXPECT_EQ(item->type, TransferItem::kSmb);
        EXPECT_EQ(item->status, TransferItem::kFailed);
    }
    EXPECT_FALSE(fs::exists(stateDir_.file("queue.plist")));
    sys::Keychain::setShared(nullptr);
}

TEST_F(BookTransferTest, AnItemReadBackGoesWithItsSitesPasswordAndForgetsItWhenRefused) {
    // A site that wants "reader" with "right", and a public server.
    test::TempDir conf("conf");
    ASSERT_TRUE(test::writeHtpasswd(conf.file("htpasswd"), "reader", "right"));
    writeFile(www_.file("a.cbz"), pattern(30000, 1));
    writeFile(www_.file("b.cbz"), pattern(30000, 2));
    writeFile(www_.file("c.cbz"), pattern(30000, 3));
    writeFile(www_.file("d.cbz"), pattern(30000, 4));
    test::NginxServer nginx;
    nginx.setLocationConfig("auth_basic \"books\"; auth_basic_user_file " + conf.file("htpasswd") + ";");
    ASSERT_TRUE(nginx.start(www_.path())) << nginx.lastError();
    test::FaultHttpServer open(www_.path());
    ASSERT_TRUE(open.start());
    sys::Keychain::setShared(sys::Keychain::inMemory());
    QNKeyChain::addOrUpdatePassword("right", "current", ShowHttpAuth::kSitePasswordService);
    QNKeyChain::addOrUpdatePassword("old", "changed", ShowHttpAuth::kSitePasswordService);

    // Items of two sites, the second's password changed on the server since,
    // one written before items knew their site, and one of a site whose
    // password nothing keeps.
    auto item = [&](const std::string& path, const std::string& siteID) {
        TransferItem t;
        t.source = nginx.url(path);
        t.savePath = out_.path();
        t.saveName = path.substr(1);
        t.username = "reader";
        t.password = "never saved";
        t.site = {nginx.url("/"), siteID};
        return sys::PlistValue(t.toStateDictionary());
    };
    sys::PlistDictionary old{{"type", 0}, {"source", open.url("/c.cbz")}, {"savePath", out_.path()},
                             {"saveName", "c.cbz"}};
    ASSERT_TRUE(sys::PropertyList::writeFile(sys::PlistValue(sys::PlistArray{item("/a.cbz", "current"),
                                                                             item("/b.cbz", "changed"), old,
                                                                             item("/d.cbz", "unknown")}),
                                             stateDir_.file("queue.plist")));
    auto q = makeQueue();
    ASSERT_EQ(q->restoreState(), 4u);
    ASSERT_EQ(q->getCue().size(), 3u);  // the first runs
    EXPECT_EQ(q->getCue()[0]->site.id, "changed");
    EXPECT_EQ(q->getCue()[0]->site.url, nginx.url("/"));
    EXPECT_TRUE(q->getCue()[1]->site.url.empty());
    ASSERT_TRUE(runIdle(*q));
    ASSERT_EQ(q->getRecentCue().size(), 4u);
    // Most recent first. The last asked before sending its user with an
    // empty password (nobody answers here): the server saw nothing of it.
    EXPECT_EQ(q->getRecentCue()[0]->status, TransferItem::kFailed);
    EXPECT_EQ(nginx.requestCount("/d.cbz"), 0u);
    EXPECT_EQ(q->getRecentCue()[3]->status, TransferItem::kDone);
    EXPECT_TRUE(readFile(out_.file("a.cbz")) == pattern(30000, 1));
    // Refused, asked (nobody answers here), and the refused password is gone.
    EXPECT_EQ(q->getRecentCue()[2]->status, TransferItem::kFailed);
    EXPECT_FALSE(QNKeyChain::getPasswordWithAccount(std::string("changed"), std::string(ShowHttpAuth::kSitePasswordService)));
    EXPECT_EQ(QNKeyChain::getPasswordWithAccount(std::string("current"), std::string(ShowHttpAuth::kSitePasswordService)),
              std::optional<std::string>("right"));
    EXPECT_EQ(q->getRecentCue()[1]->status, TransferItem::kDone);
    EXPECT_TRUE(readFile(out_.file("c.cbz")) == pattern(30000, 3));
    sys::Keychain::setShared(nullptr);
}

TEST_F(BookTransferTest, AStateFileOfNoUseIsIgnoredEntryByEntry) {
    auto q = makeQueue();
    EXPECT_EQ(q->restoreState(), 0u);  // none there

    writeFile(stateDir_.file("queue.plist"), "not a property list");
    EXPECT_EQ(q->restoreState(), 0u);

    // Entries without a source, a folder or a plain file name are skipped.
    sys::PlistDictionary escaping{{"source", "http://127.0.0.1:1/x.cbz"},
                                  {"savePath", out_.path()},
                                  {"saveName", "../x.cbz"}};
    sys::PlistDictionary noSource{{"savePath", out_.path()}, {"saveName", "y.cbz"}};
    sys::PlistDictionary good{{"source", "http://127.0.0.1:1/z.cbz"},
                              {"savePath", out_.path()},
                              {"saveName", "z.cbz"}};
    sys::PropertyList::writeFile(sys::PlistValue(sys::PlistArray{escaping, noSource, sys::PlistValue("odd"), good}),
                                 stateDir_.file("queue.plist"));
    EXPECT_EQ(q->restoreState(), 1u);
    ASSERT_TRUE(runIdle(*q, 30));
    ASSERT_EQ(q->getRecentCue().size(), 1u);
    EXPECT_EQ(q->getRecentCue()[0]->saveName, "z.cbz");
    EXPECT_EQ(q->getRecentCue()[0]->status, TransferItem::kFailed);
}

}  // namespace
