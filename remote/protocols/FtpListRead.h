#pragma once

#include "platform/core/PlistDictionary.h"

#include <optional>
#include <string>

// One line of an FTP LIST reply as an item: "name", "size" (when the line
// gives one), "isFolder" and "date" (seconds since 1970).
class FtpListRead {
public:
    FtpListRead() = delete;
    static constexpr size_t kMaxNameBytes = 1024;
    // Nothing when no listing style fits the line; an empty dictionary when
    // the name is not UTF-8.
    static std::optional<sys::PlistDictionary> GetFileListWithFtpListData(const std::string& line);
};
