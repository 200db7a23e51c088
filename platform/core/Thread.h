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
class Thread {
public:
    using Body = std::function<void(const std::atomic<bool>& stopRequested)>;

    Thread() = default;
    explicit Thread(Body body, std::string name = {});
    ~Thread();
    Thread(Thread&& other) noexcept;
    Thread& operator=(Thread&& other) noexcept;
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    void requestStop();
    bool stopRequested() const;
    void join();
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

private:
    struct State {
        std::atomic<bool> stop{false};
        std::atomic<bool> running{true};
        std::mutex m;
        bool finished = false;  // guarded by m
        int idleJoiners = 0;    // joiners that gave up their busy count; guarded by m
    };
    std::shared_ptr<State> state_;
    std::thread thread_;
};

}  // namespace sys
