#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace ui {

// Sound from the microphone, for turning pages by sound: signed 16-bit
// samples in buffers of a fixed length, handed over on the main run loop,
// with the level of the latest buffer for metering. The process's input
// (shared()) captures through ALSA; tests install a FakeAudioInput.
class AudioInput {
public:
    struct Format {
        double sampleRate = 44100;
        int channels = 1;
        size_t framesPerBuffer = 4410;  // 0.1 s at 44.1 kHz
        double bufferDuration() const { return sampleRate > 0 ? double(framesPerBuffer) / sampleRate : 0; }
    };
    // Decibels of full scale: 0 is the loudest, kSilence nothing at all.
    struct Levels {
        double averagePower = kSilence;
        double peakPower = kSilence;
    };
    using BufferHandler = std::function<void(const std::vector<int16_t>& samples)>;
    static constexpr double kSilence = -160;
    // Formats outside these are refused.
    static constexpr double kMaxSampleRate = 192000;
    static constexpr int kMaxChannels = 8;
    static constexpr size_t kMaxFramesPerBuffer = 192000;

    virtual ~AudioInput() = default;
    static std::shared_ptr<AudioInput> shared();
    static void setShared(std::shared_ptr<AudioInput> input);

    // False when there is no input or the format is not usable.
    virtual bool start(const Format& format, BufferHandler onBuffer) = 0;
    virtual void stop() = 0;
    virtual bool isRunning() const = 0;
    const Format& format() const { return format_; }

    // The levels of the latest buffer (average: root mean square).
    Levels currentLevels() const { return levels_; }
    static Levels levelsOf(const int16_t* samples, size_t count);
    static bool isUsable(const Format& f);

protected:
    // Main thread: remembers the levels and passes the buffer on.
    void deliver(const std::vector<int16_t>& samples);

    Format format_;
    Levels levels_;
    BufferHandler handler_;
};

}  // namespace ui
