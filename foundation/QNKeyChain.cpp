#include "foundation/QNKeyChain.h"

#include "platform/core/Keychain.h"
#include "platform/core/PercentEncoding.h"

#include <cctype>
#include <cstdlib>

namespace {

using sys::Keychain;
using sys::KeychainQuery;

// The URL as the platform's URL class would see it after escaping: only the
// parts the keys are made of.
struct ParsedURL {
    std::string scheme;
    std::string host;
    std::optional<int> port;
    std::string path;  // decoded, without a trailing "/" (except the root itself)
};

bool isUnreservedOrDelimiter(unsigned char c) {
    if (std::isalnum(c)) return true;
    switch (c) {
    case '-': case '.': case '_': case '~':
    case ':': case '/': case '?': case '#': case '[': case ']': case '@':
    case '!': case '$': case '&': case '\'': case '(': case ')': case '*': case '+':
    case ',': case ';': case '=':
        return true;
    default:
        return false;
    }
}

// Every byte a URL may not hold as it stands is escaped, "%" included, so
// that decoding gives the text back exactly and keys survive a round trip.
std::string escape(const std::string& s) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        if (isUnreservedOrDelimiter(c)) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::optional<std::string> unescape(const std::string& s) { return sys::PercentEncoding::decodeStrict(s); }

std::optional<ParsedURL> parse(const std::string& text) {
    std::string s = escape(text);
    size_t colon = s.find(':');
    if (colon == std::string::npos || colon == 0 || !std::isalpha(static_cast<unsigned char>(s[0])))
        return std::nullopt;
    for (size_t i = 1; i < colon; ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return std::nullopt;
    }
    if (s.compare(colon + 1, 2, "//") != 0) return std::nullopt;
    ParsedURL u;
    u.scheme = s.substr(0, colon);
    size_t authStart = colon + 3;
    size_t authEnd = s.find_first_of("/?#", authStart);
    if (authEnd == std::string::npos) authEnd = s.size();
    std::string authority = s.substr(authStart, authEnd - authStart);
    size_t at = authority.rfind('@');
    std::string hostPort = at == std::string::npos ? authority : authority.substr(at + 1);
    std::string portText;
    if (!hostPort.empty() && hostPort[0] == '[') {
        size_t close = hostPort.find(']');
        if (close == std::string::npos) return std::nullopt;
        u.host = hostPort.substr(0, close + 1);
        std::string rest = hostPort.substr(close + 1);
        if (!rest.empty()) {
            if (rest[0] != ':') return std::nullopt;
            portText = rest.substr(1);
        }
    } else {
        size_t pc = hostPort.find(':');
        u.host = hostPort.substr(0, pc);
        if (pc != std::string::npos) portText = hostPort.substr(pc + 1);
    }
    if (u.host.empty()) return std::nullopt;
    if (!portText.empty()) {
        if (portText.size() > 5) return std::nullopt;
        for (char c : portText)
            if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
        int port = std::atoi(portText.c_str());
        if (port > 65535) return std::nullopt;
        u.port = port;
    }
    auto host = unescape(u.host);
    if (!host) return std::nullopt;
    u.host = *host;
    size_t pathEnd = s.find_first_of("?#", authEnd);
    if (pathEnd == std::string::npos) pathEnd = s.size();
    auto path = unescape(s.substr(authEnd, pathEnd - authEnd));
    if (!path) return std::nullopt;
    u.path = *path;
    if (u.path.size() > 1 && u.path.back() == '/') u.path.pop_back();
    return u;
}

std::string keyOf(const std::string& scheme, const std::string& host, int port, const std::string& path) {
    return scheme + "://" + host + ":" + std::to_string(port) + path;
}

bool iequals(const std::string& a, const char* b) {
    size_t n = std::char_traits<char>::length(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != b[i]) return false;
    return true;
}

// NSString's stringByDeletingLastPathComponent on an absolute path.
std::string parentPath(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return "";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// The key and the keys of every folder above it, deepest first, each
// without a trailing "/".
std::vector<std::string> keyLevels(const std::string& key) {
    std::vector<std::string> levels;
    std::string candidate = key;
    for (;;) {
        candidate = QNKeyChain::removeLastPathChar(candidate);
        levels.push_back(candidate);
        auto parent = QNKeyChain::urlDeleteLastPathCompornent(candidate);
        if (!parent) break;
        candidate = *parent;
    }
    return levels;
}

// The first item, in the store's order, remembered for the key's folder or
// one above it.
const sys::KeychainItem* folderItem(const std::string& key, const std::vector<sys::KeychainItem>& items) {
    const std::vector<std::string> levels = keyLevels(key);
    for (const auto& it : items)
        for (const auto& level : levels)
            if (level == it.service) return &it;
    return nullptr;
}

}  // namespace

QNKeyChain::OptString QNKeyChain::getPasswordWithAccount(const OptString& account, const OptString& service) {
    if (!account || !service) return std::nullopt;
    std::vector<sys::KeychainItem> items;
    if (Keychain::shared()->copyMatching(KeychainQuery{*service, *account}, &items) != Keychain::kSuccess)
        return std::nullopt;
    return items.front().value;
}

QNKeyChain::Lookup QNKeyChain::lookupPasswordWithAccount(const std::string& account, const std::string& service,
                                                          std::string* value) {
    std::vector<sys::KeychainItem> items;
    Keychain::Status st = Keychain::shared()->copyMatching(KeychainQuery{service, account}, &items);
    if (st == Keychain::kItemNotFound) return Lookup::NotFound;
    if (st != Keychain::kSuccess || items.empty()) return Lookup::Unavailable;
    if (value) *value = items.front().value;
    return Lookup::Found;
}

bool QNKeyChain::addOrUpdatePassword(const std::string& password, const std::string& account,
                                     const std::string& service, bool isAnyAccount) {
    auto store = Keychain::shared();
    KeychainQuery query{service, isAnyAccount ? std::nullopt : OptString(account)};
    Keychain::Status st = store->copyMatching(query, nullptr);
    if (st == Keychain::kItemNotFound) return store->add(service, account, password) == Keychain::kSuccess;
    if (st == Keychain::kNotAvailable) {
        // The secret store is away: the add keeps the password without it
        // (unless the store is back and has the item, which is then updated).
        st = store->add(service, account, password);
        if (st != Keychain::kDuplicateItem) return st == Keychain::kSuccess;
        st = Keychain::kSuccess;
    }
    if (st == Keychain::kInteractionNotAllowed) {
        // The secret store is locked: nothing new is kept, but a password
        // the file still keeps for it is replaced there (it moves into the
        // store once unlocked), so the old one never comes back.
        store->update(query, sys::KeychainChanges{service, account, password});
        return false;
    }
    if (st != Keychain::kSuccess) return false;
    st = store->update(query, sys::KeychainChanges{service, account, password});
    if (st == Keychain::kDuplicateItem && isAnyAccount) {
        // Several accounts stored for one folder would all be renamed to the
        // same one; the folder keeps one item, the new one.
        if (store->remove(KeychainQuery{service, std::nullopt}) != Keychain::kSuccess) return false;
        return store->add(service, account, password) == Keychain::kSuccess;
    }
    return st == Keychain::kSuccess;
}

bool QNKeyChain::deletePasswordWithAccount(const std::string& account, const std::string& service) {
    return Keychain::shared()->remove(KeychainQuery{service, account}) == Keychain::kSuccess;
}

bool QNKeyChain::deletePassword(const std::string& service) {
    auto store = Keychain::shared();
    std::vector<sys::KeychainItem> items;
    const Keychain::Status listed = store->copyMatching(KeychainQuery{service, std::nullopt}, &items);
    if (listed == Keychain::kInteractionNotAllowed) {
        // The secret store is locked and lists nothing: what the file keeps
        // for the service goes from there all the same, so that it never
        // moves into the store once unlocked.
        return store->remove(KeychainQuery{service, std::nullopt}) == Keychain::kSuccess;
    }
    if (listed != Keychain::kSuccess) return false;
    bool ok = true;
    for (const auto& it : items)
        ok = store->remove(KeychainQuery{it.service, it.account}) == Keychain::kSuccess && ok;
    return ok;
}

void QNKeyChain::deleteAll() {
    auto store = Keychain::shared();
    std::vector<sys::KeychainItem> items;
    if (store->copyMatching(KeychainQuery{}, &items) != Keychain::kSuccess) return;
    for (const auto& it : items) store->remove(KeychainQuery{it.service, it.account});
}

std::vector<std::string> QNKeyChain::listAllURL() {
    std::vector<sys::KeychainItem> items;
    std::vector<std::string> out;
    if (Keychain::shared()->copyMatching(KeychainQuery{}, &items) != Keychain::kSuccess) return out;
    for (const auto& it : items) out.push_back(it.service);
    return out;
}

QNKeyChain::OptString QNKeyChain::formatURL(const std::string& url) {
    auto u = parse(url);
    if (!u) return std::nullopt;
    int port = u->port.value_or(0);
    if (iequals(u->scheme, "smb")) {
        // Another port is another server on the same host; SMB's own port
        // keeps the key it has always had (port 0).
        if (port == 445) port = 0;
    } else if (port == 0) {
        port = iequals(u->scheme, "http") ? 80 : 0;
    }
    return keyOf(u->scheme, u->host, port, u->path);
}

QNKeyChain::OptString QNKeyChain::urlDeleteLastPathCompornent(const std::string& url) {
    auto u = parse(url);
    if (!u || u->path.empty() || u->path == "/") return std::nullopt;
    return keyOf(u->scheme, u->host, u->port.value_or(0), parentPath(u->path));
}

std::string QNKeyChain::removeLastPathChar(const std::string& s) {
    if (!s.empty() && s.back() == '/') return s.substr(0, s.size() - 1);
    return s;
}

QNKeyChain::OptString QNKeyChain::folderKeyOfURL(const std::string& url) {
    auto key = formatURL(url);
    if (!key) return std::nullopt;
    std::string service = *key;
    if (service.empty() || service.back() != '/') {
        if (auto parent = urlDeleteLastPathCompornent(service)) service = *parent;
    }
    return removeLastPathChar(service);
}

bool QNKeyChain::addOrUpdateAccountWithURL(const std::string& url, const std::string& user,
                                           const std::string& password) {
    auto service = folderKeyOfURL(url);
    if (!service) return false;
    return addOrUpdatePassword(password, user, *service, true);
}

bool QNKeyChain::deleteAccountWithURL(const std::string& url, const std::string& user) {
    auto service = folderKeyOfURL(url);
    if (!service) return false;
    return deletePasswordWithAccount(user, *service);
}

QNKeyChain::OptString QNKeyChain::getAccountWithURL(const std::string& url, OptString* user,
                                                    OptString* password) {
    auto key = formatURL(url);
    std::vector<sys::KeychainItem> items;
    if (Keychain::shared()->copyMatching(KeychainQuery{}, &items) != Keychain::kSuccess) return std::nullopt;
    if (key) {
        if (const sys::KeychainItem* it = folderItem(*key, items)) {
            auto value = getPasswordWithAccount(it->account, it->service);
            if (user) *user = it->account;
            if (password) *password = value;
            return it->service;
        }
    }
    if (user) *user = std::nullopt;
    if (password) *password = std::nullopt;
    return std::nullopt;
}

bool QNKeyChain::deleteAccountWithURL(const std::string& url) {
    auto key = formatURL(url);
    if (!key) return false;
    std::vector<sys::KeychainItem> items;
    const Keychain::Status listed = Keychain::shared()->copyMatching(KeychainQuery{}, &items);
    if (listed == Keychain::kInteractionNotAllowed) {
        // The secret store is locked and lists nothing, so which folder's
        // password the address would get is unknown: what the file keeps
        // for any of its folders goes, so that none of them moves into the
        // store once unlocked and is given for the address again.
        for (const auto& level : keyLevels(*key)) deletePassword(level);
        return true;
    }
    if (listed != Keychain::kSuccess) return true;
    // The password the address would be given, which is usually remembered
    // for a folder above it.
    if (const sys::KeychainItem* it = folderItem(*key, items)) deletePassword(std::string(it->service));
    return true;
}
