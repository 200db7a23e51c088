#pragma once

#include "platform/ui/ViewController.h"
#include "viewer/MicInputDelegate.h"

#include <memory>

namespace ui {
class Label;
class ProgressView;
class SegmentedControl;
class Slider;
}  // namespace ui
class MicInput;
class MicSettingViewControllerDelegate;
class Settings;

// The settings of page turning by sound: how a sound is read (one sound,
// two sounds, a long sound) and how loud it has to be, with a live level
// meter. A monitor lent by the reading screen is used while the screen is
// shown and handed back when it leaves; without one the screen runs a
// monitor of its own, if one can be made, and stops it when it leaves.
class MicSettingViewController : public ui::ViewController, public MicInputDelegate {
public:
    // The threshold slider's range, in decibels of full scale.
    static constexpr double kMinThreshold = -50;
    static constexpr double kMaxThreshold = 0;

    MicSettingViewController() = default;

    void setSettings(std::shared_ptr<Settings> s) { settings_ = std::move(s); }
    void setDelegate(std::weak_ptr<MicSettingViewControllerDelegate> d) { delegate_ = std::move(d); }
    // The reading screen's running monitor, lent for as long as this screen is shown.
    void setMicInput(std::shared_ptr<MicInput> m) { micInput_ = std::move(m); }
    const std::shared_ptr<MicInput>& micInput() const { return micInput_; }
    const std::shared_ptr<MicInput>& ownMicInput() const { return ownMicInput_; }

    // What the controls do: mode 1 single, 2 double, 3 long; the threshold in decibels.
    void selectDetectMode(int mode);
    void changeThreshold(double threshold);
    double lastLevel() const { return level_; }
    double lastPeak() const { return peak_; }
    ui::SegmentedControl* modeControl() const { return modeControl_.get(); }
    ui::Slider* thresholdSlider() const { return thresholdSlider_.get(); }

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidDisappear(bool animated) override;
    void viewDidLayoutSubviews() override;

    void onUpdateMicLevel(double level, double peak) override;

private:
    void updateThresholdLabel();

    std::shared_ptr<Settings> settings_;
    std::weak_ptr<MicSettingViewControllerDelegate> delegate_;
    std::shared_ptr<MicInput> micInput_;
    std::shared_ptr<MicInput> ownMicInput_;
    double level_ = -160;
    double peak_ = -160;
    std::shared_ptr<ui::Label> modeLabel_;
    std::shared_ptr<ui::SegmentedControl> modeControl_;
    std::shared_ptr<ui::Label> thresholdLabel_;
    std::shared_ptr<ui::Slider> thresholdSlider_;
    std::shared_ptr<ui::ProgressView> levelMeter_;
};
