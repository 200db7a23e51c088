// The page-by-page fetcher against nginx on loopback: pages come when asked
// for and only then, a page already cached for the same book is not fetched
// again (another book's cache is dropped), offline mode reads only the cache,
// the companion-server index is read in both of its forms, and failures and
// cancels end the wait with nothing instead of a partial file.
#include "remote/UrlListStreamRead.h"

#include "engine/RemoteStreamRead.h"
#include "platform/core/FileManager.h"
#include "platform/core/Path.h"
#include "tests/support/TestHome.h"
#include "tests/support/VirtualClockTest.h"
#include "tests/support/net/NginxServer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

using test::readFile;

struct Progress : RemoteStreamReadDelegate {
    void updateCacheStatus(uint64_t count, const uint16_t* map, bool isPage) override {
        pages = count;
        cached = 0;
        for (uint64_t i = 0; i < count; ++i) cached += map[i] != 0;
        pageUnits = isPage;
    }
    void updateCacheBlock(int64_t got, int64_t expected, int64_t, int64_t) override {
        received = got;
        total = expected;
    }
    uint64_t pages = 0, cached = 0;
    bool pageUnits = false;
    int64_t received = 0, total = 0;
};

class UrlListStreamReadTest : public test::VirtualClockTest {
protected:
    void SetUp() override {
        VirtualClockTest::SetUp();
        RemoteStreamRead::removeCache();
        if (test::NginxServer::program().empty()) GTEST_SKIP() << "nginx is not installed";
        for (int i = 0; i < 3; ++i) {
            std::string bytes(70000 + i * 1000, char('a' + i));
            std::ofstream(www.file("p" + std::to_string(i) + ".jpg"), std::ios::binary) << bytes;
        }
        std::ofstream(www.file("index.plist")) << "<?xml version=\"1.0\"?><plist version=\"1.0\"><array>"
                                                  "<string>a/01.jpg</string><string>a/02.jpg</string></array></plist>";
        std::ofstream(www.file("index.txt")) << "x/1.png\r\nx/2.png\n\n";
        std::ofstream(www.file("broken.plist")) << "<?xml version=\"1.0\"?><plist version=\"1.0\"><array>"
                                                   "<integer>3</integer></array></plist>";
        ASSERT_TRUE(nginx.start(www.path())) << nginx.lastError();
        stream = std::make_shared<UrlListStreamRead>();
        stream->setDelegate(progress);
    }
    void TearDown() override {
        if (stream) stream->closeUrls();
        stream.reset();
        RemoteStreamRead::removeCache();
        VirtualClockTest::TearDown();
    }
    std::vector<std::string> pages() const {
        return {nginx.url("/p0.jpg"), nginx.url("/p1.jpg"), nginx.url("/p2.jpg")};
    }

    test::TempDir www{"urllistwww"};
    test::NginxServer nginx;
    std::shared_ptr<UrlListStreamRead> stream;
    std::shared_ptr<Progress> progress = std::make_shared<Progress>();
};

