#pragma once

#include <any>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace sys {

struct Notification {
    std::string name;
    const void* object = nullptr;                // the sender, compared by identity
    std::map<std::string, std::any> userInfo;
};

// Named notifications delivered synchronously, on the posting thread, to the
// observers registered at the time of posting.
class NotificationCenter {
public:
    using Handler = std::function<void(const Notification&)>;
    using Token = uint64_t;

    static NotificationCenter& defaultCenter();

    // `object` filters by sender (nullptr: any sender). An observer with an
    // owner is dropped once the owner is gone.
    Token addObserver(const std::string& name, Handler handler, const void* object = nullptr,
                      std::weak_ptr<const void> owner = {});
    void removeObserver(Token token);
    void post(const std::string& name, const void* object = nullptr,
              std::map<std::string, std::any> userInfo = {});
    void post(const Notification& n);
    size_t observerCount(const std::string& name) const;

private:
    struct Entry {
        Token token;
        std::string name;
        const void* object;
        Handler handler;
        std::weak_ptr<const void> owner;
        bool hasOwner;
    };
    mutable std::mutex mutex_;
    std::vector<Entry> entries_;
    Token next_ = 1;
};

}  // namespace sys
