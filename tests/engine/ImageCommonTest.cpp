#include "engine/ImageCommon.h"
#include "tests/platform/graphics/PixelChecks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

using namespace gfx;
using namespace pixeltest;

namespace {

const uint32_t kWhite = argb(255, 255, 255, 255);
const uint32_t kBlack = argb(255, 0, 0, 0);
const uint32_t kRed = argb(255, 255, 0, 0);
const uint32_t kGreen = argb(255, 0, 255, 0);
const uint32_t kBlue = argb(255, 0, 0, 255);

uint32_t grey(uint32_t v) { return argb(255, v, v, v); }

// A page with patches of many hues on grey paper: clearly in colour.
ImageRef colourful(int w = 64, int h = 64) {
    std::vector<uint32_t> px(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            int band = (x * 6) / w;
            static const uint32_t hues[6] = {argb(255, 230, 20, 20),  argb(255, 20, 200, 20),
                                             argb(255, 20, 20, 230),  argb(255, 230, 230, 20),
                                             argb(255, 20, 220, 220), argb(255, 220, 20, 220)};
            px[size_t(y) * size_t(w) + size_t(x)] = hues[band];
        }
    }
    return Image::make(w, h, std::move(px));
}

// A grey ramp from left to right.
ImageRef greyRamp(int w = 64, int h = 16) {
    std::vector<uint32_t> px(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) px[size_t(y) * size_t(w) + size_t(x)] = grey(uint32_t(x * 255 / (w - 1)));
    }
    return Image::make(w, h, std::move(px));
}

// White paper with black rectangles (top-left coordinates, inclusive).
ImageRef page(int w, int h, std::initializer_list<std::array<int, 4>> boxes) {
    std::vector<uint32_t> px(size_t(w) * size_t(h), kWhite);
    for (auto [x0, y0, x1, y1] : boxes) {
        for (int y = y0; y <= y1; ++y) {
            for (int x = x0; x <= x1; ++x) px[size_t(y) * size_t(w) + size_t(x)] = kBlack;
        }
    }
    return Image::make(w, h, std::move(px));
}

bool sameImage(const Image& a, const Image& b, int tolerance = 0) {
    if (a.width() != b.width() || a.height() != b.height()) return false;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if (channelDistance(a.pixel(x, y), b.pixel(x, y)) > tolerance) return false;
        }
    }
    return true;
}

}  // namespace

TEST(ImageCommonTest, GammaTableValuesAndCache) {
    auto t = ImageCommon::gammaTable(0.8);
    EXPECT_EQ(t[128], 107);
    EXPECT_EQ(ImageCommon::gammaTable(0.6)[128], 80);
    EXPECT_EQ(ImageCommon::gammaTable(0.5)[128], 64);
    EXPECT_EQ(t[0], 0);
    EXPECT_EQ(t[255], 255);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(ImageCommon::gammaTable(1.0)[size_t(i)], i);

    ImageRef src = greyRamp();
    ImageRef same = ImageCommon::newGammaImage(src, 1.0);
    ASSERT_TRUE(same);
    EXPECT_TRUE(sameImage(*same, *src));
    ImageRef dark = ImageCommon::newGammaImage(solid(2, 2, argb(255, 128, 128, 128)), 0.8);
    ASSERT_TRUE(dark);
    EXPECT_EQ(dark->pixel(1, 1), grey(107));

    // Gammas that mean nothing fail cleanly.
    for (double g : {0.0, -1.0, double(NAN), double(INFINITY), 1e-300}) EXPECT_FALSE(ImageCommon::newGammaImage(src, g)) << g;
    EXPECT_FALSE(ImageCommon::newGammaImage(nullptr, 0.8));
}

