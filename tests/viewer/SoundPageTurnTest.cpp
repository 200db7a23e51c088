// Page turns by sound: the monitor's levels and events from sound made by
// sox at test time, and the reading screen turning a page on a clap.
#include "tests/viewer/ViewerFixture.h"

#include "platform/ui/FakeAudioInput.h"
#include "viewer/LevelMeterView.h"
#include "viewer/SoundMicInput.h"

#include <cmath>
#include <fstream>
#include <iterator>

namespace viewertest {
namespace {

// Big-endian signed 16-bit mono at 44.1 kHz from a sox effect chain; empty when sox is missing.
std::vector<int16_t> soxSound(const test::TempDir& dir, const std::string& name, const std::string& effects) {
    const std::string raw = dir.file(name + ".raw");
    if (test::shell("sox -n -r 44100 -c 1 -b 16 -e signed-integer -B '" + raw + "' " + effects + " 2>/dev/null") != 0)
        return {};
    std::ifstream in(raw, std::ios::binary);
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<int16_t> samples(bytes.size() / 2);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = int16_t(uint16_t(bytes[2 * i] << 8 | bytes[2 * i + 1]));
    return samples;
}

struct Events : MicInputDelegate {
    std::vector<std::string> seen;
    std::vector<double> levels;
    void onUpdateMicLevel(double level, double) override { levels.push_back(level); }
    void didFirstMicEvent() override { seen.push_back("first"); }
    void didSingleMicEvent() override { seen.push_back("single"); }
    void didSpecialMicEvent() override { seen.push_back("special"); }
};

class SoundPageTurnTest : public ViewerTest {
protected:
    void SetUp() override {
        ViewerTest::SetUp();
        if (!test::haveProgram("sox")) GTEST_SKIP() << "no sox";
        audio = std::make_shared<ui::FakeAudioInput>();
        ui::AudioInput::setShared(audio);
        MicInput::setMaker([] { return std::make_shared<SoundMicInput>(); });
    }
    void TearDown() override {
        MicInput::setMaker(nullptr);
        ui::AudioInput::setShared(nullptr);
        ViewerTest::TearDown();
    }
    std::shared_ptr<ui::FakeAudioInput> audio;
    test::TempDir sounds{"sounds"};
};

TEST_F(SoundPageTurnTest, LevelsAreFlooredAtSilenceNeverNaN) {
    // A buffer too short for one sample once gave 0/0 and log10(0).
    const auto none = SoundMicInput::levelsOf(nullptr, 0);
    EXPECT_EQ(none.level, SoundMicInput::kSilence);
    EXPECT_EQ(none.peak, SoundMicInput::kSilence);
    const std::vector<int16_t> quiet(100, 0);
    const auto q = SoundMicInput::levelsOf(quiet.data(), quiet.size());
    EXPECT_EQ(q.level, SoundMicInput::kSilence);
    EXPECT_FALSE(std::isnan(q.peak));
    const std::vector<int16_t> loud{-32768, 32767};
    const auto l = SoundMicInput::levelsOf(loud.data(), loud.size());
    EXPECT_NEAR(l.peak, 0, 0.01);
    EXPECT_NEAR(l.level, 0, 0.01);
}

TEST_F(SoundPageTurnTest, ModesTellShortLongAndDoubleSounds) {
    const auto clap = soxSound(sounds, "clap", "synth 0.08 whitenoise vol 0.9");
    const auto hum = soxSound(sounds, "hum", "synth 0.9 sine 440 vol 0.9");
    const auto quiet = soxSound(sounds, "quiet", "synth 1.5 sine 440 vol 0");
    ASSERT_FALSE(clap.empty());
    auto events = std::make_shared<Events>();
    auto run = [&](int mode, const std::vector<std::vector<int16_t>>& parts) {
        events->seen.clear();
        auto mic = std::make_shared<SoundMicInput>(audio);
        mic->setDelegate(events);
        mic->startInput(true);
        EXPECT_EQ(mic->threshold(), -10) << "a new monitor listens from -10 dB";
        mic->setThreshold(-12);
        mic->setMode(mode);
        for (const auto& p : parts) audio->queueSamples(p);
        driver->advance(4);
        mic->stopInput();
        return events->seen;
    };
    EXPECT_EQ(run(1, {quiet, clap, quiet}), std::vector<std::string>{"single"});
    EXPECT_EQ(run(3, {quiet, clap, quiet}), (std::vector<std::string>{"first", "single"})) << "short: forward";
    EXPECT_EQ(run(3, {quiet, hum, quiet}), (std::vector<std::string>{"first", "special"})) << "long: back";
    const auto gap = soxSound(sounds, "gap", "synth 0.2 sine 440 vol 0");
    EXPECT_EQ(run(2, {quiet, clap, gap, clap, quiet}), (std::vector<std::string>{"first", "special"})) << "two claps: back";
    EXPECT_EQ(run(2, {quiet, hum, quiet}), (std::vector<std::string>{"first", "single"}))
        << "one long sound is one sound";
    EXPECT_EQ(run(0, {quiet, clap, quiet}), std::vector<std::string>{}) << "levels only";
    for (double level : events->levels) EXPECT_FALSE(std::isnan(level));
}

TEST_F(SoundPageTurnTest, AClapTurnsThePageOnceStarted) {
    const auto clap = soxSound(sounds, "clap", "synth 0.08 whitenoise vol 0.9");
    const auto quiet = soxSound(sounds, "quiet", "synth 1.5 sine 440 vol 0");
    ASSERT_FALSE(clap.empty());
    set("micDetectMode", 1);
    set("micThreshold", -15.0);
    open(0);
    viewer->realSheet = true;
    viewer->onMicPageBtn();
    settle();
    ASSERT_TRUE(viewer->micInput());
    EXPECT_TRUE(audio->isRunning());
    ASSERT_TRUE(viewer->micLevelMeter());
    EXPECT_EQ(viewer->micLevelMeter()->border(), -15);
    // Before "Start" sound only moves the meter.
    audio->queueSamples(clap);
    driver->advance(0.1);
    EXPECT_GT(viewer->micLevelMeter()->peak(), -15);
    EXPECT_GT(viewer->micLevelMeter()->xOf(viewer->micLevelMeter()->peak()), 250 * 0.6);
    audio->queueSamples(quiet);
    pass(2);
    EXPECT_EQ(shownPage(), 0);
    EXPECT_EQ(viewer->micLevelMeter()->peak(), SoundMicInput::kSilence);
    EXPECT_EQ(viewer->micLevelMeter()->xOf(SoundMicInput::kSilence), 0);

    viewer->btnCloseMicinputMenu();
    EXPECT_TRUE(viewer->micDetectStart());
    EXPECT_FALSE(viewer->micLevelMeter());
    audio->queueSamples(clap);
    audio->queueSamples(quiet);
    pass(2);
    EXPECT_EQ(shownPage(), 1) << "a clap turns forward";

    // The menu function ends sound mode, and the input with it.
    viewer->runFunction(1);
    settle();
    EXPECT_FALSE(viewer->micInput());
    EXPECT_FALSE(audio->isRunning());
    audio->queueSamples(clap);
    pass(2);
    EXPECT_EQ(shownPage(), 1);
}

TEST_F(SoundPageTurnTest, TheSettingsScreenBorrowsTheRunningMonitorAndSoundModeEndsWhenItComesBack) {
    std::shared_ptr<MicInput> lent;
    std::weak_ptr<MicSettingViewControllerDelegate> back;
    BookViewController::setMicSettingScreenFactory(
        [&](std::shared_ptr<Settings>, std::weak_ptr<MicSettingViewControllerDelegate> d, std::shared_ptr<MicInput> m) {
            lent = m;
            back = d;
            return std::make_shared<ui::ViewController>();
        });
    open(0);
    viewer->onMicPageBtn();
    settle();
    auto running = viewer->micInput();
    ASSERT_TRUE(running);
    viewer->micConfigureBtn();
    pass(1);
    BookViewController::setMicSettingScreenFactory(nullptr);
    EXPECT_EQ(lent, running) << "the very monitor that runs, not a second one";
    EXPECT_TRUE(audio->isRunning());
    EXPECT_FALSE(viewer->subfunctionMenu());
    ASSERT_TRUE(back.lock());
    back.lock()->returnMicInputObject(lent);
    EXPECT_FALSE(viewer->micInput()) << "sound mode has to be started again";
    EXPECT_FALSE(audio->isRunning());
}

}  // namespace
}  // namespace viewertest
