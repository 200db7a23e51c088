#include "tests/support/net/LocalHttpServer.h"

#include "tests/support/TestHome.h"
#include "tests/support/net/ServerProcess.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace test {

namespace fs = std::filesystem;

LocalHttpServer::~LocalHttpServer() {
    stop();
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
}

std::string LocalHttpServer::apacheProgram() {
    return ::access("/usr/sbin/apache2", X_OK) == 0 ? "/usr/sbin/apache2" : "";
}

std::string LocalHttpServer::url(const std::string& pathAndQuery) const {
    return "http://127.0.0.1:" + std::to_string(port_) + pathAndQuery;
}

bool LocalHttpServer::launch(const char* const* argv, const std::string& logFile) {
    const int port = port_;
    return ServerProcess::launch(
        pid_, argv, logFile, [this, port] { return ServerProcess::serves(pid_, port); }, error_);
}

bool LocalHttpServer::startApache(const std::string& root, const std::string& user, const std::string& password,
                                  bool fancy) {
    const std::string prog = apacheProgram();
    if (prog.empty()) {
        error_ = "apache2 is not installed";
        return false;
    }
    dir_ = ServerProcess::workDir("apache", this);
    std::error_code ec;
    fs::create_directories(dir_, ec);
    const std::string absRoot = fs::absolute(root).string();
    // The server's own user must reach the served files.
    ServerProcess::openUp(absRoot);
    // The Digest file: user:realm:md5(user:realm:password).
    if (shell("printf '%s' '" + user + ":books:" + password + "' | md5sum | cut -c1-32 | sed 's/^/" + user +
              ":books:/' > '" + dir_ + "/digest'") != 0) {
        error_ = "cannot write the digest file";
        return false;
    }
    ::chmod((dir_ + "/digest").c_str(), 0644);
    ::chmod(dir_.c_str(), 0755);
    const std::string mods = "/usr/lib/apache2/modules/";
    for (int attempt = 0; attempt < 5; ++attempt) {
        port_ = ServerProcess::freePort();
        {
            std::ofstream out(dir_ + "/apache.conf", std::ios::trunc);
            for (const char* m : {"mpm_prefork", "authz_core", "authn_core", "authn_file", "auth_digest", "authz_user",
                                  "autoindex", "dir", "mime", "alias"}) {
                out << "LoadModule " << m << "_module " << mods << "mod_" << m << ".so\n";
            }
            out << "ServerRoot \"" << dir_ << "\"\nDefaultRuntimeDir \"" << dir_ << "\"\nPidFile \"" << dir_
                << "/apache.pid\"\nTypesConfig /dev/null\nMutex file:" << dir_ << " default\nListen 127.0.0.1:" << port_
                << "\nServerName 127.0.0.1\nErrorLog \"" << dir_ << "/error.log\"\nLogLevel warn\n";
            if (::geteuid() == 0) out << "User www-data\nGroup www-data\n";
            out << "StartServers 2\nMinSpareServers 2\nMaxSpareServers 4\n"
                << "DocumentRoot \"" << absRoot << "\"\n<Directory \"" << absRoot
                << "\">\n  Options +Indexes\n  IndexOptions " << (fancy ? "FancyIndexing" : "-FancyIndexing")
                << "\n  Require all granted\n</Directory>\n"
                << "<Location \"/locked\">\n  AuthType Digest\n  AuthName \"books\"\n  AuthDigestProvider file\n"
                << "  AuthUserFile \"" << dir_ << "/digest\"\n  Require valid-user\n</Location>\n";
        }
        const std::string conf = dir_ + "/apache.conf";
        // Its own workers, so that a client's idle kept-alive connection does
        // not hold up the next one; in a session of its own, because its
        // master signals its whole process group when it stops.
        const char* argv[] = {prog.c_str(), "-DFOREGROUND", "-f", conf.c_str(), nullptr};
        const int port = port_;
        if (ServerProcess::launch(pid_, argv, dir_ + "/stderr.log", [this, port] { return ServerProcess::serves(pid_, port); },
                                  error_, "apache2", "", 10, true)) {
            return true;
        }
    }
    return false;
}

bool LocalHttpServer::startPython(const std::string& root) {
    dir_ = ServerProcess::workDir("python", this);
    std::error_code ec;
    fs::create_directories(dir_, ec);
    const std::string absRoot = fs::absolute(root).string();
    for (int attempt = 0; attempt < 5; ++attempt) {
        port_ = ServerProcess::freePort();
        const std::string port = std::to_string(port_);
        const char* argv[] = {"/usr/bin/python3", "-m", "http.server", port.c_str(), "--bind", "127.0.0.1",
                              "--directory", absRoot.c_str(), nullptr};
        if (launch(argv, dir_ + "/stderr.log")) return true;
    }
    return false;
}

void LocalHttpServer::stop() { ServerProcess::stop(pid_); }

}  // namespace test
