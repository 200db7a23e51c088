#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace gfx {

// The image data of the common kinds of PNG page read a row at a time: not
// interlaced, grey or truecolour with or without alpha, 8 or 16 bits a
// sample, no tRNS. The IDAT chunks are checked against their CRCs and
// inflated with zlib; the rows are unfiltered and handed on as premultiplied
// ARGB words (a 16-bit sample keeps its high byte). A large picture is
// inflated on a second thread while this one unfilters and hands on the
// rows before it; the second thread is joined before read() returns.
//
// The header and the chunks before the image data are the caller's to
// check (PngDecoder does that through libspng, which reads the other kinds).
class PngRowReader {
public:
    // Whether rows of this colour type, bit depth and interlace method are read here.
    static bool handles(int colourType, int bitDepth, int interlaceMethod);

    // `file` is the whole PNG, whose header said width x height (at least
    // 1 x 1) and a kind handles() takes.
    PngRowReader(std::span<const uint8_t> file, int width, int height, int colourType, int bitDepth);

    // Reads the rows top to bottom, calling `row` with each (width words,
    // valid during the call). False, with a message, for image data that is
    // damaged or cut short; rows before the fault have been handed on.
    bool read(const std::function<void(const uint32_t* row)>& row, std::string& error);

    // Pictures with at least this many bytes of image data are inflated on
    // a second thread.
    static constexpr size_t kThreadedBytes = size_t(2) << 20;

private:
    std::span<const uint8_t> file_;
    int width_, height_, colourType_, bitDepth_;
};

}  // namespace gfx
