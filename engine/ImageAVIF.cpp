#include "engine/ImageAVIF.h"

#include "platform/graphics/ImageDecoder.h"

#include <avif/avif.h>

#include <algorithm>
#include <memory>
#include <new>
#include <thread>
#include <vector>

namespace {

struct DecoderFree {
    void operator()(avifDecoder* d) const { avifDecoderDestroy(d); }
};

gfx::ImageRef fail(std::string* error, const std::string& message) {
    if (error) *error = "AVIF: " + message;
    return nullptr;
}

gfx::ImageRef fail(std::string* error, const char* step, avifResult r) {
    return fail(error, std::string(step) + ": " + avifResultToString(r));
}

constexpr avifRGBFormat kNativeArgb =
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    AVIF_RGB_FORMAT_BGRA;
#else
    AVIF_RGB_FORMAT_ARGB;
#endif

// The deepest images libgav1 decodes.
constexpr uint32_t kGav1MaxDepth = 10;

}  // namespace

bool ImageAVIF::decoderAvailable() {
    return avifCodecName(AVIF_CODEC_CHOICE_LIBGAV1, AVIF_CODEC_FLAG_CAN_DECODE) != nullptr;
}

gfx::ImageRef ImageAVIF::imageWithContentsOfFile(const std::string& path, std::string* error) {
    std::vector<uint8_t> bytes;
    if (!gfx::ImageDecoder::readFile(path, bytes, error) || bytes.empty()) {
        if (error && error->empty()) *error = "AVIF: " + path + ": empty file";
        return nullptr;
    }
    return imageWithData(bytes, error);
}

gfx::ImageRef ImageAVIF::imageWithData(std::span<const uint8_t> data, std::string* error) {
    if (data.empty()) return fail(error, "no data");
    if (!decoderAvailable()) return fail(error, "libavif has no libgav1 decoder");
    std::unique_ptr<avifDecoder, DecoderFree> dec;
    avifResult r = AVIF_RESULT_OK;
    auto open = [&](avifCodecChoice codec) -> const char* {
        dec.reset(avifDecoderCreate());
        if (!dec) return "cannot create a decoder";
        dec->codecChoice = codec;
        dec->maxThreads = int(std::clamp(std::thread::hardware_concurrency(), 1u, 4u));
        dec->imageSizeLimit = uint32_t(gfx::Image::kMaxPixels);
        r = avifDecoderSetIOMemory(dec.get(), data.data(), data.size());
        if (r != AVIF_RESULT_OK) return "reading";
        r = avifDecoderParse(dec.get());
        return r != AVIF_RESULT_OK ? "parsing" : nullptr;
    };
    if (const char* step = open(AVIF_CODEC_CHOICE_LIBGAV1))
        return r == AVIF_RESULT_OK ? fail(error, step) : fail(error, step, r);
    // libgav1 stops at 10 bits: a 12-bit image goes to dav1d, where libavif has it.
    if (dec->image->depth > kGav1MaxDepth) {
        if (!avifCodecName(AVIF_CODEC_CHOICE_DAV1D, AVIF_CODEC_FLAG_CAN_DECODE))
            return fail(error, "more than 10 bits per channel needs libavif's dav1d decoder");
        if (const char* step = open(AVIF_CODEC_CHOICE_DAV1D))
            return r == AVIF_RESULT_OK ? fail(error, step) : fail(error, step, r);
    }
    const uint32_t w = dec->image->width, h = dec->image->height;
    if (!gfx::Image::sizeAllowed(w, h)) return fail(error, "image too large");
    r = avifDecoderNextImage(dec.get());
    if (r != AVIF_RESULT_OK) return fail(error, "decoding", r);
    if (dec->image->width != w || dec->image->height != h) return fail(error, "frame size changed");

    std::vector<uint32_t> px;
    try {
        px.resize(size_t(w) * size_t(h));
    } catch (const std::bad_alloc&) {
        return fail(error, "out of memory");
    }
    avifRGBImage rgb;
    avifRGBImageSetDefaults(&rgb, dec->image);
    // Straight into the page's pixels: 8 bits, premultiplied, native ARGB words.
    // Deeper images (10 and 12 bits) are brought down to 8 bits here, as
    // every page is shown at 8 bits per channel.
    rgb.depth = 8;
    rgb.format = kNativeArgb;
    rgb.alphaPremultiplied = AVIF_TRUE;
    rgb.pixels = reinterpret_cast<uint8_t*>(px.data());
    rgb.rowBytes = w * 4;
    r = avifImageYUVToRGB(dec->image, &rgb);
    if (r != AVIF_RESULT_OK) return fail(error, "colour conversion", r);
    dec.reset();
    gfx::ImageRef image = gfx::Image::make(int(w), int(h), std::move(px));
    if (!image) return fail(error, "image too large");
    return image;
}
