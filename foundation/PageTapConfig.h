#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

// The table that maps the reading screen's tap areas and gestures to viewer
// function numbers (0 none, 1 menu, 2 next page...). Stored as ".tapconfig.dat":
// 34 little-endian signed 32-bit integers, 136 bytes, no header.
struct PageTapConfig {
    static constexpr size_t kFieldCount = 34;
    static constexpr size_t kByteSize = kFieldCount * 4;
    static constexpr int32_t kMenu = 1;

    int32_t tapTopLeft = 0;
    int32_t tapTopRight = 0;
    int32_t tapBottomLeft = 0;
    int32_t tapBottomRight = 0;
    int32_t tapLeftEdge = 0;
    int32_t tapRightEdge = 0;
    int32_t tapTopEdge = 0;
    int32_t tapBottomEdge = 0;
    int32_t tapQuarterTopLeft = 0;
    int32_t tapQuarterTopRight = 0;
    int32_t tapQuarterBottomLeft = 0;
    int32_t tapQuarterBottomRight = 0;
    int32_t tapSingle = 0;
    int32_t tapDouble = 0;
    int32_t tapForwardEdge = 0;
    int32_t tapBackwardEdge = 0;
    std::array<int32_t, 18> dummy{};  // kept as read, so newer files survive a round trip

    // A fresh table: the top edge switches the zoom mode, a single tap opens
    // the menu, a double tap zooms, the forward and backward edges turn pages.
    static PageTapConfig defaultTable();

    // Nothing unless `bytes` is exactly kByteSize long.
    static std::optional<PageTapConfig> fromBytes(const std::string& bytes);
    std::string toBytes() const;

    // Field i in file order (0..33); out-of-range indexes read 0 and write nothing.
    int32_t field(size_t i) const;
    void setField(size_t i, int32_t value);

    // Makes sure a single tap reaches the menu when no area does; true when it
    // changed the table.
    bool ensureMenuReachable();

    bool operator==(const PageTapConfig&) const = default;
};
