#include "platform/graphics/AffineTransform.h"

#include <cmath>
#include <initializer_list>

namespace gfx {

namespace {
// Exact values for the quarter turns, so that rotating a page by pi/2 lands
// on whole pixels instead of 1e-16 off them.
void sinCos(double angle, double& s, double& c) {
    s = std::sin(angle);
    c = std::cos(angle);
    for (double* v : {&s, &c}) {
        if (std::fabs(*v) < 1e-12) *v = 0;
        if (std::fabs(*v - 1) < 1e-12) *v = 1;
        if (std::fabs(*v + 1) < 1e-12) *v = -1;
    }
}
}  // namespace

AffineTransform AffineTransform::makeRotation(double angle) {
    double s, c;
    sinCos(angle, s, c);
    return {c, s, -s, c, 0, 0};
}

AffineTransform AffineTransform::concatenated(const AffineTransform& first) const {
    // this ∘ first
    AffineTransform r;
    r.a = a * first.a + c * first.b;
    r.b = b * first.a + d * first.b;
    r.c = a * first.c + c * first.d;
    r.d = b * first.c + d * first.d;
    r.tx = a * first.tx + c * first.ty + tx;
    r.ty = b * first.tx + d * first.ty + ty;
    return r;
}

AffineTransform AffineTransform::translated(double x, double y) const {
    return concatenated(makeTranslation(x, y));
}

AffineTransform AffineTransform::scaled(double sx, double sy) const {
    return concatenated(makeScale(sx, sy));
}

AffineTransform AffineTransform::rotated(double angle) const {
    return concatenated(makeRotation(angle));
}

}  // namespace gfx
