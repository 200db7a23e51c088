#include "platform/ui/Geometry.h"

#include <algorithm>
#include <cmath>

namespace ui {

Point rectCenter(const Rect& r) { return {r.x() + r.width() / 2, r.y() + r.height() / 2}; }

Rect rectStandardized(const Rect& r) {
    Rect s = r;
    if (s.size.width < 0) {
        s.origin.x += s.size.width;
        s.size.width = -s.size.width;
    }
    if (s.size.height < 0) {
        s.origin.y += s.size.height;
        s.size.height = -s.size.height;
    }
    return s;
}

bool rectContainsPoint(const Rect& r0, Point p) {
    Rect r = rectStandardized(r0);
    return p.x >= r.minX() && p.x < r.maxX() && p.y >= r.minY() && p.y < r.maxY();
}

bool rectIntersectsRect(const Rect& a, const Rect& b) { return !rectIntersection(a, b).isNull(); }

Rect rectIntersection(const Rect& a0, const Rect& b0) {
    if (a0.isNull() || b0.isNull()) return Rect::null();
    Rect a = rectStandardized(a0), b = rectStandardized(b0);
    double x0 = std::max(a.minX(), b.minX()), y0 = std::max(a.minY(), b.minY());
    double x1 = std::min(a.maxX(), b.maxX()), y1 = std::min(a.maxY(), b.maxY());
    if (x1 < x0 || y1 < y0) return Rect::null();
    if ((x1 == x0 || y1 == y0) && !(a.size.isEmpty() || b.size.isEmpty())) {
        // Rectangles that only touch share no area.
        return Rect::null();
    }
    return Rect(x0, y0, x1 - x0, y1 - y0);
}

Rect rectUnion(const Rect& a0, const Rect& b0) {
    if (a0.isNull()) return b0;
    if (b0.isNull()) return a0;
    Rect a = rectStandardized(a0), b = rectStandardized(b0);
    double x0 = std::min(a.minX(), b.minX()), y0 = std::min(a.minY(), b.minY());
    double x1 = std::max(a.maxX(), b.maxX()), y1 = std::max(a.maxY(), b.maxY());
    return Rect(x0, y0, x1 - x0, y1 - y0);
}

Rect rectInset(const Rect& r, double dx, double dy) {
    return Rect(r.x() + dx, r.y() + dy, r.width() - 2 * dx, r.height() - 2 * dy);
}

Rect rectOffset(const Rect& r, double dx, double dy) { return Rect(r.x() + dx, r.y() + dy, r.width(), r.height()); }

Rect rectInsetBy(const Rect& r, const EdgeInsets& i) {
    return Rect(r.x() + i.left, r.y() + i.top, r.width() - i.left - i.right, r.height() - i.top - i.bottom);
}

Rect rectIntegral(const Rect& r0) {
    if (r0.isNull()) return r0;
    Rect r = rectStandardized(r0);
    double x0 = std::floor(r.minX() + 1e-9), y0 = std::floor(r.minY() + 1e-9);
    double x1 = std::ceil(r.maxX() - 1e-9), y1 = std::ceil(r.maxY() - 1e-9);
    return Rect(x0, y0, x1 - x0, y1 - y0);
}

Rect applyTransform(const AffineTransform& t, const Rect& r) {
    Point ps[4] = {t.apply({r.minX(), r.minY()}), t.apply({r.maxX(), r.minY()}),
                   t.apply({r.minX(), r.maxY()}), t.apply({r.maxX(), r.maxY()})};
    double x0 = ps[0].x, x1 = ps[0].x, y0 = ps[0].y, y1 = ps[0].y;
    for (auto& p : ps) {
        x0 = std::min(x0, p.x);
        x1 = std::max(x1, p.x);
        y0 = std::min(y0, p.y);
        y1 = std::max(y1, p.y);
    }
    return Rect(x0, y0, x1 - x0, y1 - y0);
}

bool isInvertible(const AffineTransform& t) { return std::fabs(t.a * t.d - t.b * t.c) > 1e-12; }

AffineTransform invertTransform(const AffineTransform& t) {
    double det = t.a * t.d - t.b * t.c;
    if (std::fabs(det) <= 1e-12) return t;  // not invertible: unchanged, as the platform does
    AffineTransform r;
    r.a = t.d / det;
    r.b = -t.b / det;
    r.c = -t.c / det;
    r.d = t.a / det;
    r.tx = -(r.a * t.tx + r.c * t.ty);
    r.ty = -(r.b * t.tx + r.d * t.ty);
    return r;
}

Point applyToVector(const AffineTransform& t, Point v) { return {t.a * v.x + t.c * v.y, t.b * v.x + t.d * v.y}; }

}  // namespace ui
