#pragma once

#include <cmath>
#include <limits>

namespace gfx {

// Plain geometry values in points (double precision), as the drawing layer
// and the image operations pass them around.
// Point and Size have constructors (not only aggregate initialisation) so
// that Point(x, y) also compiles with compilers that lack C++20's
// parenthesised aggregate initialisation (clang before 16).
struct Point {
    double x = 0;
    double y = 0;
    constexpr Point() = default;
    constexpr Point(double px, double py) : x(px), y(py) {}
    bool operator==(const Point&) const = default;
};

struct Size {
    double width = 0;
    double height = 0;
    constexpr Size() = default;
    constexpr Size(double w, double h) : width(w), height(h) {}
    bool operator==(const Size&) const = default;
    bool isEmpty() const { return !(width > 0) || !(height > 0); }
};

struct Rect {
    Point origin;
    Size size;

    constexpr Rect() = default;
    constexpr Rect(double x, double y, double w, double h) : origin{x, y}, size{w, h} {}

    double x() const { return origin.x; }
    double y() const { return origin.y; }
    double width() const { return size.width; }
    double height() const { return size.height; }
    double minX() const { return origin.x; }
    double minY() const { return origin.y; }
    double maxX() const { return origin.x + size.width; }
    double maxY() const { return origin.y + size.height; }

    // "No rectangle": what a search that found nothing answers. Its origin
    // is infinite, so it is never mistaken for a real rectangle at (0, 0).
    static Rect null() {
        constexpr double inf = std::numeric_limits<double>::infinity();
        return Rect(inf, inf, 0, 0);
    }
    bool isNull() const { return std::isinf(origin.x) || std::isinf(origin.y); }

    bool operator==(const Rect&) const = default;
};

}  // namespace gfx
