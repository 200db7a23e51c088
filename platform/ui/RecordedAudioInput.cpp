#include "platform/ui/RecordedAudioInput.h"

#include "platform/core/FileManager.h"

#include <cmath>
#include <system_error>

namespace ui {

namespace {

uint32_t le32(std::string_view b, size_t at) {
    return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 | uint32_t(uint8_t(b[at + 2])) << 16 |
           uint32_t(uint8_t(b[at + 3])) << 24;
}
uint16_t le16(std::string_view b, size_t at) { return uint16_t(uint8_t(b[at]) | uint8_t(b[at + 1]) << 8); }

bool fail(std::string* error, const std::string& why) {
    if (error) *error = why;
    return false;
}

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatExtensible = 0xFFFE;

}  // namespace

std::optional<std::vector<int16_t>> RecordedAudioInput::decodeWave(std::string_view bytes, double sampleRate,
                                                                   std::string* error) {
    if (bytes.size() < 12 || bytes.substr(0, 4) != "RIFF" || bytes.substr(8, 4) != "WAVE") {
        fail(error, "not a WAV file");
        return std::nullopt;
    }
    uint16_t channels = 0, bits = 0, format = 0;
    uint32_t rate = 0;
    std::string_view data;
    bool haveFormat = false, haveData = false;
    size_t at = 12;
    while (at + 8 <= bytes.size() && !haveData) {
        const std::string_view id = bytes.substr(at, 4);
        const uint64_t declared = le32(bytes, at + 4);
        at += 8;
        // A recorder writing to a pipe cannot go back to fill the size in:
        // a chunk never reaches past the file's end.
        const size_t size = size_t(std::min<uint64_t>(declared, bytes.size() - at));
        if (id == "fmt ") {
            if (size < 16) break;
            format = le16(bytes, at);
            channels = le16(bytes, at + 2);
            rate = le32(bytes, at + 4);
            bits = le16(bytes, at + 14);
            haveFormat = true;
        } else if (id == "data") {
            data = bytes.substr(at, size);
            haveData = true;
        }
        at += size + (size & 1);  // chunks are padded to an even length
    }
    if (!haveFormat) {
        fail(error, "no format chunk");
        return std::nullopt;
    }
    if ((format != kFormatPcm && format != kFormatExtensible) || bits != 16) {
        fail(error, "only 16-bit PCM sound is taken");
        return std::nullopt;
    }
    if (channels < 1 || channels > kMaxChannels || rate < 1000 || rate > kMaxSampleRate) {
        fail(error, "unusable channel count or sample rate");
        return std::nullopt;
    }
    if (!haveData) {
        fail(error, "no sound data");
        return std::nullopt;
    }
    const size_t frames = data.size() / (2u * channels);
    if (double(frames) / double(rate) > kMaxSeconds) {
        fail(error, "longer than " + std::to_string(int(kMaxSeconds)) + " seconds");
        return std::nullopt;
    }
    std::vector<int16_t> mono(frames);
    for (size_t f = 0; f < frames; ++f) {
        int sum = 0;
        for (size_t c = 0; c < channels; ++c) sum += int16_t(le16(data, (f * channels + c) * 2));
        mono[f] = int16_t(sum / int(channels));
    }
    if (!(sampleRate > 0) || double(rate) == sampleRate) return mono;
    const size_t outFrames = size_t(double(frames) * sampleRate / double(rate));
    std::vector<int16_t> out(outFrames);
    for (size_t i = 0; i < outFrames; ++i)
        out[i] = mono[std::min(frames - 1, size_t(double(i) * double(rate) / sampleRate))];
    return out;
}

std::shared_ptr<RecordedAudioInput> RecordedAudioInput::fromFile(const std::string& path, std::string* error) {
    std::error_code ec;
    auto bytes = sys::FileManager::contentsOfFile(path, kMaxFileBytes, &ec);
    if (!bytes) {
        if (error) *error = "cannot read " + path + ": " + ec.message();
        return nullptr;
    }
    std::string why;
    auto samples = decodeWave(*bytes, Format{}.sampleRate, &why);
    if (!samples) {
        if (error) *error = path + ": " + why;
        return nullptr;
    }
    auto input = std::make_shared<RecordedAudioInput>();
    input->queueSamples(*samples);
    return input;
}

}  // namespace ui
