#pragma once

#include "platform/graphics/AffineTransform.h"
#include "platform/graphics/EdgeInsets.h"
#include "platform/graphics/Font.h"
#include "platform/graphics/Geometry.h"
#include "platform/graphics/Image.h"
#include "platform/graphics/Path.h"
#include "platform/graphics/Rgba.h"
#include "platform/graphics/TextEngine.h"

#include <string>

typedef struct _cairo cairo_t;
typedef struct _cairo_surface cairo_surface_t;

namespace gfx {

enum class Interpolation { Nearest, Bilinear, Good };
enum class LineCap { Butt, Round, Square };

// Drawing for views over a cairo image surface in premultiplied ARGB32, the
// pixel format of gfx::Image, so page images draw without conversion.
// Coordinates are points; one point is `scale` pixels.
class Canvas {
public:
    // A new, transparent pixel buffer.
    Canvas(int pixelWidth, int pixelHeight, double scale = 1.0);
    // Draws on a surface someone else owns (it is referenced, not copied).
    Canvas(cairo_surface_t* surface, double scale);
    ~Canvas();
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    int pixelWidth() const { return width_; }
    int pixelHeight() const { return height_; }
    double scale() const { return scale_; }
    cairo_t* cairo() { return cr_; }
    cairo_surface_t* surface() { return surface_; }

    void save();
    void restore();
    void translate(double x, double y);
    void scaleBy(double sx, double sy);
    void rotate(double radians);
    void concat(const AffineTransform& t);
    // Points to device pixels, as it stands.
    AffineTransform currentTransform() const;

    void clipRect(const Rect& r);
    void clipRoundedRect(const Rect& r, double radius);
    void clipPath(const Path& p);

    // Sets every pixel, whatever the transform and clip.
    void clear(const Rgba& color = Rgba::clear());

    void fillRect(const Rect& r, const Rgba& color);
    void strokeRect(const Rect& r, const Rgba& color, double width);
    void fillRoundedRect(const Rect& r, double radius, const Rgba& color);
    // The line lies inside the rectangle, as a view's border does.
    void strokeRoundedRectInside(const Rect& r, double radius, const Rgba& color, double width);
    void fillEllipse(const Rect& r, const Rgba& color);
    void fillPath(const Path& p, const Rgba& color, bool evenOdd = false);
    void strokePath(const Path& p, const Rgba& color, double width, LineCap cap = LineCap::Butt);
    void drawLine(Point a, Point b, const Rgba& color, double width, LineCap cap = LineCap::Butt);

    // The image upright (its orientation applied) in `dest`.
    void drawImage(const Image& image, const Rect& dest, Interpolation q = Interpolation::Good,
                   double alpha = 1.0);
    // The upright image placed by `transform`, which maps the image's point
    // space (0..pointWidth, 0..pointHeight) into the current space.
    void drawImage(const Image& image, const AffineTransform& transform,
                   Interpolation q = Interpolation::Good, double alpha = 1.0);
    // Stretches the image into `dest` keeping the corners given by `caps`
    // (points of the image) at their size, stretching the edges and middle.
    void drawNineSlice(const Image& image, const EdgeInsets& caps, const Rect& dest,
                       Interpolation q = Interpolation::Good, double alpha = 1.0);
    // Paints `color` through the image's alpha (template images).
    void drawImageTinted(const Image& image, const Rect& dest, const Rgba& color,
                         Interpolation q = Interpolation::Good);

    // Everything drawn until endGroup is composited at once with `alpha`.
    void beginGroup();
    void endGroup(double alpha);
    // Everything drawn until endTintGroup becomes a mask that `color` is
    // painted through (tinting drawings made by other code, such as SVG).
    void beginTintGroup();
    void endTintGroup(const Rgba& color);

    // A soft shadow of `shape` moved by `offset`, blurred by `radius` points.
    void drawShadow(const Path& shape, const Rgba& color, Point offset, double radius);
    // Everything drawn until endShadowGroup casts a soft shadow of its own
    // shape (its alpha), drawn under it.
    void beginShadowGroup();
    void endShadowGroup(const Rgba& color, Point offset, double radius);
    // Blurs what has been drawn so far inside `r` by `radius` points (the
    // backdrop of a translucent bar or a glass panel), changing only what
    // the clip in force lets through. Inside a group (a view fading in) the
    // backdrop is read from the surface under it. Nothing on a surface it
    // cannot read.
    void blurBehind(const Rect& r, double radius);

    void drawText(const std::string& text, const Font& font, const Rect& rect, const Rgba& color,
                  const TextOptions& options = {});
    static Size measureText(const std::string& text, const Font& font, double maxWidth,
                            const TextOptions& options = {});

    // Device pixel (premultiplied ARGB) at x, y.
    uint32_t pixel(int x, int y);
    ImageRef image();
    bool writePNG(const std::string& path);

private:
    int width_;
    int height_;
    double scale_;
    cairo_surface_t* surface_;
    cairo_t* cr_;
};

}  // namespace gfx
