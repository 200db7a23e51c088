#include "platform/core/Clock.h"
#include "platform/core/Condition.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/OperationQueue.h"
#include "platform/core/RunLoop.h"
#include "platform/core/Thread.h"
#include "tests/support/VirtualClockTest.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <string>
#include <vector>

namespace {

using RunLoopTest = test::VirtualClockTest;

TEST_F(RunLoopTest, TimersFireInTimeOrderIncludingTimersSetByTimers) {
    std::vector<std::string> log;
    loop().schedule(0.3, [&] { log.push_back("c@0.3"); });
    loop().schedule(0.1, [&] {
        log.push_back("a@0.1");
        loop().schedule(0.1, [&] { log.push_back("b@0.2"); });
    });
    loop().schedule(0.1, [&] { log.push_back("a2@0.1"); });  // same time: scheduling order
    advance(0.15);
    EXPECT_EQ(log, (std::vector<std::string>{"a@0.1", "a2@0.1"}));
    advance(1.0);
    EXPECT_EQ(log, (std::vector<std::string>{"a@0.1", "a2@0.1", "b@0.2", "c@0.3"}));
}

TEST_F(RunLoopTest, ClockReadsTheTimerTimeInsideCallbacks) {
    double start = sys::Clock::now();
    std::vector<double> seen;
    auto t = loop().schedule(0.5, [&] { seen.push_back(sys::Clock::now() - start); }, 0.5);
    advance(1.6);
    t->invalidate();
    advance(2.0);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_NEAR(seen[0], 0.5, 1e-9);
    EXPECT_NEAR(seen[2], 1.5, 1e-9);
    EXPECT_NEAR(sys::Clock::now() - start, 3.6, 1e-9);
}

TEST_F(RunLoopTest, RepeatingTimerCanInvalidateItself) {
    int count = 0;
    sys::RunLoop::TimerRef t;
    t = loop().schedule(0.1, [&] { if (++count == 3) t->invalidate(); }, 0.1);
    advance(5);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(loop().pendingTimers(), 0u);
}

TEST_F(RunLoopTest, CallsForAnOwnerThatIsGoneAreDropped) {
    int fired = 0;
    auto owner = std::make_shared<int>(1);
    loop().schedule(0.1, [&] { ++fired; }, 0, owner);
    loop().post([&] { ++fired; }, owner);
    owner.reset();
    advance(1);
    EXPECT_EQ(fired, 0);
}

TEST_F(RunLoopTest, AdvanceLetsWorkerResultsLand) {
    std::atomic<int> result{0};
    int seenOnMain = 0;
    sys::Thread worker([&](const std::atomic<bool>&) {
        int sum = 0;
        for (int i = 1; i <= 1000; ++i) sum += i;
        result = sum;
        sys::RunLoop::main().post([&, sum] { seenOnMain = sum; });
    });
    advance(0);
    EXPECT_EQ(seenOnMain, 500500);
}

TEST_F(RunLoopTest, WorkerSleepsOnVirtualTime) {
    std::atomic<int> ticks{0};
    std::atomic<bool> cancel{false};
    sys::Thread worker([&](const std::atomic<bool>&) {
        while (sys::Clock::sleepFor(0.1, &cancel)) {
            if (++ticks == 100) break;
        }
    });
    advance(0.55);
    EXPECT_EQ(ticks.load(), 5);
    advance(0.1);
    EXPECT_EQ(ticks.load(), 6);
    cancel = true;
    worker.join();
}

TEST_F(RunLoopTest, PostAndWaitFromWorkerRunsOnMain) {
    bool ranOnMain = false;
    sys::Thread worker([&](const std::atomic<bool>&) {
        sys::RunLoop::main().postAndWait([&] { ranOnMain = sys::RunLoop::isMainThread(); });
    });
    advance(0);
    worker.join();
    EXPECT_TRUE(ranOnMain);
}

TEST_F(RunLoopTest, RunUntilStopsAtThePredicate) {
    bool flag = false;
    loop().schedule(2.0, [&] { flag = true; });
    double start = sys::Clock::now();
    EXPECT_TRUE(loop().runUntil([&] { return flag; }, 10));
    EXPECT_NEAR(sys::Clock::now() - start, 2.0, 1e-9);
    EXPECT_FALSE(loop().runUntil([] { return false; }, 1));
}

TEST_F(RunLoopTest, ConditionWaitWakesOnCancelAndOnTimeout) {
    std::mutex m;
    sys::Condition c;
    std::atomic<bool> cancel{false};
    std::atomic<int> outcome{-1};
    sys::Thread worker([&](const std::atomic<bool>&) {
        std::unique_lock<std::mutex> lk(m);
        outcome = c.waitFor(lk, 100.0, [&] { return cancel.load(); }) ? 1 : 0;
    });
    advance(1.0);
    EXPECT_EQ(outcome.load(), -1);
    {
        std::lock_guard<std::mutex> g(m);
        cancel = true;
    }
    c.notifyAll();
    worker.join();
    EXPECT_EQ(outcome.load(), 1);

    std::atomic<int> timedOut{-1};
    sys::Thread worker2([&](const std::atomic<bool>&) {
        std::unique_lock<std::mutex> lk(m);
        timedOut = c.waitFor(lk, 3.0, [] { return false; }) ? 0 : 1;
    });
    advance(2.9);
    EXPECT_EQ(timedOut.load(), -1);
    advance(0.2);
    worker2.join();
    EXPECT_EQ(timedOut.load(), 1);
}

TEST_F(RunLoopTest, OperationQueueRunsInOrderAndSkipsCancelled) {
    sys::OperationQueue q("test");
    std::mutex m;
    std::vector<int> order;
    q.setSuspended(true);
    for (int i = 0; i < 5; ++i) {
        q.addOperation([&, i](const sys::Operation&) {
            std::lock_guard<std::mutex> g(m);
            order.push_back(i);
        });
    }
    auto skipped = q.addOperation([&](const sys::Operation&) { order.push_back(99); });
    skipped->cancel();
    q.setSuspended(false);
    q.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_TRUE(skipped->isFinished());
}

TEST_F(RunLoopTest, WaitingForAQueueOnMainKeepsMainRunning) {
    sys::OperationQueue q;
    bool posted = false;
    q.addOperation([&](const sys::Operation&) {
        sys::RunLoop::main().postAndWait([&] { posted = true; });
    });
    q.waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(posted);
}

TEST_F(RunLoopTest, CancelAllReachesTheRunningOperation) {
    sys::OperationQueue q;
    std::atomic<bool> sawCancel{false};
    std::atomic<bool> started{false};
    q.addOperation([&](const sys::Operation& op) {
        started = true;
        while (!op.isCancelled()) sys::Clock::sleepFor(0.01);
        sawCancel = true;
    });
    loop().runUntil([&] { return started.load(); }, 1);
    q.cancelAllOperations();
    q.waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(sawCancel.load());
}

TEST(NotificationCenterTest, DeliversByNameAndSenderAndDropsGoneOwners) {
    auto& nc = sys::NotificationCenter::defaultCenter();
    int a = 0, b = 0, c = 0;
    int sender1 = 0, sender2 = 0;
    auto t1 = nc.addObserver("n", [&](const sys::Notification&) { ++a; });
    auto t2 = nc.addObserver("n", [&](const sys::Notification&) { ++b; }, &sender1);
    auto owner = std::make_shared<int>(0);
    nc.addObserver("n", [&](const sys::Notification&) { ++c; }, nullptr, owner);
    nc.post("n", &sender2);
    nc.post("n", &sender1, {{"k", std::any(5)}});
    owner.reset();
    nc.post("other");
    nc.post("n");
    EXPECT_EQ(a, 3);
    EXPECT_EQ(b, 1);
    EXPECT_EQ(c, 2);
    nc.removeObserver(t1);
    nc.removeObserver(t2);
    EXPECT_EQ(nc.observerCount("n"), 0u);
}

TEST(NotificationCenterTest, HandlerMayRemoveAnotherObserver) {
    auto& nc = sys::NotificationCenter::defaultCenter();
    int second = 0;
    sys::NotificationCenter::Token t2 = 0;
    auto t1 = nc.addObserver("rm", [&](const sys::Notification&) { nc.removeObserver(t2); });
    t2 = nc.addObserver("rm", [&](const sys::Notification&) { ++second; });
    nc.post("rm");
    EXPECT_EQ(second, 0);
    nc.removeObserver(t1);
}

}  // namespace

