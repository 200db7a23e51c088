// What opening a zip book on a web server costs in requests: the length
// comes with the first block, the end records and the directory with one
// request for the tail, and a changed file is refused in that request too.
#include "remote/stream/HTTPURLStreamRead.h"

#include "engine/ZipArchive.h"
#include "platform/core/Thread.h"
#include "tests/remote/stream/StreamReadChecks.h"
#include "tests/support/TestHome.h"
#include "tests/support/VirtualClockTest.h"
#include "tests/support/net/FaultHttpServer.h"

#include <gtest/gtest.h>
#include <minizip/unzip.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <random>
#include <set>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>

namespace {

constexpr uint64_t BS = RemoteStreamRead::kBlockSize;
constexpr uint64_t kTail = 0xFFFF + 22;

using test::readAt;

std::string range(uint64_t first, uint64_t last) {
    return "bytes=" + std::to_string(first) + "-" + std::to_string(last);
}

uint64_t le(const std::string& b, size_t at, int bytes) {
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | uint8_t(b[at + size_t(i)]);
    return v;
}

class HTTPURLStreamReadSpanTest : public test::VirtualClockTest {
protected:
    void SetUp() override {
        VirtualClockTest::SetUp();
        RemoteStreamRead::removeCache();
        HTTPURLStreamRead::registerWithEngine();
        ASSERT_TRUE(server_.start());
    }
    void TearDown() override {
        server_.stop();
        RemoteStreamRead::removeCache();
        VirtualClockTest::TearDown();
    }
    // `count` files of `bytes` noise bytes each, named `letter` x (nameLength
    // - 9) and a number, in `dir`.
    static void makeFiles(const test::TempDir& dir, char letter, int count, size_t bytes, size_t nameLength) {
        std::mt19937 rng{uint32_t(count)};
        for (int i = 0; i < count; ++i) {
            std::string content(bytes, '\0');
            for (auto& c : content) c = char(rng());
            char n[32];
            std::snprintf(n, sizeof n, "%05d", i);
            std::ofstream(dir.file(std::string(nameLength - 9, letter) + n + ".jpg"), std::ios::binary) << content;
        }
    }
    // The files of `dir`, stored by zip into the server's `name`.
    std::string zipInto(const test::TempDir& dir, const std::string& name) {
        EXPECT_EQ(test::shell("cd '" + dir.path() + "' && zip -q -0 '" + www_.file(name) + "' *.jpg"), 0);
        return test::readFile(www_.file(name));
    }
    std::string makeBook(const std::string& name, int count, size_t bytes, size_t nameLength) {
        test::TempDir src("spanpages");
        makeFiles(src, 'p', count, bytes, nameLength);
        return zipInto(src, name);
    }
    // The first entry through the zip reader over `s`; empty when it fails.
    static std::string firstEntry(const std::shared_ptr<HTTPURLStreamRead>& s, uint64_t* entries = nullptr) {
        auto zip = ZipArchive::openStream(s);
        if (!zip || zip->goToFirst() != ZipArchive::Step::Ok || unzOpenCurrentFile(zip->handle()) != UNZ_OK) return "";
        std::string out;
        char buf[16384];
        for (int n; (n = unzReadCurrentFile(zip->handle(), buf, sizeof buf)) > 0;) out.append(buf, size_t(n));
        unzCloseCurrentFile(zip->handle());
        if (entries) *entries = zip->entryCount();
        return out;
    }
    // A read on a worker: one on the main thread of a virtual clock waits
    // for the busy loader to go quiet, which a stalled one never is.
    static std::string readOnWorker(RemoteStreamRead& s, int64_t offset, size_t n) {
        std::string out;
        sys::Thread([&](const std::atomic<bool>&) { out = readAt(s, offset, n); }).join();
        return out;
    }
    std::vector<test::FaultHttpServer::Request> answered() {
        std::vector<test::FaultHttpServer::Request> out;
        for (const auto& r : server_.requests()) {
            if (r.status != 0) out.push_back(r);
        }
        return out;
    }

