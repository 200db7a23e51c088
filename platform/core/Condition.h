#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>

namespace sys {

// A condition variable that understands the process clock: timed waits count
// virtual time when the clock is virtual, and a waiting worker does not keep
// the main loop from moving on. Waits re-check their predicate at least every
// few milliseconds, so a cancel flag set without notifying still wakes them.
class Condition {
public:
    Condition();
    ~Condition();
    Condition(const Condition&) = delete;
    Condition& operator=(const Condition&) = delete;

    // Waits until pred() is true. The lock must be held.
    void wait(std::unique_lock<std::mutex>& lock, const std::function<bool()>& pred);
    // Waits until pred() is true or `seconds` of process time pass; returns pred().
    bool waitFor(std::unique_lock<std::mutex>& lock, double seconds,
                 const std::function<bool()>& pred);

    void notifyAll();
    void notifyOne() { notifyAll(); }

private:
    bool waitImpl(std::unique_lock<std::mutex>& lock, double deadline,
                  const std::function<bool()>& pred);
    std::condition_variable_any cv_;
};

}  // namespace sys
