// The application's life while it runs, through the whole program on the
// virtual clock: going to the background and back (the lock cover, a locked
// folder's screens thrown away, the passphrase asked again), quick actions
// and the keyboard's frame.
#include <gtest/gtest.h>

#include "app/LeafbrightProgram.h"
#include "app/NestlarkAppDelegate.h"
#include "foundation/AppDelegateServices.h"
#include "foundation/BookCommon.h"
#include "foundation/FolderLockInfo.h"
#include "foundation/QNKeyChain.h"
#include "library/LibraryServices.h"
#include "library/LocalFilelistViewController.h"
#include "platform/core/AppPaths.h"
#include "platform/core/FileManager.h"
#include "platform/core/PropertyList.h"
#include "platform/core/RunLoop.h"
#include "platform/core/UserDefaults.h"
#include "platform/graphics/Canvas.h"
#include "platform/ui/Application.h"
#include "platform/ui/Keyboard.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TestDriver.h"
#include "platform/ui/Window.h"
#include "screens/StartupPasscodeInputViewController.h"
#include "servers/MediaServerMain.h"
#include "tests/app/ProgramRun.h"
#include "tests/support/TestHome.h"
#include "tests/support/VirtualClockTest.h"
#include "tests/support/net/HttpGetRequest.h"
#include "viewer/BookViewController.h"

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

class LifeCycleProgramTest : public ProgramRun {
protected:
    void SetUp() override {
        makeHome("lifehome");
        markNotFirstRun();
    }
    NestlarkAppDelegate& app() { return *program->delegate(); }
    void play(const std::string& script) {
        std::string error;
        ASSERT_EQ(program->playScript(script, &error), 0) << error;
    }
    bool coverShown() {
        auto cover = app().backgroundHiddenView();
        return cover && cover->superview() == app().window().get();
    }
    // Some view of the window's own subviews says "Please wait...".
    bool pleaseWaitOnWindow() {
        ui::test::Driver driver(*app().window());
        auto* found = driver.findByText("Please wait...");
        return found != nullptr;
    }
    void useStartupLock() {
        sys::PropertyList::writeFile(sys::PlistDictionary{{"startupLock", sys::PlistValue("passphrase")}},
                                     BookCommon::getSettingsFolder() + "/.globalsettings.lbs");
        QNKeyChain::addOrUpdatePassword(BookCommon::passcodeToHash("open sesame"),
                                        StartupPasscodeInputViewController::kKeychainAccount,
                                        StartupPasscodeInputViewController::kKeychainService);
    }
    StartupPasscodeInputViewController* lockScreen() {
        auto nav = app().navigationController();
        return nav ? dynamic_cast<StartupPasscodeInputViewController*>(nav->presentedViewController()) : nullptr;
    }
    // The library's "Comics" folder opened over its root.
    void openComics() {
        auto list = std::make_shared<LocalFilelistViewController>();
        list->setPathFromBooks("Comics");
        app().navigationController()->pushViewController(list, false);
        sys::RunLoop::main().advance(1.0);
    }
    // A run started with the library's "Comics" folder open.
    void launchInComics() {
        fs::create_directories(docs() + "/Comics");
        ASSERT_TRUE(launch());
        openComics();
    }
    // A run started on a one-page picture of `colour`, opened on the reading screen.
    void launchReading(gfx::Rgba colour) {
        const std::string page = docs() + "/page.png";
        gfx::Canvas c(60, 80, 1.0);
        c.fillRect({0, 0, 60, 80}, colour);
        ASSERT_TRUE(c.writePNG(page));
        ASSERT_TRUE(launch(page));
        std::string error;
        ASSERT_TRUE(program->openTarget(&error)) << error;
        ASSERT_TRUE(dynamic_cast<BookViewController*>(app().navigationController()->topViewController()));
    }
    std::vector<std::string> stackPaths() {
        std::vector<std::string> out;
        for (const auto& vc : app().navigationController()->viewControllers())
            if (auto* l = dynamic_cast<LocalFilelistViewController*>(vc.get())) out.push_back(l->pathFromBooks());
        return out;
    }
};

