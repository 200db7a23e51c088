#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace sys {

// An owned worker thread. The object joins the thread when it goes away (after
// asking it to stop), so a worker can never outlive what it works on. While it
// runs it counts as busy for the virtual clock.
//
// Joining is safe from any thread, any number of times: the first caller joins
// and any other caller, at the same time or later, waits until that join is
// over. A body joining its own thread (its owner going away on it) does not
// wait: the thread is let go, as it is returning anyway.
class Thread {
public:
    using Body = std::function<void(const std::atomic<bool>& stopRequested)>;

    Thread() = default;
    explicit Thread(Body body, std::string name = {});
    ~Thread();
    Thread(Thread&& other) noexcept;
    // Joins the thread held so far (after asking it to stop), then takes
    // `other`'s.
    Thread& operator=(Thread&& other) noexcept;
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    void requestStop();
    bool stopRequested() const;
    void join();
    // True while a thread is held that nobody has joined yet.
    bool joinable() const;
    // True while the body has not returned.
    bool running() const;
    // True when called from this thread itself.
    bool isCurrent() const;

    // For an owner that must not wait for its worker (the main thread, with
    // the worker blocked on the network until its cancel lands): the thread
    // is asked to stop and kept by the process, which joins it when it is
    // next handed a thread or at exit (joinLeftThreads). The body must not
    // use its former owner any more.
    static void leaveToFinish(Thread&& thread);
    // Joins every thread left so far (at the end of a run).
    static void joinLeftThreads();
    // Whether a thread left so far is still at work.
    static bool leftThreadsRunning();

private:
    struct State;
    std::shared_ptr<State> state() const;
    static void joinState(const std::shared_ptr<State>& st);

    mutable std::mutex mutex_;  // guards state_ (the object may be joined from several threads)
    std::shared_ptr<State> state_;
};

}  // namespace sys
