// The block cache against real servers on loopback: nginx for the normal
// case, our fault server for the bad ones, the test range loader filling the
// cache as a protocol stream would.
#include "engine/RemoteStreamRead.h"
#include "engine/ZipCreate.h"

#include "foundation/QNTextEncoding.h"
#include "platform/core/FileManager.h"
#include "platform/core/PropertyList.h"
#include "platform/core/Thread.h"
#include "tests/support/TestHome.h"
#include "tests/support/VirtualClockTest.h"
#include "tests/support/net/FaultHttpServer.h"
#include "tests/support/net/HttpGetRequest.h"
#include "tests/support/net/NginxServer.h"
#include "tests/support/net/NginxSuite.h"
#include "tests/support/net/RangeStreamRead.h"
#include "tests/engine/StreamTestBlocks.h"
#include "LeafbrightPaths.h"

#include <gtest/gtest.h>
#include <unzip.h>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <random>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using test::pattern;
using test::rangeOfBlock;
using test::blocksOf;

constexpr uint64_t BS = RemoteStreamRead::kBlockSize;
using Fetch = test::RangeStreamRead::Fetch;

std::string readAt(RemoteStreamRead& s, int64_t offset, uint64_t size) {
    std::string out(size, '\0');
    out.resize(s.readByte(out.data(), offset, size));
    return out;
}

std::string plistState() {
    auto a = sys::PropertyList::readArray(RemoteStreamRead::getRemoteCacheFilePath("streaming_cache.plist", false));
    return a && a->size() >= 3 ? std::to_string((*a)[2].integerValue()) : "none";
}

class StreamHttpTest : public test::NginxSuite<test::VirtualClockTest> {
protected:
    void SetUp() override {
        VirtualClockTest::SetUp();
        RemoteStreamRead::removeCache(false);
        RemoteStreamRead::removeCache(true);
        fault_ = std::make_unique<test::FaultHttpServer>(root_->path());
        ASSERT_TRUE(fault_->start());
    }
    void TearDown() override {
        fault_.reset();
        RemoteStreamRead::removeCache(false);
        VirtualClockTest::TearDown();
    }
    // A file in the servers' folder.
    static std::string put(const std::string& name, const std::string& bytes) {
        EXPECT_TRUE(sys::FileManager::writeFile(root_->file(name), bytes, false));
        return bytes;
    }
    std::unique_ptr<test::FaultHttpServer> fault_;
};

// ---------------------------------------------------------------- nginx

TEST_F(StreamHttpTest, NginxFillsTheWholeCacheAndMarksItComplete) {
    REQUIRE_NGINX();
    for (uint64_t size : {5 * BS + 123, 2 * BS}) {
        RemoteStreamRead::removeCache();
        const std::string name = "whole-" + std::to_string(size) + ".bin";
        const std::string content = put(name, pattern(size, uint32_t(size)));
        const size_t before = nginx().requests().size();
        auto s = std::make_shared<test::RangeStreamRead>(Fetch::Everything);
        ASSERT_TRUE(s->openURL(nginx().url("/" + name)));
        EXPECT_EQ(s->contentLength(), int64_t(size));
        EXPECT_FALSE(s->validator().empty()) << "nginx sends an ETag";
        EXPECT_EQ(readAt(*s, 0, size), content);
        s->joinLoader();
        EXPECT_FALSE(s->isError());
        EXPECT_EQ(plistState(), "1") << "complete, with no phantom block left to fetch";

        const uint64_t blocks = (size + BS - 1) / BS;
        ASSERT_TRUE(nginx().waitForRequests(before + 1 + blocks));
        auto log = nginx().requests();
        std::multiset<std::string> ranges;
        for (size_t i = before; i < log.size(); ++i) {
            EXPECT_EQ(log[i].status, 206) << log[i].range;
            ranges.insert(log[i].range);
        }
        std::multiset<std::string> expected{"bytes=0-0"};
        for (uint64_t b = 0; b < blocks; ++b) expected.insert(rangeOfBlock(b, size));
        EXPECT_EQ(ranges, expected) << "each block once, nothing past the end";
    }
}

