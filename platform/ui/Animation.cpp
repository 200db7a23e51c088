#include "platform/ui/Animation.h"

#include "platform/core/RunLoop.h"

#include <cmath>

namespace ui {

namespace {

// Cubic bezier timing from (0,0) to (1,1) with control points (x1,y1), (x2,y2).
double bezier(double x1, double y1, double x2, double y2, double x) {
    if (x <= 0) return 0;
    if (x >= 1) return 1;
    auto bx = [&](double t) { return 3 * (1 - t) * (1 - t) * t * x1 + 3 * (1 - t) * t * t * x2 + t * t * t; };
    auto by = [&](double t) { return 3 * (1 - t) * (1 - t) * t * y1 + 3 * (1 - t) * t * t * y2 + t * t * t; };
    double lo = 0, hi = 1, t = x;
    for (int i = 0; i < 60; ++i) {
        t = (lo + hi) / 2;
        if (bx(t) < x)
            lo = t;
        else
            hi = t;
    }
    return by(t);
}

double wrapAngle(double a) {
    while (a > M_PI) a -= 2 * M_PI;
    while (a < -M_PI) a += 2 * M_PI;
    return a;
}

}  // namespace

AnimatedValue AnimatedValue::of(Point p) {
    AnimatedValue a;
    a.v[0] = p.x;
    a.v[1] = p.y;
    a.count = 2;
    return a;
}

AnimatedValue AnimatedValue::of(const Rect& r) {
    AnimatedValue a;
    a.v[0] = r.x();
    a.v[1] = r.y();
    a.v[2] = r.width();
    a.v[3] = r.height();
    a.count = 4;
    return a;
}

AnimatedValue AnimatedValue::of(const AffineTransform& t) {
    // t's linear part = rotation(angle) * [sx k; 0 sy]
    AnimatedValue a;
    double sx = std::hypot(t.a, t.b);
    double angle = sx > 0 ? std::atan2(t.b, t.a) : 0;
    double cs = std::cos(angle), sn = std::sin(angle);
    double k = t.c * cs + t.d * sn;
    double sy = -t.c * sn + t.d * cs;
    a.v[0] = t.tx;
    a.v[1] = t.ty;
    a.v[2] = angle;
    a.v[3] = sx;
    a.v[4] = sy;
    a.v[5] = k;
    a.count = 6;
    return a;
}

AffineTransform AnimatedValue::transform() const {
    double angle = v[2], sx = v[3], sy = v[4], k = v[5];
    double cs = std::cos(angle), sn = std::sin(angle);
    // Snap the quarter turns so that a finished turn lands exactly.
    auto snap = [](double x) {
        if (std::fabs(x) < 1e-12) return 0.0;
        if (std::fabs(x - 1) < 1e-12) return 1.0;
        if (std::fabs(x + 1) < 1e-12) return -1.0;
        return x;
    };
    cs = snap(cs);
    sn = snap(sn);
    AffineTransform t;
    t.a = cs * sx;
    t.b = sn * sx;
    t.c = cs * k - sn * sy;
    t.d = sn * k + cs * sy;
    t.tx = v[0];
    t.ty = v[1];
    return t;
}

AnimatedValue AnimatedValue::of(double d) {
    AnimatedValue a;
    a.v[0] = d;
    a.count = 1;
    return a;
}

AnimatedValue AnimatedValue::of(const Color& c) {
    AnimatedValue a;
    gfx::Rgba l = c.light(), d = c.dark();
    a.v[0] = l.r;
    a.v[1] = l.g;
    a.v[2] = l.b;
    a.v[3] = l.a;
    a.v[4] = d.r;
    a.v[5] = d.g;
    a.v[6] = d.b;
    a.v[7] = d.a;
    a.count = 8;
    return a;
}

Color AnimatedValue::color() const {
    auto c = [](double x) { return x < 0 ? 0.0 : (x > 1 ? 1.0 : x); };
    return Color(gfx::Rgba{c(v[0]), c(v[1]), c(v[2]), c(v[3])}, gfx::Rgba{c(v[4]), c(v[5]), c(v[6]), c(v[7])});
}

bool AnimatedValue::operator==(const AnimatedValue& o) const {
    if (count != o.count) return false;
    for (int i = 0; i < count; ++i)
        if (v[i] != o.v[i]) return false;
    return true;
}

double AnimationTiming::progress(double f) const {
    if (f <= 0) return 0;
    if (f >= 1) return 1;
    switch (kind) {
    case Kind::Linear: return f;
    case Kind::EaseIn: return bezier(0.42, 0, 1, 1, f);
    case Kind::EaseOut: return bezier(0, 0, 0.58, 1, f);
    case Kind::EaseInOut: return bezier(0.42, 0, 0.58, 1, f);
    case Kind::Spring: {
        // A damped spring from displacement -1 towards rest, tuned so that it
        // has settled to a thousandth of the distance when the duration ends.
        double T = duration > 0 ? duration : 1.0;
        double t = f * T;
        double zeta = damping > 0 ? damping : 0.01;
        double omega = std::log(1000.0) / (std::min(zeta, 1.0) * T);
        double x0 = -1.0, v0 = velocity;
        double d;
        if (zeta < 1) {
            double wd = omega * std::sqrt(1 - zeta * zeta);
            double A = x0, B = (v0 + zeta * omega * x0) / wd;
            d = std::exp(-zeta * omega * t) * (A * std::cos(wd * t) + B * std::sin(wd * t));
        } else {
            double A = x0, B = v0 + omega * x0;
            d = std::exp(-omega * t) * (A + B * t);
        }
        return 1 + d;
    }
    }
    return f;
}

AnimationTiming AnimationTiming::fromOptions(unsigned options) {
    AnimationTiming t;
    switch ((options >> 16) & 3u) {
    case 0: t.kind = Kind::EaseInOut; break;
    case 1: t.kind = Kind::EaseIn; break;
    case 2: t.kind = Kind::EaseOut; break;
    default: t.kind = Kind::Linear; break;
    }
    return t;
}

void AnimationGroup::trackEnded(bool cutShort) {
    if (cutShort) interrupted = true;
    if (--running > 0 || done) return;
    done = true;
    if (!completion) return;
    // Completions run on a later turn of the loop, never inside the caller.
    auto fn = std::move(completion);
    bool finished = !interrupted;
    sys::RunLoop::main().post([fn, finished] { fn(finished); });
}

AnimatedValue AnimationTrack::valueAt(double now) const {
    if (now >= start + duration) return to;
    double f = duration > 0 ? (now - start) / duration : 1.0;
    double p = timing.progress(f);
    AnimatedValue out = to;
    for (int i = 0; i < to.count; ++i) {
        double a = from.v[i], b = to.v[i];
        // Angles of transforms turn the short way round.
        if (to.count == 6 && i == 2) b = a + wrapAngle(b - a);
        out.v[i] = a + (b - a) * p;
    }
    return out;
}

}  // namespace ui
