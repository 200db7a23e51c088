#pragma once

#include <functional>

// Internal to platform/core: the registry of threads waiting on the process
// clock, shared by Clock and Condition.
namespace sys::detail {

struct Waiter {
    double deadline = 0;           // process time at which the wait times out
    const void* owner = nullptr;   // the Condition waited on
    std::function<void()> notify;  // wakes the waiting thread
    bool woken = false;            // set by whoever wakes it; guarded by the clock lock
    bool counted = false;          // the waiter gave up its busy count
};

void registerWaiter(Waiter& w);
void unregisterWaiter(Waiter& w);
void wakeWaitersOf(const void* owner);
double nextWaiterDeadline();

}  // namespace sys::detail
