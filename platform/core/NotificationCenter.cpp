#include "platform/core/NotificationCenter.h"

#include <algorithm>

namespace sys {

NotificationCenter& NotificationCenter::defaultCenter() {
    static NotificationCenter* c = new NotificationCenter;
    return *c;
}

NotificationCenter::Token NotificationCenter::addObserver(const std::string& name, Handler handler,
                                                          const void* object,
                                                          std::weak_ptr<const void> owner) {
    std::lock_guard<std::mutex> g(mutex_);
    Token t = next_++;
    bool hasOwner = !owner.owner_before(std::weak_ptr<const void>{}) &&
                            !std::weak_ptr<const void>{}.owner_before(owner)
                        ? false
                        : true;
    entries_.push_back(Entry{t, name, object, std::move(handler), std::move(owner), hasOwner});
    return t;
}

void NotificationCenter::removeObserver(Token token) {
    std::lock_guard<std::mutex> g(mutex_);
    entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                  [&](const Entry& e) { return e.token == token; }),
                   entries_.end());
}

void NotificationCenter::post(const std::string& name, const void* object,
                              std::map<std::string, std::any> userInfo) {
    post(Notification{name, object, std::move(userInfo)});
}

void NotificationCenter::post(const Notification& n) {
    std::vector<Entry> targets;
    {
        std::lock_guard<std::mutex> g(mutex_);
        entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                      [](const Entry& e) { return e.hasOwner && e.owner.expired(); }),
                       entries_.end());
        for (const auto& e : entries_) {
            if (e.name == n.name && (e.object == nullptr || e.object == n.object)) {
                targets.push_back(e);
            }
        }
    }
    // Handlers run without the lock, so they may add or remove observers.
    for (const auto& e : targets) {
        {
            std::lock_guard<std::mutex> g(mutex_);
            bool still = std::any_of(entries_.begin(), entries_.end(),
                                     [&](const Entry& x) { return x.token == e.token; });
            if (!still) continue;
        }
        auto keep = e.owner.lock();
        if (e.hasOwner && !keep) continue;
        e.handler(n);
    }
}

size_t NotificationCenter::observerCount(const std::string& name) const {
    std::lock_guard<std::mutex> g(mutex_);
    return size_t(std::count_if(entries_.begin(), entries_.end(),
                                [&](const Entry& e) { return e.name == name; }));
}

}  // namespace sys
