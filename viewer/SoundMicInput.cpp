#include "viewer/SoundMicInput.h"

#include "platform/ui/AudioInput.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

SoundMicInput::SoundMicInput(std::shared_ptr<ui::AudioInput> input) : input_(std::move(input)) {}

SoundMicInput::~SoundMicInput() {
    for (auto& t : timers_)
        if (t) t->invalidate();
    if (isActive_ && input_) input_->stop();
}

SoundMicInput::Levels SoundMicInput::levelsOf(const int16_t* samples, size_t count) {
    if (!samples || count == 0) return {kSilence, kSilence};
    double sum = 0;
    int maximum = 0;
    for (size_t i = 0; i < count; ++i) {
        const int v = std::abs(int(samples[i]));  // 32768 for the most negative sample
        sum += v;
        maximum = std::max(maximum, v);
    }
    // log10(0) is minus infinity: silence is floored instead.
    auto db = [](double ratio) { return ratio > 0 ? std::max(kSilence, 20 * std::log10(ratio)) : kSilence; };
    return {db(sum / double(count) / 32767.0), db(maximum / 32767.0)};
}

void SoundMicInput::startInput(bool extended) {
    if (isActive_) return;
    if (threshold_ >= 0) threshold_ = -10.0;
    extendMode_ = extended;
    if (!input_) input_ = ui::AudioInput::shared();
    isActive_ = true;
    if (!input_) return;  // no input: no levels and no events
    std::weak_ptr<SoundMicInput> weak = weak_from_this();
    ui::AudioInput::Format format;  // 44.1 kHz, one channel, 0.1 s buffers
    input_->start(format, [weak](const std::vector<int16_t>& samples) {
        if (auto me = weak.lock()) me->onBuffer(samples);
    });
}

void SoundMicInput::stopInput() {
    if (!isActive_) return;
    isActive_ = false;
    if (input_) input_->stop();
    for (auto& t : timers_)
        if (t) t->invalidate();
    timers_.clear();
}

void SoundMicInput::onBuffer(const std::vector<int16_t>& samples) {
    if (!isActive_) return;
    if (extendMode_) {
        const Levels l = levelsOf(samples.data(), samples.size());
        onUpdateMicLevel(l.level, l.peak);
    } else {
        const auto l = input_->currentLevels();
        onUpdateMicLevel(l.averagePower, l.peakPower);
    }
}

void SoundMicInput::later(double delay, void (SoundMicInput::*fn)()) {
    std::erase_if(timers_, [](const sys::RunLoop::TimerRef& t) { return !t || !t->isValid(); });
    std::weak_ptr<SoundMicInput> weak = weak_from_this();
    timers_.push_back(sys::RunLoop::main().schedule(delay, [weak, fn] {
        if (auto me = weak.lock(); me && me->isActive_) ((*me).*fn)();
    }));
}

void SoundMicInput::onUpdateMicLevel(double level, double peak) {
    auto d = delegate();
    if (d) d->onUpdateMicLevel(level, peak);
    const double p = peak, t = threshold_;
    switch (mode_) {
    case 1:
        if (!over_) {
            if (p > t && !invalidTime_) {
                over_ = true;
                if (d) d->didSingleMicEvent();
            }
        } else if (p < t) {
            over_ = false;
            invalidTime_ = true;
            later(1.0, &SoundMicInput::timeoutInvalid);
        }
        break;
    case 2:
        if (!waitForDouble_) {
            if (p > t && !invalidTime_) {
                waitForDouble_ = true;
                over_ = true;
                if (d) d->didFirstMicEvent();
                later(0.5, &SoundMicInput::doubleEventTimeout);
            }
        } else if (p <= t) {
            over_ = false;
        } else if (!over_) {
            waitForDouble_ = false;
            if (d) d->didSpecialMicEvent();
            invalidTime_ = true;
            later(1.0, &SoundMicInput::timeoutInvalid);
        }
        break;
    case 3:
        if (p > t && !invalidTime_ && !over_) {
            over_ = true;
            if (d) d->didFirstMicEvent();
            watchLevelOver_ = true;
            later(0.5, &SoundMicInput::longEventTimeout);
        }
        if (0.75 * p < t) {
            watchLevelOver_ = false;
            if (over_ && !singleInLongDone_) {
                singleInLongDone_ = true;
                if (d) d->didSingleMicEvent();
                invalidTime_ = true;
                later(1.0, &SoundMicInput::timeoutInvalid);
            }
        }
        break;
    default: break;
    }
}

void SoundMicInput::timeoutInvalid() {
    invalidTime_ = false;
    if (auto d = delegate()) d->readyForNext();
}

void SoundMicInput::doubleEventTimeout() {
    if (!waitForDouble_) return;
    waitForDouble_ = false;
    if (auto d = delegate()) d->didSingleMicEvent();
    invalidTime_ = true;
    later(1.0, &SoundMicInput::timeoutInvalid);
}

void SoundMicInput::longEventTimeout() {
    if (watchLevelOver_) {
        if (auto d = delegate()) d->didSpecialMicEvent();
        invalidTime_ = true;
        later(1.0, &SoundMicInput::timeoutInvalid);
    }
    singleInLongDone_ = false;
    over_ = false;
}
