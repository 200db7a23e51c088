#include "remote/stream/BlockLoaderStreamRead.h"

#include "platform/core/Clock.h"
#include "platform/core/RunLoop.h"

#include <chrono>
#include <thread>

BlockLoaderStreamRead::~BlockLoaderStreamRead() = default;

double BlockLoaderStreamRead::retryPause(unsigned n) {
    if (n < 2) return 0;
    return n < 10 ? 3.0 : n < 30 ? 5.0 : 10.0;
}

void BlockLoaderStreamRead::signalStop() {
    abort_ = true;
    loader_.requestStop();
    cancelTransfer();
    wakeLoader();
}

void BlockLoaderStreamRead::stopLoader() {
    signalStop();
    if (!loader_.isCurrent()) loader_.join();
}

void BlockLoaderStreamRead::closeURL() {
    RemoteStreamRead::closeURL();
    stopLoader();
}

void BlockLoaderStreamRead::cancelStreaming() {
    RemoteStreamRead::cancelStreaming();
    // Any thread may cancel, the main thread included: the loader is told and
    // left to end; the stream's owner joins it when it closes the stream.
    signalStop();
}

bool BlockLoaderStreamRead::startLoader(const char* threadName) {
    probeState_ = 0;
    // The loader works for whoever opened the stream: a bound on how long
    // that work may hold up the clock (a cover's) binds its transfers too.
    const double holdUntil = sys::Clock::NetworkHoldLimit::current();
    loader_ = sys::Thread(
        [this, holdUntil](const std::atomic<bool>& stop) {
            sys::Clock::NetworkHoldLimit::adopt(holdUntil);
            run(stop);
        },
        threadName);
    const bool onMain = sys::RunLoop::isMainThread();
    while (probeState_.load() == 0) {
        if (onMain) sys::RunLoop::main().runOnce();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return probeState_.load() == 1;
}

void BlockLoaderStreamRead::probeAnswered() {
    probeState_ = 1;
    sys::RunLoop::main().wakeUp();
}

void BlockLoaderStreamRead::run(const std::atomic<bool>& stop) {
    const bool ok = probe();
    if (!ok && probeState_.load() == 1) {
        // Said to be readable, then not after all: the reads must not wait.
        setIsError();
    }
    probeState_ = ok ? 1 : 2;
    sys::RunLoop::main().wakeUp();
    if (!ok) return;
    unsigned failures = 0;
    while (!stop && !stopping()) {
        // A span asked for by a reader goes before any block.
        int64_t spanOffset = 0;
        uint64_t spanSize = 0;
        Outcome outcome;
        if (canFetchSpans() && nextWantedSpan(&spanOffset, &spanSize)) {
            outcome = fetchSpan(spanOffset, spanSize);
        } else {
            const int64_t block = findNextBlock();
            if (block < 0) {
                if (!stillTheSameFile()) {
                    if (!stop && !stopping()) setIsError();
                    loaderDone();
                    return;
                }
                markCacheComplete();
                break;
            }
            outcome = fetchBlock(uint64_t(block));
        }
        switch (outcome) {
        case Outcome::Done:
            failures = 0;
            break;
        case Outcome::Retry: {
            ++failures;
            // Pauses in short steps, so that a close ends them at once.
            const double pause = retryPause(failures);
            for (double waited = 0; waited < pause && !stop && !stopping(); waited += 0.5) {
                sys::Clock::sleepFor(0.5, &abort_);
            }
            if (!stop && !stopping() && !prepareRetry()) return;
            break;
        }
        case Outcome::Fatal:
            if (!stop && !stopping()) setIsError();
            return;
        }
    }
    loaderDone();
}
