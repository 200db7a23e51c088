#pragma once

#include "platform/graphics/ImageDecoder.h"

#include <span>
#include <string>

namespace gfx {

// GIF reading through giflib: the first frame only, placed on the logical
// screen (transparent where the frame does not cover it), interlacing and
// the frame's transparent colour honoured. Later frames are never read.
class GifDecoder {
public:
    static bool probe(std::span<const uint8_t> data, ImageInfo& info, std::string* error = nullptr);
    static ImageRef decode(std::span<const uint8_t> data, std::string* error = nullptr);
};

}  // namespace gfx
