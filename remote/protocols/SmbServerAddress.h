#pragma once

#include <string>

// An SMB server as sites and DFS links name it: "host", "host:port", "[v6]"
// or "[v6]:port", 445 when no port is given. Shared by the SMB2/3 client,
// which connects to it, and the answers about sending credentials, which
// are kept per server.
class SmbServerAddress {
public:
    // False for an empty host, a port out of range or text after it.
    static bool split(const std::string& server, std::string& host, int& port);
};