// Several threads filtering with different gammas at once must each get
// their own gamma's table.
TEST(ImageCommonTest, GammaCacheIsSafeAcrossThreads) {
    const double gammas[4] = {0.8, 0.6, 0.9, 0.5};
    std::array<uint8_t, 256> expected[4];
    for (int i = 0; i < 4; ++i) expected[i] = ImageCommon::gammaTable(gammas[i]);
    ImageRef src = greyRamp(256, 2);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 150; ++round) {
                int g = (t + round) % 4;
                ImageRef out = ImageCommon::newGammaImage(src, gammas[g]);
                for (int x = 0; x < 256; ++x) {
                    if (!out || redOf(out->pixel(x, 1)) != expected[g][redOf(src->pixel(x, 1))]) {
                        ++wrong;
                        break;
                    }
                }
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(ImageCommonTest, InvertKeepsAlphaAndSkipsColourPagesWhenAsked) {
    ImageRef src = Image::make(3, 1, {argb(255, 10, 20, 30), argb(128, 64, 32, 0), 0});
    ImageRef inv = ImageCommon::newInvertImage(src, false);
    ASSERT_TRUE(inv);
    EXPECT_EQ(inv->pixel(0, 0), argb(255, 245, 235, 225));
    EXPECT_EQ(alphaOf(inv->pixel(1, 0)), 128u);
    EXPECT_TRUE(near(inv->pixel(1, 0), argb(128, 64, 96, 128), 1));
    EXPECT_EQ(inv->pixel(2, 0), 0u);
    EXPECT_TRUE(validPremultiplied(*inv));

    ImageRef photo = colourful();
    EXPECT_EQ(ImageCommon::newInvertImage(photo, true), photo);  // the same image
    ImageRef forced = ImageCommon::newInvertImage(photo, false);
    ASSERT_TRUE(forced);
    EXPECT_NE(forced, photo);
    ImageRef ramp = greyRamp();
    ImageRef greyInv = ImageCommon::newInvertImage(ramp, true);
    ASSERT_TRUE(greyInv);
    EXPECT_EQ(greyInv->pixel(0, 0), kWhite);
}

TEST(ImageCommonTest, ColourTest) {
    EXPECT_TRUE(ImageCommon::isColorImage(colourful()->pixels(), 64, 64, 64 * 4));
    EXPECT_FALSE(ImageCommon::isColorImage(greyRamp()->pixels(), 64, 16, 64 * 4));
    // One hue only (a sepia scan): saturated but not in colour.
    ImageRef toned = solid(64, 64, argb(255, 200, 150, 90));
    EXPECT_FALSE(ImageCommon::isColorImage(toned->pixels(), 64, 64, 64 * 4));

    // Saturated pixels of many hues at exactly 10 of the 1,024 sample points
    // are not enough; at 11 they are.
    auto sampled = [](int count) {
        std::vector<uint32_t> px(64 * 64, grey(128));
        const uint32_t hues[3] = {kRed, kGreen, kBlue};
        for (int k = 0; k < count; ++k) {
            int i = k % 32, j = k / 32;  // sample (i, j) sits at (2i, 2j) on a 64 x 64 page
            px[size_t(2 * j) * 64 + size_t(2 * i)] = hues[k % 3];
        }
        return Image::make(64, 64, std::move(px));
    };
    EXPECT_FALSE(ImageCommon::isColorImage(sampled(10)->pixels(), 64, 64, 64 * 4));
    EXPECT_TRUE(ImageCommon::isColorImage(sampled(11)->pixels(), 64, 64, 64 * 4));

    // A padded row stride is honoured; nothing, or a size of zero, is not colour.
    std::vector<uint32_t> padded(80 * 64, grey(100));
    ImageRef c = colourful();
    for (int y = 0; y < 64; ++y) std::copy(c->row(y), c->row(y) + 64, padded.begin() + y * 80);
    EXPECT_TRUE(ImageCommon::isColorImage(padded.data(), 64, 64, 80 * 4));
    EXPECT_FALSE(ImageCommon::isColorImage(nullptr, 64, 64, 256));
    EXPECT_FALSE(ImageCommon::isColorImage(c->pixels(), 0, 64, 256));
    EXPECT_FALSE(ImageCommon::isColorImage(c->pixels(), 64, 64, 16));  // stride shorter than a row
}

TEST(ImageCommonTest, GreyAndSepia) {
    ImageRef src = Image::make(4, 1, {kRed, kBlue, kWhite, kBlack});
    ImageRef g = ImageCommon::newGrayImage(src, false);
    ASSERT_TRUE(g);
    EXPECT_EQ(g->pixel(0, 0), grey(29));   // (117 * 255) >> 10: red weighs little
    EXPECT_EQ(g->pixel(1, 0), grey(76));   // (306 * 255) >> 10
    EXPECT_EQ(g->pixel(2, 0), grey(254));
    ImageRef s = ImageCommon::newGrayImage(src, true);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->pixel(2, 0), argb(255, 255, 255, 224));
    EXPECT_EQ(s->pixel(3, 0), argb(255, 30, 0, 0));
    EXPECT_EQ(s->pixel(0, 0), argb(255, 59, 0, 0));  // green kept: it is not replaced by Y
}

