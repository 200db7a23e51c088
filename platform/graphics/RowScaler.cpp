#include "platform/graphics/RowScaler.h"

#include <algorithm>
#include <cstring>

namespace gfx {

namespace {

constexpr int kColShift = 16;  // across: weights of 1/65536, sums kept in 32 bits per byte
constexpr int kRowShift = 15;  // down: 8.8 values times weights of 1/32768 fit 32 bits

// The inner loops, also built for AVX2 where the processor has it (picked
// when the program starts): 32-bit multiplies of whole vectors.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__SANITIZE_THREAD__)
#define LB_WIDE_LOOP __attribute__((target_clones("avx2", "default")))
#else
#define LB_WIDE_LOOP
#endif

// Across: each target pixel gathers the source pixels it covers, the four
// bytes of a pixel side by side in one vector. The weights of a target
// pixel add up to 2^kColShift, so its sums fit 32 bits; they are kept in
// 8.8 fixed point.
LB_WIDE_LOOP void gatherRow(const uint8_t* __restrict src, const RowScaler::Gather* __restrict g,
                            const uint32_t* __restrict weights, uint32_t* __restrict line, int width) {
    using Lanes = uint32_t __attribute__((vector_size(16)));
    using Bytes = uint8_t __attribute__((vector_size(4)));
    const Lanes half = {1u << (kColShift - 9), 1u << (kColShift - 9), 1u << (kColShift - 9), 1u << (kColShift - 9)};
    for (int o = 0; o < width; ++o) {
        const uint8_t* p = src + size_t(g[o].start) * 4;
        const uint32_t* w = weights + g[o].offset;
        Lanes sum = {0, 0, 0, 0};
        for (int q = 0; q < g[o].count; ++q, p += 4) {
            Bytes b;
            std::memcpy(&b, p, 4);
            sum += __builtin_convertvector(b, Lanes) * w[q];
        }
        sum = (sum + half) >> (kColShift - 8);
        std::memcpy(line + size_t(o) * 4, &sum, sizeof sum);
    }
}

// Down: `line` times `weight` added to `acc`.
LB_WIDE_LOOP void addWeighted(uint32_t* __restrict acc, const uint32_t* __restrict line, uint32_t weight, size_t n) {
    for (size_t i = 0; i < n; ++i) acc[i] += line[i] * weight;
}

// A finished target row from its sums.
LB_WIDE_LOOP void toBytes(uint8_t* __restrict out, const uint32_t* __restrict acc, size_t n) {
    constexpr int shift = kRowShift + 8;
    for (size_t i = 0; i < n; ++i)
        out[i] = uint8_t(std::min<uint32_t>(255, (acc[i] + (uint32_t(1) << (shift - 1))) >> shift));
}

}  // namespace

std::vector<RowScaler::Spread> RowScaler::spreads(int from, int to, int shift) {
    // In units of 1 / (from * to): source index j covers [j*to, (j+1)*to),
    // target index o covers [o*from, (o+1)*from). A target's weights are
    // differences of floor(position * 2^shift / from), so they add up to
    // 2^shift exactly.
    std::vector<Spread> s(static_cast<size_t>(from));
    auto scaled = [&](uint64_t within) { return uint32_t((within << shift) / uint64_t(from)); };
    for (int j = 0; j < from; ++j) {
        const uint64_t start = uint64_t(j) * uint64_t(to), end = start + uint64_t(to);
        const int o = int(start / uint64_t(from));
        const uint64_t base = uint64_t(o) * uint64_t(from);
        Spread& sp = s[size_t(j)];
        sp.first = o;
        if (end <= base + uint64_t(from)) {
            sp.w1 = scaled(end - base) - scaled(start - base);
            sp.w2 = 0;
        } else {
            sp.w1 = (uint32_t(1) << shift) - scaled(start - base);
            sp.w2 = scaled(end - base - uint64_t(from));
        }
    }
    return s;
}

RowScaler::RowScaler(int srcWidth, int srcHeight, int width, int height)
    : srcWidth_(std::max(1, srcWidth)),
      srcHeight_(std::max(1, srcHeight)),
      width_(std::clamp(width, 1, std::max(1, srcWidth))),
      height_(std::clamp(height, 1, std::max(1, srcHeight))) {
    // Each target column's source pixels, first to last, and their weights.
    const std::vector<Spread> cols = spreads(srcWidth_, width_, kColShift);
    // fn(o, j, w) for each target column o that source column j adds to, with its weight.
    const auto eachTap = [&](auto&& fn) {
        for (int j = 0; j < srcWidth_; ++j) {
            const Spread& sp = cols[size_t(j)];
            for (int k = 0; k < 2; ++k) {
                const int o = sp.first + k;
                const uint32_t w = k == 0 ? sp.w1 : sp.w2;
                if (o >= width_ || (k == 1 && w == 0)) continue;
                fn(o, j, w);
            }
        }
    };
    gather_.assign(size_t(width_), Gather{0, 0, 0});
    eachTap([&](int o, int j, uint32_t) {
        Gather& g = gather_[size_t(o)];
        if (g.count == 0) g.start = j;
        g.count = j - g.start + 1;
    });
    for (int o = 0, at = 0; o < width_; ++o) {
        gather_[size_t(o)].offset = at;
        at += gather_[size_t(o)].count;
    }
    gatherWeights_.assign(gather_.empty() ? 0 : size_t(gather_.back().offset + gather_.back().count), 0u);
    eachTap([&](int o, int j, uint32_t w) {
        const Gather& g = gather_[size_t(o)];
        gatherWeights_[size_t(g.offset + (j - g.start))] = w;
    });
    rows_ = spreads(srcHeight_, height_, kRowShift);
    line_.assign(size_t(width_) * 4, 0);
    accA_.assign(size_t(width_) * 4, 0);
    accB_.assign(size_t(width_) * 4, 0);
    out_.assign(size_t(width_) * size_t(height_), 0u);
}

void RowScaler::push(const uint32_t* row) {
    if (rowsIn_ >= srcHeight_) return;
    gatherRow(reinterpret_cast<const uint8_t*>(row), gather_.data(), gatherWeights_.data(), line_.data(), width_);
    // Down: the reduced row adds to its target row, and to the next one when
    // it straddles their edge.
    const Spread& r = rows_[size_t(rowsIn_)];
    while (accRow_ < r.first) {
        finishRow(accRow_);
        ++accRow_;
    }
    addWeighted(accA_.data(), line_.data(), r.w1, line_.size());
    if (r.w2) addWeighted(accB_.data(), line_.data(), r.w2, line_.size());
    ++rowsIn_;
    if (rowsIn_ == srcHeight_) {
        while (accRow_ < height_) {
            finishRow(accRow_);
            ++accRow_;
        }
    }
}

void RowScaler::finishRow(int y) {
    if (y >= 0 && y < height_) {
        toBytes(reinterpret_cast<uint8_t*>(out_.data() + size_t(y) * size_t(width_)), accA_.data(), accA_.size());
    }
    accA_.swap(accB_);
    std::fill(accB_.begin(), accB_.end(), 0u);
}

std::vector<uint32_t> RowScaler::take() { return std::move(out_); }

}  // namespace gfx
