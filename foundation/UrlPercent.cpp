#include "foundation/UrlPercent.h"

#include "platform/core/PercentEncoding.h"

#include <algorithm>

#include <cstring>

namespace {

// The C-buffer decoder has always read a stray non-hex digit as 0.
int nibbleOrZero(unsigned char c) { return std::max(0, sys::PercentEncoding::hexValue(static_cast<char>(c))); }

bool isAlnum(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Writes bytes into a bounded buffer, keeping room for the closing NUL.
class Writer {
public:
    Writer(char* dst, size_t capacity) : dst_(dst), capacity_(capacity) {}
    bool put(char c) {
        if (!dst_ || n_ + 1 >= capacity_) return false;
        dst_[n_++] = c;
        return true;
    }
    size_t close() {
        if (dst_ && capacity_ > 0) dst_[n_] = '\0';
        return n_;
    }

private:
    char* dst_;
    size_t capacity_;
    size_t n_ = 0;
};

template <class Keep>
size_t escape(const char* src, char* dst, size_t capacity, Keep keep) {
    Writer out(dst, capacity);
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(src); p && *p; ++p) {
        bool room;
        if (keep(*p)) {
            room = out.put(static_cast<char>(*p));
        } else {
            room = out.put('%') && out.put(UrlPercent::hexDigit(*p >> 4)) && out.put(UrlPercent::hexDigit(*p & 0x0F));
        }
        if (!room) break;
    }
    return out.close();
}

}  // namespace

char UrlPercent::hexDigit(int nibble) { return sys::PercentEncoding::hexDigit(nibble); }

size_t UrlPercent::decode(const char* src, char* dst, size_t capacity) {
    Writer out(dst, capacity);
    const unsigned char* p = reinterpret_cast<const unsigned char*>(src);
    while (p && *p) {
        if (*p == '%') {
            if (p[1] == '\0' || p[2] == '\0') break;
            if (!out.put(static_cast<char>(nibbleOrZero(p[1]) << 4 | nibbleOrZero(p[2])))) break;
            p += 3;
        } else {
            if (!out.put(static_cast<char>(*p))) break;
            ++p;
        }
    }
    return out.close();
}

size_t UrlPercent::encode(const char* src, char* dst, size_t capacity) {
    return escape(src, dst, capacity, [](unsigned char c) {
        return isAlnum(c) || c == '-' || c == '.' || c == '_' || c == '~';
    });
}

size_t UrlPercent::encodePath(const char* src, char* dst, size_t capacity) {
    return escape(src, dst, capacity, [](unsigned char c) {
        return isAlnum(c) || (c != '\0' && std::strchr("~$&+,-./:;=?@_", c) != nullptr);
    });
}

std::string UrlPercent::decoded(const std::string& text) {
    std::string buf(text.size() + 1, '\0');
    decode(text.c_str(), buf.data(), buf.size());
    buf.resize(std::strlen(buf.c_str()));
    return buf;
}

std::string UrlPercent::encoded(const std::string& text) {
    std::string buf(text.size() * 3 + 1, '\0');
    buf.resize(encode(text.c_str(), buf.data(), buf.size()));
    return buf;
}

std::string UrlPercent::encodedPath(const std::string& text) {
    std::string buf(text.size() * 3 + 1, '\0');
    buf.resize(encodePath(text.c_str(), buf.data(), buf.size()));
    return buf;
}
