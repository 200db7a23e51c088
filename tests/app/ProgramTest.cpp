#include <gtest/gtest.h>

#include "app/LeafbrightProgram.h"
#include "app/NestlarkAppDelegate.h"
#include "app/SampleBook.h"
#include "foundation/ActiveLog.h"
#include "foundation/BookCommon.h"
#include "foundation/HistoryCollector.h"
#include "foundation/LastStatusRestore.h"
#include "foundation/QNKeyChain.h"
#include "foundation/StatisticsStore.h"
#include "foundation/ui/PopupMenuView.h"
#include "library/LocalFilelistViewController.h"
#include "platform/core/AppPaths.h"
#include "platform/core/Clock.h"
#include "platform/core/FileManager.h"
#include "platform/core/Keychain.h"
#include "platform/core/PropertyList.h"
#include "platform/core/RunLoop.h"
#include "platform/core/UserDefaults.h"
#include "platform/graphics/Canvas.h"
#include "platform/ui/Application.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TestDriver.h"
#include "platform/ui/SegmentedControl.h"
#include "platform/ui/Window.h"
#include "platform/graphics/ImageDecoder.h"
#include "screens/StartupPasscodeInputViewController.h"
#include "platform/ui/UserNotificationCenter.h"
#include "tests/app/ProgramRun.h"
#include "tests/support/TestHome.h"
#include "viewer/BookViewController.h"

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;

void writePng(const std::string& path, double blue = 0.8) {
    gfx::Canvas c(60, 80, 1.0);
    c.fillRect({0, 0, 60, 80}, gfx::Rgba{0.2, 0.5, blue, 1});
    fs::create_directories(fs::path(path).parent_path());
    ASSERT_TRUE(c.writePNG(path));
}

class ProgramTest : public ProgramRun {
protected:
    void SetUp() override { makeHome("apphome"); }

    bool start(std::optional<std::string> target = std::nullopt) {
        if (!launch(target)) return false;
        std::string error;
        if (!program->openTarget(&error)) {
            ADD_FAILURE() << error;
            return false;
        }
        return true;
    }
    std::vector<std::string> stackPaths() const {
        std::vector<std::string> out;
        for (const auto& vc : program->delegate()->navigationController()->viewControllers())
            if (auto* l = dynamic_cast<LocalFilelistViewController*>(vc.get())) out.push_back(l->pathFromBooks());
        return out;
    }
    ui::test::Driver driver() { return ui::test::Driver(*program->delegate()->window()); }

};

TEST_F(ProgramTest, TheFirstRunPutsTheSampleBookInTheLibraryAndOnlyThen) {
    ASSERT_TRUE(start());
    const std::string book = docs() + "/" + SampleBook::kInstalledName;
    EXPECT_TRUE(sys::FileManager::fileExists(book));
    EXPECT_TRUE(driver().findByText("Leafbright Sample"));
    stop();
    ASSERT_TRUE(sys::FileManager::removeItem(book));
    ASSERT_TRUE(start());
    EXPECT_FALSE(sys::FileManager::fileExists(book));  // the user's choice stands
}

TEST_F(ProgramTest, AResetMarkerClearsTheSettingsFilesAndSaysSo) {
    markNotFirstRun();
    const std::string settings = BookCommon::getSettingsFolder();
    sys::PropertyList::writeFile(sys::PlistDictionary{{"bookListStyle", sys::PlistValue("simple")}},
                                 settings + "/.globalsettings.lbs");
    std::ofstream(settings + "/.tapconfig.dat") << "x";
    std::ofstream(settings + "/.keep.lbs") << "x";
    std::ofstream(docs() + "/" + NestlarkAppDelegate::kResetMarker) << "";
    ASSERT_TRUE(start());
    EXPECT_FALSE(sys::FileManager::fileExists(docs() + "/" + NestlarkAppDelegate::kResetMarker));
    EXPECT_FALSE(sys::FileManager::fileExists(settings + "/.tapconfig.dat"));
    EXPECT_TRUE(sys::FileManager::fileExists(settings + "/.keep.lbs"));
    EXPECT_EQ(program->delegate()->settings()->bookListStyle(), 1);  // back to "detail"
    EXPECT_TRUE(driver().findByText("All configuration data has been reset to default values."));
    stop();

    // The user default asks the same, and is cleared.
    useHome();
    sys::UserDefaults::standard().setBool(true, NestlarkAppDelegate::kResetDefault);
    sys::UserDefaults::standard().synchronize();
    std::ofstream(settings + "/.tapconfig.dat") << "x";
    ASSERT_TRUE(start());
    EXPECT_FALSE(sys::FileManager::fileExists(settings + "/.tapconfig.dat"));
    EXPECT_FALSE(sys::UserDefaults::standard().boolForKey(NestlarkAppDelegate::kResetDefault));
    stop();

    // Nothing asked: nothing touched.
    std::ofstream(settings + "/.tapconfig.dat") << "x";
    ASSERT_TRUE(start());
    EXPECT_TRUE(sys::FileManager::fileExists(settings + "/.tapconfig.dat"));
    EXPECT_FALSE(driver().findByText("All configuration data has been reset to default values."));
}