namespace {

// A worker that joins another worker must still count as busy the moment the
// joined one ends, or advancing time could return before the joiner posts.
TEST_F(RunLoopTest, JoiningWorkerStaysCountedUntilItPosts) {
    for (int round = 0; round < 50; ++round) {
        int posted = 0;
        sys::Thread outer([&](const std::atomic<bool>&) {
            sys::Thread inner([](const std::atomic<bool>&) { sys::Clock::sleepFor(0.5); });
            inner.join();
            volatile long spin = 0;
            for (long i = 0; i < 200000; ++i) spin = spin + i;
            sys::RunLoop::main().post([&] { ++posted; });
        });
        advance(1.0);
        EXPECT_EQ(posted, 1) << "round " << round;
        outer.join();
    }
}

// The program is ending (a signal came, told from another thread): a step
// waiting for a worker that keeps busy ends at once instead of at the end of
// its bound, and so does every wait of the loop after it, time standing,
// until the interrupt is taken back. Posted work still runs.
TEST_F(RunLoopTest, AnInterruptEndsTheLoopsWaitsAtOnceUntilTakenBack) {
    std::atomic<bool> release{false};
    sys::Thread busy([&](const std::atomic<bool>&) {
        while (!release.load()) std::this_thread::yield();
    });
    std::thread signal([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        sys::RunLoop::main().interrupt();
    });
    const double start = sys::Clock::now();
    const auto t0 = std::chrono::steady_clock::now();
    advance(1.0);
    signal.join();
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 2.0);
    EXPECT_TRUE(loop().interrupted());
    bool fired = false, posted = false;
    loop().schedule(0.5, [&] { fired = true; });
    EXPECT_FALSE(loop().runUntil([&] { return fired; }, 10));
    advance(3.0);
    loop().runFor(3.0);
    EXPECT_FALSE(fired);
    EXPECT_EQ(sys::Clock::now(), start);
    loop().post([&] { posted = true; });
    loop().runOnce();
    EXPECT_TRUE(posted);

