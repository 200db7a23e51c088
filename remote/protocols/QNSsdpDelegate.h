#pragma once

#include <string>

// Told on the main thread of each device a search found: its address and
// the "friendlyName" of its description.
class QNSsdpDelegate {
public:
    virtual ~QNSsdpDelegate() = default;
    virtual void didFindDevice(const std::string& address, const std::string& modelName) = 0;
};
