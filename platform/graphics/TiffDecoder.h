#pragma once

#include "platform/graphics/ImageDecoder.h"

#include <span>
#include <string>

namespace gfx {

// TIFF reading through libtiff's RGBA interface (any photometric it
// supports: RGB, grey, palette, CMYK, YCbCr), first directory only, the
// Orientation tag applied.
class TiffDecoder {
public:
    static bool probe(std::span<const uint8_t> data, ImageInfo& info, std::string* error = nullptr);
    static ImageRef decode(std::span<const uint8_t> data, std::string* error = nullptr);
};

}  // namespace gfx
