#include "platform/graphics/BmpDecoder.h"

#include <algorithm>
#include <bit>

namespace gfx {

namespace {

constexpr size_t kFileHeader = 14;

uint32_t le16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t le32(const uint8_t* p) { return le16(p) | le16(p + 2) << 16; }

bool knownHeaderSize(uint32_t n) {
    return n == 12 || n == 40 || n == 52 || n == 56 || n == 64 || n == 108 || n == 124;
}

// An RLE bitmap larger than this must have at least one pixel in
// kRleSparseness drawn by its runs.
constexpr uint64_t kSparseRlePixels = uint64_t(16) << 20;
constexpr uint64_t kRleSparseness = 64;

enum Compression : uint32_t { kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3, kAlphaBitFields = 6 };

struct Header {
    int64_t width = 0;
    int64_t height = 0;  // rows, always positive
    bool topDown = false;
    uint32_t bits = 0;
    uint32_t compression = kRgb;
    uint32_t masks[4] = {0, 0, 0, 0};  // red, green, blue, alpha
    bool hasMasks = false;
    size_t paletteAt = 0;
    size_t paletteEntrySize = 4;
    uint32_t paletteCount = 0;
    size_t pixelsAt = 0;
};

bool parseHeader(std::span<const uint8_t> d, Header& h, std::string& msg) {
    if (d.size() < kFileHeader + 4 || d[0] != 'B' || d[1] != 'M') {
        msg = "BMP: not a bitmap";
        return false;
    }
    h.pixelsAt = le32(&d[10]);
    uint32_t hsize = le32(&d[14]);
    if (!knownHeaderSize(hsize) || d.size() < kFileHeader + hsize) {
        msg = "BMP: truncated or unknown header";
        return false;
    }
    const uint8_t* p = &d[kFileHeader];
    if (hsize == 12) {  // OS/2 core header
        h.width = le16(p + 4);
        h.height = le16(p + 6);
        h.bits = le16(p + 10);
        h.paletteEntrySize = 3;
    } else {
        h.width = int32_t(le32(p + 4));
        int64_t height = int32_t(le32(p + 8));
        h.topDown = height < 0;
        h.height = height < 0 ? -height : height;
        h.bits = le16(p + 14);
        h.compression = le32(p + 16);
        h.paletteCount = le32(p + 32);
        if (hsize >= 52 || h.compression == kBitFields || h.compression == kAlphaBitFields) {
            // Masks live in the header from V2 on, else right after it.
            size_t at = kFileHeader + 40;
            size_t count = (hsize >= 56 || h.compression == kAlphaBitFields) ? 4 : 3;
            if (d.size() < at + count * 4) {
                msg = "BMP: truncated header";
                return false;
            }
            for (size_t i = 0; i < count; ++i) h.masks[i] = le32(&d[at + i * 4]);
            h.hasMasks = h.compression == kBitFields || h.compression == kAlphaBitFields;
            if (hsize == 40) hsize += uint32_t(count * 4);
        }
    }
    h.paletteAt = kFileHeader + hsize;
    if (h.bits <= 8) {
        uint32_t max = 1u << h.bits;
        if (h.paletteCount == 0 || h.paletteCount > max) h.paletteCount = max;
    } else {
        h.paletteCount = 0;
    }
    switch (h.bits) {
    case 1: case 4: case 8: case 16: case 24: case 32: break;
    default: msg = "BMP: unsupported bit depth"; return false;
    }
    bool okCompression =
        h.compression == kRgb ||
        (h.compression == kRle8 && h.bits == 8) || (h.compression == kRle4 && h.bits == 4) ||
        ((h.compression == kBitFields || h.compression == kAlphaBitFields) &&
         (h.bits == 16 || h.bits == 32));
    if (!okCompression) {
        msg = "BMP: unsupported compression";
        return false;
    }
    if (h.width <= 0 || h.height <= 0) {
        msg = "BMP: empty image";
        return false;
    }
    return true;
}

// One channel of a bit-field pixel scaled to 0..255.
struct Field {
    uint32_t mask = 0;
    int shift = 0;
    uint32_t max = 0;
    explicit Field(uint32_t m) : mask(m) {
        if (!m) return;
        shift = std::countr_zero(m);
        max = m >> shift;
        // Keep at most 8 significant bits; a wider field is cut to its top 8.
        while (max > 255) {
            max >>= 1;
            ++shift;
        }
    }
    uint32_t get(uint32_t v) const {
        if (!mask) return 0;
        uint32_t x = (v >> shift) & max;
        return max == 255 ? x : (x * 255 + max / 2) / max;
    }
};

}  // namespace

bool BmpDecoder::looksLikeBmp(std::span<const uint8_t> d) {
    return d.size() >= kFileHeader + 4 && d[0] == 'B' && d[1] == 'M' && knownHeaderSize(le32(&d[14]));
}

bool BmpDecoder::probe(std::span<const uint8_t> data, ImageInfo& info, std::string* error) {
    Header h;
    std::string msg;
    if (!parseHeader(data, h, msg)) {
        if (error) *error = msg;
        return false;
    }
    info.format = ImageFormat::Bmp;
    info.width = int(std::min<int64_t>(h.width, INT32_MAX));
    info.height = int(std::min<int64_t>(h.height, INT32_MAX));
    info.orientation = Orientation::Up;
    return true;
}

ImageRef BmpDecoder::decode(std::span<const uint8_t> d, std::string* error) {
    Header h;
    std::string msg;
    if (!parseHeader(d, h, msg)) return decodeFailure(error, msg);
    if (!Image::sizeAllowed(h.width, h.height)) return decodeFailure(error, "BMP: image too large");
    const int w = int(h.width), rows = int(h.height);

    uint32_t palette[256] = {};
    if (h.paletteCount) {
        if (h.paletteAt + size_t(h.paletteCount) * h.paletteEntrySize > d.size()) {
            return decodeFailure(error, "BMP: truncated palette");
        }
        for (uint32_t i = 0; i < h.paletteCount; ++i) {
            const uint8_t* e = &d[h.paletteAt + i * h.paletteEntrySize];
            palette[i] = argb(255, e[2], e[1], e[0]);
        }
    }
    if (h.pixelsAt >= d.size()) return decodeFailure(error, "BMP: no pixel data");

    // The data is checked whole before the picture's memory is taken, so a
    // few bytes claiming a huge bitmap cost nothing.
    const bool rle = h.compression == kRle8 || h.compression == kRle4;
    const size_t stride = ((size_t(w) * h.bits + 31) / 32) * 4;
    if (!rle) {
        // The last row need not carry its padding.
        size_t lastRow = (size_t(w) * h.bits + 7) / 8;
        if (h.pixelsAt + stride * size_t(rows - 1) + lastRow > d.size()) {
            return decodeFailure(error, "BMP: truncated pixel data");
        }
    }
    std::vector<uint32_t> px;
    // File row r (in storage order) is image row rowAt(r).
    auto rowAt = [&](int r) { return h.topDown ? r : rows - 1 - r; };
    auto put = [&](int x, int r, uint32_t v) {
        if (!px.empty() && x >= 0 && x < w && r >= 0 && r < rows) px[size_t(rowAt(r)) * size_t(w) + size_t(x)] = v;
    };

    if (rle) {
        // Pixels the runs never reach stay transparent. The first walk only
        // checks the runs; the second, with the memory taken, draws them.
        const bool four = h.compression == kRle4;
        uint64_t drawn = 0;  // pixels the runs reach, counted in the first walk
        for (int pass = 0; pass < 2; ++pass) {
            if (pass == 1) {
                // A bitmap is refused when it would be nearly all transparent:
                // a few runs must not claim a gigabyte of nothing.
                const uint64_t pixels = uint64_t(w) * uint64_t(rows);
                if (pixels > kSparseRlePixels && pixels / kRleSparseness > drawn) {
                    return decodeFailure(error, "BMP: the runs fill too little of the bitmap");
                }
                px.assign(size_t(w) * size_t(rows), 0u);
            }
            size_t at = h.pixelsAt;
            int x = 0, r = 0;
            bool ended = false;
            while (!ended && r < rows) {
                if (at + 2 > d.size()) return decodeFailure(error, "BMP: truncated RLE data");
                uint32_t count = d[at], value = d[at + 1];
                at += 2;
                if (count > 0) {
                    for (uint32_t i = 0; i < count && pass == 1; ++i) {
                        uint32_t idx = four ? ((i & 1) ? value & 15 : value >> 4) : value;
                        put(x + int(i), r, palette[idx]);
                    }
                    if (r < rows) drawn += uint64_t(std::max(0, std::min(x + int(count), w) - x));
                    x = std::min(x + int(count), w);  // what lies past the row is dropped
                    continue;
                }
                switch (value) {
                case 0: x = 0; ++r; break;    // end of line
                case 1: ended = true; break;  // end of bitmap
                case 2:                       // move right and up
                    if (at + 2 > d.size()) return decodeFailure(error, "BMP: truncated RLE data");
                    x = std::min(x + int(d[at]), w);
                    r += d[at + 1];
                    at += 2;
                    break;
                default: {  // a literal run of `value` pixels, padded to 16 bits
                    size_t bytes = four ? (value + 1) / 2 : value;
                    if (at + bytes > d.size()) return decodeFailure(error, "BMP: truncated RLE data");
                    for (uint32_t i = 0; i < value && pass == 1; ++i) {
                        uint32_t idx = four ? ((i & 1) ? d[at + i / 2] & 15 : d[at + i / 2] >> 4) : d[at + i];
                        put(x + int(i), r, palette[idx]);
                    }
                    if (r < rows) drawn += uint64_t(std::max(0, std::min(x + int(value), w) - x));
                    x = std::min(x + int(value), w);
                    at += bytes + (bytes & 1);
                }
                }
            }
        }
    } else {
        px.assign(size_t(w) * size_t(rows), 0u);
        uint32_t masks[4] = {h.masks[0], h.masks[1], h.masks[2], h.masks[3]};
        if (!h.hasMasks) {
            if (h.bits == 16) {
                masks[0] = 0x7C00; masks[1] = 0x03E0; masks[2] = 0x001F; masks[3] = 0;
            } else if (h.bits == 32) {
                // The fourth byte is alpha only if the header says so, or (as in
                // many writers' output) some pixel uses it; see below.
                masks[0] = 0x00FF0000; masks[1] = 0x0000FF00; masks[2] = 0x000000FF;
                masks[3] = 0xFF000000;
            }
        }
        Field fr(masks[0]), fg(masks[1]), fb(masks[2]), fa(masks[3]);
        bool sawAlpha = false;
        for (int r = 0; r < rows; ++r) {
            const uint8_t* s = &d[h.pixelsAt + stride * size_t(r)];
            uint32_t* out = px.data() + size_t(rowAt(r)) * size_t(w);
            for (int x = 0; x < w; ++x) {
                uint32_t v;
                switch (h.bits) {
                case 1: v = palette[(s[x >> 3] >> (7 - (x & 7))) & 1]; break;
                case 4: v = palette[(x & 1) ? s[x >> 1] & 15 : s[x >> 1] >> 4]; break;
                case 8: v = palette[s[x]]; break;
                case 24: v = argb(255, s[x * 3 + 2], s[x * 3 + 1], s[x * 3]); break;
                default: {
                    uint32_t raw = h.bits == 16 ? le16(s + x * 2) : le32(s + x * 4);
                    uint32_t a = fa.mask ? fa.get(raw) : 255;
                    if (fa.mask && a) sawAlpha = true;
                    // Straight alpha for now; made premultiplied once we know
                    // whether the alpha field means anything.
                    v = argb(a, fr.get(raw), fg.get(raw), fb.get(raw));
                }
                }
                out[x] = v;
            }
        }
        if (h.bits == 16 || h.bits == 32) {
            // An alpha field that is zero everywhere is unused padding: opaque.
            bool opaque = !fa.mask || !sawAlpha;
            for (auto& p : px) {
                p = opaque ? (p | 0xFF000000u) : premultiply(alphaOf(p), redOf(p), greenOf(p), blueOf(p));
            }
        }
    }
    ImageRef image = Image::make(w, rows, std::move(px));
    if (!image) return decodeFailure(error, "BMP: image too large");
    return image;
}

}  // namespace gfx
