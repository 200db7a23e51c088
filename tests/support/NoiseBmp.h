#pragma once

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>

namespace test {

// A square 24-bit BMP of noise from `seed`: nothing compresses it, so a large
// one spans several blocks of a stream's cache. False when it cannot be written.
inline bool writeNoiseBmp(const std::string& path, int side, uint32_t seed) {
    const int row = (side * 3 + 3) / 4 * 4;
    const uint32_t data = uint32_t(row * side), size = 54 + data;
    std::string b(54, '\0');
    auto put = [&](size_t at, uint32_t v, int n) {
        for (int i = 0; i < n; ++i) b[at + size_t(i)] = char((v >> (8 * i)) & 0xFF);
    };
    b[0] = 'B', b[1] = 'M';
    put(2, size, 4), put(10, 54, 4), put(14, 40, 4), put(18, uint32_t(side), 4), put(22, uint32_t(side), 4);
    put(26, 1, 2), put(28, 24, 2), put(34, data, 4);
    std::mt19937 rng(seed);
    b.resize(size);
    for (size_t i = 54; i < size; ++i) b[i] = char(rng());
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(b.data(), 1, b.size(), f) == b.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace test
