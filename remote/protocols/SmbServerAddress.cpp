#include "remote/protocols/SmbServerAddress.h"

#include <algorithm>

bool SmbServerAddress::split(const std::string& server, std::string& host, int& port) {
    port = 445;
    std::string rest;
    if (!server.empty() && server[0] == '[') {
        const size_t close = server.find(']');
        if (close == std::string::npos) return false;
        host = server.substr(1, close - 1);
        rest = server.substr(close + 1);
    } else if (std::count(server.begin(), server.end(), ':') > 1) {
        host = server;
    } else {
        const size_t colon = server.find(':');
        host = server.substr(0, colon);
        if (colon != std::string::npos) rest = server.substr(colon);
    }
    if (!rest.empty()) {
        if (rest[0] != ':' || rest.size() < 2 || rest.size() > 6) return false;
        port = 0;
        for (size_t i = 1; i < rest.size(); ++i) {
            if (rest[i] < '0' || rest[i] > '9') return false;
            port = port * 10 + (rest[i] - '0');
        }
        if (port <= 0 || port > 65535) return false;
    }
    return !host.empty();
}
