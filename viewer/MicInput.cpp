#include "viewer/MicInput.h"

namespace {
// Set at start-up (or by a test) on the main thread, read there.
MicInput::Maker& maker() {
    static MicInput::Maker m;
    return m;
}
}  // namespace

void MicInput::setMaker(Maker m) { maker() = std::move(m); }

std::shared_ptr<MicInput> MicInput::make() { return maker() ? maker()() : nullptr; }
