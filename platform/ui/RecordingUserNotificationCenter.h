#pragma once

#include "platform/ui/UserNotificationCenter.h"

#include <vector>

namespace ui {

// A notification centre for tests: it answers permission requests as told,
// remembers what was asked and added, and delivers on the (virtual) clock
// like the real one.
class RecordingUserNotificationCenter : public UserNotificationCenter {
public:
    bool grant = true;
    std::vector<unsigned> authorizationRequests;
    std::vector<Request> added;
    std::vector<std::string> removed;

    void requestAuthorization(unsigned options, std::function<void(bool granted)> completion) override;
    void add(const Request& request) override;
    void removePendingRequests(const std::vector<std::string>& identifiers) override;
};

}  // namespace ui
