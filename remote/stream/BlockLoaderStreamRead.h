#pragma once

#include "engine/RemoteStreamRead.h"
#include "platform/core/Thread.h"

#include <atomic>
#include <string>

// The part every remote reader shares: a loader thread that first probes the
// file (openURL waits for that answer, keeping the main loop turning when it
// runs on the main thread), then fetches the blocks the cache asks for until
// the file is complete, the stream is closed or a block fails for good.
// A block worth another go is retried without end, after a pause from the
// second failure in a row on; the pause ends at once when the stream closes.
//
// Subclasses say how to probe and fetch one block; they stop the loader in
// their own destructor, while their part still exists.
//
// A cancel (from any thread) only tells the loader to end and breaks off its
// transfer; joining it is the owner's, in one place: closing the stream (or
// opening another URL with it, or its going away).
class BlockLoaderStreamRead : public RemoteStreamRead {
public:
    ~BlockLoaderStreamRead() override;

    void closeURL() override;
    void cancelStreaming() override;

    // Block requests so far: a probe counts when it brought the first block,
    // span requests do not. Where one request reads on over several blocks
    // (FTP), each request counts once.
    int blockRequests() const { return blockRequests_; }
    bool loaderRunning() const { return loader_.running(); }
    // Waits until the loader ends (the file is complete or the stream failed).
    void joinLoader() { loader_.join(); }

    // The pause before the n-th retry in a row (n >= 2): 3 s, from the tenth
    // 5 s, from the thirtieth 10 s; the first retry goes at once.
    static double retryPause(unsigned failuresInARow);

protected:
    enum class Outcome { Done, Retry, Fatal };

    // Starts the loader and waits for its probe; true when the file can be read.
    bool startLoader(const char* threadName);
    // Tells the loader to end and joins it (unless called from the loader).
    void stopLoader();
    bool stopping() const { return abort_.load() || isExitStream(); }

    // Loader thread: learns the file's length; false fails the open.
    virtual bool probe() = 0;
    // Loader thread: fetches one block into the cache.
    virtual Outcome fetchBlock(uint64_t block) = 0;
    // Loader thread: fetches one span (requestSpan) in one request, when
    // canFetchSpans() says the protocol can.
    virtual bool canFetchSpans() const { return false; }
    virtual Outcome fetchSpan(int64_t offset, uint64_t size) {
        (void)offset, (void)size;
        return Outcome::Fatal;
    }
    bool supportsSpans() const override { return canFetchSpans() && loader_.running(); }
    // Loader thread, from within probe(): the file can be read, so openURL
    // may return while the probe's answer is still arriving.
    void probeAnswered();
    // Loader thread, after the pause before a retry; false ends the loader.
    virtual bool prepareRetry() { return true; }
    // Loader thread, once every block is in: false when the file is no
    // longer the one the blocks came from (a server may pad a file that
    // shrank with zeros), so the cache is not kept as complete.
    virtual bool stillTheSameFile() { return true; }
    // Loader thread, when the file is complete or the stream was stopped.
    virtual void loaderDone() {}
    // Called while stopping, to break off a transfer under way.
    virtual void cancelTransfer() {}

    std::atomic<bool> abort_{false};
    std::atomic<int> blockRequests_{0};

private:
    void run(const std::atomic<bool>& stop);
    // Tells the loader to end and wakes it, without waiting for it.
    void signalStop();

    // The probe's outcome, for startLoader waiting on it.
    std::atomic<int> probeState_{0};  // 0 running, 1 ok, 2 failed
    sys::Thread loader_;
};