TEST_F(StreamHttpTest, ReadingARangeFetchesOnlyTheBlocksItNeeds) {
    REQUIRE_NGINX();
    const uint64_t size = 10 * BS;
    const std::string content = put("ranges.bin", pattern(size, 31));
    const size_t before = nginx().requests().size();
    auto s = std::make_shared<test::RangeStreamRead>(Fetch::OnDemand);
    ASSERT_TRUE(s->openURL(nginx().url("/ranges.bin")));

    EXPECT_EQ(readAt(*s, 262'100, 100), content.substr(262'100, 100));
    EXPECT_EQ(s->blockRequests(), 2);
    EXPECT_EQ(readAt(*s, 100, 2 * BS - 200), content.substr(100, 2 * BS - 200));
    EXPECT_EQ(readAt(*s, 262'000, 16'384), content.substr(262'000, 16'384));
    EXPECT_EQ(s->blockRequests(), 2) << "cached blocks are not fetched again";
    EXPECT_EQ(readAt(*s, 7 * BS + 5, 10), content.substr(7 * BS + 5, 10));
    EXPECT_EQ(s->blockRequests(), 3);
    // Late in a block: still that block alone.
    EXPECT_EQ(readAt(*s, 3 * BS + 200'000, 100), content.substr(3 * BS + 200'000, 100));
    EXPECT_EQ(s->blockRequests(), 4);

    ASSERT_TRUE(nginx().waitForRequests(before + 5));
    auto log = nginx().requests();
    ASSERT_EQ(log.size(), before + 5);
    EXPECT_EQ(log[before].range, "bytes=0-0");
    std::set<std::string> ranges{log[before + 1].range, log[before + 2].range};
    EXPECT_EQ(ranges, (std::set<std::string>{rangeOfBlock(0, size), rangeOfBlock(1, size)}));
    EXPECT_EQ(log[before + 3].range, rangeOfBlock(7, size));
    EXPECT_EQ(log[before + 4].range, rangeOfBlock(3, size));
}

// minizip reading a zip in place through the stream: the file functions the
// zip reader gives the library.
struct StreamFiles {
    static voidpf open(voidpf opaque, const void*, int) {
        static_cast<RemoteStreamRead*>(opaque)->setFileOffset(0);
        return opaque;
    }
    static uLong read(voidpf opaque, voidpf, void* buf, uLong size) {
        auto* s = static_cast<RemoteStreamRead*>(opaque);
        return uLong(s->readByte(buf, s->fileOffset(), size));
    }
    static uLong write(voidpf, voidpf, const void*, uLong) { return 0; }
    static ZPOS64_T tell(voidpf opaque, voidpf) { return ZPOS64_T(static_cast<RemoteStreamRead*>(opaque)->fileOffset()); }
    static long seek(voidpf opaque, voidpf, ZPOS64_T offset, int origin) {
        auto* s = static_cast<RemoteStreamRead*>(opaque);
        if (origin == ZLIB_FILEFUNC_SEEK_SET) s->setFileOffset(int64_t(offset));
        if (origin == ZLIB_FILEFUNC_SEEK_CUR) s->setFileOffset(s->fileOffset() + int64_t(offset));
        if (origin == ZLIB_FILEFUNC_SEEK_END) s->setFileOffset(s->contentLength() + int64_t(offset));
        return 0;
    }
    static int close(voidpf, voidpf) { return 0; }
    static int error(voidpf opaque, voidpf) { return static_cast<RemoteStreamRead*>(opaque)->isExitStream(); }
    static zlib_filefunc64_def table(RemoteStreamRead* s) {
        zlib_filefunc64_def t{};
        t.zopen64_file = open;
        t.zread_file = read;
        t.zwrite_file = write;
        t.ztell64_file = tell;
        t.zseek64_file = seek;
        t.zclose_file = close;
        t.zerror_file = error;
        t.opaque = s;
        return t;
    }
};

uint32_t le32(const std::string& b, size_t at) {
    return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 | uint32_t(uint8_t(b[at + 2])) << 16 |
           uint32_t(uint8_t(b[at + 3])) << 24;
}

