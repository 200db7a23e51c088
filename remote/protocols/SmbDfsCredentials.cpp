#include "remote/protocols/SmbDfsCredentials.h"

#include "platform/core/UserDefaults.h"

#include <algorithm>
#include <cctype>

namespace {

constexpr const char* kKey = "SmbDfsCredentials";

// "host:port" in lower case, the port always written.
std::string normalized(const std::string& server) {
    std::string s = server;
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    std::string host = s, port = "445";
    if (!s.empty() && s[0] == '[') {
        const size_t close = s.find(']');
        if (close != std::string::npos) {
            host = s.substr(1, close - 1);
            if (close + 1 < s.size() && s[close + 1] == ':') port = s.substr(close + 2);
        }
    } else if (std::count(s.begin(), s.end(), ':') == 1) {
        const size_t colon = s.find(':');
        host = s.substr(0, colon);
        port = s.substr(colon + 1);
    }
    while (port.size() > 1 && port[0] == '0') port.erase(0, 1);
    return (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + port;
}

std::string keyOf(const std::string& site, const std::string& target) {
    return normalized(site) + " " + normalized(target);
}

}  // namespace

bool SmbDfsCredentials::sameServer(const std::string& a, const std::string& b) {
    return normalized(a) == normalized(b);
}

SmbDfsCredentials::Answer SmbDfsCredentials::answer(const std::string& site, const std::string& target) {
    auto all = sys::UserDefaults::standard().dictionaryForKey(kKey);
    const std::string key = keyOf(site, target);
    if (!all || !all->contains(key)) return Answer::Unasked;
    return all->getBool(key) ? Answer::Send : Answer::DontSend;
}

void SmbDfsCredentials::remember(const std::string& site, const std::string& target, bool send) {
    auto& defaults = sys::UserDefaults::standard();
    auto all = defaults.dictionaryForKey(kKey).value_or(sys::PlistDictionary());
    all.set(keyOf(site, target), sys::PlistValue(send));
    defaults.setObject(sys::PlistValue(all), kKey);
    defaults.synchronize();
}
