#pragma once

#include <atomic>

// What SIGTERM and SIGINT do to a run of the program.
//
// The handler only notes the signal and hands it to a watcher thread of its
// own (a byte through a pipe). While the start still asks for the display
// (which may wait on the display server and the session bus) nothing of the
// run exists yet, and the handler ends the process at once, as it would end
// without one. Afterwards the watcher wakes the main thread's waits
// (sys::RunLoop::interrupt: a headless run's step waiting for its workers)
// so that the main thread takes the termination path; when the main thread
// has not begun that path kGraceSeconds after the signal (it is held in one
// long call: a page being laid out, a display server that stopped
// answering, which never looks at the flag), the watcher ends the process
// itself with the signal's own status. The termination path, once begun,
// has kEndingSeconds to end the process (it too can be held: the window it
// closes on a display that stopped answering), which the watcher then ends
// the same way. What was written by then stays whole: files are saved
// atomically (written aside and renamed into place).
class TerminationSignal {
public:
    static constexpr double kGraceSeconds = 2.0;
    static constexpr double kEndingSeconds = 5.0;

    // Installs the handlers of SIGTERM and SIGINT and starts the watcher
    // (once per process; again only re-installs the handlers).
    static void install();
    // While set, a signal ends the process at once.
    static void setStarting(bool starting);

    // The run was asked to end (a signal, or requestStop).
    static const std::atomic<bool>& stopFlag();
    static bool stopRequested() { return stopFlag().load(); }
    static void requestStop();
    // The main thread has begun the termination path: the watcher leaves
    // the end to it, until kEndingSeconds after this first call.
    static void terminationBegun();
    // A run not asked to end, its termination not begun, the run loop's
    // waits no longer interrupted (between the tests' runs in one process).
    static void reset();
};
