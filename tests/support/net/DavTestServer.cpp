#include "tests/support/net/DavTestServer.h"

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

namespace test {

namespace {

namespace fs = std::filesystem;

constexpr const char* kDavExtModule = "/usr/lib/nginx/modules/ngx_http_dav_ext_module.so";

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

DavTestServer::~DavTestServer() {
    stop();
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
}

bool DavTestServer::haveApache() {
    return ::access("/usr/sbin/apache2", X_OK) == 0 && ::access("/usr/lib/apache2/modules/mod_dav_fs.so", R_OK) == 0;
}

bool DavTestServer::haveNginxDav() {
    return ::access("/usr/sbin/nginx", X_OK) == 0 && ::access(kDavExtModule, R_OK) == 0;
}

std::string DavTestServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void DavTestServer::makeDir(const char* kind) {
    dir_ = (fs::path(LEAFBRIGHT_TEST_WORK) /
            (std::string(kind) + "-" + std::to_string(::getpid()) + "-" +
             std::to_string(reinterpret_cast<uintptr_t>(this))))
               .string();
    std::error_code ec;
    fs::create_directories(dir_, ec);
    ::chmod(dir_.c_str(), 0777);
}

bool DavTestServer::startApache(const std::string& root) {
    if (!haveApache()) {
        error_ = "apache2 with mod_dav is not installed";
        return false;
    }
    makeDir("apache-dav");
    const std::string absRoot = fs::absolute(root).string();
    openUp(absRoot);
    const std::string mods = "/usr/lib/apache2/modules/";
    for (int attempt = 0; attempt < 5; ++attempt) {
        port_ = freePort();
        {
            std::ofstream out(dir_ + "/apache.conf", std::ios::trunc);
            for (const char* m : {"mpm_prefork", "authz_core", "dav", "dav_fs", "alias", "mime", "dir"}) {
                out << "LoadModule " << m << "_module " << mods << "mod_" << m << ".so\n";
            }
            out << "ServerRoot \"" << dir_ << "\"\nDefaultRuntimeDir \"" << dir_ << "\"\nPidFile \"" << dir_
                << "/apache.pid\"\nTypesConfig /dev/null\nMutex file:" << dir_ << " default\nListen 127.0.0.1:"
                << port_ << "\nServerName 127.0.0.1\nErrorLog \"" << dir_ << "/error.log\"\nLogLevel warn\n";
            if (::geteuid() == 0) out << "User www-data\nGroup www-data\n";
            out << "StartServers 1\nMinSpareServers 1\nMaxSpareServers 2\n"
                << "DavLockDB \"" << dir_ << "/davlock\"\n"
                << "DocumentRoot \"" << dir_ << "\"\n"
                << "Alias /dav \"" << absRoot << "\"\n<Directory \"" << absRoot
                << "\">\n  Dav On\n  Require all granted\n</Directory>\n";
        }
        const std::string conf = dir_ + "/apache.conf";
        const char* argv[] = {"/usr/sbin/apache2", "-X", "-f", conf.c_str(), nullptr};
        if (launch(argv, dir_ + "/stderr.log")) return true;
    }
    return false;
}

bool DavTestServer::startNginx(const std::string& root) {
    if (!haveNginxDav()) {
        error_ = "nginx with the dav-ext module is not installed";
        return false;
    }
    makeDir("nginx-dav");
    const std::string absRoot = fs::absolute(root).string();
    openUp(absRoot);
    std::error_code ec;
    fs::create_directories(dir_ + "/tmp", ec);
    for (int attempt = 0; attempt < 5; ++attempt) {
        port_ = freePort();
        {
            std::ofstream out(dir_ + "/nginx.conf", std::ios::trunc);
            out << "load_module " << kDavExtModule << ";\n";
            if (::geteuid() == 0) out << "user root;\n";
            out << "daemon off;\nmaster_process off;\npid " << dir_ << "/nginx.pid;\nerror_log " << dir_
                << "/error.log warn;\nevents { worker_connections 64; }\nhttp {\n  access_log off;\n"
                << "  client_body_temp_path " << dir_ << "/tmp;\n  proxy_temp_path " << dir_ << "/tmp;\n"
                << "  fastcgi_temp_path " << dir_ << "/tmp;\n  uwsgi_temp_path " << dir_ << "/tmp;\n"
                << "  scgi_temp_path " << dir_ << "/tmp;\n"
                << "  server {\n    listen 127.0.0.1:" << port_ << ";\n"
                << "    location /dav/ { alias " << absRoot << "/; dav_ext_methods PROPFIND OPTIONS; }\n  }\n}\n";
        }
        const std::string conf = dir_ + "/nginx.conf";
        const char* argv[] = {"/usr/sbin/nginx", "-p", dir_.c_str(), "-e", (dir_ + "/error.log").c_str(),
                              "-c", conf.c_str(), nullptr};
        const std::string errorLog = dir_ + "/error.log";
        argv[4] = errorLog.c_str();
        if (launch(argv, dir_ + "/stderr.log")) return true;
    }
    return false;
}

bool DavTestServer::launch(const char* const* argv, const std::string& logFile) {
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
            error_ = "server exited: " + slurp(logFile) + slurp(dir_ + "/error.log");
            return false;
        }
        if (canConnect(port_)) return true;
        ::poll(nullptr, 0, 10);
    }
    error_ = "server did not come up: " + slurp(logFile);
    stop();
    return false;
}

void DavTestServer::stop() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        for (int i = 0; i < 200 && ::waitpid(pid_, &status, WNOHANG) == 0; ++i) ::poll(nullptr, 0, 10);
        if (::waitpid(pid_, &status, WNOHANG) == 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
        }
        pid_ = -1;
    }
}

}  // namespace test
