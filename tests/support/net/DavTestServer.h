#pragma once

#include "tests/support/net/LoopbackDaemon.h"

#include <string>

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
    bool startNginx(const std::string& root);
    std::string url(const std::string& path) const;

private:
    bool launch(const char* const* argv, const std::string& logFile);
};

}  // namespace test
