#include "platform/graphics/JpegCodec.h"

#include "platform/graphics/ImageDecoder.h"
#include "platform/graphics/RowScaler.h"

#include <turbojpeg.h>

#include <cstring>
#include <memory>

namespace gfx {

namespace {

struct Markers {
    Orientation orientation = Orientation::Up;
    bool adobe = false;
    bool arithmetic = false;  // the frame is arithmetic-coded (SOF9 to SOF15)
};

// Huffman coding spends at least one bit on every 8 x 8 block of a frame (its
// DC code, in a progressive file's first scan too), so a byte of data holds
// at most 512 pixels; twice that is the most a file may claim per byte.
constexpr int64_t kMaxPixelsPerByte = 1024;

uint16_t be16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }

// Orientation tag 0x0112 in IFD0 of an EXIF block (a TIFF structure).
Orientation parseExif(const uint8_t* t, size_t n) {
    if (n < 8) return Orientation::Up;
    bool little;
    if (t[0] == 'I' && t[1] == 'I') little = true;
    else if (t[0] == 'M' && t[1] == 'M') little = false;
    else return Orientation::Up;
    auto u16 = [&](size_t at) -> uint32_t {
        return little ? uint32_t(t[at] | t[at + 1] << 8) : uint32_t(t[at] << 8 | t[at + 1]);
    };
    auto u32 = [&](size_t at) -> uint32_t {
        return little ? (u16(at) | u16(at + 2) << 16) : (u16(at) << 16 | u16(at + 2));
    };
    if (u16(2) != 42) return Orientation::Up;
    uint32_t ifd = u32(4);
    if (ifd < 8 || size_t(ifd) + 2 > n) return Orientation::Up;
    uint32_t count = u16(ifd);
    for (uint32_t i = 0; i < count; ++i) {
        size_t e = size_t(ifd) + 2 + size_t(i) * 12;
        if (e + 12 > n) break;
        if (u16(e) == 0x0112 && u16(e + 2) == 3) {
            uint32_t v = u16(e + 8);
            if (v >= 1 && v <= 8) return Orientation(v);
            break;
        }
    }
    return Orientation::Up;
}

// Walks the marker segments before the first scan.
Markers scanMarkers(std::span<const uint8_t> d) {
    Markers m;
    size_t at = 2;
    while (at + 4 <= d.size()) {
        if (d[at] != 0xFF) break;
        uint8_t marker = d[at + 1];
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        if (marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) {
            at += 2;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) break;
        size_t len = be16(&d[at + 2]);
        if (len < 2 || at + 2 + len > d.size()) break;
        const uint8_t* body = &d[at + 4];
        size_t n = len - 2;
        if (marker == 0xE1 && n >= 6 && std::memcmp(body, "Exif\0\0", 6) == 0 &&
            m.orientation == Orientation::Up) {
            m.orientation = parseExif(body + 6, n - 6);
        } else if (marker == 0xEE && n >= 5 && std::memcmp(body, "Adobe", 5) == 0) {
            m.adobe = true;
        } else if (marker >= 0xC9 && marker <= 0xCF && marker != 0xCC) {
            m.arithmetic = true;
        }
        at += 2 + len;
    }
    return m;
}

// Warnings after which the picture is whole: stray bytes between segments
// and oddities of the headers, all common in files from real scanners and
// cameras. Anything else (running out of data above all) is a failure; the
// error code alone cannot tell, because it stays "warning" when a fatal
// error follows one.
bool harmlessWarning(const std::string& msg) {
    auto starts = [&](const char* p) { return msg.rfind(p, 0) == 0; };
    if (msg.find("remature end") != std::string::npos) return false;
    return starts("Corrupt JPEG data: ") || starts("Inconsistent progression sequence") ||
           starts("Invalid SOS parameters for sequential JPEG") ||
           starts("Unknown Adobe color transform code") || starts("Warning: unknown JFIF revision");
}

bool quarterTurn(Orientation o) {
    return o == Orientation::LeftMirrored || o == Orientation::Right ||
           o == Orientation::RightMirrored || o == Orientation::Left;
}

struct TjFree {
    void operator()(void* h) const { tjDestroy(h); }
};
using TjHandle = std::unique_ptr<void, TjFree>;

constexpr int kNativeArgb =
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    TJPF_BGRA;
#else
    TJPF_ARGB;
#endif

}  // namespace

Orientation JpegCodec::exifOrientation(std::span<const uint8_t> data) {
    return scanMarkers(data).orientation;
}

void JpegCodec::scalingFor(int width, int height, int minWidth, int minHeight, int& num,
                           int& denom) {
    num = denom = 1;
    if (minWidth <= 0 && minHeight <= 0) return;
    // The smallest of the eighths the inverse DCT can make directly that
    // still holds the size asked for.
    for (int m = 1; m < 8; ++m) {
        tjscalingfactor sf{m, 8};
        if (TJSCALED(width, sf) >= minWidth && TJSCALED(height, sf) >= minHeight) {
            num = m;
            denom = 8;
            // Lowest terms, as TurboJPEG lists its factors.
            while (num % 2 == 0 && denom % 2 == 0) num /= 2, denom /= 2;
            return;
        }
    }
}