TEST_F(ProgramTest, AResetForgetsTheFolderARestartWouldReturnTo) {
    markNotFirstRun();
    fs::create_directories(docs() + "/Comics/Vol 1");
    ASSERT_TRUE(start());
    std::string error;
    ASSERT_EQ(program->playScript("tap \"Comics\"\nwait 1\ntap \"Vol 1\"\nwait 1\n", &error), 0) << error;
    stop();
    std::ofstream(docs() + "/" + NestlarkAppDelegate::kResetMarker) << "";
    ASSERT_TRUE(start());
    EXPECT_EQ(stackPaths(), std::vector<std::string>{""}) << "the reset ran before the list restored the folder";
    const char* done = "All configuration data has been reset to default values.";
    EXPECT_TRUE(driver().findByText(done));
    // Escape answers the message, before the list under it hears the key.
    ASSERT_EQ(program->playScript("key escape\nwait 1\n", &error), 0) << error;
    EXPECT_FALSE(driver().findByText(done));
    stop();
    ASSERT_TRUE(start());
    EXPECT_EQ(stackPaths(), std::vector<std::string>{""}) << "nothing left to return to";
}

TEST_F(ProgramTest, ARunThatEndedWithoutAMarkIsOfferedAsACrashReport) {
    markNotFirstRun();
    sys::UserDefaults::standard().setBool(true, "enable_crashlog");
    sys::UserDefaults::standard().synchronize();
    std::ofstream(docs() + "/_activelog.txt") << "A---------------0\nC0123456789abcdef\n";
    ASSERT_TRUE(start());
    EXPECT_TRUE(driver().findByText("Crash Detected"));
    EXPECT_TRUE(driver().findByText("Send Crash Log"));
    // There is no mail service here: sending says so.
    std::string error;
    ASSERT_EQ(program->playScript("alert 0\nwait 1\n", &error), 0) << error;
    EXPECT_FALSE(driver().findByText("Crash Detected"));
    EXPECT_TRUE(driver().findByText("Please configure your Mail account"));
    ASSERT_EQ(program->playScript("alert 0\nwait 1\n", &error), 0) << error;
    EXPECT_FALSE(driver().findByText("Please configure your Mail account"));
    stop();
    // That run ended on its termination mark: nothing is asked.
    ASSERT_TRUE(start());
    EXPECT_FALSE(driver().findByText("Crash Detected"));
}

