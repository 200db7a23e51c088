#pragma once

#include <cstdint>

// What the page-cache builder asks of the reading screen and tells it. The
// first two are asked from the builder's own thread, the last two are called
// on the main thread.
class CacheCreatorDelegate {
public:
    virtual ~CacheCreatorDelegate() = default;
    // The screen's own session is preloading, or the book is closing: wait.
    virtual bool isPreLoadingImage() const = 0;
    // The page whose neighbourhood should be cached next.
    virtual int32_t priorityPage() const = 0;
    // `page` now has its cached image.
    virtual void cachePage(int32_t page) = 0;
    // Every page was visited.
    virtual void cacheCreateFinish() = 0;
};