// Sepia adds red to black; on transparent pixels that must not leave red
// light where there is nothing (a faint red border around every page).
TEST(ImageCommonTest, SepiaOnTransparentPixelsStaysValid) {
    std::vector<uint32_t> px(16 * 16, 0u);
    for (int y = 4; y < 12; ++y) {
        for (int x = 4; x < 12; ++x) px[size_t(y * 16 + x)] = kBlack;
    }
    px[3 * 16 + 3] = argb(64, 0, 0, 0);  // a soft edge pixel
    ImageRef src = Image::make(16, 16, std::move(px));
    ImageRef s = ImageCommon::newGrayImage(src, true);
    ASSERT_TRUE(s);
    EXPECT_TRUE(validPremultiplied(*s));
    EXPECT_EQ(s->pixel(0, 0), 0u);
    EXPECT_EQ(s->pixel(8, 8), argb(255, 30, 0, 0));
    EXPECT_TRUE(near(s->pixel(3, 3), argb(64, 8, 0, 0), 1));
    for (int code = 1; code <= 18; ++code) {
        ImageRef out = ImageCommon::newFilterImage(src, code);
        if (out) {
            EXPECT_TRUE(validPremultiplied(*out)) << "filter " << code;
        }
    }
}

TEST(ImageCommonTest, MirrorKeepsTheMiddleColumn) {
    ImageRef src = Image::make(3, 2, {kRed, kGreen, kBlue, kWhite, kBlack, kRed});
    ImageRef m = ImageCommon::newMirrorImage(src);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->pixel(0, 0), kBlue);
    EXPECT_EQ(m->pixel(1, 0), kGreen);
    EXPECT_EQ(m->pixel(2, 0), kRed);
    EXPECT_EQ(m->pixel(0, 1), kRed);
    ImageRef thin = Image::make(1, 2, {kRed, kBlue});
    ImageRef t = ImageCommon::newMirrorImage(thin);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->pixel(0, 0), kRed);
    EXPECT_EQ(t->pixel(0, 1), kBlue);
}

TEST(ImageCommonTest, AutoContrastStretchesAtMostFrom50To205) {
    // A washed-out page: half at 80, half at 180. The cuts are 80 and 180,
    // but the stretch is held to 50..205.
    std::vector<uint32_t> px(40 * 40);
    for (size_t i = 0; i < px.size(); ++i) px[i] = grey((i % 40) < 20 ? 80 : 180);
    ImageRef src = Image::make(40, 40, std::move(px));
    ImageRef out = ImageCommon::newAutoContrast(src);
    ASSERT_TRUE(out);
    auto g = ImageCommon::gammaTable(0.9);
    EXPECT_EQ(out->pixel(5, 5), grey(g[int(30 * 255.0f / 155.0f)]));
    EXPECT_EQ(out->pixel(35, 5), grey(g[int(130 * 255.0f / 155.0f)]));
    EXPECT_FALSE(ImageCommon::newAutoContrast(nullptr));

    // A page that already spans black to white keeps its ends.
    ImageRef full = ImageCommon::newAutoContrast(greyRamp(256, 4));
    ASSERT_TRUE(full);
    EXPECT_EQ(full->pixel(0, 0), grey(0));
    EXPECT_EQ(full->pixel(255, 0), grey(255));
}

