#include "viewer/BrightnessSetting.h"

#include "foundation/BookCommon.h"
#include "foundation/ui/ColorDefine.h"
#include "platform/core/DeviceProfile.h"
#include "platform/core/UserDefaults.h"
#include "platform/ui/Label.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Slider.h"
#include "platform/ui/Window.h"
#include "viewer/PanelLook.h"

namespace {
// The screen brightness outlives the program on a device; here we keep it.
constexpr const char* kBrightnessKey = "LBScreenBrightness";
// The darkest screen still shows the page.
constexpr double kDarkestDimming = 0.8;
}  // namespace

std::shared_ptr<BrightnessSetting> BrightnessSetting::getBrightnessSetting() {
    static auto shared = std::make_shared<BrightnessSetting>();
    return shared;
}

std::shared_ptr<ui::View> BrightnessSetting::createBrightnessSettingView() {
    dimming_ = std::make_shared<ui::View>();
    dimming_->setBackgroundColor(ui::Color::black());
    dimming_->setHidden(true);
    dimming_->setUserInteractionEnabled(false);
    dimming_->setAutoresizingMask(ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleHeight);
    const auto stored = sys::UserDefaults::standard().objectForKey(kBrightnessKey);
    if (stored.type() != sys::PlistValue::Type::Null) {
        const double b = std::clamp(sys::UserDefaults::standard().doubleForKey(kBrightnessKey), 0.0, 1.0);
        ui::Screen::main().setBrightness(b);
    }
    applyDimming(ui::Screen::main().brightness());
    return dimming_;
}

void BrightnessSetting::applyDimming(double brightness) {
    if (!dimming_) return;
    const double alpha = (1.0 - std::clamp(brightness, 0.0, 1.0)) * kDarkestDimming;
    dimming_->setAlpha(alpha);
    dimming_->setHidden(alpha <= 0);
}

void BrightnessSetting::setScreenBrightness(double value) {
    const double b = brightnessFromValue(value);
    ui::Screen::main().setBrightness(b);
    auto& d = sys::UserDefaults::standard();
    d.setDouble(b, kBrightnessKey);
    d.synchronize();
    applyDimming(b);
}

double BrightnessSetting::getScreenBrightness() const {
    const double b = ui::Screen::main().brightness();
    // Exactly dark reads below the slider's range: the slider shows its minimum.
    if (b == 0) return -0.01;
    return b * 0.7 + 0.3;
}

void BrightnessSetting::setBrightness() {
    if (slider_) setScreenBrightness(slider_->value() / 100.0);
}

void BrightnessSetting::showBrightnessSettingView(ui::View& host, int orientation) {
    if (back_) return;
    back_ = std::make_shared<BrightnessBackView>(host.bounds());
    back_->setBackgroundColor(ui::Color());
    back_->setUserInteractionEnabled(true);
    back_->setAlpha(0);
    back_->setAutoresizingMask(ui::AutoresizingFlexibleWidth | ui::AutoresizingFlexibleHeight);
    std::weak_ptr<BrightnessSetting> weak = weak_from_this();
    back_->setTargetClose(weak, [weak] {
        if (auto me = weak.lock()) me->brightnessSettingClose();
    });
    panel_ = PanelLook::makePanel(ui::Size{280, 90}, "bk_screenbright", ColorDefine::isDarkmode(&host));
    // Centred whatever the host's size becomes (a turn, a resized window),
    // also where no screen lays the overlay out again itself.
    panel_->setAutoresizingMask(ui::AutoresizingFlexibleLeftMargin | ui::AutoresizingFlexibleRightMargin |
                                ui::AutoresizingFlexibleTopMargin | ui::AutoresizingFlexibleBottomMargin);
    auto label = std::make_shared<ui::Label>();
    label->setFrame(ui::Rect(30, 10, 235, 40));
    label->setText(BookCommon::localizedStringWithOnOff("Brightness"));
    label->setFont(gfx::Font::system(16));
    label->setTextColor(ColorDefine::label());
    slider_ = std::make_shared<ui::Slider>();
    slider_->setFrame(ui::Rect(25, 42, 230, 30));
    slider_->setMinimumValue(0);
    slider_->setMaximumValue(100);
    slider_->setValue(std::max(0.0, 100 * getScreenBrightness()));
    slider_->addAction(ui::ControlEventValueChanged, [weak](ui::Control&) {
        if (auto me = weak.lock()) me->setBrightness();
    }, weak);
    const ui::Rect b = back_->bounds();
    panel_->setCenter(ui::Point{b.width() / 2, b.height() / 2});
    panel_->setUserInteractionEnabled(true);
    host.insertSubview(back_, std::min<size_t>(1, host.subviews().size()));
    setOrientation(orientation);
    back_->addSubview(panel_);
    PanelLook::contentOf(*panel_).addSubview(label);
    PanelLook::contentOf(*panel_).addSubview(slider_);
    auto back = back_;
    ui::View::animate(0.25, [back] { back->setAlpha(1); });
    PanelLook::animateIn(panel_);
}

ui::BarButtonItem::Action BrightnessSetting::toolbarAction(std::weak_ptr<ui::ViewController> screen) {
    return [screen](ui::BarButtonItem&) {
        auto self = screen.lock();
        if (!self || !self->view()) return;
        ui::View* host = self->view()->window() ? static_cast<ui::View*>(self->view()->window()) : self->view();
        getBrightnessSetting()->showBrightnessSettingView(*host, 0);
    };
}

void BrightnessSetting::brightnessSettingClose() {
    if (!back_) return;
    auto back = std::move(back_);
    panel_.reset();
    slider_.reset();
    ui::View::animate(0.25, [back] { back->setAlpha(0); }, [back](bool) { back->removeFromSuperview(); });
}

void BrightnessSetting::setOrientation(int) {
    if (!back_) return;
    const ui::Rect w = back_->superview() ? back_->superview()->bounds() : back_->bounds();
    back_->setFrame(w);
    if (panel_) panel_->setCenter(ui::Point{w.width() / 2, w.height() / 2});
    if (dimming_) dimming_->setFrame(w);
}

void BrightnessSetting::setOrientation_iOS8() {
    if (dimming_ && dimming_->superview()) dimming_->setFrame(dimming_->superview()->bounds());
    setOrientation(0);
}

void BrightnessSetting::resetForTesting() {
    if (back_) back_->removeFromSuperview();
    back_.reset();
    panel_.reset();
    slider_.reset();
    dimming_.reset();
}
