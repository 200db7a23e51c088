#pragma once

#include "platform/core/Condition.h"
#include "platform/core/OperationQueue.h"
#include "viewer/BookViewController.h"

#include <memory>
#include <mutex>

// One sharper reload of the page on screen, run on the reading screen's
// operation queue. Everything it needs was taken on the main thread when it
// was queued, so it never waits for the main thread; its result is posted
// back and dropped there if the screen has moved on or gone.
class PageReload {
public:
    PageReload(std::weak_ptr<BookViewController> viewer, BookViewController::ReloadInput input, bool wait);

    const ui::Rect& reloadtargetRect() const { return input_.rect; }
    bool wait() const { return wait_; }

    // The operation body: waits half a second first when asked (ending the
    // wait early when cancelled), loads, posts the result to the main loop.
    void main(const sys::Operation& op);
    // Ends a running wait early (the queue's cancel does the rest).
    void cancelWait();

    // Queues a reload on `queue`; the returned operation can be cancelled.
    static sys::OperationRef enqueue(sys::OperationQueue& queue, std::shared_ptr<PageReload> reload);

private:
    std::weak_ptr<BookViewController> bookViewController_;
    BookViewController::ReloadInput input_;
    bool wait_ = false;
    std::mutex mutex_;
    sys::Condition cond_;
    bool stopWait_ = false;
};
