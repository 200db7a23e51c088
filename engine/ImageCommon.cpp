#include "engine/ImageCommon.h"

#include "platform/graphics/BitmapContext.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>
#include <new>
#include <numbers>
#include <vector>

using gfx::AffineTransform;
using gfx::BitmapContext;
using gfx::Image;
using gfx::Orientation;
using gfx::Point;
using gfx::Rect;
using gfx::Size;

namespace {

using ImageRef = gfx::ImageRef;
using Table = std::array<uint8_t, 256>;

// ---- numbers ---------------------------------------------------------------

// A size or coordinate turned into whole pixels: false for NaN, infinities
// and anything a bitmap could never have.
bool toPixels(double v, int& out) {
    if (!std::isfinite(v) || v < -1e9 || v > 1e9) return false;
    out = int(std::trunc(v));
    return true;
}

bool canvasSize(double w, double h, int& cw, int& ch) {
    return toPixels(w, cw) && toPixels(h, ch) && Image::sizeAllowed(cw, ch);
}

// ---- per-pixel work ----------------------------------------------------------

inline uint32_t unpremultiplyChannel(uint32_t c, uint32_t a) {
    return std::min<uint32_t>(255, (c * 255 + a / 2) / a);
}

// Applies f(r, g, b) -> packed straight rgb to every pixel. Opaque pixels go
// straight through f; translucent ones are unpremultiplied first and
// premultiplied after; fully transparent ones stay transparent.
template <class F>
ImageRef mapColour(const Image& src, F f) {
    std::vector<uint32_t> px;
    try {
        px.resize(size_t(src.width()) * size_t(src.height()));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    const uint32_t* in = src.pixels();
    for (size_t i = 0; i < px.size(); ++i) {
        uint32_t p = in[i];
        uint32_t a = gfx::alphaOf(p);
        if (a == 255) {
            px[i] = 0xFF000000u | f(gfx::redOf(p), gfx::greenOf(p), gfx::blueOf(p));
        } else if (a == 0) {
            px[i] = 0;
        } else {
            uint32_t rgb = f(unpremultiplyChannel(gfx::redOf(p), a), unpremultiplyChannel(gfx::greenOf(p), a),
                             unpremultiplyChannel(gfx::blueOf(p), a));
            px[i] = gfx::premultiply(a, (rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
        }
    }
    return Image::make(src.width(), src.height(), std::move(px), src.scale(), src.orientation());
}

inline uint32_t rgb(uint32_t r, uint32_t g, uint32_t b) { return r << 16 | g << 8 | b; }

// ---- the gamma table cache --------------------------------------------------

std::mutex gGammaMutex;
float gGamma = 0;  // nothing built yet
Table gGammaTable{};

Table buildGamma(float gamma) {
    Table t{};
    float exponent = 1.0f / gamma;
    for (int i = 0; i < 256; ++i) {
        float v = std::pow(float(i) / 255.0f, exponent) * 255.0f;
        t[size_t(i)] = v > 255.0f ? 255 : v < 0.0f ? 0 : uint8_t(v);
    }
    return t;
}

bool gammaUsable(double gamma) {
    return std::isfinite(gamma) && gamma > 0 && std::isfinite(1.0f / float(gamma)) && float(gamma) > 0;
}

// ---- histogram stretch (automatic contrast and pseudo colour) ----------------

Table levelTable(const Image& img, double gamma) {
    uint64_t hist[256] = {};
    for (int y = 0; y < img.height(); y += 2) {
        const uint32_t* row = img.row(y);
        for (int x = 0; x < img.width(); x += 2) {
            uint32_t p = row[x];
            uint32_t a = gfx::alphaOf(p);
            if (a == 0) continue;
            uint32_t r = gfx::redOf(p), g = gfx::greenOf(p), b = gfx::blueOf(p);
            if (a != 255) {
                r = unpremultiplyChannel(r, a);
                g = unpremultiplyChannel(g, a);
                b = unpremultiplyChannel(b, a);
            }
            ++hist[r];
            ++hist[g];
            ++hist[b];
        }
    }
    // 5 % of all the channel values of the page, though a quarter is counted.
    uint64_t t = uint64_t(float(int64_t(img.width()) * img.height() * 3) * 0.05f);
    int low = 0, high = 255;
    uint64_t sum = 0;
    for (int i = 0; i < 256; ++i) {
        sum += hist[i];
        if (sum > t) {
            low = i;
            break;
        }
    }
    sum = 0;
    for (int i = 255; i >= 0; --i) {
        sum += hist[i];
        if (sum > t) {
            high = i;
            break;
        }
    }
    low = std::min(low, 50);
    high = std::max(high, 205);
    Table g = ImageCommon::gammaTable(gamma);
    Table level{};
    for (int v = 0; v < 256; ++v) {
        float s = float(v - low) * 255.0f / float(high - low);
        int i = std::clamp(int(s), 0, 255);
        level[size_t(v)] = g[size_t(i)];
    }
    return level;
}

// ---- pseudo-colour curves ----------------------------------------------------

// The curves at every 32nd input level (0, 32, ..., 224, 255); sets 1..9 then
// the default set, each red, green, blue.
constexpr uint8_t kCurveKnots[10][3][9] = {
    {{0, 4, 34, 13, 226, 242, 249, 245, 255}, {0, 3, 29, 11, 58, 9, 1, 160, 255}, {0, 3, 34, 136, 84, 11, 119, 51, 255}},
    {{0, 27, 62, 171, 239, 210, 232, 248, 255}, {0, 3, 22, 18, 72, 46, 124, 215, 255}, {0, 4, 46, 119, 51, 37, 16, 122, 255}},
    {{0, 19, 48, 124, 239, 210, 232, 248, 255}, {0, 3, 22, 18, 72, 46, 124, 215, 255}, {0, 12, 88, 165, 50, 37, 16, 122, 255}},
    {{0, 13, 48, 125, 245, 210, 232, 248, 255}, {0, 12, 21, 17, 11, 47, 124, 215, 255}, {0, 13, 88, 168, 124, 36, 16, 122, 255}},
    {{0, 11, 63, 134, 245, 221, 246, 253, 255}, {0, 5, 16, 17, 11, 39, 124, 213, 255}, {0, 10, 133, 84, 39, 41, 141, 155, 255}},
    {{0, 11, 63, 134, 225, 222, 246, 253, 255}, {0, 8, 34, 16, 11, 39, 124, 213, 255}, {0, 13, 51, 174, 23, 41, 141, 155, 255}},
    {{0, 3, 30, 39, 237, 212, 235, 252, 255}, {0, 4, 41, 45, 11, 47, 149, 207, 255}, {0, 4, 51, 200, 121, 37, 73, 164, 255}},
    {{0, 4, 41, 51, 246, 239, 231, 248, 255}, {0, 4, 41, 33, 11, 47, 124, 215, 255}, {0, 4, 51, 197, 122, 36, 16, 122, 255}},
    {{0, 14, 12, 32, 238, 250, 223, 254, 255}, {0, 15, 33, 153, 28, 29, 123, 207, 255}, {0, 17, 155, 29, 166, 30, 25, 166, 255}},
    {{0, 12, 29, 18, 58, 177, 225, 248, 255}, {0, 39, 30, 69, 109, 86, 110, 213, 255}, {0, 35, 145, 113, 101, 39, 16, 121, 255}},
};
constexpr int kKnotX[9] = {0, 32, 64, 96, 128, 160, 192, 224, 255};

// A shape-preserving cubic (Fritsch-Carlson) through the knots: smooth,
// exact at the knots, and never overshooting between them, so the bands of
// colour keep the levels the table gives.
Table interpolateCurve(const uint8_t* y) {
    constexpr int n = 9;
    double h[n - 1], delta[n - 1], d[n];
    for (int k = 0; k < n - 1; ++k) {
        h[k] = kKnotX[k + 1] - kKnotX[k];
        delta[k] = (double(y[k + 1]) - double(y[k])) / h[k];
    }
    for (int k = 1; k < n - 1; ++k) {
        if (delta[k - 1] * delta[k] <= 0) {
            d[k] = 0;
        } else {
            double w1 = 2 * h[k] + h[k - 1], w2 = h[k] + 2 * h[k - 1];
            d[k] = (w1 + w2) / (w1 / delta[k - 1] + w2 / delta[k]);
        }
    }
    auto endSlope = [](double h0, double h1, double d0, double d1) {
        double s = ((2 * h0 + h1) * d0 - h0 * d1) / (h0 + h1);
        if (s * d0 <= 0) return 0.0;
        if (d0 * d1 < 0 && std::fabs(s) > 3 * std::fabs(d0)) return 3 * d0;
        return s;
    };
    d[0] = endSlope(h[0], h[1], delta[0], delta[1]);
    d[n - 1] = endSlope(h[n - 2], h[n - 3], delta[n - 2], delta[n - 3]);
    Table t{};
    for (int k = 0; k < n - 1; ++k) {
        for (int x = kKnotX[k]; x <= kKnotX[k + 1]; ++x) {
            double s = (x - kKnotX[k]) / h[k];
            double h00 = (1 + 2 * s) * (1 - s) * (1 - s), h10 = s * (1 - s) * (1 - s);
            double h01 = s * s * (3 - 2 * s), h11 = s * s * (s - 1);
            double v = h00 * y[k] + h10 * h[k] * d[k] + h01 * y[k + 1] + h11 * h[k] * d[k + 1];
            t[size_t(x)] = uint8_t(std::clamp(std::lround(v), 0L, 255L));
        }
    }
    return t;
}

struct Curves {
    Table c[10][3];
    Curves() {
        for (int s = 0; s < 10; ++s) {
            for (int ch = 0; ch < 3; ++ch) c[s][ch] = interpolateCurve(kCurveKnots[s][ch]);
        }
    }
};

const Curves& curves() {
    static const Curves all;
    return all;
}

// ---- drawing -------------------------------------------------------------------

// Draws the image upright into `box` (lower-left origin).
void drawUpright(BitmapContext& ctx, const ImageRef& image, const Rect& box) {
    ctx.saveGState();
    ctx.translateCTM(box.x(), box.y());
    Size s{box.width(), box.height()};
    ctx.concatCTM(ImageCommon::getTransformWithImage(image, s));
    ctx.drawImage(Rect(0, 0, s.width, s.height), *image);
    ctx.restoreGState();
}

bool usable(const ImageRef& image) { return image && image->width() > 0 && image->height() > 0; }

// ---- margin detection ------------------------------------------------------------

struct Copies {
    ImageRef a;  // wide: about 800 x 120
    ImageRef b;  // tall: about 120 x 800
    double sx = 1, sy = 1;
};

bool makeCopies(const ImageRef& image, Copies& c) {
    if (!usable(image)) return false;
    double w = image->pointWidth(), h = image->pointHeight();
    if (!(w > 0) || !(h > 0)) return false;
    c.sx = w >= 800 ? 800 / w : 1;
    c.sy = h >= 800 ? 800 / h : 1;
    ImageRef a = ImageCommon::newScaledImage(image, Size{w * c.sx, 120});
    ImageRef b = ImageCommon::newScaledImage(image, Size{120, h * c.sy});
    if (!a || !b) return false;
    c.a = ImageCommon::newGammaImage(a, 0.5);
    c.b = ImageCommon::newGammaImage(b, 0.5);
    return c.a && c.b;
}

int stepSize(uint32_t p, uint32_t q) {
    auto d = [](uint32_t x, uint32_t y) { return std::abs(int(x) - int(y)); };
    return d(gfx::redOf(p), gfx::redOf(q)) + d(gfx::greenOf(p), gfx::greenOf(q)) +
           d(gfx::blueOf(p), gfx::blueOf(q));
}

// Scans lines (columns of copy A, or rows of copy B) in the given order and
// answers the first that holds two steps, or -1. `at(line, k)` is the k-th
// sample of a line, sampled at 2, 4, 6, ... below `samples`.
template <class At>
int firstContentLine(int from, int to, int dir, int samples, uint32_t start, At at) {
    uint32_t prev = start;
    for (int line = from; dir > 0 ? line < to : line >= to; line += dir) {
        int steps = 0;
        for (int k = 2; k < samples; k += 2) {
            uint32_t p = at(line, k);
            if (stepSize(p, prev) > 30) ++steps;
            prev = p;
            if (steps == 2) return line;
        }
    }
    return -1;
}

void fitInterval(int64_t& a, int64_t& b, double n) {
    int64_t last = int64_t(std::trunc(n)) - 1;
    if (a < 0) {
        b += -a;
        a = 0;
        if (b >= n) b = last;
    } else if (b >= n) {
        a = std::max<int64_t>(0, int64_t(std::trunc(double(a) - (double(b) - n + 1))));
        b = last;
    }
}

// Steps shared by both detections: from edges on the copies to a rectangle
// of the page, with the portrait and aspect rules.
Rect finishRect(const ImageRef& image, const Copies& c, int left, int top, int right, int bottom,
                bool keepAspectRatio) {
    double W = image->pointWidth(), H = image->pointHeight();
    int64_t x0 = int64_t(std::trunc(left / c.sx)), x1 = int64_t(std::trunc(right / c.sx));
    int64_t y0 = int64_t(std::trunc(top / c.sy)), y1 = int64_t(std::trunc(bottom / c.sy));
    int64_t w = int64_t(std::trunc((right - left + 1) / c.sx));
    int64_t h = int64_t(std::trunc((bottom - top + 1) / c.sy));
    if (w <= 0 || h <= 0) return Rect::null();
    if (H > W && w >= h) {
        int64_t g = (w - h + 3) / 2;
        y0 -= g;
        y1 += g;
        fitInterval(y0, y1, H);
        w = x1 - x0 + 1;
        h = y1 - y0 + 1;
    }
    if (keepAspectRatio && w > 0 && h > 0) {
        double q = H / W;
        if (q < double(h) / double(w)) {
            int64_t g = int64_t(std::trunc(double(h) / q - double(w))) / 2;
            x0 -= g;
            x1 += g;
            fitInterval(x0, x1, W);
        } else {
            int64_t g = int64_t(std::trunc(double(w) * q - double(h))) / 2;
            y0 -= g;
            y1 += g;
            fitInterval(y0, y1, H);
        }
        w = x1 - x0 + 1;
        h = y1 - y0 + 1;
    }
    return Rect(double(x0), double(y0), double(w), double(h));
}

}  // namespace

// ---- filters -------------------------------------------------------------------------

std::array<uint8_t, 256> ImageCommon::gammaTable(double gamma) {
    float g = float(gamma);
    std::lock_guard<std::mutex> lock(gGammaMutex);
    if (g != gGamma) {
        gGammaTable = buildGamma(g);
        gGamma = g;
    }
    return gGammaTable;
}

const std::array<uint8_t, 256>& ImageCommon::virtualColorCurve(int curveNo, int channel) {
    int set = (curveNo >= 1 && curveNo <= 9) ? curveNo - 1 : 9;
    return curves().c[set][std::clamp(channel, 0, 2)];
}

ImageRef ImageCommon::newFilterImage(const ImageRef& image, int code) {
    switch (code) {
    case kFilterGamma: return newGammaImage(image, 0.8);
    case kFilterGammaStrong: return newGammaImage(image, 0.6);
    case kFilterInvert: return newInvertImage(image, false);
    case kFilterInvertGray: return newInvertImage(image, true);
    case kFilterMirror: return newMirrorImage(image);
    case kFilterMonochrome: return newGrayImage(image, false);
    case kFilterAutoContrast: return newAutoContrast(image);
    case kFilterSepia: return newGrayImage(image, true);
    default:
        if (code >= kFilterVirtualColor && code <= kFilterVirtualColorLast) {
            return newVirtualColor(image, code - kFilterVirtualColor);
        }
        return nullptr;
    }
}

ImageRef ImageCommon::newGammaImage(const ImageRef& image, double gamma) {
    if (!usable(image) || !gammaUsable(gamma)) return nullptr;
    Table t = gammaTable(gamma);
    return mapColour(*image, [&t](uint32_t r, uint32_t g, uint32_t b) { return rgb(t[r], t[g], t[b]); });
}

ImageRef ImageCommon::newAutoContrast(const ImageRef& image) {
    if (!usable(image)) return nullptr;
    Table level = levelTable(*image, 0.9);
    return mapColour(*image, [&level](uint32_t r, uint32_t g, uint32_t b) {
        return rgb(level[r], level[g], level[b]);
    });
}

ImageRef ImageCommon::newVirtualColor(const ImageRef& image, int curveNo) {
    if (!usable(image)) return nullptr;
    if (isColorImage(image->pixels(), image->width(), image->height(), image->strideBytes())) return image;
    Table level = levelTable(*image, 0.95);
    Table R{}, G{}, B{};
    const Table& cr = virtualColorCurve(curveNo, 0);
    const Table& cg = virtualColorCurve(curveNo, 1);
    const Table& cb = virtualColorCurve(curveNo, 2);
    for (int v = 0; v < 256; ++v) {
        R[size_t(v)] = cr[level[size_t(v)]];
        G[size_t(v)] = cg[level[size_t(v)]];
        B[size_t(v)] = cb[level[size_t(v)]];
    }
    return mapColour(*image, [&](uint32_t r, uint32_t g, uint32_t b) { return rgb(R[r], G[g], B[b]); });
}

ImageRef ImageCommon::newInvertImage(const ImageRef& image, bool isOnlyGrayImage) {
    if (!usable(image)) return nullptr;
    if (isOnlyGrayImage &&
        isColorImage(image->pixels(), image->width(), image->height(), image->strideBytes())) {
        return image;
    }
    return mapColour(*image, [](uint32_t r, uint32_t g, uint32_t b) { return rgb(255 - r, 255 - g, 255 - b); });
}

ImageRef ImageCommon::newGrayImage(const ImageRef& image, bool sepia) {
    if (!usable(image)) return nullptr;
    // Red weighs 117 and blue 306: the page's established look.
    if (sepia) {
        return mapColour(*image, [](uint32_t r, uint32_t g, uint32_t b) {
            uint32_t y = (117 * r + 600 * g + 306 * b) >> 10;
            return rgb(std::min<uint32_t>(y, 225) + 30, g, std::max<uint32_t>(y, 30) - 30);
        });
    }
    return mapColour(*image, [](uint32_t r, uint32_t g, uint32_t b) {
        uint32_t y = (117 * r + 600 * g + 306 * b) >> 10;
        return rgb(y, y, y);
    });
}

ImageRef ImageCommon::newMirrorImage(const ImageRef& image) {
    if (!usable(image)) return nullptr;
    const int w = image->width(), h = image->height();
    std::vector<uint32_t> px;
    try {
        px.resize(size_t(w) * size_t(h));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    for (int y = 0; y < h; ++y) {
        const uint32_t* in = image->row(y);
        uint32_t* out = px.data() + size_t(y) * size_t(w);
        for (int x = 0; x < w; ++x) out[x] = in[w - 1 - x];
    }
    return Image::make(w, h, std::move(px), image->scale(), image->orientation());
}

bool ImageCommon::isColorImage(const uint32_t* pixels, int width, int height, size_t bytesPerRow) {
    if (!pixels || width <= 0 || height <= 0 || bytesPerRow < size_t(width) * 4) return false;
    const auto* base = reinterpret_cast<const uint8_t*>(pixels);
    int hues[32 * 32];
    int n = 0;
    int64_t sum = 0;
    for (int j = 0; j < 32; ++j) {
        int y = int((int64_t(j) * height) >> 5);
        const auto* row = reinterpret_cast<const uint32_t*>(base + size_t(y) * bytesPerRow);
        for (int i = 0; i < 32; ++i) {
            uint32_t p = row[(int64_t(i) * width) >> 5];
            int r = int(gfx::redOf(p)), g = int(gfx::greenOf(p)), b = int(gfx::blueOf(p));
            int mx = std::max({r, g, b}), mn = std::min({r, g, b});
            if (mx < 15 || double(mx - mn) / mx <= 0.3) continue;
            double span = mx - mn, hue;
            if (r == mx) hue = 60.0 * (g - b) / span;
            else if (g == mx) hue = 60.0 * (b - r) / span + 120;
            else hue = 60.0 * (r - g) / span + 240;
            hues[n++] = int(hue);
            sum += int(hue);
        }
    }
    if (n == 0) return false;
    double mean = double(sum) / n;
    int64_t total = 0;
    for (int k = 0; k < n; ++k) total = int64_t(double(total) + (mean - hues[k]) * (mean - hues[k]));
    int64_t variance = total / n;
    return n >= 11 && variance > 40;
}

// ---- geometry -------------------------------------------------------------------------

AffineTransform ImageCommon::getTransformWithImage(const ImageRef& image, Size& size) {
    AffineTransform t;
    if (!image) return t;
    const double w = size.width, h = size.height, pi = std::numbers::pi;
    switch (image->orientation()) {
    case Orientation::Up: break;
    case Orientation::Down: t = t.translated(w, h).rotated(pi); break;
    case Orientation::Left:
        size = Size{h, w};
        t = t.translated(w, 0).rotated(pi / 2);
        break;
    case Orientation::Right:
        size = Size{h, w};
        t = t.translated(0, h).rotated(3 * pi / 2);
        break;
    case Orientation::UpMirrored: t = t.translated(w, 0).scaled(-1, 1); break;
    case Orientation::DownMirrored: t = t.translated(0, h).scaled(1, -1); break;
    // The two mirrored quarter turns: the transposition about the picture's
    // main diagonal (LeftMirrored) and about the other one (RightMirrored).
    case Orientation::LeftMirrored:
        size = Size{h, w};
        t = t.translated(w, h).scaled(-1, 1).rotated(3 * pi / 2);
        break;
    case Orientation::RightMirrored:
        size = Size{h, w};
        t = t.scaled(-1, 1).rotated(pi / 2);
        break;
    }
    return t;
}

ImageRef ImageCommon::newScaledImage(const ImageRef& image, Size size, Rect sourceRect) {
    if (!usable(image)) return nullptr;
    int cw, ch;
    if (!canvasSize(size.width, size.height, cw, ch)) return nullptr;
    if (!std::isfinite(sourceRect.x()) || !std::isfinite(sourceRect.y()) ||
        !(sourceRect.width() > 0) || !(sourceRect.height() > 0) ||
        !std::isfinite(sourceRect.width()) || !std::isfinite(sourceRect.height())) {
        return nullptr;
    }
    double kx = size.width / sourceRect.width(), ky = size.height / sourceRect.height();
    Rect box(-sourceRect.x() * kx, -sourceRect.y() * ky, kx * image->pointWidth(),
             ky * image->pointHeight());
    if (!std::isfinite(box.width()) || !std::isfinite(box.height())) return nullptr;
    auto ctx = BitmapContext::create(cw, ch);
    if (!ctx) return nullptr;
    drawUpright(*ctx, image, box);
    return ctx->takeImage();
}

ImageRef ImageCommon::newScaledImage(const ImageRef& image, Size size) {
    if (!usable(image)) return nullptr;
    return newScaledImage(image, size, Rect(0, 0, image->pointWidth(), image->pointHeight()));
}

ImageRef ImageCommon::newScaledImageWithLeftImage(const ImageRef& leftImage, const ImageRef& rightImage,
                                                  Size size, double spaceCenterRatio, Size leftSize,
                                                  Size rightSize) {
    int cw, ch;
    if (!canvasSize(size.width, size.height, cw, ch)) return nullptr;
    // A gap of the whole width (or more, or less than none) leaves no room
    // for a page: refuse instead of dividing by nothing.
    if (!std::isfinite(spaceCenterRatio) || spaceCenterRatio < 0 || spaceCenterRatio >= 1) return nullptr;
    const double W = size.width, H = size.height;
    float space = float(W * spaceCenterRatio);
    int avail = 0;
    if (!toPixels((W - space) * 0.5, avail) || avail <= 0) return nullptr;

    struct Placed {
        int dw = 0, dh = 0;
    };
    auto place = [&](const ImageRef& img, Size given) {
        double pw = img ? img->pointWidth() : 100, ph = img ? img->pointHeight() : 100;
        if (given.width > 0 && given.height > 0 && std::isfinite(given.width) && std::isfinite(given.height)) {
            pw = given.width;
            ph = given.height;
        }
        float scale = std::min(float(avail / pw), float(H / ph));
        Placed p;
        if (!toPixels(pw * scale, p.dw) || !toPixels(ph * scale, p.dh)) p.dw = p.dh = 0;
        return p;
    };
    Placed l = place(leftImage, leftSize), r = place(rightImage, rightSize);
    auto ctx = BitmapContext::create(cw, ch);
    if (!ctx) return nullptr;
    if (usable(leftImage) && l.dw > 0 && l.dh > 0) {
        int x = int(std::trunc(W * 0.5 - l.dw - space * 0.5));
        drawUpright(*ctx, leftImage, Rect(x, (ch - l.dh) / 2, l.dw, l.dh));
    }
    if (usable(rightImage) && r.dw > 0 && r.dh > 0) {
        int x = int(std::trunc(W * 0.5 + space * 0.5));
        drawUpright(*ctx, rightImage, Rect(x, (ch - r.dh) / 2, r.dw, r.dh));
    }
    return ctx->takeImage();
}

ImageRef ImageCommon::newCenterImageIfSmall(const ImageRef& image, Size minSize, Point* offsetResult) {
    if (!usable(image)) return nullptr;
    const double iw = image->pointWidth(), ih = image->pointHeight();
    if (iw > minSize.width && ih > minSize.height) {
        if (offsetResult) *offsetResult = Point{0, 0};
        return image;
    }
    int cw, ch;
    if (!canvasSize(std::max(minSize.width, iw), std::max(minSize.height, ih), cw, ch)) return nullptr;
    int ox = int(std::trunc((cw - iw) * 0.5)), oy = int(std::trunc((ch - ih) * 0.5));
    auto ctx = BitmapContext::create(cw, ch);
    if (!ctx) return nullptr;
    drawUpright(*ctx, image, Rect(ox, oy, iw, ih));
    if (offsetResult) *offsetResult = Point{double(ox), double(oy)};
    return ctx->takeImage();
}

ImageRef ImageCommon::newScaledImageKeepAspect(const ImageRef& image, Size size, Point* /*offsetResult*/,
                                               bool mustEven) {
    if (!usable(image)) return nullptr;
    double scale = std::min(size.width / image->pointWidth(), size.height / image->pointHeight());
    int w, h;
    if (!toPixels(image->pointWidth() * scale, w) || !toPixels(image->pointHeight() * scale, h)) return nullptr;
    if (mustEven) {
        w -= w & 1;
        h -= h & 1;
    }
    if (w <= 0 || h <= 0) return nullptr;
    return newScaledImage(image, Size{double(w), double(h)});
}

ImageRef ImageCommon::newClipedImage(const ImageRef& image, Rect clip) {
    if (!usable(image)) return nullptr;
    int cw, ch;
    if (!std::isfinite(clip.x()) || !std::isfinite(clip.y()) ||
        !canvasSize(clip.width(), clip.height(), cw, ch)) {
        return nullptr;
    }
    const double iw = image->pointWidth(), ih = image->pointHeight();
    auto ctx = BitmapContext::create(cw, ch);
    if (!ctx) return nullptr;
    drawUpright(*ctx, image, Rect(-clip.x(), -(ih - clip.y() - clip.height()), iw, ih));
    return ctx->takeImage();
}

// ---- margin detection ------------------------------------------------------------------

Rect ImageCommon::getClipBlankSpaceImageRect(const ImageRef& image, bool keepAspectRatio) {
    Copies c;
    if (!makeCopies(image, c)) return Rect::null();
    const Image& A = *c.a;
    const Image& B = *c.b;
    const int wA = A.width(), hA = A.height(), wB = B.width(), hB = B.height();

    auto colSample = [&A](int col, int k) { return A.pixel(col, k); };
    auto rowSample = [&B](int row, int k) { return B.pixel(k, row); };

    int left;
    int limit = int(float(wA) - 0.7f * float(wA));
    if (limit < 2) {
        left = 0;
    } else {
        int c1 = firstContentLine(1, limit, 1, hA, A.pixel(0, 0), colSample);
        left = c1 < 0 ? limit : (c1 == 1 ? 0 : c1);
    }
    int cr = firstContentLine(wA - 2, 0, -1, hA, A.pixel(0, 0), colSample);
    int right = cr < 0 ? 1 : (cr == wA - 2 ? wA - 1 : cr + 2);

    int top;
    limit = int(float(hB) - 0.7f * float(hB));
    if (limit < 2) {
        top = 0;
    } else {
        int r1 = firstContentLine(1, limit, 1, wB, B.pixel(0, 0), rowSample);
        top = r1 < 0 ? limit : (r1 == 1 ? 0 : r1);
    }
    int rb = firstContentLine(hB - 2, 0, -1, wB, B.pixel(0, 0), rowSample);
    int bottom = rb < 0 ? 1 : (rb == hB - 2 ? hB - 1 : rb + 2);

    right = std::min(right, wA - 1);
    bottom = std::min(bottom, hB - 1);
    if (top >= bottom || left >= right) {
        left = top = 0;
        right = wA - 1;
        bottom = hB - 1;
    }
    return finishRect(image, c, left, top, right, bottom, keepAspectRatio);
}

Rect ImageCommon::getClipBlankSpaceImageRectOld(const ImageRef& image, bool keepAspectRatio) {
    Copies c;
    if (!makeCopies(image, c)) return Rect::null();
    const Image& A = *c.a;
    const Image& B = *c.b;
    const int wA = A.width(), hA = A.height(), wB = B.width(), hB = B.height();
    auto ink = [](uint32_t p) { return gfx::redOf(p) < 170 || gfx::greenOf(p) < 170 || gfx::blueOf(p) < 170; };

    // Start from the middle half and widen to every bit of ink.
    int left = int(float(wA - 1) - 0.75f * float(wA)), right = int(0.75f * float(wA));
    for (int r = 2; r < hA; r += 2) {
        for (int col = 0; col < wA; ++col) {
            if (!ink(A.pixel(col, r))) continue;
            left = std::min(left, col);
            right = std::max(right, col);
        }
    }
    int top = int(float(hB - 1) - 0.75f * float(hB)), bottom = int(0.75f * float(hB));
    for (int col = 2; col < wB; col += 2) {
        for (int r = 0; r < hB; ++r) {
            if (!ink(B.pixel(col, r))) continue;
            top = std::min(top, r);
            bottom = std::max(bottom, r);
        }
    }
    if (top >= bottom || left >= right) {
        left = top = 0;
        right = wA - 1;
        bottom = hB - 1;
    } else {
        int m = int(double(wA) * 0.03);
        left = std::max(0, left - m);
        top = std::max(0, top - m);
        right = right + m >= wA ? wA - 1 : right + m;
        bottom = bottom + m >= hB ? hB - 1 : bottom + m;
    }
    return finishRect(image, c, left, top, right, bottom, keepAspectRatio);
}
