#pragma once

#include "platform/ui/BarButtonItem.h"
#include "platform/ui/View.h"
#include "platform/ui/ViewController.h"
#include "viewer/BrightnessBackView.h"

#include <memory>

namespace ui {
class Slider;
}

// The brightness panel and overlay. The level is the screen's brightness;
// a screen without a backlight of its own is darkened by the black dimming
// view laid over the root navigation at start-up. The lower 30 % of the
// slider's travel all mean the darkest screen.
class BrightnessSetting : public std::enable_shared_from_this<BrightnessSetting> {
public:
    static std::shared_ptr<BrightnessSetting> getBrightnessSetting();

    // A new dimming view: black, hidden, letting touches through. It takes
    // the brightness last chosen.
    std::shared_ptr<ui::View> createBrightnessSettingView();
    // Opens the panel over `host` (ignored while it is shown).
    void showBrightnessSettingView(ui::View& host, int orientation);
    void brightnessSettingClose();
    // The file lists' tool-bar button: the panel over the screen's window.
    static ui::BarButtonItem::Action toolbarAction(std::weak_ptr<ui::ViewController> screen);
    // Slider value 0..100.
    void setBrightness();
    // Panel value 0..1 to and from the screen's brightness.
    void setScreenBrightness(double value);
    double getScreenBrightness() const;
    static double brightnessFromValue(double value) { return value <= 0.3 ? 0 : (value - 0.3) / 0.7; }
    void setOrientation(int orientation);
    // Lays the overlay and panel out again after a turn of the screen.
    void setOrientation_iOS8();

    const std::shared_ptr<ui::View>& dimmingView() const { return dimming_; }
    BrightnessBackView* brightnessSettingView() const { return back_.get(); }
    ui::View* panel() const { return panel_.get(); }
    ui::Slider* slider() const { return slider_.get(); }
    // Forgets the panel and overlay (tests).
    void resetForTesting();

private:
    void applyDimming(double brightness);

    std::shared_ptr<ui::View> dimming_;
    std::shared_ptr<BrightnessBackView> back_;
    std::shared_ptr<ui::View> panel_;
    std::shared_ptr<ui::Slider> slider_;
};
