#pragma once

#include <cstdint>

namespace gfx {

// A colour as drawn: straight (not premultiplied) red, green, blue and alpha,
// each 0 to 1. The canvas premultiplies when it writes pixels.
struct Rgba {
    double r = 0;
    double g = 0;
    double b = 0;
    double a = 0;

    static constexpr Rgba rgb(double r, double g, double b, double a = 1.0) { return {r, g, b, a}; }
    static constexpr Rgba white(double w, double a = 1.0) { return {w, w, w, a}; }
    static constexpr Rgba clear() { return {0, 0, 0, 0}; }
    static constexpr Rgba black() { return {0, 0, 0, 1}; }

    constexpr Rgba withAlpha(double alpha) const { return {r, g, b, alpha}; }
    bool isClear() const { return a <= 0; }
    // The premultiplied ARGB word of this colour (cairo's pixel format).
    uint32_t argb32() const {
        auto ch = [](double v) -> uint32_t {
            v = v < 0 ? 0 : (v > 1 ? 1 : v);
            return uint32_t(v * 255.0 + 0.5);
        };
        double al = a < 0 ? 0 : (a > 1 ? 1 : a);
        return (ch(al) << 24) | (ch(r * al) << 16) | (ch(g * al) << 8) | ch(b * al);
    }

    bool operator==(const Rgba&) const = default;
};

}  // namespace gfx
