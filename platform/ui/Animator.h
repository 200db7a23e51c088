#pragma once

#include "platform/core/RunLoop.h"
#include "platform/ui/Animation.h"

#include <functional>
#include <memory>
#include <set>
#include <vector>

namespace ui {

// Runs the animations of all views on the main run loop's clock. While an
// animate() block runs, property changes of views become animations that
// start where the view is shown now and end at the new model value; a
// display-link timer at 60 Hz asks the windows to redraw while anything moves.
class Animator {
public:
    static Animator& shared();

    struct Context {
        double duration = 0;
        double start = 0;  // clock time the animations begin (after the delay)
        AnimationTiming timing;
        bool allowsUserInteraction = false;
        std::shared_ptr<AnimationGroup> group;
        bool disabled = false;    // changes apply at once
        bool suppressed = false;  // inside performWithoutAnimation, nested blocks too
    };

    // The block being run, or null (or disabled) when changes apply at once.
    const Context* current() const;
    void run(double duration, double delay, unsigned options, const AnimationTiming& timing,
             const std::function<void()>& changes, std::function<void(bool)> completion);
    void runWithoutAnimation(const std::function<void()>& changes);

    bool animationsEnabled() const { return enabled_; }
    void setAnimationsEnabled(bool on) { enabled_ = on; }

    // Bookkeeping by views.
    uint64_t nextSerial() { return ++serial_; }
    void trackAdded();
    void trackRemoved();
    int activeTracks() const { return active_; }

    // Something that must redraw on every frame while it is registered (a
    // spinning activity indicator).
    void addFrameClient(const void* client);
    void removeFrameClient(const void* client);

    // Called on every display-link frame (windows redraw from here).
    void setFrameHandler(std::function<void()> handler) { frameHandler_ = std::move(handler); }
    bool displayLinkRunning() const { return link_ && link_->isValid(); }

private:
    Animator() = default;
    void updateDisplayLink();

    std::vector<Context> stack_;
    bool enabled_ = true;
    uint64_t serial_ = 0;
    int active_ = 0;
    std::set<const void*> clients_;
    sys::RunLoop::TimerRef link_;
    std::function<void()> frameHandler_;
};

}  // namespace ui