TEST_F(LifeCycleProgramTest, TheStartupLockCoversTheWindowAwayAndAsksAgainOnReturn) {
    useStartupLock();
    std::ofstream(docs() + "/Story.cbz") << "story";
    ASSERT_TRUE(launch());
    ASSERT_TRUE(lockScreen());
    ASSERT_TRUE(lockScreen()->submit("open sesame"));
    sys::RunLoop::main().advance(2.0);
    ASSERT_FALSE(lockScreen());
    auto nav = app().navigationController();
    // The media server shares the library; behind the lock it serves nothing.
    auto server = MediaServerMain::sharedMediaServer();
    ASSERT_TRUE(server->start(docs(), "127.0.0.1", 0)) << server->lastError();
    auto status = [&] {
        test::HttpGetRequest get;
        get.open("http://127.0.0.1:" + std::to_string(server->port()) + "/Story.cbz");
        return get.status();
    };
    EXPECT_EQ(status(), 200);

    play("background\n");
    EXPECT_EQ(ui::Application::shared().applicationState(), ui::Application::State::Background);
    EXPECT_TRUE(AppDelegateServices::appGoingToBackground());
    EXPECT_TRUE(coverShown());
    EXPECT_TRUE(pleaseWaitOnWindow());
    // The cover fills the window, so nothing of the library shows through.
    EXPECT_EQ(app().backgroundHiddenView()->frame(), app().window()->bounds());
    EXPECT_EQ(status(), 503);

    ui::Application::shared().setApplicationState(ui::Application::State::Active);
    EXPECT_FALSE(AppDelegateServices::appGoingToBackground());
    // The same library, the passphrase asked over it; the cover rolls away.
    EXPECT_EQ(app().navigationController(), nav);
    ASSERT_TRUE(lockScreen());
    EXPECT_TRUE(app().isPresentingMasterLock());
    EXPECT_EQ(status(), 503);
    sys::RunLoop::main().advance(1.5);
    EXPECT_FALSE(app().backgroundHiddenView());
    EXPECT_FALSE(pleaseWaitOnWindow());
    EXPECT_EQ(status(), 503);

    // Away again while the passphrase is still asked: it is asked once, and
    // the cover is not needed over it.
    play("background\n");
    EXPECT_FALSE(coverShown());
    play("foreground\n");
    EXPECT_TRUE(lockScreen());
    EXPECT_EQ(status(), 503);
    EXPECT_TRUE(lockScreen()->submit("open sesame"));
    sys::RunLoop::main().advance(2.0);
    EXPECT_FALSE(app().isPresentingMasterLock());
    EXPECT_EQ(status(), 200);
}

