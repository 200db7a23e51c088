#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace gfx {

// Shrinks a picture that arrives one row at a time, top to bottom, by area
// averaging: every target pixel is the mean of the source area it covers,
// fractions of pixels at its edges included. It holds one source row's worth
// of sums and two target rows, never the whole source: for decoders that
// reduce a large picture while they decode it. Pixels are premultiplied ARGB
// words; the four bytes of a word are averaged alike.
class RowScaler {
public:
    // The source pixels [start, start + count) that make one target
    // column, their weights at `offset` in its list of weights.
    struct Gather {
        int start;
        int count;
        int offset;
    };

    // srcWidth x srcHeight shrinks to width x height; each target side is
    // at least 1 and at most its source side.
    RowScaler(int srcWidth, int srcHeight, int width, int height);

    int width() const { return width_; }
    int height() const { return height_; }
    // The next source row (srcWidth words). Rows past the last are ignored.
    void push(const uint32_t* row);
    // Rows pushed so far.
    int rowsPushed() const { return rowsIn_; }
    // The target pixels, width x height, once every source row is in
    // (rows never written are transparent).
    std::vector<uint32_t> take();

private:
    // How one source index spreads over the target: most of it to `first`,
    // the rest (when it straddles an edge) to first + 1. Weights are in
    // units of 1 / 2^kShift of a target pixel and sum to exactly 2^kShift
    // for every target pixel.
    struct Spread {
        int first;
        uint32_t w1;
        uint32_t w2;
    };
    static std::vector<Spread> spreads(int from, int to, int shift);
    void finishRow(int y);

    int srcWidth_, srcHeight_, width_, height_;
    std::vector<Gather> gather_;
    std::vector<uint32_t> gatherWeights_;
    std::vector<Spread> rows_;
    std::vector<uint32_t> line_;   // one source row reduced across: 8.8 fixed point per byte
    std::vector<uint32_t> accA_;   // target row rows_[i].first
    std::vector<uint32_t> accB_;   // the row after it
    int accRow_ = 0;               // target row held in accA_
    int rowsIn_ = 0;
    std::vector<uint32_t> out_;
};

}  // namespace gfx
