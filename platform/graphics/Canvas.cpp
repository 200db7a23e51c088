#include "platform/graphics/Canvas.h"

#include <algorithm>
#include <cairo.h>
#include <spng.h>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace gfx {

namespace {

void setColor(cairo_t* cr, const Rgba& c) { cairo_set_source_rgba(cr, c.r, c.g, c.b, c.a); }

// A cairo surface over the image's own pixels (cairo only reads them here).
cairo_surface_t* surfaceFor(const Image& image) {
    return cairo_image_surface_create_for_data(
        reinterpret_cast<unsigned char*>(const_cast<uint32_t*>(image.pixels())), CAIRO_FORMAT_ARGB32,
        image.width(), image.height(), int(image.strideBytes()));
}

// Maps stored pixels to upright pixels for the image's orientation.
cairo_matrix_t uprightMatrix(const Image& image) {
    const double w = image.width(), h = image.height();
    cairo_matrix_t m;
    switch (image.orientation()) {
    case Orientation::Up: cairo_matrix_init(&m, 1, 0, 0, 1, 0, 0); break;
    case Orientation::UpMirrored: cairo_matrix_init(&m, -1, 0, 0, 1, w, 0); break;
    case Orientation::Down: cairo_matrix_init(&m, -1, 0, 0, -1, w, h); break;
    case Orientation::DownMirrored: cairo_matrix_init(&m, 1, 0, 0, -1, 0, h); break;
    // (x, y) -> (y, x)
    case Orientation::LeftMirrored: cairo_matrix_init(&m, 0, 1, 1, 0, 0, 0); break;
    // (x, y) -> (h - y, x)
    case Orientation::Right: cairo_matrix_init(&m, 0, 1, -1, 0, h, 0); break;
    // (x, y) -> (h - y, w - x)
    case Orientation::RightMirrored: cairo_matrix_init(&m, 0, -1, -1, 0, h, w); break;
    // (x, y) -> (y, w - x)
    case Orientation::Left: cairo_matrix_init(&m, 0, -1, 1, 0, 0, w); break;
    }
    return m;
}

cairo_filter_t filterFor(Interpolation q) {
    switch (q) {
    case Interpolation::Nearest: return CAIRO_FILTER_NEAREST;
    case Interpolation::Bilinear: return CAIRO_FILTER_BILINEAR;
    case Interpolation::Good: return CAIRO_FILTER_GOOD;
    }
    return CAIRO_FILTER_GOOD;
}

// The pixel whose channels are the rounded means over `n` pixels of the
// running sums `a` (blue and red, 16 bits each) and `b` (green and alpha).
inline uint32_t meanPixel(uint32_t a, uint32_t b, uint32_t n) {
    const uint32_t c0 = ((a & 0xffff) + n / 2) / n, c2 = ((a >> 16) + n / 2) / n;
    const uint32_t c1 = ((b & 0xffff) + n / 2) / n, c3 = ((b >> 16) + n / 2) / n;
    return c0 | (c1 << 8) | (c2 << 16) | (c3 << 24);
}

// Three box-blur passes over premultiplied ARGB pixels, the four channels
// together; the edges are taken as reaching on (nothing dark creeps in from
// outside).
void boxBlurPixels(uint32_t* px, int w, int h, int stride, int r) {
    if (r <= 0 || w <= 0 || h <= 0) return;
    // Two channels a word in the running sums (blue and red, green and
    // alpha): a window of up to 257 pixels keeps each to 16 bits.
    r = std::min(r, 128);
    const int n = std::max(w, h);
    std::vector<uint32_t> line(static_cast<size_t>(n)), out(static_cast<size_t>(n));
    const uint32_t d = uint32_t(2 * r + 1);
    auto blurLine = [&](int len) {
        uint32_t a = 0, b = 0;
        auto at = [&](int i) { return line[size_t(std::clamp(i, 0, len - 1))]; };
        for (int i = -r; i <= r; ++i) {
            const uint32_t p = at(i);
            a += p & 0x00ff00ffu;
            b += (p >> 8) & 0x00ff00ffu;
        }
        for (int x = 0; x < len; ++x) {
            out[size_t(x)] = meanPixel(a, b, d);
            const uint32_t gone = at(x - r), come = at(x + r + 1);
            a = a - (gone & 0x00ff00ffu) + (come & 0x00ff00ffu);
            b = b - ((gone >> 8) & 0x00ff00ffu) + ((come >> 8) & 0x00ff00ffu);
        }
    };
    for (int pass = 0; pass < 3; ++pass) {
        for (int y = 0; y < h; ++y) {
            uint32_t* row = px + size_t(y) * size_t(stride);
            std::copy(row, row + w, line.begin());
            blurLine(w);
            std::copy(out.begin(), out.begin() + w, row);
        }
        for (int x = 0; x < w; ++x) {
            for (int y = 0; y < h; ++y) line[size_t(y)] = px[size_t(y) * size_t(stride) + size_t(x)];
            blurLine(h);
            for (int y = 0; y < h; ++y) px[size_t(y) * size_t(stride) + size_t(x)] = out[size_t(y)];
        }
    }
}

// Three box-blur passes approximate a gaussian; works in place on A8 rows.
void boxBlur(std::vector<uint8_t>& a, int w, int h, int stride, int r) {
    if (r <= 0) return;
    std::vector<uint8_t> tmp(size_t(std::max(w, h)));
    for (int pass = 0; pass < 3; ++pass) {
        for (int y = 0; y < h; ++y) {
            uint8_t* row = a.data() + size_t(y) * size_t(stride);
            int sum = 0;
            for (int i = -r; i <= r; ++i) sum += row[std::clamp(i, 0, w - 1)] * (i >= 0 && i < w);
            for (int x = 0; x < w; ++x) {
                tmp[size_t(x)] = uint8_t(sum / (2 * r + 1));
                int out = x - r, in = x + r + 1;
                if (out >= 0) sum -= row[out];
                if (in < w) sum += row[in];
            }
            std::copy(tmp.begin(), tmp.begin() + w, row);
        }
        for (int x = 0; x < w; ++x) {
            int sum = 0;
            for (int i = 0; i <= r && i < h; ++i) sum += a[size_t(i) * size_t(stride) + size_t(x)];
            for (int y = 0; y < h; ++y) {
                tmp[size_t(y)] = uint8_t(sum / (2 * r + 1));
                int out = y - r, in = y + r + 1;
                if (out >= 0) sum -= a[size_t(out) * size_t(stride) + size_t(x)];
                if (in < h) sum += a[size_t(in) * size_t(stride) + size_t(x)];
            }
            for (int y = 0; y < h; ++y) a[size_t(y) * size_t(stride) + size_t(x)] = tmp[size_t(y)];
        }
    }
}

}  // namespace

