// A worker joined by two threads at once (its owner on one, a reader closing
// what it works on on another) is joined once: the first join does it, the
// other waits for it, and both return when the worker ends; joining again
// later returns at once. A worker replaced by its owner while another thread
// joins it is joined once too.
#include "platform/core/Thread.h"

#include "tests/support/Watchdog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>

namespace {

TEST(ThreadJoinTest, TwoThreadsJoiningOneWorkerAtOnceBothReturnWhenItEnds) {
    test::Watchdog watchdog(20, "two threads joining one worker");
    for (int round = 0; round < 20; ++round) {
        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
        std::atomic<int> bodies{0};
        sys::Thread worker(
            [released, &bodies](const std::atomic<bool>&) {
                released.wait();
                ++bodies;
            },
            "join-twice");
        std::atomic<pid_t> firstId{0}, secondId{0};
        std::atomic<int> returned{0};
        std::thread first([&] {
            firstId = test::currentThreadId();
            worker.join();
            ++returned;
        });
        std::thread second([&] {
            secondId = test::currentThreadId();
            worker.join();
            ++returned;
        });
        while (!firstId || !secondId) std::this_thread::yield();
        // Both are inside join, waiting on the worker, before it may end.
        ASSERT_TRUE(test::waitUntilSleeping(firstId, 10));
        ASSERT_TRUE(test::waitUntilSleeping(secondId, 10));
        EXPECT_EQ(returned, 0) << "a join returned before the worker ended";
        release.set_value();
        first.join();
        second.join();
        EXPECT_EQ(returned, 2);
        EXPECT_EQ(bodies, 1);
        EXPECT_FALSE(worker.joinable());
        EXPECT_FALSE(worker.running());
        worker.join();  // once more: nothing to wait for
    }
}

TEST(ThreadJoinTest, ReplacingAWorkerWhileAnotherThreadJoinsItJoinsItOnce) {
    test::Watchdog watchdog(20, "a worker replaced while joined elsewhere");
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    sys::Thread worker([released](const std::atomic<bool>&) { released.wait(); });
    std::atomic<pid_t> joinerId{0};
    std::thread joiner([&] {
        joinerId = test::currentThreadId();
        worker.join();
    });
    while (!joinerId) std::this_thread::yield();
    ASSERT_TRUE(test::waitUntilSleeping(joinerId, 10));
    std::atomic<bool> secondRan{false};
    std::thread replacer([&] { worker = sys::Thread([&](const std::atomic<bool>&) { secondRan = true; }); });
    release.set_value();
    replacer.join();
    joiner.join();
    worker.join();
    EXPECT_TRUE(secondRan);
}

}  // namespace
