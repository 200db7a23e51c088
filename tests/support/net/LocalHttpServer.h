#pragma once

#include <string>
#include <sys/types.h>

namespace test {

// Another real web server on 127.0.0.1 for the listing tests, started as a
// child process with its configuration, logs and run files in a private
// folder: Apache (fancy indexes, a Digest-protected "/locked/" folder) or
// python's http.server (no ranges). Stopped when the object goes away.
class LocalHttpServer {
public:
    LocalHttpServer() = default;
    ~LocalHttpServer();
    LocalHttpServer(const LocalHttpServer&) = delete;
    LocalHttpServer& operator=(const LocalHttpServer&) = delete;

    static std::string apacheProgram();  // "" when not installed
    // Apache serving `root` with FancyIndexing (or, with `fancy` off, its
    // plain list of links); `root`/locked needs Digest credentials user /
    // password (realm "books").
    bool startApache(const std::string& root, const std::string& user, const std::string& password,
                     bool fancy = true);
    bool startPython(const std::string& root);
    void stop();

    int port() const { return port_; }
    std::string url(const std::string& pathAndQuery) const;
    const std::string& lastError() const { return error_; }

private:
    bool launch(const char* const* argv, const std::string& logFile);

    std::string dir_;
    std::string error_;
    int port_ = 0;
    pid_t pid_ = -1;
};

}  // namespace test
