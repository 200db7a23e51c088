// Spans of the block cache: byte ranges a reader asks for in one request,
// delivered by the test through the transfer calls a protocol loader uses.
#include "engine/RemoteStreamRead.h"

#include "platform/core/FileManager.h"
#include "tests/support/VirtualClockTest.h"
#include "tests/engine/ManualStream.h"
#include "tests/engine/StreamTestBlocks.h"

#include <gtest/gtest.h>

namespace {

using test::pattern;

constexpr uint64_t BS = RemoteStreamRead::kBlockSize;

class SpanStream : public test::ManualStream {
public:
    // The bytes of [offset, offset + size) in uneven pieces; only the first
    // `cut` of them when the connection "drops".
    bool deliverSpan(int64_t offset, uint64_t size, uint64_t cut = UINT64_MAX) {
        if (!beginSpanTransfer(offset, size)) return false;
        const uint64_t len = std::min(size, cut);
        for (uint64_t done = 0; done < len;) {
            const uint64_t piece = std::min<uint64_t>(len - done, 9'000 + done % 5'555);
            if (!appendTransferBytes(content_.data() + offset + done, piece)) return false;
            done += piece;
        }
        endTransfer();
        return true;
    }
    std::pair<int64_t, uint64_t> wanted() {
        int64_t offset = -1;
        uint64_t size = 0;
        if (!nextWantedSpan(&offset, &size)) return {-1, 0};
        return {offset, size};
    }
    bool supportsSpans() const override { return spans; }

