#pragma once

#include "platform/graphics/Geometry.h"

#include <vector>

typedef struct _cairo cairo_t;

namespace gfx {

// An outline in points: lines, curves, arcs, rectangles, ellipses. The canvas
// fills, strokes or clips with it; views use it for rounded corners and shadows.
class Path {
public:
    Path& moveTo(Point p);
    Path& lineTo(Point p);
    Path& curveTo(Point c1, Point c2, Point end);
    // An arc around `center` from angle a0 to a1 (radians, y down, so a
    // positive sweep turns clockwise on screen).
    Path& arc(Point center, double radius, double a0, double a1, bool clockwise = true);
    Path& close();

    Path& addRect(const Rect& r);
    // Corner radius limited to half the shorter side, as drawn views expect.
    Path& addRoundedRect(const Rect& r, double radius);
    Path& addEllipse(const Rect& r);

    static Path rect(const Rect& r) { return Path().addRect(r); }
    static Path roundedRect(const Rect& r, double radius) { return Path().addRoundedRect(r, radius); }
    static Path ellipse(const Rect& r) { return Path().addEllipse(r); }

    bool isEmpty() const { return ops_.empty(); }
    // The smallest rectangle holding every point named (control points included).
    Rect bounds() const;

    // Replaces cairo's current path with this one.
    void apply(cairo_t* cr) const;

private:
    enum class Op { Move, Line, Curve, Arc, ArcNeg, Close };
    struct Item {
        Op op;
        double v[6];
    };
    std::vector<Item> ops_;
};

}  // namespace gfx
