#include "platform/graphics/TiffDecoder.h"

#include <tiffio.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

namespace gfx {

namespace {

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
