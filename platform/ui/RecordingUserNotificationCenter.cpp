#include "platform/ui/RecordingUserNotificationCenter.h"

namespace ui {

void RecordingUserNotificationCenter::requestAuthorization(unsigned options, std::function<void(bool)> completion) {
    authorizationRequests.push_back(options);
    bool g = grant;
    granted_ = g ? (granted_ | options) : 0;
    if (completion) sys::RunLoop::main().post([completion, g] { completion(g); });
}

void RecordingUserNotificationCenter::add(const Request& request) {
    added.push_back(request);
    UserNotificationCenter::add(request);
}

void RecordingUserNotificationCenter::removePendingRequests(const std::vector<std::string>& identifiers) {
    removed.insert(removed.end(), identifiers.begin(), identifiers.end());
    UserNotificationCenter::removePendingRequests(identifiers);
}

}  // namespace ui
