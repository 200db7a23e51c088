#pragma once

#include "platform/core/RunLoop.h"
#include "platform/ui/AudioInput.h"

#include <deque>

namespace ui {

// Sound for tests, on the (virtual) clock: while started, every buffer
// duration it hands over the next buffer of the samples queued so far, or
// silence when none are left. Levels may also be set outright for clients
// that only meter.
class FakeAudioInput : public AudioInput {
public:
    ~FakeAudioInput() override;

    bool available = true;
    int starts = 0;

    bool start(const Format& format, BufferHandler onBuffer) override;
    void stop() override;
    bool isRunning() const override { return running_; }

    void queueSamples(const std::vector<int16_t>& samples);
    // A steady tone (a square wave of this amplitude) or quiet, for a time.
    void queueTone(double seconds, int16_t amplitude);
    void queueSilence(double seconds);
    size_t queuedSamples() const { return queue_.size(); }
    void setLevels(double averagePower, double peakPower);

private:
    void tick();
    bool running_ = false;
    std::deque<int16_t> queue_;
    sys::RunLoop::TimerRef timer_;
};

}  // namespace ui
