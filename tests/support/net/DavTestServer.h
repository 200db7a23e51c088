#pragma once

#include <string>
#include <sys/types.h>

namespace test {

// A real WebDAV server on 127.0.0.1 answering PROPFIND for a folder, started
// as a child process with its configuration and logs in a private folder
// and stopped when the object goes away: Apache with mod_dav (its replies
// name live properties with the "lp1:" prefix) or nginx with the dav-ext
// module ("D:" throughout). Both serve the folder under "/dav/".
class DavTestServer {
public:
    DavTestServer() = default;
    ~DavTestServer();
    DavTestServer(const DavTestServer&) = delete;
    DavTestServer& operator=(const DavTestServer&) = delete;

    static bool haveApache();
    static bool haveNginxDav();

    bool startApache(const std::string& root);
    bool startNginx(const std::string& root);
    void stop();
    int port() const { return port_; }
    std::string url(const std::string& path) const;
    const std::string& lastError() const { return error_; }

private:
    bool launch(const char* const* argv, const std::string& logFile);
    void makeDir(const char* kind);

    std::string dir_;
    std::string error_;
    int port_ = 0;
    pid_t pid_ = -1;
};

}  // namespace test
