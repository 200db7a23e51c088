#include "foundation/QNUrl.h"

#include "foundation/QNTextEncoding.h"
#include "foundation/UrlPercent.h"

#include <cctype>
#include <vector>

namespace {

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t at = text.find(separator, start);
        parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) return parts;
        start = at + 1;
    }
}

// The leading integer of a text, as a port is read: optional blanks and sign,
// then digits; 0 when there are none. Saturates instead of overflowing.
int64_t integerValue(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const int digit = text[i] - '0';
        if (value > (INT64_MAX - digit) / 10) {
            value = INT64_MAX;
            break;
        }
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}

}  // namespace

std::optional<QNUrl> QNUrl::URLWithString(const std::string& text) {
    const size_t sep = text.find("://");
    if (sep == std::string::npos) return std::nullopt;
    QNUrl url;
    url.scheme_ = text.substr(0, sep);
    const std::string rest = text.substr(sep + 3);

    std::string authority;
    const size_t slash = rest.find('/');
    if (slash != std::string::npos) {
        authority = rest.substr(0, slash);
        url.pathWithQueryAndFragment_ = rest.substr(slash);
        std::string beforeFragment = url.pathWithQueryAndFragment_;
        if (const size_t hash = beforeFragment.find('#'); hash != std::string::npos) {
            url.fragment_ = beforeFragment.substr(hash + 1);
            beforeFragment.resize(hash);
        }
        if (const size_t question = beforeFragment.find('?'); question != std::string::npos) {
            url.query_ = beforeFragment.substr(question + 1);
            beforeFragment.resize(question);
        }
        url.path_ = beforeFragment;
        url.lastPathComponent_ = lastPathComponentOf(url.path_);
        url.pathExtension_ = pathExtensionOf(url.path_);
    } else {
        authority = rest;
    }

    std::string userPart;
    std::string hostPart = authority;
    if (auto parts = split(authority, '@'); parts.size() == 2) {
        userPart = parts[0];
        hostPart = parts[1];
    }
    if (auto parts = split(hostPart, ':'); parts.size() == 2) {
        url.host_ = parts[0];
        url.port_ = integerValue(parts[1]);
    } else {
        url.host_ = hostPart;
    }
    if (auto parts = split(userPart, ':'); parts.size() == 2) {
        url.user_ = parts[0];
        url.password_ = parts[1];
    } else {
        url.user_ = userPart;
    }
    return url;
}

bool QNUrl::isURL(const std::string& text) { return text.find("://") != std::string::npos; }

bool QNUrl::isEncodingWithURL(const std::string& text) { return text.find('%') != std::string::npos; }

std::string QNUrl::getCStringWithEncodedUrl(const std::string& text) {
    std::string bytes;
    if (QNTextEncoding::isASCIIOnlyString(text)) {
        bytes = UrlPercent::decoded(text);
    } else {
        bytes = text.substr(0, text.find('\0'));
    }
    bytes.push_back('\0');
    return bytes;
}

std::string QNUrl::lastPathComponentOf(const std::string& path) {
    size_t end = path.size();
    while (end > 1 && path[end - 1] == '/') --end;
    if (end == 0) return {};
    if (end == 1 && path[0] == '/') return "/";
    const size_t slash = path.rfind('/', end - 1);
    const size_t from = slash == std::string::npos ? 0 : slash + 1;
    return path.substr(from, end - from);
}

std::string QNUrl::pathExtensionOf(const std::string& path) {
    const std::string last = lastPathComponentOf(path);
    const size_t dot = last.rfind('.');
    if (dot == std::string::npos || dot == 0) return {};
    return last.substr(dot + 1);
}
