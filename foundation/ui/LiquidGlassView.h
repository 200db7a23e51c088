#pragma once

#include "platform/ui/View.h"

#include <cstdint>
#include <memory>
#include <optional>

// The glass-like container of floating bars and menus in the newer look: a
// rounded, clipped material backing with a faint white tint, a thin light
// border and a soft shadow. Callers put their views into contentView().
//
// The material blurs what lies behind the glass and lays a translucent wash
// of the system's material colour for the style over it, in light or dark
// appearance; with Reduce Transparency on there is neither.
// The corner radius, border width and border colour below are the glass's
// own (the container's and the border stroke's); they hide the plain view
// properties of the same names, which stay unused on this view.
class LiquidGlassView : public ui::View {
public:
    // The platform's material styles used by the program.
    static constexpr int64_t kMaterialUltraThin = 6;
    static constexpr int64_t kMaterialThin = 7;

    explicit LiquidGlassView(const ui::Rect& frame = ui::Rect());

    int64_t materialStyle() const { return materialStyle_; }
    void setMaterialStyle(int64_t style);
    double cornerRadius() const { return cornerRadius_; }
    void setCornerRadius(double radius);
    double borderWidth() const { return borderWidth_; }
    void setBorderWidth(double width);
    // Unset: white at 0.28 in light appearance, 0.18 in dark.
    const std::optional<ui::Color>& borderColor() const { return borderColor_; }
    void setBorderColor(std::optional<ui::Color> color);
    bool showsShadow() const { return showsShadow_; }
    void setShowsShadow(bool on);

    ui::View* contentView() const { return contentView_.get(); }
    ui::View* roundedContainer() const { return roundedContainer_.get(); }
    ui::View* blurView() const { return blurView_.get(); }
    ui::View* vibrancyView() const { return vibrancyView_.get(); }
    ui::View* tintOverlay() const { return tintOverlay_.get(); }
    ui::View* strokeLayer() const { return strokeLayer_.get(); }

    // Whether the material is drawn (off under Reduce Transparency).
    bool hasBlurEffect() const { return blurEffect_; }
    // The colour the border is stroked with now.
    ui::Color currentBorderColor() const;

    void applyAccessibilityFallbackIfNeeded();
    void updateBorderColorForTraitCollection(const ui::TraitCollection& traits);
    void updateShadow();

    void layoutSubviews() override;
    void traitCollectionDidChange(const ui::TraitCollection& previous) override;

private:
    void rebuildEffects();
    bool reduceTransparency() const;

    int64_t materialStyle_ = kMaterialUltraThin;
    double cornerRadius_ = 20.0;
    double borderWidth_ = 1.0;
    std::optional<ui::Color> borderColor_;
    bool showsShadow_ = true;
    bool blurEffect_ = false;

    std::shared_ptr<ui::View> roundedContainer_;
    std::shared_ptr<ui::View> blurView_;
    std::shared_ptr<ui::View> vibrancyView_;
    std::shared_ptr<ui::View> tintOverlay_;
    std::shared_ptr<ui::View> contentView_;
    std::shared_ptr<ui::View> strokeLayer_;
};
