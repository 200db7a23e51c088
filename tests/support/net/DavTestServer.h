#pragma once

#include "tests/support/net/LoopbackDaemon.h"

#include <string>
#include <vector>

namespace test {

// A real WebDAV server on 127.0.0.1 answering PROPFIND for a folder, started
// as a child process with its configuration and logs in a private folder
// and stopped when the object goes away: Apache with mod_dav (its replies
// name live properties with the "lp1:" prefix) or nginx with the dav-ext
// module ("D:" throughout). Both serve the folder under "/dav/".
class DavTestServer : public LoopbackDaemon {
public:
    DavTestServer() = default;

    static bool haveApache();
    static bool haveNginxDav();

    bool startApache(const std::string& root);
    // Apache with mod_dav behind Digest authentication (realm "books").
    bool startApacheDigest(const std::string& root, const std::string& user, const std::string& password);
    bool startNginx(const std::string& root);
    std::string url(const std::string& path) const;
    // Apache only: the requests answered so far, as "METHOD path status"
    // lines of its access log, and how many got `status`.
    std::vector<std::string> requests() const;
    size_t statusCount(int status) const;

private:
    bool launch(const char* const* argv, const std::string& logFile);
    bool startApacheWith(const std::string& root, const std::string& user, const std::string& password);
};

}  // namespace test
