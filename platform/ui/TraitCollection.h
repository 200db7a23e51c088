#pragma once

namespace ui {

enum class UserInterfaceStyle { Light, Dark };
enum class UserInterfaceIdiom { Phone, Pad };

// The environment views draw for: appearance, the reduce-transparency
// setting, the device kind and the screen scale.
struct TraitCollection {
    UserInterfaceStyle userInterfaceStyle = UserInterfaceStyle::Light;
    bool reduceTransparency = false;
    UserInterfaceIdiom idiom = UserInterfaceIdiom::Phone;
    double displayScale = 1.0;

    bool isDark() const { return userInterfaceStyle == UserInterfaceStyle::Dark; }
    // Whether colours that depend on the appearance would resolve differently.
    bool hasDifferentColorAppearance(const TraitCollection& other) const {
        return userInterfaceStyle != other.userInterfaceStyle;
    }
    bool operator==(const TraitCollection&) const = default;
};

}  // namespace ui