Canvas::Canvas(int pixelWidth, int pixelHeight, double scale)
    : width_(std::max(1, pixelWidth)), height_(std::max(1, pixelHeight)), scale_(scale > 0 ? scale : 1) {
    surface_ = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width_, height_);
    cr_ = cairo_create(surface_);
    cairo_scale(cr_, scale_, scale_);
}

Canvas::Canvas(cairo_surface_t* surface, double scale)
    : width_(cairo_image_surface_get_width(surface)),
      height_(cairo_image_surface_get_height(surface)),
      scale_(scale > 0 ? scale : 1),
      surface_(cairo_surface_reference(surface)) {
    cr_ = cairo_create(surface_);
    cairo_scale(cr_, scale_, scale_);
}

Canvas::~Canvas() {
    cairo_destroy(cr_);
    cairo_surface_destroy(surface_);
}

void Canvas::save() { cairo_save(cr_); }
void Canvas::restore() { cairo_restore(cr_); }
void Canvas::translate(double x, double y) { cairo_translate(cr_, x, y); }
void Canvas::scaleBy(double sx, double sy) { cairo_scale(cr_, sx, sy); }
void Canvas::rotate(double radians) { cairo_rotate(cr_, radians); }

void Canvas::concat(const AffineTransform& t) {
    cairo_matrix_t m;
    cairo_matrix_init(&m, t.a, t.b, t.c, t.d, t.tx, t.ty);
    cairo_transform(cr_, &m);
}