bool JpegCodec::probe(std::span<const uint8_t> data, ImageInfo& info, std::string* error) {
    TjHandle tj(tjInitDecompress());
    if (!tj) {
        if (error) *error = "JPEG: cannot start the decoder";
        return false;
    }
    int w = 0, h = 0, sub = 0, cs = 0;
    if (tjDecompressHeader3(tj.get(), data.data(), static_cast<unsigned long>(data.size()), &w, &h,
                            &sub, &cs) != 0) {
        if (error) *error = std::string("JPEG: ") + tjGetErrorStr2(tj.get());
        return false;
    }
    Orientation o = scanMarkers(data).orientation;
    info.format = ImageFormat::Jpeg;
    info.orientation = o;
    info.width = quarterTurn(o) ? h : w;
    info.height = quarterTurn(o) ? w : h;
    return true;
}

ImageRef JpegCodec::decode(std::span<const uint8_t> data, const DecodeOptions& options,
                           std::string* error) {
    TjHandle tj(tjInitDecompress());
    if (!tj) return decodeFailure(error, "JPEG: cannot start the decoder");
    int w = 0, h = 0, sub = 0, cs = 0;
    unsigned long size = static_cast<unsigned long>(data.size());
    if (tjDecompressHeader3(tj.get(), data.data(), size, &w, &h, &sub, &cs) != 0) {
        return decodeFailure(error, std::string("JPEG: ") + tjGetErrorStr2(tj.get()));
    }
    if (!Image::sizeAllowed(w, h)) return decodeFailure(error, "JPEG: image too large");
    Markers markers = scanMarkers(data);
    // A few bytes claiming a huge picture are refused before its memory is
    // taken (the decoder would fill what the data lacks with grey, only to
    // fail on the missing data at the end).
    if (!markers.arithmetic && int64_t(w) * h > int64_t(data.size()) * kMaxPixelsPerByte) {
        return decodeFailure(error, "JPEG: too little data for the size it claims");
    }
    bool turn = quarterTurn(markers.orientation);
    int num, denom;
    scalingFor(w, h, turn ? options.minHeight : options.minWidth,
               turn ? options.minWidth : options.minHeight, num, denom);
    tjscalingfactor sf{num, denom};
    int sw = TJSCALED(w, sf), sh = TJSCALED(h, sf);

    std::vector<uint32_t> px(size_t(sw) * size_t(sh));
    bool cmyk = cs == TJCS_CMYK || cs == TJCS_YCCK;
    int rc = tjDecompress2(tj.get(), data.data(), size, reinterpret_cast<unsigned char*>(px.data()),
                           sw, sw * 4, sh, cmyk ? TJPF_CMYK : kNativeArgb, 0);
    if (rc != 0) {
        std::string msg = tjGetErrorStr2(tj.get());
        if (tjGetErrorCode(tj.get()) != TJERR_WARNING || !harmlessWarning(msg)) {
            return decodeFailure(error, "JPEG: " + msg);
        }
    }
    if (cmyk) {
        for (auto& p : px) {
            const auto* b = reinterpret_cast<const uint8_t*>(&p);
            uint32_t c = b[0], m = b[1], y = b[2], k = b[3];
            if (!markers.adobe) {  // plain CMYK: 0 is no ink
                c = 255 - c;
                m = 255 - m;
                y = 255 - y;
                k = 255 - k;
            }
            // Now 255 means no ink in every channel.
            auto mul = [](uint32_t a, uint32_t b2) { uint32_t t = a * b2 + 128; return (t + (t >> 8)) >> 8; };
            p = argb(255, mul(c, k), mul(m, k), mul(y, k));
        }
    }
    if (options.exact) {
        // The rest of the way to the size asked for, by area averaging.
        int uw = 0, uh = 0;
        ImageDecoder::reducedSize(turn ? h : w, turn ? w : h, options, uw, uh);
        const int tw = std::min(sw, turn ? uh : uw), th = std::min(sh, turn ? uw : uh);
        if (tw < sw || th < sh) {
            RowScaler scaler(sw, sh, tw, th);
            for (int y = 0; y < sh; ++y) scaler.push(px.data() + size_t(y) * size_t(sw));
            px = scaler.take();
            sw = tw;
            sh = th;
        }
    }
    ImageRef image = Image::make(sw, sh, std::move(px), 1.0, markers.orientation);
    if (!image) return decodeFailure(error, "JPEG: image too large");
    return markers.orientation == Orientation::Up ? image : image->upright();
}

}  // namespace gfx
