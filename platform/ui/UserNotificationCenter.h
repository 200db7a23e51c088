#pragma once

#include "platform/core/RunLoop.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace ui {

// Local notifications: notices the program schedules for later (a finished
// download). The process has one centre (shared()); this one keeps them on
// the main run loop and, when one falls due, hands it to the presenter the
// desktop shell installs (or only records it as delivered). Tests install a
// RecordingUserNotificationCenter.
class UserNotificationCenter {
public:
    enum Option : unsigned { OptionBadge = 1u << 0, OptionSound = 1u << 1, OptionAlert = 1u << 2 };

    struct Request {
        std::string identifier;
        std::string title;
        std::string body;
        double delay = 0;  // seconds from now; 0 delivers on the next turn
        std::map<std::string, std::string> userInfo;
    };
    using Presenter = std::function<void(const Request&)>;

    virtual ~UserNotificationCenter();

    static std::shared_ptr<UserNotificationCenter> shared();
    static void setShared(std::shared_ptr<UserNotificationCenter> c);

    // Asks for permission; the answer comes on a later turn of the main loop.
    virtual void requestAuthorization(unsigned options, std::function<void(bool granted)> completion);
    // What has been granted (0 before any request).
    virtual unsigned authorizedOptions() const { return granted_; }
    // A request with the identifier of a pending one replaces it.
    virtual void add(const Request& request);
    virtual void removePendingRequests(const std::vector<std::string>& identifiers);
    virtual void removeAllPendingRequests();
    virtual std::vector<Request> pendingRequests() const;
    virtual std::vector<Request> deliveredNotifications() const { return delivered_; }
    virtual void removeAllDeliveredNotifications() { delivered_.clear(); }

    void setPresenter(Presenter p) { presenter_ = std::move(p); }

    // Delivered notices kept at most (the oldest go first).
    static constexpr size_t kMaxDelivered = 64;

protected:
    void deliver(const std::string& identifier);

    unsigned granted_ = 0;
    std::map<std::string, std::pair<Request, sys::RunLoop::TimerRef>> pending_;
    std::vector<Request> delivered_;
    Presenter presenter_;
};

}  // namespace ui
