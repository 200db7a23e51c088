#include "cloud/TrustedServer.h"

#include "cloud/HttpEasy.h"
#include "foundation/QNKeyChain.h"

namespace {

constexpr const char* kKeyPrefix = "sha256//";

bool isKey(const std::string& value) {
    // The base64 of a SHA-256 digest: 44 characters.
    return value.size() == 8 + 44 && value.compare(0, 8, kKeyPrefix) == 0;
}

// The host of a "host:port" account ("[::1]:443" gives "[::1]").
std::string hostOf(const std::string& account) {
    const size_t colon = account.rfind(':');
    return colon == std::string::npos ? account : account.substr(0, colon);
}

std::string bare(const std::string& host) {
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') return host.substr(1, host.size() - 2);
    return host;
}

}  // namespace

std::string TrustedServer::publicKeyFor(const std::string& url) {
    const std::string account = HttpEasy::hostAndPort(url);
    if (account.empty()) return {};
    auto value = QNKeyChain::getPasswordWithAccount(account, std::string(kService));
    return value && isKey(*value) ? *value : std::string();
}

bool TrustedServer::trust(const std::string& url, const std::string& publicKey) {
    const std::string account = HttpEasy::hostAndPort(url);
    if (account.empty() || !isKey(publicKey)) return false;
    if (!QNKeyChain::addOrUpdatePassword(publicKey, account, kService)) return false;
    // The older item of this host named no certificate; this answer replaces it.
    QNKeyChain::deletePasswordWithAccount(bare(hostOf(account)), kService);
    return true;
}

bool TrustedServer::forget(const std::string& url) {
    const std::string account = HttpEasy::hostAndPort(url);
    if (account.empty()) return false;
    const bool had = QNKeyChain::getPasswordWithAccount(account, std::string(kService)).has_value();
    QNKeyChain::deletePasswordWithAccount(account, kService);
    const std::string oldAccount = bare(hostOf(account));
    const bool hadOld = QNKeyChain::getPasswordWithAccount(oldAccount, std::string(kService)).has_value();
    QNKeyChain::deletePasswordWithAccount(oldAccount, kService);
    return had || hadOld;
}

void TrustedServer::applyTo(HttpRequest& request) {
    request.trustedPublicKey = publicKeyFor(request.url);
    request.trustedPublicKeyFor = &TrustedServer::publicKeyFor;
}
