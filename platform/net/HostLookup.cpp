#include "platform/net/HostLookup.h"

#include "platform/core/Clock.h"

#include <arpa/inet.h>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <thread>

namespace net {

namespace {

bool systemLookup(const std::string& host, int port, std::vector<HostLookup::Address>* out) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
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

// An address written as digits, with no look-up at all.
bool numericAddress(const std::string& host, int port, std::vector<HostLookup::Address>* out) {
    HostLookup::Address a;
    a.socketType = SOCK_STREAM;
    a.protocol = IPPROTO_TCP;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&a.address);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&a.address);
    if (::inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
        a.family = v4->sin_family = AF_INET;
        v4->sin_port = htons(uint16_t(port));
        a.length = sizeof(sockaddr_in);
    } else if (::inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
        a.family = v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(uint16_t(port));
        a.length = sizeof(sockaddr_in6);
    } else {
        return false;
    }
    out->push_back(a);
    return true;
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

HostLookup::Status HostLookup::resolve(const std::string& host, int port, const std::atomic<bool>& cancelled,
                                       std::vector<Address>* out) {
    out->clear();
    if (cancelled) return Status::Cancelled;
    if (host.empty() || port <= 0 || port > 65535) return Status::NotFound;
    if (numericAddress(host, port, out)) return Status::Found;
    auto pending = std::make_shared<Pending>();
    // Not joined: a look-up that outlasts its caller ends on its own.
    std::thread([pending, host, port] {
        std::vector<Address> found;
        const bool ok = systemLookup(host, port, &found);
        std::lock_guard lock(pending->m);
        pending->finished = true;
        pending->found = ok && !found.empty();
        pending->addresses = std::move(found);
        pending->done.notify_all();
    }).detach();
    // Name servers that stay silent hold up the virtual clock only so long.
    sys::Clock::NetworkWait wait;
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
