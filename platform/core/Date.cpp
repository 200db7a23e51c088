#include "platform/core/Date.h"

#include <atomic>
#include <chrono>

namespace sys {

namespace {
std::atomic<Date::NowSource> gNowSource{nullptr};
}

Date Date::now() {
    if (NowSource source = gNowSource.load(std::memory_order_acquire)) return Date(source());
    using namespace std::chrono;
    auto since = system_clock::now().time_since_epoch();
    return Date(duration_cast<duration<double>>(since).count());
}

void Date::setNowSource(NowSource source) { gNowSource.store(source, std::memory_order_release); }

}  // namespace sys
