// FTP folders listed by FileDownload from servers as they are met: one that
// logs anonymous users on at USER and lists with MLSD (exact sizes and
// universal times, a non-ASCII folder), busy servers that greet or answer
// with 421, a listing the server cuts short, and a cancel while the worker
// is stuck in a name lookup.
#include "remote/listing/FileDownload.h"
#include "remote/listing/FtpListing.h"

#include "platform/core/Thread.h"
#include "remote/protocols/QNFtpRequestSync.h"
#include "tests/remote/listing/ListingOutcome.h"
#include "tests/support/TestHome.h"
#include "tests/support/VirtualClockTest.h"
#include "tests/support/net/FtpTestServer.h"
#include "tests/support/net/ReservedPort.h"
#include "tests/support/net/StuckNameLookup.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <future>
#include <poll.h>
#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;

using Outcome = test::ListingOutcome;

// 2019-05-06 07:08:09 UTC: more than half a year ago, so LIST shows only the
// day (and in the server's local time); MLSD gives it to the second.
constexpr int64_t kBookTime = 1557126489;
constexpr const char* kBusy = "The server is busy. Please try again later.";

class FtpListingTest : public test::VirtualClockTest {
protected:
    void SetUp() override {
        VirtualClockTest::SetUp();
        if (!test::FtpTestServer::havePyftpdlib()) GTEST_SKIP() << "python3-pyftpdlib is not installed";
        fs::create_directories(www_.file("漫画"));
        std::ofstream(www_.file("a.cbz"), std::ios::binary) << std::string(70001, 'a');
        std::ofstream(www_.file("漫画/第1巻.cbz")) << "12345";
        std::ofstream(www_.file("notes.txt")) << "x";
        const timespec times[2] = {{kBookTime, 0}, {kBookTime, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, www_.file("a.cbz").c_str(), times, 0), 0);
    }

    std::shared_ptr<Outcome> list(const std::string& url, const std::string& user = "", const std::string& pw = "") {
        auto out = std::make_shared<Outcome>();
        auto fd = std::make_shared<FileDownload>();
        fd->setDelegate(out);
        fd->getFileListFromUrl(url, std::string("Title"), user, pw, true, nullptr);
        EXPECT_TRUE(loop().runUntil([&] { return out->count > 0; }, 30));
        advance(1);
        EXPECT_EQ(out->count, 1) << "exactly one outcome";
        return out;
    }

    test::TempDir www_{"ftplistwww"};
};

TEST_F(FtpListingTest, AServerThatLogsAnonymousOnAtUserIsListedWithExactSizesAndTimes) {
    test::FtpTestServer server;
    test::FtpTestServer::PyOptions o;
    o.anonymousAtUser = true;
    ASSERT_TRUE(server.startPyftpdlib(www_.path(), o)) << server.lastError();

    auto root = list(server.url("/"));
    ASSERT_TRUE(root->fileList) << root->message.value_or("") << " passwords asked: " << root->passwords;
    EXPECT_EQ(root->names(), (std::vector<std::string>{"a.cbz", "漫画"}));
    ASSERT_TRUE(root->info("a.cbz"));
    EXPECT_EQ(root->info("a.cbz")->getInteger("booksize"), 70001);
    EXPECT_EQ(root->info("a.cbz")->getString("bookdate"), std::to_string(kBookTime)) << "the file's time, to the second";
    EXPECT_TRUE(root->info("漫画")->getBool("isFolder"));
    EXPECT_EQ(root->url("漫画"), server.url("/%E6%BC%AB%E7%94%BB"));

    // The folder's entry, and the folder as typed into a site's address or
    // saved with lower-case escapes: the same entries.
    for (const std::string& folder :
         {root->url("漫画"), server.url("/漫画/"), server.url("/%e6%bc%ab%e7%94%bb/")}) {
        SCOPED_TRACE(folder);
        auto sub = list(folder);
        ASSERT_TRUE(sub->fileList) << sub->message.value_or("");
        EXPECT_EQ(sub->names(), (std::vector<std::string>{"第1巻.cbz"}));
        ASSERT_TRUE(sub->info("第1巻.cbz"));
        EXPECT_EQ(sub->info("第1巻.cbz")->getInteger("booksize"), 5);
    }
    EXPECT_EQ(list(server.url("/漫画/"))->url("第1巻.cbz"),
              server.url("/%E6%BC%AB%E7%94%BB/%E7%AC%AC1%E5%B7%BB.cbz"));
}

