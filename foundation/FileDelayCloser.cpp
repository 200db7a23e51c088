#include "foundation/FileDelayCloser.h"

#include "platform/core/Thread.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <pthread.h>
#include <unistd.h>
#include <vector>

namespace {

std::atomic<int> gInProgress{0};

std::mutex& threadsMutex() {
    static std::mutex m;
    return m;
}

// The closing threads are owned here and joined, never left running loose.
std::vector<sys::Thread>& threads() {
    static std::vector<sys::Thread> t;
    return t;
}

void joinBeforeFork() { FileDelayCloser::waitForCloseAll(); }

void startClose(std::function<void()> close) {
    // A forked child would inherit threads it can neither join nor run: the
    // closes end, and their threads are joined, before any fork.
    static std::once_flag atFork;
    std::call_once(atFork, [] { ::pthread_atfork(&joinBeforeFork, nullptr, nullptr); });
    // Counted before the thread starts, so a wait that follows at once sees it.
    gInProgress.fetch_add(1);
    sys::Thread t(
        [close = std::move(close)](const std::atomic<bool>&) mutable {
            close();
            close = nullptr;
            gInProgress.fetch_sub(1);
        },
        "FileDelayCloser");
    std::vector<sys::Thread> finished;
    {
        std::lock_guard<std::mutex> lock(threadsMutex());
        auto& all = threads();
        for (auto it = all.begin(); it != all.end();) {
            if (!it->running()) {
                finished.push_back(std::move(*it));
                it = all.erase(it);
            } else {
                ++it;
            }
        }
        all.push_back(std::move(t));
    }
    // Joined outside the lock: these have returned already, so this is quick.
    for (auto& f : finished) f.join();
}

}  // namespace

void FileDelayCloser::closeFileDelay(int fd) {
    if (fd < 0) return;
    startClose([fd] { ::close(fd); });
}

void FileDelayCloser::closeFileDelay(FILE* file) {
    if (!file) return;
    startClose([file] { std::fclose(file); });
}

void FileDelayCloser::closeFileDelay(std::shared_ptr<void> handle) {
    if (!handle) return;
    startClose([h = std::move(handle)]() mutable { h.reset(); });
}

void FileDelayCloser::waitForCloseAll() {
    std::vector<sys::Thread> all;
    {
        std::lock_guard<std::mutex> lock(threadsMutex());
        all.swap(threads());
    }
    for (auto& t : all) t.join();
}

int FileDelayCloser::closesInProgress() { return gInProgress.load(); }
