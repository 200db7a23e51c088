#include "platform/graphics/TiffDecoder.h"

#include <tiffio.h>

#include <cstdarg>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <memory>

namespace gfx {

namespace {

// Decoded sizes up to this are taken whatever the stored bytes.
constexpr uint64_t kAlwaysAllowedBytes = uint64_t(1) << 20;

struct Source {
    std::span<const uint8_t> data;
    toff_t pos = 0;
    std::string firstError;
};

tmsize_t readProc(thandle_t h, void* buf, tmsize_t size) {
    auto* s = static_cast<Source*>(h);
    if (size <= 0 || s->pos >= s->data.size()) return 0;
    size_t n = std::min<size_t>(size_t(size), s->data.size() - size_t(s->pos));
    std::memcpy(buf, s->data.data() + s->pos, n);
    s->pos += n;
    return tmsize_t(n);
}
tmsize_t writeProc(thandle_t, void*, tmsize_t) { return -1; }
toff_t seekProc(thandle_t h, toff_t off, int whence) {
    auto* s = static_cast<Source*>(h);
    toff_t base = whence == SEEK_CUR ? s->pos : whence == SEEK_END ? s->data.size() : 0;
    toff_t to = base + off;
    if (to > s->data.size()) to = s->data.size();
    s->pos = to;
    return to;
}
int closeProc(thandle_t) { return 0; }
toff_t sizeProc(thandle_t h) { return static_cast<Source*>(h)->data.size(); }
int mapProc(thandle_t, void**, toff_t*) { return 0; }
void unmapProc(thandle_t, void*, toff_t) {}

// Keeps the first message instead of printing it: the caller reports it.
int onError(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
    auto* s = static_cast<Source*>(user);
    if (s->firstError.empty()) {
        char buf[512];
        std::vsnprintf(buf, sizeof buf, fmt, ap);
        s->firstError = std::string(module ? module : "TIFF") + ": " + buf;
    }
    return 1;
}
int onWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct TiffClose {
    void operator()(TIFF* t) const { TIFFClose(t); }
};
using Tiff = std::unique_ptr<TIFF, TiffClose>;

Tiff open(Source& src) {
    TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(opts, onError, &src);
    TIFFOpenOptionsSetWarningHandlerExtR(opts, onWarning, &src);
    // No single strip or tile may take more than this, whatever the header says.
    TIFFOpenOptionsSetMaxSingleMemAlloc(opts, tmsize_t(512) << 20);
    Tiff t(TIFFClientOpenExt("memory", "rm", &src, readProc, writeProc, seekProc, closeProc,
                             sizeProc, mapProc, unmapProc, opts));
    TIFFOpenOptionsFree(opts);
    return t;
}

std::string message(const Source& s, const char* fallback) {
    return "TIFF: " + (s.firstError.empty() ? std::string(fallback) : s.firstError);
}

Orientation orientationOf(TIFF* t) {
    uint16_t o = ORIENTATION_TOPLEFT;
    TIFFGetFieldDefaulted(t, TIFFTAG_ORIENTATION, &o);
    return (o >= 1 && o <= 8) ? Orientation(o) : Orientation::Up;
}

bool quarterTurn(Orientation o) { return uint8_t(o) >= 5; }

// The most bytes one stored byte can decode to with a compression scheme
// (for the fax schemes, where one bit can stand for a whole row, a row's
// worth). Generous: real files stay far below.
uint64_t expansion(uint16_t compression, uint64_t rowBytes) {
    switch (compression) {
    case COMPRESSION_NONE: return 1;
    case COMPRESSION_PACKBITS: return 64;
    case COMPRESSION_JPEG:
    case COMPRESSION_OJPEG: return 1024;
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE: return 1032;
    case COMPRESSION_LZW: return 4096;
    case COMPRESSION_CCITTRLE:
    case COMPRESSION_CCITTRLEW:
    case COMPRESSION_CCITTFAX3:
    case COMPRESSION_CCITTFAX4:
    case COMPRESSION_JBIG: return std::max<uint64_t>(16 * rowBytes, 64);
    default: return uint64_t(1) << 17;  // LZMA, Zstandard and the rest
    }
}

// Whether the first image's strips or tiles hold at least `needed` bytes,
// each counted only as far as the file really holds it (strips may share
// bytes: no more than the whole file counts).
bool holdsBytes(TIFF* t, uint64_t fileSize, uint64_t needed) {
    if (needed > fileSize) return false;
    const uint32_t n = TIFFIsTiled(t) ? TIFFNumberOfTiles(t) : TIFFNumberOfStrips(t);
    uint64_t total = 0;
    for (uint32_t i = 0; i < n && total < needed; ++i) {
        int err = 0;
        const uint64_t offset = TIFFGetStrileOffsetWithErr(t, i, &err);
        if (err) continue;
        const uint64_t count = TIFFGetStrileByteCountWithErr(t, i, &err);
        if (err || offset >= fileSize) continue;
        total += std::min(count, fileSize - offset);
    }
    return total >= needed;
}

}  // namespace

bool TiffDecoder::probe(std::span<const uint8_t> data, ImageInfo& info, std::string* error) {
    Source src;
    src.data = data;
    Tiff t = open(src);
    uint32_t w = 0, h = 0;
    if (!t || !TIFFGetField(t.get(), TIFFTAG_IMAGEWIDTH, &w) ||
        !TIFFGetField(t.get(), TIFFTAG_IMAGELENGTH, &h)) {
        if (error) *error = message(src, "unreadable header");
        return false;
    }
    Orientation o = orientationOf(t.get());
    info.format = ImageFormat::Tiff;
    info.orientation = o;
    info.width = int(quarterTurn(o) ? h : w);
    info.height = int(quarterTurn(o) ? w : h);
    return true;
}

ImageRef TiffDecoder::decode(std::span<const uint8_t> data, std::string* error) {
    Source src;
    src.data = data;
    Tiff t = open(src);
    if (!t) return decodeFailure(error, message(src, "unreadable header"));
    uint32_t w = 0, h = 0;
    if (!TIFFGetField(t.get(), TIFFTAG_IMAGEWIDTH, &w) ||
        !TIFFGetField(t.get(), TIFFTAG_IMAGELENGTH, &h)) {
        return decodeFailure(error, message(src, "no image size"));
    }
    if (!Image::sizeAllowed(w, h)) return decodeFailure(error, "TIFF: image too large");
    {
        // A picture larger than its stored bytes can decode to is refused
        // before its memory is taken: a few bytes never cost a gigabyte.
        uint16_t compression = COMPRESSION_NONE;
        TIFFGetFieldDefaulted(t.get(), TIFFTAG_COMPRESSION, &compression);
        const uint64_t rowBytes = std::max<uint64_t>(TIFFScanlineSize64(t.get()), 1);
        uint16_t planes = PLANARCONFIG_CONTIG, samples = 1;
        TIFFGetFieldDefaulted(t.get(), TIFFTAG_PLANARCONFIG, &planes);
        TIFFGetFieldDefaulted(t.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
        const uint64_t decoded = rowBytes * h * (planes == PLANARCONFIG_SEPARATE ? samples : 1);
        const uint64_t needed = decoded / expansion(compression, rowBytes);
        if (decoded > kAlwaysAllowedBytes && !holdsBytes(t.get(), data.size(), needed)) {
            return decodeFailure(error, "TIFF: the file holds too little data for its size");
        }
    }
    char emsg[1024] = {};
    if (!TIFFRGBAImageOK(t.get(), emsg)) return decodeFailure(error, std::string("TIFF: ") + emsg);
    TIFFRGBAImage img;
    std::memset(&img, 0, sizeof img);
    if (!TIFFRGBAImageBegin(&img, t.get(), 1, emsg)) {
        return decodeFailure(error, std::string("TIFF: ") + emsg);
    }
    Orientation o = orientationOf(t.get());
    // Rows as stored; the orientation is applied below, quarter turns included
    // (libtiff's own handling only flips).
    img.req_orientation = ORIENTATION_TOPLEFT;
    img.orientation = ORIENTATION_TOPLEFT;
    std::vector<uint32_t> raster(size_t(w) * size_t(h), 0u);
    int ok = TIFFRGBAImageGet(&img, raster.data(), w, h);
    TIFFRGBAImageEnd(&img);
    if (!ok || !src.firstError.empty()) return decodeFailure(error, message(src, "damaged image data"));
    // libtiff packs red in the low byte and associates alpha itself.
    for (auto& p : raster) {
        p = argb(TIFFGetA(p), TIFFGetR(p), TIFFGetG(p), TIFFGetB(p));
    }
    ImageRef image = Image::make(int(w), int(h), std::move(raster), 1.0, o);
    if (!image) return decodeFailure(error, "TIFF: image too large");
    return o == Orientation::Up ? image : image->upright();
}

}  // namespace gfx
