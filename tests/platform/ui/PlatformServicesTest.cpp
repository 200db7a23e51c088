#include "platform/core/AppPaths.h"
#include "platform/core/OutputVolume.h"
#include "platform/core/RunLoop.h"
#include "platform/graphics/Canvas.h"
#include "platform/ui/AlsaAudioInput.h"
#include "platform/ui/Application.h"
#include "platform/ui/Biometrics.h"
#include "platform/ui/Camera.h"
#include "platform/ui/ChildProcess.h"
#include "platform/ui/DesktopShareService.h"
#include "platform/ui/FakeAudioInput.h"
#include "platform/ui/FakeBiometrics.h"
#include "platform/ui/FakeCamera.h"
#include "platform/ui/FolderPhotoAlbum.h"
#include "platform/ui/QuickActions.h"
#include "platform/ui/RecordingPhotoAlbum.h"
#include "platform/ui/RecordingShareService.h"
#include "platform/ui/RecordingURLOpener.h"
#include "platform/ui/RecordingUserNotificationCenter.h"
#include "platform/ui/SystemURLOpener.h"
#include "tests/support/TestHome.h"
#include "tests/support/VirtualClockTest.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

using namespace ui;

namespace {

class PlatformServicesTest : public test::VirtualClockTest {};

gfx::ImageRef redSquare() {
    gfx::Canvas c(16, 16, 1.0);
    c.fillRect(gfx::Rect(0, 0, 16, 16), gfx::Rgba::rgb(1, 0, 0));
    return c.image();
}

std::string readAll(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

}  // namespace

TEST_F(PlatformServicesTest, URLsGoToTheOpenerOnlyForSchemesItTakes) {
    EXPECT_EQ(SystemURLOpener::scheme("HTTPS://example.com"), "https");
    EXPECT_EQ(SystemURLOpener::scheme("mailto:a@b"), "mailto");
    EXPECT_EQ(SystemURLOpener::scheme("no scheme here"), "");
    EXPECT_EQ(SystemURLOpener::scheme("1http://x"), "");
    EXPECT_EQ(SystemURLOpener::scheme(":x"), "");
    // The desktop opener hands on only the usual schemes, never control characters.
    EXPECT_FALSE(SystemURLOpener::canOpen("javascript:alert(1)"));
    EXPECT_FALSE(SystemURLOpener::canOpen("http://a\nb"));

    auto rec = RecordingURLOpener::install({"https"});
    EXPECT_TRUE(Application::shared().canOpenURL("https://leafbright.example/help"));
    EXPECT_FALSE(Application::shared().canOpenURL("ftp://host/file"));
    std::vector<bool> results;
    Application::shared().openURL("https://leafbright.example/help", [&](bool ok) { results.push_back(ok); });
    Application::shared().openURL("ftp://host/file", [&](bool ok) { results.push_back(ok); });
    EXPECT_TRUE(results.empty());  // answers come on a later turn
    loop().drain();
    EXPECT_EQ(results, (std::vector<bool>{true, false}));
    EXPECT_EQ(rec->opened, (std::vector<std::string>{"https://leafbright.example/help"}));
    Application::shared().setURLOpener({});
}

TEST_F(PlatformServicesTest, LocalNotificationsArriveOnTheClockWhenAllowed) {
    auto center = std::make_shared<RecordingUserNotificationCenter>();
    std::vector<std::string> shown;
    center->setPresenter([&](const UserNotificationCenter::Request& r) { shown.push_back(r.identifier); });
    // Nothing is shown before permission.
    center->add({"early", "Early", "", 1, {}});
    advance(1.1);
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(center->deliveredNotifications().size(), 1u);

    bool granted = false;
    center->requestAuthorization(UserNotificationCenter::OptionAlert | UserNotificationCenter::OptionBadge,
                                 [&](bool g) { granted = g; });
    loop().drain();
    EXPECT_TRUE(granted);
    EXPECT_TRUE(center->authorizedOptions() & UserNotificationCenter::OptionBadge);
    center->add({"FILE_TRANSFER", "Download finished", "book.cbz", 5, {{"file", "book.cbz"}}});
    center->add({"other", "Other", "", 2, {}});
    center->removePendingRequests({"other"});
    // A new request with the same identifier replaces the pending one.
    center->add({"FILE_TRANSFER", "Downloads finished", "2 books", 5, {}});
    ASSERT_EQ(center->pendingRequests().size(), 1u);
    advance(4.9);
    EXPECT_TRUE(shown.empty());
    advance(0.2);
    EXPECT_EQ(shown, (std::vector<std::string>{"FILE_TRANSFER"}));
    EXPECT_EQ(center->deliveredNotifications().back().title, "Downloads finished");
    EXPECT_TRUE(center->pendingRequests().empty());
    EXPECT_EQ(center->removed, (std::vector<std::string>{"other"}));

    // Refused permission takes what was granted away.
    center->grant = false;
    center->requestAuthorization(UserNotificationCenter::OptionBadge, [&](bool g) { granted = g; });
    loop().drain();
    EXPECT_FALSE(granted);
    EXPECT_EQ(center->authorizedOptions(), 0u);

    // The delivered list stays bounded.
    UserNotificationCenter plain;
    for (int i = 0; i < 70; ++i) plain.add({"n" + std::to_string(i), "", "", 0, {}});
    advance(0.1);
    EXPECT_EQ(plain.deliveredNotifications().size(), UserNotificationCenter::kMaxDelivered);
    EXPECT_EQ(plain.deliveredNotifications().back().identifier, "n69");
}

TEST_F(PlatformServicesTest, QuickActionsKeepFourAndRunTheHandler) {
    QuickActions& q = QuickActions::shared();
    q.reset();
    std::vector<QuickActions::Item> items;
    for (int i = 0; i < 6; ++i) items.push_back({"type" + std::to_string(i), "T", "", "", {}});
    items[0].userInfo["key"] = "reading";
    q.setItems(items);
    EXPECT_EQ(q.items().size(), 4u);
    EXPECT_FALSE(q.perform("type0"));  // no handler yet
    std::string key;
    q.setHandler([&](const QuickActions::Item& i) {
        key = i.userInfo.at("key");
        return true;
    });
    EXPECT_TRUE(q.perform("type0"));
    EXPECT_EQ(key, "reading");
    EXPECT_FALSE(q.perform("type5"));  // dropped with the overflow
    q.reset();
}

TEST_F(PlatformServicesTest, TheAlbumWritesNewNumberedPicturesIntoPictures) {
    test::TempDir home("album");
    sys::AppPaths::setHome(home.path());
    FolderPhotoAlbum album;
    std::vector<std::string> outcomes;
    auto record = [&](bool ok, const std::string& error) { outcomes.push_back(ok ? "ok" : "error: " + error); };
    // A picture someone left there is never overwritten, nor is a stale part.
    ::mkdir((home.path() + "/Pictures").c_str(), 0755);
    std::ofstream(home.path() + "/Pictures/IMG_0001.jpg") << "keep";
    std::ofstream(home.path() + "/Pictures/IMG_0002.jpg.part") << "stale";
    const mode_t oldMask = ::umask(022);
    album.saveImage(redSquare(), record);
    album.saveImage(redSquare(), record);
    album.saveImage(nullptr, record);
    loop().drain();
    ::umask(oldMask);
    EXPECT_EQ(outcomes, (std::vector<std::string>{"ok", "ok", "error: no image"}));
    EXPECT_EQ(readAll(home.path() + "/Pictures/IMG_0001.jpg"), "keep");
    std::string jpeg = readAll(home.path() + "/Pictures/IMG_0002.jpg");
    ASSERT_GT(jpeg.size(), 2u);
    EXPECT_EQ(uint8_t(jpeg[0]), 0xFF);
    EXPECT_EQ(uint8_t(jpeg[1]), 0xD8);
    EXPECT_EQ(album.lastSaved(), home.path() + "/Pictures/IMG_0003.jpg");
    struct stat st;
    EXPECT_NE(::stat((home.path() + "/Pictures/IMG_0002.jpg.part").c_str(), &st), 0);
    // The user's alone, whatever the umask, like every file written into the home.
    ASSERT_EQ(::stat((home.path() + "/Pictures/IMG_0002.jpg").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // A folder that cannot be written reports the failure.
    FolderPhotoAlbum bad(home.path() + "/Pictures/IMG_0001.jpg/sub");
    outcomes.clear();
    bad.saveImage(redSquare(), record);
    loop().drain();
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].rfind("error", 0), 0u);
    sys::AppPaths::setHome("");

    RecordingPhotoAlbum rec;
    rec.saveImage(redSquare(), record);
    rec.fail = true;
    rec.saveImage(redSquare(), record);
    loop().drain();
    EXPECT_EQ(rec.saved.size(), 1u);
}

TEST_F(PlatformServicesTest, AbsentHardwareSaysSo) {
    // Biometrics: none on a desktop.
    auto bio = Biometrics::shared();
    EXPECT_FALSE(bio->canEvaluate());
    std::string error;
    bool success = true;
    bio->evaluate("Folder is locked.", [&](bool ok, const std::string& e) {
        success = ok;
        error = e;
    });
    loop().drain();
    EXPECT_FALSE(success);
    EXPECT_EQ(error, Biometrics::kUnavailable);
    FakeBiometrics fake;
    EXPECT_TRUE(fake.canEvaluate());
    EXPECT_EQ(fake.capabilityQueries, 1);
    fake.succeed = false;
    fake.evaluate("why", [&](bool ok, const std::string&) { success = ok; });
    loop().drain();
    EXPECT_FALSE(success);
    EXPECT_EQ(fake.reasons, (std::vector<std::string>{"why"}));

    // Camera: absent.
    EXPECT_FALSE(Camera::shared()->isAvailable());
    gfx::ImageRef shot = redSquare();
    Camera::shared()->takePicture([&](gfx::ImageRef p) { shot = p; });
    loop().drain();
    EXPECT_EQ(shot, nullptr);
    FakeCamera cam;
    cam.pictures.push_back(redSquare());
    cam.takePicture([&](gfx::ImageRef p) { shot = p; });
    loop().drain();
    EXPECT_NE(shot, nullptr);

    // Volume buttons come through the shared output volume.
    auto volume = sys::OutputVolume::shared();
    std::vector<float> heard;
    auto token = volume->addObserver([&](float v) { heard.push_back(v); });
    float before = volume->volume();
    volume->pressVolumeButton(true);
    EXPECT_NEAR(volume->volume(), std::min(1.0f, before + sys::OutputVolume::kStep), 1e-6);
    volume->removeObserver(token);
    volume->setVolume(before);
}

TEST_F(PlatformServicesTest, OpenInNeedsARealFile) {
    test::TempDir dir("share");
    DesktopShareService desktop;
    EXPECT_FALSE(desktop.openIn(dir.file("missing.cbz"), {}));
    EXPECT_FALSE(desktop.openIn(dir.path(), {}));
    EXPECT_FALSE(desktop.openIn("relative.cbz", {}));
    // Without a desktop nothing is handed on, not even a real file.
    std::ofstream(dir.file("real.cbz")) << "PK";
    ShareService none;
    EXPECT_FALSE(none.openIn(dir.file("real.cbz"), {}));
    bool answered = false, handedOn = true;
    none.share({dir.file("real.cbz")}, {}, [&](bool d) {
        answered = true;
        handedOn = d;
    });
    loop().drain();
    EXPECT_TRUE(answered);
    EXPECT_FALSE(handedOn);

    RecordingShareService rec;
    rec.canOpen = false;
    EXPECT_FALSE(rec.openIn("/books/a.cbz", {nullptr, Rect(200, 10, 210, 20)}));
    bool done = false;
    rec.share({"/books/a.cbz"}, {nullptr, Rect(200, 10, 210, 20)}, [&](bool d) { done = d; });
    loop().drain();
    EXPECT_TRUE(done);
    ASSERT_EQ(rec.calls.size(), 2u);
    EXPECT_EQ(rec.calls[1].kind, "share");
    EXPECT_EQ(rec.calls[1].anchorRect, Rect(200, 10, 210, 20));
}

TEST_F(PlatformServicesTest, SoundLevelsAreMeasuredAndFedOnTheClock) {
    std::vector<int16_t> quiet(100, 0);
    EXPECT_EQ(AudioInput::levelsOf(quiet.data(), quiet.size()).peakPower, AudioInput::kSilence);
    EXPECT_EQ(AudioInput::levelsOf(nullptr, 0).averagePower, AudioInput::kSilence);
    std::vector<int16_t> loud(100);
    for (size_t i = 0; i < loud.size(); ++i) loud[i] = i % 2 ? 32767 : -32768;
    auto l = AudioInput::levelsOf(loud.data(), loud.size());
    EXPECT_NEAR(l.peakPower, 0, 0.01);
    EXPECT_NEAR(l.averagePower, 0, 0.01);
    std::vector<int16_t> half(100, 16384);
    EXPECT_NEAR(AudioInput::levelsOf(half.data(), half.size()).averagePower, -6.02, 0.01);

    FakeAudioInput in;
    AudioInput::Format f;  // 44.1 kHz, 0.1 s buffers
    std::vector<double> peaks;
    ASSERT_TRUE(in.start(f, [&](const std::vector<int16_t>& s) {
        EXPECT_EQ(s.size(), 4410u);
        peaks.push_back(AudioInput::levelsOf(s.data(), s.size()).peakPower);
    }));
    EXPECT_FALSE(in.start(f, {}));  // already running
    in.queueTone(0.15, 8192);
    advance(0.05);
    EXPECT_TRUE(peaks.empty());
    advance(0.1);
    ASSERT_EQ(peaks.size(), 1u);
    EXPECT_NEAR(peaks[0], 20 * std::log10(8192.0 / 32767), 0.01);
    EXPECT_NEAR(in.currentLevels().peakPower, peaks[0], 1e-9);
    advance(0.2);
    ASSERT_EQ(peaks.size(), 3u);
    EXPECT_NEAR(peaks[1], peaks[0], 1e-9);  // the rest of the tone
    EXPECT_EQ(peaks[2], AudioInput::kSilence);
    in.setLevels(-20, -5);
    EXPECT_EQ(in.currentLevels().peakPower, -5);
    in.stop();
    advance(1);
    EXPECT_EQ(peaks.size(), 3u);

    // Formats that cannot be captured are refused.
    AudioInput::Format bad;
    bad.framesPerBuffer = 0;
    EXPECT_FALSE(in.start(bad, {}));
    bad = {};
    bad.sampleRate = 1e9;
    EXPECT_FALSE(in.start(bad, {}));
    in.available = false;
    EXPECT_FALSE(in.start(f, {}));
    // A device that does not exist is an error, not a hang.
    AlsaAudioInput alsa("leafbright-no-such-device");
    EXPECT_FALSE(alsa.start(f, {}));
    EXPECT_FALSE(alsa.lastError().empty());
    EXPECT_FALSE(alsa.isRunning());
}

TEST(ChildProcessTest, HelpersRunWithoutAShellAndAreReaped) {
    ASSERT_TRUE(ChildProcess::existsOnPath("sh"));
    EXPECT_FALSE(ChildProcess::existsOnPath("leafbright-no-such-program"));
    EXPECT_EQ(ChildProcess::start({"leafbright-no-such-program"}, {}), nullptr);
    int code = -2;
    std::string out;
    // The argument reaches the program as it is: no shell reads it.
    auto child = ChildProcess::start({"printf", "%s", "a b; $HOME"}, [&](int c, const std::string& o) {
        code = c;
        out = o;
    });
    ASSERT_NE(child, nullptr);
    EXPECT_TRUE(sys::RunLoop::main().runUntil([&] { return code != -2; }, 10));
    EXPECT_EQ(code, 0);
    EXPECT_EQ(out, "a b; $HOME");
    EXPECT_TRUE(child->finished());
    code = -2;
    auto failing = ChildProcess::start({"sh", "-c", "exit 3"}, [&](int c, const std::string&) { code = c; });
    EXPECT_TRUE(sys::RunLoop::main().runUntil([&] { return code != -2; }, 10));
    EXPECT_EQ(code, 3);
}

// The desktop's opener tells how xdg-open ended: one that finds no browser
// (it fails at once) opened nothing.
TEST(ChildProcessTest, TheDesktopOpenerTellsWhetherXdgOpenOpenedTheURL) {
    test::TempDir bin("fakexdg");
    const char* path = std::getenv("PATH");
    const std::string savedPath = path ? path : "";
    ::setenv("PATH", (bin.path() + ":" + savedPath).c_str(), 1);
    SystemURLOpener::install();
    for (const auto& [status, opened] : {std::pair<int, bool>{3, false}, {0, true}}) {
        const std::string program = bin.file("xdg-open-" + std::to_string(status));
        test::writeFile(program, "#!/bin/sh\nexit " + std::to_string(status) + "\n");
        ::chmod(program.c_str(), 0755);
        std::filesystem::remove(bin.file("xdg-open"));
        std::filesystem::create_symlink(program, bin.file("xdg-open"));
        std::vector<bool> results;
        Application::shared().openURL("https://leafbright.example/help", [&](bool ok) { results.push_back(ok); });
        EXPECT_TRUE(sys::RunLoop::main().runUntil([&] { return !results.empty(); }, 10)) << status;
        EXPECT_EQ(results, std::vector<bool>{opened}) << status;
    }
    ::setenv("PATH", savedPath.c_str(), 1);
    Application::shared().setURLOpener({});
}
