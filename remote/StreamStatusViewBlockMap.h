#pragma once

#include "platform/ui/View.h"
#include "viewer/StreamBlockMapOverlay.h"

#include <cstdint>
#include <vector>

// Draws the stream cache's map: one cell per block (or per page of a
// page-by-page stream), filled where the unit is cached. The map is copied
// when given, so the caller's buffer may change afterwards.
class StreamStatusViewBlockMap : public ui::View, public StreamBlockMapOverlay {
public:
    StreamStatusViewBlockMap() = default;
    explicit StreamStatusViewBlockMap(const ui::Rect& frame) : ui::View(frame) {}

    // Makes the reading screen's menu sheet show this map for streamed books.
    static void registerWithViewer();

    std::shared_ptr<ui::View> view() override { return shared_from_this(); }
    // `count` 16-bit entries, non-zero ones present; a null map changes nothing.
    void updateCacheStatus(uint64_t count, const uint16_t* map, bool isPage) override;
    // One unit arrived: marks it without a whole new map.
    void markCached(uint64_t index);
    // Cells run from the right edge (books read right to left).
    void setRightToLeft(bool on);

    const std::vector<uint16_t>& map() const { return map_; }
    bool isPage() const { return isPage_; }
    uint64_t cachedCount() const;

    void draw(gfx::Canvas& canvas, const ui::Rect& rect) override;

private:
    std::vector<uint16_t> map_;
    bool isPage_ = false;
    bool rightToLeft_ = false;
};
