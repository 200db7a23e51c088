#pragma once

#include "platform/graphics/AffineTransform.h"
#include "platform/graphics/EdgeInsets.h"
#include "platform/graphics/Geometry.h"

namespace ui {

// The UI layer measures in points with the drawing layer's value types.
using Point = gfx::Point;
using Size = gfx::Size;
using Rect = gfx::Rect;
using AffineTransform = gfx::AffineTransform;
using EdgeInsets = gfx::EdgeInsets;

Point rectCenter(const Rect& r);
// Half-open: the right and bottom edges are outside.
bool rectContainsPoint(const Rect& r, Point p);
bool rectIntersectsRect(const Rect& a, const Rect& b);
// Rect::null() when the two do not overlap.
Rect rectIntersection(const Rect& a, const Rect& b);
Rect rectUnion(const Rect& a, const Rect& b);
Rect rectInset(const Rect& r, double dx, double dy);
Rect rectOffset(const Rect& r, double dx, double dy);
Rect rectInsetBy(const Rect& r, const EdgeInsets& insets);
// The smallest rectangle of whole numbers that holds r.
Rect rectIntegral(const Rect& r);
// Size of a rectangle standardised (negative sizes flipped).
Rect rectStandardized(const Rect& r);

// The bounding box of a transformed rectangle.
Rect applyTransform(const AffineTransform& t, const Rect& r);
AffineTransform invertTransform(const AffineTransform& t);
bool isInvertible(const AffineTransform& t);

// The linear part of t applied to a vector (no translation).
Point applyToVector(const AffineTransform& t, Point v);

inline bool nearlyEqual(double a, double b, double eps = 1e-9) { return a - b < eps && b - a < eps; }

}  // namespace ui
