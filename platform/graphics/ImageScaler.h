#pragma once

#include "platform/graphics/Image.h"

#include <cstddef>
#include <cstdint>

namespace gfx {

// Separable resampling of premultiplied ARGB pixels with a tent filter whose
// width follows the reduction (an area average when shrinking, bilinear when
// enlarging), in fixed point and on a few threads for large images. It is the
// fast path of BitmapContext for axis-aligned image drawing; results match
// cairo's good filter within a few levels.
class ImageScaler {
public:
    struct Source {
        const uint32_t* pixels;
        int width;
        int height;
        size_t stridePixels;
    };
    struct Target {
        uint32_t* pixels;
        int width;
        int height;
        size_t stridePixels;
    };

    // Draws `src` stretched over the device rectangle (x, y, w, h) of `dst`
    // (top-left origin, w and h > 0), blending over what is there, but only
    // the pixels inside [clipX0, clipX1) x [clipY0, clipY1), which must lie
    // within the rectangle and the target. Pixels beyond the source's edges
    // repeat its border.
    static void draw(const Source& src, double x, double y, double w, double h, const Target& dst,
                     int clipX0, int clipY0, int clipX1, int clipY1);

    // The whole image stretched to width x height; null for a refused size.
    static ImageRef scale(const Image& image, int width, int height);
};

}  // namespace gfx