AffineTransform Canvas::currentTransform() const {
    cairo_matrix_t m;
    cairo_get_matrix(cr_, &m);
    return {m.xx, m.yx, m.xy, m.yy, m.x0, m.y0};
}

void Canvas::clipRect(const Rect& r) {
    cairo_new_path(cr_);
    cairo_rectangle(cr_, r.x(), r.y(), r.width(), r.height());
    cairo_clip(cr_);
}

void Canvas::clipRoundedRect(const Rect& r, double radius) { clipPath(Path::roundedRect(r, radius)); }

void Canvas::clipPath(const Path& p) {
    p.apply(cr_);
    cairo_clip(cr_);
}

void Canvas::clear(const Rgba& color) {
    cairo_save(cr_);
    cairo_reset_clip(cr_);
    cairo_identity_matrix(cr_);
    cairo_set_operator(cr_, CAIRO_OPERATOR_SOURCE);
    setColor(cr_, color);
    cairo_paint(cr_);
    cairo_restore(cr_);
}

void Canvas::fillRect(const Rect& r, const Rgba& color) {
    if (color.isClear()) return;
    cairo_new_path(cr_);
    cairo_rectangle(cr_, r.x(), r.y(), r.width(), r.height());
    setColor(cr_, color);
    cairo_fill(cr_);
}

void Canvas::strokeRect(const Rect& r, const Rgba& color, double width) {
    cairo_new_path(cr_);
    cairo_rectangle(cr_, r.x(), r.y(), r.width(), r.height());
    setColor(cr_, color);
    cairo_set_line_width(cr_, width);
    cairo_stroke(cr_);
}

void Canvas::fillRoundedRect(const Rect& r, double radius, const Rgba& color) {
    fillPath(Path::roundedRect(r, radius), color);
}

void Canvas::strokeRoundedRectInside(const Rect& r, double radius, const Rgba& color, double width) {
    if (!(width > 0) || color.isClear()) return;
    // Outer outline minus the inner one, so the border never spills outside.
    Path p = Path::roundedRect(r, radius);
    Rect inner(r.x() + width, r.y() + width, std::max(0.0, r.width() - 2 * width),
               std::max(0.0, r.height() - 2 * width));
    p.addRoundedRect(inner, std::max(0.0, radius - width));
    fillPath(p, color, true);
}

void Canvas::fillEllipse(const Rect& r, const Rgba& color) { fillPath(Path::ellipse(r), color); }

