#include "foundation/NetworkIndicatorWithKey.h"

#include "platform/core/NetworkActivityIndicator.h"
#include "platform/core/RunLoop.h"

#include <mutex>

namespace {
std::mutex gMutex;
std::shared_ptr<NetworkIndicatorWithKey> gShared;
}  // namespace

std::shared_ptr<NetworkIndicatorWithKey> NetworkIndicatorWithKey::networkIndicatorWithKey() {
    std::lock_guard<std::mutex> lock(gMutex);
    if (!gShared) gShared.reset(new NetworkIndicatorWithKey());
    return gShared;
}

void NetworkIndicatorWithKey::releaseNetworkIndicatorWithKey() {
    {
        std::lock_guard<std::mutex> lock(gMutex);
        gShared.reset();
    }
    if (sys::RunLoop::isMainThread())
        sys::NetworkActivityIndicator::setVisible(false);
    else
        sys::RunLoop::main().post([] { sys::NetworkActivityIndicator::setVisible(false); });
}

void NetworkIndicatorWithKey::visible(bool flag, const std::string& key) {
    std::weak_ptr<NetworkIndicatorWithKey> self;
    {
        std::lock_guard<std::mutex> lock(gMutex);
        if (gShared.get() == this) self = gShared;
    }
    auto owner = self.lock();
    if (!owner) return;  // a released instance no longer drives the indicator
    sys::RunLoop::main().post(
        [this, flag, key] {
            if (flag) {
                keys_.insert(key);
                sys::NetworkActivityIndicator::setVisible(true);
            } else {
                keys_.erase(key);
                if (keys_.empty()) sys::NetworkActivityIndicator::setVisible(false);
            }
        },
        sys::RunLoop::Owner(self));
}
