#include "tests/support/net/LoopbackDaemon.h"

#include "tests/support/net/ServerProcess.h"

#include <filesystem>
#include <sys/stat.h>

namespace test {

LoopbackDaemon::~LoopbackDaemon() {
    stop();
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
}

void LoopbackDaemon::stop() { ServerProcess::stop(pid_); }

void LoopbackDaemon::makeDir(const char* kind, bool openToAll) {
    dir_ = ServerProcess::workDir(kind, this);
    std::error_code ec;
    std::filesystem::create_directories(dir_, ec);
    if (openToAll) ::chmod(dir_.c_str(), 0777);
}

}  // namespace test
