#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A book's bookmark index file: a property-list array of data items, each a
// little-endian 32-bit id, four zero bytes and the page-name entry of the
// bookmarked page (so a bookmark finds its page again by name, whatever the
// page order). Items of 8 bytes or less are ignored.
class BookMarkIndex {
public:
    struct Item {
        uint32_t id = 0;
        std::string pageName;  // the raw entry after the header
    };

    // Missing or unreadable reads as empty; short items are kept out.
    static std::vector<Item> read(const std::string& indexFile);
    // Every raw item, short ones too (writes keep what they do not understand).
    static std::vector<std::vector<uint8_t>> readRaw(const std::string& indexFile);
    static bool writeRaw(const std::string& indexFile, const std::vector<std::vector<uint8_t>>& items);

    static std::vector<uint8_t> makeItem(uint32_t id, const std::string& pageName);
    static std::optional<Item> parseItem(const std::vector<uint8_t>& raw);
    static bool isExistBookMarkID(const std::vector<std::vector<uint8_t>>& items, uint32_t id);

    // A fresh id: drawn from a generator seeded once per run, then moved up
    // past ids in use. Since each try lands on a different value, one more
    // try than there are items always finds a free id; nothing when the
    // items are too many to count.
    static std::optional<uint32_t> newId(const std::vector<std::vector<uint8_t>>& items);
    // The thumbnail file name of an id: eight upper-case hexadecimal digits.
    static std::string thumbnailName(uint32_t id);
    // The display name of a page entry: decoded up to its NUL, last path
    // component; "" when it does not decode.
    static std::string displayName(const std::string& pageName);

    // Appends a bookmark of `pageName`; its id, or nothing when none was added.
    static std::optional<uint32_t> add(const std::string& indexFile, const std::string& pageName);
    // Removes the first item with `id`; the file goes with its last item.
    static bool remove(const std::string& indexFile, uint32_t id);
};
