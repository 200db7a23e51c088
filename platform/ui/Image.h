#pragma once

#include "platform/graphics/Canvas.h"
#include "platform/graphics/Image.h"
#include "platform/ui/Color.h"
#include "platform/ui/Geometry.h"

#include <memory>
#include <string>

namespace ui {

enum class ImageRenderingMode { Automatic, AlwaysOriginal, AlwaysTemplate };

class Image;
using ImageRef = std::shared_ptr<const Image>;

// An image as views use it: a bitmap (a decoded page, a PNG asset) or a
// vector drawing (an SVG asset, drawn sharp at any scale), with optional cap
// insets that make it stretch as nine slices, and a rendering mode: a
// template image is drawn as a silhouette in the tint colour.
class Image : public std::enable_shared_from_this<Image> {
public:
    // An asset of resources/images by name (".png" or ".svg" suffix optional),
    // cached. An unknown name gives a visible placeholder and a warning.
    static ImageRef named(const std::string& name);
    // A symbol of our own set (resources/images/system), e.g. "play.fill".
    static ImageRef systemNamed(const std::string& name);
    // Reads a PNG or SVG file; nullptr when it cannot be read.
    static ImageRef fromFile(const std::string& path);
    static ImageRef withBitmap(gfx::ImageRef bitmap);
    // The placeholder shown for missing assets.
    static ImageRef placeholder();

    // Where named assets are looked up (default: $LEAFBRIGHT_RESOURCES/images,
    // else the source tree's resources/images; symbols always come from the
    // default's "system" folder). Clears the cache.
    static void setResourceDirectory(const std::string& dir);
    static std::string resourceDirectory();

    Size size() const { return size_; }
    double scale() const;
    bool isVector() const { return svg_ != nullptr; }
    bool isPlaceholder() const { return placeholder_; }
    const std::string& name() const { return name_; }

    // The pixels: the bitmap itself, or the drawing rasterised at `scale`.
    gfx::ImageRef bitmap(double scale = 2.0) const;

    EdgeInsets capInsets() const { return caps_; }
    bool isResizable() const { return !caps_.isZero(); }
    ImageRenderingMode renderingMode() const { return mode_; }
    bool isTemplate() const { return mode_ == ImageRenderingMode::AlwaysTemplate; }

    ImageRef resizableImage(const EdgeInsets& caps) const;
    // Caps of leftCap on the left and right and topCap on top and bottom
    // (the classic "stretchable" form; 0 top cap stretches vertically whole).
    ImageRef stretchableImage(double leftCap, double topCap) const;
    ImageRef withRenderingMode(ImageRenderingMode mode) const;

    // Draws into `dest`: nine slices when resizable, as a silhouette of
    // `tint` when a template (or when `forceTint` is set).
    void draw(gfx::Canvas& canvas, const Rect& dest, double alpha = 1.0,
              const gfx::Rgba* tint = nullptr, bool forceTint = false) const;

    struct Svg;  // librsvg handle holder

private:
    Image() = default;
    static ImageRef loadAsset(const std::string& dir, const std::string& name);
    void drawPlain(gfx::Canvas& canvas, const Rect& dest, double alpha) const;

    gfx::ImageRef bitmap_;
    std::shared_ptr<Svg> svg_;
    Size size_;
    EdgeInsets caps_;
    ImageRenderingMode mode_ = ImageRenderingMode::Automatic;
    bool placeholder_ = false;
    std::string name_;
};

}  // namespace ui
