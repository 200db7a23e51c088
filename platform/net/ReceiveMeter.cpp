#include "platform/net/ReceiveMeter.h"

namespace net {

namespace {

thread_local ReceiveMeter* tlMeter = nullptr;

}  // namespace

void ReceiveMeter::count(size_t bytes) {
    if (tlMeter && bytes > 0) tlMeter->total_.fetch_add(bytes, std::memory_order_relaxed);
}

ReceiveMeter::Scope::Scope(std::shared_ptr<ReceiveMeter> meter) : meter_(std::move(meter)), previous_(tlMeter) {
    tlMeter = meter_.get();
}

ReceiveMeter::Scope::~Scope() { tlMeter = previous_; }

}  // namespace net
