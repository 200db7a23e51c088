#include "cloud/QNHTTPRequestOperationManager.h"

#include "cloud/QNHTTPRequestOperation.h"
#include "platform/core/Clock.h"

#include <curl/curl.h>

#include <algorithm>

namespace {

// The shared manager from its construction to the start of its destruction.
// Neither is ever destroyed: they outlast every other static.
std::mutex& sharedMutex() {
    static auto* const m = new std::mutex;
    return *m;
}
QNHTTPRequestOperationManager* gShared = nullptr;  // guarded by sharedMutex()

}  // namespace

QNHTTPRequestOperationManager& QNHTTPRequestOperationManager::sharedManager() {
    static QNHTTPRequestOperationManager manager;
    static const bool published = [] {
        std::lock_guard<std::mutex> lk(sharedMutex());
        gShared = &manager;
        return true;
    }();
    (void)published;
    return manager;
}

void QNHTTPRequestOperationManager::wakeShared() {
    std::lock_guard<std::mutex> lk(sharedMutex());
    if (gShared) gShared->wake();
}

QNHTTPRequestOperationManager::QNHTTPRequestOperationManager() {
    HttpEasy warmUp;  // libcurl's global set-up, before the multi handle
    multi_ = curl_multi_init();
    curl_multi_setopt(multi_, CURLMOPT_PIPELINING, long(CURLPIPE_MULTIPLEX));
    curl_multi_setopt(multi_, CURLMOPT_MAX_HOST_CONNECTIONS, 6L);
    thread_ = sys::Thread([this](const std::atomic<bool>& stop) { run(stop); }, "http-client");
}

QNHTTPRequestOperationManager::~QNHTTPRequestOperationManager() {
    {
        std::lock_guard<std::mutex> lk(sharedMutex());
        if (gShared == this) gShared = nullptr;
    }
    thread_.requestStop();
    wake();
    thread_.join();
    for (const auto& op : running_) curl_multi_remove_handle(multi_, op->easy_.handle());
    running_.clear();
    curl_multi_cleanup(multi_);
}

void QNHTTPRequestOperationManager::enqueue(const std::shared_ptr<QNHTTPRequestOperation>& op) {
    {
        std::lock_guard<std::mutex> lk(mutex_);
        pending_.push_back(op);
        ++count_;
        if (waiting_) waiting_->renew();
    }
    wake();
}

void QNHTTPRequestOperationManager::wake() {
    {
        std::lock_guard<std::mutex> lk(mutex_);
        changed_.notifyAll();
    }
    curl_multi_wakeup(multi_);
}

size_t QNHTTPRequestOperationManager::runningCount() const { return count_.load(); }

void QNHTTPRequestOperationManager::run(const std::atomic<bool>& stop) {
    while (!stop) {
        std::deque<std::shared_ptr<QNHTTPRequestOperation>> added;
        {
            std::unique_lock<std::mutex> lk(mutex_);
            if (pending_.empty() && running_.empty()) {
                // Nothing to drive: an idle wait that does not hold up the
                // virtual clock.
                changed_.wait(lk, [&] { return stop.load() || !pending_.empty(); });
                continue;
            }
            added.swap(pending_);
        }
        for (auto& op : added) {
            if (op->isCancelled()) {
                --count_;
                continue;
            }
            op->prepareEasy();
            op->easy_.setHeardAt(sys::Clock::realNow());
            curl_multi_add_handle(multi_, op->easy_.handle());
            running_.insert(op);
        }
        // Cancelled operations leave without a word.
        for (auto it = running_.begin(); it != running_.end();) {
            if ((*it)->isCancelled()) {
                curl_multi_remove_handle(multi_, (*it)->easy_.handle());
                it = running_.erase(it);
                --count_;
            } else {
                ++it;
            }
        }
        int still = 0;
        curl_multi_perform(multi_, &still);
        int left = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi_, &left)) {
            if (msg->msg != CURLMSG_DONE) continue;
            std::shared_ptr<QNHTTPRequestOperation> op;
            for (const auto& r : running_) {
                if (r->easy_.handle() == msg->easy_handle) {
                    op = r;
                    break;
                }
            }
            curl_multi_remove_handle(multi_, msg->easy_handle);
            if (!op) continue;
            bool again = false;
            {
                std::lock_guard<std::recursive_mutex> lk(op->handlerMutex_);
                if (!op->isCancelled()) again = op->easy_.finishStep(int(msg->data.result));
            }
            if (again && !op->isCancelled()) {
                curl_multi_add_handle(multi_, op->easy_.handle());
                continue;
            }
            running_.erase(op);
            --count_;
            if (!op->isCancelled()) op->complete(op->easy_.takeResponse());
        }
        if (!running_.empty()) {
            // Busy for the virtual clock while any server is answering; a
            // wait on servers that all went silent stalls, and so does one
            // past an operation's hold limit, however busily its server talks.
            double heardAt = 0;
            for (const auto& op : running_)
                heardAt = std::max(heardAt, std::min(op->easy_.heardAt(),
                                                     op->holdUntil_ - sys::Clock::kNetworkStallSeconds));
            sys::Clock::NetworkWait wait(heardAt);
            {
                std::lock_guard<std::mutex> lk(mutex_);
                waiting_ = &wait;
                if (!pending_.empty()) wait.renew();
            }
            curl_multi_poll(multi_, nullptr, 0, 100, nullptr);
            std::lock_guard<std::mutex> lk(mutex_);
            waiting_ = nullptr;
        }
    }
}