TEST_F(FtpListingTest, NamesTravelInUtf8OnAServerThatOffersIt) {
    // A server that lists names in Latin-1 unless asked for UTF-8.
    std::ofstream(www_.file("café.cbz")) << "12345";
    test::FtpTestServer server;
    test::FtpTestServer::PyOptions o;
    o.legacyNames = true;
    ASSERT_TRUE(server.startPyftpdlib(www_.path(), o)) << server.lastError();
    auto root = list(server.url("/"));
    ASSERT_TRUE(root->fileList) << root->message.value_or("");
    ASSERT_TRUE(root->info("café.cbz"));
    EXPECT_EQ(root->url("café.cbz"), server.url("/caf%C3%A9.cbz")) << "the name's UTF-8 bytes";
}

TEST_F(FtpListingTest, ABusyServerIsToldAsBusyNotAsAWrongPassword) {
    // One session per address, and that one is taken: the next is greeted with 421.
    test::FtpTestServer full;
    test::FtpTestServer::PyOptions o;
    o.maxSessionsPerIp = 1;
    ASSERT_TRUE(full.startPyftpdlib(www_.path(), o)) << full.lastError();
    QNFtpRequestSync holder;
    int rc = QNFtpRequestSync::kServerBusy;
    // The readiness check's session may not be gone yet.
    for (int i = 0; i < 100 && rc == QNFtpRequestSync::kServerBusy; ++i) {
        rc = holder.connectToFtp("127.0.0.1", full.port(), "reader", "secret");
        if (rc == QNFtpRequestSync::kServerBusy) ::poll(nullptr, 0, 20);
    }
    ASSERT_EQ(rc, QNFtpRequestSync::kLoggedOn);
    auto greeted = list(full.url("/"), "reader", "secret");
    EXPECT_EQ(greeted->passwords, 0);
    EXPECT_FALSE(greeted->fileList);
    EXPECT_EQ(greeted->message.value_or(""), kBusy);
    holder.disconnect();

    // 421 in answer to the password.
    test::FtpTestServer closing;
    o = {};
    o.cannedReplies["PASS"] = "421 Service not available, closing control connection.";
    ASSERT_TRUE(closing.startPyftpdlib(www_.path(), o)) << closing.lastError();
    auto answered = list(closing.url("/"), "reader", "secret");
    EXPECT_EQ(answered->passwords, 0);
    EXPECT_EQ(answered->message.value_or(""), kBusy);
}

TEST_F(FtpListingTest, AListingTheServerCutsShortIsAnErrorNotAShortFolder) {
    for (int i = 0; i < 300; ++i) std::ofstream(www_.file("Volume " + std::to_string(1000 + i) + ".cbz")) << i;
    for (const char* reply : {"426 Connection closed; transfer aborted.", "451 Requested action aborted."}) {
        test::FtpTestServer server;
        test::FtpTestServer::PyOptions o;
        o.cutListingAfter = 4000;
        o.cutListingReply = reply;
        ASSERT_TRUE(server.startPyftpdlib(www_.path(), o)) << server.lastError();
        auto cut = list(server.url("/"));
        EXPECT_FALSE(cut->fileList) << reply << ": " << (cut->fileList ? cut->fileList->size() : 0) << " entries";
        EXPECT_NE(cut->message.value_or("").find("Connection Failed."), std::string::npos) << reply;
        EXPECT_NE(cut->message.value_or("").find("127.0.0.1:"), std::string::npos) << reply << ": the server is named";
        // Listed again, whole.
        auto whole = list(server.url("/"));
        ASSERT_TRUE(whole->fileList);
        EXPECT_EQ(whole->fileList->size(), 302u);
    }
    // Nothing listening at all: the message names where.
    test::ReservedPort closed;
    ASSERT_NE(closed.port(), 0);
    const std::string where = "127.0.0.1:" + std::to_string(closed.port());
    auto refused = list("ftp://" + where + "/");
    EXPECT_FALSE(refused->fileList);
    EXPECT_EQ(refused->message.value_or("").rfind("Connection Failed.", 0), 0u) << refused->message.value_or("");
    EXPECT_NE(refused->message.value_or("").find(where), std::string::npos) << refused->message.value_or("");
}

