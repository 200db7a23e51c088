#include "foundation/QNNetworkInfo.h"

#include <arpa/inet.h>
#include <chrono>
#include <ifaddrs.h>
#include <mutex>
#include <net/if.h>
#include <netinet/in.h>

namespace {

std::mutex gRolesMutex;
std::map<std::string, std::string> gRoles;
// The last look at the Wi-Fi address (recentWifiAddress), made with the
// roles of generation gRolesGeneration; guarded by gRolesMutex.
uint64_t gRolesGeneration = 0;
struct RecentWifi {
    bool known = false;
    uint64_t generation = 0;
    std::chrono::steady_clock::time_point at;
    std::optional<std::string> address;
} gRecentWifi;

std::string dotted(uint32_t networkOrder) {
    in_addr a{};
    a.s_addr = networkOrder;
    char buf[INET_ADDRSTRLEN] = {};
    if (!::inet_ntop(AF_INET, &a, buf, sizeof buf)) return "";
    return buf;
}

}  // namespace

void QNNetworkInfo::setInterfaceRoles(std::map<std::string, std::string> roles) {
    std::lock_guard<std::mutex> lock(gRolesMutex);
    gRoles = std::move(roles);
    ++gRolesGeneration;
}

std::optional<std::string> QNNetworkInfo::recentWifiAddress(double maxAgeSeconds) {
    const auto now = std::chrono::steady_clock::now();
    uint64_t generation = 0;
    {
        std::lock_guard<std::mutex> lock(gRolesMutex);
        if (gRecentWifi.known && gRecentWifi.generation == gRolesGeneration &&
            now - gRecentWifi.at < std::chrono::duration<double>(maxAgeSeconds)) {
            return gRecentWifi.address;
        }
        generation = gRolesGeneration;
    }
    const auto address = QNNetworkInfo().ipAddressWifi();
    std::lock_guard<std::mutex> lock(gRolesMutex);
    gRecentWifi = RecentWifi{true, generation, now, address};
    return address;
}

std::map<std::string, std::string> QNNetworkInfo::interfaceRoles() {
    std::lock_guard<std::mutex> lock(gRolesMutex);
    return gRoles;
}

std::optional<std::vector<QNNetworkInfo::RawAddress>> QNNetworkInfo::systemAddresses() {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return std::nullopt;
    std::vector<RawAddress> out;
    for (ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || !i->ifa_name) continue;
        RawAddress r;
        r.name = i->ifa_name;
        r.address = reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr;
        if (i->ifa_netmask) r.netmask = reinterpret_cast<const sockaddr_in*>(i->ifa_netmask)->sin_addr.s_addr;
        r.loopback = (i->ifa_flags & IFF_LOOPBACK) != 0;
        out.push_back(std::move(r));
    }
    ::freeifaddrs(list);
    return out;
}

QNNetworkInfo::QNNetworkInfo() { fill(systemAddresses()); }

QNNetworkInfo::QNNetworkInfo(const std::optional<std::vector<RawAddress>>& addresses) { fill(addresses); }

void QNNetworkInfo::fill(const std::optional<std::vector<RawAddress>>& addresses) {
    if (!addresses) return;
    auto roles = interfaceRoles();
    if (roles.empty()) {
        for (const auto& a : *addresses) {
            if (!a.loopback) {
                roles[a.name] = "en0";
                break;
            }
        }
    }
    info_.emplace();
    for (const auto& a : *addresses) {
        auto role = roles.find(a.name);
        std::string name = role != roles.end() ? role->second : a.name;
        std::string address = dotted(a.address);
        info_->push_back(Entry{{"interface", name},
                               {"ipv4addr", address},
                               {"ipv4mask", dotted(a.netmask)},
                               {"ipv4broadcast", dotted(a.address | ~a.netmask)}});
        if (name == "pdp_ip0")
            cellular_ = address;
        else if (name == "en0")
            wifi_ = address;
        else if (name == "ppp0")
            vpn_ = address;
        else if (name == "bridge0")
            bridge_ = address;
    }
}
