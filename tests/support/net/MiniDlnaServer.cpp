#include "tests/support/TestHome.h"
#include "tests/support/net/MiniDlnaServer.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/net/NetNamespacePair.h"

namespace test {

namespace {

namespace fs = std::filesystem;

const char* kProgram = "/usr/sbin/minidlnad";

}  // namespace

MiniDlnaServer::MiniDlnaServer() = default;

MiniDlnaServer::~MiniDlnaServer() {
    stop();
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
}

bool MiniDlnaServer::installed() { return ::access(kProgram, X_OK) == 0; }

std::string MiniDlnaServer::log() const {
    std::ifstream in(dir_ + "/out.log");
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool MiniDlnaServer::start(const NetNamespacePair& pair, int side, const std::string& friendlyName, int port) {
    stop();
    if (!installed()) {
        error_ = "minidlna is not installed";
        return false;
    }
    dir_ = (fs::path(::test::workDir()) /
            ("minidlna-" + std::to_string(::getpid()) + "-" + std::to_string(reinterpret_cast<uintptr_t>(this))))
               .string();
    std::error_code ec;
    fs::remove_all(dir_, ec);
    for (const char* sub : {"media", "db", "log"}) fs::create_directories(dir_ + "/" + sub, ec);
    {
        std::ofstream conf(dir_ + "/minidlna.conf", std::ios::trunc);
        conf << "media_dir=" << dir_ << "/media\n"
             << "db_dir=" << dir_ << "/db\n"
             << "log_dir=" << dir_ << "/log\n"
             << "friendly_name=" << friendlyName << "\n"
             << "network_interface=" << NetNamespacePair::interfaceName(side) << "\n"
             << "port=" << port << "\n"
             << "inotify=no\n"
             << "notify_interval=900\n";
    }
    // -S: stay in the foreground.
    pid_ = pair.spawn(side,
                      {kProgram, "-S", "-f", dir_ + "/minidlna.conf", "-P", dir_ + "/minidlna.pid", "-r"},
                      dir_ + "/out.log");
    if (pid_ <= 0) {
        error_ = "minidlna could not be started in the namespace";
        return false;
    }
    const std::string probe = "ss -tln 2>/dev/null | grep -q ':" + std::to_string(port) + " '";
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            error_ = "minidlna exited: " + log();
            return false;
        }
        if (pair.run(side, probe) == 0) return true;
        ::poll(nullptr, 0, 20);
    }
    error_ = "minidlna did not come up: " + log();
    stop();
    return false;
}

void MiniDlnaServer::stop() {
    if (pid_ <= 0) return;
    NetNamespacePair::stopProcess(pid_);
    pid_ = -1;
}

}  // namespace test
