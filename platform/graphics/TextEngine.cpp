#include "platform/graphics/TextEngine.h"

#include "platform/graphics/PangoTextEngine.h"

#include <mutex>

namespace gfx {

namespace {
std::mutex gMutex;
std::shared_ptr<TextEngine> gCurrent;
}  // namespace

TextEngine& TextEngine::current() {
    std::lock_guard<std::mutex> g(gMutex);
    if (!gCurrent) gCurrent = std::make_shared<PangoTextEngine>();
    return *gCurrent;
}

void TextEngine::setCurrent(std::shared_ptr<TextEngine> engine) {
    std::lock_guard<std::mutex> g(gMutex);
    gCurrent = engine ? std::move(engine) : std::make_shared<PangoTextEngine>();
}

TextEngine::Scope::Scope(std::shared_ptr<TextEngine> engine) {
    {
        std::lock_guard<std::mutex> g(gMutex);
        previous_ = gCurrent;
    }
    setCurrent(std::move(engine));
}

TextEngine::Scope::~Scope() { setCurrent(previous_); }

}  // namespace gfx
