#pragma once

#include "platform/ui/View.h"

#include <cstdint>
#include <memory>

// The thin strip on the menu sheet of a streamed book that shows which
// blocks (or pages, for page-by-page streams) of the book are already in
// the stream cache. The remote sources make it; the reading screen places
// it and hands it every new map the stream reports while the sheet is open.
class StreamBlockMapOverlay {
public:
    virtual ~StreamBlockMapOverlay() = default;
    virtual std::shared_ptr<ui::View> view() = 0;
    // `count` 16-bit entries, non-zero where the unit is cached; the map is
    // copied, so the caller's buffer may change afterwards.
    virtual void updateCacheStatus(uint64_t count, const uint16_t* map, bool isPage) = 0;
};
