#include "platform/core/RunLoop.h"

#include "platform/core/Clock.h"
#include "platform/core/ClockWaiters.h"
#include "platform/core/Condition.h"

#include <chrono>
#include <cstdio>
#include <limits>

namespace sys {

namespace {
// How long, in real time, the loop waits for busy workers at each virtual step.
constexpr double kQuietBound = 5.0;
// On the real clock a worker may run for minutes (a download): the loop
// only gives quick results a moment to arrive, and the window stays live.
constexpr double kRealClockQuietBound = 0.1;
}  // namespace

RunLoop::RunLoop() : thread_(std::this_thread::get_id()) {}

RunLoop& RunLoop::main() {
    static RunLoop* loop = new RunLoop;  // lives as long as the process
    return *loop;
}

void RunLoop::bindToCurrentThread() { thread_.store(std::this_thread::get_id()); }

bool RunLoop::isCurrent() const { return thread_.load() == std::this_thread::get_id(); }

void RunLoop::post(Fn fn, Owner owner) {
    std::shared_ptr<const Fn> wake;
    {
        std::lock_guard<std::mutex> g(mutex_);
        posted_.emplace_back(std::move(fn), std::move(owner));
        hasPosts_.store(true);
        wake = wakeHandler_;
    }
    cv_.notify_all();
    Clock::pokeQuiet();
    if (wake && *wake) (*wake)();
}

void RunLoop::setWakeHandler(Fn handler) {
    std::lock_guard<std::mutex> g(mutex_);
    wakeHandler_ = handler ? std::make_shared<const Fn>(std::move(handler)) : nullptr;
}

void RunLoop::postAndWait(const Fn& fn) {
    if (isCurrent()) {
        fn();
        return;
    }
    auto done = std::make_shared<std::atomic<bool>>(false);
    auto m = std::make_shared<std::mutex>();
    auto c = std::make_shared<Condition>();
    post([fn, done, m, c] {
        fn();
        {
            std::lock_guard<std::mutex> g(*m);
            done->store(true);
        }
        c->notifyAll();
    });
    std::unique_lock<std::mutex> lk(*m);
    c->wait(lk, [&] { return done->load(); });
}

RunLoop::TimerRef RunLoop::schedule(double delay, Fn fn, double repeat, Owner owner) {
    auto t = std::make_shared<Timer>();
    t->fireTime_ = Clock::now() + (delay > 0 ? delay : 0);
    t->interval_ = repeat > 0 ? repeat : 0;
    t->fn_ = std::move(fn);
    t->owner_ = std::move(owner);
    {
        std::lock_guard<std::mutex> g(mutex_);
        t->seq_ = ++seq_;
        timers_.emplace(std::make_pair(t->fireTime_, t->seq_), t);
    }
    cv_.notify_all();
    return t;
}

bool RunLoop::runPosted() {
    std::deque<std::pair<Fn, Owner>> batch;
    {
        std::lock_guard<std::mutex> g(mutex_);
        batch.swap(posted_);
        hasPosts_.store(false);
    }
    for (auto& [fn, owner] : batch) {
        if (owner.gone()) continue;
        auto keep = owner.ref.lock();  // the owner stays alive while its call runs
        fn();
    }
    return !batch.empty();
}

bool RunLoop::fireDueTimers(double now, bool onlyOne) {
    bool fired = false;
    for (;;) {
        TimerRef t;
        {
            std::lock_guard<std::mutex> g(mutex_);
            while (!timers_.empty() && !timers_.begin()->second->isValid()) {
                timers_.erase(timers_.begin());
            }
            if (timers_.empty() || timers_.begin()->first.first > now) break;
            t = timers_.begin()->second;
            timers_.erase(timers_.begin());
        }
        if (t->owner_.gone()) {
            t->invalidate();
            continue;
        }
        if (t->interval_ > 0) {
            // Reschedule before running, so the callback can invalidate it.
            std::lock_guard<std::mutex> g(mutex_);
            t->fireTime_ += t->interval_;
            if (t->fireTime_ <= now && !Clock::isVirtual()) t->fireTime_ = now + t->interval_;
            t->seq_ = ++seq_;
            timers_.emplace(std::make_pair(t->fireTime_, t->seq_), t);
        } else {
            t->valid_.store(false);
        }
        auto keep = t->owner_.ref.lock();
        auto fn = t->fn_;
        fn();
        fired = true;
        if (onlyOne) break;
    }
    return fired;
}

double RunLoop::nextTimerTime() {
    std::lock_guard<std::mutex> g(mutex_);
    while (!timers_.empty() && !timers_.begin()->second->isValid()) timers_.erase(timers_.begin());
    return timers_.empty() ? std::numeric_limits<double>::infinity()
                           : timers_.begin()->first.first;
}

bool RunLoop::runOnce() {
    bool any = runPosted();
    any |= fireDueTimers(Clock::now(), false);
    any |= runPosted();
    return any;
}

void RunLoop::drain() {
    auto start = std::chrono::steady_clock::now();
    const bool virtualClock = Clock::isVirtual();
    const double bound = virtualClock ? kQuietBound : kRealClockQuietBound;
    for (;;) {
        bool ran = runPosted();
        if (interrupted_.load()) return;
        if (!hasPosts_.load() && Clock::busyWorkers() <= 0) {
            if (!runPosted()) return;
            continue;
        }
        if (ran) continue;
        double spent = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        double limit = bound;
        // Workers that only wait on the network are given until their peers
        // count as silent (Clock::NetworkWait), which comes within that time.
        if (virtualClock && spent >= bound && Clock::computingWorkers() <= 0)
            limit = bound + Clock::kNetworkStallSeconds;
        if (spent >= limit) {
            if (virtualClock) std::fprintf(stderr, "RunLoop: workers still busy after %.1f s of real time\n", spent);
            return;
        }
        Clock::waitForQuiet(limit - spent, hasPosts_, &interrupted_);
    }
}

void RunLoop::advance(double seconds) {
    if (!Clock::isVirtual()) {
        runFor(seconds);
        return;
    }
    if (interrupted_.load()) return;
    const double target = Clock::now() + (seconds > 0 ? seconds : 0);
    drain();
    fireDueTimers(Clock::now(), false);
    drain();
    for (;;) {
        if (interrupted_.load()) return;
        double next = std::min(nextTimerTime(), detail::nextWaiterDeadline());
        if (!(next <= target)) break;
        if (next > Clock::now()) Clock::setVirtualTime(next);
        drain();
        while (fireDueTimers(Clock::now(), true)) drain();
    }
    Clock::setVirtualTime(target);
    drain();
    while (fireDueTimers(Clock::now(), true)) drain();
}

void RunLoop::waitForWork(double untilProcessTime) {
    std::unique_lock<std::mutex> lk(mutex_);
    double until = untilProcessTime;
    if (!timers_.empty()) until = std::min(until, timers_.begin()->first.first);
    double wait = until - Clock::now();
    if (wait <= 0 || hasPosts_.load() || stop_.load() || interrupted_.load()) return;
    cv_.wait_for(lk, std::chrono::duration<double>(std::min(wait, 3600.0)),
                 [&] { return hasPosts_.load() || stop_.load() || interrupted_.load(); });
}

void RunLoop::runFor(double seconds) {
    if (Clock::isVirtual()) {
        advance(seconds);
        return;
    }
    const double end = Clock::now() + seconds;
    for (;;) {
        runOnce();
        if (stop_.load() || interrupted_.load() || Clock::now() >= end) break;
        waitForWork(end);
    }
}

bool RunLoop::runUntil(const std::function<bool()>& pred, double timeout) {
    const double end = Clock::now() + timeout;
    if (Clock::isVirtual()) {
        drain();
        while (!pred()) {
            if (interrupted_.load()) return pred();
            double next = std::min(nextTimerTime(), detail::nextWaiterDeadline());
            if (!(next <= end)) {
                Clock::setVirtualTime(end);
                drain();
                while (fireDueTimers(Clock::now(), true)) drain();
                return pred();
            }
            if (next > Clock::now()) Clock::setVirtualTime(next);
            drain();
            if (pred()) return true;
            while (fireDueTimers(Clock::now(), true)) {
                drain();
                if (pred()) return true;
            }
        }
        return true;
    }
    for (;;) {
        runOnce();
        if (pred()) return true;
        if (Clock::now() >= end || interrupted_.load()) return pred();
        waitForWork(std::min(end, Clock::now() + 0.01));
    }
}

void RunLoop::runForever() {
    stop_.store(false);
    while (!stop_.load()) {
        runOnce();
        if (stop_.load()) break;
        waitForWork(std::numeric_limits<double>::infinity());
    }
}

void RunLoop::stop() {
    stop_.store(true);
    cv_.notify_all();
}

void RunLoop::interrupt() {
    {
        std::lock_guard<std::mutex> g(mutex_);
        interrupted_.store(true);
    }
    cv_.notify_all();
    Clock::pokeQuiet();
}

void RunLoop::resumeAfterInterrupt() { interrupted_.store(false); }

void RunLoop::wakeUp() {
    {
        std::lock_guard<std::mutex> g(mutex_);
    }
    cv_.notify_all();
}

size_t RunLoop::pendingPosts() const {
    std::lock_guard<std::mutex> g(mutex_);
    return posted_.size();
}

size_t RunLoop::pendingTimers() const {
    std::lock_guard<std::mutex> g(mutex_);
    size_t n = 0;
    for (auto& [k, t] : timers_) n += t->isValid() ? 1 : 0;
    return n;
}

void RunLoop::clear() {
    std::lock_guard<std::mutex> g(mutex_);
    posted_.clear();
    for (auto& [k, t] : timers_) t->invalidate();
    timers_.clear();
    hasPosts_.store(false);
    stop_.store(false);
}

}  // namespace sys
