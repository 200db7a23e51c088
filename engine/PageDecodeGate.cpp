#include "engine/PageDecodeGate.h"

#include "platform/core/Condition.h"

#include <map>
#include <mutex>

namespace {

struct Gates {
    std::mutex mutex;
    sys::Condition freed;
    std::map<std::string, int> held;     // pages being decoded
    std::map<std::string, int> waiting;  // gates waiting for them
};

Gates& gates() {
    static auto* g = new Gates();  // never destroyed: workers left to finish may still use it
    return *g;
}

}  // namespace

PageDecodeGate::PageDecodeGate(std::string key, const std::atomic<bool>& cancelled) : key_(std::move(key)) {
    Gates& g = gates();
    std::unique_lock lock(g.mutex);
    ++g.waiting[key_];
    // The condition looks at the cancel flag every few milliseconds.
    g.freed.wait(lock, [&] { return g.held.find(key_) == g.held.end() || cancelled.load(); });
    if (--g.waiting[key_] == 0) g.waiting.erase(key_);
    if (g.held.find(key_) != g.held.end()) return;
    g.held[key_] = 1;
    held_ = true;
}

PageDecodeGate::~PageDecodeGate() {
    if (!held_) return;
    Gates& g = gates();
    {
        std::lock_guard lock(g.mutex);
        g.held.erase(key_);
    }
    g.freed.notifyAll();
}

std::string PageDecodeGate::keyFor(const std::string& book, const std::string& folder, int page) {
    return book + '\0' + folder + '\0' + std::to_string(page);
}

int PageDecodeGate::users(const std::string& key) {
    Gates& g = gates();
    std::lock_guard lock(g.mutex);
    int n = 0;
    if (auto it = g.held.find(key); it != g.held.end()) n += it->second;
    if (auto it = g.waiting.find(key); it != g.waiting.end()) n += it->second;
    return n;
}