TEST(ImageCommonTest, PseudoColourPaintsGreyPagesOnly) {
    ImageRef photo = colourful();
    EXPECT_EQ(ImageCommon::newVirtualColor(photo, 3), photo);

    ImageRef flat = solid(32, 32, grey(128));
    for (int curve : {0, 1, 9, 42}) {
        ImageRef out = ImageCommon::newVirtualColor(flat, curve);
        ASSERT_TRUE(out);
        // One level everywhere: low cut 50, high cut 205, gamma 0.95.
        uint8_t level = ImageCommon::gammaTable(0.95)[size_t(int(78 * 255.0f / 155.0f))];
        uint32_t want = argb(255, ImageCommon::virtualColorCurve(curve, 0)[level],
                             ImageCommon::virtualColorCurve(curve, 1)[level],
                             ImageCommon::virtualColorCurve(curve, 2)[level]);
        EXPECT_EQ(out->pixel(7, 7), want) << "curve " << curve;
    }
    // A grey ramp turns into colour.
    ImageRef painted = ImageCommon::newVirtualColor(greyRamp(256, 4), 0);
    ASSERT_TRUE(painted);
    EXPECT_TRUE(ImageCommon::isColorImage(painted->pixels(), 256, 4, 256 * 4));
}

// The curves are given at every 32nd level; the levels between are a smooth
// interpolation that passes exactly through the given points.
TEST(ImageCommonTest, PseudoColourCurvesHitTheGivenPoints) {
    const int at[9] = {0, 32, 64, 96, 128, 160, 192, 224, 255};
    struct Row {
        int curve, channel;
        uint8_t v[9];
    };
    const Row rows[] = {
        {1, 0, {0, 4, 34, 13, 226, 242, 249, 245, 255}},
        {1, 2, {0, 3, 34, 136, 84, 11, 119, 51, 255}},
        {4, 1, {0, 12, 21, 17, 11, 47, 124, 215, 255}},
        {7, 2, {0, 4, 51, 200, 121, 37, 73, 164, 255}},
        {9, 1, {0, 15, 33, 153, 28, 29, 123, 207, 255}},
        {0, 0, {0, 12, 29, 18, 58, 177, 225, 248, 255}},   // the default set
        {0, 2, {0, 35, 145, 113, 101, 39, 16, 121, 255}},
        {10, 1, {0, 39, 30, 69, 109, 86, 110, 213, 255}},  // out of range: default
    };
    for (const Row& r : rows) {
        const auto& c = ImageCommon::virtualColorCurve(r.curve, r.channel);
        for (int k = 0; k < 9; ++k) {
            EXPECT_EQ(c[size_t(at[k])], r.v[k]) << "curve " << r.curve << " channel " << r.channel << " at " << at[k];
        }
    }
    // Between the points: no overshoot beyond the neighbouring points, and
    // no jumps.
    for (int curve = 1; curve <= 10; ++curve) {
        for (int ch = 0; ch < 3; ++ch) {
            const auto& c = ImageCommon::virtualColorCurve(curve, ch);
            for (int k = 0; k < 8; ++k) {
                int lo = std::min(c[size_t(at[k])], c[size_t(at[k + 1])]);
                int hi = std::max(c[size_t(at[k])], c[size_t(at[k + 1])]);
                for (int x = at[k]; x <= at[k + 1]; ++x) {
                    EXPECT_GE(c[size_t(x)], lo);
                    EXPECT_LE(c[size_t(x)], hi);
                    if (x > at[k]) {
                        EXPECT_LE(std::abs(int(c[size_t(x)]) - int(c[size_t(x - 1)])), 16);
                    }
                }
            }
        }
    }
}

