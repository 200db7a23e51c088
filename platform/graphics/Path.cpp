#include "platform/graphics/Path.h"

#include <algorithm>
#include <cairo.h>
#include <cmath>
#include <limits>

namespace gfx {

Path& Path::moveTo(Point p) {
    ops_.push_back({Op::Move, {p.x, p.y, 0, 0, 0, 0}});
    return *this;
}

Path& Path::lineTo(Point p) {
    ops_.push_back({Op::Line, {p.x, p.y, 0, 0, 0, 0}});
    return *this;
}

Path& Path::curveTo(Point c1, Point c2, Point end) {
    ops_.push_back({Op::Curve, {c1.x, c1.y, c2.x, c2.y, end.x, end.y}});
    return *this;
}

Path& Path::arc(Point center, double radius, double a0, double a1, bool clockwise) {
    ops_.push_back({clockwise ? Op::Arc : Op::ArcNeg, {center.x, center.y, radius, a0, a1, 0}});
    return *this;
}

Path& Path::close() {
    ops_.push_back({Op::Close, {0, 0, 0, 0, 0, 0}});
    return *this;
}

Path& Path::addRect(const Rect& r) {
    moveTo({r.minX(), r.minY()});
    lineTo({r.maxX(), r.minY()});
    lineTo({r.maxX(), r.maxY()});
    lineTo({r.minX(), r.maxY()});
    return close();
}

Path& Path::addRoundedRect(const Rect& r, double radius) {
    double rr = std::min({radius, r.width() / 2, r.height() / 2});
    if (!(rr > 0)) return addRect(r);
    const double pi = M_PI;
    moveTo({r.minX() + rr, r.minY()});
    arc({r.maxX() - rr, r.minY() + rr}, rr, -pi / 2, 0);
    arc({r.maxX() - rr, r.maxY() - rr}, rr, 0, pi / 2);
    arc({r.minX() + rr, r.maxY() - rr}, rr, pi / 2, pi);
    arc({r.minX() + rr, r.minY() + rr}, rr, pi, 3 * pi / 2);
    return close();
}

Path& Path::addEllipse(const Rect& r) {
    // Four cubic quarter arcs (the usual 0.5523 handle length).
    const double k = 0.5522847498;
    double cx = r.minX() + r.width() / 2, cy = r.minY() + r.height() / 2;
    double rx = r.width() / 2, ry = r.height() / 2;
    moveTo({cx + rx, cy});
    curveTo({cx + rx, cy + ry * k}, {cx + rx * k, cy + ry}, {cx, cy + ry});
    curveTo({cx - rx * k, cy + ry}, {cx - rx, cy + ry * k}, {cx - rx, cy});
    curveTo({cx - rx, cy - ry * k}, {cx - rx * k, cy - ry}, {cx, cy - ry});
    curveTo({cx + rx * k, cy - ry}, {cx + rx, cy - ry * k}, {cx + rx, cy});
    return close();
}

Rect Path::bounds() const {
    double x0 = std::numeric_limits<double>::infinity(), y0 = x0;
    double x1 = -x0, y1 = -x0;
    auto add = [&](double x, double y) {
        x0 = std::min(x0, x);
        y0 = std::min(y0, y);
        x1 = std::max(x1, x);
        y1 = std::max(y1, y);
    };
    for (const Item& it : ops_) {
        switch (it.op) {
        case Op::Move:
        case Op::Line:
            add(it.v[0], it.v[1]);
            break;
        case Op::Curve:
            add(it.v[0], it.v[1]);
            add(it.v[2], it.v[3]);
            add(it.v[4], it.v[5]);
            break;
        case Op::Arc:
        case Op::ArcNeg:
            add(it.v[0] - it.v[2], it.v[1] - it.v[2]);
            add(it.v[0] + it.v[2], it.v[1] + it.v[2]);
            break;
        case Op::Close:
            break;
        }
    }
    if (x0 > x1) return Rect();
    return Rect(x0, y0, x1 - x0, y1 - y0);
}

void Path::apply(cairo_t* cr) const {
    cairo_new_path(cr);
    for (const Item& it : ops_) {
        switch (it.op) {
        case Op::Move:
            cairo_move_to(cr, it.v[0], it.v[1]);
            break;
        case Op::Line:
            cairo_line_to(cr, it.v[0], it.v[1]);
            break;
        case Op::Curve:
            cairo_curve_to(cr, it.v[0], it.v[1], it.v[2], it.v[3], it.v[4], it.v[5]);
            break;
        case Op::Arc:
            cairo_arc(cr, it.v[0], it.v[1], it.v[2], it.v[3], it.v[4]);
            break;
        case Op::ArcNeg:
            cairo_arc_negative(cr, it.v[0], it.v[1], it.v[2], it.v[3], it.v[4]);
            break;
        case Op::Close:
            cairo_close_path(cr);
            break;
        }
    }
}

}  // namespace gfx
