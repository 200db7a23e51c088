#pragma once

#include "platform/core/PlistDictionary.h"

#include <optional>
#include <string>
#include <vector>

// Reads a WebDAV PROPFIND multistatus reply into one dictionary per
// resource: "path" (the href as sent), "length" (getcontentlength, when
// given), "date" (getlastmodified, when it reads as an HTTP date) and
// "collection" (whether resourcetype holds a collection, when the reply
// gives a resourcetype at all).
// Elements are matched by their local names, so every server's namespace
// prefixes ("D:", "lp1:", "d:") read alike. The reply is parsed without
// loading any DTD or external entity and without network access.
class WebDavFileListReader {
public:
    WebDavFileListReader() = delete;
    // Nothing when the body is not a multistatus document.
    static std::optional<std::vector<sys::PlistDictionary>> getFileListFromXmlData(const std::string& body);
    // An RFC 1123 date ("Mon, 07 Dec 2026 08:00:00 GMT") as seconds since
    // 1970; nothing when it does not read so.
    static std::optional<int64_t> parseHttpDate(const std::string& text);
};