void Canvas::fillPath(const Path& p, const Rgba& color, bool evenOdd) {
    if (color.isClear()) return;
    p.apply(cr_);
    cairo_set_fill_rule(cr_, evenOdd ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
    setColor(cr_, color);
    cairo_fill(cr_);
    cairo_set_fill_rule(cr_, CAIRO_FILL_RULE_WINDING);
}

void Canvas::strokePath(const Path& p, const Rgba& color, double width, LineCap cap) {
    if (color.isClear()) return;
    p.apply(cr_);
    setColor(cr_, color);
    cairo_set_line_width(cr_, width);
    cairo_set_line_cap(cr_, cap == LineCap::Round    ? CAIRO_LINE_CAP_ROUND
                            : cap == LineCap::Square ? CAIRO_LINE_CAP_SQUARE
                                                     : CAIRO_LINE_CAP_BUTT);
    cairo_set_line_join(cr_, CAIRO_LINE_JOIN_ROUND);
    cairo_stroke(cr_);
    cairo_set_line_cap(cr_, CAIRO_LINE_CAP_BUTT);
}

void Canvas::drawLine(Point a, Point b, const Rgba& color, double width, LineCap cap) {
    strokePath(Path().moveTo(a).lineTo(b), color, width, cap);
}

void Canvas::drawImage(const Image& image, const Rect& dest, Interpolation q, double alpha) {
    double pw = image.pointWidth(), ph = image.pointHeight();
    if (!(pw > 0) || !(ph > 0)) return;
    AffineTransform t = AffineTransform::makeTranslation(dest.x(), dest.y())
                            .scaled(dest.width() / pw, dest.height() / ph);
    cairo_save(cr_);
    cairo_new_path(cr_);
    cairo_rectangle(cr_, dest.x(), dest.y(), dest.width(), dest.height());
    cairo_clip(cr_);
    drawImage(image, t, q, alpha);
    cairo_restore(cr_);
}

void Canvas::drawImage(const Image& image, const AffineTransform& transform, Interpolation q, double alpha) {
    if (image.width() <= 0 || image.height() <= 0 || alpha <= 0) return;
    cairo_surface_t* s = surfaceFor(image);
    cairo_save(cr_);
    concat(transform);
    // Upright pixels to points.
    cairo_scale(cr_, 1.0 / image.scale(), 1.0 / image.scale());
    cairo_matrix_t up = uprightMatrix(image);
    cairo_transform(cr_, &up);
    cairo_pattern_t* pat = cairo_pattern_create_for_surface(s);
    cairo_pattern_set_filter(pat, filterFor(q));
    cairo_pattern_set_extend(pat, CAIRO_EXTEND_PAD);
    cairo_set_source(cr_, pat);
    cairo_new_path(cr_);
    cairo_rectangle(cr_, 0, 0, image.width(), image.height());
    cairo_clip(cr_);
    if (alpha >= 1)
        cairo_paint(cr_);
    else
        cairo_paint_with_alpha(cr_, alpha);
    cairo_pattern_destroy(pat);
    cairo_restore(cr_);
    cairo_surface_destroy(s);
}

void Canvas::drawNineSlice(const Image& image, const EdgeInsets& caps, const Rect& dest, Interpolation q,
                           double alpha) {
    const double pw = image.pointWidth(), ph = image.pointHeight();
    if (!(pw > 0) || !(ph > 0)) return;
    // Caps never exceed the image, nor the destination (they shrink evenly).
    double l = std::clamp(caps.left, 0.0, pw), r = std::clamp(caps.right, 0.0, pw - l);
    double t = std::clamp(caps.top, 0.0, ph), b = std::clamp(caps.bottom, 0.0, ph - t);
    double fx = (l + r) > dest.width() && l + r > 0 ? dest.width() / (l + r) : 1.0;
    double fy = (t + b) > dest.height() && t + b > 0 ? dest.height() / (t + b) : 1.0;
    const double sx[4] = {0, l, pw - r, pw};
    const double sy[4] = {0, t, ph - b, ph};
    const double dx[4] = {dest.x(), dest.x() + l * fx, dest.maxX() - r * fx, dest.maxX()};
    const double dy[4] = {dest.y(), dest.y() + t * fy, dest.maxY() - b * fy, dest.maxY()};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            double sw = sx[j + 1] - sx[j], sh = sy[i + 1] - sy[i];
            double dw = dx[j + 1] - dx[j], dh = dy[i + 1] - dy[i];
            if (!(sw > 0) || !(sh > 0) || !(dw > 0) || !(dh > 0)) continue;
            AffineTransform tr = AffineTransform::makeTranslation(dx[j], dy[i])
                                     .scaled(dw / sw, dh / sh)
                                     .translated(-sx[j], -sy[i]);
            cairo_save(cr_);
            cairo_new_path(cr_);
            cairo_rectangle(cr_, dx[j], dy[i], dw, dh);
            cairo_clip(cr_);
            drawImage(image, tr, q, alpha);
            cairo_restore(cr_);
        }
    }
}