TEST_F(LifeCycleProgramTest, NoKeyStepOrHandedBookGetsPastTheStartupLock) {
    useStartupLock();
    test::TempDir outside("lockedhandover");
    {
        gfx::Canvas c(60, 80, 1.0);
        c.fillRect({0, 0, 60, 80}, gfx::Rgba{0.9, 0.3, 0.1, 1});
        ASSERT_TRUE(c.writePNG(outside.file("Handed.png")));
    }
    ASSERT_TRUE(launch());
    ASSERT_TRUE(lockScreen());
    // Every key a desktop sends, with and without modifiers.
    play("key escape\nwait 0.5\nkey backspace\nkey return\nkey left\nkey pageup\nkey home\nwait 1\n");
    ASSERT_TRUE(lockScreen()) << "a key closed the start-up lock";
    for (unsigned mods : {0u, unsigned(ui::KeyModifierControl), unsigned(ui::KeyModifierCommand),
                          unsigned(ui::KeyModifierAlternate), unsigned(ui::KeyModifierShift)})
        for (const char* key : {ui::KeyInput::escape, ui::KeyInput::tab, ui::KeyInput::returnKey, ui::KeyInput::leftArrow,
                                 ui::KeyInput::deleteForward, "w", "q", "["})
            if (mods != ui::KeyModifierControl || std::string(key) != "q") app().window()->sendKey({key, mods});
    sys::RunLoop::main().advance(1.0);
    ASSERT_TRUE(lockScreen()) << "a key with a modifier closed the start-up lock";
    // Ctrl+Q ends the run from behind the lock, as closing the window does;
    // it opens nothing.
    app().window()->sendKey({"q", ui::KeyModifierControl});
    EXPECT_TRUE(LeafbrightProgram::stopRequested());
    sys::RunLoop::main().advance(1.0);
    ASSERT_TRUE(lockScreen());
    LeafbrightProgram::resetStopRequest();
    // The script's "back" is refused as well.
    std::string error;
    EXPECT_NE(program->playScript("back\n", &error), 0);
    EXPECT_NE(error.find("passphrase"), std::string::npos) << error;
    ASSERT_TRUE(lockScreen());
    // A book handed over waits behind the lock, and opens after the passphrase.
    ASSERT_TRUE(app().openURL(LeafbrightProgram::targetURL(outside.file("Handed.png"))));
    sys::RunLoop::main().advance(1.0);
    ASSERT_TRUE(lockScreen()) << "a handed-over book closed the start-up lock";
    EXPECT_FALSE(dynamic_cast<BookViewController*>(app().navigationController()->topViewController()));
    ASSERT_TRUE(lockScreen()->submit("open sesame"));
    sys::RunLoop::main().advance(2.0);
    ASSERT_FALSE(lockScreen());
    auto* reader = dynamic_cast<BookViewController*>(app().navigationController()->topViewController());
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->fileName(), docs() + "/Handed.png");
}

TEST_F(LifeCycleProgramTest, AResetAskedForWhileAwayStartsANewLibraryAndSaysSo) {
    ASSERT_NO_FATAL_FAILURE(launchInComics());
    auto nav = app().navigationController();
    play("background\n");
    std::ofstream(docs() + "/" + NestlarkAppDelegate::kResetMarker) << "";
    play("foreground\nwait 1\n");
    EXPECT_NE(app().navigationController(), nav);
    EXPECT_EQ(stackPaths(), std::vector<std::string>{""});
    EXPECT_FALSE(fs::exists(docs() + "/" + NestlarkAppDelegate::kResetMarker));
    ui::test::Driver driver(*app().window());
    EXPECT_TRUE(driver.findByText("All configuration data has been reset to default values."));
}

TEST_F(LifeCycleProgramTest, ThePassphraseOnReturnKeepsTheFoldersShown) {
    useStartupLock();
    fs::create_directories(docs() + "/Comics");
    ASSERT_TRUE(launch());
    ASSERT_TRUE(lockScreen()->submit("open sesame"));
    sys::RunLoop::main().advance(2.0);
    openComics();
    play("background\nforeground\n");
    ASSERT_TRUE(lockScreen());
    ASSERT_TRUE(lockScreen()->submit("open sesame"));
    sys::RunLoop::main().advance(2.0);
    EXPECT_FALSE(lockScreen());
    EXPECT_EQ(stackPaths(), (std::vector<std::string>{"", "Comics"}));
}

TEST_F(LifeCycleProgramTest, FocusLostAndBackIsNoTripAway) {
    useStartupLock();
    ASSERT_TRUE(launch());
    ASSERT_TRUE(lockScreen()->submit("open sesame"));
    sys::RunLoop::main().advance(2.0);
    ui::Application::shared().setApplicationState(ui::Application::State::Inactive);
    EXPECT_TRUE(AppDelegateServices::appGoingToBackground());
    EXPECT_FALSE(coverShown());
    ui::Application::shared().setApplicationState(ui::Application::State::Active);
    EXPECT_FALSE(AppDelegateServices::appGoingToBackground());
    EXPECT_FALSE(lockScreen());
}