TEST_F(ProgramTest, ThePageDirectionRowSaysWhatItStoresAndTheSpreadFollows) {
    if (!test::haveProgram("zip")) GTEST_SKIP() << "no zip";
    device = "pad";
    markNotFirstRun();
    test::TempDir pages("dirpages");
    const gfx::Rgba colour[] = {{0.85, 0.15, 0.15, 1}, {0.15, 0.65, 0.15, 1}, {0.15, 0.25, 0.85, 1}, {0.9, 0.8, 0.1, 1}};
    for (int i = 0; i < 4; ++i) {
        gfx::Canvas c(600, 800, 1.0);
        c.fillRect({0, 0, 600, 800}, colour[i]);
        ASSERT_TRUE(c.writePNG(pages.file("p" + std::to_string(i) + ".png")));
    }
    ASSERT_EQ(test::shell("cd '" + pages.path() + "' && zip -q -X -0 '" + docs() + "/Story.cbz' p0.png p1.png p2.png p3.png"), 0);
    ASSERT_TRUE(start());
    auto delegate = program->delegate();
    delegate->navigationController()->pushViewController(delegate->makeSettingViewController(delegate->settings(), 0),
                                                         false);
    sys::RunLoop::main().advance(0.5);
    ui::SegmentedControl* row = nullptr;
    for (auto* seg : driver().findAllOf<ui::SegmentedControl>())
        if (seg->numberOfSegments() == 2 && seg->titleForSegment(1) == "Right to Left") row = seg;
    ASSERT_TRUE(row);
    EXPECT_EQ(row->titleForSegment(0), "Left to Right");
    EXPECT_EQ(row->selectedSegmentIndex(), 0) << "the stored \"right\" is read left to right";
    const ui::Rect r = row->convertRectTo(row->segmentRect(1), nullptr);
    std::string error;
    ASSERT_EQ(program->playScript("tap " + std::to_string(int(r.x() + r.width() / 2)) + " " +
                                      std::to_string(int(r.y() + r.height() / 2)) + "\nwait 1\nback\nwait 1\n",
                                  &error),
              0)
        << error;
    auto saved = sys::PropertyList::readDictionary(BookCommon::getSettingsFolder() + "/.globalsettings.lbs");
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->get("pageDirection").asString(), "left");
    EXPECT_EQ(delegate->settings()->pageDirection(), 0);

    // Read right to left, a spread puts the first page on the right.
    ASSERT_EQ(program->playScript("rotate landscape\nwait 1\ntap \"Story\"\nwait 1\nsheet 0\nwait 2\nshot spread\n", &error), 0)
        << error;
    auto* viewer = dynamic_cast<BookViewController*>(delegate->navigationController()->topViewController());
    ASSERT_TRUE(viewer && viewer->displayBookPage() && viewer->displayBookPage()->is2PageLoaded);
    auto shot = gfx::ImageDecoder::decodeFile(home->file("shots/spread.png"));
    ASSERT_TRUE(shot);
    auto colourAt = [&](double fx) {
        const uint32_t p = shot->pixel(int(shot->width() * fx), shot->height() / 2);
        return std::array<int, 3>{int(gfx::redOf(p)), int(gfx::greenOf(p)), int(gfx::blueOf(p))};
    };
    auto is = [](std::array<int, 3> got, const gfx::Rgba& want) {
        return std::abs(got[0] - int(want.r * 255)) < 40 && std::abs(got[1] - int(want.g * 255)) < 40 &&
               std::abs(got[2] - int(want.b * 255)) < 40;
    };
    EXPECT_TRUE(is(colourAt(0.7), colour[0])) << "page 1 on the right";
    EXPECT_TRUE(is(colourAt(0.3), colour[1])) << "page 2 on the left";
}

TEST_F(ProgramTest, TheStartupLockHidesTheLibraryUntilThePassphrase) {
    markNotFirstRun();
    sys::PropertyList::writeFile(sys::PlistDictionary{{"startupLock", sys::PlistValue("passphrase")}},
                                 BookCommon::getSettingsFolder() + "/.globalsettings.lbs");
    QNKeyChain::addOrUpdatePassword(BookCommon::passcodeToHash("open sesame"),
                                    StartupPasscodeInputViewController::kKeychainAccount,
                                    StartupPasscodeInputViewController::kKeychainService);
    fs::create_directories(docs() + "/Comics");
    LastStatusRestore::setLocalTargetPath("Comics");
    ASSERT_TRUE(start());
    auto nav = program->delegate()->navigationController();
    auto* lock = dynamic_cast<StartupPasscodeInputViewController*>(nav->presentedViewController());
    ASSERT_TRUE(lock);
    EXPECT_TRUE(program->delegate()->isPresentingMasterLock());
    EXPECT_EQ(stackPaths(), std::vector<std::string>{""});  // not restored behind the lock
    EXPECT_FALSE(lock->submit("wrong"));
    EXPECT_EQ(lock->messageLabel()->text(), "Incorrect passphrase.");
    EXPECT_TRUE(lock->submit("open sesame"));
    sys::RunLoop::main().advance(2.0);
    EXPECT_FALSE(nav->presentedViewController());
    EXPECT_FALSE(program->delegate()->isPresentingMasterLock());
    EXPECT_EQ(stackPaths(), (std::vector<std::string>{"", "Comics"}));
}

TEST_F(ProgramTest, AFileFromOutsideIsCopiedNeverMovedAndOpened) {
    markNotFirstRun();
    test::TempDir outside("outside");
    const std::string page = outside.file("cover page.png");
    writePng(page);
    writePng(docs() + "/cover page.png", 0.3);  // taken by another picture: the copy gets a number
    ASSERT_TRUE(start(page));
    EXPECT_TRUE(sys::FileManager::fileExists(page));
    EXPECT_TRUE(sys::FileManager::fileExists(docs() + "/cover page(2).png"));
    auto nav = program->delegate()->navigationController();
    auto* viewer = dynamic_cast<BookViewController*>(nav->topViewController());
    ASSERT_TRUE(viewer);
    EXPECT_EQ(viewer->fileName(), docs() + "/cover page(2).png");
    auto history = HistoryCollector::getHistory();
    ASSERT_TRUE(history && !history->empty());
    EXPECT_EQ(history->front().pathFromBooks(), "cover page(2).png");
}

