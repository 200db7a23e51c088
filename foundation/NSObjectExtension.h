#pragma once

#include "platform/core/RunLoop.h"

#include <functional>

// Runs a block after a delay on the main loop; the call is dropped when the
// owner (if one is given) is gone by then.
class NSObjectExtension {
public:
    NSObjectExtension() = delete;

    static sys::RunLoop::TimerRef performBlock(std::function<void()> block, double afterDelay,
                                               sys::RunLoop::Owner owner = {});
};
