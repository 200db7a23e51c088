#include "platform/net/HostLookup.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <thread>

namespace net {

namespace {

std::mutex& resolverMutex() {
    static std::mutex m;
    return m;
}
HostLookup::Resolver& resolverSlot() {
    static HostLookup::Resolver r;
    return r;
}

bool systemLookup(const std::string& host, int port, int flags, std::vector<HostLookup::Address>* out) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = flags;
    addrinfo* list = nullptr;
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list) != 0 || !list) return false;
    for (addrinfo* a = list; a; a = a->ai_next) {
        if (!a->ai_addr || a->ai_addrlen > sizeof(sockaddr_storage)) continue;
        HostLookup::Address address;
        address.family = a->ai_family;
        address.socketType = a->ai_socktype;
        address.protocol = a->ai_protocol;
        std::memcpy(&address.address, a->ai_addr, a->ai_addrlen);
        address.length = a->ai_addrlen;
        out->push_back(address);
    }
    ::freeaddrinfo(list);
    return !out->empty();
}

// What the look-up thread and its caller share; whoever leaves last frees it.
struct Pending {
    std::mutex m;
    std::condition_variable done;
    bool finished = false;
    bool found = false;
    std::vector<HostLookup::Address> addresses;
};

}  // namespace

void HostLookup::setResolver(Resolver resolver) {
    std::lock_guard lock(resolverMutex());
    resolverSlot() = std::move(resolver);
}

HostLookup::Status HostLookup::resolve(const std::string& host, int port, const std::atomic<bool>& cancelled,
                                       std::vector<Address>* out) {
    out->clear();
    if (cancelled) return Status::Cancelled;
    if (host.empty() || port <= 0 || port > 65535) return Status::NotFound;
    if (systemLookup(host, port, AI_NUMERICHOST, out)) return Status::Found;
    out->clear();
    Resolver resolver;
    {
        std::lock_guard lock(resolverMutex());
        resolver = resolverSlot();
    }
    auto pending = std::make_shared<Pending>();
    // Not joined: a look-up that outlasts its caller ends on its own.
    std::thread([pending, host, port, resolver = std::move(resolver)] {
        std::vector<Address> found;
        const bool ok = resolver ? resolver(host, port, &found) : systemLookup(host, port, 0, &found);
        std::lock_guard lock(pending->m);
        pending->finished = true;
        pending->found = ok && !found.empty();
        pending->addresses = std::move(found);
        pending->done.notify_all();
    }).detach();
    std::unique_lock lock(pending->m);
    // The cancel is a flag without a signal: it is looked at every few milliseconds.
    while (!pending->finished) {
        if (cancelled) return Status::Cancelled;
        pending->done.wait_for(lock, std::chrono::milliseconds(5));
    }
    if (cancelled) return Status::Cancelled;
    if (!pending->found) return Status::NotFound;
    *out = std::move(pending->addresses);
    return Status::Found;
}

}  // namespace net
