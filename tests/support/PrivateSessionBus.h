#pragma once

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace test {

// A session bus of the test's own (dbus-daemon --session), ended with the
// object. Nothing on it but what the test puts there.
struct PrivateSessionBus {
    std::string address;
    long pid = 0;

    bool start() {
        std::FILE* p = ::popen("dbus-daemon --session --fork --print-address=1 --print-pid=1 2>/dev/null", "r");
        if (!p) return false;
        char line[512];
        if (std::fgets(line, sizeof line, p)) address = line;
        if (std::fgets(line, sizeof line, p)) pid = std::strtol(line, nullptr, 10);
        ::pclose(p);
        while (!address.empty() && (address.back() == '\n' || address.back() == '\r')) address.pop_back();
        return !address.empty() && pid > 0;
    }
    ~PrivateSessionBus() {
        if (pid > 0) ::kill(pid_t(pid), SIGTERM);
    }
};

}  // namespace test
