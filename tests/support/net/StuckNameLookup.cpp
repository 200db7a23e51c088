#include "tests/support/net/StuckNameLookup.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <dlfcn.h>
#include <mutex>
#include <netdb.h>

namespace {

// Never destroyed: a lookup the program left behind (HostLookup does not wait
// for one) may still pass through here while the process exits.
struct Shared {
    std::mutex mutex;
    std::condition_variable changed;
    bool held = false;  // guarded by mutex
    int blocked = 0;    // guarded by mutex
};

Shared& shared() {
    static Shared* const s = new Shared;
    return *s;
}

}  // namespace

// Linked into a test program that uses StuckNameLookup, this stands in for
// the C library's lookup in the whole program.
extern "C" int getaddrinfo(const char* node, const char* service, const struct addrinfo* hints,
                           struct addrinfo** res) {
    using Real = int (*)(const char*, const char*, const struct addrinfo*, struct addrinfo**);
    static const Real real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "getaddrinfo"));
    if (node && std::strcmp(node, test::StuckNameLookup::kName) == 0) {
        Shared& g = shared();
        std::unique_lock<std::mutex> lock(g.mutex);
        ++g.blocked;
        g.changed.notify_all();
        g.changed.wait(lock, [&] { return !g.held; });
        --g.blocked;
        g.changed.notify_all();
        return EAI_AGAIN;
    }
    return real ? real(node, service, hints, res) : EAI_SYSTEM;
}

namespace test {

StuckNameLookup::StuckNameLookup() {
    Shared& g = shared();
    std::lock_guard<std::mutex> lock(g.mutex);
    g.held = true;
}

StuckNameLookup::~StuckNameLookup() { release(); }

void StuckNameLookup::release() {
    Shared& g = shared();
    std::lock_guard<std::mutex> lock(g.mutex);
    g.held = false;
    g.changed.notify_all();
}

bool StuckNameLookup::waitForLookup(double seconds) {
    Shared& g = shared();
    std::unique_lock<std::mutex> lock(g.mutex);
    return g.changed.wait_for(lock, std::chrono::duration<double>(seconds), [&] { return g.blocked > 0; });
}

bool StuckNameLookup::waitUntilNoneBlocked(double seconds) {
    Shared& g = shared();
    std::unique_lock<std::mutex> lock(g.mutex);
    return g.changed.wait_for(lock, std::chrono::duration<double>(seconds), [&] { return g.blocked == 0; });
}

int StuckNameLookup::blocked() const {
    Shared& g = shared();
    std::lock_guard<std::mutex> lock(g.mutex);
    return g.blocked;
}

}  // namespace test
