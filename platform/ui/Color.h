#pragma once

#include "platform/graphics/Rgba.h"
#include "platform/ui/TraitCollection.h"

#include <string>

namespace ui {

// A colour with a light and a dark appearance (the same one for plain
// colours). Views keep Colors and resolve them with their traits when they
// draw, so a change of appearance needs no re-setting.
class Color {
public:
    Color() = default;  // clear
    Color(const gfx::Rgba& c) : light_(c), dark_(c) {}
    Color(const gfx::Rgba& light, const gfx::Rgba& dark) : light_(light), dark_(dark) {}

    static Color rgb(double r, double g, double b, double a = 1.0) { return Color(gfx::Rgba{r, g, b, a}); }
    // 0-255 channels, as colour tables give them.
    static Color rgb255(int r, int g, int b, double a = 1.0) { return rgb(r / 255.0, g / 255.0, b / 255.0, a); }
    static Color white(double w, double a = 1.0) { return Color(gfx::Rgba{w, w, w, a}); }
    static Color dynamic(const Color& light, const Color& dark) { return Color(light.light_, dark.dark_); }

    gfx::Rgba resolve(bool dark) const { return dark ? dark_ : light_; }
    gfx::Rgba resolve(const TraitCollection& t) const { return resolve(t.isDark()); }
    gfx::Rgba light() const { return light_; }
    gfx::Rgba dark() const { return dark_; }
    bool isDynamic() const { return !(light_ == dark_); }
    bool isClear() const { return light_.a <= 0 && dark_.a <= 0; }
    // Both appearances with their alpha replaced by `alpha`.
    Color withAlpha(double alpha) const { return Color(light_.withAlpha(alpha), dark_.withAlpha(alpha)); }

    bool operator==(const Color&) const = default;

    static Color clear() { return Color(); }
    static Color black() { return white(0); }
    static Color whiteColor() { return white(1); }
    static Color gray() { return white(0.5); }
    static Color lightGray() { return white(2.0 / 3.0); }
    static Color darkGray() { return white(1.0 / 3.0); }
    static Color red() { return rgb(1, 0, 0); }
    static Color blue() { return rgb(0, 0, 1); }

    // The system's semantic colours, light and dark.
    static Color systemBlue();
    static Color systemRed();
    static Color systemGreen();
    static Color systemOrange();
    static Color systemGray();
    static Color systemGray2();
    static Color systemGray3();
    static Color systemGray4();
    static Color systemGray5();
    static Color systemGray6();
    static Color label();
    static Color secondaryLabel();
    static Color tertiaryLabel();
    static Color placeholderText();
    static Color separator();
    static Color systemBackground();
    static Color secondarySystemBackground();
    static Color systemGroupedBackground();
    static Color systemFill();
    // Bars: the light background of tool bars and navigation bars.
    static Color barBackground();

    // Colours of the application's asset catalogue, by name. An unknown name
    // gives a clear colour and a logged warning.
    static Color named(const std::string& name);
    static void setNamed(const std::string& name, const Color& color);
    static bool hasNamed(const std::string& name);

private:
    gfx::Rgba light_;
    gfx::Rgba dark_;
};

}  // namespace ui
