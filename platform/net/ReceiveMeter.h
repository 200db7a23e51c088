#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace net {

// Counts what a worker's sockets receive, for whoever watches the pace of
// its transfer from another thread (a listing that must give up on a
// server that sends too little). The worker puts a Scope on its own thread;
// the socket code calls count() after every receive, which adds to the
// calling thread's meter, if it has one.
class ReceiveMeter {
public:
    uint64_t total() const { return total_.load(std::memory_order_relaxed); }

    // Adds `bytes` to the meter of the calling thread (none: nothing).
    static void count(size_t bytes);

    // While it lives, the calling thread's receives count into `meter`.
    class Scope {
    public:
        explicit Scope(std::shared_ptr<ReceiveMeter> meter);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        std::shared_ptr<ReceiveMeter> meter_;
        ReceiveMeter* previous_;
    };

private:
    std::atomic<uint64_t> total_{0};
};

}  // namespace net
