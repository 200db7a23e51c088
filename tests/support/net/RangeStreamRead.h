#pragma once

#include <atomic>
#include <string>

#include "engine/RemoteStreamRead.h"
#include "platform/core/Thread.h"

namespace test {

// A test-only protocol stream over plain HTTP on loopback: it fills the
// block cache with one range request per block, the way the real protocol
// streams do, so that the cache, the blocking read and the readers above
// them can be tested against nginx and the fault server.
//
// Opening sends "Range: bytes=0-0" to learn the length and the validator
// (ETag, else Last-Modified); a 200 answer means the server cannot serve
// ranges (isUnsupportedServer). The loader then fetches either every block
// in findNextBlock() order (Everything) or only the blocks a waiting read
// needs (OnDemand, for counting what a read costs). A dropped connection is
// retried; after three failed attempts in a row, a 416, a changed ETag or a
// wrong Content-Range the stream fails.
class RangeStreamRead : public RemoteStreamRead {
public:
    enum class Fetch { Everything, OnDemand };
    static constexpr int kAttempts = 3;

    explicit RangeStreamRead(Fetch fetch = Fetch::Everything);
    ~RangeStreamRead() override;

    bool openURL(const std::string& url) override;
    // Both stop the loader and wait for it.
    void closeURL() override;
    void cancelStreaming() override;

    // Block requests made so far (the opening request not counted).
    int blockRequests() const { return blockRequests_; }
    bool loaderRunning() const { return loader_.running(); }
    // Waits for the loader to end (Everything mode ends once the file is
    // complete or the stream failed).
    void joinLoader() { loader_.join(); }

    // Makes newStreamWithProtocol() give this class for plain and secure HTTP.
    static void registerForHttp(Fetch fetch);

private:
    enum class Outcome { Done, Retry, Fatal };
    void run(const std::atomic<bool>& stop);
    Outcome fetchBlock(uint64_t block, const std::atomic<bool>& stop);
    int64_t neededBlock() const;
    void stopLoader();

    Fetch fetch_;
    bool validatorIsETag_ = false;
    std::atomic<int> blockRequests_{0};
    sys::Thread loader_;
};

}  // namespace test