TEST_F(UrlListStreamReadTest, PagesAreFetchedWhenAskedForAndKeptForTheSameBookOnly) {
    ASSERT_TRUE(stream->openUrls(pages(), std::nullopt, 3, pages()[0], false));
    EXPECT_EQ(nginx.requestCount(), 0u) << "nothing is fetched before a page is asked for";
    auto path = stream->getLocalCachePath(1);
    ASSERT_TRUE(path);
    EXPECT_EQ(readFile(*path), readFile(www.file("p1.jpg")));
    EXPECT_EQ(sys::Path::pathExtension(*path), "jpg");
    EXPECT_EQ(std::filesystem::status(*path).permissions(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_write)
        << "a cached page is the user's alone";
    ASSERT_TRUE(nginx.waitForRequests(1));
    EXPECT_EQ(nginx.requestCount("/p1.jpg"), 1u);
    EXPECT_EQ(stream->getLocalCachePath(1), path);
    EXPECT_EQ(nginx.requestCount(), 1u) << "a cached page is not fetched again";
    advance(0.1);
    EXPECT_EQ(progress->pages, 3u);
    EXPECT_EQ(progress->cached, 1u);
    EXPECT_TRUE(progress->pageUnits);
    EXPECT_EQ(progress->received, 71000);
    EXPECT_EQ(progress->total, 71000);

    // Reopened for the same book, the cache stands, also offline.
    stream->closeUrls();
    stream->setIsOfflineMode(true);
    ASSERT_TRUE(stream->openUrls(pages(), std::nullopt, 3, pages()[0], false));
    EXPECT_EQ(stream->getLocalCachePath(1), path);
    EXPECT_EQ(stream->getLocalCachePath(2), std::nullopt) << "offline: never from the server";
    EXPECT_EQ(nginx.requestCount(), 1u);

    // Another book drops it.
    stream->closeUrls();
    stream->setIsOfflineMode(false);
    ASSERT_TRUE(stream->openUrls({nginx.url("/p2.jpg")}, std::nullopt, 1, "other", false));
    EXPECT_FALSE(std::filesystem::exists(*path));
}

TEST_F(UrlListStreamReadTest, FailuresAndCancelsLeaveNoPageBehind) {
    ASSERT_TRUE(stream->openUrls({nginx.url("/missing.jpg"), nginx.url("/p0.jpg")}, std::nullopt, 2, "book", false));
    EXPECT_EQ(stream->getLocalCachePath(0), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(stream->pagePath(0)));
    EXPECT_FALSE(std::filesystem::exists(stream->pagePath(0) + ".part"));
    EXPECT_EQ(stream->getLocalCachePath(7), std::nullopt);
    EXPECT_EQ(stream->getLocalCachePath(-1), std::nullopt);
    stream->cancelStreaming();
    EXPECT_EQ(stream->getLocalCachePath(1), std::nullopt) << "a cancelled fetcher does not wait";
    stream->closeUrls();
    stream->closeUrls();
    EXPECT_FALSE(stream->openUrls({}, std::nullopt, 0, "empty", false));
    // A server that is not there.
    ASSERT_TRUE(stream->openUrls({"http://127.0.0.1:9/p.jpg"}, std::nullopt, 1, "gone", false));
    EXPECT_EQ(stream->getLocalCachePath(0), std::nullopt);

    // A cover's page follows a redirect only on its own site; a book the
    // user opens follows it anywhere.
    test::NginxServer site;
    site.setServerConfig("location /away { return 302 " + nginx.url("/p0.jpg") + "; }");
    ASSERT_TRUE(site.start(www.path())) << site.lastError();
    stream->closeUrls();
    stream->setIsThumbsCreateMode(true);
    ASSERT_TRUE(stream->openUrls({site.url("/away")}, std::nullopt, 1, "cover", false));
    const size_t before = nginx.requestCount("/p0.jpg");
    EXPECT_EQ(stream->getLocalCachePath(0), std::nullopt);
    ASSERT_TRUE(site.waitForRequests(1));
    EXPECT_EQ(nginx.requestCount("/p0.jpg"), before) << "a cover's fetch went to another server";
    stream->closeUrls();
    stream->setIsThumbsCreateMode(false);
    ASSERT_TRUE(stream->openUrls({site.url("/away")}, std::nullopt, 1, "book", false));
    EXPECT_TRUE(stream->getLocalCachePath(0));
}

TEST_F(UrlListStreamReadTest, TheCompanionIndexIsAPropertyListOrOneEntryALine) {
    EXPECT_EQ(stream->getIndex(nginx.url("/index.plist")), (std::vector<std::string>{"a/01.jpg", "a/02.jpg"}));
    EXPECT_EQ(stream->getIndex(nginx.url("/index.txt")), (std::vector<std::string>{"x/1.png", "x/2.png"}));
    EXPECT_EQ(stream->getIndex(nginx.url("/broken.plist")), std::nullopt);
    EXPECT_EQ(stream->getIndex(nginx.url("/none")), std::nullopt);
}

}  // namespace
