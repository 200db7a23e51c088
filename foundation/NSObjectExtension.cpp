#include "foundation/NSObjectExtension.h"

sys::RunLoop::TimerRef NSObjectExtension::performBlock(std::function<void()> block, double afterDelay,
                                                       sys::RunLoop::Owner owner) {
    if (!block) return nullptr;
    return sys::RunLoop::main().schedule(afterDelay, std::move(block), 0, std::move(owner));
}
