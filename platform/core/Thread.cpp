#include "platform/core/Thread.h"

#include "platform/core/Clock.h"

#include <pthread.h>

#include <condition_variable>
#include <vector>

namespace sys {

struct Thread::State {
    std::atomic<bool> stop{false};
    std::atomic<bool> running{true};
    std::mutex m;
    std::condition_variable joinedCv;
    // Set once by the constructor; afterwards touched only by the one joiner.
    std::thread thread;
    bool finished = false;  // the body returned; guarded by m
    bool joining = false;   // someone has taken on the join; guarded by m
    bool joined = false;    // joined (or let go by its own body); guarded by m
    int idleJoiners = 0;    // joiners that gave up their busy count; guarded by m
};

namespace {

// The state of the sys::Thread running on this thread, if any.
thread_local const void* tlCurrentState = nullptr;

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

bool Thread::leftThreadsRunning() {
    LeftThreads& left = leftThreads();
    std::lock_guard<std::mutex> g(left.m);
    for (const Thread& t : left.threads)
        if (t.running()) return true;
    return false;
}

Thread::Thread(Body body, std::string name) : state_(std::make_shared<State>()) {
    // Counted busy from before the thread exists, so that a run loop that is
    // advancing virtual time waits for the first thing it posts.
    Clock::beginWork();
    auto st = state_;
    // Held while the thread is made, so that a body joining itself at once
    // finds it in place.
    std::lock_guard<std::mutex> made(st->m);
    st->thread = std::thread([st, body = std::move(body), name = std::move(name)] {
        if (!name.empty()) pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
        tlCurrentState = st.get();
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
    if (auto st = state()) {
        st->stop.store(true);
        joinState(st);
    }
}

Thread::Thread(Thread&& other) noexcept {
    std::lock_guard<std::mutex> g(other.mutex_);
    state_ = std::move(other.state_);
}

Thread& Thread::operator=(Thread&& other) noexcept {
    if (this == &other) return *this;
    std::shared_ptr<State> incoming;
    {
        std::lock_guard<std::mutex> g(other.mutex_);
        incoming = std::move(other.state_);
    }
    // The thread held so far stays in place while it is joined, so that a
    // join from elsewhere meanwhile waits for the same thread.
    if (auto old = state()) {
        old->stop.store(true);
        joinState(old);
    }
    std::lock_guard<std::mutex> g(mutex_);
    state_ = std::move(incoming);
    return *this;
}

std::shared_ptr<Thread::State> Thread::state() const {
    std::lock_guard<std::mutex> g(mutex_);
    return state_;
}

void Thread::requestStop() {
    if (auto st = state()) st->stop.store(true);
}

bool Thread::stopRequested() const {
    auto st = state();
    return st && st->stop.load();
}

void Thread::join() {
    if (auto st = state()) joinState(st);
}

void Thread::joinState(const std::shared_ptr<State>& st) {
    std::unique_lock<std::mutex> lk(st->m);
    if (st->joined) return;
    if (tlCurrentState == st.get()) {
        // Joining oneself would never return; the body is returning anyway.
        // A join already under way elsewhere finishes the job.
        if (!st->joining) {
            st->joining = true;
            st->thread.detach();
            st->joined = true;
            st->joinedCv.notify_all();
        }
        return;
    }
    // A tracked thread waiting on a worker is not busy itself (the worker may
    // be waiting on virtual time); the worker hands the count back as it ends.
    if (!st->finished && Clock::isVirtual() && Clock::currentThreadTracked()) {
        ++st->idleJoiners;
        Clock::endWork();
    }
    if (st->joining) {
        // Another thread joins it: wait for that join to be over.
        st->joinedCv.wait(lk, [&] { return st->joined; });
        return;
    }
    st->joining = true;
    lk.unlock();
    st->thread.join();
    lk.lock();
    st->joined = true;
    st->joinedCv.notify_all();
}

bool Thread::joinable() const {
    auto st = state();
    if (!st) return false;
    std::lock_guard<std::mutex> g(st->m);
    return !st->joined;
}

bool Thread::running() const {
    auto st = state();
    return st && st->running.load();
}

bool Thread::isCurrent() const {
    auto st = state();
    return st && tlCurrentState == st.get();
}

}  // namespace sys
