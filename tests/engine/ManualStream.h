#pragma once

// The block cache with the test as its server: a stream that takes its
// bytes from a string, delivered through the same transfer calls a
// protocol loader uses.

#include "engine/RemoteStreamRead.h"
#include "platform/core/RunLoop.h"
#include "tests/support/VirtualClockTest.h"

#include <algorithm>
#include <cstdint>
#include <string>

namespace test {

// A stream whose "server" is the test: it delivers blocks through the same
// transfer calls a protocol loader uses.
class ManualStream : public RemoteStreamRead {
public:
    bool openWith(const std::string& url, const std::string& content, const std::string& validator) {
        content_ = content;
        setTargetURL(url);
        setContentLength(int64_t(content.size()));
        setValidator(validator);
        return prepareCacheFiles();
    }
    bool openWithLength(const std::string& url, int64_t length, const std::string& validator = "v1") {
        setTargetURL(url);
        setContentLength(length);
        setValidator(validator);
        return prepareCacheFiles();
    }
    bool deliver(uint64_t block) {
        const uint64_t start = block * RemoteStreamRead::kBlockSize;
        const uint64_t len = std::min<uint64_t>(RemoteStreamRead::kBlockSize, content_.size() - start);
        beginTransfer(block);
        // In uneven pieces, as a network delivers them.
        uint64_t done = 0;
        while (done < len) {
            uint64_t piece = std::min<uint64_t>(len - done, 10'000 + done % 7'777);
            if (!appendTransferBytes(content_.data() + start + done, piece)) return false;
            done += piece;
        }
        endTransfer();
        return true;
    }
    void deliverAll() {
        for (uint64_t b = 0; b < blockLength(); ++b) deliver(b);
    }
    // A read that waits for a block nobody delivers would wait for ever: on
    // the main thread a guard cancels it after 5 s of (virtual) waiting.
    std::string read(int64_t offset, uint64_t size) {
        auto guard = sys::RunLoop::main().schedule(5.0, [this] { cancelStreaming(); });
        std::string out(size, '\0');
        uint64_t n = readByte(out.data(), offset, size);
        guard->invalidate();
        out.resize(n);
        return out;
    }
    using RemoteStreamRead::appendTransferBytes;
    using RemoteStreamRead::beginTransfer;
    using RemoteStreamRead::endTransfer;
    using RemoteStreamRead::markCacheComplete;
    using RemoteStreamRead::setIsError;
    using RemoteStreamRead::waitForReader;

    std::string content_;
};

// Tests of the block cache on the virtual clock: each starts and ends with
// both caches (books and thumbnails) empty.
class BlockCacheTest : public VirtualClockTest {
protected:
    void SetUp() override {
        VirtualClockTest::SetUp();
        RemoteStreamRead::removeCache(false);
        RemoteStreamRead::removeCache(true);
    }
    void TearDown() override {
        RemoteStreamRead::removeCache(false);
        RemoteStreamRead::removeCache(true);
        VirtualClockTest::TearDown();
    }
};

}  // namespace test
