#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

// A snapshot of the device's IPv4 interfaces, taken when made. Each entry
// of info() has "interface", "ipv4addr", "ipv4mask" and "ipv4broadcast"
// (dotted text). The roles the program knows interfaces by ("en0" Wi-Fi,
// "pdp_ip0" mobile, "ppp0" VPN, "bridge0" bridge) are given to Linux
// interfaces by a role table; with none set, the first interface that is not
// a loopback plays "en0". A mapped interface appears under its role name.
class QNNetworkInfo {
public:
    // One IPv4 address of an interface, as the system lists it (addresses
    // in network byte order).
    struct RawAddress {
        std::string name;
        uint32_t address = 0;
        uint32_t netmask = 0;
        bool loopback = false;
    };
    using Entry = std::map<std::string, std::string>;

    // From the system's interface list (getifaddrs).
    QNNetworkInfo();
    // From a given list; nothing stands for a list that could not be read.
    explicit QNNetworkInfo(const std::optional<std::vector<RawAddress>>& addresses);

    const std::optional<std::string>& ipAddressWifi() const { return wifi_; }
    const std::optional<std::string>& ipAddress3G() const { return cellular_; }
    const std::optional<std::string>& ipAddressVPN() const { return vpn_; }
    const std::optional<std::string>& ipAddressBridge() const { return bridge_; }
    // Nothing when the interface list could not be read.
    const std::optional<std::vector<Entry>>& info() const { return info_; }

    // Linux interface name -> role name; an empty table restores the default.
    static void setInterfaceRoles(std::map<std::string, std::string> roles);
    static std::map<std::string, std::string> interfaceRoles();

    // The Wi-Fi address, as a QNNetworkInfo made now would give it, but
    // looked up again only when the last look is older than `maxAgeSeconds`
    // (real time) or the roles changed: for what asks for every row of a
    // long list.
    static std::optional<std::string> recentWifiAddress(double maxAgeSeconds = 1.0);

    // The system's list of IPv4 addresses; nothing when it cannot be read.
    static std::optional<std::vector<RawAddress>> systemAddresses();

private:
    void fill(const std::optional<std::vector<RawAddress>>& addresses);

    std::optional<std::string> wifi_, cellular_, vpn_, bridge_;
    std::optional<std::vector<Entry>> info_;
};
