#pragma once

#include "tests/support/net/LoopbackDaemon.h"

#include <string>

namespace test {

// caddy's file server on 127.0.0.1 with its browse pages (links written as
// "./Name/", sort links as queries, a footer link to caddy's web site),
// started as a child process whose home, configuration and data folders are
// private to the test. Stopped when the object goes away.
class CaddyServer : public LoopbackDaemon {
public:
    CaddyServer() = default;

    static bool haveCaddy();
    bool start(const std::string& root);
    // "http://127.0.0.1:PORT" + path.
    std::string url(const std::string& path) const;
};

}  // namespace test
