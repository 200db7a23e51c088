#include "platform/core/Clock.h"

#include "platform/core/ClockWaiters.h"
#include "platform/core/Condition.h"
#include "platform/core/RunLoop.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <set>

namespace sys {

namespace {

struct ClockState {
    std::mutex m;
    std::condition_variable quietCv;
    std::atomic<bool> virt{false};
    std::atomic<double> vnow{1000.0};
    int busy = 0;
    std::vector<detail::Waiter*> waiters;
    // The realNow() times the peers of tracked workers' network waits were
    // last heard from, one entry per wait.
    std::multiset<double> networkWaits;
};

ClockState& state() {
    static ClockState* s = new ClockState;  // never destroyed: threads may outlive statics
    return *s;
}

thread_local bool tlTracked = false;
// Whether the thread is inside a NetworkWait (an inner one does not count again).
thread_local bool tlInNetworkWait = false;
// The thread's NetworkHoldLimit, a realNow() time.
thread_local double tlHoldUntil = std::numeric_limits<double>::infinity();

double realNow() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// Network waits whose peer has been silent too long; with the lock held.
int stalledLocked(const ClockState& s, double now) {
    int n = 0;
    for (double heard : s.networkWaits) {
        if (now - heard < Clock::kNetworkStallSeconds) break;
        ++n;
    }
    return n;
}

int busyLocked(const ClockState& s) { return s.busy - stalledLocked(s, realNow()); }

}  // namespace

namespace detail {

void registerWaiter(Waiter& w) {
    auto& s = state();
    std::lock_guard<std::mutex> g(s.m);
    w.woken = false;
    w.counted = s.virt.load() && tlTracked;
    if (w.counted) {
        --s.busy;
        s.quietCv.notify_all();
    }
    s.waiters.push_back(&w);
}

void unregisterWaiter(Waiter& w) {
    auto& s = state();
    std::lock_guard<std::mutex> g(s.m);
    s.waiters.erase(std::remove(s.waiters.begin(), s.waiters.end(), &w), s.waiters.end());
    if (w.counted && !w.woken) ++s.busy;
    w.counted = false;
}

void wakeWaitersOf(const void* owner) {
    auto& s = state();
    std::lock_guard<std::mutex> g(s.m);
    for (Waiter* w : s.waiters) {
        if (w->owner == owner && !w->woken) {
            w->woken = true;
            if (w->counted) ++s.busy;
        }
    }
}

double nextWaiterDeadline() {
    auto& s = state();
    std::lock_guard<std::mutex> g(s.m);
    double best = std::numeric_limits<double>::infinity();
    for (Waiter* w : s.waiters) {
        if (!w->woken) best = std::min(best, w->deadline);
    }
    return best;
}

}  // namespace detail

double Clock::now() {
    auto& s = state();
    if (s.virt.load()) return s.vnow.load();
    return realNow();
}

bool Clock::isVirtual() { return state().virt.load(); }

void Clock::setVirtual(bool on, double start) {
    auto& s = state();
    std::lock_guard<std::mutex> g(s.m);
    s.vnow.store(start);
    s.virt.store(on);
}

void Clock::setVirtualTime(double t) {
    auto& s = state();
    {
        std::lock_guard<std::mutex> g(s.m);
        if (!s.virt.load()) return;
        if (t > s.vnow.load()) s.vnow.store(t);
        double now = s.vnow.load();
        for (detail::Waiter* w : s.waiters) {
            if (!w->woken && w->deadline <= now) {
                w->woken = true;
                if (w->counted) ++s.busy;
                if (w->notify) w->notify();
            }
        }
    }
}

bool Clock::sleepFor(double seconds, const std::atomic<bool>* cancel) {
    if (cancel && cancel->load()) return false;
    if (isVirtual() && RunLoop::main().isCurrent()) {
        RunLoop::main().runFor(seconds);
        return !(cancel && cancel->load());
    }
    std::mutex m;
    Condition c;
    std::unique_lock<std::mutex> lk(m);
    bool cancelled = c.waitFor(lk, seconds, [cancel] { return cancel && cancel->load(); });
    return !cancelled;
}

void Clock::beginWork() {
    auto& s = state();
    std::lock_guard<std::mutex> g(s.m);
    ++s.busy;
}

void Clock::endWork() {
    auto& s = state();
    std::lock_guard<std::mutex> g(s.m);
    --s.busy;
    s.quietCv.notify_all();
}

int Clock::busyWorkers() {
    auto& s = state();
    std::lock_guard<std::mutex> g(s.m);
    return busyLocked(s);
}

int Clock::computingWorkers() {
    auto& s = state();
    std::lock_guard<std::mutex> g(s.m);
    return s.busy - int(s.networkWaits.size());
}

bool Clock::waitForQuiet(double realSeconds, const std::atomic<bool>& wakeup, const std::atomic<bool>* alsoWakeup) {
    auto& s = state();
    std::unique_lock<std::mutex> lk(s.m);
    const double end = realNow() + realSeconds;
    for (;;) {
        if (busyLocked(s) <= 0 || wakeup.load() || (alsoWakeup && alsoWakeup->load())) return busyLocked(s) <= 0;
        const double now = realNow();
        if (now >= end) return false;
        // Wakes too when the next network wait turns stalled.
        double until = end;
        for (double heard : s.networkWaits) {
            if (heard + kNetworkStallSeconds > now) {
                until = std::min(until, heard + kNetworkStallSeconds);
                break;
            }
        }
        s.quietCv.wait_for(lk, std::chrono::duration<double>(until - now));
    }
}

void Clock::pokeQuiet() {
    auto& s = state();
    std::lock_guard<std::mutex> g(s.m);
    s.quietCv.notify_all();
}

double Clock::realNow() { return sys::realNow(); }

Clock::NetworkWait::NetworkWait(double heardAt)
    : heardAt_(heardAt), holdUntil_(tlHoldUntil), active_(isVirtual() && tlTracked && !tlInNetworkWait) {
    if (!active_) return;
    // Past the thread's hold limit the peer counts as long silent.
    heardAt_ = std::min(heardAt_, holdUntil_ - kNetworkStallSeconds);
    tlInNetworkWait = true;
    auto& s = state();
    std::lock_guard<std::mutex> g(s.m);
    s.networkWaits.insert(heardAt_);
    // A waitForQuiet looks again: the worker may be idle now (its peer silent
    // too long, or past its hold limit), or turn idle when this wait stalls,
    // which it did not know of when it began waiting.
    s.quietCv.notify_all();
}

void Clock::NetworkWait::renew() {
    if (!active_) return;
    auto& s = state();
    std::lock_guard<std::mutex> g(s.m);
    auto it = s.networkWaits.find(heardAt_);
    if (it != s.networkWaits.end()) s.networkWaits.erase(it);
    heardAt_ = std::min(std::max(heardAt_, sys::realNow()), holdUntil_ - kNetworkStallSeconds);
    s.networkWaits.insert(heardAt_);
}

Clock::NetworkWait::~NetworkWait() {
    if (!active_) return;
    tlInNetworkWait = false;
    auto& s = state();
    std::lock_guard<std::mutex> g(s.m);
    auto it = s.networkWaits.find(heardAt_);
    if (it != s.networkWaits.end()) s.networkWaits.erase(it);
}

Clock::NetworkHoldLimit::NetworkHoldLimit(double realSeconds) : saved_(tlHoldUntil) {
    tlHoldUntil = std::min(saved_, sys::realNow() + std::max(0.0, realSeconds));
}

Clock::NetworkHoldLimit::~NetworkHoldLimit() { tlHoldUntil = saved_; }

double Clock::NetworkHoldLimit::current() { return tlHoldUntil; }

void Clock::NetworkHoldLimit::adopt(double until) { tlHoldUntil = until; }

bool Clock::currentThreadTracked() { return tlTracked; }

void Clock::setCurrentThreadTracked(bool tracked) { tlTracked = tracked; }

Clock::IdleScope::IdleScope() : active_(isVirtual() && tlTracked) {
    if (active_) endWork();
}

Clock::IdleScope::~IdleScope() {
    if (active_) beginWork();
}

}  // namespace sys