// The copy is made away from the main thread: a program that ends while it
// is under way gives it up, and nothing of it is left in the library.
TEST_F(ProgramTest, ACopyUnderWayWhenTheProgramEndsLeavesNothingInTheLibrary) {
    markNotFirstRun();
    test::TempDir outside("outside");
    makeFlatBook(outside.path(), "Big.cbz", 3, 600, 800, [](int i) { return gfx::Rgba{0.2, 0.1 * i, 0.5, 1}; });
    ASSERT_TRUE(sys::FileManager::moveItem(docs() + "/Big.cbz", outside.file("Big.cbz")));
    ASSERT_TRUE(launch());
    ASSERT_TRUE(program->delegate()->openURL(LeafbrightProgram::targetURL(outside.file("Big.cbz"))));
    stop();
    EXPECT_TRUE(sys::FileManager::fileExists(outside.file("Big.cbz")));
    const auto left = sys::FileManager::contentsOfDirectory(docs());
    ASSERT_TRUE(left);
    for (const auto& name : *left)
        EXPECT_TRUE(name == ".notice.lbs") << "left in the library: " << name;
}

TEST_F(ProgramTest, WhatTheProgramKeepsInItsHomeIsTheUsersAlone) {
    // A book read, its place and settings kept, the history and the defaults
    // written, and the program ended.
    test::TempDir outside("outside");
    fs::create_directories(docs());  // as an older run left it: open to others
    makeFlatBook(outside.path(), "Read.cbz", 3, 60, 80, [](int i) { return gfx::Rgba{0.2, 0.1 * i, 0.5, 1}; });
    ASSERT_TRUE(sys::FileManager::moveItem(docs() + "/Read.cbz", outside.file("Read.cbz")));
    ASSERT_TRUE(start(outside.file("Read.cbz")));
    ASSERT_TRUE(dynamic_cast<BookViewController*>(program->delegate()->navigationController()->topViewController()));
    play("wait 1\nback\nwait 1");
    stop();

    // Every folder and every file but the book itself.
    size_t folders = 0, files = 0;
    for (const auto& e : fs::recursive_directory_iterator(lib())) {
        if (e.is_symlink()) continue;
        struct stat st {};
        ASSERT_EQ(::lstat(e.path().c_str(), &st), 0);
        if (e.is_directory()) {
            ++folders;
            EXPECT_EQ(st.st_mode & 077, 0u) << e.path() << " is open to others";
        } else if (e.is_regular_file() &&
                   !BookCommon::isBookorPDFFileorThemeWithExtension(e.path().extension().string().substr(1))) {
            ++files;
            EXPECT_EQ(st.st_mode & 077, 0u) << e.path() << " is open to others";
        }
    }
    EXPECT_GE(folders, 4u);
    EXPECT_GE(files, 6u);
}

TEST_F(ProgramTest, AHomeLeftOpenToOthersIsMadePrivateAtStartSayingSoOnce) {
    // As an older version, or the user, left it: the home, the key chain's
    // file and a settings file open to others; a folder of books the user made.
    fs::create_directories(lib() + "/Library/Preferences");
    fs::create_directories(docs() + "/Sub");
    test::writeFile(lib() + "/Library/keychain.txt", "");
    test::writeFile(lib() + "/Library/Preferences/other.plist", "");
    ASSERT_EQ(::chmod(lib().c_str(), 0777), 0);
    ASSERT_EQ(::chmod((lib() + "/Library/keychain.txt").c_str(), 0666), 0);
    ASSERT_EQ(::chmod((lib() + "/Library/Preferences/other.plist").c_str(), 0644), 0);
    ASSERT_EQ(::chmod((docs() + "/Sub").c_str(), 0777), 0);
    ASSERT_EQ(::chmod(home->file("sample-source.cbz").c_str(), 0644), 0);
    auto modeOf = [](const std::string& path) {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 07777u;
    };

    testing::internal::CaptureStderr();
    const bool started = start();
    const std::string said = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(started);
    stop();
    EXPECT_NE(said.find(lib() + " or files it keeps were open to others"), std::string::npos) << said;
    EXPECT_EQ(modeOf(lib()), 0700u);
    EXPECT_EQ(modeOf(lib() + "/Library/keychain.txt"), 0600u);
    EXPECT_EQ(modeOf(lib() + "/Library/Preferences/other.plist"), 0600u);
    EXPECT_EQ(modeOf(docs() + "/Sub"), 0777u) << "the user's own folder, guarded by the home";
    EXPECT_EQ(modeOf(docs() + "/" + SampleBook::kInstalledName), 0600u);
    if (fs::exists(docs() + "/" + SampleBook::kThemeName)) {
        EXPECT_EQ(modeOf(docs() + "/" + SampleBook::kThemeName), 0600u);
    }

    // All private now: the next start has nothing to say.
    testing::internal::CaptureStderr();
    ASSERT_TRUE(start());
    stop();
    EXPECT_EQ(testing::internal::GetCapturedStderr().find("open to others"), std::string::npos);
}

