#pragma once

#include "platform/graphics/Geometry.h"
#include "platform/graphics/ImageDecoder.h"
#include "platform/graphics/Image.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>

// The any-format loaders the page readers call: the platform decoder
// (JPEG, PNG, GIF, TIFF, BMP) first, then WebP, then AVIF. The first image
// wins; no image when every decoder refuses.
//
// Decoded pixels are budgeted: no picture comes out larger than
// kMaxDecodedBytes (a larger one is decoded reduced, where its format
// allows), and decodes running at once on all threads hold at most that
// much between them: a decode that would go past it waits for the others
// to finish.
class ImageLoader {
public:
    static gfx::ImageRef imageWithAnyContentsOfFile(const std::string& path);
    // Bytes in memory (archive members read in place), WebP included.
    static gfx::ImageRef imageWithAnyData(std::span<const uint8_t> data);
    // The picture's whole upright size as its header tells it (the first
    // bytes of a file may be enough), without decoding it; zero when the
    // bytes say nothing a loader above reads.
    static gfx::Size pictureSize(std::span<const uint8_t> data);

    // The most bytes of pixels (4 a pixel) the decodes of all threads hold
    // at once, and the largest picture one decode makes.
    static constexpr uint64_t kMaxDecodedBytes = uint64_t(192) << 20;
    // The bytes decodes hold right now (for tests).
    static uint64_t decodingBytes();
    // For tests: told on the decoding thread as each decode of a picture
    // starts (false) and ends (true); a decode under way when it is
    // replaced tells the one it started with.
    using DecodeObserver = std::function<void(bool ended)>;
    static void setDecodeObserver(DecodeObserver observer);

    // While one lives, the loaders above may hand the calling thread a
    // reduced image (JPEG's DCT scaling, PNG shrunk row by row, WebP
    // scaled while decoded), never smaller than minWidth x minHeight
    // upright pixels: for makers of small pictures of a page, which would
    // otherwise decode the whole page only to shrink it. Other threads are
    // not affected; scopes nest.
    class ScopedDecodeSize {
    public:
        ScopedDecodeSize(int minWidth, int minHeight);
        ~ScopedDecodeSize();
        ScopedDecodeSize(const ScopedDecodeSize&) = delete;
        ScopedDecodeSize& operator=(const ScopedDecodeSize&) = delete;

    private:
        int previousWidth_, previousHeight_;
    };

    // What a caller needs of the picture it is about to have decoded on this
    // thread: called with the picture's whole size (upright pixels, read
    // from its header), it answers the least size in pixels that serves it.
    // The picture is then decoded reduced to no less than that where its
    // format allows; the caller learns the whole size from the call. A
    // picture whose header says nothing, or of a format that cannot reduce,
    // comes whole and the need is not asked.
    using DecodeNeed = std::function<gfx::Size(gfx::Size whole)>;
    // While one lives, the need applies to the loaders on this thread; it
    // takes the place of a ScopedDecodeSize. Scopes nest.
    class ScopedDecodeNeed {
    public:
        explicit ScopedDecodeNeed(DecodeNeed need);
        ~ScopedDecodeNeed();
        ScopedDecodeNeed(const ScopedDecodeNeed&) = delete;
        ScopedDecodeNeed& operator=(const ScopedDecodeNeed&) = delete;

    private:
        DecodeNeed need_;
        const DecodeNeed* previous_;
    };

    // While one lives, the loaders above decode nothing on this thread: they
    // note what the bytes handed to them are (their format, and their size
    // where the whole of them tells it) and hand back no image. For telling
    // a page that holds no picture from one whose header the first bytes
    // did not tell, at the cost of the page's bytes alone. Scopes nest.
    class ScopedMeasureOnly {
    public:
        ScopedMeasureOnly();
        ~ScopedMeasureOnly();
        ScopedMeasureOnly(const ScopedMeasureOnly&) = delete;
        ScopedMeasureOnly& operator=(const ScopedMeasureOnly&) = delete;
        // Whether a loader was handed bytes; their format (Unknown: no
        // loader reads them) and size (zero where they do not tell it).
        bool looked() const { return looked_; }
        gfx::ImageFormat format() const { return format_; }
        gfx::Size size() const { return size_; }

    private:
        friend class ImageLoader;
        ScopedMeasureOnly* previous_;
        bool looked_ = false;
        gfx::ImageFormat format_ = gfx::ImageFormat::Unknown;
        gfx::Size size_;
    };
};
