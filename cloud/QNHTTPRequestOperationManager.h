#pragma once

#include "platform/core/Clock.h"
#include "platform/core/Condition.h"
#include "platform/core/Thread.h"

#include <deque>
#include <memory>
#include <mutex>
#include <set>

class QNHTTPRequestOperation;
typedef void CURLM;

// The HTTP client's network thread: one libcurl multi handle carrying every
// running operation, so that connections (HTTP/1.1 keep-alive and HTTP/2)
// are shared between them. Started on first use; idle while nothing runs.
class QNHTTPRequestOperationManager {
public:
    static QNHTTPRequestOperationManager& sharedManager();

    QNHTTPRequestOperationManager();
    ~QNHTTPRequestOperationManager();
    QNHTTPRequestOperationManager(const QNHTTPRequestOperationManager&) = delete;
    QNHTTPRequestOperationManager& operator=(const QNHTTPRequestOperationManager&) = delete;

    void enqueue(const std::shared_ptr<QNHTTPRequestOperation>& op);
    // Makes the network thread look at its operations now (a cancel).
    void wake();
    // wake() on the shared manager, if it is there: an operation cancelled
    // before any was started, or by an object that goes at exit after the
    // shared manager (statics go in reverse order), has nothing to wake.
    static void wakeShared();
    // Operations queued or running.
    size_t runningCount() const;

private:
    void run(const std::atomic<bool>& stop);

    mutable std::mutex mutex_;
    sys::Condition changed_;
    std::deque<std::shared_ptr<QNHTTPRequestOperation>> pending_;
    // The network thread's wait on its servers, while it waits: an operation
    // handed over then renews it, so the thread counts as busy for the
    // virtual clock from the moment it has new work, even while the servers
    // it is already waiting for have gone silent.
    sys::Clock::NetworkWait* waiting_ = nullptr;
    // Touched by the network thread only.
    std::set<std::shared_ptr<QNHTTPRequestOperation>> running_;
    std::atomic<size_t> count_{0};
    CURLM* multi_ = nullptr;
    sys::Thread thread_;
};
