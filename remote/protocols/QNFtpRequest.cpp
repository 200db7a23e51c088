#include "remote/protocols/QNFtpRequest.h"

std::optional<std::string> QNFtpRequest::getAddressAndPortWithPassiveResponse(const std::string& reply, int* port) {
    if (reply.size() > 1000) return std::nullopt;
    int num[6] = {0, 0, 0, 0, 0, 0};
    const size_t open = reply.find('(');
    if (open != std::string::npos) {
        size_t i = open + 1;
        for (int k = 0; k < 6 && i < reply.size(); ++k) {
            int v = 0;
            while (i < reply.size() && reply[i] != ',' && reply[i] != ')') {
                // A number past 255 is no address byte: keep it from
                // growing without bound; the reply is refused below.
                if (reply[i] >= '0' && reply[i] <= '9' && v < 100000) v = v * 10 + (reply[i] - '0');
                ++i;
            }
            num[k] = v;
            if (i < reply.size()) ++i;
        }
    }
    // A number past 255 is no byte of an address or port, and port 0 is
    // none to connect to (a reply without numbers gives it): no address.
    for (const int v : num) {
        if (v > 255) return std::nullopt;
    }
    if (num[4] == 0 && num[5] == 0) return std::nullopt;
    if (port) *port = num[4] * 256 + num[5];
    return std::to_string(num[0]) + "." + std::to_string(num[1]) + "." + std::to_string(num[2]) + "." +
           std::to_string(num[3]);
}

std::optional<int> QNFtpRequest::getPortWithExtendedPassiveResponse(const std::string& reply) {
    if (reply.size() > 1000) return std::nullopt;
    const size_t open = reply.find('(');
    if (open == std::string::npos || open + 4 >= reply.size()) return std::nullopt;
    const char d = reply[open + 1];
    // The delimiter is a printable character other than a digit.
    if (d < 33 || d > 126 || (d >= '0' && d <= '9')) return std::nullopt;
    if (reply[open + 2] != d || reply[open + 3] != d) return std::nullopt;
    size_t i = open + 4;
    long port = 0;
    const size_t first = i;
    for (; i < reply.size() && reply[i] >= '0' && reply[i] <= '9' && i - first < 6; ++i) port = port * 10 + (reply[i] - '0');
    if (i == first || i >= reply.size() || reply[i] != d || i + 1 >= reply.size() || reply[i + 1] != ')') return std::nullopt;
    if (port < 1 || port > 65535) return std::nullopt;
    return int(port);
}
