#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace test {

// Two private network namespaces joined by a veth pair, made by the test and
// removed when the object goes away: side 0 holds 10.77.0.1/24, side 1
// 10.77.0.2/24 (broadcast 10.77.0.255), each with its loopback up and a
// multicast route through the veth (SSDP's group lies beyond it). Nothing
// of the machine's own network is touched, so traffic between the sides
// never leaves them. Making namespaces needs root (CAP_SYS_ADMIN); tests
// skip with lastError() where they cannot be made.
class NetNamespacePair {
public:
    NetNamespacePair();
    ~NetNamespacePair();
    NetNamespacePair(const NetNamespacePair&) = delete;
    NetNamespacePair& operator=(const NetNamespacePair&) = delete;

    bool create();
    const std::string& lastError() const { return error_; }

    const std::string& name(int side) const { return names_[side]; }
    static std::string address(int side) { return side == 0 ? "10.77.0.1" : "10.77.0.2"; }
    static std::string broadcast() { return "10.77.0.255"; }
    static std::string interfaceName(int side) { return side == 0 ? "lbveth0" : "lbveth1"; }

    // Runs a shell command inside a side; returns its exit status.
    int run(int side, const std::string& command) const;
    // Starts a program inside a side with its output going to `logFile`;
    // the caller stops it (stopProcess). -1 when it could not start.
    pid_t spawn(int side, const std::vector<std::string>& argv, const std::string& logFile) const;
    // SIGTERM, then SIGKILL after a bounded wait.
    static void stopProcess(pid_t pid);

    // While it lives, the calling thread (and threads it starts) use a
    // side's network: sockets, interface lists, routes.
    class Enter {
    public:
        Enter(const NetNamespacePair& pair, int side);
        ~Enter();
        Enter(const Enter&) = delete;
        Enter& operator=(const Enter&) = delete;
        bool ok() const { return ok_; }

    private:
        int previous_ = -1;
        bool ok_ = false;
    };

private:
    std::string names_[2];
    std::string error_;
    bool created_ = false;
};

}  // namespace test