TEST(ImageCommonTest, FilterCodes) {
    ImageRef src = Image::make(2, 1, {kWhite, kRed});
    EXPECT_FALSE(ImageCommon::newFilterImage(src, 0));
    EXPECT_FALSE(ImageCommon::newFilterImage(src, 19));
    EXPECT_FALSE(ImageCommon::newFilterImage(src, -1));
    EXPECT_EQ(ImageCommon::newFilterImage(src, 1)->pixel(1, 0), kRed);  // 0 and 255 keep
    EXPECT_EQ(ImageCommon::newFilterImage(src, 3)->pixel(0, 0), kBlack);
    EXPECT_EQ(ImageCommon::newFilterImage(src, 5)->pixel(0, 0), kRed);
    EXPECT_EQ(ImageCommon::newFilterImage(src, 6)->pixel(1, 0), grey(29));
    EXPECT_EQ(ImageCommon::newFilterImage(src, 8)->pixel(0, 0), argb(255, 255, 255, 224));
    ImageRef flat = solid(8, 8, grey(128));
    ImageRef c9 = ImageCommon::newFilterImage(flat, 9);
    ImageRef c10 = ImageCommon::newFilterImage(flat, 10);
    ImageRef c18 = ImageCommon::newFilterImage(flat, 18);
    ASSERT_TRUE(c9 && c10 && c18);
    EXPECT_EQ(c9->pixel(0, 0), ImageCommon::newVirtualColor(flat, 0)->pixel(0, 0));
    EXPECT_EQ(c10->pixel(0, 0), ImageCommon::newVirtualColor(flat, 1)->pixel(0, 0));
    EXPECT_EQ(c18->pixel(0, 0), ImageCommon::newVirtualColor(flat, 9)->pixel(0, 0));
    EXPECT_NE(c9->pixel(0, 0), c10->pixel(0, 0));
}

// Drawing through the orientation transform must show every orientation
// upright: the same pixels as turning the stored pixels directly.
TEST(ImageCommonTest, OrientationTransformsDrawUpright) {
    std::vector<uint32_t> px(6 * 4);
    for (size_t i = 0; i < px.size(); ++i) px[i] = argb(255, uint32_t(i * 10), uint32_t(255 - i * 10), uint32_t(i % 3) * 100);
    for (int o = 1; o <= 8; ++o) {
        ImageRef img = Image::make(6, 4, px, 1.0, Orientation(o));
        ImageRef want = img->upright();
        Size s{img->pointWidth(), img->pointHeight()};
        ImageCommon::getTransformWithImage(img, s);
        // Upright size in, stored size out.
        EXPECT_EQ(s.width, 6);
        EXPECT_EQ(s.height, 4);
        ImageRef got = ImageCommon::newScaledImage(img, Size{img->pointWidth(), img->pointHeight()});
        ASSERT_TRUE(got);
        EXPECT_TRUE(sameImage(*got, *want)) << "orientation " << o;
        // Cropping the upright picture works the same way.
        ImageRef corner = ImageCommon::newClipedImage(img, Rect(1, 1, 2, 2));
        ASSERT_TRUE(corner);
        EXPECT_EQ(corner->pixel(0, 0), want->pixel(1, 1)) << "orientation " << o;
        EXPECT_EQ(corner->pixel(1, 1), want->pixel(2, 2)) << "orientation " << o;
    }
}

