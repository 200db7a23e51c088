#include "platform/ui/UserNotificationCenter.h"

#include <mutex>

namespace ui {

namespace {
std::mutex& sharedMutex() {
    static std::mutex m;
    return m;
}
std::shared_ptr<UserNotificationCenter>& sharedCenter() {
    static std::shared_ptr<UserNotificationCenter> c;
    return c;
}
}  // namespace

UserNotificationCenter::~UserNotificationCenter() {
    for (auto& [id, p] : pending_)
        if (p.second) p.second->invalidate();
}

std::shared_ptr<UserNotificationCenter> UserNotificationCenter::shared() {
    std::lock_guard<std::mutex> lock(sharedMutex());
    if (!sharedCenter()) sharedCenter() = std::make_shared<UserNotificationCenter>();
    return sharedCenter();
}

void UserNotificationCenter::setShared(std::shared_ptr<UserNotificationCenter> c) {
    std::lock_guard<std::mutex> lock(sharedMutex());
    sharedCenter() = std::move(c);
}

void UserNotificationCenter::requestAuthorization(unsigned options, std::function<void(bool)> completion) {
    // The desktop asks nobody: what is asked for is granted.
    granted_ |= options;
    if (completion) sys::RunLoop::main().post([completion] { completion(true); });
}

void UserNotificationCenter::add(const Request& request) {
    auto old = pending_.find(request.identifier);
    if (old != pending_.end() && old->second.second) old->second.second->invalidate();
    std::string id = request.identifier;
    // The destructor stops the timers, so `this` stays valid for them.
    auto timer = sys::RunLoop::main().schedule(request.delay > 0 ? request.delay : 0, [this, id] { deliver(id); });
    pending_[id] = {request, timer};
}

void UserNotificationCenter::deliver(const std::string& identifier) {
    auto it = pending_.find(identifier);
    if (it == pending_.end()) return;
    Request r = it->second.first;
    pending_.erase(it);
    delivered_.push_back(r);
    if (delivered_.size() > kMaxDelivered) delivered_.erase(delivered_.begin());
    if (presenter_ && (granted_ & OptionAlert)) presenter_(r);
}

void UserNotificationCenter::removePendingRequests(const std::vector<std::string>& identifiers) {
    for (auto& id : identifiers) {
        auto it = pending_.find(id);
        if (it == pending_.end()) continue;
        if (it->second.second) it->second.second->invalidate();
        pending_.erase(it);
    }
}

void UserNotificationCenter::removeAllPendingRequests() {
    for (auto& [id, p] : pending_)
        if (p.second) p.second->invalidate();
    pending_.clear();
}

std::vector<UserNotificationCenter::Request> UserNotificationCenter::pendingRequests() const {
    std::vector<Request> out;
    for (auto& [id, p] : pending_) out.push_back(p.first);
    return out;
}

}  // namespace ui