TEST_F(StreamHttpTest, ZipEntryReadInPlaceFetchesOnlyTheDirectoryAndThatEntry) {
    REQUIRE_NGINX();
    // A stored book of twelve 300 kB pages, made by our own writer, with a
    // Shift-JIS name whose second byte is 0x5C.
    test::TempDir src("pages");
    std::vector<std::string> names;
    std::vector<std::string> pages;
    for (int i = 0; i < 12; ++i) {
        names.push_back(i == 5 ? "ソ表紙05.jpg" : "page" + std::to_string(i) + ".jpg");
        pages.push_back(pattern(300'000, 100 + uint32_t(i)));
        ASSERT_TRUE(sys::FileManager::writeFile(src.file(names.back()), pages.back(), false));
    }
    ::unlink(root_->file("book.cbz").c_str());
    ASSERT_TRUE(ZipCreate::createZip(root_->file("book.cbz"), src.path(), names));
    const std::string zip = *sys::FileManager::contentsOfFile(root_->file("book.cbz"));

    // Where the directory and entry 5 lie, from the end record and the directory.
    const size_t eocd = zip.size() - 22;
    ASSERT_EQ(le32(zip, eocd), ZipCreate::kEndRecordSignature);
    const uint64_t cdOffset = le32(zip, eocd + 16);
    const std::string sjisName = *QNTextEncoding::dataWithString(names[5], "shift_jis");
    ASSERT_EQ(sjisName.substr(0, 2), "\x83\x5C");
    const size_t nameAt = zip.find(sjisName, cdOffset);
    ASSERT_NE(nameAt, std::string::npos);
    const uint64_t localHeader = le32(zip, nameAt - 46 + 42);
    const uint64_t entryEnd = localHeader + 30 + sjisName.size() + pages[5].size();

    const size_t before = nginx().requests().size();
    auto s = std::make_shared<test::RangeStreamRead>(Fetch::OnDemand);
    ASSERT_TRUE(s->openURL(nginx().url("/book.cbz")));
    auto files = StreamFiles::table(s.get());
    unzFile uf = unzOpen2_64("stream", &files);
    ASSERT_NE(uf, nullptr);
    unz_global_info64 gi{};
    ASSERT_EQ(unzGetGlobalInfo64(uf, &gi), UNZ_OK);
    EXPECT_EQ(gi.number_entry, 12u);
    ASSERT_EQ(unzLocateFile(uf, sjisName.c_str(), 1), UNZ_OK);
    ASSERT_EQ(unzOpenCurrentFile(uf), UNZ_OK);
    std::string got;
    char buf[10'250];
    for (int r; (r = unzReadCurrentFile(uf, buf, sizeof buf)) > 0;) got.append(buf, size_t(r));
    EXPECT_EQ(unzCloseCurrentFile(uf), UNZ_OK) << "the CRC checks out";
    unzClose(uf);
    EXPECT_EQ(got, pages[5]);

    // The library looks for the end records in the last 64 kB, reads the
    // directory, then the entry's header and data: nothing else.
    std::set<uint64_t> expected = blocksOf(std::min<uint64_t>(cdOffset, zip.size() - 0xFFFF), zip.size());
    for (uint64_t b : blocksOf(localHeader, entryEnd)) expected.insert(b);
    ASSERT_TRUE(nginx().waitForRequests(before + 1 + expected.size()));
    std::set<std::string> fetched;
    auto log = nginx().requests();
    for (size_t i = before + 1; i < log.size(); ++i) fetched.insert(log[i].range);
    std::set<std::string> wanted;
    for (uint64_t b : expected) wanted.insert(rangeOfBlock(b, zip.size()));
    EXPECT_EQ(fetched, wanted);
    EXPECT_EQ(size_t(s->blockRequests()), expected.size());
    EXPECT_LT(expected.size(), s->blockLength() / 2) << "the test reads a small part of the book";
}

TEST_F(StreamHttpTest, SameVersionResumesWithoutFetchingAndANewVersionStartsAfresh) {
    REQUIRE_NGINX();
    const std::string path = root_->file("resume.bin");
    const std::string v1 = put("resume.bin", pattern(3 * BS + 9, 41));
    {
        auto s = std::make_shared<test::RangeStreamRead>(Fetch::Everything);
        ASSERT_TRUE(s->openURL(nginx().url("/resume.bin")));
        s->joinLoader();
        ASSERT_EQ(plistState(), "1");
    }
    {
        auto s = std::make_shared<test::RangeStreamRead>(Fetch::OnDemand);
        ASSERT_TRUE(s->openURL(nginx().url("/resume.bin")));
        EXPECT_EQ(readAt(*s, 0, v1.size()), v1);
        EXPECT_EQ(s->blockRequests(), 0) << "every block came from the cache";
    }
    // The server's file is replaced by another of the same length.
    const std::string v2 = put("resume.bin", pattern(3 * BS + 9, 42));
    struct timespec times[2] = {{0, UTIME_OMIT}, {::time(nullptr) + 100, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    {
        auto s = std::make_shared<test::RangeStreamRead>(Fetch::OnDemand);
        ASSERT_TRUE(s->openURL(nginx().url("/resume.bin")));
        EXPECT_EQ(readAt(*s, 0, v2.size()), v2) << "no block of the old version";
        EXPECT_EQ(s->blockRequests(), 4);
        EXPECT_EQ(plistState(), "0");
    }
}

// ---------------------------------------------------------------- faults

TEST_F(StreamHttpTest, ConnectionDroppedMidBlockIsFetchedAgain) {
    const std::string content = put("drop.bin", pattern(BS + BS / 2, 51));
    // Request 1 is the opening probe; request 2 (block 0) drops after 100,000 bytes.
    auto s = std::make_shared<test::RangeStreamRead>(Fetch::Everything);
    ASSERT_TRUE(s->openURL(fault_->url("/drop.bin?drop_after=100000&drop_times=2")));
    EXPECT_EQ(readAt(*s, 0, content.size()), content);
    s->joinLoader();
    EXPECT_FALSE(s->isError());
    EXPECT_EQ(s->recvBlockMap(), (std::vector<uint16_t>{1, 2})) << "the broken transfer took no slot";
    ASSERT_TRUE(fault_->waitForAnswered(5.0));
    auto log = fault_->requests();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[1].range, rangeOfBlock(0, content.size()));
    EXPECT_EQ(log[1].bodyBytes, 100'000u);
    EXPECT_EQ(log[2].range, rangeOfBlock(0, content.size()));
    EXPECT_EQ(log[2].bodyBytes, BS);
    EXPECT_EQ(plistState(), "1");
}

TEST_F(StreamHttpTest, ServerThatKeepsDroppingFailsTheStreamAndTheWaitingRead) {
    put("dropall.bin", pattern(2 * BS, 52));
    auto s = std::make_shared<test::RangeStreamRead>(Fetch::Everything);
    ASSERT_TRUE(s->openURL(fault_->url("/dropall.bin?drop_after=1000")));
    char buf[100];
    EXPECT_EQ(s->readByte(buf, 10, sizeof buf), 0u);
    EXPECT_TRUE(s->isError());
    s->joinLoader();
    EXPECT_EQ(fault_->requestCount("/dropall.bin"), size_t(1 + test::RangeStreamRead::kAttempts));
    EXPECT_FALSE(s->isBlockCached(0));
}

TEST_F(StreamHttpTest, ServerWithoutRangesIsUnsupported) {
    put("norange.bin", pattern(BS, 53));
    auto s = std::make_shared<test::RangeStreamRead>();
    EXPECT_FALSE(s->openURL(fault_->url("/norange.bin?norange=1")));
    EXPECT_TRUE(s->isUnsupportedServer());
    EXPECT_EQ(plistState(), "none") << "no cache was started";
}

TEST_F(StreamHttpTest, RangeNotSatisfiableFailsTheStream) {
    put("gone.bin", pattern(2 * BS, 54));
    auto s = std::make_shared<test::RangeStreamRead>(Fetch::OnDemand);
    ASSERT_TRUE(s->openURL(fault_->url("/gone.bin?fail416_from=2")));
    char buf[10];
    EXPECT_EQ(s->readByte(buf, BS + 1, sizeof buf), 0u);
    EXPECT_TRUE(s->isError());
    ASSERT_TRUE(fault_->waitForAnswered(5.0));
    auto log = fault_->requests();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1].status, 416);
    EXPECT_EQ(s->readByte(buf, 0, sizeof buf), 0u) << "a failed stream stays failed";
}

TEST_F(StreamHttpTest, SlowAndLateServersDeliverWholeBlocksOnly) {
    const std::string content = put("slow.bin", pattern(BS + 1000, 55));
    struct Counter : RemoteStreamReadDelegate {
        void updateCacheBlock(int64_t, int64_t, int64_t block, int64_t) override { blocks.push_back(block); }
        std::vector<int64_t> blocks;
    };
    auto d = std::make_shared<Counter>();
    // About 4 MB/s after a late start: the block trickles in, in 80 kB pieces.
    auto s = std::make_shared<test::RangeStreamRead>(Fetch::OnDemand);
    s->setDelegate(d);
    ASSERT_TRUE(s->openURL(fault_->url("/slow.bin?rate=4000000&delay_ms=50")));
    std::string tail;
    sys::Thread reader([&](const std::atomic<bool>&) { tail = readAt(*s, BS - 100, 100); });
    reader.join();
    EXPECT_EQ(tail, content.substr(BS - 100, 100)) << "no half-written block was read";
    EXPECT_EQ(readAt(*s, BS + 10, 20), content.substr(BS + 10, 20));
    advance(0.01);
    EXPECT_EQ(d->blocks, (std::vector<int64_t>{0, 1})) << "one report per whole block";
}

TEST_F(StreamHttpTest, CancelFreesAReadStuckOnAStalledServer) {
    put("stall.bin", pattern(2 * BS, 56));
    auto s = std::make_shared<test::RangeStreamRead>(Fetch::OnDemand);
    ASSERT_TRUE(s->openURL(fault_->url("/stall.bin?stall_from=2")));
    uint64_t n = 99;
    double returned = 0;
    sys::Thread reader([&](const std::atomic<bool>&) {
        char buf[10];
        n = s->readByte(buf, 5, sizeof buf);
        returned = sys::Clock::now();
    });
    ASSERT_TRUE(fault_->waitForStalled(1, 10.0));
    const double cancelled = sys::Clock::now();
    s->cancelStreaming();
    reader.join();
    EXPECT_EQ(n, 0u);
    EXPECT_LE(returned - cancelled, 0.1);
    EXPECT_FALSE(s->loaderRunning()) << "the loader left the stalled connection";
    EXPECT_FALSE(s->isBlockCached(0));
}

TEST_F(StreamHttpTest, FilesBeyondSixteenGiBAreNotStreamed) {
    const std::string path = root_->file("huge.bin");
    int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, off_t(16) << 30), 0);  // sparse
    ::close(fd);
    auto s = std::make_shared<test::RangeStreamRead>(Fetch::OnDemand);
    EXPECT_FALSE(s->openURL(fault_->url("/huge.bin")));
    EXPECT_EQ(plistState(), "none");

    // The largest that fits: its last block is the 65,535th slot's.
    ASSERT_EQ(::truncate(path.c_str(), RemoteStreamRead::kMaxStreamLength), 0);
    auto t = std::make_shared<test::RangeStreamRead>(Fetch::OnDemand);
    ASSERT_TRUE(t->openURL(fault_->url("/huge.bin")));
    EXPECT_EQ(readAt(*t, RemoteStreamRead::kMaxStreamLength - 4, 10), std::string(4, '\0'));
    // Slots follow arrival order, which the loader may change; the block must have one.
    EXPECT_NE(t->recvBlockMap().back(), 0);
    t->closeURL();
    ::unlink(path.c_str());
}

// ---------------------------------------------------------------- the servers themselves

TEST_F(StreamHttpTest, FaultServerProgramServesRangesFromTheCommandLine) {
    put("prog.bin", "0123456789");
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::execl(LEAFBRIGHT_FAULT_HTTPD, LEAFBRIGHT_FAULT_HTTPD, "--root", root_->path().c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    FILE* f = ::fdopen(out[0], "r");
    int port = 0;
    ASSERT_EQ(std::fscanf(f, "port %d", &port), 1);
    test::HttpGetRequest get;
    ASSERT_TRUE(get.open("http://127.0.0.1:" + std::to_string(port) + "/prog.bin", {"Range: bytes=2-4"}));
    EXPECT_EQ(get.status(), 206);
    EXPECT_EQ(get.header("content-range"), "bytes 2-4/10");
    std::string body;
    ASSERT_TRUE(get.readAll(body));
    EXPECT_EQ(body, "234");
    ::kill(pid, SIGTERM);
    char line[256] = {};
    std::fgets(line, sizeof line, f);  // rest of the port line
    ASSERT_NE(std::fgets(line, sizeof line, f), nullptr);
    EXPECT_STREQ(line, "GET \"/prog.bin\" \"bytes=2-4\" 206 3\n");
    std::fclose(f);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
