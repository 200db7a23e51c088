#pragma once

// Small helpers shared by the image tests: pixel comparison with a tolerance
// per channel, synthetic images, and running the real image tools.

#include "platform/graphics/Image.h"
#include "tests/support/TestHome.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace pixeltest {

inline std::string describe(uint32_t p) {
    return "argb(" + std::to_string(gfx::alphaOf(p)) + "," + std::to_string(gfx::redOf(p)) + "," +
           std::to_string(gfx::greenOf(p)) + "," + std::to_string(gfx::blueOf(p)) + ")";
}

inline int channelDistance(uint32_t p, uint32_t q) {
    auto d = [](uint32_t a, uint32_t b) { return std::abs(int(a) - int(b)); };
    int m = d(gfx::alphaOf(p), gfx::alphaOf(q));
    m = std::max(m, d(gfx::redOf(p), gfx::redOf(q)));
    m = std::max(m, d(gfx::greenOf(p), gfx::greenOf(q)));
    return std::max(m, d(gfx::blueOf(p), gfx::blueOf(q)));
}

inline ::testing::AssertionResult near(uint32_t actual, uint32_t expected, int tolerance) {
    if (channelDistance(actual, expected) <= tolerance) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << describe(actual) << " is not within " << tolerance
                                         << " of " << describe(expected);
}

// Every channel at most its alpha: what valid premultiplied data looks like.
inline bool validPremultiplied(const gfx::Image& img) {
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x) {
            uint32_t p = img.pixel(x, y);
            uint32_t a = gfx::alphaOf(p);
            if (gfx::redOf(p) > a || gfx::greenOf(p) > a || gfx::blueOf(p) > a) return false;
        }
    }
    return true;
}

inline gfx::ImageRef solid(int w, int h, uint32_t color) {
    return gfx::Image::make(w, h, std::vector<uint32_t>(size_t(w) * size_t(h), color));
}

// Quadrants: red top-left, green top-right, blue bottom-left, white bottom-right.
inline gfx::ImageRef quadrants(int w, int h) {
    std::vector<uint32_t> px(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            bool right = x >= w / 2, bottom = y >= h / 2;
            uint32_t c = !bottom ? (right ? gfx::argb(255, 0, 255, 0) : gfx::argb(255, 255, 0, 0))
                                 : (right ? gfx::argb(255, 255, 255, 255) : gfx::argb(255, 0, 0, 255));
            px[size_t(y) * size_t(w) + size_t(x)] = c;
        }
    }
    return gfx::Image::make(w, h, std::move(px));
}

inline std::vector<uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Runs a command (with ImageMagick reached under its Debian name) and fails
// the test when it does not succeed.
inline void run(const std::string& command) {
    ASSERT_EQ(test::shell(command + " 2>/dev/null"), 0) << command;
}

constexpr const char* kConvert = "convert-im6.q16";

// The source picture of the decoder tests, 64 x 48, made by ImageMagick: red,
// green / blue, white quadrants, so that a turned or mirrored decode shows.
inline void makeQuadrantsPicture(const std::string& path) {
    run(std::string(kConvert) + " -size 64x48 xc:white -fill red -draw 'rectangle 0,0 31,23'"
        " -fill lime -draw 'rectangle 32,0 63,23' -fill blue -draw 'rectangle 0,24 31,47' " + path);
}

// That picture decoded upright, each quadrant within `tolerance` per channel.
inline void expectQuadrants(const gfx::ImageRef& img, int tolerance) {
    ASSERT_TRUE(img);
    ASSERT_EQ(img->width(), 64);
    ASSERT_EQ(img->height(), 48);
    EXPECT_TRUE(near(img->pixel(10, 10), gfx::argb(255, 255, 0, 0), tolerance));
    EXPECT_TRUE(near(img->pixel(50, 10), gfx::argb(255, 0, 255, 0), tolerance));
    EXPECT_TRUE(near(img->pixel(10, 40), gfx::argb(255, 0, 0, 255), tolerance));
    EXPECT_TRUE(near(img->pixel(50, 40), gfx::argb(255, 255, 255, 255), tolerance));
}

}  // namespace pixeltest
