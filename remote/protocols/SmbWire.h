#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Little-endian fields of SMB and DCE/RPC messages. Writers grow the buffer;
// readers never read past it (they answer false instead).
class SmbWire {
public:
    using Bytes = std::vector<uint8_t>;

    static void put8(Bytes& b, size_t at, uint8_t v) { grow(b, at + 1)[at] = v; }
    static void put16(Bytes& b, size_t at, uint16_t v) {
        grow(b, at + 2);
        b[at] = uint8_t(v);
        b[at + 1] = uint8_t(v >> 8);
    }
    static void put32(Bytes& b, size_t at, uint32_t v) {
        grow(b, at + 4);
        for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
    }
    static void put64(Bytes& b, size_t at, uint64_t v) {
        grow(b, at + 8);
        for (int i = 0; i < 8; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
    }
    static void append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }
    static void pad(Bytes& b, size_t alignment) {
        while (b.size() % alignment) b.push_back(0);
    }

    static bool has(const Bytes& b, size_t at, size_t n) { return at <= b.size() && n <= b.size() - at; }
    static uint16_t get16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
    static uint32_t get32(const uint8_t* p) {
        return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    }
    static uint64_t get64(const uint8_t* p) { return uint64_t(get32(p)) | uint64_t(get32(p + 4)) << 32; }
    static bool read8(const Bytes& b, size_t at, uint8_t& v) {
        if (!has(b, at, 1)) return false;
        v = b[at];
        return true;
    }
    static bool read16(const Bytes& b, size_t at, uint16_t& v) {
        if (!has(b, at, 2)) return false;
        v = get16(b.data() + at);
        return true;
    }
    static bool read32(const Bytes& b, size_t at, uint32_t& v) {
        if (!has(b, at, 4)) return false;
        v = get32(b.data() + at);
        return true;
    }
    static bool read64(const Bytes& b, size_t at, uint64_t& v) {
        if (!has(b, at, 8)) return false;
        v = get64(b.data() + at);
        return true;
    }

    // UTF-8 text as UTF-16LE bytes, and back (unpaired surrogates become U+FFFD).
    static Bytes utf16le(const std::string& text);
    static std::string fromUtf16le(const uint8_t* p, size_t bytes);

private:
    static Bytes& grow(Bytes& b, size_t n) {
        if (b.size() < n) b.resize(n, 0);
        return b;
    }
};
