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

bool DavTestServer::startApache(const std::string& root) { return startApacheWith(root, "", ""); }

bool DavTestServer::startApacheDigest(const std::string& root, const std::string& user, const std::string& password) {
    return startApacheWith(root, user, password);
}

std::vector<std::string> DavTestServer::requests() const {
    std::vector<std::string> out;
    std::istringstream in(ServerProcess::readFile(dir_ + "/access.log"));
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) out.push_back(line);
    return out;
}

size_t DavTestServer::statusCount(int status) const {
    size_t n = 0;
    const std::string tail = " " + std::to_string(status);
    for (const auto& line : requests()) n += line.size() > tail.size() && line.compare(line.size() - tail.size(), tail.size(), tail) == 0;
    return n;
}

bool DavTestServer::startApacheWith(const std::string& root, const std::string& user, const std::string& password) {
    if (!haveApache()) {
        error_ = "apache2 with mod_dav is not installed";
        return false;
    }
    makeDir("apache-dav", true);
    const std::string absRoot = fs::absolute(root).string();
    ServerProcess::openUp(absRoot);
    const std::string mods = "/usr/lib/apache2/modules/";
    const bool digest = !user.empty();
    // The Digest file: user:realm:md5(user:realm:password).
    if (digest && shell("printf '%s' '" + user + ":books:" + password + "' | md5sum | cut -c1-32 | sed 's/^/" + user +
                        ":books:/' > '" + dir_ + "/digest'") != 0) {
        error_ = "cannot write the digest file";
        return false;
    }
    if (digest) ::chmod((dir_ + "/digest").c_str(), 0644);
    for (int attempt = 0; attempt < 5; ++attempt) {
        port_ = ServerProcess::freePort();
        {
            std::ofstream out(dir_ + "/apache.conf", std::ios::trunc);
            for (const char* m : {"mpm_prefork", "authz_core", "dav", "dav_fs", "alias", "mime", "dir"}) {
                out << "LoadModule " << m << "_module " << mods << "mod_" << m << ".so\n";
            }
            if (digest) {
                for (const char* m : {"authn_core", "authn_file", "auth_digest", "authz_user"})
                    out << "LoadModule " << m << "_module " << mods << "mod_" << m << ".so\n";
            }
            out << "LogFormat \"%m %U %>s\" lbtest\nCustomLog \"" << dir_ << "/access.log\" lbtest\n";
            out << "ServerRoot \"" << dir_ << "\"\nDefaultRuntimeDir \"" << dir_ << "\"\nPidFile \"" << dir_
                << "/apache.pid\"\nTypesConfig /dev/null\nMutex file:" << dir_ << " default\nListen 127.0.0.1:"
                << port_ << "\nServerName 127.0.0.1\nErrorLog \"" << dir_ << "/error.log\"\nLogLevel warn\n";
            if (::geteuid() == 0) out << "User www-data\nGroup www-data\n";
            out << "StartServers 2\nMinSpareServers 2\nMaxSpareServers 4\n"
                << "DavLockDB \"" << dir_ << "/davlock\"\n"
                << "DocumentRoot \"" << dir_ << "\"\n"
                << "Alias /dav \"" << absRoot << "\"\n<Directory \"" << absRoot
                << "\">\n  Dav On\n";
            if (digest) {
                out << "  AuthType Digest\n  AuthName \"books\"\n  AuthDigestProvider file\n  AuthUserFile \"" << dir_
                    << "/digest\"\n  Require valid-user\n</Directory>\n";
            } else {
                out << "  Require all granted\n</Directory>\n";
            }
        }
        const std::string conf = dir_ + "/apache.conf";
        // Its own workers, so that a client's idle kept-alive connection does
        // not hold up the next one; in a session of its own, because its
        // master signals its whole process group when it stops.
        const char* argv[] = {"/usr/sbin/apache2", "-DFOREGROUND", "-f", conf.c_str(), nullptr};
        const int port = port_;
        if (ServerProcess::launch(pid_, argv, dir_ + "/stderr.log", [this, port] { return ServerProcess::serves(pid_, port); },
                                  error_, "apache2", dir_ + "/error.log", 10, true)) {
            return true;
        }
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
        const std::string errorLog = dir_ + "/error.log";
        const char* argv[] = {"/usr/sbin/nginx", "-p", dir_.c_str(), "-e", errorLog.c_str(),
                              "-c", conf.c_str(), nullptr};
        if (launch(argv, dir_ + "/stderr.log")) return true;
    }
    return false;
}

bool DavTestServer::launch(const char* const* argv, const std::string& logFile) {
    const int port = port_;
    return ServerProcess::launch(
        pid_, argv, logFile, [this, port] { return ServerProcess::serves(pid_, port); }, error_, "server",
        dir_ + "/error.log");
}

}  // namespace test
