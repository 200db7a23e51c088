#include "viewer/BrightnessSetting.h"

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
    return dimming_;
}

void BrightnessSetting::setOrientation_iOS8() {
    if (dimming_ && dimming_->superview()) dimming_->setFrame(dimming_->superview()->bounds());
}
