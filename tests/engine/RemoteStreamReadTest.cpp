#include "engine/RemoteStreamRead.h"

#include "platform/core/AppPaths.h"
#include "platform/core/FileManager.h"
#include "platform/core/PropertyList.h"
#include "platform/core/Thread.h"
#include "tests/support/VirtualClockTest.h"
#include "tests/engine/ManualStream.h"
#include "tests/engine/StreamTestBlocks.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <random>

namespace {

using test::pattern;

constexpr uint64_t BS = RemoteStreamRead::kBlockSize;

std::string cacheFile(const char* name, bool thumbs = false) {
    return RemoteStreamRead::getRemoteCacheFilePath(name, thumbs);
}

using test::ManualStream;

struct RecordingDelegate : RemoteStreamReadDelegate {
    void updateCacheStatus(uint64_t count, const uint16_t* map, bool isPage) override {
        lastMap.assign(map, map + count);
        statusCalls++;
        pageUnits = isPage;
    }
    void updateCacheBlock(int64_t cached, int64_t blockSize, int64_t block, int64_t numBlocks) override {
        blocks.push_back({cached, blockSize, block, numBlocks});
    }
    std::vector<uint16_t> lastMap;
    int statusCalls = 0;
    bool pageUnits = true;
    std::vector<std::array<int64_t, 4>> blocks;
};

class RemoteStreamReadTest : public test::BlockCacheTest {};

std::vector<uint16_t> mapFileEntries(bool thumbs = false) {
    auto bytes = sys::FileManager::contentsOfFile(cacheFile("streaming_cache.map", thumbs));
    std::vector<uint16_t> out;
    if (!bytes) return out;
    for (size_t i = 0; i + 1 < bytes->size(); i += 2) {
        out.push_back(uint16_t(uint8_t((*bytes)[i]) | uint8_t((*bytes)[i + 1]) << 8));
    }
    return out;
}

}  // namespace

// ---------------------------------------------------------------- layout

TEST_F(RemoteStreamReadTest, BlockCountHasNoPhantomBlockAtAnExactMultiple) {
    const std::string content = pattern(2 * BS, 1);
    auto s = std::make_shared<ManualStream>();
    ASSERT_TRUE(s->openWith("http://h/exact.zip", content, "e1"));
    EXPECT_EQ(s->blockLength(), 2u);
    s->deliverAll();
    EXPECT_EQ(s->findNextBlock(), -1) << "every block is there: nothing more to fetch";
    s->markCacheComplete();
    auto plist = sys::PropertyList::readArray(cacheFile("streaming_cache.plist"));
    ASSERT_TRUE(plist);
    EXPECT_EQ((*plist)[2].integerValue(), 1) << "the cache of an exact multiple completes";
    EXPECT_EQ(s->read(0, content.size()), content);

    auto odd = std::make_shared<ManualStream>();
    ASSERT_TRUE(odd->openWith("http://h/odd.zip", pattern(2 * BS + 1, 2), "e1"));
    EXPECT_EQ(odd->blockLength(), 3u);
    auto empty = std::make_shared<ManualStream>();
    ASSERT_TRUE(empty->openWith("http://h/empty.zip", "", "e1"));
    EXPECT_EQ(empty->blockLength(), 0u);
    EXPECT_EQ(empty->findNextBlock(), -1);
    char c;
    EXPECT_EQ(empty->readByte(&c, 0, 1), 0u);
}

