#include "foundation/ui/AuxiliaryScreenFactory.h"

namespace {
// Installed once at start-up on the main thread, read there.
std::shared_ptr<AuxiliaryScreenFactory>& slot() {
    static std::shared_ptr<AuxiliaryScreenFactory> s;
    return s;
}
}  // namespace

void AuxiliaryScreenFactory::install(std::shared_ptr<AuxiliaryScreenFactory> factory) { slot() = std::move(factory); }

std::shared_ptr<AuxiliaryScreenFactory> AuxiliaryScreenFactory::installed() { return slot(); }
