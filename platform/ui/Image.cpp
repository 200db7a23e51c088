#include "platform/ui/Image.h"

#include "platform/ui/Log.h"
#include "LeafbrightPaths.h"

#include <cairo.h>
#include <cstdlib>
#include <librsvg/rsvg.h>
#include <map>
#include <mutex>
#include <sys/stat.h>

namespace ui {

struct Image::Svg {
    RsvgHandle* handle = nullptr;
    ~Svg() {
        if (handle) g_object_unref(handle);
    }
    // Rasterised copies by scale, made on demand.
    mutable std::map<double, gfx::ImageRef> raster;
    mutable std::mutex mutex;
};

namespace {

std::mutex gCacheMutex;
std::map<std::string, ImageRef>& cache() {
    static std::map<std::string, ImageRef> c;
    return c;
}
std::string& resourceDirOverride() {
    static std::string d;
    return d;
}

bool fileExists(const std::string& p) {
    struct stat st;
    return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool endsWith(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

gfx::ImageRef readPNG(const std::string& path, double scale) {
    cairo_surface_t* s = cairo_image_surface_create_from_png(path.c_str());
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(s);
        return nullptr;
    }
    int w = cairo_image_surface_get_width(s), h = cairo_image_surface_get_height(s);
    if (!gfx::Image::sizeAllowed(w, h)) {
        cairo_surface_destroy(s);
        return nullptr;
    }
    // Whatever format cairo chose, draw it into ARGB32.
    cairo_surface_t* argb = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    cairo_t* cr = cairo_create(argb);
    cairo_set_source_surface(cr, s, 0, 0);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(argb);
    auto img = gfx::Image::copyFrom(w, h, reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(argb)),
                                    size_t(cairo_image_surface_get_stride(argb)), scale);
    cairo_surface_destroy(argb);
    cairo_surface_destroy(s);
    return img;
}

}  // namespace

double Image::scale() const { return bitmap_ ? bitmap_->scale() : 1.0; }

void Image::setResourceDirectory(const std::string& dir) {
    std::lock_guard<std::mutex> g(gCacheMutex);
    resourceDirOverride() = dir;
    cache().clear();
}

namespace {
std::string defaultResourceDirectory() {
    if (const char* env = std::getenv("LEAFBRIGHT_RESOURCES"); env && *env) return std::string(env) + "/images";
    return std::string(LEAFBRIGHT_SOURCE_DIR) + "/resources/images";
}
}  // namespace

std::string Image::resourceDirectory() {
    {
        std::lock_guard<std::mutex> g(gCacheMutex);
        if (!resourceDirOverride().empty()) return resourceDirOverride();
    }
    return defaultResourceDirectory();
}

ImageRef Image::fromFile(const std::string& path) {
    if (endsWith(path, ".svg")) {
        GError* err = nullptr;
        RsvgHandle* h = rsvg_handle_new_from_file(path.c_str(), &err);
        if (!h) {
            if (err) g_error_free(err);
            return nullptr;
        }
        double w = 0, hgt = 0;
        if (!rsvg_handle_get_intrinsic_size_in_pixels(h, &w, &hgt) || !(w > 0) || !(hgt > 0)) {
            // No usable width and height: fall back to the drawing's extent.
            RsvgRectangle ink, logical;
            if (!rsvg_handle_get_geometry_for_element(h, nullptr, &ink, &logical, nullptr)) {
                g_object_unref(h);
                return nullptr;
            }
            w = logical.width;
            hgt = logical.height;
        }
        auto img = std::shared_ptr<Image>(new Image);
        img->svg_ = std::make_shared<Svg>();
        img->svg_->handle = h;
        img->size_ = {w, hgt};
        return img;
    }
    double scale = 1.0;
    if (endsWith(path, "@2x.png")) scale = 2.0;
    if (endsWith(path, "@3x.png")) scale = 3.0;
    auto bmp = readPNG(path, scale);
    if (!bmp) return nullptr;
    return withBitmap(bmp);
}

ImageRef Image::withBitmap(gfx::ImageRef bitmap) {
    if (!bitmap) return nullptr;
    auto img = std::shared_ptr<Image>(new Image);
    img->size_ = {bitmap->pointWidth(), bitmap->pointHeight()};
    img->bitmap_ = std::move(bitmap);
    return img;
}

ImageRef Image::placeholder() {
    static ImageRef p = [] {
        // Magenta with a dark cross: impossible to mistake for a real icon.
        const int n = 48;
        std::vector<uint32_t> px(size_t(n) * n, gfx::argb(255, 255, 0, 255));
        for (int i = 0; i < n; ++i) {
            for (int k = -2; k <= 2; ++k) {
                int a = i + k, b = n - 1 - i + k;
                if (a >= 0 && a < n) px[size_t(i) * n + size_t(a)] = gfx::argb(255, 40, 0, 40);
                if (b >= 0 && b < n) px[size_t(i) * n + size_t(b)] = gfx::argb(255, 40, 0, 40);
            }
        }
        auto img = std::shared_ptr<Image>(new Image);
        img->bitmap_ = gfx::Image::make(n, n, std::move(px), 2.0);
        img->size_ = {24, 24};
        img->placeholder_ = true;
        return ImageRef(img);
    }();
    return p;
}

ImageRef Image::loadAsset(const std::string& dir, const std::string& name) {
    std::string base = name;
    if (endsWith(base, ".png")) base.resize(base.size() - 4);
    if (endsWith(base, ".svg")) base.resize(base.size() - 4);
    // Names come from our own code, but stay inside the asset folder anyway.
    if (base.empty() || base.find("..") != std::string::npos || base[0] == '/') return nullptr;
    for (const char* suffix : {".svg", "@3x.png", "@2x.png", ".png"}) {
        std::string p = dir + "/" + base + suffix;
        if (fileExists(p)) {
            auto img = fromFile(p);
            if (img) return img;
        }
    }
    return nullptr;
}

ImageRef Image::named(const std::string& name) {
    std::string key = "a:" + name;
    {
        std::lock_guard<std::mutex> g(gCacheMutex);
        auto it = cache().find(key);
        if (it != cache().end()) return it->second;
    }
    ImageRef img = loadAsset(resourceDirectory(), name);
    if (img) {
        auto named = std::const_pointer_cast<Image>(img);
        named->name_ = name;
    } else {
        logWarning("no image named \"" + name + "\"");
        img = placeholder();
    }
    std::lock_guard<std::mutex> g(gCacheMutex);
    cache()[key] = img;
    return img;
}

ImageRef Image::systemNamed(const std::string& name) {
    std::string key = "s:" + name;
    {
        std::lock_guard<std::mutex> g(gCacheMutex);
        auto it = cache().find(key);
        if (it != cache().end()) return it->second;
    }
    // Symbols belong to the program, not to the asset folder in use.
    ImageRef img = loadAsset(defaultResourceDirectory() + "/system", name);
    if (img) {
        auto named = std::const_pointer_cast<Image>(img);
        named->name_ = name;
        // Symbols are silhouettes coloured by the tint.
        named->mode_ = ImageRenderingMode::AlwaysTemplate;
    } else {
        logWarning("no system image named \"" + name + "\"");
        img = placeholder();
    }
    std::lock_guard<std::mutex> g(gCacheMutex);
    cache()[key] = img;
    return img;
}

gfx::ImageRef Image::bitmap(double scale) const {
    if (bitmap_) return bitmap_;
    if (!svg_) return nullptr;
    std::lock_guard<std::mutex> g(svg_->mutex);
    auto it = svg_->raster.find(scale);
    if (it != svg_->raster.end()) return it->second;
    int w = std::max(1, int(size_.width * scale + 0.5)), h = std::max(1, int(size_.height * scale + 0.5));
    gfx::Canvas c(w, h, scale);
    RsvgRectangle vp{0, 0, size_.width, size_.height};
    rsvg_handle_render_document(svg_->handle, c.cairo(), &vp, nullptr);
    auto img = c.image();
    svg_->raster[scale] = img;
    return img;
}

ImageRef Image::resizableImage(const EdgeInsets& caps) const {
    auto copy = std::shared_ptr<Image>(new Image(*this));
    copy->caps_ = caps;
    return copy;
}

ImageRef Image::stretchableImage(double leftCap, double topCap) const {
    // The classic form stretches one point after each cap.
    EdgeInsets caps;
    caps.left = leftCap;
    caps.top = topCap;
    caps.right = leftCap > 0 ? std::max(0.0, size_.width - leftCap - 1) : 0;
    caps.bottom = topCap > 0 ? std::max(0.0, size_.height - topCap - 1) : 0;
    return resizableImage(caps);
}

ImageRef Image::withRenderingMode(ImageRenderingMode mode) const {
    auto copy = std::shared_ptr<Image>(new Image(*this));
    copy->mode_ = mode;
    return copy;
}

void Image::drawPlain(gfx::Canvas& canvas, const Rect& dest, double alpha) const {
    if (isResizable()) {
        // Nine slices work on pixels: a vector image is rasterised at the
        // canvas scale first.
        auto bmp = bitmap(canvas.scale());
        if (bmp) canvas.drawNineSlice(*bmp, caps_, dest, gfx::Interpolation::Good, alpha);
        return;
    }
    if (bitmap_) {
        canvas.drawImage(*bitmap_, dest, gfx::Interpolation::Good, alpha);
        return;
    }
    if (svg_) {
        canvas.save();
        if (alpha < 1) canvas.beginGroup();
        RsvgRectangle vp{dest.x(), dest.y(), dest.width(), dest.height()};
        rsvg_handle_render_document(svg_->handle, canvas.cairo(), &vp, nullptr);
        if (alpha < 1) canvas.endGroup(alpha);
        canvas.restore();
    }
}

void Image::draw(gfx::Canvas& canvas, const Rect& dest, double alpha, const gfx::Rgba* tint,
                 bool forceTint) const {
    if (alpha <= 0 || dest.size.isEmpty()) return;
    if (tint && (isTemplate() || forceTint) && !placeholder_) {
        canvas.beginTintGroup();
        drawPlain(canvas, dest, 1.0);
        canvas.endTintGroup(tint->withAlpha(tint->a * alpha));
        return;
    }
    drawPlain(canvas, dest, alpha);
}

}  // namespace ui
