#pragma once

#include "platform/ui/Color.h"
#include "platform/ui/Geometry.h"

#include <functional>
#include <memory>
#include <vector>

namespace ui {

class View;

// Options of View::animate, with the platform's bit values where they matter.
enum AnimationOptions : unsigned {
    AnimationOptionNone = 0,
    AnimationOptionAllowUserInteraction = 1u << 1,
    AnimationOptionBeginFromCurrentState = 1u << 2,
    AnimationOptionCurveEaseInOut = 0u << 16,
    AnimationOptionCurveEaseIn = 1u << 16,
    AnimationOptionCurveEaseOut = 2u << 16,
    AnimationOptionCurveLinear = 3u << 16,
};
inline AnimationOptions operator|(AnimationOptions a, AnimationOptions b) {
    return AnimationOptions(unsigned(a) | unsigned(b));
}

enum class AnimatedProperty { Center, Bounds, Transform, Alpha, BackgroundColor, CornerRadius };

// A property value as numbers, so that every kind interpolates the same way.
struct AnimatedValue {
    double v[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    int count = 0;

    static AnimatedValue of(Point p);
    static AnimatedValue of(const Rect& r);
    static AnimatedValue of(const AffineTransform& t);  // decomposed: moves, turns, scales
    static AnimatedValue of(double d);
    static AnimatedValue of(const Color& c);

    Point point() const { return {v[0], v[1]}; }
    Rect rect() const { return Rect(v[0], v[1], v[2], v[3]); }
    AffineTransform transform() const;
    double number() const { return v[0]; }
    Color color() const;

    bool operator==(const AnimatedValue& o) const;
};

// Timing: where an animation stands (0 at the start, 1 at the end; springs
// may pass beyond 1) at a fraction of its duration.
struct AnimationTiming {
    enum class Kind { EaseInOut, EaseIn, EaseOut, Linear, Spring } kind = Kind::EaseInOut;
    double damping = 1.0;   // springs: damping ratio
    double velocity = 0.0;  // springs: initial speed, in distances per second
    double duration = 0.0;  // springs need it to turn velocity into progress

    double progress(double fraction) const;
    static AnimationTiming fromOptions(unsigned options);
};

// One animate() call: the completion runs once all its property animations
// have ended, with finished = false when any was cut short.
struct AnimationGroup {
    std::function<void(bool)> completion;
    int running = 0;
    bool interrupted = false;
    bool done = false;
    void trackEnded(bool cutShort);
};

// The animation of one property of one view.
struct AnimationTrack {
    AnimatedValue from;
    AnimatedValue to;
    double start = 0;
    double duration = 0;
    AnimationTiming timing;
    bool allowsUserInteraction = false;
    std::shared_ptr<AnimationGroup> group;
    uint64_t serial = 0;

    bool finishedAt(double now) const { return now >= start + duration; }
    AnimatedValue valueAt(double now) const;
};

}  // namespace ui
