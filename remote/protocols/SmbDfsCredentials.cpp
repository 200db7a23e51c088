#include "remote/protocols/SmbDfsCredentials.h"

#include "platform/core/UserDefaults.h"
#include "remote/protocols/SmbServerAddress.h"

#include <cctype>

namespace {

constexpr const char* kKey = "SmbDfsCredentials";

std::string lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// "host:port" in lower case, the port always written; a server that does
// not read as one (no client would reach it) is kept as written, in lower
// case.
std::string normalized(const std::string& server) {
    std::string host;
    int port = 445;
    if (!SmbServerAddress::split(server, host, port)) return lower(server);
    host = lower(host);
    return (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + std::to_string(port);
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
