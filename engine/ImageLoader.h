#pragma once

#include "platform/graphics/Image.h"

#include <cstdint>
#include <span>
#include <string>

// The any-format loaders the page readers call: the platform decoder
// (JPEG, PNG, GIF, TIFF, BMP) first, then WebP, then AVIF. The first image
// wins; no image when every decoder refuses.
class ImageLoader {
public:
    static gfx::ImageRef imageWithAnyContentsOfFile(const std::string& path);
    // Bytes in memory (archive members read in place), WebP included.
    static gfx::ImageRef imageWithAnyData(std::span<const uint8_t> data);
};
