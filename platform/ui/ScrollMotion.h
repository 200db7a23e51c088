#pragma once

namespace ui {

// The motion of one axis of a scroll view after the finger lifts, as a pure
// function of time so that it lands on the same values however the run loop
// samples it:
//  - deceleration: the speed falls by `rate` per millisecond (0.998 normal,
//    0.99 fast); crossing an edge turns it into a spring back to the edge
//    (or a stop at the edge when bouncing is off);
//  - spring: a critically damped return to a target (bouncing back after a
//    drag past the edge);
//  - eased move: from one value to another in a fixed time (animated offsets
//    and paging).
class ScrollMotion {
public:
    static constexpr double kNormalRate = 0.998;
    static constexpr double kFastRate = 0.99;
    // Spring stiffness as an angular frequency (1/s).
    static constexpr double kSpringOmega = 12.0;

    ScrollMotion() = default;

    static ScrollMotion none(double at);
    // From `position` at `velocity` (points per second), within [lo, hi].
    static ScrollMotion decelerate(double start, double position, double velocity, double rate, double lo,
                                   double hi, bool bounces);
    static ScrollMotion spring(double start, double position, double velocity, double target);
    static ScrollMotion eased(double start, double from, double to, double duration, bool easeInOut);

    double valueAt(double time) const;
    double velocityAt(double time) const;
    bool finishedAt(double time) const;
    // Where the motion comes to rest.
    double restingValue() const;
    bool isMoving() const { return kind_ != Kind::None; }

    // The distance of free deceleration from `velocity` until it stops.
    static double decelerationDistance(double velocity, double rate);

    // Rubber band: how far the content shows when pulled `overshoot` points
    // past its edge in a viewport of `dimension` points.
    static double rubberBand(double overshoot, double dimension);
    // The overshoot that shows as `shown` (inverse of rubberBand).
    static double rubberBandInverse(double shown, double dimension);

private:
    enum class Kind { None, Decelerate, Spring, Eased };

    double freeValue(double dt) const;
    double freeVelocity(double dt) const;
    double springValue(double dt) const;
    double springVelocity(double dt) const;

    Kind kind_ = Kind::None;
    double start_ = 0;
    double x0_ = 0;
    double v0_ = 0;
    double k_ = 0;  // 1000 * ln(rate): the speed's exponent per second (negative)
    double lo_ = 0, hi_ = 0;
    bool bounces_ = true;
    // Where free deceleration meets an edge (Decelerate): the time after
    // start, and the spring or stop that follows.
    double hitTime_ = -1;
    double edge_ = 0;
    double restAt_ = 0;    // time after start when it comes to rest
    double target_ = 0;    // Spring and Eased
    double duration_ = 0;  // Eased
    bool easeInOut_ = false;
    // The spring that follows the free phase (or the whole motion):
    // starts springStart_ after start_, from springX0_ at springV0_.
    double springStart_ = 0;
    double springX0_ = 0;
    double springV0_ = 0;
};

}  // namespace ui
