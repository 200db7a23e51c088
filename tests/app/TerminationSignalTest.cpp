#include <gtest/gtest.h>

#include "app/TerminationSignal.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// A termination path that never ends (as one closing its window on a display
// that stopped answering) is ended by the watcher kEndingSeconds after it
// began, with the signal's own status: also when it began well before the
// signal came (a window closed, then SIGTERM from outside), and not only
// when the signal began it.
TEST(TerminationSignal, AHeldTerminationPathEndsWithTheSignalsStatusItsWhileAfterItBegan) {
    std::fflush(nullptr);
    const auto start = Clock::now();
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // A run this process made before may have begun its termination.
        TerminationSignal::reset();
        TerminationSignal::install();
        TerminationSignal::terminationBegun();
        std::this_thread::sleep_for(std::chrono::seconds(4));
        ::kill(::getpid(), SIGTERM);
        for (;;) ::pause();
    }
    int status = 0;
    pid_t ended = 0;
    while ((ended = ::waitpid(pid, &status, WNOHANG)) == 0 && Clock::now() - start < std::chrono::seconds(15))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const double took = std::chrono::duration<double>(Clock::now() - start).count();
    if (ended == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        FAIL() << "the held termination path was not ended";
    }
    ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
    EXPECT_EQ(WTERMSIG(status), SIGTERM);
    // The path began at once, the signal 4 s later: it ends 5 s after the
    // beginning, not 5 s after the signal.
    EXPECT_GE(took, TerminationSignal::kEndingSeconds - 0.1);
    EXPECT_LT(took, 7.5);
}

}  // namespace
