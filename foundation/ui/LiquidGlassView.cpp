#include "foundation/ui/LiquidGlassView.h"

#include "platform/ui/Application.h"
#include "platform/ui/Window.h"

using ui::Color;
using ui::Rect;

namespace {

constexpr unsigned kFill = ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleHeight;

// The border: a rounded outline over the glass that takes no touches.
class GlassStroke : public ui::View {
public:
    GlassStroke() { setUserInteractionEnabled(false); }
    void draw(gfx::Canvas& canvas, const Rect&) override {
        if (width <= 0) return;
        gfx::Rgba c = resolve(color);
        if (c.a <= 0) return;
        Rect b = bounds();
        // Centred on the outline, as a shape layer strokes its path.
        canvas.strokePath(gfx::Path::roundedRect(b, radius), c, width);
    }
    bool clipsOwnDrawing() const override { return false; }

    Color color;
    double width = 1.0;
    double radius = 20.0;
};

// How far the material blurs what lies behind the glass (points).
constexpr double kMaterialBlur = 20;

// The material: what lies behind the glass drawn blurred, under the wash of
// its background colour. Without the blur (Reduce Transparency) it is a
// plain view.
class GlassMaterial : public ui::View {
public:
    explicit GlassMaterial(const Rect& frame) : ui::View(frame) {}
    void draw(gfx::Canvas& canvas, const Rect& rect) override {
        if (blurs) canvas.blurBehind(rect, kMaterialBlur);
        if (!wash.isClear()) canvas.fillRect(rect, resolve(wash));
    }
    bool blurs = false;
    Color wash = Color::clear();
};

// The material's wash for a style, light and dark.
Color materialColor(int64_t style) {
    double alpha = 0.55;
    switch (style) {
        case 1: case 2: case 3: case 4:  // regular, prominent, extra light, dark
        case 8: case 9: case 13: case 14:
            alpha = 0.8;
            break;
        case 5: case 10:  // thick materials
            alpha = 0.85;
            break;
        case 7: case 12:  // thin
            alpha = 0.7;
            break;
        default:  // ultra-thin (6, 11) and anything else
            alpha = 0.55;
            break;
    }
    return Color(gfx::Rgba{0.96, 0.96, 0.97, alpha}, gfx::Rgba{0.12, 0.12, 0.13, alpha});
}

// The material drawn plain under Reduce Transparency: its colour, opaque,
// so that nothing behind the glass shows through it.
Color plainMaterialColor() { return Color(gfx::Rgba{0.96, 0.96, 0.97, 1}, gfx::Rgba{0.12, 0.12, 0.13, 1}); }

}  // namespace

LiquidGlassView::LiquidGlassView(const Rect& frame) : ui::View(frame) {
    setClipsToBounds(false);
    Rect inner(0, 0, frame.width(), frame.height());

    roundedContainer_ = std::make_shared<ui::View>(inner);
    roundedContainer_->setClipsToBounds(true);
    roundedContainer_->setAutoresizingMask(kFill);
    addSubview(roundedContainer_);

    blurView_ = std::make_shared<GlassMaterial>(inner);
    blurView_->setAutoresizingMask(kFill);
    roundedContainer_->addSubview(blurView_);

    vibrancyView_ = std::make_shared<ui::View>(inner);
    vibrancyView_->setAutoresizingMask(kFill);
    blurView_->addSubview(vibrancyView_);

    tintOverlay_ = std::make_shared<ui::View>(inner);
    tintOverlay_->setAutoresizingMask(kFill);
    tintOverlay_->setUserInteractionEnabled(false);
    tintOverlay_->setBackgroundColor(Color::white(1, 0.06));
    blurView_->addSubview(tintOverlay_);

    // The callers' views stand above the tint so that hiding the vibrancy
    // layer (Reduce Transparency) never hides what the glass carries.
    contentView_ = std::make_shared<ui::View>(inner);
    contentView_->setAutoresizingMask(kFill);
    blurView_->addSubview(contentView_);

    auto stroke = std::make_shared<GlassStroke>();
    stroke->setFrame(inner);
    stroke->width = borderWidth_;
    strokeLayer_ = stroke;
    addSubview(strokeLayer_);
    updateBorderColorForTraitCollection(traitCollection());

    rebuildEffects();
    roundedContainer_->setCornerRadius(cornerRadius_);
    updateShadow();
    applyAccessibilityFallbackIfNeeded();

    tintOverlay_->setBackgroundColor(Color::white(1, 0.18));
    setBorderWidth(1.2);
    setBorderColor(Color::white(1, 0.28));
    setShowsShadow(true);
}

