#pragma once

#include "platform/core/RunLoop.h"
#include "viewer/MicInput.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace ui {
class AudioInput;
}

// The working microphone monitor: levels of the process's sound input (ALSA
// capture, or whatever input tests install) every 0.1 s, and the sounds they
// make turned into page-turn events. All on the main run loop.
class SoundMicInput : public MicInput, public std::enable_shared_from_this<SoundMicInput> {
public:
    struct Levels {
        double level;  // mean of the magnitudes, dB of full scale
        double peak;   // largest magnitude, dB of full scale
    };
    // The quietest level reported: no sound, or a buffer too short to hold a sample.
    static constexpr double kSilence = -160;

    explicit SoundMicInput(std::shared_ptr<ui::AudioInput> input = nullptr);
    ~SoundMicInput() override;

    void startInput(bool extended) override;
    void stopInput() override;
    bool isActive() const override { return isActive_; }
    bool extendMode() const override { return extendMode_; }
    void setMode(int mode) override { mode_ = mode; }
    int mode() const override { return mode_; }
    void setThreshold(double threshold) override { threshold_ = threshold; }
    double threshold() const override { return threshold_; }

    // The levels of one buffer of samples; never NaN.
    static Levels levelsOf(const int16_t* samples, size_t count);
    // One level report: forwarded to the delegate, then detection.
    void onUpdateMicLevel(double level, double peak);

private:
    void onBuffer(const std::vector<int16_t>& samples);
    void later(double delay, void (SoundMicInput::*fn)());
    void timeoutInvalid();
    void doubleEventTimeout();
    void longEventTimeout();

    std::shared_ptr<ui::AudioInput> input_;
    bool isActive_ = false;
    bool over_ = false;
    bool invalidTime_ = false;
    bool waitForDouble_ = false;
    bool watchLevelOver_ = false;
    bool singleInLongDone_ = false;
    bool extendMode_ = false;
    int mode_ = 0;
    double threshold_ = 0;
    std::vector<sys::RunLoop::TimerRef> timers_;
};