    bool spans = true;
};

class RemoteStreamReadSpanTest : public test::BlockCacheTest {};

TEST_F(RemoteStreamReadSpanTest, ASpanServesItsBytesAndCachesOnlyTheWholeBlocksInIt) {
    const std::string content = pattern(4 * BS + 1000, 61);
    auto s = std::make_shared<SpanStream>();
    ASSERT_TRUE(s->openWith("http://h/span.zip", content, "v1"));
    const int64_t from = int64_t(BS + 100);
    const uint64_t size = 2 * BS + 500;
    ASSERT_TRUE(s->requestSpan(from, size));
    EXPECT_EQ(s->wanted(), std::make_pair(from, size));
    EXPECT_EQ(s->findNextBlock(), 0) << "blocks are still chosen as before; the loader takes the span first";
    ASSERT_TRUE(s->deliverSpan(from, size));
    EXPECT_EQ(s->wanted().first, -1) << "nothing more is wanted";

    EXPECT_EQ(s->recvBlockMap(), (std::vector<uint16_t>{0, 0, 1, 0, 0})) << "block 2 alone lies wholly inside";
    auto file = sys::FileManager::contentsOfFile(RemoteStreamRead::getRemoteCacheFilePath("streaming_cache.file", false));
    ASSERT_TRUE(file);
    EXPECT_EQ(file->substr(0, BS), content.substr(2 * BS, BS)) << "the cache holds the block's own bytes";
    EXPECT_EQ(s->read(from, size), content.substr(size_t(from), size)) << "from memory and the cached block";
    EXPECT_EQ(s->read(from + 1000, 300), content.substr(size_t(from) + 1000, 300));

    // A read that runs past the span waits for the block behind it.
    s->deliver(3);
    EXPECT_EQ(s->read(3 * BS + 500, 2000), content.substr(3 * BS + 500, 2000));

    // The span's memory goes with the stream; the cached block stays.
    auto again = std::make_shared<SpanStream>();
    ASSERT_TRUE(again->openWith("http://h/span.zip", content, "v1"));
    EXPECT_TRUE(again->isBlockCached(2));
    EXPECT_FALSE(again->isBlockCached(1));
    EXPECT_EQ(again->read(2 * BS + 7, 1000), content.substr(2 * BS + 7, 1000));
}

TEST_F(RemoteStreamReadSpanTest, ASpanCutShortIsWantedAgainAndServesNothingMeanwhile) {
    const std::string content = pattern(3 * BS, 62);
    auto s = std::make_shared<SpanStream>();
    ASSERT_TRUE(s->openWith("http://h/cut.zip", content, "v1"));
    ASSERT_TRUE(s->requestSpan(100, 2 * BS));
    // The drop comes after block 1 was whole: that block is sound and kept.
    ASSERT_TRUE(s->deliverSpan(100, 2 * BS, 2 * BS - 50));
    EXPECT_EQ(s->wanted(), std::make_pair(int64_t(100), 2 * BS));
    EXPECT_TRUE(s->isBlockCached(1));
    EXPECT_EQ(s->read(200, 100), "") << "half a span is not served";
}

TEST_F(RemoteStreamReadSpanTest, ASpanCompletedAfterADropServesItsBytes) {
    const std::string content = pattern(3 * BS, 63);
    auto s = std::make_shared<SpanStream>();
    ASSERT_TRUE(s->openWith("http://h/again.zip", content, "v1"));
    ASSERT_TRUE(s->requestSpan(100, 2 * BS));
    ASSERT_TRUE(s->deliverSpan(100, 2 * BS, 5000));
    ASSERT_TRUE(s->deliverSpan(100, 2 * BS));
    EXPECT_EQ(s->wanted().first, -1);
    EXPECT_EQ(s->read(100, 2 * BS), content.substr(100, 2 * BS));
}

TEST_F(RemoteStreamReadSpanTest, RequestsAreTrimmedToWhatIsMissingAndBounded) {
    const std::string content = pattern(6 * BS, 64);
    auto s = std::make_shared<SpanStream>();
    ASSERT_TRUE(s->openWith("http://h/trim.zip", content, "v1"));
    s->deliver(0);
    s->deliver(4);
    s->deliver(5);
    EXPECT_FALSE(s->requestSpan(10, 1000)) << "wholly cached";
    EXPECT_FALSE(s->requestSpan(int64_t(content.size()), 10)) << "past the end";
    EXPECT_FALSE(s->requestSpan(0, RemoteStreamRead::kMaxSpanBytes + 1)) << "too large for memory";
    // Cached blocks at either end are cut off.
    ASSERT_TRUE(s->requestSpan(100, 4 * BS - 50));
    EXPECT_EQ(s->wanted(), std::make_pair(int64_t(BS), 3 * BS));
    EXPECT_FALSE(s->requestSpan(int64_t(2 * BS), 100)) << "already on its way";
    // The memory of all spans together is capped.
    auto big = std::make_shared<SpanStream>();
    RemoteStreamRead::removeCache(false);
    ASSERT_TRUE(big->openWith("http://h/big.zip", pattern(40 * BS, 65), "v1"));
    int accepted = 0;
    for (int i = 0; i < 10; ++i) accepted += big->requestSpan(int64_t(i) * 4 * BS, 4 * BS) ? 1 : 0;
    EXPECT_EQ(uint64_t(accepted) * 4 * BS, RemoteStreamRead::kMaxSpanMemory);

    s->spans = false;
    EXPECT_FALSE(s->requestSpan(int64_t(BS) + 5, 10)) << "a loader without spans fetches blocks";
}

TEST_F(RemoteStreamReadSpanTest, ANewVersionOfTheFileForgetsTheSpans) {
    const std::string v1 = pattern(2 * BS, 66), v2 = pattern(2 * BS, 67);
    auto s = std::make_shared<SpanStream>();
    ASSERT_TRUE(s->openWith("http://h/ver.zip", v1, "v1"));
    ASSERT_TRUE(s->requestSpan(1000, 5000));
    ASSERT_TRUE(s->deliverSpan(1000, 5000));
    ASSERT_EQ(s->read(1000, 100), v1.substr(1000, 100));
    ASSERT_TRUE(s->openWith("http://h/ver.zip", v2, "v2"));
    EXPECT_EQ(s->wanted().first, -1);
    EXPECT_EQ(s->read(1000, 100), "") << "no byte of the old version";
}

}  // namespace