void Canvas::drawImageTinted(const Image& image, const Rect& dest, const Rgba& color, Interpolation q) {
    beginTintGroup();
    drawImage(image, dest, q, 1.0);
    endTintGroup(color);
}

void Canvas::beginGroup() { cairo_push_group(cr_); }

void Canvas::endGroup(double alpha) {
    cairo_pop_group_to_source(cr_);
    cairo_paint_with_alpha(cr_, std::clamp(alpha, 0.0, 1.0));
}

void Canvas::beginTintGroup() { cairo_push_group(cr_); }

void Canvas::endTintGroup(const Rgba& color) {
    cairo_pattern_t* mask = cairo_pop_group(cr_);
    setColor(cr_, color);
    cairo_mask(cr_, mask);
    cairo_pattern_destroy(mask);
}

void Canvas::drawShadow(const Path& shape, const Rgba& color, Point offset, double radius) {
    if (color.isClear() || shape.isEmpty()) return;
    cairo_matrix_t m;
    cairo_get_matrix(cr_, &m);
    const double devScale = std::sqrt(std::fabs(m.xx * m.yy - m.xy * m.yx));
    const int r = int(std::lround(std::max(0.0, radius) * devScale / 2));
    // Device bounds of the moved shape, grown by the blur.
    Rect b = shape.bounds();
    double xs[4], ys[4];
    Point corners[4] = {{b.minX(), b.minY()}, {b.maxX(), b.minY()}, {b.minX(), b.maxY()}, {b.maxX(), b.maxY()}};
    for (int i = 0; i < 4; ++i) {
        xs[i] = corners[i].x + offset.x;
        ys[i] = corners[i].y + offset.y;
        cairo_user_to_device(cr_, &xs[i], &ys[i]);
    }
    int x0 = int(std::floor(*std::min_element(xs, xs + 4))) - 3 * r - 1;
    int y0 = int(std::floor(*std::min_element(ys, ys + 4))) - 3 * r - 1;
    int x1 = int(std::ceil(*std::max_element(xs, xs + 4))) + 3 * r + 1;
    int y1 = int(std::ceil(*std::max_element(ys, ys + 4))) + 3 * r + 1;
    // Only what can show on this surface.
    x0 = std::max(x0, -3 * r - 1);
    y0 = std::max(y0, -3 * r - 1);
    x1 = std::min(x1, width_ + 3 * r + 1);
    y1 = std::min(y1, height_ + 3 * r + 1);
    int w = x1 - x0, h = y1 - y0;
    if (w <= 0 || h <= 0) return;
    int stride = cairo_format_stride_for_width(CAIRO_FORMAT_A8, w);
    std::vector<uint8_t> data(size_t(stride) * size_t(h), 0);
    cairo_surface_t* a8 = cairo_image_surface_create_for_data(data.data(), CAIRO_FORMAT_A8, w, h, stride);
    cairo_t* c2 = cairo_create(a8);
    cairo_translate(c2, -x0, -y0);
    cairo_transform(c2, &m);
    cairo_translate(c2, offset.x, offset.y);
    shape.apply(c2);
    cairo_set_source_rgba(c2, 0, 0, 0, 1);
    cairo_fill(c2);
    cairo_destroy(c2);
    cairo_surface_flush(a8);
    boxBlur(data, w, h, stride, r);
    cairo_surface_mark_dirty(a8);
    cairo_save(cr_);
    cairo_identity_matrix(cr_);
    setColor(cr_, color);
    cairo_mask_surface(cr_, a8, x0, y0);
    cairo_restore(cr_);
    cairo_surface_destroy(a8);
}

