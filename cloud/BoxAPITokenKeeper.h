#pragma once

#include <optional>
#include <string>

// The Box accounts' access tokens.
class BoxAPITokenKeeper {
public:
    // The stored access token; nothing when none is stored or it expires
    // within 300 s (an expired one is forgotten, its refresh token kept).
    static std::optional<std::string> getStoredTokenWithKey(const std::string& key);
};
