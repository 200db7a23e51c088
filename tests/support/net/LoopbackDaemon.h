#pragma once

#include <string>
#include <sys/types.h>

namespace test {

// What a loopback test server that runs as one child daemon keeps: its
// private folder (configuration and logs), its port and pid, and why the
// last start failed. The daemon stops and the folder goes with the object.
class LoopbackDaemon {
public:
    LoopbackDaemon(const LoopbackDaemon&) = delete;
    LoopbackDaemon& operator=(const LoopbackDaemon&) = delete;

    void stop();
    int port() const { return port_; }
    const std::string& lastError() const { return error_; }

protected:
    LoopbackDaemon() = default;
    ~LoopbackDaemon();

    // A fresh private folder for a daemon of `kind`; with `openToAll`, one a
    // daemon that drops to another user can write to.
    void makeDir(const char* kind, bool openToAll = false);

    std::string dir_;
    std::string error_;
    int port_ = 0;
    pid_t pid_ = -1;
};

}  // namespace test
