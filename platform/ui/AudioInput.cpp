#include "platform/ui/AudioInput.h"

#include "platform/ui/AlsaAudioInput.h"
#include "platform/ui/RecordedAudioInput.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace ui {

namespace {
std::mutex& sharedMutex() {
    static std::mutex m;
    return m;
}
std::shared_ptr<AudioInput>& sharedInput() {
    static std::shared_ptr<AudioInput> i;
    return i;
}
double toDb(double v) { return v > 0 ? std::max(AudioInput::kSilence, 20.0 * std::log10(v / 32767.0)) : AudioInput::kSilence; }
}  // namespace

std::shared_ptr<AudioInput> AudioInput::shared() {
    std::lock_guard<std::mutex> lock(sharedMutex());
    if (!sharedInput()) {
        const char* recording = std::getenv(RecordedAudioInput::kEnvironmentVariable);
        if (recording && *recording) {
            std::string why;
            sharedInput() = RecordedAudioInput::fromFile(recording, &why);
            if (!sharedInput()) {
                // Never the real microphone in place of the sound asked for.
                std::fprintf(stderr, "leafbright: %s: %s; no sound is heard\n", RecordedAudioInput::kEnvironmentVariable,
                             why.c_str());
                auto none = std::make_shared<FakeAudioInput>();
                none->available = false;
                sharedInput() = none;
            }
        } else {
            sharedInput() = std::make_shared<AlsaAudioInput>();
        }
    }
    return sharedInput();
}

void AudioInput::setShared(std::shared_ptr<AudioInput> input) {
    std::lock_guard<std::mutex> lock(sharedMutex());
    sharedInput() = std::move(input);
}

bool AudioInput::isUsable(const Format& f) {
    return f.sampleRate >= 1000 && f.sampleRate <= kMaxSampleRate && f.channels >= 1 && f.channels <= kMaxChannels &&
           f.framesPerBuffer >= 1 && f.framesPerBuffer <= kMaxFramesPerBuffer;
}

AudioInput::Levels AudioInput::levelsOf(const int16_t* samples, size_t count) {
    Levels l;
    if (!samples || count == 0) return l;
    double sumSquares = 0;
    int peak = 0;
    for (size_t i = 0; i < count; ++i) {
        int v = std::abs(int(samples[i]));  // 32768 for the most negative sample
        sumSquares += double(v) * double(v);
        peak = std::max(peak, v);
    }
    l.averagePower = toDb(std::sqrt(sumSquares / double(count)));
    l.peakPower = toDb(double(peak));
    return l;
}

void AudioInput::deliver(const std::vector<int16_t>& samples) {
    levels_ = levelsOf(samples.data(), samples.size());
    if (handler_) {
        BufferHandler h = handler_;
        h(samples);
    }
}

}  // namespace ui
