#include "tests/support/net/CaddyServer.h"

#include "tests/support/net/ServerProcess.h"

#include <filesystem>
#include <unistd.h>

namespace test {

namespace {
constexpr const char* kCaddy = "/usr/bin/caddy";
}

bool CaddyServer::haveCaddy() { return ::access(kCaddy, X_OK) == 0; }

std::string CaddyServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

bool CaddyServer::start(const std::string& root) {
    if (!haveCaddy()) {
        error_ = "caddy is not installed";
        return false;
    }
    makeDir("caddy");
    const std::string absRoot = std::filesystem::absolute(root).string();
    const std::string home = "HOME=" + dir_, config = "XDG_CONFIG_HOME=" + dir_ + "/config",
                      data = "XDG_DATA_HOME=" + dir_ + "/data";
    for (int attempt = 0; attempt < 5; ++attempt) {
        port_ = ServerProcess::freePort();
        const std::string listen = "127.0.0.1:" + std::to_string(port_);
        const char* argv[] = {"/usr/bin/env", home.c_str(), config.c_str(), data.c_str(), kCaddy, "file-server",
                              "--browse", "--listen", listen.c_str(), "--root", absRoot.c_str(), nullptr};
        const int port = port_;
        if (ServerProcess::launch(pid_, argv, dir_ + "/caddy.log", [this, port] { return ServerProcess::serves(pid_, port); },
                                  error_, "caddy")) {
            return true;
        }
    }
    return false;
}

}  // namespace test
