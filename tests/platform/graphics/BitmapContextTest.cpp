#include "platform/graphics/BitmapContext.h"
#include "platform/graphics/ImageScaler.h"
#include "tests/platform/graphics/PixelChecks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

using namespace gfx;
using namespace pixeltest;

namespace {

const uint32_t kRed = argb(255, 255, 0, 0);
const uint32_t kBlue = argb(255, 0, 0, 255);

// A smooth, slightly noisy gradient: scaling filters of similar width agree on it.
ImageRef gradient(int w, int h) {
    std::vector<uint32_t> px(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            px[size_t(y) * size_t(w) + size_t(x)] =
                argb(255, uint32_t(255 * x / (w - 1)), uint32_t(255 * y / (h - 1)),
                     uint32_t(128 + 60 * std::sin(x * 0.05) * std::cos(y * 0.07)));
        }
    }
    return Image::make(w, h, std::move(px));
}

}  // namespace

TEST(BitmapContextTest, RefusesSizesItCannotHold) {
    EXPECT_FALSE(BitmapContext::create(0, 10));
    EXPECT_FALSE(BitmapContext::create(10, -1));
    EXPECT_FALSE(BitmapContext::create(70000, 10));
    EXPECT_FALSE(BitmapContext::create(40000, 40000));  // over the pixel cap
    auto ctx = BitmapContext::create(3, 2);
    ASSERT_TRUE(ctx);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) EXPECT_EQ(ctx->pixel(x, y), 0u);
    }
}

TEST(BitmapContextTest, LowerLeftOriginAndUprightImages) {
    auto ll = BitmapContext::create(10, 10);
    ll->setFillColor(1, 0, 0, 1);
    ll->fillRect(Rect(0, 0, 5, 5));  // bottom-left quarter
    EXPECT_EQ(ll->pixel(0, 9), kRed);
    EXPECT_EQ(ll->pixel(4, 5), kRed);
    EXPECT_EQ(ll->pixel(0, 4), 0u);
    EXPECT_EQ(ll->pixel(5, 9), 0u);

    auto tl = BitmapContext::create(10, 10, BitmapContext::Origin::TopLeft);
    tl->setFillColor(1, 0, 0, 1);
    tl->fillRect(Rect(0, 0, 5, 5));
    EXPECT_EQ(tl->pixel(0, 0), kRed);
    EXPECT_EQ(tl->pixel(0, 9), 0u);

    // An image drawn in either mode keeps its top row at the top.
    ImageRef img = quadrants(8, 8);
    for (auto origin : {BitmapContext::Origin::LowerLeft, BitmapContext::Origin::TopLeft}) {
        auto ctx = BitmapContext::create(8, 8, origin);
        ctx->drawImage(Rect(0, 0, 8, 8), *img);
        ImageRef out = ctx->makeImage();
        ASSERT_TRUE(out);
        for (int y = 0; y < 8; ++y) {
            for (int x = 0; x < 8; ++x) EXPECT_EQ(out->pixel(x, y), img->pixel(x, y));
        }
    }
}

TEST(BitmapContextTest, TransformsSaveAndRestore) {
    ImageRef img = quadrants(8, 6);
    // Half a turn about the canvas: red ends bottom-right.
    auto ctx = BitmapContext::create(8, 6);
    ctx->saveGState();
    ctx->translateCTM(8, 6);
    ctx->rotateCTM(std::numbers::pi);
    ctx->drawImage(Rect(0, 0, 8, 6), *img);
    ctx->restoreGState();
    EXPECT_EQ(ctx->pixel(7, 5), kRed);
    EXPECT_EQ(ctx->pixel(0, 0), argb(255, 255, 255, 255));
    EXPECT_TRUE(ctx->ctm() == (AffineTransform{1, 0, 0, -1, 0, 6}));

    // Mirror: red goes top-right.
    auto m = BitmapContext::create(8, 6);
    m->concatCTM(AffineTransform::makeTranslation(8, 0).scaled(-1, 1));
    m->drawImage(Rect(0, 0, 8, 6), *img);
    EXPECT_EQ(m->pixel(7, 0), kRed);
    EXPECT_EQ(m->pixel(0, 0), argb(255, 0, 255, 0));

    // A degenerate transform is ignored instead of breaking the context.
    m->scaleCTM(0, 1);
    m->concatCTM(AffineTransform{0, 0, 0, 0, 0, 0});
    EXPECT_TRUE(m->ok());
    m->restoreGState();  // unbalanced: ignored
    EXPECT_TRUE(m->ok());

    // Alpha and fill colour are part of the saved state.
    auto a = BitmapContext::create(2, 1, BitmapContext::Origin::TopLeft);
    a->setFillColor(1, 0, 0, 1);
    a->saveGState();
    a->setAlpha(0.5);
    a->setFillColor(0, 0, 1, 1);
    a->fillRect(Rect(0, 0, 1, 1));
    a->restoreGState();
    a->fillRect(Rect(1, 0, 1, 1));
    EXPECT_TRUE(near(a->pixel(0, 0), argb(128, 0, 0, 128), 1));
    EXPECT_EQ(a->pixel(1, 0), kRed);
    a->clearRect(Rect(0, 0, 2, 1));
    EXPECT_EQ(a->pixel(0, 0), 0u);
    EXPECT_EQ(a->pixel(1, 0), 0u);
}

