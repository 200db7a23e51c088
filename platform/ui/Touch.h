#pragma once

#include "platform/ui/Geometry.h"

#include <memory>
#include <vector>

namespace ui {

class View;
class Window;

enum class TouchPhase { Began, Moved, Stationary, Ended, Cancelled };

// One finger on the screen from touch-down to lift or cancel. Locations are
// kept in window coordinates and converted for whoever asks.
class Touch {
public:
    int identifier() const { return id_; }
    TouchPhase phase() const { return phase_; }
    // 1 for a single tap, 2 when this touch began close to the last one in
    // place and time (a double tap), and so on.
    int tapCount() const { return tapCount_; }
    double timestamp() const { return timestamp_; }
    // The view that receives this touch's events (the hit view, until a
    // watching ancestor takes the touch over).
    std::shared_ptr<View> view() const { return view_.lock(); }
    Window* window() const { return window_; }

    // In the coordinates of `v` (window coordinates when v is null).
    Point locationInView(const View* v) const;
    Point previousLocationInView(const View* v) const;
    Point locationInWindow() const { return location_; }
    Point previousLocationInWindow() const { return previous_; }

private:
    friend class Window;
    int id_ = 0;
    TouchPhase phase_ = TouchPhase::Began;
    int tapCount_ = 1;
    double timestamp_ = 0;
    Point location_;
    Point previous_;
    Point began_;
    std::weak_ptr<View> view_;
    Window* window_ = nullptr;
};

using TouchRef = std::shared_ptr<Touch>;
using TouchSet = std::vector<TouchRef>;

// The touches of one event: those that changed, and all current ones.
struct Event {
    TouchSet allTouches;
    double timestamp = 0;
    TouchSet touchesForView(const View* v) const;
};

}  // namespace ui
