#pragma once

#include "platform/core/PlistDictionary.h"

#include <cstdint>
#include <optional>
#include <string>

// A Drive item as the listing uses it. Drive's v3 names are mapped:
// name -> title, modifiedTime -> modifiedDate, size -> fileSize; the
// download address is the v3 media address of the item.
struct GoogleDriveAPIFile {
    static constexpr const char* kFolderMimeType = "application/vnd.google-apps.folder";

    std::string mimeType;
    std::optional<std::string> title;
    std::optional<std::string> originalFilename;
    std::optional<bool> explicitlyTrashed;
    std::optional<int64_t> modifiedDate;  // seconds since 1970
    std::string identifier;
    std::optional<int64_t> fileSize;
    std::string downloadUrl;

    bool isFolder() const { return mimeType == kFolderMimeType; }
    // From one item of a files.list answer; `apiBase` makes downloadUrl.
    static GoogleDriveAPIFile fromItem(const sys::PlistDictionary& item, const std::string& apiBase);
};
