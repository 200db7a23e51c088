#include "viewer/PageReload.h"

#include "platform/core/RunLoop.h"

namespace {
constexpr double kWaitBeforeReload = 0.5;
}

PageReload::PageReload(std::weak_ptr<BookViewController> viewer, BookViewController::ReloadInput input, bool wait)
    : bookViewController_(std::move(viewer)), input_(std::move(input)), wait_(wait) {}

void PageReload::cancelWait() {
    std::lock_guard lock(mutex_);
    stopWait_ = true;
    cond_.notifyAll();
}

void PageReload::main(const sys::Operation& op) {
    if (wait_) {
        std::unique_lock lock(mutex_);
        cond_.waitFor(lock, kWaitBeforeReload, [&] { return stopWait_ || op.isCancelled(); });
    }
    if (op.isCancelled()) return;
    BookViewController::ReloadOutput out = BookViewController::reloadPageDo(input_, &op);
    std::weak_ptr<BookViewController> weak = bookViewController_;
    // Only the main loop may lock the screen: the last reference must never
    // be let go on this thread.
    sys::LoopOwner alive;
    alive.ref = weak;
    alive.present = true;
    sys::RunLoop::main().post(
        [weak, out = std::move(out)] {
            if (auto viewer = weak.lock()) viewer->reloadPageFinish(out);
        },
        alive);
}

sys::OperationRef PageReload::enqueue(sys::OperationQueue& queue, std::shared_ptr<PageReload> reload) {
    return queue.addOperation([reload](const sys::Operation& op) { reload->main(op); });
}
