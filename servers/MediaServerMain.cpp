#include "servers/MediaServerMain.h"

#include <mutex>

namespace {
std::mutex gMutex;
std::shared_ptr<MediaServerMain> gShared;
}  // namespace

std::shared_ptr<MediaServerMain> MediaServerMain::sharedMediaServer() {
    std::lock_guard<std::mutex> lock(gMutex);
    if (!gShared) gShared = std::make_shared<MediaServerMain>();
    return gShared;
}

bool MediaServerMain::hasSharedMediaServer() {
    std::lock_guard<std::mutex> lock(gMutex);
    return gShared != nullptr;
}

void MediaServerMain::releaseMediaServer() {
    std::shared_ptr<MediaServerMain> old;
    std::lock_guard<std::mutex> lock(gMutex);
    old.swap(gShared);
}
