#pragma once

#include "cloud/HttpEasy.h"

#include <atomic>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>

// One asynchronous HTTP exchange run by QNHTTPRequestOperationManager's
// network thread. The response and data handlers run on the network thread
// (a download writes its file there without a hop through the main thread);
// the completion runs on the main thread.
//
// cancel() may be called from any thread: once it returns, no handler is
// running and none will run, and the completion is never delivered.
class QNHTTPRequestOperation : public std::enable_shared_from_this<QNHTTPRequestOperation> {
public:
    using Completion = std::function<void(const HttpResponse&)>;

    explicit QNHTTPRequestOperation(HttpRequest request);
    ~QNHTTPRequestOperation();

    const HttpRequest& request() const { return request_; }
    // Set before start.
    void setResponseHandler(HttpEasy::ResponseHandler h) { onResponse_ = std::move(h); }
    void setDataHandler(HttpEasy::DataHandler h) { onData_ = std::move(h); }
    void setRedirectHandler(HttpEasy::RedirectHandler h) { onRedirect_ = std::move(h); }
    void setCollectBody(size_t maxBytes) { maxBody_ = maxBytes; }
    void setCompletion(Completion c) { completion_ = std::move(c); }

    // Hands the operation to the shared manager. Its waits on the server
    // hold up advancing virtual time no longer than the starting thread's
    // sys::Clock::NetworkHoldLimit allows.
    void start();
    void cancel();
    bool isCancelled() const { return cancelled_.load(); }
    bool isFinished() const { return finished_.load(); }

private:
    friend class QNHTTPRequestOperationManager;
    // Network thread.
    void prepareEasy();
    void complete(HttpResponse response);

    HttpRequest request_;
    HttpEasy::ResponseHandler onResponse_;
    HttpEasy::DataHandler onData_;
    HttpEasy::RedirectHandler onRedirect_;
    size_t maxBody_ = 0;
    Completion completion_;
    HttpEasy easy_;
    // Held while a handler runs, so that cancel() can wait it out.
    std::recursive_mutex handlerMutex_;
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> finished_{false};
    // The starting thread's NetworkHoldLimit (a realNow() time).
    double holdUntil_ = std::numeric_limits<double>::infinity();
};
