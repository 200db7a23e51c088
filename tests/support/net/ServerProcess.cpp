#include "tests/support/net/ServerProcess.h"

#include "tests/support/TestHome.h"
#include "tests/support/net/ReservedPort.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace test {

namespace fs = std::filesystem;

// Reserved and given back at once.
int ServerProcess::freePort() { return ReservedPort().port(); }

int ServerProcess::connectTo(int port, const char* address) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    ::inet_pton(AF_INET, address, &addr.sin_addr);
    addr.sin_port = htons(uint16_t(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool ServerProcess::canConnect(int port, const char* address) {
    const int fd = connectTo(port, address);
    if (fd >= 0) ::close(fd);
    return fd >= 0;
}

bool ServerProcess::listens(pid_t pid, int port) {
    if (pid <= 0 || port <= 0) return false;
    // The inodes of the sockets listening on the port.
    std::vector<std::string> inodes;
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::istringstream lines(readFile(table));
        std::string line;
        std::getline(lines, line);  // the heading
        while (std::getline(lines, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
            if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode))
                continue;
            const size_t colon = local.rfind(':');
            if (state != "0A" || colon == std::string::npos) continue;
            if (std::stoi(local.substr(colon + 1), nullptr, 16) == port) inodes.push_back("socket:[" + inode + "]");
        }
    }
    if (inodes.empty()) return false;
    // The process and its descendants (a daemon may listen in a child).
    std::vector<pid_t> family = {pid};
    std::vector<std::pair<pid_t, pid_t>> parents;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string stat = readFile(entry.path().string() + "/stat");
        const size_t paren = stat.rfind(')');
        if (paren == std::string::npos) continue;
        std::istringstream rest(stat.substr(paren + 1));
        std::string state;
        long ppid = 0;
        if (rest >> state >> ppid) parents.emplace_back(pid_t(std::stol(name)), pid_t(ppid));
    }
    for (size_t i = 0; i < family.size(); ++i) {
        for (const auto& [child, parent] : parents) {
            if (parent == family[i]) family.push_back(child);
        }
    }
    for (pid_t member : family) {
        const std::string fdDir = "/proc/" + std::to_string(member) + "/fd";
        for (const auto& fd : fs::directory_iterator(fdDir, ec)) {
            std::error_code linkError;
            const std::string target = fs::read_symlink(fd.path(), linkError).string();
            if (linkError) continue;
            for (const auto& inode : inodes) {
                if (target == inode) return true;
            }
        }
    }
    return false;
}

bool ServerProcess::serves(pid_t pid, int port, const char* address) {
    return listens(pid, port) && canConnect(port, address);
}

std::string ServerProcess::readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void ServerProcess::openUp(const std::string& path) {
    std::error_code ec;
    for (fs::path at = path; !at.empty() && at != at.root_path(); at = at.parent_path()) {
        struct stat st {};
        if (::stat(at.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) ::chmod(at.c_str(), st.st_mode | 0755);
    }
    for (auto it = fs::recursive_directory_iterator(path, ec); it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        ::chmod(it->path().c_str(), it->is_directory() ? 0755 : 0644);
    }
}

std::string ServerProcess::workDir(const std::string& kind, const void* owner) {
    return (fs::path(::test::workDir()) / (kind + "-" + std::to_string(::getpid()) + "-" +
                                              std::to_string(reinterpret_cast<uintptr_t>(owner))))
        .string();
}

pid_t ServerProcess::spawn(const char* const* argv, const std::string& logFile, bool ownSession, int childUmask) {
    // Returns once the child runs the program: until exec it holds copies
    // of this process's sockets, and must not be taken for a server
    // listening on one of them. The pipe closes at exec (or exit).
    int execed[2] = {-1, -1};
    if (::pipe2(execed, O_CLOEXEC) != 0) execed[0] = execed[1] = -1;
    pid_t pid = ::fork();
    if (pid != 0) {
        if (execed[1] >= 0) ::close(execed[1]);
        if (execed[0] >= 0) {
            // Bounded: a child another thread forks meanwhile (and that does
            // not exec) holds the pipe too.
            pollfd p{execed[0], POLLIN, 0};
            char byte;
            while (pid > 0 && ::poll(&p, 1, 10000) > 0 && ::read(execed[0], &byte, 1) > 0) {
            }
            ::close(execed[0]);
        }
        return pid < 0 ? -1 : pid;
    }
    if (ownSession) ::setsid();
    if (childUmask >= 0) ::umask(mode_t(childUmask));
    int null = ::open("/dev/null", O_RDWR);
    int log = logFile.empty() ? -1 : ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    int out = log >= 0 ? log : null;
    if (null >= 0) ::dup2(null, 0);
    if (out >= 0) {
        ::dup2(out, 1);
        ::dup2(out, 2);
    }
    ::execv(argv[0], const_cast<char* const*>(argv));
    ::_exit(127);
}

ServerProcess::Wait ServerProcess::waitUntil(pid_t& pid, const std::function<bool()>& ready, int seconds,
                                             int pollMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            pid = -1;
            return Wait::Exited;
        }
        if (ready()) return Wait::Up;
        ::poll(nullptr, 0, pollMs);
    }
    return Wait::TimedOut;
}

bool ServerProcess::launch(pid_t& pid, const char* const* argv, const std::string& outputFile,
                           const std::function<bool()>& ready, std::string& error, const std::string& name,
                           const std::string& errorLog, int pollMs, bool ownSession) {
    pid = spawn(argv, outputFile, ownSession);
    if (pid < 0) {
        error = "fork failed";
        return false;
    }
    const Wait result = waitUntil(pid, ready, 10, pollMs);
    if (result == Wait::Up) return true;
    const std::string logs =
        (outputFile.empty() ? "" : readFile(outputFile)) + (errorLog.empty() ? "" : readFile(errorLog));
    if (result == Wait::Exited) {
        error = name + " exited: " + logs;
        return false;
    }
    error = name + " did not come up: " + logs;
    stop(pid);
    return false;
}

void ServerProcess::stop(pid_t& pid, int seconds) {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    // A fast shutdown takes milliseconds; do not wait for ever on a stuck one.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        int status = 0;
        pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid || (r < 0 && errno == ECHILD)) break;
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
        ::poll(nullptr, 0, 5);
    }
    pid = -1;
}

}  // namespace test
