#pragma once

#include "platform/graphics/ImageDecoder.h"

#include <span>
#include <string>

namespace gfx {

// PNG reading through libspng: every colour type and depth (16-bit reduced
// to 8), interlaced or not, tRNS transparency applied. Asked for a smaller
// picture (DecodeOptions), it shrinks a non-interlaced image row by row as
// it decodes, never holding the whole picture.
class PngDecoder {
public:
    static bool probe(std::span<const uint8_t> data, ImageInfo& info, std::string* error = nullptr);
    static ImageRef decode(std::span<const uint8_t> data, const DecodeOptions& options = {},
                           std::string* error = nullptr);
};

}  // namespace gfx