TEST_F(RemoteStreamReadTest, BlocksLandInArrivalSlotsAndReadsCrossBlockBoundaries) {
    const std::string content = pattern(3 * BS + 1000, 3);
    auto s = std::make_shared<ManualStream>();
    ASSERT_TRUE(s->openWith("http://h/book.zip", content, "etag-1"));
    // Out of order: block 1 takes slot 1, block 0 slot 2, the short last block slot 3.
    ASSERT_TRUE(s->deliver(1));
    ASSERT_TRUE(s->deliver(0));
    ASSERT_TRUE(s->deliver(3));
    EXPECT_EQ(s->recvBlockMap(), (std::vector<uint16_t>{2, 1, 0, 3}));
    EXPECT_EQ(mapFileEntries(), (std::vector<uint16_t>{2, 1, 0, 3}));
    EXPECT_EQ(s->nextWriteBlockOffset(), 3u);

    auto file = sys::FileManager::contentsOfFile(cacheFile("streaming_cache.file"));
    ASSERT_TRUE(file);
    EXPECT_EQ(file->size(), 2 * BS + 1000);
    EXPECT_EQ(file->substr(0, BS), content.substr(BS, BS));
    EXPECT_EQ(file->substr(BS, BS), content.substr(0, BS));
    EXPECT_EQ(file->substr(2 * BS), content.substr(3 * BS));

    // 44 bytes from block 0's slot, 56 from block 1's.
    EXPECT_EQ(s->read(262'100, 100), content.substr(262'100, 100));
    // A large read straight through the slots, clipped at the end of the file.
    ASSERT_TRUE(s->deliver(2));
    EXPECT_EQ(s->recvBlockMap(), (std::vector<uint16_t>{2, 1, 4, 3}));
    std::string big(2 * BS, '\0');
    EXPECT_EQ(s->readByte(big.data(), 3 * BS - 10, 2 * BS), 1010u);
    EXPECT_EQ(big.substr(0, 1010), content.substr(3 * BS - 10));

    auto plist = sys::PropertyList::readArray(cacheFile("streaming_cache.plist"));
    ASSERT_TRUE(plist);
    ASSERT_EQ(plist->size(), 4u);
    EXPECT_EQ((*plist)[0].asString(), "http://h/book.zip");
    EXPECT_EQ((*plist)[1].integerValue(), int64_t(content.size()));
    EXPECT_EQ((*plist)[2].integerValue(), 0);
    EXPECT_EQ((*plist)[3].asString(), "etag-1");
}

TEST_F(RemoteStreamReadTest, FileOffsetFollowsWhatWasDelivered) {
    const std::string content = pattern(BS + 500, 4);
    auto s = std::make_shared<ManualStream>();
    ASSERT_TRUE(s->openWith("http://h/o.zip", content, "v"));
    s->deliverAll();
    s->setFileOffset(0);
    s->read(10, 20);
    EXPECT_EQ(s->fileOffset(), 20);
    s->read(30, 5);  // from the window
    EXPECT_EQ(s->fileOffset(), 25);
    s->read(BS + 400, 300);  // clipped to 100 at the end
    EXPECT_EQ(s->fileOffset(), 125);
    char c;
    EXPECT_EQ(s->readByte(&c, int64_t(content.size()), 1), 0u);
    EXPECT_EQ(s->readByte(&c, -1, 1), 0u);
    EXPECT_EQ(s->fileOffset(), 125);
}

TEST_F(RemoteStreamReadTest, SmallReadsNeedOnlyTheirOwnBlocks) {
    const std::string content = pattern(4 * BS, 5);
    auto s = std::make_shared<ManualStream>();
    ASSERT_TRUE(s->openWith("http://h/w.zip", content, "v"));
    ASSERT_TRUE(s->deliver(0));
    // Near the end of block 0: the window must not reach into block 1,
    // which is missing (the read would wait for a block it does not need).
    EXPECT_EQ(s->read(262'000, 100), content.substr(262'000, 100));
    EXPECT_EQ(s->read(262'100, 44), content.substr(262'100, 44));
    EXPECT_FALSE(s->waitForReadByte());
    EXPECT_FALSE(s->isBlockCached(1));
    // A read ending exactly on a block boundary leaves the window there.
    EXPECT_EQ(s->read(BS - 64, 64), content.substr(BS - 64, 64));
}