TEST(ImageCommonTest, ScaleWithSourceRectangle) {
    ImageRef q = quadrants(40, 30);
    ImageRef half = ImageCommon::newScaledImage(q, Size{20, 15});
    ASSERT_TRUE(half);
    EXPECT_EQ(half->width(), 20);
    EXPECT_EQ(half->height(), 15);
    EXPECT_TRUE(near(half->pixel(2, 2), kRed, 2));
    EXPECT_TRUE(near(half->pixel(17, 12), kWhite, 2));
    // The right half; then the bottom half (the rectangle's origin is lower-left).
    ImageRef right = ImageCommon::newScaledImage(q, Size{20, 30}, Rect(20, 0, 20, 30));
    ASSERT_TRUE(right);
    EXPECT_TRUE(near(right->pixel(1, 1), kGreen, 0));
    EXPECT_TRUE(near(right->pixel(18, 28), kWhite, 0));
    ImageRef bottom = ImageCommon::newScaledImage(q, Size{40, 15}, Rect(0, 0, 40, 15));
    ASSERT_TRUE(bottom);
    EXPECT_TRUE(near(bottom->pixel(1, 1), kBlue, 0));
    // Fractional target sizes truncate; edge pixels stay opaque.
    ImageRef odd = ImageCommon::newScaledImage(q, Size{13.7, 9.2});
    ASSERT_TRUE(odd);
    EXPECT_EQ(odd->width(), 13);
    EXPECT_EQ(odd->height(), 9);
    EXPECT_EQ(alphaOf(odd->pixel(12, 8)), 255u);

    for (Size s : {Size{0, 10}, Size{10, 0}, Size{-5, 10}, Size{NAN, 10}, Size{1e12, 10}}) {
        EXPECT_FALSE(ImageCommon::newScaledImage(q, s)) << s.width << "x" << s.height;
    }
    EXPECT_FALSE(ImageCommon::newScaledImage(q, Size{10, 10}, Rect(0, 0, 0, 30)));
    EXPECT_FALSE(ImageCommon::newScaledImage(q, Size{10, 10}, Rect(0, 0, NAN, 30)));
    EXPECT_FALSE(ImageCommon::newScaledImage(nullptr, Size{10, 10}));
}

TEST(ImageCommonTest, KeepAspectAndCentre) {
    ImageRef p = solid(400, 600, kBlue);
    Point untouched{7, 7};
    ImageRef even = ImageCommon::newScaledImageKeepAspect(p, Size{104, 134}, &untouched, true);
    ASSERT_TRUE(even);
    EXPECT_EQ(even->width(), 88);  // trunc(400 * 134 / 600) = 89, made even
    EXPECT_EQ(even->height(), 134);
    EXPECT_EQ(untouched.x, 7);
    ImageRef odd = ImageCommon::newScaledImageKeepAspect(p, Size{104, 134}, nullptr, false);
    ASSERT_TRUE(odd);
    EXPECT_EQ(odd->width(), 89);
    EXPECT_FALSE(ImageCommon::newScaledImageKeepAspect(p, Size{0, 134}, nullptr, true));
    EXPECT_FALSE(ImageCommon::newScaledImageKeepAspect(p, Size{1, 1}, nullptr, true));  // rounds to 0
    EXPECT_FALSE(ImageCommon::newScaledImageKeepAspect(p, Size{NAN, 134}, nullptr, true));

    Point off{-1, -1};
    EXPECT_EQ(ImageCommon::newCenterImageIfSmall(p, Size{300, 500}, &off), p);
    EXPECT_EQ(off.x, 0);
    EXPECT_EQ(off.y, 0);
    ImageRef small = solid(10, 10, kRed);
    ImageRef centred = ImageCommon::newCenterImageIfSmall(small, Size{30, 21}, &off);
    ASSERT_TRUE(centred);
    EXPECT_EQ(centred->width(), 30);
    EXPECT_EQ(centred->height(), 21);
    EXPECT_EQ(off.x, 10);
    EXPECT_EQ(off.y, 5);  // from the bottom edge
    EXPECT_EQ(centred->pixel(10, 6), kRed);
    EXPECT_EQ(centred->pixel(19, 15), kRed);
    EXPECT_EQ(centred->pixel(9, 10), 0u);
    EXPECT_EQ(centred->pixel(10, 5), 0u);
    EXPECT_EQ(centred->pixel(10, 16), 0u);
    // Wider than the minimum but not taller: still centred vertically.
    ImageRef wide = ImageCommon::newCenterImageIfSmall(solid(40, 10, kRed), Size{30, 20}, &off);
    ASSERT_TRUE(wide);
    EXPECT_EQ(wide->width(), 40);
    EXPECT_EQ(off.x, 0);
    EXPECT_EQ(off.y, 5);
    EXPECT_FALSE(ImageCommon::newCenterImageIfSmall(small, Size{1e10, 5}, &off));
}

