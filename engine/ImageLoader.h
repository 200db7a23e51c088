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

    // While one lives, the loaders above may hand the calling thread a
    // reduced image (JPEG's DCT scaling), never smaller than minWidth x
    // minHeight upright pixels: for makers of small pictures of a page, which
    // would otherwise decode the whole page only to shrink it. Other threads
    // are not affected; scopes nest.
    class ScopedDecodeSize {
    public:
        ScopedDecodeSize(int minWidth, int minHeight);
        ~ScopedDecodeSize();
        ScopedDecodeSize(const ScopedDecodeSize&) = delete;
        ScopedDecodeSize& operator=(const ScopedDecodeSize&) = delete;

    private:
        int previousWidth_, previousHeight_;
    };
};
