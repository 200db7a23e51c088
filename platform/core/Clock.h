#pragma once

#include <atomic>

namespace sys {

// The process clock: real monotonic seconds, or a virtual time that only moves
// when the main run loop is advanced (tests). It also keeps count of the worker
// threads that are busy, so that advancing virtual time can let their posted
// work land before time moves on.
class Clock {
public:
    // Seconds since an arbitrary start, on the process clock.
    static double now();
    static bool isVirtual();
    // Switches to virtual time starting at `start`, or back to real time.
    static void setVirtual(bool on, double start = 1000.0);

    // Blocks the calling thread for `seconds` of process time. Returns false
    // when `cancel` became true first. On the main thread in virtual mode it
    // runs the main loop for that time instead, so nothing stalls.
    static bool sleepFor(double seconds, const std::atomic<bool>* cancel = nullptr);

    // Virtual time only: moves time to `t` (never backwards) and wakes the
    // waiters that fall due. Used by the run loop.
    static void setVirtualTime(double t);

    // Busy-worker accounting (sys::Thread does this for its threads).
    static void beginWork();
    static void endWork();
    static int busyWorkers();
    // Waits, in real time, until no worker is busy or `wakeup` is signalled,
    // at most `realSeconds`. Returns true when no worker is busy.
    static bool waitForQuiet(double realSeconds, const std::atomic<bool>& wakeup);
    // Wakes waitForQuiet (a post arrived).
    static void pokeQuiet();

    // Whether the calling thread is counted by the accounting above.
    static bool currentThreadTracked();
    static void setCurrentThreadTracked(bool tracked);

    // Marks a tracked worker as idle for its lifetime: wrap blocking I/O that
    // waits on the outside world (accept, poll), so that advancing virtual
    // time does not wait for it.
    class IdleScope {
    public:
        IdleScope();
        ~IdleScope();
        IdleScope(const IdleScope&) = delete;
        IdleScope& operator=(const IdleScope&) = delete;

    private:
        bool active_;
    };
};

}  // namespace sys
