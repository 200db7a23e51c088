#include "tests/support/net/NetNamespacePair.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>

#include "tests/support/TestHome.h"

namespace test {

namespace {

int openNamespace(const std::string& name) { return ::open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC); }

}  // namespace

NetNamespacePair::NetNamespacePair() {
    static std::atomic<int> counter{0};
    std::string base = "lbt" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    names_[0] = base + "a";
    names_[1] = base + "b";
}

NetNamespacePair::~NetNamespacePair() {
    if (!created_) return;
    // Deleting a namespace takes its end of the veth pair, and so the pair, with it.
    for (const auto& n : names_) shell("ip netns delete " + n + " 2>/dev/null");
}

bool NetNamespacePair::create() {
    if (created_) return true;
    if (!haveProgram("ip")) {
        error_ = "the ip tool (iproute2) is not installed";
        return false;
    }
    if (shell("ip netns add " + names_[0] + " 2>/dev/null") != 0) {
        error_ = "network namespaces cannot be made here (needs root)";
        return false;
    }
    created_ = true;
    if (shell("ip netns add " + names_[1]) != 0) {
        error_ = "the second network namespace could not be made";
        return false;
    }
    const std::string a = names_[0], b = names_[1];
    const std::string script = "ip -n " + a + " link add " + interfaceName(0) + " type veth peer name " +
                               interfaceName(1) + " netns " + b + " && ip -n " + a + " addr add " + address(0) +
                               "/24 broadcast " + broadcast() + " dev " + interfaceName(0) + " && ip -n " + b +
                               " addr add " + address(1) + "/24 broadcast " + broadcast() + " dev " +
                               interfaceName(1) + " && ip -n " + a + " link set " + interfaceName(0) +
                               " up && ip -n " + b + " link set " + interfaceName(1) + " up && ip -n " + a +
                               " link set lo up && ip -n " + b + " link set lo up && ip -n " + a +
                               " route add 224.0.0.0/4 dev " + interfaceName(0) + " && ip -n " + b +
                               " route add 224.0.0.0/4 dev " + interfaceName(1);
    if (shell(script) != 0) {
        error_ = "the veth pair between the namespaces could not be made";
        return false;
    }
    return true;
}

int NetNamespacePair::run(int side, const std::string& command) const {
    std::string quoted;
    for (char c : command) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return shell("ip netns exec " + names_[side] + " sh -c '" + quoted + "'");
}

pid_t NetNamespacePair::spawn(int side, const std::vector<std::string>& argv, const std::string& logFile) const {
    if (argv.empty()) return -1;
    int ns = openNamespace(names_[side]);
    if (ns < 0) return -1;
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = ::fork();
    if (pid == 0) {
        // Daemons may signal their whole process group when they end.
        ::setsid();
        if (::setns(ns, CLONE_NEWNET) != 0) ::_exit(126);
        int log = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int null = ::open("/dev/null", O_RDONLY);
        if (null >= 0) ::dup2(null, 0);
        if (log >= 0) {
            ::dup2(log, 1);
            ::dup2(log, 2);
        }
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ::close(ns);
    return pid;
}

void NetNamespacePair::stopProcess(pid_t pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
        int status = 0;
        pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid || (r < 0 && errno == ECHILD)) return;
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return;
        }
        ::poll(nullptr, 0, 5);
    }
}

NetNamespacePair::Enter::Enter(const NetNamespacePair& pair, int side) {
    previous_ = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    int ns = openNamespace(pair.name(side));
    if (previous_ >= 0 && ns >= 0) ok_ = ::setns(ns, CLONE_NEWNET) == 0;
    if (ns >= 0) ::close(ns);
}

NetNamespacePair::Enter::~Enter() {
    if (previous_ < 0) return;
    if (ok_) ::setns(previous_, CLONE_NEWNET);
    ::close(previous_);
}

}  // namespace test
