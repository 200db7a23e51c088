#pragma once

#include <optional>
#include <string>

// Receives the result of QNNbns::getIPAddressWithNETBIOSNameAsync on the
// main thread: the dotted IPv4 address, or nothing when the name did not
// resolve.
class QNNbnsDelegate {
public:
    virtual ~QNNbnsDelegate() = default;
    virtual void finishNetBiosNameResolve(const std::optional<std::string>& address) = 0;
};
