#include "library/MediaServerOpener.h"

namespace {
std::shared_ptr<MediaServerOpener>& slot() {
    static std::shared_ptr<MediaServerOpener> opener;
    return opener;
}
}  // namespace

void MediaServerOpener::install(std::shared_ptr<MediaServerOpener> opener) { slot() = std::move(opener); }

std::shared_ptr<MediaServerOpener> MediaServerOpener::installed() { return slot(); }
