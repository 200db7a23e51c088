#pragma once

#include "platform/core/PlistDictionary.h"

#include <cstdint>
#include <optional>
#include <string>

// The cloud services' JSON and dates in the program's own terms.
class CloudJson {
public:
    // An object's members as a dictionary (nested objects and arrays kept,
    // nulls left out); nothing when `text` is not a JSON object.
    static std::optional<sys::PlistDictionary> parseObject(const std::string& text);
    // Seconds since 1970 of an RFC 3339 time ("2024-05-01T10:20:30Z",
    // "...30.123Z", "...30-08:00"); a time without a zone is read as UTC.
    // Nothing when it does not read so.
    static std::optional<int64_t> parseDate(const std::string& text);
    // `text` as a JSON string literal, quotes included.
    static std::string quote(const std::string& text);
};
