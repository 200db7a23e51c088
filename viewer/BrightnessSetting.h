#pragma once

#include "platform/ui/View.h"

#include <memory>

// The brightness overlay: a black view over the whole application whose
// opacity darkens the screen below what the display itself can do. Its
// panel comes with the viewer's tools; the overlay is laid over the root
// navigation at start-up.
class BrightnessSetting {
public:
    static std::shared_ptr<BrightnessSetting> getBrightnessSetting();

    // A new dimming view: black, hidden, letting touches through.
    std::shared_ptr<ui::View> createBrightnessSettingView();
    // Lays the overlay out again after a turn of the screen.
    void setOrientation_iOS8();
    const std::shared_ptr<ui::View>& dimmingView() const { return dimming_; }

private:
    std::shared_ptr<ui::View> dimming_;
};
