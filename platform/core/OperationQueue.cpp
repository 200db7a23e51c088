#include "platform/core/OperationQueue.h"

#include "platform/core/RunLoop.h"

namespace sys {

OperationQueue::OperationQueue(std::string name) : name_(std::move(name)) {}

OperationQueue::~OperationQueue() {
    {
        std::lock_guard<std::mutex> g(mutex_);
        quitting_ = true;
        for (auto& op : queue_) op->cancel();
        queue_.clear();
        if (current_) current_->cancel();
    }
    cond_.notifyAll();
    worker_.requestStop();
    worker_.join();
}

OperationRef OperationQueue::addOperation(Operation::Body body) {
    auto op = std::make_shared<Operation>(std::move(body));
    addOperation(op);
    return op;
}

void OperationQueue::addOperation(const OperationRef& op) {
    {
        std::lock_guard<std::mutex> g(mutex_);
        if (quitting_) return;
        queue_.push_back(op);
        // The worker starts on first use and stays until the queue goes away.
        if (!worker_.joinable()) {
            worker_ = Thread([this](const std::atomic<bool>& stop) { workerLoop(stop); },
                             name_.empty() ? "opqueue" : name_);
        }
    }
    cond_.notifyAll();
}

void OperationQueue::workerLoop(const std::atomic<bool>& stop) {
    for (;;) {
        OperationRef op;
        {
            std::unique_lock<std::mutex> lk(mutex_);
            cond_.wait(lk, [&] {
                return stop.load() || quitting_ || (!suspended_ && !queue_.empty());
            });
            if (stop.load() || quitting_) return;
            op = queue_.front();
            queue_.pop_front();
            current_ = op;
        }
        if (!op->isCancelled()) {
            op->executing_.store(true);
            op->body_(*op);
            op->executing_.store(false);
        }
        op->finished_.store(true);
        {
            std::lock_guard<std::mutex> g(mutex_);
            current_.reset();
        }
        cond_.notifyAll();
    }
}

void OperationQueue::cancelAllOperations() {
    std::lock_guard<std::mutex> g(mutex_);
    for (auto& op : queue_) {
        op->cancel();
        op->finished_.store(true);
    }
    queue_.clear();
    if (current_) current_->cancel();
}

void OperationQueue::setSuspended(bool suspended) {
    {
        std::lock_guard<std::mutex> g(mutex_);
        suspended_ = suspended;
    }
    cond_.notifyAll();
}

bool OperationQueue::isSuspended() const {
    std::lock_guard<std::mutex> g(mutex_);
    return suspended_;
}

size_t OperationQueue::operationCount() const {
    std::lock_guard<std::mutex> g(mutex_);
    return queue_.size() + (current_ ? 1 : 0);
}

void OperationQueue::waitUntilAllOperationsAreFinished() {
    if (RunLoop::main().isCurrent()) {
        while (operationCount() > 0) {
            RunLoop::main().runUntil([this] { return operationCount() == 0; }, 0.05);
        }
        return;
    }
    std::unique_lock<std::mutex> lk(mutex_);
    cond_.wait(lk, [&] { return queue_.empty() && !current_; });
}

}  // namespace sys
