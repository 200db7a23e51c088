#pragma once

#include "engine/UnrarArchive.h"
#include "platform/core/Thread.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace test {

// Holds the RAR library's lock from a thread of its own, as a long decode
// elsewhere does, from construction until release() (or ten seconds, should
// the step under test wait for it). heldOut() tells that it was not
// released in time: what ran meanwhile waited for the library.
class RarLibraryHold {
public:
    RarLibraryHold()
        : holder_([this](const std::atomic<bool>&) {
              std::lock_guard library(UnrarArchive::libraryMutex());
              std::unique_lock lock(m_);
              holding_ = true;
              cv_.notify_all();
              heldOut_ = !cv_.wait_for(lock, std::chrono::seconds(10), [&] { return released_; });
          }) {
        std::unique_lock lock(m_);
        cv_.wait(lock, [&] { return holding_; });
    }
    ~RarLibraryHold() { release(); }
    RarLibraryHold(const RarLibraryHold&) = delete;
    RarLibraryHold& operator=(const RarLibraryHold&) = delete;

    void release() {
        {
            std::lock_guard lock(m_);
            released_ = true;
            cv_.notify_all();
        }
        if (holder_.joinable()) holder_.join();
    }
    bool heldOut() const { return heldOut_; }

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool holding_ = false, released_ = false, heldOut_ = false;
    sys::Thread holder_;
};

}  // namespace test
