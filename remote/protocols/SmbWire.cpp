#include "remote/protocols/SmbWire.h"

#include "platform/core/Unicode.h"

SmbWire::Bytes SmbWire::utf16le(const std::string& text) {
    const std::u16string u = sys::Unicode::toUtf16(text);
    Bytes out;
    out.reserve(u.size() * 2);
    for (char16_t c : u) {
        out.push_back(uint8_t(c));
        out.push_back(uint8_t(c >> 8));
    }
    return out;
}

std::string SmbWire::fromUtf16le(const uint8_t* p, size_t bytes) {
    std::u16string u;
    u.reserve(bytes / 2);
    for (size_t i = 0; i + 1 < bytes; i += 2) u.push_back(char16_t(p[i] | p[i + 1] << 8));
    return sys::Unicode::fromUtf16(u);
}
