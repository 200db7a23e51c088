#pragma once

#include "tests/support/TestHome.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace test {

// A session bus of the test's own, ended with the object. Nothing on it but
// what the test puts there: its configuration is its own, with none of the
// machine's session service folders, so a call naming a service the
// machine has installed (a desktop's portal, keyring or notification
// daemon) never starts that service on it.
struct PrivateSessionBus {
    std::string address;
    long pid = 0;

    // The configuration of such a bus, listening on `listen` (a D-Bus
    // address): anyone may own any name and send anything; no service is
    // ever started on demand.
    static std::string configuration(const std::string& listen) {
        return "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
               "<busconfig>\n"
               "  <type>session</type>\n"
               "  <listen>" + listen + "</listen>\n"
               "  <auth>EXTERNAL</auth>\n"
               "  <policy context=\"default\">\n"
               "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
               "    <allow eavesdrop=\"true\"/>\n"
               "    <allow own=\"*\"/>\n"
               "  </policy>\n"
               "</busconfig>\n";
    }

    bool start() {
        folder_ = std::make_unique<TempDir>("bus");
        const std::string config = folder_->file("bus.conf");
        writeFile(config, configuration("unix:tmpdir=/tmp"));
        const std::string command =
            "dbus-daemon --config-file='" + config + "' --fork --print-address=1 --print-pid=1 2>/dev/null";
        std::FILE* p = ::popen(command.c_str(), "r");
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

private:
    std::unique_ptr<TempDir> folder_;
};

}  // namespace test