    test::TempDir www_{"spanwww"};
    test::FaultHttpServer server_{www_.path()};
};

TEST_F(HTTPURLStreamReadSpanTest, AFirstPageCostsTheFirstBlockTheTailAndThePageOnly) {
    const std::string book = makeBook("book.cbz", 8, 300'000, 12);
    const uint64_t size = book.size();
    const uint64_t pageEnd = 30 + le(book, 26, 2) + le(book, 28, 2) + le(book, 18, 4);
    ASSERT_LT(pageEnd, 2 * BS);
    const uint64_t last = (size - 1) / BS;
    const bool lastWhole = size - kTail <= last * BS;

    // From the fourth request on the server answers nothing: three must do.
    const std::string stalling = server_.url("/book.cbz?stall_from=4&delay_ms=100");
    auto s = test::streamFor<HTTPURLStreamRead>(stalling);
    ASSERT_TRUE(s->openURL(stalling));
    EXPECT_EQ(s->contentLength(), int64_t(size));
    // Read on a worker (see readOnWorker). A fourth request would stall the
    // read: a watchdog ends it.
    std::string page;
    {
        std::mutex m;
        std::condition_variable cv;
        bool done = false;
        std::thread watchdog([&] {
            std::unique_lock<std::mutex> lk(m);
            if (!cv.wait_for(lk, std::chrono::seconds(30), [&] { return done; })) s->cancelStreaming();
        });
        sys::Thread([&](const std::atomic<bool>&) { page = firstEntry(s); }).join();
        {
            std::lock_guard<std::mutex> g(m);
            done = true;
        }
        cv.notify_all();
        watchdog.join();
    }
    EXPECT_TRUE(page == book.substr(pageEnd - 300'000, 300'000)) << "page 1 byte for byte";
    EXPECT_EQ(s->isBlockCached(last), lastWhole) << "a block whole in the tail is cached";
    const auto toPage = answered();
    s->closeURL();
    ASSERT_EQ(toPage.size(), 3u) << "the first block, the tail and the page's second block";
    EXPECT_EQ(toPage[0].range, range(0, BS - 1));
    EXPECT_EQ(toPage[0].bodyBytes, BS) << "the first block came with the length";
    uint64_t tails = 0, fetched = 0;
    for (const auto& r : toPage) {
        EXPECT_EQ(r.status, 206);
        tails += r.range == range(size - kTail, size - 1);
        fetched += r.bodyBytes;
    }
    EXPECT_EQ(tails, 1u) << "the end records and the directory in one request";
    EXPECT_LE(fetched, 2 * BS + kTail);

    // Without the stall the loader completes the file; a last block that
    // was whole in the tail is never asked for alone, the others once each.
    RemoteStreamRead::removeCache();
    server_.clearRequests();
    const std::string url = server_.url("/book.cbz?delay_ms=5");
    s = test::streamFor<HTTPURLStreamRead>(url);
    ASSERT_TRUE(s->openURL(url));
    EXPECT_TRUE(firstEntry(s) == page);
    s->joinLoader();
    EXPECT_FALSE(s->isError());
    ASSERT_TRUE(server_.waitForAnswered(5));
    std::multiset<std::string> ranges;
    // A request of the stalled stream above may reach the server only now.
    for (const auto& r : server_.requests())
        if (r.target.find("delay_ms=5") != std::string::npos) ranges.insert(r.range);
    EXPECT_EQ(ranges.count(range(last * BS, size - 1)), lastWhole ? 0u : 1u);
    for (uint64_t b = 0; b < last; ++b) EXPECT_EQ(ranges.count(range(b * BS, b * BS + BS - 1)), 1u) << b;
    s->closeURL();

    // What the cache files hold is the book.
    server_.clearRequests();
    auto again = test::streamFor<HTTPURLStreamRead>(url);
    ASSERT_TRUE(again->openURL(url));
    EXPECT_TRUE(readAt(*again, 0, size) == book);
    EXPECT_EQ(server_.requests().size(), 0u);
}

TEST_F(HTTPURLStreamReadSpanTest, ABookSeenBeforeProbesWithNineBytesAndKeepsItsBlocks) {
    const std::string book = makeBook("seen.cbz", 8, 300'000, 12);
    // The first visit ends with the first block cached, and little else.
    const std::string url = server_.url("/seen.cbz?stall_from=2");
    {
        auto s = test::streamFor<HTTPURLStreamRead>(url);
        ASSERT_TRUE(s->openURL(url));
        EXPECT_TRUE(readOnWorker(*s, 0, 100) == book.substr(0, 100));
        s->closeURL();
    }
    // The next visit, to a server at the same address, counting afresh
    // (its second request stalls again).
    const int port = server_.port();
    server_.stop();
    test::FaultHttpServer server(www_.path());
    ASSERT_TRUE(server.start(port));
    auto s = test::streamFor<HTTPURLStreamRead>(url);
    ASSERT_TRUE(s->openURL(url));
    EXPECT_TRUE(s->isBlockCached(0));
    EXPECT_TRUE(readOnWorker(*s, 0, 100) == book.substr(0, 100));
    s->closeURL();
    const auto log = server.requests();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log[0].range, "bytes=8-16") << "its first block may be cached: only the length is asked";
    for (const auto& r : log) EXPECT_NE(r.range, range(0, BS - 1)) << "the cached first block is not fetched again";
}

TEST_F(HTTPURLStreamReadSpanTest, ADirectoryBeyondTheTailComesInASecondRequest) {
    // 1,200 entries with long names: a directory of about 250 kB.
    // Big pages first, so that the blocks the loader fetches meanwhile lie
    // well in front of the directory.
    const int count = 1200;
    test::TempDir src("spanmany");
    makeFiles(src, 'a', 6, 300'000, 12);
    makeFiles(src, 'p', count, 100, 160);
    const std::string book = zipInto(src, "many.cbz");
    const uint64_t size = book.size();
    const size_t eocd = book.rfind("PK\x05\x06");
    const uint64_t cdOffset = le(book, eocd + 16, 4);
    ASSERT_LT(cdOffset, size - kTail) << "the directory starts before the tail";
    ASSERT_GT(cdOffset, 6 * BS);
    const std::string url = server_.url("/many.cbz?delay_ms=100");

    auto s = test::streamFor<HTTPURLStreamRead>(url);
    ASSERT_TRUE(s->openURL(url));
    // Read on a worker, as above.
    uint64_t entries = 0;
    std::string page;
    sys::Thread([&](const std::atomic<bool>&) { page = firstEntry(s, &entries); }).join();
    EXPECT_EQ(page.size(), 300'000u);
    EXPECT_EQ(entries, uint64_t(6 + count));
    // The reader may have the bytes before the server logs its answer.
    ASSERT_TRUE(server_.waitForAnswered(5));
    std::set<std::string> ranges;
    std::string log;
    for (const auto& r : server_.requests()) {
        if (r.status != 0) ranges.insert(r.range);
        log += r.range + " " + std::to_string(r.status) + "; ";
    }
    EXPECT_TRUE(ranges.count(range(size - kTail, size - 1))) << log;
    EXPECT_TRUE(ranges.count(range(cdOffset, size - kTail - 1))) << "the rest of the directory in one request: " << log;

    // Every name, walked through the directory that came in two spans.
    auto zip = ZipArchive::openStream(s);
    ASSERT_TRUE(zip);
    int walked = 0;
    ZipArchive::Entry e;
    for (auto step = zip->goToFirst(); step == ZipArchive::Step::Ok; step = zip->goToNext()) {
        ASSERT_TRUE(zip->current(e));
        char n[32];
        std::snprintf(n, sizeof n, "%05d.jpg", walked < 6 ? walked : walked - 6);
        EXPECT_EQ(e.name, walked < 6 ? std::string(3, 'a') + n : std::string(151, 'p') + n);
        ++walked;
    }
    EXPECT_EQ(walked, 6 + count);
    s->closeURL();
}

TEST_F(HTTPURLStreamReadSpanTest, AFileChangedAfterOpeningIsRefusedInTheTailRequest) {
    const std::string book = makeBook("changing.cbz", 8, 300'000, 12);
    const uint64_t size = book.size();
    // The first block trickles in for about half a second: the tail request
    // is asked for meanwhile and goes next.
    const std::string url = server_.url("/changing.cbz?rate=500000");
    auto s = test::streamFor<HTTPURLStreamRead>(url);
    ASSERT_TRUE(s->openURL(url));

    // Another version of the same length replaces the file (a new file, so
    // the answer under way keeps its bytes) and gets another ETag.
    std::string other = book;
    for (size_t i = size - kTail; i < size; ++i) other[i] = char(~other[i]);
    const std::string path = www_.file("changing.cbz");
    std::ofstream(path + ".new", std::ios::binary) << other;
    struct timespec times[2] = {{0, UTIME_OMIT}, {::time(nullptr) + 100, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (path + ".new").c_str(), times, 0), 0);
    ASSERT_EQ(std::rename((path + ".new").c_str(), path.c_str()), 0);

    EXPECT_FALSE(ZipArchive::openStream(s)) << "nothing of the new version is read";
    EXPECT_TRUE(s->isError());
    EXPECT_FALSE(s->isBlockCached((size - 1) / BS));
    s->closeURL();
    ASSERT_TRUE(server_.waitForAnswered(5));
    bool tailAsked = false;
    for (const auto& r : server_.requests()) tailAsked |= r.range == range(size - kTail, size - 1);
    EXPECT_TRUE(tailAsked);
}

}  // namespace
