#include "platform/graphics/PngDecoder.h"

#include "platform/graphics/PngRowReader.h"
#include "platform/graphics/RowScaler.h"

#include <spng.h>

#include <algorithm>
#include <memory>

namespace gfx {

namespace {

struct CtxFree {
    void operator()(spng_ctx* c) const { spng_ctx_free(c); }
};
using Ctx = std::unique_ptr<spng_ctx, CtxFree>;

// Ancillary chunks are bounded so that a hostile file cannot make the
// decoder hold gigabytes of text or metadata.
constexpr size_t kChunkLimit = size_t(16) << 20;
constexpr size_t kCacheLimit = size_t(64) << 20;

Ctx open(std::span<const uint8_t> data, spng_ihdr& ihdr, std::string& msg) {
    Ctx ctx(spng_ctx_new(0));
    if (!ctx) {
        msg = "PNG: cannot start the decoder";
        return nullptr;
    }
    spng_set_chunk_limits(ctx.get(), kChunkLimit, kCacheLimit);
    spng_set_image_limits(ctx.get(), 65535, 65535);
    int rc = spng_set_png_buffer(ctx.get(), data.data(), data.size());
    if (rc == 0) rc = spng_get_ihdr(ctx.get(), &ihdr);
    if (rc != 0) {
        msg = std::string("PNG: ") + spng_strerror(rc);
        return nullptr;
    }
    return ctx;
}

}  // namespace

bool PngDecoder::probe(std::span<const uint8_t> data, ImageInfo& info, std::string* error) {
    spng_ihdr ihdr{};
    std::string msg;
    Ctx ctx = open(data, ihdr, msg);
    if (!ctx) {
        if (error) *error = msg;
        return false;
    }
    info.format = ImageFormat::Png;
    info.width = int(ihdr.width);
    info.height = int(ihdr.height);
    info.orientation = Orientation::Up;
    return true;
}

namespace {

// The decoder writes the bytes red, green, blue, alpha; each pixel becomes a
// premultiplied word where it lies.
void premultiplyRow(uint32_t* px, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        const auto* b = reinterpret_cast<const uint8_t*>(&px[i]);
        px[i] = premultiply(b[3], b[0], b[1], b[2]);
    }
}

}  // namespace

ImageRef PngDecoder::decode(std::span<const uint8_t> data, const DecodeOptions& options, std::string* error) {
    spng_ihdr ihdr{};
    std::string msg;
    Ctx ctx = open(data, ihdr, msg);
    if (!ctx) return decodeFailure(error, msg);
    if (!Image::sizeAllowed(ihdr.width, ihdr.height)) {
        return decodeFailure(error, "PNG: image too large");
    }
    const int w = int(ihdr.width), h = int(ihdr.height);
    size_t need = 0;
    int rc = spng_decoded_image_size(ctx.get(), SPNG_FMT_RGBA8, &need);
    if (rc != 0) return decodeFailure(error, std::string("PNG: ") + spng_strerror(rc));
    if (need != size_t(w) * size_t(h) * 4) return decodeFailure(error, "PNG: unexpected image size");
    rc = spng_decode_image(ctx.get(), nullptr, 0, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE);
    if (rc != 0) return decodeFailure(error, std::string("PNG: ") + spng_strerror(rc));
    const size_t rowWords = size_t(w);
    int rw = w, rh = h;
    ImageDecoder::reducedSize(w, h, options, rw, rh);
    const bool shrink = rw < w || rh < h;

    // The common kinds of page (spng has read and checked everything before
    // their image data): rows unfiltered and converted by PngRowReader,
    // several times faster than spng's general path on deep truecolour.
    spng_trns trns{};
    if (PngRowReader::handles(ihdr.color_type, ihdr.bit_depth, ihdr.interlace_method) &&
        spng_get_trns(ctx.get(), &trns) == SPNG_ECHUNKAVAIL) {
        PngRowReader reader(data, w, h, ihdr.color_type, ihdr.bit_depth);
        if (shrink) {
            RowScaler scaler(w, h, rw, rh);
            if (!reader.read([&](const uint32_t* row) { scaler.push(row); }, msg)) return decodeFailure(error, msg);
            ImageRef image = Image::make(rw, rh, scaler.take());
            if (!image) return decodeFailure(error, "PNG: image too large");
            return image;
        }
        // The pixel memory grows with the rows the data really holds.
        std::vector<uint32_t> px;
        const size_t total = rowWords * size_t(h);
        const bool ok = reader.read(
            [&](const uint32_t* row) {
                if (px.capacity() < px.size() + rowWords)
                    px.reserve(std::min(total, std::max(px.size() + rowWords, px.capacity() * 2)));
                px.insert(px.end(), row, row + rowWords);
            },
            msg);
        if (!ok) return decodeFailure(error, msg);
        ImageRef image = Image::make(w, h, std::move(px));
        if (!image) return decodeFailure(error, "PNG: image too large");
        return image;
    }

    // A smaller picture asked for: the rows are shrunk as they come, and the
    // whole picture never exists. Interlaced rows come pass by pass, not top
    // to bottom: those are decoded whole.
    if (shrink && ihdr.interlace_method == 0) {
        RowScaler scaler(w, h, rw, rh);
        std::vector<uint32_t> row(rowWords);
        do {
            spng_row_info info{};
            rc = spng_get_row_info(ctx.get(), &info);
            if (rc != 0) break;
            if (info.row_num != uint32_t(scaler.rowsPushed())) return decodeFailure(error, "PNG: unexpected row");
            rc = spng_decode_row(ctx.get(), row.data(), rowWords * 4);
            if (rc != 0 && rc != SPNG_EOI) break;
            premultiplyRow(row.data(), rowWords);
            scaler.push(row.data());
        } while (rc == 0);
        if (rc != SPNG_EOI) return decodeFailure(error, std::string("PNG: ") + spng_strerror(rc));
        ImageRef image = Image::make(rw, rh, scaler.take());
        if (!image) return decodeFailure(error, "PNG: image too large");
        return image;
    }

    // Row by row, the pixel memory growing with the rows the data really
    // holds: a few bytes claiming a huge image fail at their first missing
    // row instead of taking the whole size first.
    std::vector<uint32_t> px;
    const size_t total = rowWords * size_t(h);
    do {
        spng_row_info row{};
        rc = spng_get_row_info(ctx.get(), &row);
        if (rc != 0) break;
        if (row.row_num >= uint32_t(h)) return decodeFailure(error, "PNG: unexpected row");
        const size_t end = (size_t(row.row_num) + 1) * rowWords;
        if (px.size() < end) {
            // Doubling, but never past the whole image.
            if (px.capacity() < end) px.reserve(std::min(total, std::max(end, px.capacity() * 2)));
            px.resize(end, 0u);
        }
        rc = spng_decode_row(ctx.get(), px.data() + size_t(row.row_num) * rowWords, rowWords * 4);
    } while (rc == 0);
    if (rc != SPNG_EOI) return decodeFailure(error, std::string("PNG: ") + spng_strerror(rc));
    px.resize(total, 0u);
    premultiplyRow(px.data(), px.size());
    ImageRef image = Image::make(w, h, std::move(px));
    if (!image) return decodeFailure(error, "PNG: image too large");
    return image;
}

}  // namespace gfx
