#pragma once

#include <map>
#include <string>

// One home-screen quick action of the program. The shell reads
// userInfo["key"] ("reading" or "filelist") when the user picks one.
struct ShortcutItemModel {
    std::string type = "static";
    std::string title;
    std::string subtitle;       // "" for none
    std::string systemIconName;  // a system icon ("play"), or ""
    std::string templateImageName;  // an image of ours, or ""
    std::map<std::string, std::string> userInfo;

    bool operator==(const ShortcutItemModel&) const = default;
};
