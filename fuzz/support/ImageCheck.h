#pragma once

#include "platform/graphics/Image.h"

#include <cstdlib>

// Reads the corners of a decoded image, so that a pixel buffer smaller than
// the size the image claims shows up under AddressSanitizer.
inline void checkFuzzImage(const gfx::ImageRef& image) {
    if (!image) return;
    if (image->width() <= 0 || image->height() <= 0) std::abort();
    volatile uint32_t sink = image->pixel(0, 0) ^ image->pixel(image->width() - 1, image->height() - 1);
    (void)sink;
}
