#include "library/LibraryServices.h"

#include <mutex>

namespace {
std::mutex gMutex;
std::shared_ptr<LibraryServices> gServices;
}  // namespace

void LibraryServices::install(std::shared_ptr<LibraryServices> services) {
    std::lock_guard<std::mutex> lock(gMutex);
    gServices = std::move(services);
}

std::shared_ptr<LibraryServices> LibraryServices::installed() {
    std::lock_guard<std::mutex> lock(gMutex);
    return gServices;
}
