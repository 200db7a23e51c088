#pragma once

#include "platform/core/PlistValue.h"

#include <optional>
#include <string>

// Reading positions in the cloud key-value store, one entry per book, so
// that another device opens the book at the same place. Keys are shared with
// the other devices: "_bk_" (or "_bkf_" for a folder of images) + the
// upper-case hex MD5 of the book's title in NFD. Class operations only.
class iCloudKeyValueStoreCommon {
public:
    iCloudKeyValueStoreCommon() = delete;

    // Every bookmark key begins with this.
    static constexpr const char* kKeyPrefix = "_bk";
    // Beyond this many keys, adding a new book drops the oldest entry.
    static constexpr size_t kMaxKeys = 1000;

    // Nothing when no title can be formed (an address that does not parse).
    static std::optional<std::string> getKeyWithFilepath(const std::string& path);
    // The book's name (the folder's name for an image), in NFD, from a local
    // path or from an address's decoded path.
    static std::optional<std::string> getTitleWithFilepath(const std::string& path);

    // Writes the book's entry from a reading-position array and synchronises.
    static void updateBookmark(const std::string& path, const sys::PlistArray& info);
    // The reading-position array stored for the book (as many entries as the
    // entry has, in order), or nothing.
    static std::optional<sys::PlistArray> getBookmark(const std::string& path);
    static size_t getBookmarkCount();
    // Removes every bookmark key, then synchronises.
    static void removeAllValues();
};