void Canvas::blurBehind(const Rect& rect, double radius) {
    // What lies behind is on the surface under any group being drawn (a
    // view fading in draws into a group of its own).
    cairo_surface_t* base = cairo_get_target(cr_);
    if (!base || cairo_surface_get_type(base) != CAIRO_SURFACE_TYPE_IMAGE ||
        cairo_image_surface_get_format(base) != CAIRO_FORMAT_ARGB32 || rect.width() <= 0 || rect.height() <= 0)
        return;
    cairo_matrix_t m;
    cairo_get_matrix(cr_, &m);
    const double devScale = std::sqrt(std::fabs(m.xx * m.yy - m.xy * m.yx));
    // Box radius of each of the three passes, in device pixels.
    const double r = std::max(0.0, radius) * devScale / 2;
    if (r < 0.5) return;
    double xs[4], ys[4];
    Point corners[4] = {{rect.minX(), rect.minY()}, {rect.maxX(), rect.minY()}, {rect.minX(), rect.maxY()},
                        {rect.maxX(), rect.maxY()}};
    for (int i = 0; i < 4; ++i) {
        xs[i] = corners[i].x;
        ys[i] = corners[i].y;
        cairo_user_to_device(cr_, &xs[i], &ys[i]);
    }
    // The region in device space, and the base surface's pixels under it.
    const double dx0 = std::floor(*std::min_element(xs, xs + 4)), dy0 = std::floor(*std::min_element(ys, ys + 4));
    const double dx1 = std::ceil(*std::max_element(xs, xs + 4)), dy1 = std::ceil(*std::max_element(ys, ys + 4));
    double bx = 0, by = 0;
    cairo_surface_get_device_offset(base, &bx, &by);
    const int bw = cairo_image_surface_get_width(base), bh = cairo_image_surface_get_height(base);
    // The blur reaches three box radii around each pixel, though little of
    // it comes from beyond two: read that far out.
    const int pad = int(std::ceil(2 * r));
    const int sx0 = std::max(0, int(dx0 + bx) - pad), sy0 = std::max(0, int(dy0 + by) - pad);
    const int sx1 = std::min(bw, int(dx1 + bx) + pad), sy1 = std::min(bh, int(dy1 + by) + pad);
    if (sx1 <= sx0 || sy1 <= sy0 || dx1 <= dx0 || dy1 <= dy0) return;
    cairo_surface_flush(base);
    unsigned char* pixels = cairo_image_surface_get_data(base);
    if (!pixels) return;
    // Blurred at a fraction of the size, which a wide blur cannot tell from
    // the whole, and drawn back smoothly: each small pixel is the mean of
    // the f x f pixels it stands for (at most 16 x 16, so that a channel's
    // sum keeps to 16 bits). A glass panel on a phone costs about 3 ms a frame.
    const int f = std::clamp(int(r / 3), 1, 16);
    const int smallW = (sx1 - sx0 + f - 1) / f, smallH = (sy1 - sy0 + f - 1) / f;
    cairo_surface_t* small = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, smallW, smallH);
    if (cairo_surface_status(small) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(small);
        return;
    }
    {
        const int stride = cairo_image_surface_get_stride(base);
        uint32_t* out = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(small));
        const int outStride = cairo_image_surface_get_stride(small) / 4;
        // Two channels a word: blue and red, green and alpha.
        std::vector<uint32_t> br(static_cast<size_t>(smallW)), ga(static_cast<size_t>(smallW));
        const int width = sx1 - sx0;
        for (int y = 0; y < smallH; ++y) {
            std::fill(br.begin(), br.end(), 0u);
            std::fill(ga.begin(), ga.end(), 0u);
            const int rows = std::min(f, sy1 - sy0 - y * f);
            for (int yy = 0; yy < rows; ++yy) {
                const uint32_t* row = reinterpret_cast<const uint32_t*>(pixels + size_t(sy0 + y * f + yy) * size_t(stride)) + sx0;
                for (int bx0 = 0, i = 0; bx0 < width; bx0 += f, ++i) {
                    uint32_t a = 0, b = 0;
                    const int end = std::min(width, bx0 + f);
                    for (int x = bx0; x < end; ++x) {
                        a += row[x] & 0x00ff00ffu;
                        b += (row[x] >> 8) & 0x00ff00ffu;
                    }
                    br[size_t(i)] += a;
                    ga[size_t(i)] += b;
                }
            }
            for (int x = 0; x < smallW; ++x) {
                const uint32_t n = uint32_t(rows * std::min(f, width - x * f));
                out[size_t(y) * size_t(outStride) + size_t(x)] = meanPixel(br[size_t(x)], ga[size_t(x)], n);
            }
        }
    }
    cairo_surface_flush(small);
    boxBlurPixels(reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(small)), smallW, smallH,
                  cairo_image_surface_get_stride(small) / 4, std::max(1, int(std::lround(r / f))));
    cairo_surface_mark_dirty(small);
    // Drawn back over the region alone, through the clip in force (a
    // rounded glass shows its blur only inside its corners).
    cairo_save(cr_);
    cairo_identity_matrix(cr_);
    cairo_new_path(cr_);
    cairo_rectangle(cr_, dx0, dy0, dx1 - dx0, dy1 - dy0);
    cairo_clip(cr_);
    cairo_pattern_t* pattern = cairo_pattern_create_for_surface(small);
    cairo_matrix_t toSmall;
    cairo_matrix_init_scale(&toSmall, 1.0 / f, 1.0 / f);
    cairo_matrix_translate(&toSmall, -(sx0 - bx), -(sy0 - by));
    cairo_pattern_set_matrix(pattern, &toSmall);
    cairo_pattern_set_filter(pattern, CAIRO_FILTER_BILINEAR);
    cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
    cairo_set_source(cr_, pattern);
    cairo_set_operator(cr_, CAIRO_OPERATOR_SOURCE);
    cairo_paint(cr_);
    cairo_pattern_destroy(pattern);
    cairo_restore(cr_);
    cairo_surface_destroy(small);
}

