#pragma once

#include <string>

namespace gfx {

// A font by family, size in points, weight and slant. The system family is
// DejaVu Sans with Noto Sans CJK for the scripts it lacks; metrics come from
// the current text engine (the real one or the fixed-metrics one of tests).
struct Font {
    enum class Weight { Regular, Medium, Semibold, Bold };

    std::string family;  // empty: the system family
    double size = 17;
    Weight weight = Weight::Regular;
    bool italic = false;

    static Font system(double size) { return Font{"", size, Weight::Regular, false}; }
    static Font boldSystem(double size) { return Font{"", size, Weight::Bold, false}; }
    static Font system(double size, Weight weight) { return Font{"", size, weight, false}; }
    static Font monospaced(double size) { return Font{"DejaVu Sans Mono", size, Weight::Regular, false}; }

    Font withSize(double s) const {
        Font f = *this;
        f.size = s;
        return f;
    }
    bool isBold() const { return weight == Weight::Bold || weight == Weight::Semibold; }

    // Distance from one baseline to the next, and the parts above and below
    // the baseline (descender as a positive distance).
    double lineHeight() const;
    double ascender() const;
    double descender() const;

    bool operator==(const Font&) const = default;
};

}  // namespace gfx
