#pragma once

#include "platform/core/PlistDictionary.h"

#include <cstdint>
#include <optional>
#include <string>

// Receives the site editor's "Save".
class MediaServerHostConfigViewControllerDelegate {
public:
    virtual ~MediaServerHostConfigViewControllerDelegate() = default;
    // The site as typed: URL (credentials taken out of it), display name,
    // user, password, protocol options and the list position it edits
    // (-1 for a new site).
    virtual void addList(const std::string& url, const std::string& name, const std::optional<std::string>& userName,
                         const std::optional<std::string>& password, const sys::PlistDictionary& otherOption,
                         int64_t targetListNo) = 0;
};
