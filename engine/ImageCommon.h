#pragma once

#include "platform/graphics/AffineTransform.h"
#include "platform/graphics/Geometry.h"
#include "platform/graphics/Image.h"

#include <array>
#include <cstddef>
#include <cstdint>

// Operations on page images: the colour filters a reader picks per book,
// the colour test, blank-margin detection, and the scaling, cropping,
// centring and two-page composition that turn a decoded page into what the
// viewer shows. Every operation is a pure function of its arguments (the
// shared gamma table is only a cache). Operations named new... return a new
// image, the source itself where noted, or null when they cannot produce one;
// zero or non-finite sizes always give null, never a division by zero.
//
// Colour operations work on straight colour: fully opaque pixels are
// changed where they lie, translucent ones are taken out of premultiplied
// form first and put back after, so the result is always valid premultiplied
// data.
class ImageCommon {
public:
    using ImageRef = gfx::ImageRef;

    // Filter codes of the per-book filter slots.
    enum FilterCode {
        kFilterNone = 0,
        kFilterGamma = 1,
        kFilterGammaStrong = 2,
        kFilterInvert = 3,
        kFilterInvertGray = 4,
        kFilterMirror = 5,
        kFilterMonochrome = 6,
        kFilterAutoContrast = 7,
        kFilterSepia = 8,
        kFilterVirtualColor = 9,      // curve 0; codes 10..18 are curves 1..9
        kFilterVirtualColorLast = 18,
    };
    // The operation behind a filter code; null for 0, unknown codes, and
    // when the operation yields nothing (the caller keeps its page).
    static ImageRef newFilterImage(const ImageRef& image, int code);

    static ImageRef newGammaImage(const ImageRef& image, double gamma);
    static ImageRef newAutoContrast(const ImageRef& image);
    // The source itself when the page is in colour.
    static ImageRef newVirtualColor(const ImageRef& image, int curveNo);
    // The source itself when isOnlyGrayImage is set and the page is in colour.
    static ImageRef newInvertImage(const ImageRef& image, bool isOnlyGrayImage);
    static ImageRef newGrayImage(const ImageRef& image, bool sepia);
    static ImageRef newMirrorImage(const ImageRef& image);
    static bool isColorImage(const uint32_t* pixels, int width, int height, size_t bytesPerRow);

    // The transform that draws the stored pixels upright into a box of
    // `size` (lower-left origin); swaps `size` for the quarter turns, so that
    // the stored image is then drawn at (0, 0, size).
    static gfx::AffineTransform getTransformWithImage(const ImageRef& image, gfx::Size& size);

    // `sourceRect` is in the upright image's points, origin lower-left.
    static ImageRef newScaledImage(const ImageRef& image, gfx::Size size, gfx::Rect sourceRect);
    static ImageRef newScaledImage(const ImageRef& image, gfx::Size size);
    // Two pages side by side, each fitted into its half and centred
    // vertically, `spaceCenterRatio` of the width between them (0 <= r < 1).
    // A page's proportions are its image's, or those of `leftSize` /
    // `rightSize` when given (an image decoded reduced stands for a page
    // of that size).
    static ImageRef newScaledImageWithLeftImage(const ImageRef& leftImage, const ImageRef& rightImage,
                                                gfx::Size size, double spaceCenterRatio,
                                                gfx::Size leftSize = {}, gfx::Size rightSize = {});
    // The source itself (offset 0, 0) when larger than minSize both ways,
    // else centred on a transparent canvas of at least minSize.
    static ImageRef newCenterImageIfSmall(const ImageRef& image, gfx::Size minSize,
                                          gfx::Point* offsetResult);
    static ImageRef newScaledImageKeepAspect(const ImageRef& image, gfx::Size size,
                                             gfx::Point* offsetResult, bool mustEven);
    // `clip` measured from the top-left corner of the upright image.
    static ImageRef newClipedImage(const ImageRef& image, gfx::Rect clip);

    // The content of a page without its blank margins (top-left origin,
    // points), or Rect::null().
    static gfx::Rect getClipBlankSpaceImageRect(const ImageRef& image, bool keepAspectRatio);
    // The same for pages on white paper ("white" detection).
    static gfx::Rect getClipBlankSpaceImageRectOld(const ImageRef& image, bool keepAspectRatio);

    // The shared gamma table for `gamma` (entry i = 255 * (i/255)^(1/gamma)).
    static std::array<uint8_t, 256> gammaTable(double gamma);
    // Pseudo-colour curve of `curveNo` (1..9; anything else is the default
    // set), channel 0 red, 1 green, 2 blue.
    static const std::array<uint8_t, 256>& virtualColorCurve(int curveNo, int channel);
};
