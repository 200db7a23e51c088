#pragma once

#include <compare>

namespace ui {

// A row of a table: its section and its row within the section.
struct IndexPath {
    int section = 0;
    int row = 0;

    static IndexPath forRow(int row, int section) { return IndexPath{section, row}; }

    auto operator<=>(const IndexPath&) const = default;
    bool operator==(const IndexPath&) const = default;
};

}  // namespace ui
