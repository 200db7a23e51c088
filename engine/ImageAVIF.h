#pragma once

#include "platform/graphics/Image.h"

#include <cstdint>
#include <span>
#include <string>

// AVIF pages through libavif, decoding AV1 with libgav1 (chosen explicitly:
// the library may also carry other decoders). The first frame is converted
// to 8-bit premultiplied ARGB; 8- and 10-bit images are read, deeper ones
// (which libgav1 cannot decode) refused.
class ImageAVIF {
public:
    static gfx::ImageRef imageWithContentsOfFile(const std::string& path, std::string* error = nullptr);
    static gfx::ImageRef imageWithData(std::span<const uint8_t> data, std::string* error = nullptr);
    // True when libavif was built with libgav1 for decoding.
    static bool decoderAvailable();
};