// A listing gives up by itself on a server that answers too slowly, as the
// README promises (90 s in all, 20 s below 100 bytes a second; shortened
// here): one that answers LIST and then sends nothing, one that drips the
// listing, one slow to log on, and a name that is never looked up; the
// message names the server. Waited for in real time: the limits are.
TEST_F(FtpListingTest, AListingThatNeverComesOrDripsIsGivenUpInTime) {
    using Limits = FileDownload::TimeLimits;
    struct Given {
        std::shared_ptr<Outcome> out;
        double seconds = 0;
    };
    auto listWithin = [&](const std::string& url, const Limits& limits) {
        Given g;
        g.out = std::make_shared<Outcome>();
        auto fd = std::make_shared<FileDownload>();
        fd->setDelegate(g.out);
        fd->setTimeLimits(limits);
        const auto t0 = std::chrono::steady_clock::now();
        fd->getFileListFromUrl(url, std::string("Title"), std::nullopt, std::nullopt, true, nullptr);
        EXPECT_TRUE(test::drainUntil([&] { return g.out->count > 0; }, 20)) << url;
        g.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        EXPECT_EQ(g.out->count, 1) << url;
        EXPECT_FALSE(g.out->fileList) << url;
        return g;
    };
    auto expectGivenUp = [](const Given& g, const std::string& why, double within, const char* what) {
        EXPECT_LT(g.seconds, within) << what;
        EXPECT_EQ(g.out->message.value_or("").rfind("Connection Failed.", 0), 0u) << what << ": " << g.out->message.value_or("");
        EXPECT_NE(g.out->message.value_or("").find("127.0.0.1:"), std::string::npos) << what << ": the server is named";
        EXPECT_NE(g.out->message.value_or("").find(why), std::string::npos) << what << ": " << g.out->message.value_or("");
    };

    test::FtpTestServer stalled;
    test::FtpTestServer::PyOptions o;
    o.stallListings = true;
    ASSERT_TRUE(stalled.startPyftpdlib(www_.path(), o)) << stalled.lastError();
    expectGivenUp(listWithin(stalled.url("/"), {1.5, 60, 100}), "gave up after 1.5\u00a0s", 5, "150 and then nothing");

    test::FtpTestServer dripping;
    o = {};
    o.dripListingMs = 100;
    ASSERT_TRUE(dripping.startPyftpdlib(www_.path(), o)) << dripping.lastError();
    expectGivenUp(listWithin(dripping.url("/"), {60, 1.5, 100}), "under 100\u00a0bytes a second for 1.5\u00a0s", 5, "a drip");

    // 80 bytes a second: below the pace, though more than 100 bytes arrive
    // within its time.
    for (int i = 0; i < 100; ++i) std::ofstream(www_.file("Volume " + std::to_string(1000 + i) + ".cbz")) << i;
    test::FtpTestServer steady;
    o = {};
    o.dripListingMs = 100;
    o.dripListingBytes = 8;
    ASSERT_TRUE(steady.startPyftpdlib(www_.path(), o)) << steady.lastError();
    expectGivenUp(listWithin(steady.url("/"), {10, 3, 100}), "under 100\u00a0bytes a second for 3\u00a0s", 8,
                  "a steady drip below the pace");

    // The log-on counts.
    test::FtpTestServer slow;
    o = {};
    o.loginDelaySeconds = 8;
    ASSERT_TRUE(slow.startPyftpdlib(www_.path(), o)) << slow.lastError();
    expectGivenUp(listWithin(slow.url("/"), {1.5, 60, 100}), "gave up after 1.5\u00a0s", 5, "a slow log-on");

    // And the name's look-up, which no cancel reaches: the listing is said
    // to have failed all the same.
    {
        test::StuckNameLookup stuck;
        const auto g = listWithin("ftp://" + std::string(test::StuckNameLookup::kName) + "/books/", {1.5, 60, 100});
        EXPECT_LT(g.seconds, 5);
        EXPECT_NE(g.out->message.value_or("").find(std::string(test::StuckNameLookup::kName) + ": gave up after 1.5\u00a0s"),
                  std::string::npos)
            << g.out->message.value_or("");
    }
    sys::Thread::joinLeftThreads();

    // A headless run's time is its script's: a listing has had its time once
    // the program's clock has passed the deadline, whatever the real clock
    // says (the look-up here holds the worker, which no longer holds the
    // clock once it has waited a few seconds).
    {
        test::StuckNameLookup stuck;
        auto out = std::make_shared<Outcome>();
        auto fd = std::make_shared<FileDownload>();
        fd->setDelegate(out);
        fd->setTimeLimits({30, 60, 100});
        fd->getFileListFromUrl("ftp://" + std::string(test::StuckNameLookup::kName) + "/books/", std::nullopt,
                               std::nullopt, std::nullopt, true, nullptr);
        ASSERT_TRUE(stuck.waitForLookup(10));
        const auto t0 = std::chrono::steady_clock::now();
        advance(31);
        EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 20);
        EXPECT_EQ(out->count, 1);
        EXPECT_NE(out->message.value_or("").find("gave up after 30\u00a0s"), std::string::npos)
            << out->message.value_or("");
    }
    sys::Thread::joinLeftThreads();

    // Within the limits, a listing is listed.
    test::FtpTestServer plain;
    ASSERT_TRUE(plain.startPyftpdlib(www_.path(), {})) << plain.lastError();
    auto ok = list(plain.url("/"));
    ASSERT_TRUE(ok->fileList) << ok->message.value_or("");
}

