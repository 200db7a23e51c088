#pragma once

#include <string>

// Whether an SMB site's user name and password may go to another server
// (another host, or another port) that one of its DFS links leads to. Such
// a server is another party: the clients send it the site's credentials
// only once the user has said so for that site and that server, and try it
// as a guest otherwise. The answers are kept in the user defaults, per site
// ("host" or "host:port" as the site names it) and target server. Safe from
// any thread.
class SmbDfsCredentials {
public:
    enum class Answer { Unasked, Send, DontSend };

    static Answer answer(const std::string& site, const std::string& target);
    static void remember(const std::string& site, const std::string& target, bool send);
    // Whether `a` and `b` ("host", "host:port", "[v6]:port") are the same
    // server: the same host (case aside) at the same port (445 when none).
    static bool sameServer(const std::string& a, const std::string& b);
};
