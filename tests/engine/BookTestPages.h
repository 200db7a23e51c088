#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

namespace test {

// Writes an opaque 24-bit BMP; `colour(x, y)` (top-left origin) gives
// 0xAARRGGBB, alpha ignored. Lossless, so composed views can be checked pixel
// by pixel.
bool writeBmp(const std::string& path, int width, int height, const std::function<uint32_t(int x, int y)>& colour);

// A page whose left half is `left` and right half is `right`.
bool writeHalvesPage(const std::string& path, int width, int height, uint32_t left, uint32_t right);

// Two distinct saturated colours per page number (0..15), one per half.
uint32_t pageColour(int page, bool rightHalf);

// Each channel of `actual` (alpha included) within `tolerance` of `expected`.
::testing::AssertionResult colourNear(uint32_t actual, uint32_t expected, int tolerance = 10);

}  // namespace test
