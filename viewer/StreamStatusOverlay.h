#pragma once

#include "platform/ui/View.h"

#include <cstdint>
#include <memory>

// The overlay a streamed book shows while a page is being fetched (its
// cache map, how far the fetch has come and a way to give up). The remote
// sources make it; the reading screen only places it and passes the
// stream's reports on. Its give-up button calls the screen's onCancelStreaming.
class StreamStatusOverlay {
public:
    virtual ~StreamStatusOverlay() = default;
    virtual std::shared_ptr<ui::View> view() = 0;
    virtual void updateCacheStatus(uint64_t count, const uint16_t* map, bool isPage) = 0;
    virtual void updateCacheBlock(int64_t cached, int64_t blockSize, int64_t block, int64_t numBlocks) = 0;
    // Books whose next page lies to the left fill the map from the right.
    virtual void setIsVerticalWritting(bool on) = 0;
};