// A line the server should never have sent (a zero byte in a name) is left
// out; the lines after it are listed.
TEST_F(FtpListingTest, ALineWithAZeroByteIsSkippedAndTheRestListed) {
    test::FtpTestServer server;
    test::FtpTestServer::PyOptions o;
    const std::string line = "-rw-r--r-- 1 ftp ftp 10 Jan 01  2020 ";
    o.listing = line + "good1.cbz\r\n" + line + std::string("nul\0x.cbz\r\n", 11) + line + "good2.cbz\r\n" + line +
                "ok name.cbz\r\n";
    ASSERT_TRUE(server.startPyftpdlib(www_.path(), o)) << server.lastError();
    auto listed = list(server.url("/"));
    ASSERT_TRUE(listed->fileList) << listed->message.value_or("");
    EXPECT_EQ(listed->names(), (std::vector<std::string>{"good1.cbz", "good2.cbz", "ok name.cbz"}));
}

TEST_F(FtpListingTest, CancelReturnsAtOnceWhileTheWorkerIsStuckInANameLookup) {
    test::StuckNameLookup stuck;
    auto out = std::make_shared<Outcome>();
    auto fd = std::make_shared<FileDownload>();
    fd->setDelegate(out);
    fd->getFileListFromUrl("ftp://" + std::string(test::StuckNameLookup::kName) + "/books/", std::string("Title"),
                           std::nullopt, std::nullopt, true, nullptr);
    ASSERT_TRUE(stuck.waitForLookup(10));
    // Were the cancel to wait for the worker, it would wait for the lookup:
    // that one is let go after 3 s, so that the test ends either way.
    std::promise<void> returned;
    auto unstick = std::async(std::launch::async, [&, f = returned.get_future()] {
        if (f.wait_for(std::chrono::seconds(3)) != std::future_status::ready) stuck.release();
    });
    const auto t0 = std::chrono::steady_clock::now();
    fd->cancelFileListDownload();
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    returned.set_value();
    EXPECT_LT(took, 1.0) << "the main thread waited for the lookup";
    EXPECT_EQ(out->cancels, 1);
    EXPECT_EQ(stuck.blocked(), 1) << "the worker is still in its lookup";
    fd.reset();
    stuck.release();
    unstick.get();
    // The worker ends on its own; what it found is dropped.
    sys::Thread::joinLeftThreads();
    EXPECT_TRUE(stuck.waitUntilNoneBlocked(10));
    loop().drain();
    EXPECT_EQ(out->count, 1);
}

}  // namespace
