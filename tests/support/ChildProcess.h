#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <type_traits>

namespace test {

// Peak resident memory of this process, in bytes.
inline uint64_t peakResident() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return uint64_t(usage.ru_maxrss) * 1024;
}

// Bounds for a child: the real seconds it may take (then SIGALRM ends it)
// and the address space it may reserve (left unbounded under a sanitizer,
// which reserves far more for itself). Zero: no bound.
struct ChildLimits {
    unsigned seconds = 0;
    uint64_t addressSpace = 0;
};

// Runs `work` in a forked child and gives back what it returned, or
// `failed` when the child could not run, died or passed its limits. A
// child's peak memory starts near what it holds, so work measured with
// peakResident() there shows what it took itself.
template <class T>
T inChildProcess(const std::function<T()>& work, T failed, ChildLimits limits = {}) {
    static_assert(std::is_trivially_copyable_v<T>);
    int fds[2];
    if (::pipe(fds) != 0) return failed;
    fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        if (limits.seconds) ::alarm(limits.seconds);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
        if (limits.addressSpace) {
            const rlimit bound{rlim_t(limits.addressSpace), rlim_t(limits.addressSpace)};
            ::setrlimit(RLIMIT_AS, &bound);
        }
#endif
        // The child never returns into the test: what it throws ends it.
        T result = failed;
        try {
            result = work();
        } catch (...) {
            ::_exit(1);
        }
        const ssize_t n = ::write(fds[1], &result, sizeof result);
        ::_exit(n == sizeof result ? 0 : 1);
    }
    ::close(fds[1]);
    T result = failed;
    if (pid > 0 && ::read(fds[0], &result, sizeof result) != sizeof result) result = failed;
    ::close(fds[0]);
    int status = 0;
    if (pid > 0) ::waitpid(pid, &status, 0);
    return result;
}

}  // namespace test
