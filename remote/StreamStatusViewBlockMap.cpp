#include "remote/StreamStatusViewBlockMap.h"

#include "platform/graphics/Canvas.h"
#include "viewer/BookViewController.h"

#include <algorithm>
#include <cmath>

namespace {

// A map can name at most 65,535 blocks; anything longer is not a map.
constexpr uint64_t kMaxEntries = 65'535;

const gfx::Rgba kMissing = gfx::Rgba::white(0.25, 0.9);
const gfx::Rgba kCached = gfx::Rgba::rgb(0.35, 0.65, 1.0);

}  // namespace

void StreamStatusViewBlockMap::registerWithViewer() {
    BookViewController::setBlockMapViewFactory(
        [](const ui::Rect& frame) { return std::make_shared<StreamStatusViewBlockMap>(frame); });
}

void StreamStatusViewBlockMap::updateCacheStatus(uint64_t count, const uint16_t* map, bool isPage) {
    if (!map) return;
    count = std::min(count, kMaxEntries);
    map_.assign(map, map + count);
    isPage_ = isPage;
    setNeedsDisplay();
}

void StreamStatusViewBlockMap::markCached(uint64_t index) {
    if (index >= map_.size() || map_[index] != 0) return;
    map_[index] = 1;
    setNeedsDisplay();
}

void StreamStatusViewBlockMap::setRightToLeft(bool on) {
    if (rightToLeft_ == on) return;
    rightToLeft_ = on;
    setNeedsDisplay();
}

uint64_t StreamStatusViewBlockMap::cachedCount() const {
    return uint64_t(std::count_if(map_.begin(), map_.end(), [](uint16_t v) { return v != 0; }));
}

void StreamStatusViewBlockMap::draw(gfx::Canvas& canvas, const ui::Rect& /*rect*/) {
    const ui::Rect b = bounds();
    canvas.fillRect(b, kMissing);
    if (map_.empty() || b.size.width <= 0) return;
    // Runs of cached units become one rectangle each; a map longer than the
    // view is wide still shows every cached unit at least a hairline wide.
    const double unit = b.size.width / double(map_.size());
    size_t i = 0;
    while (i < map_.size()) {
        if (map_[i] == 0) {
            ++i;
            continue;
        }
        size_t end = i;
        while (end < map_.size() && map_[end] != 0) ++end;
        double x0 = b.origin.x + unit * double(i);
        double w = std::max(unit * double(end - i), 0.5);
        if (rightToLeft_) x0 = b.origin.x + b.size.width - (x0 - b.origin.x) - w;
        canvas.fillRect(ui::Rect(x0, b.origin.y, w, b.size.height), kCached);
        i = end;
    }
}
