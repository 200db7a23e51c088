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
    std::unique_ptr<avifDecoder, DecoderFree> dec(avifDecoderCreate());
    if (!dec) return fail(error, "cannot create a decoder");
    dec->codecChoice = AVIF_CODEC_CHOICE_LIBGAV1;
    dec->maxThreads = int(std::clamp(std::thread::hardware_concurrency(), 1u, 4u));
    dec->imageSizeLimit = uint32_t(gfx::Image::kMaxPixels);
    avifResult r = avifDecoderSetIOMemory(dec.get(), data.data(), data.size());
    if (r != AVIF_RESULT_OK) return fail(error, "reading", r);
    r = avifDecoderParse(dec.get());
    if (r != AVIF_RESULT_OK) return fail(error, "parsing", r);
    const uint32_t w = dec->image->width, h = dec->image->height;
    if (!gfx::Image::sizeAllowed(w, h)) return fail(error, "image too large");
    if (dec->image->depth > 10) return fail(error, "more than 10 bits per channel is not supported");
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
