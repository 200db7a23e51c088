#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace gfx {

// How the stored pixels must be turned to be seen upright (EXIF numbering 1-8).
enum class Orientation : uint8_t {
    Up = 1,
    UpMirrored = 2,
    Down = 3,
    DownMirrored = 4,
    LeftMirrored = 5,
    Right = 6,
    RightMirrored = 7,
    Left = 8,
};

// An immutable bitmap shared by reference. Pixels are premultiplied ARGB in
// native 32-bit words (cairo's ARGB32), rows top to bottom, `stride` bytes
// apart. Channel helpers below address channels by name so that nothing
// depends on byte order.
class Image {
public:
    // Takes the pixels as they are; `stride` is in bytes and at least width*4.
    static std::shared_ptr<const Image> make(int width, int height, std::vector<uint32_t> pixels,
                                             double scale = 1.0,
                                             Orientation orientation = Orientation::Up);
    // Copies rows from a buffer with any stride.
    static std::shared_ptr<const Image> copyFrom(int width, int height, const uint32_t* pixels,
                                                 size_t strideBytes, double scale = 1.0,
                                                 Orientation orientation = Orientation::Up);

    int width() const { return width_; }
    int height() const { return height_; }
    size_t strideBytes() const { return size_t(width_) * 4; }
    double scale() const { return scale_; }
    Orientation orientation() const { return orientation_; }
    // Size in points: pixels divided by scale, with width and height swapped
    // for the quarter-turn orientations.
    double pointWidth() const;
    double pointHeight() const;

    const uint32_t* pixels() const { return pixels_.data(); }
    const uint32_t* row(int y) const { return pixels_.data() + size_t(y) * size_t(width_); }
    uint32_t pixel(int x, int y) const { return pixels_[size_t(y) * size_t(width_) + size_t(x)]; }

    // The same pixels seen with another scale or orientation (shares nothing
    // mutable, copies the vector).
    std::shared_ptr<const Image> withScale(double scale, Orientation orientation) const;
    // The pixels turned so that they are stored upright, with orientation Up
    // and the same scale (a plain copy when it is already Up).
    std::shared_ptr<const Image> upright() const;

    // Largest pixel count any decoder or composer will allocate (256 MP).
    static constexpr int64_t kMaxPixels = int64_t(256) * 1024 * 1024;
    static bool sizeAllowed(int64_t width, int64_t height) {
        return width > 0 && height > 0 && width <= 65535 && height <= 65535 &&
               width * height <= kMaxPixels;
    }

private:
    Image(int w, int h, std::vector<uint32_t> px, double scale, Orientation o)
        : width_(w), height_(h), scale_(scale), orientation_(o), pixels_(std::move(px)) {}

    int width_;
    int height_;
    double scale_;
    Orientation orientation_;
    std::vector<uint32_t> pixels_;
};

using ImageRef = std::shared_ptr<const Image>;

// Channel access on premultiplied ARGB words.
inline constexpr uint32_t alphaOf(uint32_t p) { return p >> 24; }
inline constexpr uint32_t redOf(uint32_t p) { return (p >> 16) & 0xFF; }
inline constexpr uint32_t greenOf(uint32_t p) { return (p >> 8) & 0xFF; }
inline constexpr uint32_t blueOf(uint32_t p) { return p & 0xFF; }
inline constexpr uint32_t argb(uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
    return (a << 24) | (r << 16) | (g << 8) | b;
}
// Premultiplies straight (non-premultiplied) channels.
inline constexpr uint32_t premultiply(uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
    if (a == 255) return argb(255, r, g, b);
    auto mul = [a](uint32_t c) { uint32_t t = c * a + 128; return (t + (t >> 8)) >> 8; };
    return argb(a, mul(r), mul(g), mul(b));
}

}  // namespace gfx
