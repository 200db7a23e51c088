#pragma once

#include "platform/graphics/Geometry.h"

namespace gfx {

// Distances in points from each edge of a rectangle inwards (negative values
// reach outwards). Cap insets of stretchable images and safe areas use it.
struct EdgeInsets {
    double top = 0;
    double left = 0;
    double bottom = 0;
    double right = 0;

    bool isZero() const { return top == 0 && left == 0 && bottom == 0 && right == 0; }
    bool operator==(const EdgeInsets&) const = default;

    // The rectangle with these insets taken off (sizes never go negative).
    Rect inset(const Rect& r) const {
        double w = r.size.width - left - right;
        double h = r.size.height - top - bottom;
        return Rect(r.origin.x + left, r.origin.y + top, w > 0 ? w : 0, h > 0 ? h : 0);
    }
};

}  // namespace gfx
