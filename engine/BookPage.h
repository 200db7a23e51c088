#pragma once

#include "platform/graphics/Geometry.h"
#include "platform/graphics/Image.h"

#include <cstdint>
#include <memory>

class PdfRect;

// One composed view: a single page, one half of a wide page, or two pages
// side by side, in device pixels. The session publishes views as shared
// immutable values, so the viewer may read one while the preload thread
// composes the next.
struct BookPage {
    enum Direction : int32_t {
        kForward = 0,
        kBackward = 1,
        kJumpForward = 2,
        kJumpBackward = 3,
        kComposed = 4,
    };

    bool is2PageLoaded = false;   // two source pages side by side
    bool isDividedPage = false;   // one half of a wide source page
    bool isSecondPage = false;    // of a divided page: the half shown second
    bool isSpreadPage = false;    // a wide page shown whole (never set by the session)
    bool isMoveHalfPage = false;  // reached by a one-page move
    bool isLastPage = false;      // shows the book's last page
    bool isFirstPage = false;     // shows page 0 (and not its second half)
    int32_t targetPage = 0;       // the lowest page number shown
    int32_t pageMoveDirection = 0;
    gfx::ImageRef image;          // composed and filtered, in device pixels
    double zoomScale = 1.0;       // the scale the load size was computed with
    // Link rectangles of PDF pages, in the composed image; null otherwise.
    std::shared_ptr<const PdfRect> pdfLinkRect;
    gfx::Size originalSize;       // source size of what is shown (page, half or pair)
    gfx::Point offset;            // where a small image was centred (points)
    gfx::Size targetSize;         // the display area, enlarged to the uncapped load size
    gfx::Size sourceImageSize1;   // pixel size of the first source page as read
    gfx::Size sourceImageSize2;   // of the second page of a pair
};
