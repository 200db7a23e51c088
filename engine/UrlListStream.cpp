#include "engine/UrlListStream.h"

#include <mutex>

namespace {
std::mutex gMakerMutex;
UrlListStream::Maker& maker() {
    static UrlListStream::Maker m;
    return m;
}
}  // namespace

UrlListStream::~UrlListStream() = default;

void UrlListStream::registerMaker(Maker m) {
    std::lock_guard lock(gMakerMutex);
    maker() = std::move(m);
}

std::shared_ptr<UrlListStream> UrlListStream::newUrlListStream() {
    Maker m;
    {
        std::lock_guard lock(gMakerMutex);
        m = maker();
    }
    return m ? m() : nullptr;
}
