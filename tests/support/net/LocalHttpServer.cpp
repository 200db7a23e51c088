#include "tests/support/net/LocalHttpServer.h"

#include "tests/support/TestHome.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace test {

namespace {

namespace fs = std::filesystem;

int freePort() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    int port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
        port = ntohs(addr.sin_port);
    }
    if (fd >= 0) ::close(fd);
    return port;
}

bool canConnect(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(uint16_t(port));
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// The server's own user must reach the served files.
void openUp(const fs::path& p) {
    std::error_code ec;
    for (fs::path at = p; !at.empty() && at != at.root_path(); at = at.parent_path()) {
        struct stat st {};
        if (::stat(at.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) ::chmod(at.c_str(), st.st_mode | 0755);
    }
    for (auto it = fs::recursive_directory_iterator(p, ec); it != fs::recursive_directory_iterator(); it.increment(ec)) {
        ::chmod(it->path().c_str(), it->is_directory() ? 0755 : 0644);
    }
}

}  // namespace

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
    pid_t pid = ::fork();
    if (pid < 0) {
        error_ = "fork failed";
        return false;
    }
    if (pid == 0) {
        int null = ::open("/dev/null", O_RDWR);
        int log = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        ::dup2(null, 0);
        ::dup2(log >= 0 ? log : null, 1);
        ::dup2(log >= 0 ? log : null, 2);
        ::execv(argv[0], const_cast<char* const*>(argv));
        ::_exit(127);
    }
    pid_ = pid;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            error_ = "server exited: " + slurp(logFile);
            return false;
        }
        if (canConnect(port_)) return true;
        ::poll(nullptr, 0, 10);
    }
    error_ = "server did not come up: " + slurp(logFile);
    stop();
    return false;
}

bool LocalHttpServer::startApache(const std::string& root, const std::string& user, const std::string& password) {
    const std::string prog = apacheProgram();
    if (prog.empty()) {
        error_ = "apache2 is not installed";
        return false;
    }
    dir_ = (fs::path(LEAFBRIGHT_TEST_WORK) / ("apache-" + std::to_string(::getpid()) + "-" +
                                              std::to_string(reinterpret_cast<uintptr_t>(this))))
               .string();
    std::error_code ec;
    fs::create_directories(dir_, ec);
    const std::string absRoot = fs::absolute(root).string();
    openUp(absRoot);
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
        port_ = freePort();
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
            out << "StartServers 1\nMinSpareServers 1\nMaxSpareServers 2\n"
                << "DocumentRoot \"" << absRoot << "\"\n<Directory \"" << absRoot
                << "\">\n  Options +Indexes\n  IndexOptions FancyIndexing\n  Require all granted\n</Directory>\n"
                << "<Location \"/locked\">\n  AuthType Digest\n  AuthName \"books\"\n  AuthDigestProvider file\n"
                << "  AuthUserFile \"" << dir_ << "/digest\"\n  Require valid-user\n</Location>\n";
        }
        const std::string conf = dir_ + "/apache.conf";
        const char* argv[] = {prog.c_str(), "-X", "-f", conf.c_str(), nullptr};
        if (launch(argv, dir_ + "/stderr.log")) return true;
    }
    return false;
}

bool LocalHttpServer::startPython(const std::string& root) {
    dir_ = (fs::path(LEAFBRIGHT_TEST_WORK) / ("python-" + std::to_string(::getpid()) + "-" +
                                              std::to_string(reinterpret_cast<uintptr_t>(this))))
               .string();
    std::error_code ec;
    fs::create_directories(dir_, ec);
    const std::string absRoot = fs::absolute(root).string();
    for (int attempt = 0; attempt < 5; ++attempt) {
        port_ = freePort();
        const std::string port = std::to_string(port_);
        const char* argv[] = {"/usr/bin/python3", "-m", "http.server", port.c_str(), "--bind", "127.0.0.1",
                              "--directory", absRoot.c_str(), nullptr};
        if (launch(argv, dir_ + "/stderr.log")) return true;
    }
    return false;
}

void LocalHttpServer::stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        int status = 0;
        pid_t r = ::waitpid(pid_, &status, WNOHANG);
        if (r == pid_ || r < 0) break;
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            break;
        }
        ::poll(nullptr, 0, 5);
    }
    pid_ = -1;
}

}  // namespace test
