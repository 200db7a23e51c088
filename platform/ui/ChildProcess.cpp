#include "platform/ui/ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace ui {

namespace {
constexpr double kPollInterval = 0.05;
}  // namespace

bool ChildProcess::existsOnPath(const std::string& program) {
    if (program.find('/') != std::string::npos) return access(program.c_str(), X_OK) == 0;
    const char* path = std::getenv("PATH");
    std::string p = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= p.size()) {
        size_t end = p.find(':', start);
        if (end == std::string::npos) end = p.size();
        std::string dir = p.substr(start, end - start);
        if (!dir.empty()) {
            std::string full = dir + "/" + program;
            struct stat st;
            if (stat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(full.c_str(), X_OK) == 0) return true;
        }
        start = end + 1;
    }
    return false;
}

std::shared_ptr<ChildProcess> ChildProcess::start(const std::vector<std::string>& argv, Done done) {
    if (argv.empty()) return nullptr;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return nullptr;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        return nullptr;
    }
    fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) | O_NONBLOCK);
    std::shared_ptr<ChildProcess> c(new ChildProcess);
    c->pid_ = pid;
    c->outFd_ = fds[0];
    c->done_ = std::move(done);
    c->self_ = c;
    std::weak_ptr<ChildProcess> weak = c;
    c->timer_ = sys::RunLoop::main().schedule(
        kPollInterval,
        [weak] {
            if (auto s = weak.lock()) s->poll();
        },
        kPollInterval);
    return c;
}

void ChildProcess::poll() {
    if (finished_) return;
    auto keep = shared_from_this();
    char buf[4096];
    for (;;) {
        ssize_t n = read(outFd_, buf, sizeof buf);
        if (n > 0) {
            if (output_.size() < kMaxOutput) output_.append(buf, size_t(n));
            continue;
        }
        break;
    }
    int status = 0;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == 0) return;
    finished_ = true;
    if (timer_) timer_->invalidate();
    // Whatever is still in the pipe.
    for (;;) {
        ssize_t n = read(outFd_, buf, sizeof buf);
        if (n <= 0) break;
        if (output_.size() < kMaxOutput) output_.append(buf, size_t(n));
    }
    close(outFd_);
    outFd_ = -1;
    int code = (r == pid_ && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
    Done d = std::move(done_);
    self_.reset();
    if (d) d(code, output_);
}

void ChildProcess::kill() {
    if (!finished_ && pid_ > 0) ::kill(pid_, SIGTERM);
}

ChildProcess::~ChildProcess() {
    if (timer_) timer_->invalidate();
    if (outFd_ >= 0) close(outFd_);
    if (!finished_ && pid_ > 0) {
        ::kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

}  // namespace ui
