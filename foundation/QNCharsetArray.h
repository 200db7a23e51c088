#pragma once

#include <optional>
#include <string>
#include <vector>

// The character sets the settings screen and the server options offer: row 0
// is "Default" (follow the system language), then 87 IANA names with their
// display titles, in the order the screens show them.
class QNCharsetArray {
public:
    QNCharsetArray() = delete;

    static std::vector<std::string> getCharsetArray();
    static std::vector<std::string> getCharsetTitleArray();

    // The localised title of a Mac character set ("macintosh",
    // "x-mac-japanese", "x-mac-trad-chinese"); nothing for any other name.
    static std::optional<std::string> getCharSetNameWithIANACharSetname(const std::string& name);
};
