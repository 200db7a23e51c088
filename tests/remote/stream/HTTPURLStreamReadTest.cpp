// Books read in place from web servers through the block cache: our fault
// server (delays, drops, shifted ranges, 416, a server without ranges) and
// nginx over HTTPS with Basic authentication.
#include "remote/stream/HTTPURLStreamRead.h"

#include "engine/ThumbsCreate.h"
#include "engine/ZipArchive.h"
#include "platform/core/AppPaths.h"
#include "platform/core/Path.h"
#include "platform/graphics/JpegEncoder.h"
#include "cloud/TrustedServer.h"
#include "foundation/QNKeyChain.h"
#include "tests/support/TestHome.h"
#include "tests/support/VirtualClockTest.h"
#include "tests/remote/stream/StreamReadChecks.h"
#include "tests/support/net/FaultHttpServer.h"
#include "tests/support/net/NginxServer.h"
#include "tests/support/net/TestCertificate.h"

#include <gtest/gtest.h>
#include <minizip/unzip.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <random>
#include <set>
#include <sstream>

namespace {

constexpr uint64_t BS = RemoteStreamRead::kBlockSize;

using test::readAt;

// A cbz of stored noise pages made by the zip tool, about `pages` x 300 KB.
std::string makeBook(const test::TempDir& dir, const std::string& name, int pages) {
    test::TempDir src("pages");
    std::mt19937 rng{uint32_t(pages)};
    for (int i = 0; i < pages; ++i) {
        std::string bytes(300000, '\0');
        for (auto& c : bytes) c = char(rng());
        char n[32];
        std::snprintf(n, sizeof n, "%03d.jpg", i + 1);
        std::ofstream(src.file(n), std::ios::binary) << bytes;
    }
    EXPECT_EQ(test::shell("cd '" + src.path() + "' && zip -q -0 '" + dir.file(name) + "' *.jpg"), 0);
    return test::readFile(dir.file(name));
}

class HTTPURLStreamReadTest : public test::VirtualClockTest {
protected:
    void SetUp() override {
        VirtualClockTest::SetUp();
        RemoteStreamRead::removeCache();
        HTTPURLStreamRead::registerWithEngine();
    }
    void TearDown() override {
        RemoteStreamRead::removeCache();
        VirtualClockTest::TearDown();
    }
    std::shared_ptr<HTTPURLStreamRead> open(const std::string& url) { return test::streamFor<HTTPURLStreamRead>(url); }