TEST_F(ProgramTest, ANoticeOnTheErrorOutputShowsANameFromOutsideWithItsControlCharactersEscaped) {
    markNotFirstRun();
    ASSERT_TRUE(start());
    // A download's name is a server's: it holds no live escape sequence or line break there.
    ui::UserNotificationCenter::Request request;
    request.identifier = "done";
    request.body = "Download Complete: ctl\x01\x1b[31m\nFAKE.cbz";
    testing::internal::CaptureStderr();
    ui::UserNotificationCenter::shared()->add(request);
    sys::RunLoop::main().advance(1.0);
    const std::string said = testing::internal::GetCapturedStderr();
    stop();
    EXPECT_NE(said.find("leafbright: Download Complete: ctl\\x01\\e[31m\\nFAKE.cbz\n"), std::string::npos) << said;
    EXPECT_EQ(said.find('\x1b'), std::string::npos);
}

TEST_F(ProgramTest, TheSameFileHandedOverAgainOpensTheCopyAlreadyThere) {
    markNotFirstRun();
    test::TempDir outside("outside");
    const std::string page = outside.file("cover page.png");
    writePng(page);
    ASSERT_TRUE(start(page));
    std::string error;
    ASSERT_EQ(program->playScript("back\nwait 1\n", &error), 0) << error;
    ASSERT_TRUE(program->delegate()->openURL("file://" + page));
    sys::RunLoop::main().advance(1.0);
    EXPECT_TRUE(sys::FileManager::fileExists(docs() + "/cover page.png"));
    EXPECT_FALSE(sys::FileManager::fileExists(docs() + "/cover page(2).png")) << "copied again";
    auto* viewer = dynamic_cast<BookViewController*>(program->delegate()->navigationController()->topViewController());
    ASSERT_TRUE(viewer);
    EXPECT_EQ(viewer->fileName(), docs() + "/cover page.png");
    // Same name and size, other bytes: a copy of its own.
    stop();
    writePng(page, 0.81);
    ASSERT_EQ(fs::file_size(page), fs::file_size(docs() + "/cover page.png"));
    ASSERT_TRUE(start(page));
    EXPECT_TRUE(sys::FileManager::fileExists(docs() + "/cover page(2).png"));
}

TEST_F(ProgramTest, ARestartWalksBackToTheFolderShownLast) {
    markNotFirstRun();
    fs::create_directories(docs() + "/Comics/Vol 1");
    ASSERT_TRUE(start());
    std::string error;
    ASSERT_EQ(program->playScript("tap \"Comics\"\nwait 1\ntap \"Vol 1\"\nwait 1\n", &error), 0) << error;
    EXPECT_EQ(stackPaths(), (std::vector<std::string>{"", "Comics", "Comics/Vol 1"}));
    stop();
    ASSERT_TRUE(start());
    EXPECT_EQ(stackPaths(), (std::vector<std::string>{"", "Comics", "Comics/Vol 1"}));
}

// A device on the newer system (`--device NAME@26`) shows that system's
// look: the library's menu pops up as its glass menu there, and as the
// plain one on the default system.
TEST_F(ProgramTest, ADeviceOnTheNewerSystemShowsItsLook) {
    markNotFirstRun();
    for (const std::string name : {"phone", "phone@26", "pad@26", "desktop@26"}) {
        SCOPED_TRACE(name);
        device = name;
        ASSERT_TRUE(start());
        const bool newer = name.find("@26") != std::string::npos;
        EXPECT_EQ(sys::DeviceProfile::current().systemMajorVersion(), newer ? 26 : 18);
        auto* library = dynamic_cast<LocalFilelistViewController*>(nav()->topViewController());
        ASSERT_TRUE(library);
        library->onPopupMenu();
        std::string error;
        ASSERT_EQ(program->playScript("wait 1\n", &error), 0) << error;
        auto menus = driver().findAllOf<PopupMenuView>();
        ASSERT_EQ(menus.size(), 1u);
        EXPECT_EQ(menus[0]->isGlassLook(), newer);
        stop();
    }
}

