// The whole program turning a page by sound: a headless scripted run whose
// microphone is a recording made by sox (LEAFBRIGHT_SOUND_INPUT), with a
// clap before "Start" that only moves the meter and one after it that
// turns the page once.
#include <gtest/gtest.h>

#include "app/LeafbrightProgram.h"
#include "app/NestlarkAppDelegate.h"
#include "foundation/BookCommon.h"
#include "platform/core/PropertyList.h"
#include "platform/graphics/Canvas.h"
#include "platform/ui/AudioInput.h"
#include "platform/ui/Button.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/RecordedAudioInput.h"
#include "platform/ui/TestDriver.h"
#include "platform/ui/Window.h"
#include "tests/app/ProgramRun.h"
#include "tests/support/TestHome.h"
#include "viewer/BookViewController.h"
#include "viewer/MicInput.h"

#include <cstdlib>
#include <functional>

namespace {

class SoundPageTurnProgramTest : public ProgramRun {
protected:
    void SetUp() override {
        if (!test::haveProgram("zip")) GTEST_SKIP() << "no zip";
        if (!test::haveProgram("sox")) GTEST_SKIP() << "no sox";
        makeHome("soundturn");
        markNotFirstRun();
        src = std::make_unique<test::TempDir>("soundturnpages");
    }
    void TearDown() override {
        unsetenv(ui::RecordedAudioInput::kEnvironmentVariable);
        ui::AudioInput::setShared(nullptr);
        ProgramRun::TearDown();
    }
    void makeBook(const std::string& name, int pages) {
        makeFlatBook(src->path(), name, pages, 300, 400, [](int i) { return gfx::Rgba{0.15 + 0.2 * i, 0.4, 0.6 - 0.1 * i, 1}; });
    }
    // A recording of `parts` ("quiet SECONDS" or "clap") one after another, as 16-bit mono WAV.
    std::string record(const std::vector<std::string>& parts) {
        std::string all;
        for (size_t i = 0; i < parts.size(); ++i) {
            const std::string piece = src->file("part" + std::to_string(i) + ".wav");
            const std::string effect = parts[i] == "clap" ? "synth 0.08 whitenoise vol 0.9"
                                                          : "trim 0 " + parts[i].substr(6);
            if (test::shell("sox -n -r 44100 -c 1 -b 16 '" + piece + "' " + effect + " 2>/dev/null") != 0) return "";
            all += " '" + piece + "'";
        }
        const std::string out = src->file("recording.wav");
        if (test::shell("sox" + all + " '" + out + "' 2>/dev/null") != 0) return "";
        return out;
    }
    void play(const std::string& script) {
        std::string error;
        ASSERT_EQ(program->playScript(script, &error), 0) << error;
    }
    // The menu sheet's sound button: the one showing the microphone picture.
    ui::View* soundButton() const {
        ui::View* found = nullptr;
        std::function<void(ui::View&)> walk = [&](ui::View& v) {
            if (auto* b = dynamic_cast<ui::Button*>(&v); b && !v.isHidden() && b->currentImage() &&
                                                          b->currentImage()->name().find("submenubtn_mic") != std::string::npos)
                found = b;
            for (const auto& s : v.subviews()) walk(*s);
        };
        walk(window());
        return found;
    }
    std::unique_ptr<test::TempDir> src;
};

TEST_F(SoundPageTurnProgramTest, ARecordedClapTurnsThePageOnceSoundModeStarted) {
    makeBook("Alpha.cbz", 4);
    writeGlobalSettings({{"defaultZoomMode", sys::PlistValue("fit")}, {"isDoubleTruck", sys::PlistValue(false)}});
    // Heard from the moment the sound panel opens: a clap at 0.5 s (the panel
    // only meters it), and one at 3 s, after "Start".
    const std::string recording = record({"quiet 0.5", "clap", "quiet 2.42", "clap", "quiet 4"});
    ASSERT_FALSE(recording.empty());
    ASSERT_EQ(setenv(ui::RecordedAudioInput::kEnvironmentVariable, recording.c_str(), 1), 0);
    ui::AudioInput::setShared(nullptr);
    ASSERT_TRUE(launch());

    closeWhatsNew();
    play("tap \"Alpha\"\nwait 1\nsheet 0\nwait 2\n");
    ASSERT_TRUE(viewer());
    ASSERT_EQ(viewer()->page(), 0);
    play(tapMiddle() + "wait 1\n");
    ui::View* sound = soundButton();
    ASSERT_TRUE(sound) << "the menu sheet has the sound button";
    play("tap " + centreOf(*sound) + "\nwait 1\nshot sound-panel\n");
    ASSERT_TRUE(viewer()->micInput()) << "the panel listens";
    EXPECT_FALSE(viewer()->micDetectStart());
    EXPECT_EQ(viewer()->page(), 0) << "before Start a clap only moves the meter";

    play("tap \"Start\"\nwait 3\nshot clap-turned\n");
    EXPECT_TRUE(viewer()->micDetectStart());
    EXPECT_EQ(viewer()->page(), 1) << "the clap after Start turns forward";
    play("wait 4\n");
    EXPECT_EQ(viewer()->page(), 1) << "one clap, one turn";

    // The menu function ends sound mode.
    play(tapMiddle() + "wait 1\n");
    EXPECT_FALSE(viewer()->micInput());
}

TEST_F(SoundPageTurnProgramTest, AnUnreadableRecordingIsSilenceNotTheMicrophone) {
    makeBook("Alpha.cbz", 3);
    const std::string notSound = src->file("not-sound.wav");
    ASSERT_EQ(test::shell("printf 'RIFF\\0\\0\\0\\0WAVEjunk' > '" + notSound + "'"), 0);
    ASSERT_EQ(setenv(ui::RecordedAudioInput::kEnvironmentVariable, notSound.c_str(), 1), 0);
    ui::AudioInput::setShared(nullptr);
    auto input = ui::AudioInput::shared();
    ASSERT_TRUE(input);
    EXPECT_FALSE(dynamic_cast<ui::RecordedAudioInput*>(input.get()));
    EXPECT_FALSE(input->start(ui::AudioInput::Format{}, [](const std::vector<int16_t>&) {}))
        << "no input starts, so nothing is heard";
}

}  // namespace
