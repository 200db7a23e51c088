#include "screens/MicSettingViewController.h"

#include "foundation/BookCommon.h"
#include "foundation/Settings.h"
#include "platform/ui/Color.h"
#include "platform/ui/Label.h"
#include "platform/ui/ProgressView.h"
#include "platform/ui/SegmentedControl.h"
#include "platform/ui/Slider.h"
#include "viewer/MicInput.h"
#include "viewer/MicSettingViewControllerDelegate.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

void MicSettingViewController::viewDidLoad() {
    setTitle(BookCommon::localizedStringWithOnOff("Turn Page by Sound"));
    view()->setBackgroundColor(ui::Color::systemGroupedBackground());
    modeLabel_ = std::make_shared<ui::Label>();
    modeLabel_->setText(BookCommon::localizedStringWithOnOff("Detect Mode"));
    view()->addSubview(modeLabel_);
    modeControl_ = std::make_shared<ui::SegmentedControl>(std::vector<std::string>{
        BookCommon::localizedStringWithOnOff("Single Sound"), BookCommon::localizedStringWithOnOff("Double Sound"),
        BookCommon::localizedStringWithOnOff("Long Sound")});
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    auto self = [weak] { return std::dynamic_pointer_cast<MicSettingViewController>(weak.lock()); };
    modeControl_->addAction(ui::ControlEventValueChanged, [self](ui::Control& c) {
        if (auto s = self()) s->selectDetectMode(static_cast<ui::SegmentedControl&>(c).selectedSegmentIndex() + 1);
    });
    view()->addSubview(modeControl_);
    thresholdLabel_ = std::make_shared<ui::Label>();
    view()->addSubview(thresholdLabel_);
    thresholdSlider_ = std::make_shared<ui::Slider>();
    thresholdSlider_->setMinimumValue(kMinThreshold);
    thresholdSlider_->setMaximumValue(kMaxThreshold);
    // The store is written when the finger lifts, not at every step of a drag.
    thresholdSlider_->addAction(ui::ControlEventValueChanged, [self](ui::Control& c) {
        auto s = self();
        if (!s) return;
        if (c.isTracking()) s->updateThresholdLabel();
        else s->changeThreshold(static_cast<ui::Slider&>(c).value());
    });
    thresholdSlider_->addAction(ui::ControlEventTouchUpInside | ui::ControlEventTouchUpOutside, [self](ui::Control& c) {
        if (auto s = self()) s->changeThreshold(static_cast<ui::Slider&>(c).value());
    });
    view()->addSubview(thresholdSlider_);
    levelMeter_ = std::make_shared<ui::ProgressView>();
    view()->addSubview(levelMeter_);
}

void MicSettingViewController::viewDidLayoutSubviews() {
    const ui::Rect b = view()->bounds();
    const ui::EdgeInsets safe = view()->safeAreaInsets();
    const double x = safe.left + 20, w = std::max(0.0, b.size.width - safe.left - safe.right - 40);
    double y = safe.top + 20;
    modeLabel_->setFrame({x, y, w, 25});
    modeControl_->setFrame({x, y + 30, w, 32});
    y += 90;
    thresholdLabel_->setFrame({x, y, w, 25});
    thresholdSlider_->setFrame({x, y + 30, w, 30});
    levelMeter_->setFrame({x, y + 75, w, 6});
}

void MicSettingViewController::viewWillAppear(bool animated) {
    ui::ViewController::viewWillAppear(animated);
    if (settings_) {
        modeControl_->setSelectedSegmentIndex(std::clamp(settings_->micDetectMode(), 1, 3) - 1);
        thresholdSlider_->setValue(std::clamp(settings_->micThreshold(), kMinThreshold, kMaxThreshold));
    }
    updateThresholdLabel();
    auto me = std::dynamic_pointer_cast<MicSettingViewController>(shared_from_this());
    if (micInput_) {
        micInput_->setDelegate(me);
    } else if (!ownMicInput_) {
        ownMicInput_ = MicInput::make();
        if (ownMicInput_) {
            ownMicInput_->setDelegate(me);
            ownMicInput_->startInput(true);
        }
    }
}

void MicSettingViewController::viewDidDisappear(bool animated) {
    ui::ViewController::viewDidDisappear(animated);
    if (auto lent = std::move(micInput_)) {
        micInput_.reset();
        lent->setDelegate({});
        if (auto d = delegate_.lock()) {
            d->returnMicInputObject(lent);
        } else {
            // Nobody to take it back: a monitor left running would keep the microphone open.
            lent->stopInput();
        }
    }
    if (auto own = std::move(ownMicInput_)) {
        ownMicInput_.reset();
        own->setDelegate({});
        own->stopInput();
    }
}

void MicSettingViewController::selectDetectMode(int mode) {
    if (mode < 1 || mode > 3) return;
    if (settings_) settings_->setMicDetectMode(mode);
    if (modeControl_ && modeControl_->selectedSegmentIndex() != mode - 1) modeControl_->setSelectedSegmentIndex(mode - 1);
}

void MicSettingViewController::changeThreshold(double threshold) {
    if (!std::isfinite(threshold)) return;
    threshold = std::clamp(threshold, kMinThreshold, kMaxThreshold);
    if (settings_ && settings_->micThreshold() != threshold) settings_->setMicThreshold(threshold);
    if (thresholdSlider_ && thresholdSlider_->value() != threshold) thresholdSlider_->setValue(threshold);
    updateThresholdLabel();
}

void MicSettingViewController::updateThresholdLabel() {
    if (!thresholdLabel_ || !thresholdSlider_) return;
    char buf[32];
    std::snprintf(buf, sizeof buf, " %.1f dB", thresholdSlider_->value());
    thresholdLabel_->setText(BookCommon::localizedStringWithOnOff("Sound Pressure") + buf);
}

void MicSettingViewController::onUpdateMicLevel(double level, double peak) {
    level_ = level;
    peak_ = peak;
    // -50 dB is the empty meter, 0 dB the full one.
    if (levelMeter_ && std::isfinite(peak)) levelMeter_->setProgress(std::clamp((peak - kMinThreshold) / -kMinThreshold, 0.0, 1.0));
}
