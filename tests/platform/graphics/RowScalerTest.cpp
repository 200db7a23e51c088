#include "platform/graphics/RowScaler.h"
#include "platform/graphics/ImageScaler.h"
#include "tests/platform/graphics/PixelChecks.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using namespace gfx;
using namespace pixeltest;

namespace {

std::vector<uint32_t> shrink(const std::vector<uint32_t>& src, int sw, int sh, int w, int h) {
    RowScaler s(sw, sh, w, h);
    for (int y = 0; y < sh; ++y) s.push(src.data() + size_t(y) * size_t(sw));
    EXPECT_EQ(s.rowsPushed(), sh);
    return s.take();
}

uint32_t grey(uint32_t v) { return argb(255, v, v, v); }

}  // namespace

// Whole blocks: each target pixel is the plain mean of its block.
TEST(RowScalerTest, WholeBlocksAreAveraged) {
    // 4 x 2 to 2 x 1: means of {0, 40, 100, 140} and {200, 255, 10, 30}.
    const std::vector<uint32_t> src = {grey(0), grey(40), grey(200), grey(255),
                                       grey(100), grey(140), grey(10), grey(30)};
    const auto out = shrink(src, 4, 2, 2, 1);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_TRUE(near(out[0], grey(70), 0)) << describe(out[0]);
    EXPECT_TRUE(near(out[1], grey(124), 1)) << describe(out[1]);  // 123.75
    // Transparency is averaged like the colours (premultiplied in, premultiplied out).
    const std::vector<uint32_t> clear = {0u, argb(255, 255, 0, 0), 0u, argb(255, 255, 0, 0)};
    const auto half = shrink(clear, 2, 2, 1, 1);
    EXPECT_TRUE(near(half[0], argb(128, 128, 0, 0), 1)) << describe(half[0]);
}

// Fractions: three pixels into two, each target taking one and a half.
TEST(RowScalerTest, PixelsOnAnEdgeAreShared) {
    const std::vector<uint32_t> src = {grey(0), grey(90), grey(180)};
    const auto out = shrink(src, 3, 1, 2, 1);
    EXPECT_TRUE(near(out[0], grey(30), 1)) << describe(out[0]);   // (0 + 45) / 1.5
    EXPECT_TRUE(near(out[1], grey(150), 1)) << describe(out[1]);  // (45 + 180) / 1.5
    // The same down a column.
    const auto col = shrink(src, 1, 3, 1, 2);
    EXPECT_TRUE(near(col[0], grey(30), 1));
    EXPECT_TRUE(near(col[1], grey(150), 1));
    // A flat picture stays exactly flat at any ratio, white included.
    for (int w : {1, 7, 13, 64}) {
        const std::vector<uint32_t> flat(size_t(97) * 61, argb(255, 255, 255, 255));
        const auto o = shrink(flat, 97, 61, w, (w * 61 + 96) / 97);
        for (uint32_t p : o) ASSERT_EQ(p, argb(255, 255, 255, 255)) << w;
    }
}

// Against the resampler that scales whole images: a smooth picture comes out
// the same within a few levels.
TEST(RowScalerTest, MatchesTheImageScalerOnSmoothPictures) {
    const int sw = 400, sh = 300, w = 123, h = 92;
    std::vector<uint32_t> src(size_t(sw) * sh);
    for (int y = 0; y < sh; ++y)
        for (int x = 0; x < sw; ++x) src[size_t(y) * sw + size_t(x)] = argb(255, x * 255 / sw, y * 255 / sh, 128);
    const auto out = shrink(src, sw, sh, w, h);
    ImageRef whole = Image::make(sw, sh, src);
    ImageRef ref = ImageScaler::scale(*whole, w, h);
    ASSERT_TRUE(ref);
    int worst = 0;
    for (int y = 1; y < h - 1; ++y)
        for (int x = 1; x < w - 1; ++x) worst = std::max(worst, channelDistance(out[size_t(y) * w + size_t(x)], ref->pixel(x, y)));
    EXPECT_LE(worst, 3);
}
