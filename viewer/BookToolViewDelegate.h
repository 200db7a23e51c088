#pragma once

#include <cstdint>

// What the page seek bar tells the reading screen. Pages are book pages
// (already converted from ribbon positions for right-bound books).
class BookToolViewDelegate {
public:
    virtual ~BookToolViewDelegate() = default;
    // The user drags the ribbon over a page.
    virtual void bookToolViewPagePreview(int64_t page) { (void)page; }
    virtual void bookToolViewPagePreviewEnd() {}
    // The ribbon came to rest on a page after the user moved it.
    virtual void bookToolViewMovePage(int64_t page) { (void)page; }
    virtual void onBookToolViewGoNext() {}
    virtual void onBookToolViewGoPrev() {}
    virtual void bookToolViewScrollLock(bool locked) { (void)locked; }
};
