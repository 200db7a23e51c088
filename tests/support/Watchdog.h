#pragma once

#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

namespace test {

// Ends the test program with a message when it is still alive `seconds` of
// real time after this object was made and before it went away: a test of
// code that may deadlock fails instead of hanging the suite.
class Watchdog {
public:
    Watchdog(double seconds, std::string what) : what_(std::move(what)) {
        thread_ = std::thread([this, seconds] {
            std::unique_lock lock(m_);
            if (!cv_.wait_for(lock, std::chrono::duration<double>(seconds), [this] { return done_; })) {
                std::fprintf(stderr, "watchdog: still waiting after %.0f s: %s\n", seconds, what_.c_str());
                std::fflush(stderr);
                std::_Exit(3);
            }
        });
    }
    ~Watchdog() {
        {
            std::lock_guard lock(m_);
            done_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    std::string what_;
    std::mutex m_;
    std::condition_variable cv_;
    bool done_ = false;
    std::thread thread_;
};

// The kernel's id of the calling thread.
inline pid_t currentThreadId() { return pid_t(::syscall(SYS_gettid)); }

// Whether thread `tid` of this process sleeps in the kernel (blocked on a
// lock, a join or a wait) rather than running or being ready to run.
inline bool threadSleeps(pid_t tid) {
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // "tid (name) S ...": the name may hold spaces and parentheses.
    const size_t close = text.rfind(')');
    if (close == std::string::npos || close + 2 >= text.size()) return false;
    return text[close + 2] == 'S';
}

// Waits (in real time, at most `seconds`) until thread `tid` sleeps in the
// kernel; true when it does.
inline bool waitUntilSleeping(pid_t tid, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (threadSleeps(tid)) return true;
        std::this_thread::yield();
    }
    return false;
}

}  // namespace test
