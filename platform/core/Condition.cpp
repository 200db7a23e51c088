#include "platform/core/Condition.h"

#include "platform/core/Clock.h"
#include "platform/core/ClockWaiters.h"

#include <algorithm>
#include <chrono>
#include <limits>

namespace sys {

namespace {
// Longest real time a wait sleeps before it looks at its predicate again.
constexpr double kSlice = 0.005;
}  // namespace

Condition::Condition() = default;
Condition::~Condition() = default;

void Condition::wait(std::unique_lock<std::mutex>& lock, const std::function<bool()>& pred) {
    waitImpl(lock, std::numeric_limits<double>::infinity(), pred);
}

bool Condition::waitFor(std::unique_lock<std::mutex>& lock, double seconds,
                        const std::function<bool()>& pred) {
    return waitImpl(lock, Clock::now() + std::max(0.0, seconds), pred);
}

bool Condition::waitImpl(std::unique_lock<std::mutex>& lock, double deadline,
                         const std::function<bool()>& pred) {
    while (!pred()) {
        double now = Clock::now();
        if (now >= deadline) return false;
        detail::Waiter w;
        w.deadline = deadline;
        w.owner = this;
        w.notify = [this] { cv_.notify_all(); };
        detail::registerWaiter(w);
        double slice = kSlice;
        if (!Clock::isVirtual()) slice = std::min(std::max(deadline - now, 0.0), 0.05);
        cv_.wait_for(lock, std::chrono::duration<double>(slice));
        detail::unregisterWaiter(w);
    }
    return true;
}

void Condition::notifyAll() {
    detail::wakeWaitersOf(this);
    cv_.notify_all();
}

}  // namespace sys
