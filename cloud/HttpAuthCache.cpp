#include "cloud/HttpAuthCache.h"

#include "cloud/HttpEasy.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <mutex>

namespace {

struct Entry {
    HttpAuthCache::Answer answer = HttpAuthCache::Answer::None;
    HttpAuthCache::Challenge digest;
    uint32_t nonceUses = 0;
};

std::mutex& lock() {
    static std::mutex m;
    return m;
}

std::map<std::string, Entry>& entries() {
    static std::map<std::string, Entry> e;
    return e;
}

std::string lower(std::string s) {
    for (auto& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string keyOf(const std::string& url, const std::string& user) {
    const std::string origin = HttpEasy::origin(url);
    return origin.empty() ? std::string() : origin + "\n" + user;
}

bool isTokenChar(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return u > 0x20 && u < 0x7F && c != ',' && c != '=' && c != '"' && c != ';';
}

// Hex digest of `text` with the named hash ("MD5" or "SHA-256").
std::string hexHash(const std::string& algorithm, const std::string& text) {
    const EVP_MD* md = algorithm == "SHA-256" ? EVP_sha256() : EVP_md5();
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (EVP_Digest(text.data(), text.size(), out, &len, md, nullptr) != 1) return {};
    static const char* hex = "0123456789abcdef";
    std::string s;
    for (unsigned int i = 0; i < len; ++i) {
        s += hex[out[i] >> 4];
        s += hex[out[i] & 15];
    }
    return s;
}

std::string quoted(const std::string& v) {
    std::string out = "\"";
    for (char c : v) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

// The Digest challenge of the list that this client can answer, if any.
const HttpAuthCache::Challenge* answerableDigest(const std::vector<HttpAuthCache::Challenge>& challenges) {
    for (const auto& c : challenges) {
        if (c.scheme != "digest" || c.param("nonce").empty()) continue;
        if (HttpAuthCache::digestAuthorization(c, "GET", "/", "u", "p", 1, "0")) return &c;
    }
    return nullptr;
}

bool offersBasic(const std::vector<HttpAuthCache::Challenge>& challenges) {
    for (const auto& c : challenges)
        if (c.scheme == "basic") return true;
    return false;
}

std::string randomHex(size_t bytes) {
    unsigned char raw[32] = {};
    bytes = std::min(bytes, sizeof raw);
    RAND_bytes(raw, int(bytes));
    static const char* hex = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < bytes; ++i) {
        out += hex[raw[i] >> 4];
        out += hex[raw[i] & 15];
    }
    return out;
}

}  // namespace

std::vector<HttpAuthCache::Challenge> HttpAuthCache::parseChallenges(const std::vector<std::string>& values) {
    std::vector<Challenge> out;
    for (const std::string& v : values) {
        size_t i = 0;
        const size_t n = v.size();
        auto skipSpace = [&] {
            while (i < n && (v[i] == ' ' || v[i] == '\t')) ++i;
        };
        auto token = [&] {
            const size_t b = i;
            while (i < n && isTokenChar(v[i])) ++i;
            return v.substr(b, i - b);
        };
        Challenge* current = nullptr;
        while (i < n) {
            skipSpace();
            if (i < n && v[i] == ',') {
                ++i;
                continue;
            }
            const size_t start = i;
            std::string name = token();
            if (name.empty()) {
                ++i;  // a stray byte
                continue;
            }
            skipSpace();
            if (i < n && v[i] == '=' && current) {
                // A parameter of the current challenge (or a token68 ending
                // in "=", which carries nothing this client reads).
                ++i;
                skipSpace();
                std::string value;
                if (i < n && v[i] == '"') {
                    ++i;
                    while (i < n && v[i] != '"') {
                        if (v[i] == '\\' && i + 1 < n) ++i;
                        value += v[i++];
                    }
                    if (i < n) ++i;
                } else {
                    value = token();
                }
                current->params[lower(name)] = value;
                continue;
            }
            if (i < n && v[i] == '=') {
                // "=" before any scheme: not a challenge.
                i = start + name.size() + 1;
                continue;
            }
            out.push_back(Challenge{lower(name), {}});
            current = &out.back();
        }
    }
    return out;
}

std::optional<std::string> HttpAuthCache::digestAuthorization(const Challenge& c, const std::string& method,
                                                              const std::string& uri, const std::string& user,
                                                              const std::string& password, uint32_t nc,
                                                              const std::string& cnonce) {
    if (c.scheme != "digest") return std::nullopt;
    const std::string nonce = c.param("nonce");
    if (nonce.empty() || lower(c.param("userhash")) == "true") return std::nullopt;
    // Names outside printable ASCII would need the extended form.
    for (char ch : user)
        if (static_cast<unsigned char>(ch) < 0x20 || static_cast<unsigned char>(ch) > 0x7E) return std::nullopt;
    std::string algorithm = c.param("algorithm");
    if (algorithm.empty()) algorithm = "MD5";
    const std::string alg = lower(algorithm);
    bool sess = false;
    std::string hash;
    if (alg == "md5" || alg == "md5-sess") {
        hash = "MD5";
        sess = alg == "md5-sess";
    } else if (alg == "sha-256" || alg == "sha-256-sess") {
        hash = "SHA-256";
        sess = alg == "sha-256-sess";
    } else {
        return std::nullopt;
    }
    // qop: "auth" when offered; a server that offers only "auth-int" is left
    // to the ordinary exchange.
    std::string qop;
    if (c.params.count("qop")) {
        const std::string offered = lower(c.param("qop"));
        size_t b = 0;
        while (b <= offered.size()) {
            size_t e = offered.find(',', b);
            if (e == std::string::npos) e = offered.size();
            std::string one = offered.substr(b, e - b);
            while (!one.empty() && (one.front() == ' ' || one.front() == '\t')) one.erase(0, 1);
            while (!one.empty() && (one.back() == ' ' || one.back() == '\t')) one.pop_back();
            if (one == "auth") qop = "auth";
            b = e + 1;
        }
        if (qop.empty()) return std::nullopt;
    }
    const std::string realm = c.param("realm");
    std::string ha1 = hexHash(hash, user + ":" + realm + ":" + password);
    if (sess) ha1 = hexHash(hash, ha1 + ":" + nonce + ":" + cnonce);
    const std::string ha2 = hexHash(hash, method + ":" + uri);
    char ncText[9];
    std::snprintf(ncText, sizeof ncText, "%08x", nc);
    const std::string response = qop.empty() ? hexHash(hash, ha1 + ":" + nonce + ":" + ha2)
                                             : hexHash(hash, ha1 + ":" + nonce + ":" + ncText + ":" + cnonce + ":" +
                                                                 qop + ":" + ha2);
    std::string out = "Digest username=" + quoted(user) + ", realm=" + quoted(realm) + ", nonce=" + quoted(nonce) +
                      ", uri=" + quoted(uri) + ", algorithm=" + algorithm + ", response=" + quoted(response);
    if (c.params.count("opaque")) out += ", opaque=" + quoted(c.param("opaque"));
    if (!qop.empty()) out += ", qop=" + qop + ", nc=" + ncText + ", cnonce=" + quoted(cnonce);
    return out;
}

bool HttpAuthCache::mayPreemptBasic(const std::string& url) {
    const std::string origin = HttpEasy::origin(url);
    if (origin.compare(0, 8, "https://") == 0) return true;
    if (origin.compare(0, 7, "http://") != 0) return false;
    std::string host = origin.substr(7, origin.rfind(':') - 7);
    if (host == "localhost" || host == "[::1]" || host == "::1") return true;
    // 127.0.0.0/8
    unsigned a = 0, b = 0, c = 0, d = 0;
    char tail = 0;
    return std::sscanf(host.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &tail) == 4 && a == 127 && b < 256 &&
           c < 256 && d < 256;
}

void HttpAuthCache::remember(const std::string& url, const std::string& user, const std::vector<Challenge>& challenges,
                             uint32_t nonceUses) {
    const std::string key = keyOf(url, user);
    if (key.empty()) return;
    Entry e;
    if (const Challenge* digest = answerableDigest(challenges)) {
        e.answer = Answer::Digest;
        e.digest = *digest;
        e.nonceUses = nonceUses;
    } else if (offersBasic(challenges)) {
        e.answer = Answer::Basic;
    } else {
        return;
    }
    std::lock_guard<std::mutex> g(lock());
    entries()[key] = std::move(e);
}

bool HttpAuthCache::renewNonce(const std::string& url, const std::string& user,
                               const std::vector<Challenge>& challenges) {
    const Challenge* digest = answerableDigest(challenges);
    const std::string key = keyOf(url, user);
    if (!digest || key.empty()) return false;
    std::lock_guard<std::mutex> g(lock());
    Entry& e = entries()[key];
    e.answer = Answer::Digest;
    e.digest = *digest;
    e.nonceUses = 0;
    return true;
}

void HttpAuthCache::forget(const std::string& url, const std::string& user) {
    const std::string key = keyOf(url, user);
    std::lock_guard<std::mutex> g(lock());
    entries().erase(key);
}

void HttpAuthCache::clear() {
    std::lock_guard<std::mutex> g(lock());
    entries().clear();
}

HttpAuthCache::Answer HttpAuthCache::answerFor(const std::string& method, const std::string& url,
                                               const std::string& user, const std::string& password,
                                               std::string* authorization) {
    const std::string key = keyOf(url, user);
    if (key.empty()) return Answer::None;
    Challenge digest;
    uint32_t nc = 0;
    {
        std::lock_guard<std::mutex> g(lock());
        auto it = entries().find(key);
        if (it == entries().end()) return Answer::None;
        if (it->second.answer == Answer::Basic) return mayPreemptBasic(url) ? Answer::Basic : Answer::None;
        if (it->second.answer != Answer::Digest) return Answer::None;
        digest = it->second.digest;
        nc = ++it->second.nonceUses;
    }
    const std::string uri = HttpEasy::requestTarget(url);
    if (uri.empty()) return Answer::None;
    auto header = digestAuthorization(digest, method, uri, user, password, nc, randomHex(16));
    if (!header) return Answer::None;
    if (authorization) *authorization = *header;
    return Answer::Digest;
}
