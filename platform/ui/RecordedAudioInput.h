#pragma once

#include "platform/ui/FakeAudioInput.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ui {

// A recording heard in place of the microphone: when LEAFBRIGHT_SOUND_INPUT
// names a WAV file, the process's input (AudioInput::shared()) is this. The
// recording plays once, from the input's first start, one buffer per buffer
// duration on the main run loop's clock (virtual in a headless run), and
// silence follows it. For scripted runs that turn pages by sound.
class RecordedAudioInput : public FakeAudioInput {
public:
    static constexpr const char* kEnvironmentVariable = "LEAFBRIGHT_SOUND_INPUT";
    // Larger recordings are refused (about six minutes of 44.1 kHz stereo).
    static constexpr uint64_t kMaxFileBytes = 64ull << 20;
    // Longer recordings are refused (the samples are kept in memory).
    static constexpr double kMaxSeconds = 600;

    // The input of the named WAV file; nothing, and the reason, when it
    // cannot be read or is not 16-bit PCM.
    static std::shared_ptr<RecordedAudioInput> fromFile(const std::string& path, std::string* error);

    // A WAV file's samples as one channel (channels averaged) at `sampleRate`
    // (nearest sample when the file's rate differs). Only 16-bit PCM is taken.
    static std::optional<std::vector<int16_t>> decodeWave(std::string_view bytes, double sampleRate,
                                                           std::string* error);
};

}  // namespace ui
