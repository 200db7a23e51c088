#include "foundation/ui/TransferScreenFactory.h"

namespace {
// Installed once at start-up on the main thread, read there.
std::shared_ptr<TransferScreenFactory>& slot() {
    static std::shared_ptr<TransferScreenFactory> s;
    return s;
}
}  // namespace

void TransferScreenFactory::install(std::shared_ptr<TransferScreenFactory> factory) { slot() = std::move(factory); }

std::shared_ptr<TransferScreenFactory> TransferScreenFactory::installed() { return slot(); }
