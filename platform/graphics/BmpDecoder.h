#pragma once

#include "platform/graphics/ImageDecoder.h"

#include <span>
#include <string>

namespace gfx {

// Windows and OS/2 bitmaps: 1, 4 and 8 bits with a palette (RLE4 and RLE8
// too), 16 bits (5-5-5 or bit fields), 24 and 32 bits (bit fields, alpha),
// stored bottom-up or top-down.
class BmpDecoder {
public:
    // "BM" followed by a header size we know.
    static bool looksLikeBmp(std::span<const uint8_t> data);
    static bool probe(std::span<const uint8_t> data, ImageInfo& info, std::string* error = nullptr);
    static ImageRef decode(std::span<const uint8_t> data, std::string* error = nullptr);
};

}  // namespace gfx
