#include "cloud/QNHTTPRequestOperation.h"

#include "cloud/QNHTTPRequestOperationManager.h"
#include "platform/core/Clock.h"
#include "platform/core/RunLoop.h"

QNHTTPRequestOperation::QNHTTPRequestOperation(HttpRequest request) : request_(std::move(request)) {}

QNHTTPRequestOperation::~QNHTTPRequestOperation() = default;

void QNHTTPRequestOperation::start() {
    holdUntil_ = sys::Clock::NetworkHoldLimit::current();
    QNHTTPRequestOperationManager::sharedManager().enqueue(shared_from_this());
}

void QNHTTPRequestOperation::cancel() {
    if (cancelled_.exchange(true)) return;
    {
        // Waits for a handler that runs right now on the network thread.
        std::lock_guard<std::recursive_mutex> lk(handlerMutex_);
    }
    QNHTTPRequestOperationManager::wakeShared();
}

void QNHTTPRequestOperation::prepareEasy() {
    // The handlers run under the operation's lock and only while it is not
    // cancelled; a refusal stops the transfer.
    auto self = this;
    HttpEasy::ResponseHandler onResponse = [self](const HttpResponse& r) {
        std::lock_guard<std::recursive_mutex> lk(self->handlerMutex_);
        if (self->cancelled_) return false;
        return self->onResponse_ ? self->onResponse_(r) : true;
    };
    HttpEasy::DataHandler onData = [self](const char* data, size_t n) {
        std::lock_guard<std::recursive_mutex> lk(self->handlerMutex_);
        if (self->cancelled_) return false;
        return self->onData_ ? self->onData_(data, n) : true;
    };
    HttpEasy::RedirectHandler onRedirect = [self](const std::string& url) {
        std::lock_guard<std::recursive_mutex> lk(self->handlerMutex_);
        if (!self->cancelled_ && self->onRedirect_) self->onRedirect_(url);
    };
    easy_.prepare(request_, onResponse, onData, onRedirect, maxBody_);
}

void QNHTTPRequestOperation::complete(HttpResponse response) {
    auto self = shared_from_this();
    sys::RunLoop::main().post([self, response = std::move(response)] {
        if (self->cancelled_) return;
        self->finished_ = true;
        auto done = std::move(self->completion_);
        self->completion_ = nullptr;
        // The handlers may hold their owner; the exchange is over.
        self->onResponse_ = nullptr;
        self->onData_ = nullptr;
        self->onRedirect_ = nullptr;
        if (done) done(response);
    });
}