TEST(BitmapContextTest, SourceRectangleAndClipping) {
    ImageRef img = quadrants(8, 8);
    auto ctx = BitmapContext::create(4, 8, BitmapContext::Origin::TopLeft);
    ctx->drawImage(Rect(0, 0, 4, 8), *img, Rect(4, 0, 4, 8));  // the right half
    EXPECT_EQ(ctx->pixel(0, 0), argb(255, 0, 255, 0));
    EXPECT_EQ(ctx->pixel(3, 7), argb(255, 255, 255, 255));
    // A source outside the image draws nothing.
    auto none = BitmapContext::create(4, 4);
    none->drawImage(Rect(0, 0, 4, 4), *img, Rect(20, 20, 4, 4));
    none->drawImage(Rect(0, 0, 0, 4), *img);
    none->drawImage(Rect(0, 0, NAN, 4), *img);
    EXPECT_EQ(none->pixel(1, 1), 0u);
    EXPECT_TRUE(none->ok());
}

// The fast resampler and cairo's good filter must give the same picture:
// one is used when the image lands on whole pixels, the other otherwise.
TEST(BitmapContextTest, FastScalingAgreesWithCairo) {
    ImageRef src = gradient(300, 200);
    for (auto [w, h] : {std::pair{123, 81}, {60, 40}, {450, 300}, {300, 37}}) {
        auto fast = BitmapContext::create(w, h);
        fast->drawImage(Rect(0, 0, w, h), *src);
        auto slow = BitmapContext::create(w, h);
        slow->setAlpha(0.99999);  // not eligible for the fast path
        slow->drawImage(Rect(0, 0, w, h), *src);
        int worst = 0;
        for (int y = 2; y < h - 2; ++y) {
            for (int x = 2; x < w - 2; ++x) worst = std::max(worst, channelDistance(fast->pixel(x, y), slow->pixel(x, y)));
        }
        EXPECT_LE(worst, 6) << w << "x" << h;
        // Scaled edges stay opaque on both paths.
        for (auto* c : {fast.get(), slow.get()}) {
            EXPECT_EQ(alphaOf(c->pixel(0, 0)), 255u);
            EXPECT_EQ(alphaOf(c->pixel(w - 1, h - 1)), 255u);
        }
    }
}

TEST(BitmapContextTest, ScalerAveragesAndKeepsPremultipliedData) {
    // A 1-pixel checkerboard halved is an even grey.
    std::vector<uint32_t> px(64 * 64);
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 64; ++x) px[size_t(y * 64 + x)] = ((x + y) & 1) ? argb(255, 255, 255, 255) : argb(255, 0, 0, 0);
    }
    ImageRef board = Image::make(64, 64, std::move(px));
    ImageRef half = ImageScaler::scale(*board, 32, 32);
    ASSERT_TRUE(half);
    for (int y = 1; y < 31; ++y) {
        for (int x = 1; x < 31; ++x) EXPECT_TRUE(near(half->pixel(x, y), argb(255, 128, 128, 128), 2));
    }
    // Opaque red next to transparent: the blend is valid premultiplied data.
    std::vector<uint32_t> edge(40 * 10, 0u);
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 20; ++x) edge[size_t(y * 40 + x)] = kRed;
    }
    ImageRef e = Image::make(40, 10, std::move(edge));
    for (auto [w, h] : {std::pair{13, 3}, {7, 7}, {90, 25}}) {
        ImageRef s = ImageScaler::scale(*e, w, h);
        ASSERT_TRUE(s);
        EXPECT_TRUE(validPremultiplied(*s)) << w << "x" << h;
    }
    // Enlarging one pixel gives that pixel everywhere.
    ImageRef big = ImageScaler::scale(*solid(1, 1, kBlue), 9, 5);
    ASSERT_TRUE(big);
    EXPECT_EQ(big->pixel(8, 4), kBlue);
    EXPECT_EQ(big->pixel(0, 0), kBlue);
    EXPECT_FALSE(ImageScaler::scale(*board, 0, 5));
}

