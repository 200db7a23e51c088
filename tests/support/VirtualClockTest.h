#pragma once

#include <gtest/gtest.h>

#include "platform/core/Clock.h"
#include "platform/core/RunLoop.h"

namespace test {

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
