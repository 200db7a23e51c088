#include "tests/support/net/SambaServer.h"

#include <algorithm>
#include <cstring>
#include <sys/socket.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/TestHome.h"

#include <gtest/gtest.h>
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
    // Modes set outright, whatever the umask: Samba wants its socket folders
    // open to all and refuses a private folder others can read.
    fs::create_directories(dir_, ec);
    fs::permissions(dir_, fs::perms(0755), ec);
    for (const char* sub : {"private", "lock", "state", "cache", "pid", "ncalrpc", "logs"}) {
        fs::create_directories(dir_ + "/" + sub, ec);
        fs::permissions(dir_ + "/" + sub, fs::perms(std::string(sub) == "private" ? 0700 : 0755), ec);
    }
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
           "  rpc start on demand helpers = no\n"
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

bool SambaServer::answersNegotiate(int port, const std::string& address) {
    std::vector<uint8_t> m = {0xFF, 'S', 'M', 'B', 0x72, 0, 0, 0, 0, 0x18, 0x43, 0xC8};
    m.resize(32, 0);
    m[28] = 0xFF;  // tree id
    m[29] = 0xFF;
    m.push_back(0);  // no words
    std::vector<uint8_t> dialects;
    for (const char* d : {"NT LM 0.12", "SMB 2.002", "SMB 2.???"}) {
        dialects.push_back(0x02);
        dialects.insert(dialects.end(), d, d + std::strlen(d) + 1);
    }
    m.push_back(uint8_t(dialects.size()));
    m.push_back(uint8_t(dialects.size() >> 8));
    m.insert(m.end(), dialects.begin(), dialects.end());
    const uint8_t frame[4] = {0, 0, uint8_t(m.size() >> 8), uint8_t(m.size())};
    m.insert(m.begin(), frame, frame + 4);

    const int fd = ServerProcess::connectTo(port, address.c_str());
    if (fd < 0) return false;
    bool answered = false;
    if (::send(fd, m.data(), m.size(), MSG_NOSIGNAL) == ssize_t(m.size())) {
        uint8_t head[8];
        size_t got = 0;
        pollfd p{fd, POLLIN, 0};
        while (got < sizeof head && ::poll(&p, 1, 5000) > 0) {
            const ssize_t k = ::recv(fd, head + got, sizeof head - got, 0);
            if (k <= 0) break;
            got += size_t(k);
        }
        answered = got == sizeof head && (head[4] == 0xFF || head[4] == 0xFE) && head[5] == 'S' && head[6] == 'M' &&
                   head[7] == 'B';
    }
    ::close(fd);
    return answered;
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
            for (const auto& share : shares) ServerProcess::openUp(share.path);
            if (rpcServices_ && !startRpcDaemon()) return false;
        }
        // A session of its own: smbd signals its whole process group when
        // it ends, which must not reach the test.
        const std::string prog = programPath("smbd");
        const std::string confArg = "--configfile=" + conf_;
        const char* argv[] = {prog.c_str(), "--foreground", "--no-process-group", "--debug-stdout", confArg.c_str(),
                              nullptr};
        pid_ = ServerProcess::spawn(argv, logFile_, true, 022);
        if (pid_ < 0) {
            error_ = "fork failed";
            return false;
        }
        // Up when every port it was given answers a negotiate (the caller's
        // lines may name more than ours; the last "smb ports" holds): a port
        // that takes connections may still drop the first ones while smbd
        // starts.
        std::vector<int> probes = {port_};
        for (size_t at = lines.find("smb ports"); at != std::string::npos; at = lines.find("smb ports", at + 1)) {
            const size_t equals = lines.find('=', at), end = lines.find('\n', at);
            std::istringstream words(lines.substr(equals + 1, end == std::string::npos ? end : end - equals - 1));
            probes.clear();
            for (int p; words >> p;) probes.push_back(p);
        }
        const std::string address = address_;
        const auto result = ServerProcess::waitUntil(
            pid_,
            [this, &probes, &address] {
                // Ours: another test's server may have taken a port first,
                // and this smbd is then about to exit.
                return std::all_of(probes.begin(), probes.end(), [&](int p) {
                    // Port 139 wants a NetBIOS session first.
                    return ServerProcess::serves(pid_, p, address.c_str()) && (p == 139 || answersNegotiate(p, address));
                });
            },
            15, 10);
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

bool SambaServer::startRpcDaemon() {
    const std::string prog = "/usr/libexec/samba/samba-dcerpcd";
    if (::access(prog.c_str(), X_OK) != 0) return true;  // an older Samba: smbd serves the pipes itself
    const std::string confArg = "--configfile=" + conf_;
    const char* argv[] = {prog.c_str(), "--foreground", "--no-process-group", "--debug-stdout", "--libexec-rpcds",
                          confArg.c_str(), nullptr};
    rpcPid_ = ServerProcess::spawn(argv, dir_ + "/rpc.log", true, 022);
    if (rpcPid_ < 0) {
        error_ = "fork failed";
        return false;
    }
    // Ready once it listens for smbd's pipe connections.
    const std::string srvsvc = dir_ + "/ncalrpc/np/srvsvc";
    switch (ServerProcess::waitUntil(rpcPid_, [&] { return ::access(srvsvc.c_str(), F_OK) == 0; }, 15, 10)) {
    case ServerProcess::Wait::Up: return true;
    case ServerProcess::Wait::Exited: error_ = "samba-dcerpcd exited: " + ServerProcess::readFile(dir_ + "/rpc.log"); break;
    case ServerProcess::Wait::TimedOut: error_ = "samba-dcerpcd did not come up: " + ServerProcess::readFile(dir_ + "/rpc.log"); break;
    }
    stop();
    return false;
}

std::vector<pid_t> SambaServer::processes() const {
    std::vector<pid_t> found;
    if (conf_.empty()) return found;
    // Our configuration file names this server alone.
    const std::string mark = "--configfile=" + conf_;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string args = ServerProcess::readFile(entry.path().string() + "/cmdline");
        for (size_t at = 0; at < args.size();) {
            size_t end = args.find('\0', at);
            if (end == std::string::npos) end = args.size();
            if (args.compare(at, end - at, mark) == 0) {
                found.push_back(pid_t(std::stol(name)));
                break;
            }
            at = end + 1;
        }
    }
    return found;
}

void SambaServer::stop() {
    if (pid_ > 0) NetNamespacePair::stopProcess(pid_);
    pid_ = -1;
    if (rpcPid_ > 0) NetNamespacePair::stopProcess(rpcPid_);
    rpcPid_ = -1;
    // Children of smbd and samba-dcerpcd end with their parents, a moment
    // later; anything of this configuration still there after that is
    // stopped by its id, and said.
    for (int waited = 0; waited < 5000; waited += 10) {
        if (processes().empty()) return;
        ::poll(nullptr, 0, 10);
    }
    const std::vector<pid_t> left = processes();
    for (pid_t p : left) ::kill(p, SIGKILL);
    const std::string what = std::to_string(left.size()) + " process(es) of " + conf_ + " outlived their server";
    // Inside a test or its suite's set-up and tear-down the run fails; elsewhere it is said.
    if (::testing::UnitTest::GetInstance()->current_test_suite()) ADD_FAILURE() << what;
    else std::fprintf(stderr, "SambaServer: %s\n", what.c_str());
}

}  // namespace test
