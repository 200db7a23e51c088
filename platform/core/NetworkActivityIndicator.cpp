#include "platform/core/NetworkActivityIndicator.h"

namespace sys {

namespace {
bool gVisible = false;
std::function<void(bool)>& handler() {
    static std::function<void(bool)> h;
    return h;
}
}  // namespace

void NetworkActivityIndicator::setVisible(bool visible) {
    if (gVisible == visible) return;
    gVisible = visible;
    if (handler()) handler()(visible);
}

bool NetworkActivityIndicator::isVisible() { return gVisible; }

void NetworkActivityIndicator::setHandler(std::function<void(bool)> h) { handler() = std::move(h); }

}  // namespace sys
