#pragma once

#include "platform/graphics/Image.h"

#include <cstdint>
#include <string>
#include <vector>

namespace gfx {

// JPEG writing through TurboJPEG. Quality runs from 0.0 to 1.0 and maps to
// libjpeg's 1..100; transparent pixels come out as if laid over black.
class JpegEncoder {
public:
    static int libjpegQuality(double quality);
    // Empty on failure (with a message in *error when given).
    static std::vector<uint8_t> encode(const Image& image, double quality,
                                       std::string* error = nullptr);
};

}  // namespace gfx
