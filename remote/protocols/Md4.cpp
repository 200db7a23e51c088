#include "remote/protocols/Md4.h"

#include <algorithm>
#include <cstring>

namespace {

inline uint32_t rotl(uint32_t x, int s) { return (x << s) | (x >> (32 - s)); }
inline uint32_t F(uint32_t x, uint32_t y, uint32_t z) { return (x & y) | (~x & z); }
inline uint32_t G(uint32_t x, uint32_t y, uint32_t z) { return (x & y) | (x & z) | (y & z); }
inline uint32_t H(uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; }

}  // namespace

void Md4::init() {
    bytes_ = 0;
    state_[0] = 0x67452301;
    state_[1] = 0xefcdab89;
    state_[2] = 0x98badcfe;
    state_[3] = 0x10325476;
}

void Md4::transform(const uint8_t block[64]) {
    uint32_t x[16];
    for (int i = 0; i < 16; ++i) {
        x[i] = uint32_t(block[i * 4]) | uint32_t(block[i * 4 + 1]) << 8 | uint32_t(block[i * 4 + 2]) << 16 |
               uint32_t(block[i * 4 + 3]) << 24;
    }
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];

    static const int r1[4] = {3, 7, 11, 19};
    for (int i = 0; i < 16; ++i) {
        uint32_t t = a + F(b, c, d) + x[i];
        a = d;
        d = c;
        c = b;
        b = rotl(t, r1[i % 4]);
    }
    static const int r2[4] = {3, 5, 9, 13};
    static const int k2[16] = {0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15};
    for (int i = 0; i < 16; ++i) {
        uint32_t t = a + G(b, c, d) + x[k2[i]] + 0x5a827999;
        a = d;
        d = c;
        c = b;
        b = rotl(t, r2[i % 4]);
    }
    static const int r3[4] = {3, 9, 11, 15};
    static const int k3[16] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};
    for (int i = 0; i < 16; ++i) {
        uint32_t t = a + H(b, c, d) + x[k3[i]] + 0x6ed9eba1;
        a = d;
        d = c;
        c = b;
        b = rotl(t, r3[i % 4]);
    }
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
}

void Md4::update(const void* bytes, size_t length) {
    const uint8_t* p = static_cast<const uint8_t*>(bytes);
    size_t used = size_t(bytes_ % 64);
    bytes_ += length;
    if (used) {
        size_t take = std::min(length, 64 - used);
        std::memcpy(buffer_ + used, p, take);
        p += take;
        length -= take;
        if (used + take < 64) return;
        transform(buffer_);
    }
    while (length >= 64) {
        transform(p);
        p += 64;
        length -= 64;
    }
    if (length) std::memcpy(buffer_, p, length);
}

void Md4::final(uint8_t digest[16]) {
    uint64_t bits = bytes_ * 8;
    uint8_t pad[72] = {0x80};
    size_t used = size_t(bytes_ % 64);
    size_t padLen = used < 56 ? 56 - used : 120 - used;
    update(pad, padLen);
    uint8_t len[8];
    for (int i = 0; i < 8; ++i) len[i] = uint8_t(bits >> (8 * i));
    update(len, 8);
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) digest[i * 4 + j] = uint8_t(state_[i] >> (8 * j));
    }
    init();
}

void Md4::digest(const void* bytes, size_t length, uint8_t out[16]) {
    Md4 md;
    md.update(bytes, length);
    md.final(out);
}
