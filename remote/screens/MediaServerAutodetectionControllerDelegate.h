#pragma once

#include <string>

// Told when the user picks a server the search found.
class MediaServerAutodetectionControllerDelegate {
public:
    virtual ~MediaServerAutodetectionControllerDelegate() = default;
    virtual void didSelectAutodetectedServer(const std::string& address, const std::string& name) = 0;
};
