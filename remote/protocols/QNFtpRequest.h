#pragma once

#include <optional>
#include <string>

// Reading of the FTP server's passive-mode replies.
class QNFtpRequest {
public:
    QNFtpRequest() = delete;
    // "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)." gives "h1.h2.h3.h4" and
    // port p1 * 256 + p2. Missing numbers count as 0. Nothing for a reply
    // longer than 1000 bytes, a number past 255, or port 0 (so also for a
    // reply without "(").
    static std::optional<std::string> getAddressAndPortWithPassiveResponse(const std::string& reply, int* port);
    // "229 Entering Extended Passive Mode (|||6446|)" gives 6446: the number
    // between the third and fourth of the delimiter that follows "(".
    // Nothing when the reply is not so, or the port is not 1 to 65535.
    static std::optional<int> getPortWithExtendedPassiveResponse(const std::string& reply);
};
