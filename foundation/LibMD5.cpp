#include "foundation/LibMD5.h"

#include <cstring>

namespace {

constexpr uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

constexpr int kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

inline uint32_t rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

inline uint32_t roundF(uint32_t x, uint32_t y, uint32_t z) { return (x & y) | (~x & z); }
inline uint32_t roundG(uint32_t x, uint32_t y, uint32_t z) { return (x & z) | (y & ~z); }
inline uint32_t roundH(uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; }
inline uint32_t roundI(uint32_t x, uint32_t y, uint32_t z) { return y ^ (x | ~z); }
constexpr int indexF(int i) { return i; }
constexpr int indexG(int i) { return (5 * i + 1) % 16; }
constexpr int indexH(int i) { return (3 * i + 5) % 16; }
constexpr int indexI(int i) { return (7 * i) % 16; }

}  // namespace

void LibMD5::init() {
    count_[0] = count_[1] = 0;
    state_[0] = 0x67452301;
    state_[1] = 0xefcdab89;
    state_[2] = 0x98badcfe;
    state_[3] = 0x10325476;
    std::memset(buffer_, 0, sizeof buffer_);
}

void LibMD5::transform(const uint8_t block[64]) {
    uint32_t x[16];
    for (int i = 0; i < 16; ++i) {
        x[i] = uint32_t(block[i * 4]) | uint32_t(block[i * 4 + 1]) << 8 | uint32_t(block[i * 4 + 2]) << 16 |
               uint32_t(block[i * 4 + 3]) << 24;
    }
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    // Four steps at a time, so that the roles of a, b, c, d rotate without moves.
#define LB_MD5_ROUND(F, G, R)                                                                     \
    for (int i = 16 * (R); i < 16 * (R) + 16; i += 4) {                                           \
        a = b + rotl(a + F(b, c, d) + x[G(i)] + kSine[i], kShift[R][0]);                          \
        d = a + rotl(d + F(a, b, c) + x[G(i + 1)] + kSine[i + 1], kShift[R][1]);                  \
        c = d + rotl(c + F(d, a, b) + x[G(i + 2)] + kSine[i + 2], kShift[R][2]);                  \
        b = c + rotl(b + F(c, d, a) + x[G(i + 3)] + kSine[i + 3], kShift[R][3]);                  \
    }
    LB_MD5_ROUND(roundF, indexF, 0)
    LB_MD5_ROUND(roundG, indexG, 1)
    LB_MD5_ROUND(roundH, indexH, 2)
    LB_MD5_ROUND(roundI, indexI, 3)
#undef LB_MD5_ROUND
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
}

void LibMD5::update(const void* bytes, size_t length) {
    if (!bytes || length == 0) return;
    const uint8_t* in = static_cast<const uint8_t*>(bytes);
    size_t index = (count_[0] >> 3) & 0x3F;

    const uint64_t bits = (uint64_t(count_[1]) << 32 | count_[0]) + (uint64_t(length) << 3);
    count_[0] = uint32_t(bits);
    count_[1] = uint32_t(bits >> 32);

    const size_t room = 64 - index;
    size_t i = 0;
    if (length >= room) {
        std::memcpy(&buffer_[index], in, room);
        transform(buffer_);
        for (i = room; i + 63 < length; i += 64) transform(&in[i]);
        index = 0;
    }
    std::memcpy(&buffer_[index], &in[i], length - i);
}

void LibMD5::final(uint8_t digest[16]) {
    uint8_t bits[8];
    for (int i = 0; i < 4; ++i) {
        bits[i] = uint8_t(count_[0] >> (8 * i));
        bits[i + 4] = uint8_t(count_[1] >> (8 * i));
    }
    static const uint8_t padding[64] = {0x80};
    const size_t index = (count_[0] >> 3) & 0x3F;
    update(padding, index < 56 ? 56 - index : 120 - index);
    update(bits, 8);
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) digest[i * 4 + j] = uint8_t(state_[i] >> (8 * j));
    }
    init();
}

std::string LibMD5::hexString(const uint8_t digest[16], bool upperCase) {
    const char* digits = upperCase ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string hex(32, '0');
    for (int i = 0; i < 16; ++i) {
        hex[i * 2] = digits[digest[i] >> 4];
        hex[i * 2 + 1] = digits[digest[i] & 0x0F];
    }
    return hex;
}

std::string LibMD5::getMD5StringHexWithBytes(const void* bytes, size_t length) {
    LibMD5 md5;
    md5.update(bytes, length);
    uint8_t digest[16];
    md5.final(digest);
    return hexString(digest, true);
}

std::string LibMD5::getMD5StringHexWithString(const std::string& text) {
    return getMD5StringHexWithBytes(text.c_str(), std::strlen(text.c_str()));
}
