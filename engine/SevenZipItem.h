#pragma once

#include "platform/core/Date.h"

#include <cstdint>
#include <optional>
#include <string>

// One entry of a 7z archive as its directory describes it. Times are Unix
// seconds, 0 when the archive does not store them.
struct SevenZipItem {
    enum Flags : uint8_t { kEncrypted = 1, kDirectory = 2 };
    // Entries stored without data (empty files, folders) belong to no block.
    static constexpr uint64_t kNoBlock = UINT64_MAX;

    std::string path;  // UTF-8, as the archive names it ("/" between folders)
    uint64_t orgSize = 0;
    uint32_t index = 0;
    uint32_t crc = 0;
    int64_t cDate = 0, aDate = 0, mDate = 0;
    uint8_t flags = 0;
    uint64_t block = kNoBlock;

    bool isEncrypted() const { return flags & kEncrypted; }
    bool isDirectory() const { return flags & kDirectory; }
    // The last path component; nothing for a directory or an empty path.
    std::optional<std::string> fileName() const;
    // The directory's own path, or the path without its last component;
    // nothing when that is empty.
    std::optional<std::string> directoryPath() const;
    std::optional<sys::Date> creationDate() const;
    std::optional<sys::Date> accessDate() const;
    std::optional<sys::Date> modificationDate() const;

    // 7-Zip file time (100 ns ticks since 1601) to Unix seconds, toward zero.
    static int64_t unixSecondsFromFileTime(uint64_t ticks);
};
