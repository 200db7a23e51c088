#pragma once

#include "platform/ui/Geometry.h"

#include <functional>
#include <vector>

namespace ui {

// What the blocks of a transition learn about it.
struct TransitionCoordinatorContext {
    bool animated = true;
    bool cancelled = false;
    double duration = 0;
    // The rotation the transition applies (identity when the size changes
    // without turning).
    AffineTransform targetTransform;
};

// Runs work alongside a transition (a rotation, a push) and after it. The
// blocks given to animateAlongsideTransition run inside the transition's
// animation, so view changes they make animate with it; the completions
// run once it has ended.
class TransitionCoordinator {
public:
    using Block = std::function<void(const TransitionCoordinatorContext&)>;

    explicit TransitionCoordinator(TransitionCoordinatorContext context);

    const TransitionCoordinatorContext& context() const { return context_; }
    bool isAnimated() const { return context_.animated; }
    bool isCancelled() const { return context_.cancelled; }
    double transitionDuration() const { return context_.duration; }
    AffineTransform targetTransform() const { return context_.targetTransform; }

    // False when the transition has already run (the blocks are then not kept).
    bool animateAlongsideTransition(Block animation, Block completion = {});

    // For whoever runs the transition: the alongside blocks (inside the
    // animation), then the completions.
    void runAlongside();
    void runCompletions();
    bool hasRun() const { return ran_; }

private:
    TransitionCoordinatorContext context_;
    std::vector<Block> alongside_;
    std::vector<Block> completions_;
    bool started_ = false;
    bool ran_ = false;
};

}  // namespace ui
