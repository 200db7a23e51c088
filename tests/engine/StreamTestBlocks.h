#pragma once

// What the stream tests share: which 256 KiB blocks a byte range touches, the
// Range header each block is fetched with, and pages and payloads of noise
// that neither compress nor fit in one block.

#include "engine/RemoteStreamRead.h"
#include "platform/graphics/Image.h"
#include "tests/engine/BookTestPages.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <set>
#include <string>

namespace test {

constexpr uint64_t kStreamBlock = RemoteStreamRead::kBlockSize;

// The blocks holding bytes [from, to).
inline std::set<uint64_t> blocksOf(uint64_t from, uint64_t to) {
    std::set<uint64_t> out;
    for (uint64_t b = from / kStreamBlock; b <= (to - 1) / kStreamBlock; ++b) out.insert(b);
    return out;
}

// The Range header the block cache asks for `block` with.
inline std::string rangeOfBlock(uint64_t block, uint64_t fileSize) {
    const uint64_t first = block * kStreamBlock;
    return "bytes=" + std::to_string(first) + "-" + std::to_string(std::min(fileSize, first + kStreamBlock) - 1);
}

inline std::string pattern(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    std::string s(size, '\0');
    for (auto& c : s) c = char(rng());
    return s;
}

// A square BMP page of noise.
inline bool noisePage(const std::string& path, int side, uint32_t seed) {
    std::mt19937 rng(seed);
    return writeBmp(path, side, side, [&](int, int) { return 0xFF000000u | (rng() & 0xFFFFFF); });
}

inline bool samePixels(const gfx::ImageRef& a, const gfx::ImageRef& b) {
    return a && b && a->width() == b->width() && a->height() == b->height() &&
           std::memcmp(a->pixels(), b->pixels(), size_t(a->width()) * size_t(a->height()) * 4) == 0;
}

}  // namespace test