void Canvas::beginShadowGroup() { cairo_push_group(cr_); }

void Canvas::endShadowGroup(const Rgba& color, Point offset, double radius) {
    cairo_pattern_t* content = cairo_pop_group(cr_);
    cairo_surface_t* gs = nullptr;
    if (!color.isClear() && cairo_pattern_get_surface(content, &gs) == CAIRO_STATUS_SUCCESS &&
        cairo_surface_get_type(gs) == CAIRO_SURFACE_TYPE_IMAGE) {
        cairo_surface_flush(gs);
        int w = cairo_image_surface_get_width(gs), h = cairo_image_surface_get_height(gs);
        int gstride = cairo_image_surface_get_stride(gs);
        const unsigned char* gd = cairo_image_surface_get_data(gs);
        double devX = 0, devY = 0;
        cairo_surface_get_device_offset(gs, &devX, &devY);
        cairo_matrix_t m;
        cairo_get_matrix(cr_, &m);
        const double devScale = std::sqrt(std::fabs(m.xx * m.yy - m.xy * m.yx));
        const int r = int(std::lround(std::max(0.0, radius) * devScale / 2));
        // The shadow may spread beyond the content: pad the buffer by the blur.
        const int pad = 3 * r + 1;
        int sw = w + 2 * pad, sh = h + 2 * pad;
        int stride = cairo_format_stride_for_width(CAIRO_FORMAT_A8, sw);
        std::vector<uint8_t> a(size_t(stride) * size_t(sh), 0);
        if (gd) {
            for (int y = 0; y < h; ++y) {
                const uint32_t* row = reinterpret_cast<const uint32_t*>(gd + size_t(y) * size_t(gstride));
                uint8_t* out = a.data() + size_t(y + pad) * size_t(stride) + size_t(pad);
                for (int x = 0; x < w; ++x) out[x] = uint8_t(row[x] >> 24);
            }
        }
        boxBlur(a, sw, sh, stride, r);
        cairo_surface_t* a8 = cairo_image_surface_create_for_data(a.data(), CAIRO_FORMAT_A8, sw, sh, stride);
        double ox = offset.x, oy = offset.y;
        cairo_user_to_device_distance(cr_, &ox, &oy);
        cairo_save(cr_);
        cairo_identity_matrix(cr_);
        setColor(cr_, color);
        cairo_mask_surface(cr_, a8, -devX - pad + ox, -devY - pad + oy);
        cairo_restore(cr_);
        cairo_surface_destroy(a8);
    }
    cairo_set_source(cr_, content);
    cairo_paint(cr_);
    cairo_pattern_destroy(content);
}

