#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

// One running request of a cloud client (a folder listing). Once
// cancelTicket() has been called on the main thread, nothing more is
// delivered for it, and the request under way is stopped.
class CloudTicket {
public:
    explicit CloudTicket(std::string folder) : folder_(std::move(folder)) {}
    void cancelTicket() {
        cancelled_ = true;
        if (auto stop = std::move(stop_)) stop();
    }
    // What stops the request under way (main thread; the client sets it
    // for each request it makes).
    void setStop(std::function<void()> stop) { stop_ = std::move(stop); }
    bool isCancelled() const { return cancelled_; }
    const std::string& folder() const { return folder_; }
    // Whatever the caller wants back with the result.
    std::shared_ptr<void> userData;

private:
    std::string folder_;
    std::atomic<bool> cancelled_{false};
    std::function<void()> stop_;
};