    test::TempDir www_{"www"};
};

TEST_F(HTTPURLStreamReadTest, ReadsABookInPlaceWithTheNeededBlocksFirst) {
    const std::string book = makeBook(www_, "book.cbz", 8);
    test::FaultHttpServer server(www_.path());
    ASSERT_TRUE(server.start());
    const std::string url = server.url("/book.cbz?delay_ms=40");

    auto s = open(url);
    ASSERT_TRUE(s);
    EXPECT_TRUE(std::dynamic_pointer_cast<HTTPStreamRead>(s)) << "plain http gets the http reader";
    ASSERT_TRUE(s->openURL(url));
    EXPECT_EQ(s->contentLength(), int64_t(book.size()));

    // The zip directory at the end, then a page in the middle.
    const size_t tail = book.size() - 200;
    EXPECT_TRUE(readAt(*s, int64_t(tail), 200) == book.substr(tail));
    const size_t mid = book.size() / 2;
    EXPECT_TRUE(readAt(*s, int64_t(mid), 100000) == book.substr(mid, 100000));
    auto reqs = server.requests();
    ASSERT_GE(reqs.size(), 3u);
    EXPECT_EQ(reqs[0].range, "bytes=0-" + std::to_string(BS - 1)) << "the length comes with the first block";
    const uint64_t lastBlock = (book.size() - 1) / BS;
    const std::string lastRange = "bytes=" + std::to_string(lastBlock * BS) + "-" + std::to_string(book.size() - 1);
    // At most the block already on its way comes before the one the read waits for.
    EXPECT_TRUE(reqs[1].range == lastRange || reqs[2].range == lastRange);

    // The loader goes on to complete the file, each block once.
    s->joinLoader();
    EXPECT_FALSE(s->isError());
    std::set<std::string> ranges;
    for (const auto& r : server.requests()) EXPECT_TRUE(ranges.insert(r.range).second) << r.range;
    EXPECT_EQ(ranges.size(), lastBlock + 1);
    EXPECT_TRUE(readAt(*s, 0, book.size()) == book);
    s->closeURL();

    // A complete cache opens without a request.
    server.clearRequests();
    auto again = open(url);
    ASSERT_TRUE(again->openURL(url));
    EXPECT_TRUE(readAt(*again, 1000, 5000) == book.substr(1000, 5000));
    EXPECT_EQ(server.requests().size(), 0u);
}

TEST_F(HTTPURLStreamReadTest, TheZipReaderOpensABookOnNginxInPlace) {
    if (test::NginxServer::program().empty()) GTEST_SKIP() << "no nginx";
    const std::string book = makeBook(www_, "nginx.cbz", 6);
    test::NginxServer nginx;
    ASSERT_TRUE(nginx.start(www_.path())) << nginx.lastError();
    const std::string url = nginx.url("/nginx.cbz");
    auto s = open(url);
    ASSERT_TRUE(s->openURL(url));
    auto zip = ZipArchive::openStream(s);
    ASSERT_TRUE(zip);
    EXPECT_EQ(zip->entryCount(), 6u);
    ASSERT_EQ(zip->goToFirst(), ZipArchive::Step::Ok);
    ASSERT_EQ(zip->goToNext(), ZipArchive::Step::Ok);
    ASSERT_EQ(unzOpenCurrentFile(zip->handle()), UNZ_OK);
    std::string page(300000, '\0');
    EXPECT_EQ(unzReadCurrentFile(zip->handle(), page.data(), unsigned(page.size())), 300000);
    unzCloseCurrentFile(zip->handle());
    // The second page, byte for byte as it lies in the book.
    EXPECT_NE(book.find(page), std::string::npos);
    zip.reset();
    s->closeURL();
    ASSERT_TRUE(nginx.waitForRequests(2));
    // (499: a block request the close cut short before its answer.)
    for (const auto& r : nginx.requests()) EXPECT_TRUE(r.status == 206 || r.status == 499) << r.range;
}

TEST_F(HTTPURLStreamReadTest, ACoverFollowsRedirectsOnlyOnItsSiteABookTheUserOpensAnywhere) {
    if (test::NginxServer::program().empty()) GTEST_SKIP() << "no nginx";
    const std::string book = makeBook(www_, "moved.cbz", 2);
    test::NginxServer other;
    ASSERT_TRUE(other.start(www_.path())) << other.lastError();
    test::NginxServer site;
    site.setServerConfig("location /here { return 302 /moved.cbz; }\n"
                         "location /away { return 302 " + other.url("/moved.cbz") + "; }");
    ASSERT_TRUE(site.start(www_.path())) << site.lastError();

    auto cover = open(site.url("/away"));
    cover->setIsThumbsCreateMode(true);
    EXPECT_FALSE(cover->openURL(site.url("/away")) && readAt(*cover, 0, 100) == book.substr(0, 100));
    cover->closeURL();
    EXPECT_TRUE(other.requests().empty()) << "a cover's fetch went to another server";
    RemoteStreamRead::removeCache(true);
    auto near = open(site.url("/here"));
    near->setIsThumbsCreateMode(true);
    ASSERT_TRUE(near->openURL(site.url("/here")));
    EXPECT_TRUE(readAt(*near, 0, 100) == book.substr(0, 100));
    near->closeURL();

    auto opened = open(site.url("/away"));
    ASSERT_TRUE(opened->openURL(site.url("/away")));
    EXPECT_TRUE(readAt(*opened, 0, 100) == book.substr(0, 100));
    opened->closeURL();
}

TEST_F(HTTPURLStreamReadTest, CoversFromASlowServerHoldUpTheClockOnceAndCoversFromAnHonestOneAreWaitedFor) {
    test::TempDir home("slowcovers");
    sys::AppPaths::setHome(home.path());
    // Books of two pictures of noise: one block of the cache.
    {
        test::TempDir src("pages");
        std::mt19937 rng{7};
        for (const char* page : {"001.jpg", "002.jpg"}) {
            std::vector<uint32_t> px(size_t(240) * 280);
            for (auto& p : px) p = 0xFF000000u | (rng() & 0xFFFFFFu);
            const auto jpeg = gfx::JpegEncoder::encode(*gfx::Image::make(240, 280, std::move(px), 1.0), 0.9);
            test::writeFile(src.file(page), std::string(reinterpret_cast<const char*>(jpeg.data()), jpeg.size()));
        }
        for (const char* name : {"fast.cbz", "slow.cbz", "drip.cbz"})
            ASSERT_EQ(test::shell("cd '" + src.path() + "' && zip -q -0 '" + www_.file(name) + "' *.jpg"), 0);
    }
    const uint64_t size = test::readFile(www_.file("slow.cbz")).size();
    ASSERT_LT(size, BS);
    test::FaultHttpServer server(www_.path());
    ASSERT_TRUE(server.start());
    auto remoteBook = [&](const std::string& target) {
        auto item = std::make_shared<FilelistItem>();
        item->setType(1);
        item->setLocation(FilelistItem::kRemote);
        item->setRemoteURL(server.url(target));
        item->setFilename(sys::Path::lastPathComponent(target.substr(0, target.find('?'))));
        item->setRemoteCanStreaming(true);
        item->setRemoteThumbsManualReload(true);
        return item;
    };
    auto maker = std::make_shared<ThumbsCreate>();

    // A cover from a server that answers at once is there after one step.
    auto fast = remoteBook("/fast.cbz");
    ASSERT_TRUE(maker->addQue(fast));
    advance(0.5);
    EXPECT_TRUE(ThumbsCreate::cacheFileExists(ThumbsCreate::thumbnailPathForItem(*fast, false)));

    // A server that sends the next book over some 7 seconds holds the clock
    // up for a while, once; the cover after it, from a server that sends a
    // byte at a time for ever, does not hold it again.
    const double seconds = ThumbsCreate::kClockHoldSeconds + 2.0;
    auto slow = remoteBook("/slow.cbz?rate=" + std::to_string(uint64_t(double(size) / seconds)));
    ASSERT_TRUE(maker->addQue(slow));
    ASSERT_TRUE(maker->addQue(remoteBook("/drip.cbz?drip_ms=5")));
    testing::internal::CaptureStderr();
    const auto t0 = std::chrono::steady_clock::now();
    auto realSince = [](std::chrono::steady_clock::time_point t) {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
    };
    double held = 0;
    int longSteps = 0;
    int stepsAfter = 0;
    auto slowMade = [&] { return ThumbsCreate::cacheFileExists(ThumbsCreate::thumbnailPathForItem(*slow, false)); };
    while (stepsAfter < 3 && realSince(t0) < 60) {
        // A step of the clock, then a tenth of a second of real time for the server.
        const auto step = std::chrono::steady_clock::now();
        advance(1.0);
        if (slowMade()) ++stepsAfter;
        else test::drainUntil(slowMade, 0.1);
        if (const double took = realSince(step); took > 1.0) {
            held += took;
            ++longSteps;
        }
    }
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(stepsAfter, 3) << "the slow cover was not made";
    EXPECT_LT(held, ThumbsCreate::kClockHoldSeconds + 1.0);
    EXPECT_LE(longSteps, 1);
    EXPECT_EQ(said.find("workers still busy"), std::string::npos) << said;
    EXPECT_TRUE(maker->isRunning());
    // Going away stops the cover being read.
    const auto t1 = std::chrono::steady_clock::now();
    maker.reset();
    EXPECT_LT(realSince(t1), 2.0);
    sys::AppPaths::setHome("");
}

TEST_F(HTTPURLStreamReadTest, ServerFaultsNeverPutWrongBytesIntoTheCache) {
    const std::string book = makeBook(www_, "big.cbz", 12);
    test::FaultHttpServer server(www_.path());
    ASSERT_TRUE(server.start());

    // No ranges: the probe stops at the headers and the caller is told.
    {
        auto s = open(server.url("/big.cbz?norange=1&rate=1000000"));
        EXPECT_FALSE(s->openURL(server.url("/big.cbz?norange=1&rate=1000000")));
        EXPECT_TRUE(s->isUnsupportedServer());
        ASSERT_TRUE(server.waitForAnswered(5));
        EXPECT_LT(server.requests().back().bodyBytes, book.size() / 2);
    }
    // Ranges honoured for the probe, then the whole file for a block: the
    // server is one without ranges after all, and the caller is told.
    {
        RemoteStreamRead::removeCache();
        std::ofstream(www_.file("late200.cbz"), std::ios::binary) << book;
        const std::string url = server.url("/late200.cbz?norange_from=2");
        auto s = open(url);
        ASSERT_TRUE(s->openURL(url));
        EXPECT_EQ(readAt(*s, int64_t(3 * BS), 1000), "");
        EXPECT_TRUE(s->isError());
        EXPECT_TRUE(s->isUnsupportedServer());
        // (The loader goes on from the probe at once: only the log tells
        // what the probe alone was answered.)
        ASSERT_TRUE(server.waitForAnswered(5));
        const auto log = server.requests();
        const auto probe = std::find_if(log.begin(), log.end(),
                                        [](const auto& r) { return r.path == "/late200.cbz"; });
        ASSERT_NE(probe, log.end());
        EXPECT_EQ(probe->status, 206);
    }
    // A 206 shorter than the block asked for, though true to its
    // Content-Range: the stream refuses it at once and asks no more (the
    // third answer would be whole).
    {
        RemoteStreamRead::removeCache();
        std::ofstream(www_.file("short.cbz"), std::ios::binary) << book;
        const std::string url = server.url("/short.cbz?short_range=1000&short_times=2");
        auto s = open(url);
        ASSERT_TRUE(s->openURL(url));
        EXPECT_EQ(readAt(*s, 0, 1000), "");
        EXPECT_TRUE(s->isError());
        s->closeURL();
        EXPECT_EQ(server.requestCount("/short.cbz"), 2u) << "the probe and the short block";
    }
    // A 206 from another offset than asked.
    {
        RemoteStreamRead::removeCache();
        auto s = open(server.url("/big.cbz?range_shift=5"));
        ASSERT_TRUE(s->openURL(server.url("/big.cbz?range_shift=5")));
        EXPECT_EQ(readAt(*s, 0, 1000), "");
        EXPECT_TRUE(s->isError());
    }
    // 416 for the blocks.
    {
        RemoteStreamRead::removeCache();
        auto s = open(server.url("/big.cbz?fail416_from=2"));
        ASSERT_TRUE(s->openURL(server.url("/big.cbz?fail416_from=2")));
        EXPECT_EQ(readAt(*s, int64_t(BS), 10), "");
        EXPECT_TRUE(s->isError());
    }
    // Dropped connections are tried again, the second time after a pause.
    {
        RemoteStreamRead::removeCache();
        const std::string url = server.url("/drop.cbz?drop_after=1000&drop_times=3");
        std::ofstream(www_.file("drop.cbz"), std::ios::binary) << book;
        auto s = open(url);
        ASSERT_TRUE(s->openURL(url));
        EXPECT_TRUE(readAt(*s, 0, 300000) == book.substr(0, 300000));
        EXPECT_FALSE(s->isError());
        EXPECT_GE(server.requestCount("/drop.cbz"), 4u);
    }
}

TEST_F(HTTPURLStreamReadTest, SecureServerWithPasswordFollowsTheTrustRule) {
    if (test::NginxServer::program().empty()) GTEST_SKIP() << "no nginx";
    const std::string book = makeBook(www_, "s.cbz", 2);
    test::TempDir conf("conf");
    std::string cert, key;
    ASSERT_TRUE(test::makeSelfSignedCertificate(conf.path(), &cert, &key));
    ASSERT_TRUE(test::writeHtpasswd(conf.file("htpasswd"), "reader", "pw"));
    test::NginxServer nginx;
    nginx.setTls(cert, key);
    nginx.setLocationConfig("auth_basic \"books\"; auth_basic_user_file " + conf.file("htpasswd") + ";");
    ASSERT_TRUE(nginx.start(www_.path())) << nginx.lastError();
    const std::string url = nginx.url("/s.cbz");

    TrustedServer::forget(url);
    auto s = open(url);
    s->setUserName("reader");
    s->setPassword("pw");
    EXPECT_FALSE(s->openURL(url)) << "an untrusted certificate is refused";
    const std::string server = "127.0.0.1:" + std::to_string(nginx.port());
    EXPECT_EQ(s->untrustedServer(), server) << "the refusal names the server";
    // A mark of the older kind names no certificate and trusts nothing.
    QNKeyChain::addOrUpdatePassword("1", "127.0.0.1", "trustedServer");
    auto old = open(url);
    old->setUserName("reader");
    old->setPassword("pw");
    EXPECT_FALSE(old->openURL(url));

    ASSERT_TRUE(TrustedServer::trust(url, test::publicKeyOf(cert)));
    auto wrong = open(url);
    wrong->setUserName("reader");
    wrong->setPassword("nope");
    EXPECT_FALSE(wrong->openURL(url));

    auto ok = open(url);
    ok->setUserName("reader");
    ok->setPassword("pw");
    ASSERT_TRUE(ok->openURL(url));
    EXPECT_TRUE(readAt(*ok, 0, book.size()) == book);
    EXPECT_EQ(ok->untrustedServer(), "");

    // The trusted site sends the book to another server with a certificate
    // of its own: refused there, and that server is the one named.
    test::TempDir otherConf("otherconf");
    std::string otherCert, otherKey;
    ASSERT_TRUE(test::makeSelfSignedCertificate(otherConf.path(), &otherCert, &otherKey));
    test::NginxServer other;
    other.setTls(otherCert, otherKey);
    ASSERT_TRUE(other.start(www_.path())) << other.lastError();
    test::NginxServer site;
    site.setTls(cert, key);
    site.setServerConfig("location /away { return 302 " + other.url("/s.cbz") + "; }");
    ASSERT_TRUE(site.start(www_.path())) << site.lastError();
    ASSERT_TRUE(TrustedServer::trust(site.url("/"), test::publicKeyOf(cert)));
    auto away = open(site.url("/away"));
    EXPECT_FALSE(away->openURL(site.url("/away")));
    EXPECT_EQ(away->untrustedServer(), "127.0.0.1:" + std::to_string(other.port()));
    EXPECT_EQ(site.requestCount("/away"), 1u);
    TrustedServer::forget(site.url("/"));
    TrustedServer::forget(url);
}

}  // namespace
