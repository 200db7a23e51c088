#include "tests/support/net/SambaServer.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/TestHome.h"
#include "tests/support/net/NetNamespacePair.h"
#include "tests/support/net/ServerProcess.h"

namespace test {

namespace {

namespace fs = std::filesystem;

std::string programPath(const std::string& name) {
    for (const char* dir : {"/usr/sbin/", "/usr/bin/", "/usr/local/sbin/", "/usr/local/bin/"}) {
        std::string p = dir + name;
        if (::access(p.c_str(), X_OK) == 0) return p;
    }
    return "";
}

}  // namespace

SambaServer::SambaServer() = default;

SambaServer::~SambaServer() {
    stop();
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
}

std::string SambaServer::missingPrograms() {
    std::string missing;
    for (const char* p : {"smbd", "nmbd", "smbpasswd"}) {
        if (programPath(p).empty()) missing += std::string(missing.empty() ? "" : ", ") + p;
    }
    return missing;
}

std::string SambaServer::log() const { return ServerProcess::readFile(logFile_); }

bool SambaServer::prepare(const std::string& tag) {
    std::string missing = missingPrograms();
    if (!missing.empty()) {
        error_ = "Samba is not installed (" + missing + ")";
        return false;
    }
    dir_ = ServerProcess::workDir(tag, this);
    std::error_code ec;
    fs::remove_all(dir_, ec);
    for (const char* sub : {"private", "lock", "state", "cache", "pid", "ncalrpc", "logs"}) {
        fs::create_directories(dir_ + "/" + sub, ec);
    }
    // Samba refuses a private folder others can read.
    fs::permissions(dir_ + "/private", fs::perms::owner_all, ec);
    conf_ = dir_ + "/smb.conf";
    logFile_ = dir_ + "/daemon.log";
    return true;
}

bool SambaServer::writeConfig(const std::string& globalLines, const std::vector<Share>& shares) {
    std::ofstream out(conf_, std::ios::trunc);
    out << "[global]\n"
           "  workgroup = LBTESTGROUP\n"
           "  server role = standalone server\n"
           "  private dir = "
        << dir_ << "/private\n"
        << "  lock directory = " << dir_ << "/lock\n"
        << "  state directory = " << dir_ << "/state\n"
        << "  cache directory = " << dir_ << "/cache\n"
        << "  pid directory = " << dir_ << "/pid\n"
        << "  ncalrpc dir = " << dir_ << "/ncalrpc\n"
        << "  log file = " << dir_ << "/logs/log.%m\n"
        << "  passdb backend = tdbsam:" << dir_ << "/private/passdb.tdb\n"
        << "  load printers = no\n"
           "  printing = bsd\n"
           "  printcap name = /dev/null\n"
           "  disable spoolss = yes\n"
           "  map to guest = never\n"
           "  log level = 1\n"
        << globalLines << "\n";
    for (const auto& s : shares) {
        out << "[" << s.name << "]\n"
            << "  path = " << s.path << "\n"
            << "  read only = " << (s.writable ? "no" : "yes") << "\n"
            << "  guest ok = " << (s.guestOk ? "yes" : "no") << "\n"
            << s.lines;
    }
    return bool(out);
}

bool SambaServer::addUser(const User& user) {
    if (shell("id -u '" + user.name + "' >/dev/null 2>&1") != 0) {
        // Another test may be making the same account at this moment.
        shell("useradd -M -N -s /usr/sbin/nologin '" + user.name + "' >/dev/null 2>&1");
        if (shell("id -u '" + user.name + "' >/dev/null 2>&1") != 0) {
            error_ = "could not make the Unix account " + user.name;
            return false;
        }
    }
    std::string pwFile = dir_ + "/pw.txt";
    {
        std::ofstream pw(pwFile, std::ios::trunc);
        pw << user.password << "\n" << user.password << "\n";
    }
    int rc = shell(programPath("smbpasswd") + " -c " + conf_ + " -s -a '" + user.name + "' < " + pwFile +
                   " >/dev/null 2>&1");
    std::error_code ec;
    fs::remove(pwFile, ec);
    if (rc != 0) {
        error_ = "smbpasswd could not add " + user.name;
        return false;
    }
    return true;
}

bool SambaServer::startSmbd(const std::string& globalLines, int port, const std::vector<Share>& shares,
                            const std::vector<User>& users) {
    stop();
    if (!prepare("smbd")) return false;
    for (int attempt = 0; attempt < 5; ++attempt) {
        port_ = port ? port : ServerProcess::freePort();
        if (!port_) {
            error_ = "no free port";
            return false;
        }
        std::string lines = "  smb ports = " + std::to_string(port_) +
                            "\n"
                            "  interfaces = " + address_ + "\n"
                            "  bind interfaces only = yes\n"
                            "  disable netbios = yes\n" +
                            globalLines;
        if (!writeConfig(lines, shares)) {
            error_ = "could not write " + conf_;
            return false;
        }
        if (attempt == 0) {
            for (const auto& u : users) {
                if (!addUser(u)) return false;
            }
        }
        // A session of its own: smbd signals its whole process group when
        // it ends, which must not reach the test.
        const std::string prog = programPath("smbd");
        const std::string confArg = "--configfile=" + conf_;
        const char* argv[] = {prog.c_str(), "--foreground", "--no-process-group", "--debug-stdout", confArg.c_str(),
                              nullptr};
        pid_ = ServerProcess::spawn(argv, logFile_, true);
        if (pid_ < 0) {
            error_ = "fork failed";
            return false;
        }
        const int probe = port_;
        const std::string address = address_;
        const auto result = ServerProcess::waitUntil(
            pid_, [probe, address] { return ServerProcess::canConnect(probe, address.c_str()); }, 15, 10);
        const bool up = result == ServerProcess::Wait::Up, died = result == ServerProcess::Wait::Exited;
        if (up) return true;
        if (!died) {
            stop();
            error_ = "smbd did not come up: " + log();
            return false;
        }
        error_ = "smbd exited: " + log();
        if (port) return false;  // a port of the caller's: no other to try
    }
    return false;
}

bool SambaServer::startNmbd(const NetNamespacePair& pair, int side, const std::string& netbiosName,
                            const std::string& globalLines) {
    stop();
    if (!prepare("nmbd")) return false;
    std::string lines = "  netbios name = " + netbiosName + "\n  interfaces = " +
                        NetNamespacePair::interfaceName(side) +
                        "\n"
                        "  bind interfaces only = yes\n"
                        "  disable netbios = no\n"
                        "  local master = no\n"
                        "  domain master = no\n"
                        "  preferred master = no\n"
                        "  wins support = no\n" +
                        globalLines;
    if (!writeConfig(lines, {})) {
        error_ = "could not write " + conf_;
        return false;
    }
    pid_ = pair.spawn(side,
                      {programPath("nmbd"), "--foreground", "--no-process-group", "--debug-stdout",
                       "--configfile=" + conf_},
                      logFile_);
    if (pid_ <= 0) {
        error_ = "nmbd could not be started in the namespace";
        return false;
    }
    // nmbd has no port to probe from outside; it is up when it has not died
    // and has opened its sockets (the caller resolves a name to be sure).
    switch (ServerProcess::waitUntil(
        pid_, [&pair, side] { return pair.run(side, "ss -uln 2>/dev/null | grep -q ':137 '") == 0; }, 10, 20)) {
    case ServerProcess::Wait::Up:
        return true;
    case ServerProcess::Wait::Exited:
        error_ = "nmbd exited: " + log();
        return false;
    case ServerProcess::Wait::TimedOut:
        break;
    }
    error_ = "nmbd did not open its port: " + log();
    stop();
    return false;
}

void SambaServer::stop() {
    if (pid_ <= 0) return;
    NetNamespacePair::stopProcess(pid_);
    pid_ = -1;
}

}  // namespace test
