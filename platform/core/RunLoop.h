#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace sys {

// The main thread's loop: work posted from any thread, one-shot and repeating
// timers, all run on the thread the loop is bound to. On the virtual clock the
// loop only moves when told to (advance, runFor, runUntil), which is how tests
// drive screens without sleeping.
class RunLoop;

// Calls aimed at an object that is gone are dropped: a timer or a posted
// call can carry a weak reference to its owner.
struct LoopOwner {
    LoopOwner() = default;
    template <class T>
    LoopOwner(const std::shared_ptr<T>& p)
        : ref(std::static_pointer_cast<const void>(std::const_pointer_cast<const T>(p))),
          present(true) {}
    template <class T>
    LoopOwner(const std::weak_ptr<T>& p) : LoopOwner(p.lock()) {}
    bool gone() const { return present && ref.expired(); }
    std::weak_ptr<const void> ref;
    bool present = false;
};

class LoopTimer {
public:
    void invalidate() { valid_.store(false); }
    bool isValid() const { return valid_.load(); }
    double fireTime() const { return fireTime_; }
    double interval() const { return interval_; }

private:
    friend class RunLoop;
    std::atomic<bool> valid_{true};
    double fireTime_ = 0;
    double interval_ = 0;
    std::function<void()> fn_;
    LoopOwner owner_;
    uint64_t seq_ = 0;
};

class RunLoop {
public:
    using Fn = std::function<void()>;

    using Owner = LoopOwner;
    using Timer = LoopTimer;
    using TimerRef = std::shared_ptr<Timer>;

    static RunLoop& main();
    static bool isMainThread() { return main().isCurrent(); }

    // Makes the calling thread the one this loop runs on.
    void bindToCurrentThread();
    bool isCurrent() const;

    void post(Fn fn, Owner owner = {});
    // Runs fn on the loop's thread and returns when it has run; runs it at
    // once when called on that thread.
    void postAndWait(const Fn& fn);

    // Fires fn after `delay` seconds of process time, then every `repeat`
    // seconds when repeat > 0, until invalidated.
    TimerRef schedule(double delay, Fn fn, double repeat = 0, Owner owner = {});
    void cancel(const TimerRef& timer) {
        if (timer) timer->invalidate();
    }

    // Runs the posted work and the timers that are due; returns whether
    // anything ran. Does not wait.
    bool runOnce();
    // Runs the loop for `seconds` of process time (virtual time moves at once).
    void runFor(double seconds);
    // Runs until pred() is true or `timeout` seconds pass; returns pred().
    bool runUntil(const std::function<bool()>& pred, double timeout);
    // Virtual clock: moves time forward by `seconds`, firing timers in time
    // order and letting busy workers post their results at each step.
    void advance(double seconds);
    // Runs posted work until no worker is busy and nothing is queued
    // (bounded in real time: seconds on the virtual clock, a moment on the
    // real one, where a worker may be a long download).
    void drain();

    // Real clock: stops a runForever from another thread or from a callback.
    void runForever();
    void stop();

    // From any thread (a signal's watcher): the program is ending. From now
    // on the loop's waits (advance, runFor, runUntil, drain) end at once
    // without moving time, so that the main thread, in the middle of a step
    // of a headless run, reaches the termination path; posted work still
    // runs with runOnce. resumeAfterInterrupt() takes it back (tests).
    void interrupt();
    bool interrupted() const { return interrupted_.load(); }
    void resumeAfterInterrupt();

    size_t pendingPosts() const;
    size_t pendingTimers() const;
    // Forgets every posted call and timer (between tests).
    void clear();

    // Wakes a loop that waits for work (for an event source outside the loop).
    void wakeUp();
    // Called after every post, on the posting thread, so that a wait for
    // outside events (the desktop window's) ends for the posted work at once.
    // Empty to stop.
    void setWakeHandler(Fn handler);

private:
    RunLoop();
    bool runPosted();
    bool fireDueTimers(double now, bool onlyOne);
    double nextTimerTime();
    void waitForWork(double untilProcessTime);

    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::pair<Fn, Owner>> posted_;
    std::shared_ptr<const Fn> wakeHandler_;
    std::map<std::pair<double, uint64_t>, TimerRef> timers_;
    uint64_t seq_ = 0;
    std::atomic<bool> hasPosts_{false};
    std::atomic<bool> stop_{false};
    std::atomic<bool> interrupted_{false};
    std::atomic<std::thread::id> thread_;
};

}  // namespace sys