TEST(BitmapContextTest, DrawingOverExistingPixelsBlends) {
    auto ctx = BitmapContext::create(4, 4, BitmapContext::Origin::TopLeft);
    ctx->setFillColor(0, 0, 1, 1);
    ctx->fillRect(Rect(0, 0, 4, 4));
    ImageRef halfRed = solid(2, 2, argb(128, 128, 0, 0));
    ctx->drawImage(Rect(0, 0, 4, 4), *halfRed);  // enlarged, whole pixels: fast path
    EXPECT_TRUE(near(ctx->pixel(1, 1), argb(255, 128, 0, 127), 1));
}

// A picture placed pixel for pixel (centred in a larger view, partly off
// the canvas) is copied as it is (whole opaque rows and opaque pixels of
// others), and blended where it is translucent.
TEST(BitmapContextTest, PixelForPixelPlacementCopiesAndBlends) {
    std::vector<uint32_t> px(30 * 20);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x)
            px[size_t(y * 30 + x)] =
                x < 15 || y < 8 ? argb(255, uint32_t(8 * x), uint32_t(12 * y), 7) : argb(128, 100, 0, uint32_t(y));
    ImageRef img = Image::make(30, 20, std::move(px));
    for (auto [x, y] : {std::pair{5, 3}, {-4, 12}, {0, 0}}) {
        auto ctx = BitmapContext::create(40, 30, BitmapContext::Origin::TopLeft);
        ctx->setFillColor(0, 0, 1, 1);
        ctx->fillRect(Rect(0, 0, 40, 30));
        ctx->drawImage(Rect(x, y, 30, 20), *img);
        auto slow = BitmapContext::create(40, 30, BitmapContext::Origin::TopLeft);
        slow->setFillColor(0, 0, 1, 1);
        slow->fillRect(Rect(0, 0, 40, 30));
        slow->setAlpha(0.99999);  // through cairo
        slow->drawImage(Rect(x, y, 30, 20), *img);
        for (int cy = 0; cy < 30; ++cy) {
            for (int cx = 0; cx < 40; ++cx) {
                const bool inside = cx >= x && cx < x + 30 && cy >= y && cy < y + 20;
                ASSERT_TRUE(near(ctx->pixel(cx, cy), slow->pixel(cx, cy), 1)) << cx << "," << cy;
                if (!inside) {
                    ASSERT_EQ(ctx->pixel(cx, cy), kBlue) << cx << "," << cy;
                } else if (cx - x < 15 || cy - y < 8) {
                    ASSERT_EQ(ctx->pixel(cx, cy), img->pixel(cx - x, cy - y)) << cx << "," << cy;
                }
            }
        }
    }
}

TEST(BitmapContextTest, TakeImageHandsOverOnce) {
    auto ctx = BitmapContext::create(5, 4);
    ctx->setFillColor(0, 0, 1, 1);
    ctx->fillRect(Rect(0, 0, 5, 4));
    ImageRef copy = ctx->makeImage(2.0, Orientation::Down);
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->scale(), 2.0);
    EXPECT_EQ(copy->orientation(), Orientation::Down);
    ImageRef taken = ctx->takeImage();
    ASSERT_TRUE(taken);
    EXPECT_EQ(taken->pixel(4, 3), kBlue);
    EXPECT_FALSE(ctx->ok());
    EXPECT_FALSE(ctx->takeImage());
    EXPECT_FALSE(ctx->makeImage());
    ctx->fillRect(Rect(0, 0, 1, 1));  // harmless on a spent context
}

TEST(BitmapContextTest, UprightMatchesTheExifMeaning) {
    // 3 x 2 with distinct pixels; each orientation's upright copy checked
    // at the corner that stored pixel (0, 0) must reach.
    std::vector<uint32_t> px = {1, 2, 3, 4, 5, 6};
    for (auto& p : px) p = argb(255, p, 0, 0);
    struct Case {
        Orientation o;
        int w, h, x, y;
    };
    for (Case c : {Case{Orientation::Up, 3, 2, 0, 0}, {Orientation::UpMirrored, 3, 2, 2, 0},
                   {Orientation::Down, 3, 2, 2, 1}, {Orientation::DownMirrored, 3, 2, 0, 1},
                   {Orientation::LeftMirrored, 2, 3, 0, 0}, {Orientation::Right, 2, 3, 1, 0},
                   {Orientation::RightMirrored, 2, 3, 1, 2}, {Orientation::Left, 2, 3, 0, 2}}) {
        ImageRef img = Image::make(3, 2, px, 1.0, c.o);
        ImageRef up = img->upright();
        ASSERT_TRUE(up);
        EXPECT_EQ(up->orientation(), Orientation::Up);
        EXPECT_EQ(up->width(), c.w);
        EXPECT_EQ(up->height(), c.h);
        EXPECT_EQ(up->pixel(c.x, c.y), px[0]) << int(c.o);
        EXPECT_DOUBLE_EQ(up->pointWidth(), img->pointWidth());
    }
}
