#include "platform/core/PercentEncoding.h"

namespace sys {

int PercentEncoding::hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

char PercentEncoding::hexDigit(int nibble) {
    if (nibble < 0 || nibble > 15) return '0';
    return "0123456789ABCDEF"[nibble];
}

std::string PercentEncoding::encode(std::string_view s, std::string_view keep) {
    std::string out;
    out.reserve(s.size() * 3);
    for (unsigned char c : s) {
        const bool unreserved = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                                c == '-' || c == '.' || c == '_' || c == '~';
        if (unreserved || keep.find(char(c)) != std::string_view::npos) {
            out += char(c);
        } else {
            out += '%';
            out += hexDigit(c >> 4);
            out += hexDigit(c & 15);
        }
    }
    return out;
}

namespace {

// The byte of the escape at s[i] ('%'), or -1 when it is not a whole escape.
int escapedByte(std::string_view s, size_t i) {
    if (i + 2 >= s.size()) return -1;
    int h = PercentEncoding::hexValue(s[i + 1]), l = PercentEncoding::hexValue(s[i + 2]);
    return h < 0 || l < 0 ? -1 : h * 16 + l;
}

}  // namespace

std::string PercentEncoding::decode(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        int byte = s[i] == '%' ? escapedByte(s, i) : -1;
        if (byte < 0) {
            out.push_back(s[i]);
        } else {
            out.push_back(static_cast<char>(byte));
            i += 2;
        }
    }
    return out;
}

std::optional<std::string> PercentEncoding::decodeStrict(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '%') {
            out.push_back(s[i]);
            continue;
        }
        int byte = escapedByte(s, i);
        if (byte < 0) return std::nullopt;
        out.push_back(static_cast<char>(byte));
        i += 2;
    }
    return out;
}

}  // namespace sys
