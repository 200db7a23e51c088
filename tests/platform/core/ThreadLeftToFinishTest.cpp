// A worker its owner cannot wait for is left to the process: letting it go
// returns at once, it is asked to stop, and the process joins it later.
#include "platform/core/Thread.h"

#include <gtest/gtest.h>

#include <future>

namespace {

TEST(ThreadLeftToFinishTest, LettingGoReturnsAtOnceAndTheProcessJoinsLater) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> sawStop{false}, ended{false};
    sys::Thread blocked(
        [released, &sawStop, &ended](const std::atomic<bool>& stop) {
            released.wait();
            sawStop = stop.load();
            ended = true;
        },
        "left-test");
    sys::Thread::leaveToFinish(std::move(blocked));
    EXPECT_FALSE(blocked.joinable());
    EXPECT_FALSE(ended) << "nobody waited for it";

    // Another one, already finished, is joined as it is handed over.
    sys::Thread quick([](const std::atomic<bool>&) {});
    while (quick.running()) std::this_thread::yield();
    sys::Thread::leaveToFinish(std::move(quick));

    release.set_value();
    sys::Thread::joinLeftThreads();
    EXPECT_TRUE(ended);
    EXPECT_TRUE(sawStop) << "asked to stop when let go";
}

}  // namespace
