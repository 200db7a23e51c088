#pragma once

#include <cstdint>

// What the bookmark list asks of the reading screen.
class BookMarkViewControllerDelegate {
public:
    virtual ~BookMarkViewControllerDelegate() = default;
    virtual void selectBookmark(int32_t page) = 0;
    virtual void cancelBookmarkOpen() = 0;
};
