#pragma once

#include "platform/graphics/Geometry.h"

#include <cstdint>

// How big a composed view should be. Made from a viewer zoom mode by
// BookReaderEx::setLoadSizeLoadStructWithMode.
struct ImageSizeLoad {
    enum Mode : int32_t {
        kModeZoom = 0,        // scale by `zoom`
        kModeFitWidth = 1,    // width / page width
        kModeFitHeight = 2,   // height / page height
        kModeFitPage = 3,     // the whole page inside width x height
        // any other value: scale 1.0
    };
    int32_t mode = 0;
    double width = 0;
    double height = 0;
    double zoom = 0;

    bool operator==(const ImageSizeLoad&) const = default;
};

// One request for a view of the book, handed by value to the reading session
// by the viewer, the page-cache builder, the thumbnail maker and the preview
// strip. A value-initialised request is all zero.
struct PageLoadRequest {
    enum Operation : int32_t {
        kNext = 0,              // the next view
        kPrevious = 1,          // the previous view
        kNextOnePage = 2,       // forward by exactly one page
        kPreviousOnePage = 3,   // back by exactly one page
        kJumpForward = 4,       // show targetPage after a jump forward (a kept view may serve)
        kJumpBackward = 5,      // the same after a jump backward
        kCompose = 6,           // compose targetPage afresh (and any other value)
    };

    // The page the move starts from; for a jump or a fresh composition the page itself.
    int32_t targetPage = 0;
    // After loading, compose the following view in the background.
    bool isPreloadPages = false;
    // Before loading, keep the current view in the kept slot.
    bool isCachePages = false;
    int32_t operation = 0;
    // What the current view is.
    bool isNow2PageLoaded = false;
    bool isNowDividedPage = false;
    bool secondPage = false;
    // The display area in points.
    gfx::Size minimumImageSize;
    ImageSizeLoad targetSize;
    // How to size the view composed in the background.
    ImageSizeLoad targetSizePreload;
    // Keep isPreloadPages for a streamed book even when pre-reading is off.
    bool isCacheCreator = false;
    // A fresh composition (kCompose) of the view on the screen as it is
    // (zoomed): its pages, a pair or one page, not the pair that holds
    // targetPage when pages are paired from the start.
    bool isSameView = false;

    bool operator==(const PageLoadRequest&) const = default;
};
