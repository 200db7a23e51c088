#include "tests/support/net/StuckNameLookup.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <dlfcn.h>
#include <mutex>
#include <netdb.h>

namespace {

std::mutex gMutex;
std::condition_variable gChanged;
bool gHeld = false;  // guarded by gMutex
int gBlocked = 0;    // guarded by gMutex

}  // namespace

// Linked into a test program that uses StuckNameLookup, this stands in for
// the C library's lookup in the whole program.
extern "C" int getaddrinfo(const char* node, const char* service, const struct addrinfo* hints,
                           struct addrinfo** res) noexcept {
    using Real = int (*)(const char*, const char*, const struct addrinfo*, struct addrinfo**);
    static const Real real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "getaddrinfo"));
    if (node && std::strcmp(node, test::StuckNameLookup::kName) == 0) {
        std::unique_lock<std::mutex> lock(gMutex);
        ++gBlocked;
        gChanged.notify_all();
        gChanged.wait(lock, [] { return !gHeld; });
        --gBlocked;
        gChanged.notify_all();
        return EAI_AGAIN;
    }
    return real ? real(node, service, hints, res) : EAI_SYSTEM;
}

namespace test {

StuckNameLookup::StuckNameLookup() {
    std::lock_guard<std::mutex> lock(gMutex);
    gHeld = true;
}

StuckNameLookup::~StuckNameLookup() { release(); }

void StuckNameLookup::release() {
    std::lock_guard<std::mutex> lock(gMutex);
    gHeld = false;
    gChanged.notify_all();
}

bool StuckNameLookup::waitForLookup(double seconds) {
    std::unique_lock<std::mutex> lock(gMutex);
    return gChanged.wait_for(lock, std::chrono::duration<double>(seconds), [] { return gBlocked > 0; });
}

bool StuckNameLookup::waitUntilNoneBlocked(double seconds) {
    std::unique_lock<std::mutex> lock(gMutex);
    return gChanged.wait_for(lock, std::chrono::duration<double>(seconds), [] { return gBlocked == 0; });
}

int StuckNameLookup::blocked() const {
    std::lock_guard<std::mutex> lock(gMutex);
    return gBlocked;
}

}  // namespace test
