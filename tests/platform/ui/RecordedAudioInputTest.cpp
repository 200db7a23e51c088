// A recording heard in place of the microphone: WAV files made by sox (and
// broken by hand) read into one channel at the input's rate, and the
// recording played on the clock from the input's first start.
#include <gtest/gtest.h>

#include "platform/ui/RecordedAudioInput.h"
#include "tests/support/TestHome.h"
#include "tests/support/VirtualClockTest.h"

#include <cmath>
#include <fstream>
#include <iterator>

namespace {

using ui::RecordedAudioInput;

class RecordedAudioInputTest : public test::VirtualClockTest {
protected:
    void SetUp() override {
        VirtualClockTest::SetUp();
        if (!test::haveProgram("sox")) GTEST_SKIP() << "no sox";
    }
    // A WAV file made by sox from `options` (format) and `effects`; its bytes.
    std::string sox(const std::string& options, const std::string& effects) {
        const std::string file = dir.file("s" + std::to_string(made++) + ".wav");
        if (test::shell("sox -n " + options + " '" + file + "' " + effects + " 2>/dev/null") != 0) return "";
        std::ifstream in(file, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    static int16_t peakOf(const std::vector<int16_t>& s, size_t from, size_t to) {
        int peak = 0;
        for (size_t i = from; i < to && i < s.size(); ++i) peak = std::max(peak, std::abs(int(s[i])));
        return int16_t(std::min(peak, 32767));
    }
    test::TempDir dir{"recorded-sound"};
    int made = 0;
};

TEST_F(RecordedAudioInputTest, WaveFilesBecomeOneChannelAtTheInputRate) {
    std::string why;
    // Mono at the input's own rate: the samples as they are.
    const auto mono = RecordedAudioInput::decodeWave(sox("-r 44100 -c 1 -b 16", "synth 0.5 sine 440 vol 0.5"), 44100, &why);
    ASSERT_TRUE(mono) << why;
    EXPECT_EQ(mono->size(), 22050u);
    EXPECT_NEAR(peakOf(*mono, 0, mono->size()), 16384, 200);

    // Stereo with one silent channel is averaged; 22.05 kHz is brought to 44.1 kHz.
    const auto stereo = RecordedAudioInput::decodeWave(
        sox("-r 22050 -c 2 -b 16", "synth 1 sine 440 sine 440 remix 1 0 vol 0.8"), 44100, &why);
    ASSERT_TRUE(stereo) << why;
    EXPECT_NEAR(double(stereo->size()), 44100, 2);
    EXPECT_NEAR(peakOf(*stereo, 0, stereo->size()), 0.8 * 32767 / 2, 400);

    // What is not 16-bit PCM is refused with a reason.
    EXPECT_FALSE(RecordedAudioInput::decodeWave(sox("-r 44100 -c 1 -b 8 -e unsigned", "synth 0.1 sine 440"), 44100, &why));
    EXPECT_NE(why.find("16-bit"), std::string::npos);
    EXPECT_FALSE(RecordedAudioInput::decodeWave(sox("-r 44100 -c 1 -b 32 -e float", "synth 0.1 sine 440"), 44100, &why));
    EXPECT_FALSE(RecordedAudioInput::decodeWave("RIFF\x04\0\0\0WAVE", 44100, &why));
    EXPECT_FALSE(RecordedAudioInput::decodeWave("ID3 not a wave at all", 44100, &why));
    EXPECT_FALSE(RecordedAudioInput::decodeWave("", 44100, &why));
}

TEST_F(RecordedAudioInputTest, SizesFromTheFileAreBounded) {
    std::string why;
    std::string wave = sox("-r 44100 -c 1 -b 16", "synth 0.2 sine 440 vol 0.5");
    ASSERT_GT(wave.size(), 44u);
    // A data size past the file's end (as a recorder writing to a pipe
    // leaves it) reads what is there.
    std::string open = wave;
    const size_t data = open.find("data");
    ASSERT_NE(data, std::string::npos);
    for (int i = 0; i < 4; ++i) open[data + 4 + i] = char(0xFF);
    const auto samples = RecordedAudioInput::decodeWave(open, 44100, &why);
    ASSERT_TRUE(samples) << why;
    EXPECT_EQ(samples->size(), 8820u);
    // A format chunk claiming more than the file holds, cut short, or a
    // channel count of zero: refused, never read past the end.
    std::string cut = wave.substr(0, data + 8 + 1);
    const auto partial = RecordedAudioInput::decodeWave(cut, 44100, &why);
    ASSERT_TRUE(partial) << "a half sample is dropped";
    EXPECT_TRUE(partial->empty());
    std::string noChannels = wave;
    const size_t fmt = noChannels.find("fmt ");
    noChannels[fmt + 10] = 0;
    noChannels[fmt + 11] = 0;
    EXPECT_FALSE(RecordedAudioInput::decodeWave(noChannels, 44100, &why));
    std::string shortFormat = wave.substr(0, fmt + 8 + 10);
    EXPECT_FALSE(RecordedAudioInput::decodeWave(shortFormat, 44100, &why));
    // Too long to keep in memory: refused by its length, before any sample is made.
    std::string hours = wave;
    const size_t rate = fmt + 12;
    hours[rate] = char(0xE8);  // 1000 Hz: the bytes now last many minutes
    hours[rate + 1] = 0x03;
    hours[rate + 2] = 0;
    hours[rate + 3] = 0;
    std::string big = hours.substr(0, data + 8) + std::string(size_t(1000 * 2 * 601), '\0');
    for (int i = 0; i < 4; ++i) big[data + 4 + i] = char(0xFF);
    EXPECT_FALSE(RecordedAudioInput::decodeWave(big, 44100, &why));
    EXPECT_NE(why.find("seconds"), std::string::npos);

    EXPECT_FALSE(RecordedAudioInput::fromFile(dir.file("missing.wav"), &why));
    EXPECT_NE(why.find("missing.wav"), std::string::npos);
}

TEST_F(RecordedAudioInputTest, TheRecordingPlaysOnTheClockFromTheFirstStart) {
    const std::string file = dir.file("clap.wav");
    ASSERT_EQ(test::shell("sox -n -r 44100 -c 1 -b 16 '" + dir.file("q.wav") + "' trim 0 0.3 && sox -n -r 44100 -c 1 -b 16 '" +
                          dir.file("c.wav") + "' synth 0.1 square 300 vol 0.9 2>/dev/null && sox '" + dir.file("q.wav") + "' '" +
                          dir.file("c.wav") + "' '" + file + "' 2>/dev/null"),
              0);
    std::string why;
    auto input = RecordedAudioInput::fromFile(file, &why);
    ASSERT_TRUE(input) << why;
    advance(5);  // nothing is played before a start
    std::vector<double> peaks;
    ASSERT_TRUE(input->start(ui::AudioInput::Format{}, [&](const std::vector<int16_t>& s) {
        peaks.push_back(ui::AudioInput::levelsOf(s.data(), s.size()).peakPower);
    }));
    advance(0.65);
    ASSERT_EQ(peaks.size(), 6u);
    for (int i = 0; i < 3; ++i) EXPECT_LT(peaks[i], -80) << "quiet (sox's dither at most) " << i;
    EXPECT_GT(peaks[3], -3) << "the sound at 0.3 s";
    EXPECT_EQ(peaks[5], ui::AudioInput::kSilence) << "silence after the recording";
    input->stop();
}

}  // namespace