TEST_F(RemoteStreamReadTest, WindowServesRepeatedSmallReadsWithoutTheCache) {
    const std::string content = pattern(2 * BS, 6);
    auto s = std::make_shared<ManualStream>();
    ASSERT_TRUE(s->openWith("http://h/win.zip", content, "v"));
    ASSERT_TRUE(s->deliver(0));
    EXPECT_EQ(s->read(1000, 30), content.substr(1000, 30));
    // The window holds [1000, 262144): later small reads there come from it,
    // even once the cache file is gone from under the stream.
    ASSERT_TRUE(sys::FileManager::writeFile(cacheFile("streaming_cache.file"), std::string(BS, 'x'), false));
    EXPECT_EQ(s->read(200'000, 100), content.substr(200'000, 100));
    EXPECT_EQ(s->read(1000, 30), content.substr(1000, 30));
}

// ---------------------------------------------------------------- writing

TEST_F(RemoteStreamReadTest, PartBlockOfADroppedTransferIsNeverShown) {
    const std::string content = pattern(2 * BS, 7);
    auto s = std::make_shared<ManualStream>();
    ASSERT_TRUE(s->openWith("http://h/drop.zip", content, "v"));
    s->beginTransfer(0);
    ASSERT_TRUE(s->appendTransferBytes(content.data(), 100'000));
    s->endTransfer();  // the connection dropped
    EXPECT_FALSE(s->isBlockCached(0));
    EXPECT_EQ(s->nextWriteBlockOffset(), 0u);
    EXPECT_EQ(mapFileEntries(), std::vector<uint16_t>{}) << "no map was written for a part block";
    // After the drop, bytes without a new transfer go nowhere.
    EXPECT_FALSE(s->appendTransferBytes(content.data(), 10));

    ASSERT_TRUE(s->deliver(0));
    EXPECT_EQ(s->recvBlockMap(), (std::vector<uint16_t>{1, 0}));
    EXPECT_EQ(s->read(0, BS), content.substr(0, BS));
}

TEST_F(RemoteStreamReadTest, TransfersSpanBlocksSkipPresentOnesAndStopAtTheEnd) {
    const std::string content = pattern(3 * BS + 7, 8);
    auto s = std::make_shared<ManualStream>();
    ASSERT_TRUE(s->openWith("http://h/span.zip", content, "v"));
    ASSERT_TRUE(s->deliver(1));
    // One transfer of the whole file: block 1 is present and takes no second slot.
    s->beginTransfer(0);
    ASSERT_TRUE(s->appendTransferBytes(content.data(), content.size()));
    EXPECT_EQ(s->recvBlockMap(), (std::vector<uint16_t>{2, 1, 3, 4}));
    EXPECT_EQ(s->nextWriteBlockOffset(), 4u);
    // Past the end of the file: refused, nothing written.
    EXPECT_FALSE(s->appendTransferBytes("zz", 2));
    s->endTransfer();
    EXPECT_EQ(s->read(0, content.size()), content);
    EXPECT_FALSE(s->isError());
}

TEST_F(RemoteStreamReadTest, DelegateHearsEachBlockOnTheMainThreadAndMayGoAway) {
    const std::string content = pattern(3 * BS, 9);
    auto s = std::make_shared<ManualStream>();
    auto d = std::make_shared<RecordingDelegate>();
    s->setDelegate(d);
    ASSERT_TRUE(s->openWith("http://h/d.zip", content, "v"));
    sys::Thread loader([&](const std::atomic<bool>&) {
        s->deliver(2);
        s->deliver(0);
    });
    loader.join();
    EXPECT_TRUE(d->blocks.empty()) << "callbacks wait for the main loop";
    advance(0.01);
    ASSERT_EQ(d->blocks.size(), 2u);
    EXPECT_EQ(d->blocks[0], (std::array<int64_t, 4>{1, int64_t(BS), 2, 3}));
    EXPECT_EQ(d->blocks[1], (std::array<int64_t, 4>{2, int64_t(BS), 0, 3}));
    EXPECT_EQ(d->lastMap, (std::vector<uint16_t>{2, 0, 1}));
    EXPECT_FALSE(d->pageUnits);

    // The reader went away while a callback was on its way.
    s->deliver(1);
    d.reset();
    advance(0.01);  // nothing to call, no crash
}

// ---------------------------------------------------------------- resuming

TEST_F(RemoteStreamReadTest, ResumesOnlyTheSameVersionOfTheSameFile) {
    const std::string content = pattern(3 * BS, 10);
    {
        auto s = std::make_shared<ManualStream>();
        ASSERT_TRUE(s->openWith("http://h/r.zip", content, "\"v1\""));
        s->deliver(0);
        s->deliver(2);
        sys::FileManager::writeFile(cacheFile("streaming_cache.rawindex"), "index");
    }
    // The same file again (the program was closed meanwhile): the blocks are there.
    {
        auto s = std::make_shared<ManualStream>();
        ASSERT_TRUE(s->openWith("http://h/r.zip", content, "\"v1\""));
        EXPECT_EQ(s->recvBlockMap(), (std::vector<uint16_t>{1, 0, 2}));
        EXPECT_EQ(s->nextWriteBlockOffset(), 2u);
        EXPECT_EQ(s->read(2 * BS + 5, 10), content.substr(2 * BS + 5, 10));
        s->deliver(1);
        EXPECT_EQ(s->recvBlockMap(), (std::vector<uint16_t>{1, 3, 2}));
        EXPECT_EQ(s->read(0, content.size()), content);
        EXPECT_TRUE(sys::FileManager::fileExists(cacheFile("streaming_cache.rawindex")));
    }
    // Same URL and length, but the server has another version now: start afresh.
    const std::string changed = pattern(3 * BS, 11);
    {
        auto s = std::make_shared<ManualStream>();
        ASSERT_TRUE(s->openWith("http://h/r.zip", changed, "\"v2\""));
        EXPECT_EQ(s->recvBlockMap(), (std::vector<uint16_t>{0, 0, 0}));
        EXPECT_EQ(s->nextWriteBlockOffset(), 0u);
        EXPECT_FALSE(sys::FileManager::fileExists(cacheFile("streaming_cache.rawindex")));
        EXPECT_FALSE(sys::FileManager::fileExists(cacheFile("streaming_cache.map")));
        EXPECT_EQ(sys::FileManager::fileSize(cacheFile("streaming_cache.file")).value_or(99), 0u);
        s->deliver(1);
    }
    // A server that names no version is taken at its URL and length: its
    // blocks are kept from one open to the next...
    {
        auto s = std::make_shared<ManualStream>();
        ASSERT_TRUE(s->openWith("http://h/r.zip", changed, ""));
        EXPECT_EQ(s->recvBlockMap(), (std::vector<uint16_t>{0, 1, 0})) << "the v2 block stays";
        s->deliver(0);
    }
    {
        auto s = std::make_shared<ManualStream>();
        ASSERT_TRUE(s->openWith("http://h/r.zip", changed, ""));
        EXPECT_EQ(s->recvBlockMap(), (std::vector<uint16_t>{2, 1, 0}));
        EXPECT_EQ(s->read(0, 2 * BS), changed.substr(0, 2 * BS));
    }
    // ...but once the server names a version again, blocks fetched while it
    // named none prove nothing, whatever the files said before.
    {
        auto s = std::make_shared<ManualStream>();
        ASSERT_TRUE(s->openWith("http://h/r.zip", changed, "\"v2\""));
        EXPECT_EQ(s->recvBlockMap(), (std::vector<uint16_t>{0, 0, 0}));
    }
    // Another length or another URL: afresh as well.
    {
        auto s = std::make_shared<ManualStream>();
        ASSERT_TRUE(s->openWith("http://h/r.zip", changed, "\"v2\""));
        s->deliver(0);
    }
    {
        auto s = std::make_shared<ManualStream>();
        ASSERT_TRUE(s->openWith("http://h/r.zip", changed.substr(1), "\"v2\""));
        EXPECT_FALSE(s->isBlockCached(0));
    }
    {
        auto s = std::make_shared<ManualStream>();
        ASSERT_TRUE(s->openWith("http://h/other.zip", changed.substr(1), "\"v2\""));
        EXPECT_FALSE(s->isBlockCached(0));
    }
}

TEST_F(RemoteStreamReadTest, ResumeDistrustsMapEntriesBeyondTheCachedData) {
    const std::string content = pattern(3 * BS, 12);
    {
        auto s = std::make_shared<ManualStream>();
        ASSERT_TRUE(s->openWith("http://h/m.zip", content, "v"));
        s->deliver(0);
    }
    // A map that claims slots the cache file does not hold.
    std::string map = {char(1), 0, char(7), 0, char(0xFF), char(0xFF)};
    ASSERT_TRUE(sys::FileManager::writeFile(cacheFile("streaming_cache.map"), map));
    auto s = std::make_shared<ManualStream>();
    ASSERT_TRUE(s->openWith("http://h/m.zip", content, "v"));
    EXPECT_EQ(s->recvBlockMap(), (std::vector<uint16_t>{1, 0, 0}));
    EXPECT_EQ(s->read(0, 100), content.substr(0, 100));
}

TEST_F(RemoteStreamReadTest, ACompleteCacheIsRecognisedAndGivesItsLength) {
    const std::string content = pattern(BS + 3, 13);
    {
        auto s = std::make_shared<ManualStream>();
        ASSERT_TRUE(s->openWith("http://h/c.zip", content, "v9"));
        s->markCacheComplete();  // not yet: a block is missing
        auto plist = sys::PropertyList::readArray(cacheFile("streaming_cache.plist"));
        EXPECT_EQ((*plist)[2].integerValue(), 0);
        s->deliverAll();
        s->markCacheComplete();
    }
    auto s = std::make_shared<ManualStream>();
    s->setTargetURL("http://h/c.zip");
    ASSERT_TRUE(s->isCacheComplete());
    EXPECT_EQ(s->contentLength(), int64_t(content.size()));
    EXPECT_EQ(s->validator(), "v9");
    ASSERT_TRUE(s->prepareCacheFiles());
    EXPECT_EQ(s->read(0, content.size()), content);

    auto other = std::make_shared<ManualStream>();
    other->setTargetURL("http://h/not-this.zip");
    EXPECT_FALSE(other->isCacheComplete());
}

TEST_F(RemoteStreamReadTest, FilesBeyondSixteenBitSlotsAreRefused) {
    auto s = std::make_shared<ManualStream>();
    EXPECT_FALSE(s->openWithLength("http://h/huge.zip", RemoteStreamRead::kMaxStreamLength + 1));
    EXPECT_FALSE(s->openWithLength("http://h/huge.zip", int64_t(16) << 30));
    EXPECT_FALSE(s->openWithLength("http://h/neg.zip", -1));
    EXPECT_FALSE(sys::FileManager::fileExists(cacheFile("streaming_cache.plist")));
    // The largest streamable file: 65,535 blocks, every slot addressable.
    ASSERT_TRUE(s->openWithLength("http://h/max.zip", RemoteStreamRead::kMaxStreamLength));
    EXPECT_EQ(s->blockLength(), 65'535u);
}

TEST_F(RemoteStreamReadTest, ThumbnailSetLeavesTheReadingSetAlone) {
    const std::string book = pattern(2 * BS, 14);
    const std::string other = pattern(BS, 15);
    {
        auto s = std::make_shared<ManualStream>();
        ASSERT_TRUE(s->openWith("http://h/open-book.zip", book, "b"));
        s->deliverAll();
    }
    {
        auto t = std::make_shared<ManualStream>();
        t->setIsThumbsCreateMode(true);
        ASSERT_TRUE(t->openWith("http://h/thumb-of-another.zip", other, "t"));
        t->deliverAll();
        EXPECT_TRUE(sys::FileManager::fileExists(cacheFile("streaming_cache.file", true)));
        EXPECT_EQ(mapFileEntries(true), (std::vector<uint16_t>{1}));
    }
    auto s = std::make_shared<ManualStream>();
    ASSERT_TRUE(s->openWith("http://h/open-book.zip", book, "b"));
    EXPECT_EQ(s->recvBlockMap(), (std::vector<uint16_t>{1, 2}));
    EXPECT_EQ(s->read(0, book.size()), book);

    RemoteStreamRead::removeCache(true);
    for (const char* n : {"streaming_cache.file", "streaming_cache.map", "streaming_cache.plist"}) {
        EXPECT_FALSE(sys::FileManager::fileExists(cacheFile(n, true))) << n;
        EXPECT_TRUE(sys::FileManager::fileExists(cacheFile(n, false))) << n;
    }
}

TEST_F(RemoteStreamReadTest, PrepareClearsThePageStreamFolderAndRemoveCacheClearsAll) {
    ASSERT_TRUE(sys::FileManager::createDirectory(cacheFile("streaming_cache.dir") + "/p", true));
    auto s = std::make_shared<ManualStream>();
    ASSERT_TRUE(s->openWith("http://h/x.zip", pattern(100, 16), "v"));
    EXPECT_FALSE(sys::FileManager::fileExists(cacheFile("streaming_cache.dir")));
    s->deliverAll();
    sys::FileManager::writeFile(cacheFile("streaming_cache.rawindex"), "i");
    sys::FileManager::createDirectory(cacheFile("streaming_cache.dir"), true);
    RemoteStreamRead::removeCache();
    for (const char* n : {"streaming_cache.file", "streaming_cache.map", "streaming_cache.plist",
                          "streaming_cache.dir", "streaming_cache.rawindex"}) {
        EXPECT_FALSE(sys::FileManager::fileExists(cacheFile(n))) << n;
    }
    EXPECT_EQ(cacheFile("streaming_cache.map", true), sys::AppPaths::tmp() + "/tb_streaming_cache.map");
}

// ---------------------------------------------------------------- scheduling

TEST_F(RemoteStreamReadTest, NextBlockFollowsTheWaitingReadThenTheRestInOrder) {
    const std::string content = pattern(12 * BS, 17);
    auto s = std::make_shared<ManualStream>();
    ASSERT_TRUE(s->openWith("http://h/order.zip", content, "v"));

    // A reader waits for blocks 3..4.
    std::string got;
    sys::Thread reader([&](const std::atomic<bool>&) { got = s->read(3 * BS + 10, BS); });
    ASSERT_TRUE(s->waitForReader(5.0));
    EXPECT_EQ(s->blockNeed(), 3u);
    EXPECT_EQ(s->blockNeedEnd(), 4u);

    std::vector<int64_t> order;
    for (int64_t b; (b = s->findNextBlock()) >= 0;) {
        order.push_back(b);
        s->deliver(uint64_t(b));
    }
    reader.join();
    EXPECT_EQ(order, (std::vector<int64_t>{3, 4, 5, 6, 7, 8, 9, 10, 11, 0, 1, 2}));
    EXPECT_EQ(got, content.substr(3 * BS + 10, BS));
}

TEST_F(RemoteStreamReadTest, ProtocolFromTheAddressAndRegisteredStreamClasses) {
    EXPECT_EQ(RemoteStreamRead::getProtocolWithURL("ftp://host/a.zip"), 2);
    EXPECT_EQ(RemoteStreamRead::getProtocolWithURL("smb://host/share/a.zip"), 3);
    EXPECT_EQ(RemoteStreamRead::getProtocolWithURL("https://host/a.zip"), 1);
    EXPECT_EQ(RemoteStreamRead::getProtocolWithURL("http://host/a.zip"), 0);

    EXPECT_EQ(RemoteStreamRead::newStreamWithProtocol(4), nullptr);
    RemoteStreamRead::registerStreamClass(3, nullptr);
    EXPECT_EQ(RemoteStreamRead::newStreamWithProtocol(3), nullptr);
    RemoteStreamRead::registerStreamClass(3, [] { return std::make_shared<ManualStream>(); });
    auto a = RemoteStreamRead::newStreamWithProtocol(3);
    auto b = RemoteStreamRead::newStreamWithProtocol(3);
    ASSERT_TRUE(a && b);
    EXPECT_NE(a, b) << "a new stream each time";
    EXPECT_FALSE(a->openURL("smb://h/x")) << "the base cannot open anything";
    RemoteStreamRead::registerStreamClass(3, nullptr);
}

// ---------------------------------------------------------------- waiting

TEST_F(RemoteStreamReadTest, WorkerReadWaitsForItsBlocksAndWakesWhenTheyArrive) {
    const std::string content = pattern(4 * BS, 18);
    auto s = std::make_shared<ManualStream>();
    ASSERT_TRUE(s->openWith("http://h/wait.zip", content, "v"));
    ASSERT_TRUE(s->deliver(2));
    std::string got;
    const double start = sys::Clock::now();
    double finished = 0;
    sys::Thread reader([&](const std::atomic<bool>&) {
        got = s->read(2 * BS - 50, 100);
        finished = sys::Clock::now();
    });
    ASSERT_TRUE(s->waitForReader(5.0));
    EXPECT_TRUE(s->waitForReadByte());
    EXPECT_EQ(s->blockNeed(), 1u);
    EXPECT_EQ(s->blockNeedEnd(), 2u);
    s->deliver(1);
    reader.join();
    EXPECT_EQ(got, content.substr(2 * BS - 50, 100));
    EXPECT_FALSE(s->waitForReadByte());
    EXPECT_LT(finished - start, 0.1) << "woken by the arrival, not by the next step";
}

TEST_F(RemoteStreamReadTest, MainThreadReadKeepsTheLoopRunningWhileItWaits) {
    const std::string content = pattern(2 * BS, 19);
    auto s = std::make_shared<ManualStream>();
    ASSERT_TRUE(s->openWith("http://h/main.zip", content, "v"));
    // Work posted to the main loop (as a loader's callbacks are) delivers the block.
    int ticks = 0;
    loop().schedule(0.25, [&] {
        ++ticks;
        s->deliver(1);
    });
    const double start = sys::Clock::now();
    EXPECT_EQ(s->read(BS + 1, 10), content.substr(BS + 1, 10));
    EXPECT_EQ(ticks, 1);
    EXPECT_NEAR(sys::Clock::now() - start, 0.25, 1e-6) << "returns as soon as the block is there";
}

TEST_F(RemoteStreamReadTest, AMainThreadReadMayBeMadeByWorkRunWhileAnotherWaits) {
    const std::string content = pattern(3 * BS, 23);
    auto s = std::make_shared<ManualStream>();
    ASSERT_TRUE(s->openWith("http://h/nested.zip", content, "v"));
    ASSERT_TRUE(s->deliver(2));
    // While the outer read waits for block 0, the loop runs a timer that reads
    // (a small read, through the window) a block already there, then
    // delivers the one the outer read needs.
    std::string inner;
    bool innerDone = false;
    loop().schedule(0.15, [&] {
        inner = s->read(2 * BS + 7, 20);
        innerDone = true;
        s->deliver(0);
    });
    EXPECT_EQ(s->read(100, 50), content.substr(100, 50));
    EXPECT_TRUE(innerDone);
    EXPECT_EQ(inner, content.substr(2 * BS + 7, 20));
    EXPECT_FALSE(s->isCancel()) << "neither read needed its guard";
    // Both reads went through the window; the last refill is the one kept.
    EXPECT_EQ(s->read(120, 10), content.substr(120, 10));
}

TEST_F(RemoteStreamReadTest, CancelOrCloseWakesAWaitingReadWithinOneStep) {
    const std::string content = pattern(2 * BS, 20);
    // On the main thread: a timer cancels half-way through a step.
    {
        auto s = std::make_shared<ManualStream>();
        ASSERT_TRUE(s->openWith("http://h/cancel.zip", content, "v"));
        loop().schedule(0.35, [&] { s->cancelStreaming(); });
        const double start = sys::Clock::now();
        char buf[10];
        EXPECT_EQ(s->readByte(buf, 100, 10), 0u);
        EXPECT_LE(sys::Clock::now() - start, 0.4 + 1e-9);
        EXPECT_TRUE(s->isCancel());
        EXPECT_TRUE(s->isExit());
        EXPECT_TRUE(s->isExitStream());
        // Every later read fails at once, even of blocks that arrive.
        s->deliver(0);
        EXPECT_EQ(s->readByte(buf, 100, 10), 0u);
    }
    // On a worker: closing the stream.
    {
        auto s = std::make_shared<ManualStream>();
        ASSERT_TRUE(s->openWith("http://h/close.zip", content, "v"));
        uint64_t n = 99;
        sys::Thread reader([&](const std::atomic<bool>&) {
            char buf[10];
            n = s->readByte(buf, BS + 5, 10);
        });
        ASSERT_TRUE(s->waitForReader(5.0));
        const double start = sys::Clock::now();
        s->closeURL();
        reader.join();
        EXPECT_EQ(n, 0u);
        EXPECT_LE(sys::Clock::now() - start, 0.1);
        EXPECT_FALSE(s->waitForReader(0.0)) << "a closed stream has no reader to serve";
    }
    // A loader that fails.
    {
        auto s = std::make_shared<ManualStream>();
        ASSERT_TRUE(s->openWith("http://h/fail.zip", content, "v"));
        uint64_t n = 99;
        sys::Thread reader([&](const std::atomic<bool>&) {
            char buf[10];
            n = s->readByte(buf, 5, 10);
        });
        ASSERT_TRUE(s->waitForReader(5.0));
        s->setIsError();
        reader.join();
        EXPECT_EQ(n, 0u);
        EXPECT_TRUE(s->isError());
    }
}

TEST_F(RemoteStreamReadTest, OfflineReadFollowsTheFilesAnotherStreamWrites) {
    const std::string content = pattern(8 * BS, 21);
    auto online = std::make_shared<ManualStream>();
    ASSERT_TRUE(online->openWith("http://h/off.zip", content, "v"));
    for (uint64_t b = 0; b < 5; ++b) online->deliver(b);

    auto offline = std::make_shared<ManualStream>();
    offline->setIsOfflineMode(true);
    ASSERT_TRUE(offline->openWith("http://h/off.zip", content, "v"));
    EXPECT_EQ(offline->read(5, 10), content.substr(5, 10));

    std::string got;
    sys::Thread reader([&](const std::atomic<bool>&) { got = offline->read(6 * BS + 1, 100); });
    // The offline read asks the process's loaders for block 6: it comes
    // before the rest of the file (block 5 would be next otherwise).
    for (int i = 0; i < 500 && online->findNextBlock() != 6; ++i) advance(0.01);
    EXPECT_EQ(online->findNextBlock(), 6);
    EXPECT_FALSE(online->waitForReader(0.0)) << "offline needs are not the online stream's reads";
    online->deliver(6);
    // The offline reader sees it on its next look at the map file.
    for (int i = 0; i < 100 && reader.running(); ++i) advance(0.1);
    reader.join();
    EXPECT_EQ(got, content.substr(6 * BS + 1, 100));
    EXPECT_EQ(online->findNextBlock(), 5) << "a met offline need no longer steers the loaders";
}
