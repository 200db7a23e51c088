#include "platform/core/Thread.h"

#include "platform/core/Clock.h"

#include <pthread.h>

#include <vector>

namespace sys {

namespace {

// Threads whose owners let them finish alone; joined at exit at the latest.
struct LeftThreads {
    std::mutex m;
    std::vector<Thread> threads;  // guarded by m
    ~LeftThreads() { joinAll(); }
    void joinAll() {
        std::vector<Thread> all;
        {
            std::lock_guard<std::mutex> g(m);
            all.swap(threads);
        }
        for (Thread& t : all) t.join();
    }
};

LeftThreads& leftThreads() {
    static LeftThreads left;
    return left;
}

}  // namespace

void Thread::leaveToFinish(Thread&& thread) {
    if (!thread.joinable()) return;
    thread.requestStop();
    if (thread.isCurrent()) {
        // A body letting itself go: it is returning anyway.
        thread.join();
        return;
    }
    std::vector<Thread> finished;
    {
        LeftThreads& left = leftThreads();
        std::lock_guard<std::mutex> g(left.m);
        for (auto it = left.threads.begin(); it != left.threads.end();) {
            if (it->running()) {
                ++it;
            } else {
                finished.push_back(std::move(*it));
                it = left.threads.erase(it);
            }
        }
        left.threads.push_back(std::move(thread));
    }
    // Their bodies have returned: these joins do not wait.
    for (Thread& t : finished) t.join();
}

void Thread::joinLeftThreads() { leftThreads().joinAll(); }

Thread::Thread(Body body, std::string name) : state_(std::make_shared<State>()) {
    // Counted busy from before the thread exists, so that a run loop that is
    // advancing virtual time waits for the first thing it posts.
    Clock::beginWork();
    auto st = state_;
    thread_ = std::thread([st, body = std::move(body), name = std::move(name)] {
        if (!name.empty()) pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
        Clock::setCurrentThreadTracked(true);
        body(st->stop);
        st->running.store(false);
        Clock::setCurrentThreadTracked(false);
        {
            // Hand the busy count back to tracked threads joining this one before
            // giving up our own, so the count never drops to zero between the
            // two and an advancing run loop cannot move on while they resume.
            std::lock_guard<std::mutex> g(st->m);
            st->finished = true;
            for (; st->idleJoiners > 0; --st->idleJoiners) Clock::beginWork();
        }
        Clock::endWork();
    });
}

Thread::~Thread() {
    if (thread_.joinable()) {
        requestStop();
        join();
    }
}

Thread::Thread(Thread&& other) noexcept
    : state_(std::move(other.state_)), thread_(std::move(other.thread_)) {}

Thread& Thread::operator=(Thread&& other) noexcept {
    if (this != &other) {
        if (thread_.joinable()) {
            requestStop();
            join();
        }
        state_ = std::move(other.state_);
        thread_ = std::move(other.thread_);
    }
    return *this;
}

void Thread::requestStop() {
    if (state_) state_->stop.store(true);
}

bool Thread::stopRequested() const { return state_ && state_->stop.load(); }

void Thread::join() {
    if (!thread_.joinable()) return;
    if (thread_.get_id() == std::this_thread::get_id()) {
        thread_.detach();  // joining oneself would deadlock; the body is returning anyway
        return;
    }
    // A tracked thread waiting on a worker is not busy itself (the worker may
    // be waiting on virtual time); the worker hands the count back as it ends.
    if (Clock::isVirtual() && Clock::currentThreadTracked() && state_) {
        std::lock_guard<std::mutex> g(state_->m);
        if (!state_->finished) {
            ++state_->idleJoiners;
            Clock::endWork();
        }
    }
    thread_.join();
}

bool Thread::joinable() const { return thread_.joinable(); }

bool Thread::running() const { return state_ && state_->running.load(); }

bool Thread::isCurrent() const { return thread_.get_id() == std::this_thread::get_id(); }

}  // namespace sys
