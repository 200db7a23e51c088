#include "platform/ui/FakeAudioInput.h"

#include <cmath>

namespace ui {

FakeAudioInput::~FakeAudioInput() {
    if (timer_) timer_->invalidate();
}

bool FakeAudioInput::start(const Format& format, BufferHandler onBuffer) {
    ++starts;
    if (!available || running_ || !isUsable(format)) return false;
    format_ = format;
    handler_ = std::move(onBuffer);
    running_ = true;
    double interval = format.bufferDuration();
    timer_ = sys::RunLoop::main().schedule(interval, [this] { tick(); }, interval);
    return true;
}

void FakeAudioInput::stop() {
    if (!running_) return;
    running_ = false;
    if (timer_) timer_->invalidate();
    timer_.reset();
    handler_ = nullptr;
}

void FakeAudioInput::tick() {
    if (!running_) return;
    size_t n = format_.framesPerBuffer * size_t(format_.channels);
    std::vector<int16_t> buf(n, 0);
    for (size_t i = 0; i < n && !queue_.empty(); ++i) {
        buf[i] = queue_.front();
        queue_.pop_front();
    }
    deliver(buf);
}

void FakeAudioInput::queueSamples(const std::vector<int16_t>& samples) {
    queue_.insert(queue_.end(), samples.begin(), samples.end());
}

void FakeAudioInput::queueTone(double seconds, int16_t amplitude) {
    double rate = format_.sampleRate > 0 ? format_.sampleRate : 44100;
    size_t n = size_t(std::max(0.0, seconds) * rate) * size_t(std::max(1, format_.channels));
    for (size_t i = 0; i < n; ++i) queue_.push_back((i / 50) % 2 ? amplitude : int16_t(-amplitude));
}

void FakeAudioInput::queueSilence(double seconds) {
    double rate = format_.sampleRate > 0 ? format_.sampleRate : 44100;
    size_t n = size_t(std::max(0.0, seconds) * rate) * size_t(std::max(1, format_.channels));
    queue_.insert(queue_.end(), n, 0);
}

void FakeAudioInput::setLevels(double averagePower, double peakPower) {
    levels_.averagePower = averagePower;
    levels_.peakPower = peakPower;
}

}  // namespace ui
