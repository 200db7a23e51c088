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
                // growing without bound, the result is refused below.
                if (reply[i] >= '0' && reply[i] <= '9' && v < 100000) v = v * 10 + (reply[i] - '0');
                ++i;
            }
            num[k] = v;
            if (i < reply.size()) ++i;
        }
    }
    for (int& v : num) {
        if (v > 255) v = 0;
    }
    if (port) *port = num[4] * 256 + num[5];
    return std::to_string(num[0]) + "." + std::to_string(num[1]) + "." + std::to_string(num[2]) + "." +
           std::to_string(num[3]);
}
