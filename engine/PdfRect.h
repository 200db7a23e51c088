#pragma once

#include "platform/graphics/Geometry.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The URI links of one PDF page (or of the pages of one composed view): a
// rectangle and an address each, kept as parallel lists. Rectangles are in
// top-left-origin coordinates, y growing downward: page points when read
// from the page, pixels of the page image once moved into it.
class PdfRect {
public:
    PdfRect() = default;

    // Nothing is added without a URI.
    void addRect(gfx::Rect rect, const std::optional<std::string>& uri);
    // The page's size in points, after its rotation.
    void setMediaSize(gfx::Size size) { mediaSize_ = size; }
    gfx::Size mediaSize() const { return mediaSize_; }

    int getCount() const { return int(urlArray_.size()); }
    // The zero rectangle for an index out of range.
    gfx::Rect getRectAtIndex(int index) const;
    // Each value divided by the scale, rounded to the nearest integer.
    gfx::Rect getRectAtIndexWithScreenScale(int index, double screenScale) const;
    // "" for an index out of range.
    std::string getURIAtIndex(int index) const;
    // Appends every link of `other`.
    void addPdfRect(const PdfRect& other);

    // Scales every rectangle by (scaleX, scaleY), turns it by `angle` degrees
    // (0, 90, 180 or 270) within the media size, then moves it by `offset`.
    void editRectWithOffset(gfx::Point offset, double scaleX, double scaleY, int angle);
    // The first link whose rectangle, divided by the scale, holds the point
    // (edges included); -1 when none does.
    int hitTestThePoint(gfx::Point point, double screenScale) const;
    // Keeps large links (at least a fifth of the area each way) out of a
    // margin of `clipSize` along the edges of an area of `size`.
    void clipLargeSizeLink(gfx::Size size, double clipSize);

    int64_t editMarker() const { return editMarker_; }

private:
    std::vector<float> originX_, originY_, sizeWidth_, sizeHeight_;
    std::vector<std::string> urlArray_;
    int64_t editMarker_ = 0;
    gfx::Size mediaSize_;
};
