#include "platform/ui/ScrollMotion.h"

#include <algorithm>
#include <cmath>

namespace ui {

namespace {

// Below this speed (points per second) free deceleration counts as stopped.
constexpr double kRestSpeed = 1.0;
// A spring is done when it is this close and this slow.
constexpr double kSpringRestDistance = 0.25;
constexpr double kSpringRestSpeed = 2.0;
constexpr double kRubberBandCoefficient = 0.55;

}  // namespace

ScrollMotion ScrollMotion::none(double at) {
    ScrollMotion m;
    m.x0_ = at;
    m.target_ = at;
    return m;
}

ScrollMotion ScrollMotion::spring(double start, double position, double velocity, double target) {
    ScrollMotion m;
    m.kind_ = Kind::Spring;
    m.start_ = start;
    m.x0_ = position;
    m.v0_ = velocity;
    m.target_ = target;
    m.springStart_ = 0;
    m.springX0_ = position;
    m.springV0_ = velocity;
    // Find when it settles (the curve is fixed, so once is enough).
    double t = 0;
    const double step = 1.0 / 240.0;
    while (t < 10.0) {
        if (std::fabs(m.springValue(t) - target) < kSpringRestDistance &&
            std::fabs(m.springVelocity(t)) < kSpringRestSpeed)
            break;
        t += step;
    }
    m.restAt_ = t;
    return m;
}

ScrollMotion ScrollMotion::decelerate(double start, double position, double velocity, double rate, double lo,
                                      double hi, bool bounces) {
    if (hi < lo) hi = lo;
    if (position < lo || position > hi) {
        double edge = position < lo ? lo : hi;
        if (!bounces) return none(edge);
        return spring(start, position, velocity, edge);
    }
    rate = std::clamp(rate, 0.5, 0.99999);
    ScrollMotion m;
    m.kind_ = Kind::Decelerate;
    m.start_ = start;
    m.x0_ = position;
    m.v0_ = velocity;
    m.k_ = 1000.0 * std::log(rate);
    m.lo_ = lo;
    m.hi_ = hi;
    m.bounces_ = bounces;
    if (std::fabs(velocity) <= kRestSpeed) return none(position);
    double rest = position - velocity / m.k_;
    m.target_ = rest;
    m.restAt_ = std::log(kRestSpeed / std::fabs(velocity)) / m.k_;
    if (rest > hi || rest < lo) {
        double edge = rest > hi ? hi : lo;
        double arg = 1.0 + (edge - position) * m.k_ / velocity;
        m.hitTime_ = arg > 0 ? std::log(arg) / m.k_ : 0;
        m.edge_ = edge;
        double hitVelocity = velocity * std::exp(m.k_ * m.hitTime_);
        if (bounces) {
            m.springStart_ = m.hitTime_;
            m.springX0_ = edge;
            m.springV0_ = hitVelocity;
            m.target_ = edge;
            ScrollMotion s = spring(0, edge, hitVelocity, edge);
            m.restAt_ = m.hitTime_ + s.restAt_;
        } else {
            m.target_ = edge;
            m.restAt_ = m.hitTime_;
        }
    }
    return m;
}

ScrollMotion ScrollMotion::eased(double start, double from, double to, double duration, bool easeInOut) {
    if (!(duration > 0) || from == to) return none(to);
    ScrollMotion m;
    m.kind_ = Kind::Eased;
    m.start_ = start;
    m.x0_ = from;
    m.target_ = to;
    m.duration_ = duration;
    m.easeInOut_ = easeInOut;
    m.restAt_ = duration;
    return m;
}

double ScrollMotion::freeValue(double dt) const { return x0_ + v0_ * (std::exp(k_ * dt) - 1.0) / k_; }

double ScrollMotion::freeVelocity(double dt) const { return v0_ * std::exp(k_ * dt); }

double ScrollMotion::springValue(double dt) const {
    const double w = kSpringOmega;
    double a = springX0_ - target_;
    double b = springV0_ + w * a;
    return target_ + (a + b * dt) * std::exp(-w * dt);
}

double ScrollMotion::springVelocity(double dt) const {
    const double w = kSpringOmega;
    double a = springX0_ - target_;
    double b = springV0_ + w * a;
    return (b - w * (a + b * dt)) * std::exp(-w * dt);
}

double ScrollMotion::valueAt(double time) const {
    double dt = time - start_;
    if (kind_ == Kind::None) return target_;
    if (dt <= 0) return x0_;
    if (dt >= restAt_) return restingValue();
    switch (kind_) {
    case Kind::None: return target_;
    case Kind::Eased: {
        double f = dt / duration_;
        double p = easeInOut_ ? (f < 0.5 ? 4 * f * f * f : 1 - std::pow(-2 * f + 2, 3) / 2) : 1 - std::pow(1 - f, 3);
        return x0_ + (target_ - x0_) * p;
    }
    case Kind::Spring: return springValue(dt);
    case Kind::Decelerate:
        if (hitTime_ >= 0 && dt >= hitTime_) return bounces_ ? springValue(dt - springStart_) : edge_;
        return freeValue(dt);
    }
    return target_;
}

double ScrollMotion::velocityAt(double time) const {
    double dt = time - start_;
    if (kind_ == Kind::None || dt >= restAt_) return 0;
    if (dt < 0) dt = 0;
    switch (kind_) {
    case Kind::None: return 0;
    case Kind::Eased: {
        const double h = 1e-4;
        return (valueAt(time + h) - valueAt(time)) / h;
    }
    case Kind::Spring: return springVelocity(dt);
    case Kind::Decelerate:
        if (hitTime_ >= 0 && dt >= hitTime_) return bounces_ ? springVelocity(dt - springStart_) : 0;
        return freeVelocity(dt);
    }
    return 0;
}

bool ScrollMotion::finishedAt(double time) const { return kind_ == Kind::None || time - start_ >= restAt_; }

double ScrollMotion::restingValue() const { return target_; }

double ScrollMotion::decelerationDistance(double velocity, double rate) {
    rate = std::clamp(rate, 0.5, 0.99999);
    return -velocity / (1000.0 * std::log(rate));
}

double ScrollMotion::rubberBand(double overshoot, double dimension) {
    if (overshoot <= 0) return 0;
    if (dimension <= 0) return 0;
    const double c = kRubberBandCoefficient;
    return c * overshoot * dimension / (c * overshoot + dimension);
}

double ScrollMotion::rubberBandInverse(double shown, double dimension) {
    if (shown <= 0 || dimension <= 0) return 0;
    const double c = kRubberBandCoefficient;
    // The band approaches `dimension` without reaching it: cap just below
    // so the inverse stays finite.
    double y = std::min(shown, dimension * 0.999);
    return y * dimension / (c * (dimension - y));
}

}  // namespace ui
