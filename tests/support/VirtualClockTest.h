#pragma once

#include <gtest/gtest.h>

#include "platform/core/Clock.h"
#include "platform/core/RunLoop.h"

#include <poll.h>

#include <chrono>
#include <functional>

namespace test {

// Runs what the main loop has due, the virtual clock standing, until `done`
// or `seconds` of real time: for answers from real peers. True when done.
inline bool drainUntil(const std::function<bool()>& done, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        sys::RunLoop::main().drain();
        if (done()) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        ::poll(nullptr, 0, 10);
    }
}

// Fixture for tests that run the main loop on the virtual clock.
class VirtualClockTest : public ::testing::Test {
protected:
    void SetUp() override {
        sys::RunLoop::main().clear();
        sys::Clock::setVirtual(true);
    }
    void TearDown() override {
        sys::RunLoop::main().drain();
        sys::RunLoop::main().clear();
        sys::Clock::setVirtual(false);
    }
    sys::RunLoop& loop() { return sys::RunLoop::main(); }
    void advance(double seconds) { loop().advance(seconds); }
};

}  // namespace test
