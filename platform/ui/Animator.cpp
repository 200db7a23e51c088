#include "platform/ui/Animator.h"

#include "platform/core/Clock.h"

namespace ui {

Animator& Animator::shared() {
    static Animator* a = new Animator;
    return *a;
}

const Animator::Context* Animator::current() const {
    if (stack_.empty()) return nullptr;
    const Context& c = stack_.back();
    if (c.disabled || !enabled_) return nullptr;
    return &c;
}

void Animator::run(double duration, double delay, unsigned options, const AnimationTiming& timing,
                   const std::function<void()>& changes, std::function<void(bool)> completion) {
    auto group = std::make_shared<AnimationGroup>();
    group->completion = std::move(completion);
    group->running = 1;  // held until the block has run
    Context c;
    c.duration = duration > 0 ? duration : 0;
    c.start = sys::Clock::now() + (delay > 0 ? delay : 0);
    c.timing = timing;
    c.timing.duration = c.duration;
    c.allowsUserInteraction = (options & AnimationOptionAllowUserInteraction) != 0;
    c.group = group;
    c.suppressed = !stack_.empty() && stack_.back().suppressed;
    c.disabled = !(duration > 0) || c.suppressed;
    stack_.push_back(c);
    try {
        if (changes) changes();
    } catch (...) {
        stack_.pop_back();
        throw;
    }
    stack_.pop_back();
    group->trackEnded(false);
}

void Animator::runWithoutAnimation(const std::function<void()>& changes) {
    Context c;
    c.disabled = true;
    c.suppressed = true;
    stack_.push_back(c);
    try {
        if (changes) changes();
    } catch (...) {
        stack_.pop_back();
        throw;
    }
    stack_.pop_back();
}

void Animator::trackAdded() {
    ++active_;
    updateDisplayLink();
}

void Animator::trackRemoved() {
    if (active_ > 0) --active_;
    updateDisplayLink();
}

void Animator::addFrameClient(const void* client) {
    clients_.insert(client);
    updateDisplayLink();
}

void Animator::removeFrameClient(const void* client) {
    clients_.erase(client);
    updateDisplayLink();
}

void Animator::updateDisplayLink() {
    bool want = active_ > 0 || !clients_.empty();
    if (want && !displayLinkRunning()) {
        link_ = sys::RunLoop::main().schedule(
            1.0 / 60.0,
            [this] {
                if (frameHandler_) frameHandler_();
            },
            1.0 / 60.0);
    } else if (!want && link_) {
        link_->invalidate();
        link_.reset();
    }
}

}  // namespace ui