void Canvas::drawText(const std::string& text, const Font& font, const Rect& rect, const Rgba& color,
                      const TextOptions& options) {
    if (text.empty() || color.isClear()) return;
    TextEngine::current().draw(cr_, text, font, rect, color, options);
}

Size Canvas::measureText(const std::string& text, const Font& font, double maxWidth,
                         const TextOptions& options) {
    return TextEngine::current().measure(text, font, maxWidth, options);
}

uint32_t Canvas::pixel(int x, int y) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
    cairo_surface_flush(surface_);
    const unsigned char* d = cairo_image_surface_get_data(surface_);
    int stride = cairo_image_surface_get_stride(surface_);
    return reinterpret_cast<const uint32_t*>(d + size_t(y) * size_t(stride))[x];
}

ImageRef Canvas::image() {
    cairo_surface_flush(surface_);
    const unsigned char* d = cairo_image_surface_get_data(surface_);
    return Image::copyFrom(width_, height_, reinterpret_cast<const uint32_t*>(d),
                           size_t(cairo_image_surface_get_stride(surface_)), scale_);
}

bool Canvas::writePNG(const std::string& path) {
    cairo_surface_flush(surface_);
    const int w = cairo_image_surface_get_width(surface_), h = cairo_image_surface_get_height(surface_);
    const int stride = cairo_image_surface_get_stride(surface_);
    const unsigned char* data = cairo_image_surface_get_data(surface_);
    if (!data || w <= 0 || h <= 0) return false;
    // Straight RGBA rows, encoded at a fast compression level: pictures of
    // the window are written often (every script step that takes a shot)
    // and the default level costs several times as long for little gain.
    std::vector<unsigned char> rgba(size_t(w) * size_t(h) * 4);
    for (int y = 0; y < h; ++y) {
        const uint32_t* row = reinterpret_cast<const uint32_t*>(data + size_t(y) * size_t(stride));
        unsigned char* out = rgba.data() + size_t(y) * size_t(w) * 4;
        for (int x = 0; x < w; ++x, out += 4) {
            const uint32_t px = row[x];
            const unsigned a = px >> 24, r = (px >> 16) & 0xff, g = (px >> 8) & 0xff, b = px & 0xff;
            if (a == 255 || a == 0) {
                out[0] = (unsigned char)r, out[1] = (unsigned char)g, out[2] = (unsigned char)b;
            } else {
                out[0] = (unsigned char)std::min(255u, (r * 255 + a / 2) / a);
                out[1] = (unsigned char)std::min(255u, (g * 255 + a / 2) / a);
                out[2] = (unsigned char)std::min(255u, (b * 255 + a / 2) / a);
            }
            out[3] = (unsigned char)a;
        }
    }
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    int rc = ctx ? 0 : 1;
    if (rc == 0) rc = spng_set_png_file(ctx, f);
    spng_ihdr ihdr{};
    ihdr.width = uint32_t(w);
    ihdr.height = uint32_t(h);
    ihdr.bit_depth = 8;
    ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
    if (rc == 0) rc = spng_set_ihdr(ctx, &ihdr);
    if (rc == 0) rc = spng_set_option(ctx, SPNG_IMG_COMPRESSION_LEVEL, 1);
    if (rc == 0) rc = spng_set_option(ctx, SPNG_FILTER_CHOICE, SPNG_FILTER_CHOICE_SUB);
    if (rc == 0) rc = spng_encode_image(ctx, rgba.data(), rgba.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
    if (ctx) spng_ctx_free(ctx);
    const bool closed = std::fclose(f) == 0;
    if (rc != 0 || !closed) {
        std::remove(path.c_str());
        return false;
    }
    return true;
}

}  // namespace gfx
