#include "platform/graphics/Image.h"

#include <cstring>

namespace gfx {

namespace {
bool quarterTurn(Orientation o) {
    return o == Orientation::LeftMirrored || o == Orientation::Right ||
           o == Orientation::RightMirrored || o == Orientation::Left;
}
}  // namespace

std::shared_ptr<const Image> Image::make(int width, int height, std::vector<uint32_t> pixels,
                                         double scale, Orientation orientation) {
    if (!sizeAllowed(width, height) || pixels.size() != size_t(width) * size_t(height)) {
        return nullptr;
    }
    if (!(scale > 0)) scale = 1.0;
    return std::shared_ptr<const Image>(
        new Image(width, height, std::move(pixels), scale, orientation));
}

std::shared_ptr<const Image> Image::copyFrom(int width, int height, const uint32_t* pixels,
                                             size_t strideBytes, double scale,
                                             Orientation orientation) {
    if (!sizeAllowed(width, height) || pixels == nullptr || strideBytes < size_t(width) * 4) {
        return nullptr;
    }
    std::vector<uint32_t> px(size_t(width) * size_t(height));
    const auto* src = reinterpret_cast<const uint8_t*>(pixels);
    for (int y = 0; y < height; ++y) {
        std::memcpy(px.data() + size_t(y) * size_t(width), src + size_t(y) * strideBytes,
                    size_t(width) * 4);
    }
    return make(width, height, std::move(px), scale, orientation);
}

double Image::pointWidth() const {
    return (quarterTurn(orientation_) ? height_ : width_) / scale_;
}

double Image::pointHeight() const {
    return (quarterTurn(orientation_) ? width_ : height_) / scale_;
}

std::shared_ptr<const Image> Image::withScale(double scale, Orientation orientation) const {
    return make(width_, height_, pixels_, scale, orientation);
}

std::shared_ptr<const Image> Image::upright() const {
    if (orientation_ == Orientation::Up) {
        return make(width_, height_, pixels_, scale_, Orientation::Up);
    }
    const int w = width_, h = height_;
    const bool turn = quarterTurn(orientation_);
    const int ow = turn ? h : w, oh = turn ? w : h;
    std::vector<uint32_t> out(size_t(ow) * size_t(oh));
    // Where stored pixel (x, y) is seen (the EXIF meaning of each value).
    for (int y = 0; y < h; ++y) {
        const uint32_t* src = row(y);
        for (int x = 0; x < w; ++x) {
            int u = x, v = y;
            switch (orientation_) {
            case Orientation::Up: break;
            case Orientation::UpMirrored: u = w - 1 - x; break;
            case Orientation::Down: u = w - 1 - x; v = h - 1 - y; break;
            case Orientation::DownMirrored: v = h - 1 - y; break;
            case Orientation::LeftMirrored: u = y; v = x; break;
            case Orientation::Right: u = h - 1 - y; v = x; break;
            case Orientation::RightMirrored: u = h - 1 - y; v = w - 1 - x; break;
            case Orientation::Left: u = y; v = w - 1 - x; break;
            }
            out[size_t(v) * size_t(ow) + size_t(u)] = src[x];
        }
    }
    return make(ow, oh, std::move(out), scale_, Orientation::Up);
}

}  // namespace gfx
