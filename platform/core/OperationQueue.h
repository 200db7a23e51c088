#pragma once

#include "platform/core/Condition.h"
#include "platform/core/Thread.h"

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace sys {

// One unit of queued work. The body receives the operation so that it can
// look at isCancelled() between steps.
class Operation {
public:
    using Body = std::function<void(const Operation&)>;
    explicit Operation(Body body) : body_(std::move(body)) {}

    void cancel() { cancelled_.store(true); }
    bool isCancelled() const { return cancelled_.load(); }
    bool isFinished() const { return finished_.load(); }
    bool isExecuting() const { return executing_.load(); }

private:
    friend class OperationQueue;
    Body body_;
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> finished_{false};
    std::atomic<bool> executing_{false};
};
using OperationRef = std::shared_ptr<Operation>;

// A serial queue of operations run on one owned worker thread, in the order
// they were added. Cancelled operations that have not started are skipped.
class OperationQueue {
public:
    explicit OperationQueue(std::string name = {});
    ~OperationQueue();
    OperationQueue(const OperationQueue&) = delete;
    OperationQueue& operator=(const OperationQueue&) = delete;

    OperationRef addOperation(Operation::Body body);
    void addOperation(const OperationRef& op);
    void cancelAllOperations();
    void setSuspended(bool suspended);
    bool isSuspended() const;
    size_t operationCount() const;
    // Blocks until every queued operation has finished. On the main thread the
    // main loop keeps running meanwhile, so operations that post to it finish.
    void waitUntilAllOperationsAreFinished();

private:
    void workerLoop(const std::atomic<bool>& stop);

    std::string name_;
    mutable std::mutex mutex_;
    Condition cond_;
    std::deque<OperationRef> queue_;
    OperationRef current_;
    bool suspended_ = false;
    bool quitting_ = false;
    Thread worker_;
};

}  // namespace sys