TEST(ImageCommonTest, Crop) {
    ImageRef q = quadrants(40, 30);
    ImageRef green = ImageCommon::newClipedImage(q, Rect(20, 0, 20, 15));
    ASSERT_TRUE(green);
    EXPECT_EQ(green->width(), 20);
    EXPECT_EQ(green->height(), 15);
    for (auto [x, y] : {std::pair{0, 0}, {19, 14}}) EXPECT_EQ(green->pixel(x, y), kGreen);
    ImageRef blue = ImageCommon::newClipedImage(q, Rect(0, 15, 20, 15));
    ASSERT_TRUE(blue);
    EXPECT_EQ(blue->pixel(0, 0), kBlue);
    EXPECT_EQ(blue->pixel(19, 14), kBlue);
    // Beyond the page: transparent there.
    ImageRef over = ImageCommon::newClipedImage(q, Rect(30, 0, 20, 10));
    ASSERT_TRUE(over);
    EXPECT_EQ(over->pixel(5, 5), kGreen);
    EXPECT_EQ(over->pixel(15, 5), 0u);
    EXPECT_FALSE(ImageCommon::newClipedImage(q, Rect(0, 0, 0, 10)));
    EXPECT_FALSE(ImageCommon::newClipedImage(q, Rect(NAN, 0, 5, 10)));
    EXPECT_FALSE(ImageCommon::newClipedImage(q, Rect::null()));
}

TEST(ImageCommonTest, TwoPageComposition) {
    ImageRef tall = solid(50, 100, kRed);
    ImageRef wide = solid(100, 50, kBlue);
    ImageRef pair = ImageCommon::newScaledImageWithLeftImage(tall, wide, Size{200, 100}, 0.1);
    ASSERT_TRUE(pair);
    ASSERT_EQ(pair->width(), 200);
    ASSERT_EQ(pair->height(), 100);
    // Gap 20, each half 90 wide. Left: 50 x 100 at x = 100 - 50 - 10 = 40.
    EXPECT_EQ(pair->pixel(40, 0), kRed);
    EXPECT_EQ(pair->pixel(89, 99), kRed);
    EXPECT_EQ(pair->pixel(39, 50), 0u);
    EXPECT_EQ(pair->pixel(95, 50), 0u);  // the gap
    // Right: scale 0.9 in single precision, so 89 x 44 at x = 110, 28 up
    // from the bottom (rows 28..71).
    EXPECT_EQ(pair->pixel(110, 28), kBlue);
    EXPECT_EQ(pair->pixel(198, 71), kBlue);
    EXPECT_EQ(pair->pixel(199, 50), 0u);
    EXPECT_EQ(pair->pixel(110, 27), 0u);
    EXPECT_EQ(pair->pixel(110, 72), 0u);
    EXPECT_EQ(pair->pixel(109, 50), 0u);

    // Only a right page: the left half stays transparent.
    ImageRef rightOnly = ImageCommon::newScaledImageWithLeftImage(nullptr, tall, Size{200, 100}, 0);
    ASSERT_TRUE(rightOnly);
    for (int x = 0; x < 100; x += 7) EXPECT_EQ(rightOnly->pixel(x, 50), 0u);
    EXPECT_EQ(rightOnly->pixel(100, 50), kRed);

    // A gap of the whole width, or nonsense, fails cleanly.
    for (double r : {1.0, 1.5, -0.1, double(NAN), double(INFINITY)}) {
        EXPECT_FALSE(ImageCommon::newScaledImageWithLeftImage(tall, wide, Size{200, 100}, r)) << r;
    }
    EXPECT_FALSE(ImageCommon::newScaledImageWithLeftImage(tall, wide, Size{0, 100}, 0.1));
    EXPECT_FALSE(ImageCommon::newScaledImageWithLeftImage(tall, wide, Size{1, 100}, 0.1));
}

