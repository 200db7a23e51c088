#pragma once

#include "platform/core/RunLoop.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ui {

// A helper program the desktop services start (xdg-open, a file chooser):
// started without a shell, its standard output collected, and its end
// reported on the main run loop, which polls it so that no thread waits and
// no child is left unreaped.
class ChildProcess : public std::enable_shared_from_this<ChildProcess> {
public:
    // exitCode is -1 when the program could not run or was killed.
    using Done = std::function<void(int exitCode, const std::string& output)>;

    // Starts `argv` (looked up on PATH). Null when it could not be started.
    static std::shared_ptr<ChildProcess> start(const std::vector<std::string>& argv, Done done);
    // Whether a program of that name is on PATH.
    static bool existsOnPath(const std::string& program);

    ~ChildProcess();
    int pid() const { return pid_; }
    bool finished() const { return finished_; }
    // Ends the program (the completion then reports -1).
    void kill();

    // Output kept at most (a chooser prints a few paths).
    static constexpr size_t kMaxOutput = 1 << 20;

private:
    ChildProcess() = default;
    void poll();

    int pid_ = -1;
    int outFd_ = -1;
    bool finished_ = false;
    std::string output_;
    Done done_;
    sys::RunLoop::TimerRef timer_;
    std::shared_ptr<ChildProcess> self_;  // alive until reaped
};

}  // namespace ui
