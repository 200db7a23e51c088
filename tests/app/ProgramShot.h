#pragma once

// What the program tests that look at pictures share: flat page colours far
// from each other and from the white, grey and black of the screens around
// them, pages painted in them, and a picture the program wrote, read back
// and asked for its colour at a point of the window.

#include "platform/graphics/Canvas.h"
#include "platform/graphics/Image.h"
#include "platform/graphics/ImageDecoder.h"
#include "platform/ui/Window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace programtest {

struct Rgb {
    int r, g, b;
};

// Page i of a test book is kPage[i % 6].
inline const Rgb kPage[] = {{220, 40, 40}, {40, 170, 40}, {40, 70, 220}, {230, 200, 30}, {160, 40, 200}, {30, 200, 200}};

inline gfx::Rgba toRgba(Rgb c) { return gfx::Rgba{c.r / 255.0, c.g / 255.0, c.b / 255.0, 1}; }

// A PNG page, its left half `left` and its right half `right`.
inline void writePng(const std::string& path, int w, int h, Rgb left, Rgb right) {
    gfx::Canvas c(w, h, 1.0);
    c.fillRect({0, 0, double(w) / 2, double(h)}, toRgba(left));
    c.fillRect({double(w) / 2, 0, double(w) / 2, double(h)}, toRgba(right));
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    ASSERT_TRUE(c.writePNG(path));
}
inline void writePng(const std::string& path, int w, int h, Rgb c) { writePng(path, w, h, c, c); }

// A picture the program wrote, read back; points are the window's.
class Shot {
public:
    Shot(const std::string& path, const ui::Window& window) : image_(gfx::ImageDecoder::decodeFile(path)) {
        if (image_) scale_ = double(image_->width()) / window.bounds().width();
    }
    explicit operator bool() const { return bool(image_); }
    int width() const { return image_->width(); }
    int height() const { return image_->height(); }
    Rgb at(double x, double y) const {
        const int px = std::clamp(int(x * scale_), 0, image_->width() - 1);
        const int py = std::clamp(int(y * scale_), 0, image_->height() - 1);
        const uint32_t p = image_->pixel(px, py);
        return {int(gfx::redOf(p)), int(gfx::greenOf(p)), int(gfx::blueOf(p))};
    }
    bool is(double x, double y, Rgb c, int tol = 40) const {
        const Rgb p = at(x, y);
        return std::abs(p.r - c.r) <= tol && std::abs(p.g - c.g) <= tol && std::abs(p.b - c.b) <= tol;
    }

private:
    gfx::ImageRef image_;
    double scale_ = 1;
};

}  // namespace programtest
