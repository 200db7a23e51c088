#include "platform/graphics/ImageScaler.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

namespace gfx {

namespace {

constexpr int kOne = 1 << 14;  // fixed-point unit of the filter weights

// The filter taps of one axis for the output indices [i0, i1).
struct Taps {
    std::vector<int> start;
    std::vector<int> count;
    std::vector<int> offset;  // into weights
    std::vector<int32_t> weights;
    int lo = 0;  // smallest source index used
    int hi = 0;  // largest source index used
};

Taps buildTaps(int srcLen, double dstPos, double dstLen, int i0, int i1) {
    Taps t;
    double k = srcLen / dstLen;
    double support = std::max(1.0, k);
    int n = i1 - i0;
    t.start.resize(n);
    t.count.resize(n);
    t.offset.resize(n);
    t.lo = srcLen;
    t.hi = 0;
    std::vector<double> w;
    for (int i = 0; i < n; ++i) {
        double centre = (i0 + i + 0.5 - dstPos) * k;
        int jlo = int(std::ceil(centre - support - 0.5));
        int jhi = int(std::floor(centre + support - 0.5));
        int first = std::clamp(jlo, 0, srcLen - 1);
        int last = std::clamp(jhi, 0, srcLen - 1);
        w.assign(size_t(last - first + 1), 0.0);
        double sum = 0;
        for (int j = jlo; j <= jhi; ++j) {
            double f = 1.0 - std::fabs(j + 0.5 - centre) / support;
            if (f <= 0) continue;
            w[size_t(std::clamp(j, first, last) - first)] += f;
            sum += f;
        }
        if (sum <= 0) {  // centre exactly between taps of a zero-width tent: nearest pixel
            w.assign(1, 1.0);
            first = last = std::clamp(int(std::floor(centre)), 0, srcLen - 1);
            sum = 1.0;
        }
        t.start[i] = first;
        t.count[i] = last - first + 1;
        t.offset[i] = int(t.weights.size());
        int total = 0, biggest = 0;
        for (size_t q = 0; q < w.size(); ++q) {
            int32_t v = int32_t(std::lround(w[q] / sum * kOne));
            t.weights.push_back(v);
            total += v;
            if (v > t.weights[size_t(t.offset[i]) + size_t(biggest)]) biggest = int(q);
        }
        t.weights[size_t(t.offset[i]) + size_t(biggest)] += kOne - total;
        t.lo = std::min(t.lo, first);
        t.hi = std::max(t.hi, last);
    }
    return t;
}

inline uint32_t toByte(int32_t acc) {
    int32_t v = (acc + kOne / 2) >> 14;
    return uint32_t(std::clamp(v, 0, 255));
}

inline uint32_t over(uint32_t s, uint32_t d) {
    uint32_t sa = alphaOf(s);
    if (sa == 255) return s;
    if (s == 0) return d;
    uint32_t inv = 255 - sa;
    auto mix = [inv](uint32_t sc, uint32_t dc) {
        uint32_t t = dc * inv + 128;
        return std::min<uint32_t>(255, sc + ((t + (t >> 8)) >> 8));
    };
    return argb(mix(sa, alphaOf(d)), mix(redOf(s), redOf(d)), mix(greenOf(s), greenOf(d)),
                mix(blueOf(s), blueOf(d)));
}

struct Job {
    const ImageScaler::Source* src;
    const ImageScaler::Target* dst;
    const Taps* tx;
    const Taps* ty;
    int x0, x1, y0;
};

// Rows [r0, r1) of the clip window: a vertical pass over the source columns
// the window needs, then a horizontal pass into the target. Every channel is
// filtered the same way, so the loops run over the four bytes of a pixel
// without caring which channel is which.
void runRows(const Job& job, int r0, int r1) {
    const auto& src = *job.src;
    const Taps& tx = *job.tx;
    const Taps& ty = *job.ty;
    int cols = tx.hi - tx.lo + 1;
    std::vector<int32_t> acc(size_t(cols) * 4);
    std::vector<uint8_t> mid(size_t(cols) * 4);
    for (int r = r0; r < r1; ++r) {
        int i = r - job.y0;
        std::fill(acc.begin(), acc.end(), 0);
        const int32_t* wy = ty.weights.data() + ty.offset[size_t(i)];
        for (int q = 0; q < ty.count[size_t(i)]; ++q) {
            const uint8_t* __restrict row = reinterpret_cast<const uint8_t*>(
                src.pixels + size_t(ty.start[size_t(i)] + q) * src.stridePixels + size_t(tx.lo));
            int32_t w = wy[q];
            int32_t* __restrict a = acc.data();
            for (int b = 0; b < cols * 4; ++b) a[b] += w * row[b];
        }
        {
            const int32_t* __restrict a = acc.data();
            uint8_t* __restrict m = mid.data();
            for (int b = 0; b < cols * 4; ++b) m[b] = uint8_t(toByte(a[b]));
        }
        const auto* midPx = reinterpret_cast<const uint32_t*>(mid.data());
        uint32_t* out = job.dst->pixels + size_t(r) * job.dst->stridePixels;
        for (int x = job.x0; x < job.x1; ++x) {
            int j = x - job.x0;
            const int32_t* wx = tx.weights.data() + tx.offset[size_t(j)];
            const uint8_t* p = reinterpret_cast<const uint8_t*>(midPx + (tx.start[size_t(j)] - tx.lo));
            int32_t c0 = 0, c1 = 0, c2 = 0, c3 = 0;
            for (int q = 0; q < tx.count[size_t(j)]; ++q, p += 4) {
                int32_t w = wx[q];
                c0 += w * p[0];
                c1 += w * p[1];
                c2 += w * p[2];
                c3 += w * p[3];
            }
            uint32_t v;
            auto* vb = reinterpret_cast<uint8_t*>(&v);
            vb[0] = uint8_t(toByte(c0));
            vb[1] = uint8_t(toByte(c1));
            vb[2] = uint8_t(toByte(c2));
            vb[3] = uint8_t(toByte(c3));
            out[x] = over(v, out[x]);
        }
    }
}

}  // namespace

void ImageScaler::draw(const Source& src, double x, double y, double w, double h,
                       const Target& dst, int clipX0, int clipY0, int clipX1, int clipY1) {
    if (!src.pixels || src.width <= 0 || src.height <= 0 || !(w > 0) || !(h > 0)) return;
    clipX0 = std::max(clipX0, 0);
    clipY0 = std::max(clipY0, 0);
    clipX1 = std::min(clipX1, dst.width);
    clipY1 = std::min(clipY1, dst.height);
    if (clipX0 >= clipX1 || clipY0 >= clipY1) return;
    if (w == src.width && h == src.height && x == std::floor(x) && y == std::floor(y) && std::fabs(x) < 1e9 &&
        std::fabs(y) < 1e9) {
        // Pixel for pixel (a picture placed in a larger view): the filter
        // would give back each pixel as it is.
        const int dx = int(x), dy = int(y);
        const int x0 = std::max(clipX0, dx), x1 = std::min(clipX1, dx + src.width);
        for (int r = std::max(clipY0, dy); r < std::min(clipY1, dy + src.height); ++r) {
            const uint32_t* in = src.pixels + size_t(r - dy) * src.stridePixels;
            uint32_t* out = dst.pixels + size_t(r) * dst.stridePixels;
            // Opaque rows (most pages) are copied as they are.
            uint32_t alphas = 0xFF000000u;
            for (int c = x0; c < x1; ++c) alphas &= in[c - dx];
            if ((alphas >> 24) == 0xFF) {
                if (x1 > x0) std::memcpy(out + x0, in + (x0 - dx), size_t(x1 - x0) * sizeof(uint32_t));
                continue;
            }
            for (int c = x0; c < x1; ++c) out[c] = over(in[c - dx], out[c]);
        }
        return;
    }
    Taps tx = buildTaps(src.width, x, w, clipX0, clipX1);
    Taps ty = buildTaps(src.height, y, h, clipY0, clipY1);
    Job job{&src, &dst, &tx, &ty, clipX0, clipX1, clipY0};

    int rows = clipY1 - clipY0;
    double work = double(rows) * double(clipX1 - clipX0);
    unsigned hw = std::max(1u, std::thread::hardware_concurrency());
    int threads = int(std::min<double>({4.0, double(hw), std::floor(work / 250000.0)}));
    threads = std::clamp(threads, 1, std::max(1, rows / 16));
    if (threads <= 1) {
        runRows(job, clipY0, clipY1);
        return;
    }
    std::vector<std::thread> pool;
    int per = (rows + threads - 1) / threads;
    for (int t = 1; t < threads; ++t) {
        int r0 = clipY0 + t * per, r1 = std::min(clipY1, r0 + per);
        if (r0 < r1) pool.emplace_back([&job, r0, r1] { runRows(job, r0, r1); });
    }
    runRows(job, clipY0, std::min(clipY1, clipY0 + per));
    for (auto& th : pool) th.join();
}

ImageRef ImageScaler::scale(const Image& image, int width, int height) {
    if (!Image::sizeAllowed(width, height)) return nullptr;
    std::vector<uint32_t> px(size_t(width) * size_t(height), 0u);
    Source s{image.pixels(), image.width(), image.height(), size_t(image.width())};
    Target t{px.data(), width, height, size_t(width)};
    draw(s, 0, 0, width, height, t, 0, 0, width, height);
    return Image::make(width, height, std::move(px), image.scale(), image.orientation());
}

}  // namespace gfx
