#include "platform/ui/ShareService.h"

#include "platform/core/RunLoop.h"

#include <mutex>

namespace ui {

namespace {

std::mutex& sharedMutex() {
    static std::mutex m;
    return m;
}
std::shared_ptr<ShareService>& sharedService() {
    static std::shared_ptr<ShareService> s;
    return s;
}

}  // namespace

std::shared_ptr<ShareService> ShareService::shared() {
    std::lock_guard<std::mutex> lock(sharedMutex());
    if (!sharedService()) sharedService() = std::make_shared<ShareService>();
    return sharedService();
}

void ShareService::setShared(std::shared_ptr<ShareService> s) {
    std::lock_guard<std::mutex> lock(sharedMutex());
    sharedService() = std::move(s);
}

bool ShareService::openIn(const std::string&, const Anchor&) { return false; }

void ShareService::share(const std::vector<std::string>&, const Anchor&, Completion completion) {
    if (completion) sys::RunLoop::main().post([completion] { completion(false); });
}

}  // namespace ui