bool LiquidGlassView::reduceTransparency() const {
    // An accessibility setting of the whole device: a view not yet in a
    // window asks the key window.
    if (ui::Window* w = window()) return w->windowTraits().reduceTransparency;
    if (ui::Window* key = ui::Application::shared().keyWindow()) return key->windowTraits().reduceTransparency;
    return false;
}

void LiquidGlassView::rebuildEffects() {
    blurEffect_ = true;
    auto& material = static_cast<GlassMaterial&>(*blurView_);
    material.blurs = true;
    material.wash = materialColor(materialStyle_);
    blurView_->setNeedsDisplay();
}

void LiquidGlassView::applyAccessibilityFallbackIfNeeded() {
    if (reduceTransparency()) {
        blurEffect_ = false;
        auto& material = static_cast<GlassMaterial&>(*blurView_);
        material.blurs = false;
        material.wash = plainMaterialColor();
        blurView_->setNeedsDisplay();
        vibrancyView_->setHidden(true);
        tintOverlay_->setBackgroundColor(Color::white(1, 0.2));
    } else {
        vibrancyView_->setHidden(false);
        rebuildEffects();
        if (tintOverlay_->backgroundColor().isClear()) tintOverlay_->setBackgroundColor(Color::white(1, 0.1));
    }
}

void LiquidGlassView::updateBorderColorForTraitCollection(const ui::TraitCollection&) {
    // The dynamic default resolves against the traits whenever it is drawn.
    static_cast<GlassStroke&>(*strokeLayer_).color = currentBorderColor();
    strokeLayer_->setNeedsDisplay();
}

Color LiquidGlassView::currentBorderColor() const {
    if (borderColor_) return *borderColor_;
    return Color::dynamic(Color::white(1, 0.28), Color::white(1, 0.18));
}

void LiquidGlassView::updateShadow() {
    if (showsShadow_) {
        setShadowColor(Color::black());
        setShadowOpacity(0.25);
        setShadowRadius(12.0);
        setShadowOffset(ui::Size{0, 8});
    } else {
        setShadowOpacity(0);
    }
}

void LiquidGlassView::setMaterialStyle(int64_t style) {
    materialStyle_ = style;
    if (reduceTransparency()) return;  // the fallback keeps the material off
    rebuildEffects();
    vibrancyView_->setHidden(false);
}

void LiquidGlassView::setCornerRadius(double radius) {
    cornerRadius_ = radius;
    roundedContainer_->setCornerRadius(radius);
    setNeedsLayout();
}

void LiquidGlassView::setBorderWidth(double width) {
    borderWidth_ = width;
    static_cast<GlassStroke&>(*strokeLayer_).width = width;
    strokeLayer_->setNeedsDisplay();
    setNeedsLayout();
}

void LiquidGlassView::setBorderColor(std::optional<Color> color) {
    borderColor_ = std::move(color);
    updateBorderColorForTraitCollection(traitCollection());
}

void LiquidGlassView::setShowsShadow(bool on) {
    showsShadow_ = on;
    updateShadow();
}

void LiquidGlassView::layoutSubviews() {
    Rect b = roundedContainer_->bounds();
    strokeLayer_->setFrame(b);
    auto& stroke = static_cast<GlassStroke&>(*strokeLayer_);
    stroke.radius = cornerRadius_;
    strokeLayer_->setNeedsDisplay();
    setShadowPath(gfx::Path::roundedRect(bounds(), cornerRadius_));
}

void LiquidGlassView::traitCollectionDidChange(const ui::TraitCollection& previous) {
    ui::View::traitCollectionDidChange(previous);
    applyAccessibilityFallbackIfNeeded();
    if (traitCollection().hasDifferentColorAppearance(previous)) updateBorderColorForTraitCollection(traitCollection());
}
