#include "platform/graphics/RowScaler.h"

#include <algorithm>

namespace gfx {

namespace {

constexpr int kColShift = 16;  // across: weights of 1/65536, sums kept in 32 bits per byte
constexpr int kRowShift = 15;  // down: 8.8 values times weights of 1/32768 fit 32 bits

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
    cols_ = spreads(srcWidth_, width_, kColShift);
    rows_ = spreads(srcHeight_, height_, kRowShift);
    line_.assign(size_t(width_) * 4, 0);
    accA_.assign(size_t(width_) * 4, 0);
    accB_.assign(size_t(width_) * 4, 0);
    out_.assign(size_t(width_) * size_t(height_), 0u);
}

void RowScaler::push(const uint32_t* row) {
    if (rowsIn_ >= srcHeight_) return;
    // Across: each source pixel adds to one target pixel, or two at an edge.
    std::fill(line_.begin(), line_.end(), 0u);
    {
        uint32_t* __restrict l = line_.data();
        const Spread* __restrict c = cols_.data();
        const auto* __restrict src = reinterpret_cast<const uint8_t*>(row);
        uint64_t sums[4] = {0, 0, 0, 0};
        int current = 0;
        // Whole sums first (64 bits: a wide reduction adds many pixels),
        // brought to 8.8 fixed point when the target pixel is complete.
        auto flush = [&](int o) {
            for (int b = 0; b < 4; ++b) {
                l[size_t(o) * 4 + size_t(b)] += uint32_t((sums[b] + (uint64_t(1) << (kColShift - 9))) >> (kColShift - 8));
                sums[b] = 0;
            }
        };
        for (int j = 0; j < srcWidth_; ++j, src += 4) {
            const Spread& sp = c[j];
            if (sp.first != current) {
                flush(current);
                current = sp.first;
            }
            for (int b = 0; b < 4; ++b) sums[b] += uint64_t(sp.w1) * src[b];
            if (sp.w2) {
                flush(current);
                current = sp.first + 1;
                for (int b = 0; b < 4; ++b) sums[b] += uint64_t(sp.w2) * src[b];
            }
        }
        if (current < width_) flush(current);
    }
    // Down: the reduced row adds to its target row, and to the next one when
    // it straddles their edge.
    const Spread& r = rows_[size_t(rowsIn_)];
    while (accRow_ < r.first) {
        finishRow(accRow_);
        ++accRow_;
    }
    {
        const uint32_t* __restrict l = line_.data();
        uint32_t* __restrict a = accA_.data();
        uint32_t* __restrict b = accB_.data();
        const size_t n = line_.size();
        for (size_t i = 0; i < n; ++i) a[i] += l[i] * r.w1;
        if (r.w2)
            for (size_t i = 0; i < n; ++i) b[i] += l[i] * r.w2;
    }
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
        auto* o = reinterpret_cast<uint8_t*>(out_.data() + size_t(y) * size_t(width_));
        const uint32_t* a = accA_.data();
        constexpr int shift = kRowShift + 8;
        for (size_t i = 0; i < accA_.size(); ++i)
            o[i] = uint8_t(std::min<uint32_t>(255, (a[i] + (uint32_t(1) << (shift - 1))) >> shift));
    }
    accA_.swap(accB_);
    std::fill(accB_.begin(), accB_.end(), 0u);
}

std::vector<uint32_t> RowScaler::take() { return std::move(out_); }

}  // namespace gfx
