#include "foundation/AppDelegateServices.h"

#include <mutex>

namespace {
std::mutex gMutex;
std::shared_ptr<AppDelegateServices> gInstalled;
}  // namespace

void AppDelegateServices::install(std::shared_ptr<AppDelegateServices> services) {
    std::lock_guard<std::mutex> lock(gMutex);
    gInstalled = std::move(services);
}

std::shared_ptr<AppDelegateServices> AppDelegateServices::installed() {
    std::lock_guard<std::mutex> lock(gMutex);
    return gInstalled;
}

std::shared_ptr<Settings> AppDelegateServices::sharedSettings() {
    auto s = installed();
    return s ? s->settings() : nullptr;
}

bool AppDelegateServices::appGoingToBackground() {
    auto s = installed();
    return s && s->isAppGotoBackgroundProcess();
}
