#include "platform/ui/WebURL.h"

#include "platform/core/PercentEncoding.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace ui {

namespace {

struct Parts {
    std::string scheme, authority, path, query, fragment;
    bool hasAuthority = false, hasQuery = false, hasFragment = false;
};

Parts split(const std::string& url) {
    Parts p;
    std::string rest = url;
    size_t hash = rest.find('#');
    if (hash != std::string::npos) {
        p.fragment = rest.substr(hash + 1);
        p.hasFragment = true;
        rest.resize(hash);
    }
    size_t q = rest.find('?');
    if (q != std::string::npos) {
        p.query = rest.substr(q + 1);
        p.hasQuery = true;
        rest.resize(q);
    }
    std::string s = WebURL::scheme(rest);
    if (!s.empty()) {
        p.scheme = s;
        rest = rest.substr(s.size() + 1);
    }
    if (rest.rfind("//", 0) == 0) {
        size_t slash = rest.find('/', 2);
        p.hasAuthority = true;
        p.authority = rest.substr(2, slash == std::string::npos ? std::string::npos : slash - 2);
        rest = slash == std::string::npos ? "" : rest.substr(slash);
    }
    p.path = rest;
    return p;
}

std::string join(const Parts& p) {
    std::string out;
    if (!p.scheme.empty()) out += p.scheme + ":";
    if (p.hasAuthority) out += "//" + p.authority;
    out += p.path;
    if (p.hasQuery) out += "?" + p.query;
    if (p.hasFragment) out += "#" + p.fragment;
    return out;
}

std::string removeDots(const std::string& path) {
    std::vector<std::string> out;
    bool absolute = !path.empty() && path[0] == '/';
    size_t i = absolute ? 1 : 0;
    bool trailing = false;
    while (i <= path.size()) {
        size_t j = path.find('/', i);
        if (j == std::string::npos) j = path.size();
        std::string seg = path.substr(i, j - i);
        trailing = j == path.size() && (seg == "." || seg == "..");
        if (seg == "..") {
            if (!out.empty()) out.pop_back();
        } else if (seg != ".") {
            out.push_back(seg);
        }
        i = j + 1;
    }
    std::string r = absolute ? "/" : "";
    for (size_t k = 0; k < out.size(); ++k) r += (k ? "/" : "") + out[k];
    if (trailing && (r.empty() || r.back() != '/')) r += "/";
    return r;
}

}  // namespace

std::string WebURL::scheme(const std::string& url) {
    size_t colon = url.find(':');
    if (colon == std::string::npos || colon == 0) return "";
    for (size_t i = 0; i < colon; ++i) {
        unsigned char c = static_cast<unsigned char>(url[i]);
        if (url[i] == '/' || url[i] == '?' || url[i] == '#') return "";
        bool ok = i == 0 ? std::isalpha(c) : (std::isalnum(c) || c == '+' || c == '-' || c == '.');
        if (!ok) return "";
    }
    std::string s = url.substr(0, colon);
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

std::string WebURL::resolve(const std::string& base, const std::string& ref) {
    if (ref.empty()) return withoutFragment(base);
    Parts r = split(ref);
    if (!r.scheme.empty()) {
        r.path = removeDots(r.path);
        return join(r);
    }
    Parts b = split(base);
    Parts t;
    t.scheme = b.scheme;
    if (r.hasAuthority) {
        t.hasAuthority = true;
        t.authority = r.authority;
        t.path = removeDots(r.path);
        t.query = r.query;
        t.hasQuery = r.hasQuery;
    } else {
        t.hasAuthority = b.hasAuthority;
        t.authority = b.authority;
        if (r.path.empty()) {
            t.path = b.path;
            t.query = r.hasQuery ? r.query : b.query;
            t.hasQuery = r.hasQuery || b.hasQuery;
        } else {
            if (r.path[0] == '/') {
                t.path = removeDots(r.path);
            } else {
                std::string merged;
                if (b.hasAuthority && b.path.empty())
                    merged = "/" + r.path;
                else {
                    size_t slash = b.path.rfind('/');
                    merged = (slash == std::string::npos ? "" : b.path.substr(0, slash + 1)) + r.path;
                }
                t.path = removeDots(merged);
            }
            t.query = r.query;
            t.hasQuery = r.hasQuery;
        }
    }
    t.fragment = r.fragment;
    t.hasFragment = r.hasFragment;
    return join(t);
}

std::string WebURL::withoutFragment(const std::string& url) {
    size_t hash = url.find('#');
    return hash == std::string::npos ? url : url.substr(0, hash);
}

std::string WebURL::fragment(const std::string& url) {
    size_t hash = url.find('#');
    return hash == std::string::npos ? "" : url.substr(hash + 1);
}

std::string WebURL::lastPathComponent(const std::string& url) {
    Parts p = split(url);
    std::string path = p.path;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    size_t slash = path.rfind('/');
    return percentDecode(slash == std::string::npos ? path : path.substr(slash + 1));
}

std::string WebURL::percentDecode(const std::string& s) { return sys::PercentEncoding::decode(s); }

std::string WebURL::fromPath(const std::string& path) { return "file://" + sys::PercentEncoding::encode(path, "/"); }

std::string WebURL::toPath(const std::string& url) {
    if (scheme(url) != "file") return "";
    Parts p = split(withoutFragment(url));
    if (p.hasAuthority && !p.authority.empty() && p.authority != "localhost") return "";
    std::string path = percentDecode(p.path);
    if (path.empty() || path[0] != '/' || path.find('\0') != std::string::npos) return "";
    return path;
}

}  // namespace ui
