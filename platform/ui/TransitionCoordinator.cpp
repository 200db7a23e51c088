#include "platform/ui/TransitionCoordinator.h"

namespace ui {

TransitionCoordinator::TransitionCoordinator(TransitionCoordinatorContext context) : context_(context) {}

bool TransitionCoordinator::animateAlongsideTransition(Block animation, Block completion) {
    if (ran_) return false;
    if (started_) {
        // Blocks added while the animation runs join it at once.
        if (animation) animation(context_);
    } else if (animation) {
        alongside_.push_back(std::move(animation));
    }
    if (completion) completions_.push_back(std::move(completion));
    return true;
}

void TransitionCoordinator::runAlongside() {
    started_ = true;
    // A block may add more blocks: take them in turn.
    for (size_t i = 0; i < alongside_.size(); ++i) {
        Block b = alongside_[i];
        b(context_);
    }
    alongside_.clear();
}

void TransitionCoordinator::runCompletions() {
    if (ran_) return;
    ran_ = true;
    for (size_t i = 0; i < completions_.size(); ++i) {
        Block b = completions_[i];
        b(context_);
    }
    completions_.clear();
}

}  // namespace ui