TEST_F(LifeCycleProgramTest, WithoutALockTheLibraryStaysAsItWas) {
    ASSERT_NO_FATAL_FAILURE(launchInComics());
    auto nav = app().navigationController();
    play("background\nforeground\nwait 1\n");
    EXPECT_FALSE(coverShown());
    EXPECT_FALSE(lockScreen());
    EXPECT_EQ(app().navigationController(), nav);
    EXPECT_EQ(stackPaths(), (std::vector<std::string>{"", "Comics"}));
}

TEST_F(LifeCycleProgramTest, ALockedFolderOnTheStackIsThrownAwayAndTheReturnStartsAtANewRoot) {
    fs::create_directories(docs() + "/Private/Inner");
    ASSERT_TRUE(FolderLockInfo::lockedWithPasscode("1234", false).writeToFolder(docs() + "/Private"));
    ASSERT_TRUE(launch());
    auto nav = app().navigationController();
    for (const char* path : {"Private", "Private/Inner"}) {
        auto list = std::make_shared<LocalFilelistViewController>();
        list->setPathFromBooks(path);
        nav->pushViewController(list, false);
    }
    sys::RunLoop::main().advance(1.0);
    std::weak_ptr<ui::NavigationController> old = nav;
    nav.reset();

    play("background\n");
    EXPECT_FALSE(app().navigationController());
    EXPECT_FALSE(app().window()->rootViewController());
    EXPECT_TRUE(coverShown());
    sys::RunLoop::main().drain();
    EXPECT_TRUE(old.expired()) << "the locked folder's screens are still held";

    play("foreground\nwait 1.5\n");
    ASSERT_TRUE(app().navigationController());
    EXPECT_EQ(app().window()->rootViewController(), app().navigationController());
    EXPECT_EQ(stackPaths(), std::vector<std::string>{""});
    EXPECT_FALSE(app().backgroundHiddenView());
    // The new library walks back towards the folder shown last, and the
    // locked folder asks for its passcode before it opens again.
    ui::test::Driver driver(*app().window());
    EXPECT_TRUE(driver.findByText("Enter Passcode"));
}

TEST_F(LifeCycleProgramTest, QuickActionsCloseTheBookOrResumeWithoutAsking) {
    ASSERT_NO_FATAL_FAILURE(launchReading(gfx::Rgba{0.2, 0.5, 0.8, 1}));
    auto nav = app().navigationController();
    EXPECT_TRUE(app().performActionForShortcutItem("filelist"));
    sys::RunLoop::main().advance(2.0);
    EXPECT_FALSE(dynamic_cast<BookViewController*>(nav->topViewController()));

    EXPECT_TRUE(app().performActionForShortcutItem("reading"));
    EXPECT_TRUE(BookCommon::getNextSilentResumeFlag());
    EXPECT_FALSE(app().performActionForShortcutItem("camera"));
}

TEST_F(LifeCycleProgramTest, TheKeyboardsFrameFollowsTextEditing) {
    ASSERT_TRUE(launch());
    auto window = app().window();
    EXPECT_FALSE(app().isShowKeyboard());
    ui::Keyboard::shared().show(window.get());
    sys::RunLoop::main().advance(0.5);
    EXPECT_TRUE(app().isShowKeyboard());
    EXPECT_EQ(app().keyboardRect(), ui::Keyboard::frameIn(window.get()));
    EXPECT_GT(app().keyboardRect().height(), 0);
    ui::Keyboard::shared().hide(window.get());
    sys::RunLoop::main().advance(0.5);
    EXPECT_FALSE(app().isShowKeyboard());
}

