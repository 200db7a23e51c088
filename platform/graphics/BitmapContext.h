#pragma once

#include "platform/graphics/AffineTransform.h"
#include "platform/graphics/Geometry.h"
#include "platform/graphics/Image.h"

#include <cstdint>
#include <memory>
#include <vector>

typedef struct _cairo cairo_t;
typedef struct _cairo_surface cairo_surface_t;

namespace gfx {

// A drawing surface over a premultiplied ARGB bitmap (cairo underneath).
// In the LowerLeft mode user space has its origin at the bottom-left corner
// with y growing upwards, and drawImage puts an image upright in its
// rectangle, so that drawing code written for that convention (rotations by
// quarter turns, mirrored pages) carries over unchanged. TopLeft is the
// ordinary raster convention.
class BitmapContext {
public:
    enum class Origin { LowerLeft, TopLeft };
    enum class Interpolation { Default, None, Low, Medium, High };

    // A width x height canvas cleared to transparent. Null when the size is
    // refused (Image::sizeAllowed) or memory runs out.
    static std::unique_ptr<BitmapContext> create(int width, int height,
                                                 Origin origin = Origin::LowerLeft);
    ~BitmapContext();
    BitmapContext(const BitmapContext&) = delete;
    BitmapContext& operator=(const BitmapContext&) = delete;

    int width() const { return width_; }
    int height() const { return height_; }
    Origin origin() const { return origin_; }

    // Graphics state: transform, interpolation, alpha and fill colour.
    void saveGState();
    void restoreGState();
    void translateCTM(double tx, double ty);
    void scaleCTM(double sx, double sy);
    void rotateCTM(double angle);
    void concatCTM(const AffineTransform& t);
    // User space to device pixels (top-left origin), the base flip included.
    AffineTransform ctm() const;

    void setInterpolationQuality(Interpolation q);
    Interpolation interpolationQuality() const;
    // Global alpha (0..1) applied to every later fill and image.
    void setAlpha(double alpha);
    // Straight (not premultiplied) components, 0..1.
    void setFillColor(double r, double g, double b, double a);

    void fillRect(const Rect& rect);
    // Makes the rectangle transparent, whatever the alpha and colour.
    void clearRect(const Rect& rect);

    // Draws the image's stored pixels into rect (its orientation is not
    // applied: concatenate a transform for that). The second form draws the
    // part `source` of the image, in pixels from its top-left corner, rounded
    // outwards to whole pixels and cut to the image.
    void drawImage(const Rect& rect, const Image& image);
    void drawImage(const Rect& rect, const Image& image, const Rect& source);

    const uint32_t* data() const { return pixels_.data(); }
    size_t strideBytes() const { return size_t(width_) * 4; }
    uint32_t pixel(int x, int y) const { return pixels_[size_t(y) * size_t(width_) + size_t(x)]; }

    // False once cairo reported an error or the bitmap was taken.
    bool ok() const;
    // A copy of the pixels as an image; null when !ok().
    ImageRef makeImage(double scale = 1.0, Orientation orientation = Orientation::Up) const;
    // Hands the pixels over without copying; the context is spent afterwards.
    ImageRef takeImage(double scale = 1.0, Orientation orientation = Orientation::Up);

private:
    BitmapContext(int w, int h, Origin origin, std::vector<uint32_t> px);
    void drawSurface(const Rect& rect, cairo_surface_t* src, int sw, int sh);
    bool drawFast(const Rect& rect, const uint32_t* src, int sw, int sh, size_t stridePixels);

    int width_;
    int height_;
    Origin origin_;
    std::vector<uint32_t> pixels_;
    cairo_surface_t* surface_ = nullptr;
    cairo_t* cr_ = nullptr;
    struct State {
        Interpolation interpolation = Interpolation::Default;
        double alpha = 1.0;
        double fill[4] = {0, 0, 0, 1};
    };
    std::vector<State> states_;
    bool taken_ = false;
};

}  // namespace gfx
