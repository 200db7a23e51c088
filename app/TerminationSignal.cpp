#include "app/TerminationSignal.h"

#include "platform/core/RunLoop.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace {

std::atomic<bool> gStop{false};
std::atomic<bool> gStarting{false};
// The pipe's end the handler writes the signal's number to (-1: no watcher).
std::atomic<int> gNotifyFd{-1};

std::mutex& beginMutex() {
    static auto* m = new std::mutex;  // never destroyed: the watcher outlives statics
    return *m;
}
std::condition_variable& beginChanged() {
    static auto* c = new std::condition_variable;
    return *c;
}
bool gBegun = false;  // guarded by beginMutex()
std::chrono::steady_clock::time_point gBegunAt;  // guarded by beginMutex()

void onSignal(int sig) {
    const int savedErrno = errno;
    gStop.store(true);
    if (gStarting.load()) {
        std::signal(sig, SIG_DFL);
        std::raise(sig);
    }
    const int fd = gNotifyFd.load();
    if (fd >= 0) {
        const unsigned char number = static_cast<unsigned char>(sig);
        // The pipe does not block: a full one already holds a signal.
        [[maybe_unused]] const ssize_t n = ::write(fd, &number, 1);
    }
    errno = savedErrno;
}

// Ends the process as the signal ends a program that does not handle it.
[[noreturn]] void endBySignal(int sig, const char* why) {
    [[maybe_unused]] ssize_t n = ::write(STDERR_FILENO, why, std::char_traits<char>::length(why));
    std::signal(sig, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    std::raise(sig);
    std::_Exit(128 + sig);
}

void watch(int fd) {
    for (;;) {
        unsigned char number = 0;
        const ssize_t n = ::read(fd, &number, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n != 1) return;
        const int sig = number;
        // A headless run's step may be waiting for its workers: it ends now.
        sys::RunLoop::main().interrupt();
        std::unique_lock<std::mutex> lock(beginMutex());
        const auto grace = std::chrono::duration<double>(TerminationSignal::kGraceSeconds);
        if (!beginChanged().wait_for(lock, grace, [] { return gBegun; }))
            endBySignal(sig, "leafbright: still busy 2 s after the signal; ended without the termination path\n");
        // The path itself can be held the same way (the window it closes on
        // a display that stopped answering): it has its own while from its
        // beginning to end the process, which then ends all the same.
        const auto ending = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(TerminationSignal::kEndingSeconds));
        if (!beginChanged().wait_until(lock, gBegunAt + ending, [] { return !gBegun; }))
            endBySignal(sig, "leafbright: the termination path did not end within 5 s; ended without the rest of it\n");
    }
}

}  // namespace

void TerminationSignal::install() {
    static const bool watching = [] {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return false;
        ::fcntl(fds[1], F_SETFL, ::fcntl(fds[1], F_GETFL) | O_NONBLOCK);
        // Not a sys::Thread: it waits for signals, not for work the
        // virtual clock waits for, and it lives as long as the process.
        std::thread(watch, fds[0]).detach();
        gNotifyFd.store(fds[1]);
        return true;
    }();
    (void)watching;
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
}

void TerminationSignal::setStarting(bool starting) { gStarting.store(starting); }

const std::atomic<bool>& TerminationSignal::stopFlag() { return gStop; }

void TerminationSignal::requestStop() { gStop.store(true); }

void TerminationSignal::terminationBegun() {
    {
        std::lock_guard<std::mutex> lock(beginMutex());
        if (!gBegun) gBegunAt = std::chrono::steady_clock::now();
        gBegun = true;
    }
    beginChanged().notify_all();
}

void TerminationSignal::reset() {
    gStop.store(false);
    {
        std::lock_guard<std::mutex> lock(beginMutex());
        gBegun = false;
    }
    beginChanged().notify_all();
    sys::RunLoop::main().resumeAfterInterrupt();
}