TEST(ImageCommonTest, MarginDetectionNormal) {
    EXPECT_TRUE(ImageCommon::getClipBlankSpaceImageRect(nullptr, false).isNull());

    // A uniform page has no content edges: the whole page.
    ImageRef blank = solid(600, 900, kWhite);
    Rect all = ImageCommon::getClipBlankSpaceImageRect(blank, false);
    EXPECT_EQ(all.x(), 0);
    EXPECT_EQ(all.y(), 0);
    EXPECT_NEAR(all.width(), 600, 1);
    EXPECT_NEAR(all.height(), 900, 1);

    // A dark block on paper: found within a few points.
    ImageRef boxed = page(600, 900, {{100, 150, 499, 749}});
    Rect r = ImageCommon::getClipBlankSpaceImageRect(boxed, false);
    EXPECT_NEAR(r.x(), 100, 3);
    EXPECT_NEAR(r.y(), 150, 3);
    EXPECT_NEAR(r.maxX(), 500, 4);
    EXPECT_NEAR(r.maxY(), 750, 4);

    // Large pages are measured on reduced copies and mapped back.
    ImageRef big = page(1600, 2400, {{400, 600, 1199, 1799}});
    Rect b = ImageCommon::getClipBlankSpaceImageRect(big, false);
    EXPECT_NEAR(b.x(), 400, 8);
    EXPECT_NEAR(b.y(), 600, 12);
    EXPECT_NEAR(b.maxX(), 1200, 10);
    EXPECT_NEAR(b.maxY(), 1800, 14);

    // Portrait page, landscape content: widened vertically to at least square.
    ImageRef bar = page(600, 900, {{100, 400, 499, 499}});
    Rect p = ImageCommon::getClipBlankSpaceImageRect(bar, false);
    EXPECT_GE(p.height(), p.width() - 1);
    EXPECT_LE(p.y(), 400);
    EXPECT_GE(p.maxY(), 500);
}

TEST(ImageCommonTest, MarginDetectionKeepsTheAspectRatio) {
    // A narrow column on a portrait page: widened to the page's shape.
    ImageRef column = page(600, 900, {{250, 100, 349, 799}});
    Rect r = ImageCommon::getClipBlankSpaceImageRect(column, true);
    EXPECT_NEAR(r.height() / r.width(), 1.5, 0.02);
    EXPECT_LE(r.x(), 250);
    EXPECT_GE(r.maxX(), 350);
    EXPECT_GE(r.x(), 0);
    EXPECT_LE(r.maxX(), 600);

    // Near the left edge the widened box is shifted back inside the page.
    for (int left : {20, 100}) {
        ImageRef edge = page(600, 900, {{left, 100, left + 99, 799}});
        Rect e = ImageCommon::getClipBlankSpaceImageRect(edge, true);
        EXPECT_EQ(e.x(), 0) << left;
        EXPECT_NEAR(e.height() / e.width(), 1.5, 0.02) << left;
        EXPECT_LE(e.maxX(), 600) << left;
        EXPECT_GE(e.maxX(), left + 100) << left;
        // Without the flag the column stays narrow.
        Rect n = ImageCommon::getClipBlankSpaceImageRect(edge, false);
        EXPECT_NEAR(n.x(), left, 2) << left;
        EXPECT_LT(n.width(), 110) << left;
    }
}

TEST(ImageCommonTest, MarginDetectionWhite) {
    EXPECT_TRUE(ImageCommon::getClipBlankSpaceImageRectOld(nullptr, false).isNull());
    // A blank white page keeps about its central half.
    ImageRef blank = solid(1000, 1000, kWhite);
    Rect r = ImageCommon::getClipBlankSpaceImageRectOld(blank, false);
    EXPECT_NEAR(r.x(), 218, 2);
    EXPECT_NEAR(r.y(), 218, 2);
    EXPECT_NEAR(r.width(), 562, 3);
    EXPECT_NEAR(r.height(), 562, 3);
    // Ink near the edges widens the box to it, plus a 3 % margin.
    ImageRef inked = page(800, 800, {{100, 60, 700, 740}});
    Rect i = ImageCommon::getClipBlankSpaceImageRectOld(inked, false);
    EXPECT_NEAR(i.x(), 100 - 24, 3);
    EXPECT_NEAR(i.y(), 60 - 24, 3);
    EXPECT_NEAR(i.maxX(), 701 + 24, 4);
    EXPECT_NEAR(i.maxY(), 741 + 24, 4);
}
