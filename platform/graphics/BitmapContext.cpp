#include "platform/graphics/BitmapContext.h"

#include "platform/graphics/ImageScaler.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <new>

namespace gfx {

namespace {

cairo_filter_t filterFor(BitmapContext::Interpolation q) {
    switch (q) {
    case BitmapContext::Interpolation::None: return CAIRO_FILTER_NEAREST;
    case BitmapContext::Interpolation::Low: return CAIRO_FILTER_BILINEAR;
    case BitmapContext::Interpolation::Medium:
    case BitmapContext::Interpolation::High:
    case BitmapContext::Interpolation::Default: break;
    }
    return CAIRO_FILTER_GOOD;
}

bool finite(const Rect& r) {
    return std::isfinite(r.x()) && std::isfinite(r.y()) && std::isfinite(r.width()) &&
           std::isfinite(r.height());
}

}  // namespace

std::unique_ptr<BitmapContext> BitmapContext::create(int width, int height, Origin origin) {
    if (!Image::sizeAllowed(width, height)) return nullptr;
    std::vector<uint32_t> px;
    try {
        px.assign(size_t(width) * size_t(height), 0u);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    std::unique_ptr<BitmapContext> ctx(new BitmapContext(width, height, origin, std::move(px)));
    if (!ctx->ok()) return nullptr;
    return ctx;
}

BitmapContext::BitmapContext(int w, int h, Origin origin, std::vector<uint32_t> px)
    : width_(w), height_(h), origin_(origin), pixels_(std::move(px)) {
    surface_ = cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(pixels_.data()),
                                                   CAIRO_FORMAT_ARGB32, w, h, w * 4);
    cr_ = cairo_create(surface_);
    if (origin_ == Origin::LowerLeft) {
        cairo_matrix_t flip;
        cairo_matrix_init(&flip, 1, 0, 0, -1, 0, h);
        cairo_set_matrix(cr_, &flip);
    }
    states_.push_back(State{});
}

BitmapContext::~BitmapContext() {
    if (cr_) cairo_destroy(cr_);
    if (surface_) cairo_surface_destroy(surface_);
}

bool BitmapContext::ok() const {
    return !taken_ && cr_ && cairo_status(cr_) == CAIRO_STATUS_SUCCESS &&
           cairo_surface_status(surface_) == CAIRO_STATUS_SUCCESS;
}

void BitmapContext::saveGState() {
    if (taken_) return;
    cairo_save(cr_);
    states_.push_back(states_.back());
}

void BitmapContext::restoreGState() {
    if (taken_ || states_.size() < 2) return;  // unbalanced restores are ignored
    cairo_restore(cr_);
    states_.pop_back();
}

void BitmapContext::translateCTM(double tx, double ty) {
    if (!taken_) cairo_translate(cr_, tx, ty);
}

void BitmapContext::scaleCTM(double sx, double sy) {
    // A zero scale would put cairo into a permanent error state.
    if (!taken_ && sx != 0 && sy != 0 && std::isfinite(sx) && std::isfinite(sy)) {
        cairo_scale(cr_, sx, sy);
    }
}

void BitmapContext::rotateCTM(double angle) {
    if (taken_ || !std::isfinite(angle)) return;
    concatCTM(AffineTransform::makeRotation(angle));
}

void BitmapContext::concatCTM(const AffineTransform& t) {
    if (taken_) return;
    double det = t.a * t.d - t.b * t.c;
    if (!std::isfinite(det) || det == 0 || !std::isfinite(t.tx) || !std::isfinite(t.ty)) return;
    cairo_matrix_t m;
    cairo_matrix_init(&m, t.a, t.b, t.c, t.d, t.tx, t.ty);
    cairo_transform(cr_, &m);
}

AffineTransform BitmapContext::ctm() const {
    if (taken_) return {};
    cairo_matrix_t m;
    cairo_get_matrix(cr_, &m);
    return {m.xx, m.yx, m.xy, m.yy, m.x0, m.y0};
}

void BitmapContext::setInterpolationQuality(Interpolation q) { states_.back().interpolation = q; }

BitmapContext::Interpolation BitmapContext::interpolationQuality() const {
    return states_.back().interpolation;
}

void BitmapContext::setAlpha(double alpha) {
    if (std::isnan(alpha)) return;
    states_.back().alpha = std::clamp(alpha, 0.0, 1.0);
}

void BitmapContext::setFillColor(double r, double g, double b, double a) {
    double* f = states_.back().fill;
    double in[4] = {r, g, b, a};
    for (int i = 0; i < 4; ++i) f[i] = std::isnan(in[i]) ? 0.0 : std::clamp(in[i], 0.0, 1.0);
}

void BitmapContext::fillRect(const Rect& rect) {
    if (taken_ || !finite(rect)) return;
    const double* f = states_.back().fill;
    cairo_save(cr_);
    cairo_set_source_rgba(cr_, f[0], f[1], f[2], f[3] * states_.back().alpha);
    cairo_rectangle(cr_, rect.x(), rect.y(), rect.width(), rect.height());
    cairo_fill(cr_);
    cairo_restore(cr_);
}

void BitmapContext::clearRect(const Rect& rect) {
    if (taken_ || !finite(rect)) return;
    cairo_save(cr_);
    cairo_set_operator(cr_, CAIRO_OPERATOR_CLEAR);
    cairo_rectangle(cr_, rect.x(), rect.y(), rect.width(), rect.height());
    cairo_fill(cr_);
    cairo_restore(cr_);
}

void BitmapContext::drawSurface(const Rect& rect, cairo_surface_t* src, int sw, int sh) {
    double w = rect.width(), h = rect.height();
    if (w == 0 || h == 0 || sw <= 0 || sh <= 0) return;
    double kx = sw / w, ky = sh / h;
    cairo_matrix_t m;
    if (origin_ == Origin::LowerLeft) {
        // Row 0 of the image goes to the rectangle's top edge (its larger y).
        cairo_matrix_init(&m, kx, 0, 0, -ky, -rect.x() * kx, (rect.y() + h) * ky);
    } else {
        cairo_matrix_init(&m, kx, 0, 0, ky, -rect.x() * kx, -rect.y() * ky);
    }
    cairo_pattern_t* pattern = cairo_pattern_create_for_surface(src);
    cairo_pattern_set_matrix(pattern, &m);
    // Padding instead of transparency outside the image keeps the edge pixels
    // of a scaled image opaque; the rectangle itself limits the drawing.
    cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
    cairo_pattern_set_filter(pattern, filterFor(states_.back().interpolation));
    cairo_save(cr_);
    cairo_set_source(cr_, pattern);
    cairo_rectangle(cr_, rect.x(), rect.y(), w, h);
    double alpha = states_.back().alpha;
    if (alpha >= 1.0) {
        cairo_fill(cr_);
    } else {
        cairo_clip(cr_);
        cairo_paint_with_alpha(cr_, alpha);
    }
    cairo_restore(cr_);
    cairo_pattern_destroy(pattern);
}

bool BitmapContext::drawFast(const Rect& rect, const uint32_t* src, int sw, int sh,
                             size_t stridePixels) {
    const State& st = states_.back();
    if (st.interpolation == Interpolation::None || st.interpolation == Interpolation::Low ||
        st.alpha < 1.0 || !(rect.width() > 0) || !(rect.height() > 0)) {
        return false;
    }
    AffineTransform m = ctm();
    if (std::fabs(m.b) > 1e-12 || std::fabs(m.c) > 1e-12 || !(m.a > 0)) return false;
    bool upright = origin_ == Origin::LowerLeft ? m.d < 0 : m.d > 0;
    if (!upright) return false;
    double x0 = m.a * rect.minX() + m.tx, x1 = m.a * rect.maxX() + m.tx;
    double y0, y1;
    if (origin_ == Origin::LowerLeft) {
        y0 = m.d * rect.maxY() + m.ty;
        y1 = m.d * rect.minY() + m.ty;
    } else {
        y0 = m.d * rect.minY() + m.ty;
        y1 = m.d * rect.maxY() + m.ty;
    }
    if (!std::isfinite(x0) || !std::isfinite(x1) || !std::isfinite(y0) || !std::isfinite(y1)) {
        return false;
    }
    // Only whole device pixels are fully covered here; an edge that falls
    // between pixels inside the canvas needs cairo's partial coverage.
    auto sharp = [](double e, double limit, bool low) {
        if (low ? e <= 0 : e >= limit) return true;
        return std::fabs(e - std::round(e)) < 1e-6;
    };
    if (!sharp(x0, width_, true) || !sharp(x1, width_, false) || !sharp(y0, height_, true) ||
        !sharp(y1, height_, false)) {
        return false;
    }
    int cx0 = int(std::max(0.0, std::round(x0))), cy0 = int(std::max(0.0, std::round(y0)));
    int cx1 = int(std::min(double(width_), std::round(x1)));
    int cy1 = int(std::min(double(height_), std::round(y1)));
    if (cx0 >= cx1 || cy0 >= cy1) return true;  // nothing visible
    cairo_surface_flush(surface_);
    ImageScaler::draw({src, sw, sh, stridePixels}, x0, y0, x1 - x0, y1 - y0,
                      {pixels_.data(), width_, height_, size_t(width_)}, cx0, cy0, cx1, cy1);
    cairo_surface_mark_dirty(surface_);
    return true;
}

void BitmapContext::drawImage(const Rect& rect, const Image& image) {
    drawImage(rect, image, Rect(0, 0, image.width(), image.height()));
}

void BitmapContext::drawImage(const Rect& rect, const Image& image, const Rect& source) {
    if (taken_ || !finite(rect) || !finite(source)) return;
    double x0 = std::max(0.0, std::floor(source.minX()));
    double y0 = std::max(0.0, std::floor(source.minY()));
    double x1 = std::min(double(image.width()), std::ceil(source.maxX()));
    double y1 = std::min(double(image.height()), std::ceil(source.maxY()));
    if (!(x1 > x0) || !(y1 > y0)) return;
    int sx = int(x0), sy = int(y0), sw = int(x1 - x0), sh = int(y1 - y0);
    // cairo only reads a source surface; the const_cast never leads to a write.
    if (drawFast(rect, image.row(sy) + sx, sw, sh, size_t(image.width()))) return;
    auto* base = reinterpret_cast<unsigned char*>(const_cast<uint32_t*>(image.row(sy) + sx));
    cairo_surface_t* src = cairo_image_surface_create_for_data(
        base, CAIRO_FORMAT_ARGB32, sw, sh, int(image.strideBytes()));
    if (cairo_surface_status(src) == CAIRO_STATUS_SUCCESS) drawSurface(rect, src, sw, sh);
    cairo_surface_destroy(src);
}

ImageRef BitmapContext::makeImage(double scale, Orientation orientation) const {
    if (!ok()) return nullptr;
    cairo_surface_flush(surface_);
    try {
        return Image::make(width_, height_, pixels_, scale, orientation);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

ImageRef BitmapContext::takeImage(double scale, Orientation orientation) {
    if (!ok()) return nullptr;
    cairo_surface_flush(surface_);
    cairo_destroy(cr_);
    cr_ = nullptr;
    cairo_surface_destroy(surface_);
    surface_ = nullptr;
    taken_ = true;
    return Image::make(width_, height_, std::move(pixels_), scale, orientation);
}

}  // namespace gfx
