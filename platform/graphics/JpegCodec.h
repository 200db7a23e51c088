#pragma once

#include "platform/graphics/ImageDecoder.h"

#include <span>
#include <string>

namespace gfx {

// JPEG reading through TurboJPEG: baseline and progressive, colour, grey and
// CMYK/YCCK (Adobe's inverted convention recognised), EXIF orientation
// applied, and DCT scaling (any number of eighths) when the caller needs
// less than the whole size.
class JpegCodec {
public:
    static bool probe(std::span<const uint8_t> data, ImageInfo& info, std::string* error = nullptr);
    static ImageRef decode(std::span<const uint8_t> data, const DecodeOptions& options = {},
                           std::string* error = nullptr);

    // The EXIF orientation of a JPEG (Up when there is none or it is damaged).
    static Orientation exifOrientation(std::span<const uint8_t> data);
    // The reduction TurboJPEG would be asked for to reach at least
    // (minWidth, minHeight) from (width, height): num/denom with num <= denom.
    static void scalingFor(int width, int height, int minWidth, int minHeight, int& num, int& denom);
};

}  // namespace gfx
