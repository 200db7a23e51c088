#pragma once

#include "platform/graphics/AffineTransform.h"
#include "platform/graphics/Geometry.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace gfx {

struct PdfDocumentState;
class PdfDrawAbort;

// One page of a PdfDocument. Boxes are in the page's own user space (points,
// y up), normalised so that width and height are not negative, with the
// usual defaults applied: a missing crop box is the media box, a missing
// trim box the crop box; both are confined to the media box.
class PdfPage {
public:
    // A URI link annotation as stored: its "Rect" numbers (at most four, in
    // order; fewer when the array is short) and the URI's raw bytes.
    struct Link {
        std::vector<double> rect;
        std::string uri;
    };

    PdfPage(std::shared_ptr<PdfDocumentState> doc, int index);
    ~PdfPage();
    PdfPage(const PdfPage&) = delete;
    PdfPage& operator=(const PdfPage&) = delete;

    int index() const { return index_; }
    Rect mediaBox() const { return mediaBox_; }
    Rect cropBox() const { return cropBox_; }
    Rect trimBox() const { return trimBox_; }
    // The page's "Rotate", reduced to 0, 90, 180 or 270 (-90 is 270; a value
    // that is no multiple of 90 counts as 0).
    int rotation() const { return rotation_; }

    // Every annotation with an action dictionary holding a URI string and a
    // "Rect" array of at most four numbers, in the order of "Annots".
    std::vector<Link> links() const;

    // Draws the page onto `pixels` (premultiplied ARGB in native 32-bit
    // words, `strideBytes` apart), over what is there. `userToDevice` maps
    // the page's user space (y up) to pixel coordinates (y down). False when
    // the page could not be drawn at all, or was abandoned through `abort`
    // before it was drawn to the end (the pixels then hold part of it); a
    // page with damaged content draws what can be drawn. The page is drawn
    // in bands of rows, so that an abandon takes effect within one band.
    bool render(const AffineTransform& userToDevice, uint32_t* pixels, int width, int height,
                size_t strideBytes, const PdfDrawAbort* abort = nullptr) const;

    // Told on the drawing thread as each draw starts (false) and ends
    // (true, with whether it was abandoned); for tests. Set it while no page draws.
    using DrawObserver = std::function<void(bool ended, bool abandoned)>;
    static void setDrawObserver(DrawObserver observer);

private:
    std::shared_ptr<PdfDocumentState> doc_;
    int index_;
    Rect mediaBox_, cropBox_, trimBox_;
    int rotation_ = 0;
};

}  // namespace gfx
