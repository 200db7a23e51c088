#pragma once

#include "platform/core/PlistValue.h"

#include <optional>
#include <string>

// The saved contents of one remote list screen of the navigation stack
// ("r_<level>.remotestatus" in the Library folder), from which the shell
// rebuilds the screen after a restart. The raw password is not part of the
// file: it goes to the key chain.
struct RemoteStackStatus {
    std::string remoteUrl;
    sys::PlistArray fileList;  // absolute URL strings
    sys::PlistArray infoList;  // the entries' info dictionaries
    std::optional<std::string> listTitle;
    std::optional<sys::PlistDictionary> otherSetting;  // the site's protocol options
    std::optional<std::string> fixUsername;
    std::optional<std::string> fixID;
    std::optional<std::string> rawUsername;
    bool useRawPassword = false;
    // Where the credentials belong ("siteURL"; older files have none).
    std::optional<std::string> siteURL;

    // {"status": 1, "remoteUrl", "fileList", "infoList", then the present
    // optional keys, "useRawPassword"}.
    sys::PlistDictionary toDictionary() const;
    // Nothing unless "fileList" and "infoList" are arrays; other keys of the
    // wrong type read as absent.
    static std::optional<RemoteStackStatus> fromDictionary(const sys::PlistDictionary& dictionary);
};
