#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace test {

// A real nginx serving a folder on 127.0.0.1 at a free unprivileged port,
// started by the test and stopped when the object goes away. Its
// configuration, pid file, logs and temporary folders all live in a private
// folder of the test work area, so it touches nothing of the system's. The
// access log records every request with its Range header, so tests can count
// what a client fetched.
class NginxServer {
public:
    struct Request {
        std::string method;
        std::string target;
        std::string range;  // "" when none ("-" in the log)
        int status = 0;
        uint64_t bodyBytes = 0;
        std::string user;  // of a Basic "Authorization", "" when none
    };

    NginxServer();
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    // The nginx program, or "" when it is not installed (tests then skip).
    static std::string program();

    // Before start: directives inside "location / { }" (autoindex, auth),
    // further server-level directives (other locations), and TLS with a
    // certificate and key in PEM files (url() then gives https).
    void setLocationConfig(const std::string& directives) { locationConfig_ = directives; }
    void setServerConfig(const std::string& directives) { serverConfig_ = directives; }
    void setTls(const std::string& certFile, const std::string& keyFile) {
        certFile_ = certFile;
        keyFile_ = keyFile;
    }

    // Serves `root`. False when nginx is missing or does not come up; the
    // reason is then in lastError().
    bool start(const std::string& root);
    void stop();
    bool running() const { return pid_ > 0; }
    int port() const { return port_; }
    std::string url(const std::string& pathAndQuery) const;
    const std::string& lastError() const { return error_; }

    // Requests so far, from the access log (nginx writes each line as the
    // request ends).
    std::vector<Request> requests() const;
    size_t requestCount(const std::string& targetPrefix = "") const;
    // nginx logs a request just after its last byte went out: a client can be
    // done a moment before the line is there. Waits (real time, bounded)
    // until `n` requests are logged.
    bool waitForRequests(size_t n, double seconds = 5.0) const;

private:
    bool launch();

    std::string dir_;
    std::string root_;
    std::string error_;
    std::string locationConfig_, serverConfig_, certFile_, keyFile_;
    int port_ = 0;
    pid_t pid_ = -1;
};

}  // namespace test
