#include "tests/support/net/DavTestServer.h"

#include "tests/support/TestHome.h"
#include "tests/support/net/ServerProcess.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace test {

namespace {

namespace fs = std::filesystem;

constexpr const char* kDavExtModule = "/usr/lib/nginx/modules/ngx_http_dav_ext_module.so";

}  // namespace

bool DavTestServer::haveApache() {
    return ::access("/usr/sbin/apache2", X_OK) == 0 && ::access("/usr/lib/apache2/modules/mod_dav_fs.so", R_OK) == 0;
}

bool DavTestServer::haveNginxDav() {
    return ::access("/usr/sbin/nginx", X_OK) == 0 && ::access(kDavExtModule, R_OK) == 0;
}

std::string DavTestServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

bool DavTestServer::startApache(const std::string& root) {
    if (!haveApache()) {
        error_ = "apache2 with mod_dav is not installed";
        return false;
    }
    makeDir("apache-dav", true);
    const std::string absRoot = fs::absolute(root).string();
    ServerProcess::openUp(absRoot);
    const std::string mods = "/usr/lib/apache2/modules/";
    for (int attempt = 0; attempt < 5; ++attempt) {
        port_ = ServerProcess::freePort();
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
    makeDir("nginx-dav", true);
    const std::string absRoot = fs::absolute(root).string();
    ServerProcess::openUp(absRoot);
    std::error_code ec;
    fs::create_directories(dir_ + "/tmp", ec);
    for (int attempt = 0; attempt < 5; ++attempt) {
        port_ = ServerProcess::freePort();
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
    const int port = port_;
    return ServerProcess::launch(
        pid_, argv, logFile, [port] { return ServerProcess::canConnect(port); }, error_, "server",
        dir_ + "/error.log");
}

}  // namespace test