TEST_F(ProgramTest, AScriptStopsAtTheFirstStepThatCannotBeDone) {
    markNotFirstRun();
    ASSERT_TRUE(start());
    std::string error;
    EXPECT_EQ(program->playScript("shot one\n\n# a comment\ntap \"Nothing like this\"\nshot two\n", &error), 1);
    EXPECT_NE(error.find("line 4"), std::string::npos) << error;
    ASSERT_EQ(program->shotsWritten().size(), 1u);
    EXPECT_TRUE(sys::FileManager::fileExists(home->file("shots/one.png")));
    EXPECT_FALSE(sys::FileManager::fileExists(home->file("shots/two.png")));
    EXPECT_EQ(program->playScript("alert 0\n", &error), 1);
    EXPECT_NE(error.find("no alert"), std::string::npos) << error;
    EXPECT_EQ(program->playScript("back\n", &error), 1);
    EXPECT_EQ(program->playScript("shot ../escape\n", &error), 1);
    EXPECT_FALSE(sys::FileManager::fileExists(home->file("escape.png")));
    EXPECT_EQ(program->playScript("frobnicate\n", &error), 1);
}

// A script's tap on a text goes to the frontmost view showing it that a
// finger reaches: behind a question, the tool bar's "Delete" and "Move" lie
// under its dimming. A step right after the one that asked the question
// waits for the question to come to rest rather than reach through it.
TEST_F(ProgramTest, AScriptsTapReachesTheQuestionInFrontNotTheBarBehindIt) {
    markNotFirstRun();
    test::TempDir pages("qpages");
    makeFlatBook(pages.path(), "gone.cbz", 2, 60, 80, [](int) { return gfx::Rgba{0.8, 0.2, 0.2, 1}; });
    makeFlatBook(pages.path(), "kept.cbz", 2, 60, 80, [](int) { return gfx::Rgba{0.2, 0.2, 0.8, 1}; });
    ASSERT_TRUE(start());
    std::string error;
    ASSERT_EQ(program->playScript("wait 1\ntap \"Edit\"\nwait 1\ntap \"gone\"\nwait 0.5\ntap \"Delete\"\ntap \"Delete\"\nwait 1\n",
                                  &error),
              0)
        << error;
    EXPECT_FALSE(fs::exists(docs() + "/gone.cbz")) << "the question's Delete was not the one tapped";
    EXPECT_TRUE(fs::exists(docs() + "/kept.cbz"));
    EXPECT_FALSE(driver().findByText("Are you sure you want to delete this file?"));

    EXPECT_EQ(program->playScript("tap \"Edit\"\nwait 1\ntap \"kept\"\nwait 0.5\ntap \"Delete\"\ntap \"Move\"\n", &error), 1);
    EXPECT_NE(error.find("\"Move\""), std::string::npos) << error;
    EXPECT_TRUE(driver().findByText("Are you sure you want to delete this file?")) << "something behind was pressed";
    EXPECT_TRUE(fs::exists(docs() + "/kept.cbz"));
}

TEST_F(ProgramTest, BackgroundForegroundAndTerminationReachTheActivityLog) {
    markNotFirstRun();
    sys::UserDefaults::standard().setBool(true, "enable_crashlog");
    sys::UserDefaults::standard().synchronize();
    ASSERT_TRUE(start());
    std::string error;
    ASSERT_EQ(program->playScript("background\nforeground\n", &error), 0) << error;
    EXPECT_EQ(ui::Application::shared().applicationState(), ui::Application::State::Active);
    stop();
    auto log = sys::FileManager::contentsOfFile(docs() + "/_activelog.txt");
    ASSERT_TRUE(log);
    EXPECT_NE(log->find("X---------------1\n"), std::string::npos);
    EXPECT_NE(log->find("A---------------1\n"), std::string::npos);
    ASSERT_GE(log->size(), 18u);
    EXPECT_EQ(log->substr(log->size() - 18), "X---------------0\n");
}

}  // namespace
