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
    // Workers that are busy, not counting those stalled on a silent peer
    // (NetworkWait).
    static int busyWorkers();
    // Busy workers that are not waiting on the network.
    static int computingWorkers();
    // Waits, in real time, until no worker is busy (as busyWorkers counts
    // them) or `wakeup` (or `alsoWakeup`) is signalled, at most
    // `realSeconds`. Returns true when no worker is busy.
    static bool waitForQuiet(double realSeconds, const std::atomic<bool>& wakeup,
                             const std::atomic<bool>* alsoWakeup = nullptr);
    // Wakes waitForQuiet (a post arrived).
    static void pokeQuiet();

    // Whether the calling thread is counted by the accounting above.
    static bool currentThreadTracked();
    static void setCurrentThreadTracked(bool tracked);

    // Seconds of real (monotonic) time, whatever the process clock says.
    static double realNow();

    // How long, in real time, a peer on the network may say nothing before a
    // worker waiting for it no longer holds up advancing virtual time.
    static constexpr double kNetworkStallSeconds = 5.0;

    // Marks, for its lifetime, a tracked worker's wait for a peer on the
    // network: a reply, a connection, a name. The worker still counts as busy,
    // so advancing virtual time waits for a peer on this machine to answer
    // (and for the work the answer brings); but once the peer has been silent
    // for kNetworkStallSeconds of real time since `heardAt` (a realNow() time:
    // the wait's start, or when the peer last sent anything) the worker is
    // stalled, not busy, until the peer is heard from again and a wait begins
    // with a later `heardAt`. A server that stops answering so holds up the
    // clock once, not at every step of it.
    class NetworkWait {
    public:
        NetworkWait() : NetworkWait(realNow()) {}
        explicit NetworkWait(double heardAt);
        ~NetworkWait();
        NetworkWait(const NetworkWait&) = delete;
        NetworkWait& operator=(const NetworkWait&) = delete;
        // The wait has something to do again (the peer was heard from, or new
        // work was handed to the worker): busy as from now. Any thread may
        // call it while the wait lives; the caller keeps it alive meanwhile.
        void renew();

    private:
        double heardAt_;
        // The thread's NetworkHoldLimit when the wait began.
        double holdUntil_;
        bool active_;
    };

    // Bounds, for its lifetime, how long the calling thread's network waits
    // hold up advancing virtual time: from `realSeconds` of real time on they
    // count as stalled however busily their peers talk. For work nobody waits
    // for (a list's covers), so that a slow server holds a headless run up for
    // that long at most, not for as long as the work takes. A thread started
    // to do part of that work (a stream's loader) takes the limit on with
    // adopt(current()); threads that outlive it never do.
    class NetworkHoldLimit {
    public:
        explicit NetworkHoldLimit(double realSeconds);
        ~NetworkHoldLimit();
        NetworkHoldLimit(const NetworkHoldLimit&) = delete;
        NetworkHoldLimit& operator=(const NetworkHoldLimit&) = delete;

        // The calling thread's limit as a realNow() time (infinity: none),
        // and its setting, for a thread taking on its starter's limit.
        static double current();
        static void adopt(double until);

    private:
        double saved_;
    };

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