    loop().resumeAfterInterrupt();
    release = true;
    busy.join();
    advance(1.0);
    EXPECT_TRUE(fired);
    EXPECT_EQ(sys::Clock::now(), start + 1.0);
}

// A network wait holds the clock while its peer talks, and renewing it
// (new work handed over, as the HTTP thread's wait is renewed for a cloud
// transfer's next request) makes it hold again; but past its thread's hold
// limit no renewal makes it hold: the limit bounds the whole work.
TEST_F(RunLoopTest, ARenewedNetworkWaitHoldsTheClockOnlyWithinItsHoldLimit) {
    std::atomic<int> alone{-1}, silent{-1}, renewed{-1}, pastLimit{-1}, renewedPastLimit{-1};
    sys::Thread worker([&](const std::atomic<bool>&) {
        alone = sys::Clock::busyWorkers();
        {
            sys::Clock::NetworkHoldLimit limit(600);
            sys::Clock::NetworkWait wait(sys::Clock::realNow() - 2 * sys::Clock::kNetworkStallSeconds);
            silent = sys::Clock::busyWorkers();
            wait.renew();
            renewed = sys::Clock::busyWorkers();
        }
        {
            sys::Clock::NetworkHoldLimit limit(0);
            sys::Clock::NetworkWait wait;
            pastLimit = sys::Clock::busyWorkers();
            wait.renew();
            renewedPastLimit = sys::Clock::busyWorkers();
        }
    });
    worker.join();
    ASSERT_GE(alone.load(), 1) << "the worker itself is busy";
    EXPECT_EQ(silent.load(), alone - 1) << "a peer silent for long holds nothing";
    EXPECT_EQ(renewed.load(), alone.load());
    EXPECT_EQ(pastLimit.load(), alone - 1);
    EXPECT_EQ(renewedPastLimit.load(), alone - 1) << "renewed past the hold limit, the wait still holds nothing";
}

}  // namespace

// Work posted from another thread calls the wake handler (an outside wait,
// such as the desktop window's for its events, ends for it); none once the
// handler is taken away.
TEST(RunLoopWakeTest, PostsFromOtherThreadsCallTheWakeHandler) {
    auto& loop = sys::RunLoop::main();
    loop.bindToCurrentThread();
    std::atomic<int> wakes{0};
    loop.setWakeHandler([&] { ++wakes; });
    std::thread([&] { loop.post([] {}); }).join();
    EXPECT_EQ(wakes.load(), 1);
    loop.setWakeHandler({});
    std::thread([&] { loop.post([] {}); }).join();
    EXPECT_EQ(wakes.load(), 1);
    loop.drain();
}
