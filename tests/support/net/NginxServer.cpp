#include "tests/support/net/NginxServer.h"

#include "tests/support/net/ServerProcess.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <pwd.h>
#include <sstream>
#include <unistd.h>

namespace test {

namespace fs = std::filesystem;

NginxServer::NginxServer() = default;

NginxServer::~NginxServer() {
    stop();
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
}

std::string NginxServer::program() {
    for (const char* p : {"/usr/sbin/nginx", "/usr/local/sbin/nginx", "/usr/bin/nginx"}) {
        if (::access(p, X_OK) == 0) return p;
    }
    return "";
}

std::string NginxServer::url(const std::string& pathAndQuery) const {
    return (certFile_.empty() ? "http://127.0.0.1:" : "https://127.0.0.1:") + std::to_string(port_) + pathAndQuery;
}

bool NginxServer::start(const std::string& root) {
    if (running()) return true;
    if (program().empty()) {
        error_ = "nginx is not installed";
        return false;
    }
    root_ = fs::absolute(root).string();
    dir_ = ServerProcess::workDir("nginx", this);
    std::error_code ec;
    fs::remove_all(dir_, ec);
    fs::create_directories(dir_ + "/tmp", ec);
    // Another process may take the port between our probe and nginx's bind:
    // then try another.
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (launch()) return true;
    }
    return false;
}

bool NginxServer::launch() {
    port_ = ServerProcess::freePort();
    if (port_ == 0) {
        error_ = "no free port";
        return false;
    }
    std::string conf = dir_ + "/nginx.conf";
    {
        std::ofstream out(conf, std::ios::trunc);
        // As root the workers would otherwise run as nobody, who may not read
        // the test's folders.
        if (::geteuid() == 0) out << "user root;\n";
        out << "daemon off;\n"
               "worker_processes 1;\n"
               "pid "
            << dir_ << "/nginx.pid;\n"
            << "error_log " << dir_ << "/error.log warn;\n"
            << "events { worker_connections 256; }\n"
               "http {\n"
               "  default_type application/octet-stream;\n"
               "  types { }\n"
               "  log_format lbtest '$request_method \"$request_uri\" \"$http_range\" $status $body_bytes_sent \"$remote_user\"';\n"
               "  access_log "
            << dir_ << "/access.log lbtest;\n"
            << "  client_body_temp_path " << dir_ << "/tmp/body;\n"
            << "  proxy_temp_path " << dir_ << "/tmp/proxy;\n"
            << "  fastcgi_temp_path " << dir_ << "/tmp/fastcgi;\n"
            << "  uwsgi_temp_path " << dir_ << "/tmp/uwsgi;\n"
            << "  scgi_temp_path " << dir_ << "/tmp/scgi;\n"
            << "  sendfile on;\n"
               "  keepalive_timeout 5;\n"
               "  server {\n"
               "    listen 127.0.0.1:"
            << port_ << (certFile_.empty() ? "" : " ssl") << ";\n"
            << "    server_name localhost;\n"
               "    root "
            << root_ << ";\n";
        if (!certFile_.empty()) {
            out << "    ssl_certificate " << certFile_ << ";\n    ssl_certificate_key " << keyFile_ << ";\n";
        }
        out << serverConfig_ << "\n"
            << "    location / { " << locationConfig_ << " }\n"
               "  }\n"
               "}\n";
    }
    std::error_code ec;
    fs::remove(dir_ + "/access.log", ec);

    std::string prog = program();
    std::string prefix = dir_ + "/";
    std::string errorLog = dir_ + "/error.log";
    // Quiet: its messages go to its own log.
    const char* argv[] = {prog.c_str(), "-p", prefix.c_str(), "-e", errorLog.c_str(), "-c", conf.c_str(), nullptr};
    const int port = port_;
    // Wait (real time, bounded) until it accepts connections or dies.
    return ServerProcess::launch(
        pid_, argv, "", [this, port] { return ServerProcess::serves(pid_, port); }, error_, "nginx", errorLog);
}

void NginxServer::stop() { ServerProcess::stop(pid_); }

std::vector<NginxServer::Request> NginxServer::requests() const {
    std::vector<Request> out;
    std::istringstream in(ServerProcess::readFile(dir_ + "/access.log"));
    std::string line;
    while (std::getline(in, line)) {
        // METHOD "target" "range" status bytes "user"
        Request r;
        size_t sp = line.find(' ');
        size_t q1 = line.find('"', sp);
        size_t q2 = line.find('"', q1 + 1);
        size_t q3 = line.find('"', q2 + 1);
        size_t q4 = line.find('"', q3 + 1);
        if (sp == std::string::npos || q4 == std::string::npos) continue;
        r.method = line.substr(0, sp);
        r.target = line.substr(q1 + 1, q2 - q1 - 1);
        r.range = line.substr(q3 + 1, q4 - q3 - 1);
        if (r.range == "-") r.range.clear();
        std::istringstream rest(line.substr(q4 + 1));
        rest >> r.status >> r.bodyBytes;
        const size_t u1 = line.find('"', q4 + 1), u2 = u1 == std::string::npos ? u1 : line.find('"', u1 + 1);
        if (u2 != std::string::npos) r.user = line.substr(u1 + 1, u2 - u1 - 1);
        if (r.user == "-") r.user.clear();
        out.push_back(r);
    }
    return out;
}

bool NginxServer::waitForRequests(size_t n, double seconds) const {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (requests().size() < n) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        ::poll(nullptr, 0, 2);
    }
    return true;
}

size_t NginxServer::requestCount(const std::string& targetPrefix) const {
    size_t n = 0;
    for (const auto& r : requests()) n += r.target.compare(0, targetPrefix.size(), targetPrefix) == 0;
    return n;
}

}  // namespace test