TEST_F(LifeCycleProgramTest, ARunStartedFromAQuickActionResumesSilentlyOrNotAtAll) {
    ASSERT_NO_FATAL_FAILURE(launchReading(gfx::Rgba{0.7, 0.5, 0.2, 1}));
    stop();
    // Each start below begins from the book being read when the run ended.
    const std::string lastFile = BookCommon::getLastBookSettingFilePath();
    const auto last = sys::FileManager::contentsOfFile(lastFile);
    ASSERT_TRUE(last);
    // Starts again with `action`: is the book on screen, is the question?
    auto startWith = [&](const std::optional<std::string>& action, bool reading, bool asked) {
        ASSERT_TRUE(sys::FileManager::writeFile(lastFile, *last, true));
        quickAction = action;
        ASSERT_TRUE(launch());
        sys::RunLoop::main().advance(1.0);
        auto navigation = app().navigationController();
        EXPECT_EQ(dynamic_cast<BookViewController*>(navigation->topViewController()) != nullptr, reading);
        EXPECT_EQ(navigation->presentedViewController() != nullptr, asked);
    };

    // A plain start asks before it opens the book again.
    ASSERT_NO_FATAL_FAILURE(startWith(std::nullopt, false, true));
    // Ended while the question is up: the next start asks again; answered
    // "No", the one after does not.
    stop();
    std::string error;
    for (bool asked : {true, false}) {
        ASSERT_TRUE(launch());
        sys::RunLoop::main().advance(1.0);
        EXPECT_EQ(app().navigationController()->presentedViewController() != nullptr, asked);
        if (asked) {
            ASSERT_EQ(program->playScript("sheet 1\nwait 1\n", &error), 0) << error;
        }
        stop();
    }
    // A file that is no book given at start: its message first, then the question.
    {
        test::TempDir outside("notabook");
        std::ofstream(outside.file("notes.txt")) << "notes";
        ASSERT_TRUE(sys::FileManager::writeFile(lastFile, *last, true));
        // Given as the program starts, as its command line does.
        program = std::make_unique<LeafbrightProgram>(headlessOptions());
        ASSERT_TRUE(program->launch(true, &error)) << error;
        ASSERT_TRUE(app().isStartScreenShown());
        ASSERT_TRUE(app().openURL(LeafbrightProgram::targetURL(outside.file("notes.txt"))));
        sys::RunLoop::main().advance(3.0);
        ui::test::Driver d(*app().window());
        EXPECT_TRUE(d.findByText("This file is not a book and was not added to the library."));
        EXPECT_FALSE(app().navigationController()->presentedViewController()) << "the question is under the message";
        ASSERT_EQ(program->playScript("alert 0\nwait 1\n", &error), 0) << error;
        EXPECT_TRUE(app().navigationController()->presentedViewController()) << "the question never came";
        stop();
    }
    // "reading": the book comes back without the question.
    ASSERT_NO_FATAL_FAILURE(startWith("reading", true, false));
    stop();
    // "filelist": the library, no book and no question.
    ASSERT_NO_FATAL_FAILURE(startWith("filelist", false, false));
    EXPECT_EQ(stackPaths(), std::vector<std::string>{""});
}

// A quick action picked before the library is built: no book is resumed.
class QuickActionAtLaunchTest : public test::VirtualClockTest {};

TEST_F(QuickActionAtLaunchTest, TheFileListActionForgetsTheBookToResume) {
    test::TempDir home("quickhome");
    sys::AppPaths::setHome(home.path());
    sys::UserDefaults::standard().reload();
    auto delegate = NestlarkAppDelegate::create();
    const std::string last = BookCommon::getLastBookSettingFilePath();
    sys::FileManager::createDirectory(BookCommon::getSettingsFolder(), true);
    ASSERT_TRUE(sys::PropertyList::writeFile(sys::PlistArray{sys::PlistValue("book.cbz")}, last));
    EXPECT_TRUE(delegate->performActionForShortcutItem("filelist"));
    EXPECT_FALSE(sys::FileManager::fileExists(last));
    AppDelegateServices::install(nullptr);
    LibraryServices::install(nullptr);
    ui::Application::shared().reset();
    delegate.reset();
    sys::AppPaths::setHome("");
    sys::UserDefaults::standard().reload();
}

}  // namespace
