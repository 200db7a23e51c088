#pragma once

#include "platform/graphics/ImageDecoder.h"

#include <span>
#include <string>

namespace gfx {

// PNG reading through libspng: every colour type and depth (16-bit reduced
// to 8), interlaced or not, tRNS transparency applied.
class PngDecoder {
public:
    static bool probe(std::span<const uint8_t> data, ImageInfo& info, std::string* error = nullptr);
    static ImageRef decode(std::span<const uint8_t> data, std::string* error = nullptr);
};

}  // namespace gfx
