#pragma once

#include "platform/graphics/Geometry.h"

namespace gfx {

// A 2-D affine transform x' = a*x + c*y + tx, y' = b*x + d*y + ty.
// translated/rotated/scaled change the space the transform is applied to,
// so each step acts before the ones already in it: the same composition rule
// as cairo's cairo_translate and friends.
struct AffineTransform {
    double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;

    static AffineTransform identity() { return {}; }
    static AffineTransform makeTranslation(double x, double y) { return {1, 0, 0, 1, x, y}; }
    static AffineTransform makeScale(double sx, double sy) { return {sx, 0, 0, sy, 0, 0}; }
    static AffineTransform makeRotation(double angle);

    AffineTransform translated(double x, double y) const;
    AffineTransform scaled(double sx, double sy) const;
    AffineTransform rotated(double angle) const;
    // `first` applied, then this.
    AffineTransform concatenated(const AffineTransform& first) const;

    Point apply(Point p) const { return {a * p.x + c * p.y + tx, b * p.x + d * p.y + ty}; }
    bool isIdentity() const { return a == 1 && b == 0 && c == 0 && d == 1 && tx == 0 && ty == 0; }
    bool operator==(const AffineTransform&) const = default;
};

}  // namespace gfx
