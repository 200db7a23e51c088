#include "viewer/PanelLook.h"

#include "foundation/BookCommon.h"
#include "foundation/ui/LiquidGlassView.h"
#include "platform/core/DeviceProfile.h"
#include "platform/ui/Image.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/Slider.h"

namespace {
constexpr double kFadeDuration = 0.3;
constexpr double kSliderCapWidth = 15;
}  // namespace

bool PanelLook::isGlass() { return sys::DeviceProfile::current().systemMajorVersion() >= 26; }

std::shared_ptr<ui::View> PanelLook::makePanel(ui::Size size, const std::string& imageName, bool dark) {
    const ui::Rect frame(0, 0, size.width, size.height);
    std::shared_ptr<ui::View> panel;
    if (isGlass()) {
        panel = std::make_shared<LiquidGlassView>(frame);
    } else {
        auto image = std::make_shared<ui::ImageView>(frame);
        image->setImage(ui::Image::named(dark ? imageName + "_dark" : imageName));
        image->setContentMode(ui::ContentMode::ScaleToFill);
        panel = image;
    }
    // An image view lets touches through by default; the panel's controls need them.
    panel->setUserInteractionEnabled(true);
    return panel;
}

ui::View& PanelLook::contentOf(ui::View& panel) {
    if (auto* glass = dynamic_cast<LiquidGlassView*>(&panel); glass && glass->contentView()) return *glass->contentView();
    return panel;
}

std::shared_ptr<ui::Button> PanelLook::makeButton(const std::string& title, const std::string& systemImage,
                                                  ui::Rect frame) {
    auto b = std::make_shared<ui::Button>(ui::ButtonType::System, frame);
    b->setTitle(title);
    b->titleLabel()->setFont(gfx::Font::system(14));
    if (!systemImage.empty()) b->setImage(ui::Image::systemNamed(systemImage));
    b->setImagePlacement(ui::ImagePlacement::Trailing);
    b->setImagePadding(8);
    b->setContentEdgeInsets(ui::EdgeInsets{2, 6, 2, 6});
    if (isGlass()) {
        // Clear glass: a faint light capsule with a hairline, the text in the label colour.
        b->setBackgroundColor(ui::Color(gfx::Rgba{1, 1, 1, 0.35}, gfx::Rgba{1, 1, 1, 0.12}));
        b->setCornerRadius(frame.height() / 2);
        b->setBorderWidth(1);
        b->setBorderColor(ui::Color(gfx::Rgba{1, 1, 1, 0.6}, gfx::Rgba{1, 1, 1, 0.2}));
        b->setTintColor(ui::Color::label());
    } else {
        // Filled: the product's colour behind white text.
        b->setBackgroundColor(ui::Color(BookCommon::getLeafbrightTextColor()));
        b->setCornerRadius(8);
        b->setTintColor(ui::Color::whiteColor());
        b->setTitleColor(ui::Color::whiteColor());
    }
    b->setClipsToBounds(true);
    return b;
}

std::shared_ptr<ui::Label> PanelLook::makeLabel(const std::string& text, ui::Rect frame, double size) {
    auto l = std::make_shared<ui::Label>();
    l->setText(text);
    l->setFont(gfx::Font::system(size));
    l->setFrame(frame);
    return l;
}

void PanelLook::styleSlider(ui::Slider& slider) {
    if (isGlass()) return;
    BookCommon::setSliderImage(slider, ui::Image::named("maximumtrack_bk"), ui::Image::named("minimumtrack_bk"),
                               ui::Image::named("thumbimage"), kSliderCapWidth);
}

void PanelLook::animateIn(const std::shared_ptr<ui::View>& panel) {
    if (!panel) return;
    panel->setAlpha(0);
    if (!isGlass()) {
        ui::View::animate(kFadeDuration, [panel] { panel->setAlpha(1); });
        return;
    }
    panel->setTransform(ui::AffineTransform::makeScale(kSpringStartScale, kSpringStartScale));
    ui::View::animateSpring(kSpringDuration, 0, kSpringDamping, kSpringVelocity, ui::AnimationOptionCurveEaseOut,
                            [panel] {
                                panel->setAlpha(1);
                                panel->setTransform(ui::AffineTransform::identity());
                            });
}
