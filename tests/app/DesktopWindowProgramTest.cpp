// The whole program in a desktop window whose size the user changes: made
// smaller or larger, back from full screen, turned from wide to tall, an
// open page is laid out again for the new size at once (whole on screen,
// and the arrow keys still turn pages). Checked on the views and on the
// pictures the program's own script steps take.
#include <gtest/gtest.h>

#include "app/LeafbrightProgram.h"
#include "app/NestlarkAppDelegate.h"
#include "platform/core/PropertyList.h"
#include "foundation/BookCommon.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TestDriver.h"
#include "platform/ui/Toolbar.h"
#include "viewer/BookMarkIndex.h"
#include "viewer/BrightnessSetting.h"
#include "platform/ui/Window.h"
#include "tests/app/ProgramRun.h"
#include "tests/app/ProgramShot.h"
#include "tests/support/FakePortal.h"
#include "tests/support/PrivateSessionBus.h"
#include "tests/support/TestHome.h"
#include "tests/support/VirtualClockTest.h"
#include "engine/BookPage.h"
#include "viewer/BookViewController.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <utility>
#include <vector>
#include <filesystem>
#include <string>

namespace {

using programtest::kPage;
using programtest::Shot;
using programtest::toRgba;

class DesktopWindowProgramTest : public ProgramRun {
protected:
    void SetUp() override {
        if (!test::haveProgram("zip")) GTEST_SKIP() << "no zip";
        device = "desktop";
        makeHome("desktopwindow");
        markNotFirstRun();
        src = std::make_unique<test::TempDir>("desktopwindowpages");
    }
    void TearDown() override {
        keepShots("desktop-window-");
        ProgramRun::TearDown();
    }

    Shot shot(const std::string& name) const { return Shot(home->file("shots/" + name + ".png"), window()); }
    ui::Rect inWindow(const ui::View& v) const { return v.convertRectTo(v.bounds(), nullptr); }

    // The page on screen, in window coordinates.
    ui::Rect pageRect() const {
        BookViewController* v = viewer();
        ui::View* image = v->imageViewDisplay() ? static_cast<ui::View*>(v->imageViewDisplay())
                                                : static_cast<ui::View*>(v->imageView());
        return inWindow(*image);
    }

    // The page (or spread) is whole inside the window and fills it on one
    // side: laid out for the window's size, not the one before.
    void expectPageFits(const std::string& shotName, const char* what) {
        play("wait 2\nshot " + shotName + "\n");
        ASSERT_TRUE(viewer()) << what;
        const ui::Rect w = window().bounds();
        const ui::Rect p = pageRect();
        EXPECT_GE(p.x(), -1.0) << what;
        EXPECT_GE(p.y(), -1.0) << what;
        EXPECT_LE(p.maxX(), w.width() + 1.0) << what << ": the page is cut off on the right";
        EXPECT_LE(p.maxY(), w.height() + 1.0) << what << ": the page is cut off at the bottom";
        EXPECT_TRUE(std::fabs(p.width() - w.width()) < 2 || std::fabs(p.height() - w.height()) < 2)
            << what << ": the page does not fill the window (" << p.width() << "x" << p.height() << " in "
            << w.width() << "x" << w.height() << ")";
        // The picture shows the page's own colour near each corner of the
        // page inside its letterbox margins.
        const BookPage& page = *viewer()->displayBookPage();
        const double k = page.targetSize.width > 0 ? p.width() / page.targetSize.width : 1;
        const ui::Rect c(p.x() + page.offset.x * k, p.y() + page.offset.y * k, p.width() - 2 * page.offset.x * k,
                         p.height() - 2 * page.offset.y * k);
        EXPECT_GE(c.x(), -1.0) << what;
        EXPECT_LE(c.maxX(), w.width() + 1.0) << what;
        EXPECT_LE(c.maxY(), w.height() + 1.0) << what;
        Shot s = shot(shotName);
        ASSERT_TRUE(s) << what;
        const int first = viewer()->page() % 6, last = (viewer()->page() + (page.is2PageLoaded ? 1 : 0)) % 6;
        EXPECT_TRUE(s.is(c.x() + 6, c.y() + 6, kPage[first])) << what;
        EXPECT_TRUE(s.is(c.x() + 6, c.maxY() - 6, kPage[first])) << what;
        EXPECT_TRUE(s.is(c.maxX() - 6, c.y() + 6, kPage[last])) << what;
        EXPECT_TRUE(s.is(c.maxX() - 6, c.maxY() - 6, kPage[last])) << what;
    }

    void resize(double w, double h) {
        window().resize({w, h});
        play("wait 0.1\n");
    }

    // Tool bars in the window other than the navigation controller's own:
    // the reading screen's menu bar, wherever it stands (a bar left below
    // the window comes into sight when the window grows).
    std::vector<ui::Toolbar*> menuBars() const {
        std::vector<ui::Toolbar*> out;
        for (ui::Toolbar* bar : ui::test::Driver(window()).findAllOf<ui::Toolbar>(false))
            if (bar != nav()->toolbar()) out.push_back(bar);
        return out;
    }
    void openMenu() {
        play(tapMiddle() + "wait 1\n");
        ASSERT_TRUE(viewer()->isOpenBar());
        ASSERT_EQ(menuBars().size(), 1u);
    }
    // After the sheet closed one way: a turn and a larger window show no
    // menu bar, and the page reaches the bottom of the window.
    void expectNoMenuBarAfterTurns(const std::string& what) {
        const double wasHeight = window().bounds().height();
        play("wait 1\n");
        EXPECT_TRUE(menuBars().empty()) << what;
        // Turned to a taller window: just below where the window ended, the
        // page (or the list) shows, no black bar.
        resize(768, 1024);
        play("wait 2\nshot " + what + "-turned\n");
        EXPECT_TRUE(menuBars().empty()) << what << ", turned";
        Shot turned = shot(what + "-turned");
        ASSERT_TRUE(turned);
        const programtest::Rgb below = turned.at(384, wasHeight + 20);
        EXPECT_GT(below.r + below.g + below.b, 120) << what << ": a black bar below the old bottom edge";
        if (viewer() && pressWhereAddStood) {
            play("tap " + std::to_string(int(addAt.x)) + " " + std::to_string(int(wasHeight + 20)) + "\nwait 1\n");
            EXPECT_TRUE(BookMarkIndex::read(BookCommon::getBookMarkIndexFile(docs() + "/Pages.cbz", false)).empty())
                << what << ": a button of a closed menu added a bookmark";
            if (viewer()->isOpenBar()) play(tapMiddle() + "wait 1\n");
        }
        resize(1100, 800);
        play("wait 2\nshot " + what + "\n");
        EXPECT_TRUE(menuBars().empty()) << what << ", larger";
    }

    // Where the menu bar's "+" stood, tried after the sheet closed.
    ui::Point addAt;
    bool pressWhereAddStood = false;
    std::unique_ptr<test::TempDir> src;
};

TEST_F(DesktopWindowProgramTest, EverySizeChangeLaysTheOpenPageOutAgain) {
    makeFlatBook(src->path(), "Pages.cbz", 8, 600, 800, [](int i) { return toRgba(kPage[i % 6]); });
    writeGlobalSettings({{"isDoubleTruck", sys::PlistValue(true)}, {"defaultZoomMode", sys::PlistValue("fit")}});
    ASSERT_TRUE(launch());
    play("tap \"Pages\"\nwait 1\nsheet 0\nwait 2\n");
    ASSERT_TRUE(viewer());
    expectPageFits("opened", "as opened");

    // Full screen and back (a larger window, then the one before).
    resize(1600, 1000);
    expectPageFits("full", "full screen");
    resize(1024, 768);
    expectPageFits("back", "back from full screen");
    // Smaller again, and in quick steps as a dragged edge gives them.
    resize(800, 600);
    expectPageFits("smaller", "made smaller");
    resize(760, 580);
    resize(720, 560);
    resize(700, 540);
    expectPageFits("dragged", "dragged smaller");
    // Taller than wide, and back.
    resize(600, 800);
    expectPageFits("tall", "made tall");
    resize(1100, 700);
    expectPageFits("wide", "wide again");
    // A square window is not wider than high: it reads as portrait, one
    // page at a time, from a wide window and at the smallest size too.
    for (double side : {500.0, 320.0}) {
        resize(side, side);
        expectPageFits("square", "square");
        EXPECT_FALSE(ui::isLandscape(window().orientation())) << side;
        EXPECT_FALSE(viewer()->displayBookPage()->is2PageLoaded) << side;
        resize(1100, 700);
    }
    EXPECT_TRUE(viewer()->displayBookPage()->is2PageLoaded);

    // The arrows turn pages of the page laid out for this size.
    const int before = viewer()->page();
    play("key right\nwait 2\n");
    EXPECT_NE(viewer()->page(), before) << "an arrow panned instead of turning the page";
}

TEST_F(DesktopWindowProgramTest, TheTitleNamesTheBookAndPageOrTheFolder) {
    makeFlatBook(src->path(), "Night Story.cbz", 12, 300, 400, [](int i) { return toRgba(kPage[i % 6]); });
    std::filesystem::create_directories(docs() + "/Comics");
    std::filesystem::rename(docs() + "/Night Story.cbz", docs() + "/Comics/Night Story.cbz");
    const std::string folder = "Odd\x1b[31m";
    std::filesystem::create_directories(docs() + "/" + folder);
    writeGlobalSettings({{"isDoubleTruck", sys::PlistValue(false)}});
    ASSERT_TRUE(launch());
    const std::string home = program->windowTitle();
    EXPECT_NE(home.find("Leafbright"), std::string::npos) << home;
    play("tap \"Comics\"\nwait 1\n");
    EXPECT_EQ(program->windowTitle(), "Comics \u2014 Leafbright");
    play("tap \"Night Story\"\nwait 1\nsheet 0\nwait 2\n");
    ASSERT_TRUE(viewer());
    EXPECT_EQ(program->windowTitle(), "Night Story \u2014 1/12");
    play("key pagedown\nwait 1\nkey pagedown\nwait 1\n");
    EXPECT_EQ(program->windowTitle(), "Night Story \u2014 3/12");
    play("back\nwait 2\n");
    EXPECT_EQ(program->windowTitle(), "Comics \u2014 Leafbright");
    play("back\nwait 1\n");
    EXPECT_EQ(program->windowTitle(), home);

    // Names from outside: their control characters are shown escaped, and a
    // direction override is closed before the page count; the list shows
    // them as they are.
    const std::string rlo = "\xE2\x80\xAE", pdf = "\xE2\x80\xAC";
    play("wait 1\ntap \"" + folder + "\"\nwait 1\n");
    EXPECT_EQ(program->windowTitle(), "Odd\\e[31m \u2014 Leafbright");
    const std::string odd = "bad\x1b]0;PWNED\a\x1b[2J\nFAKE: line" + rlo + "fdp";
    makeFlatBook(src->path(), odd + ".cbz", 8, 300, 400, [](int i) { return toRgba(kPage[i % 6]); });
    std::filesystem::rename(docs() + "/" + odd + ".cbz", src->file(odd + ".cbz"));
    ASSERT_TRUE(program->delegate()->openURL(LeafbrightProgram::targetURL(src->file(odd + ".cbz"))));
    play("wait 2\n");
    ASSERT_TRUE(viewer());
    EXPECT_EQ(program->windowTitle(), "bad\\e]0;PWNED\\a\\e[2J\\nFAKE: line" + rlo + "fdp" + pdf + " \u2014 1/8");
}

TEST_F(DesktopWindowProgramTest, EveryWayOfClosingTheMenuTakesItsToolBarAway) {
    makeFlatBook(src->path(), "Pages.cbz", 8, 600, 800, [](int i) { return toRgba(kPage[i % 6]); });
    writeGlobalSettings({{"isDoubleTruck", sys::PlistValue(false)}, {"defaultZoomMode", sys::PlistValue("fit")}});
    ASSERT_TRUE(launch());
    play("tap \"Pages\"\nwait 1\nsheet 0\nwait 2\n");
    ASSERT_TRUE(viewer());

    // A panel: the brightness panel, closed by a tap beside it.
    openMenu();
    ui::View* brightness = menuBarItem([](const ui::BarButtonItem& i) { return named(i, "brightness"); });
    ASSERT_TRUE(brightness);
    play("tap " + centreOf(*brightness) + "\nwait 1\n");
    ASSERT_TRUE(BrightnessSetting::getBrightnessSetting()->brightnessSettingView());
    play("tap 5 300\nwait 1\n");
    expectNoMenuBarAfterTurns("after-panel");

    // At once: the bookmark list, closed with Done.
    openMenu();
    ui::View* list = menuBarItem([](const ui::BarButtonItem& i) { return i.systemItem() == ui::BarButtonSystemItem::Bookmarks; });
    ASSERT_TRUE(list);
    play("tap " + centreOf(*list) + "\nwait 1\n");
    ASSERT_TRUE(viewer()->bookMarkViewController());
    // As the other screens, it comes under a title bar, "Done" in the bar.
    auto* marks = dynamic_cast<ui::NavigationController*>(window().rootViewController()->presentedViewController());
    ASSERT_TRUE(marks) << "no title bar";
    EXPECT_EQ(marks->topViewController()->title(), "Bookmarks");
    ui::View* done = ui::test::Driver(window()).findByText("Done");
    ASSERT_TRUE(done);
    EXPECT_TRUE(done->isDescendantOfView(marks->navigationBar())) << "\"Done\" is a row of the list";
    EXPECT_FALSE(ui::test::Driver(window()).findByText("Bookmarks") &&
                 !ui::test::Driver(window()).findByText("Bookmarks")->isDescendantOfView(marks->navigationBar()))
        << "the list keeps its caption under the bar";
    play("shot bookmarks\ntap \"Done\"\nwait 1\n");
    EXPECT_FALSE(viewer()->bookMarkViewController());
    expectNoMenuBarAfterTurns("after-bookmarks");

    // The settings screen, pushed from the menu and left with back.
    openMenu();
    ui::View* settingsButton = menuBarItem([](const ui::BarButtonItem& i) { return named(i, "settings"); });
    ASSERT_TRUE(settingsButton);
    ui::View* add = menuBarItem([](const ui::BarButtonItem& i) { return i.systemItem() == ui::BarButtonSystemItem::Add; });
    ASSERT_TRUE(add);
    addAt = ui::test::Driver(window()).centerOf(*add);
    pressWhereAddStood = addAt.x < 760;
    play("tap " + centreOf(*settingsButton) + "\nwait 1\n");
    ASSERT_NE(nav()->topViewController(), static_cast<ui::ViewController*>(viewer())) << "no settings screen";
    play("back\nwait 1\n");
    ASSERT_TRUE(viewer());
    expectNoMenuBarAfterTurns("after-settings");
    EXPECT_TRUE(pressWhereAddStood) << "the add button stood past the turned window's width";
    pressWhereAddStood = false;

    // The close button: the book closes, and the library shows no bar of it.
    openMenu();
    play("tap \"Close book\"\nwait 2\n");
    EXPECT_FALSE(viewer()) << "the book is still open";
    expectNoMenuBarAfterTurns("after-close");
}

// The window's look follows the desktop's light or dark preference (the
// portal's colour scheme), at once and whenever the desktop changes it.
TEST_F(DesktopWindowProgramTest, TheLookFollowsTheDesktopsDarkPreference) {
    if (!test::haveProgram("dbus-daemon")) GTEST_SKIP() << "no dbus-daemon";
    test::PrivateSessionBus bus;
    ASSERT_TRUE(bus.start());
    test::FakePortal portal(bus.address);
    portal.setColorScheme(1);
    ASSERT_TRUE(launch());
    const ui::Rect w = window().bounds();
    program->followDesktopAppearance(bus.address);
    // The start waits a bounded time for the portal; on a loaded machine its
    // answer may come after that, and switches the look then.
    EXPECT_TRUE(test::drainUntil([&] { return window().windowTraits().isDark(); }, 10));
    play("wait 1\nshot dark\n");
    Shot dark = shot("dark");
    ASSERT_TRUE(dark);
    EXPECT_TRUE(dark.is(w.width() / 2, w.height() / 2, {0, 0, 0}, 30)) << "the library is drawn dark";

    portal.setColorScheme(2);
    EXPECT_TRUE(test::drainUntil([&] { return !window().windowTraits().isDark(); }, 10));
    play("wait 1\nshot light\n");
    Shot light = shot("light");
    ASSERT_TRUE(light);
    EXPECT_TRUE(light.is(w.width() / 2, w.height() / 2, {255, 255, 255}, 30)) << "the library is drawn light";
}

// A run in a window follows the desktop from its start, nobody asking it
// to: dark, and higher contrast (Reduce Transparency: the glass views drawn
// plain), from the portal on the session bus its environment names; light
// at the usual contrast once the desktop says so.
TEST_F(DesktopWindowProgramTest, AWindowFollowsTheDesktopsLookAndContrastFromItsStart) {
    if (!test::haveProgram("dbus-daemon")) GTEST_SKIP() << "no dbus-daemon";
    test::PrivateSessionBus bus;
    ASSERT_TRUE(bus.start());
    test::FakePortal portal(bus.address);
    ASSERT_TRUE(portal.owned());
    portal.setColorScheme(1);
    portal.setContrast(1);
    // SDL's dummy video driver stands in for a display; the test's bus is the session's.
    struct Environment {
        std::vector<std::pair<std::string, std::optional<std::string>>> saved;
        void set(const char* name, const std::string& value) {
            const char* was = std::getenv(name);
            saved.emplace_back(name, was ? std::optional<std::string>(was) : std::nullopt);
            ::setenv(name, value.c_str(), 1);
        }
        ~Environment() {
            for (const auto& [name, value] : saved) {
                if (value) ::setenv(name.c_str(), value->c_str(), 1);
                else ::unsetenv(name.c_str());
            }
        }
    } environment;
    environment.set("SDL_VIDEODRIVER", "dummy");
    environment.set("DBUS_SESSION_BUS_ADDRESS", bus.address);
    markNoticeSeen();
    program = std::make_unique<LeafbrightProgram>(headlessOptions());
    std::string error;
    ASSERT_TRUE(program->launch(false, &error)) << error;
    // The start waits a bounded time for the portal; on a loaded machine its
    // answer may come after that, and switches the look then.
    EXPECT_TRUE(test::drainUntil([&] { return window().windowTraits().isDark(); }, 10)) << "the window is light";
    EXPECT_TRUE(test::drainUntil([&] { return window().windowTraits().reduceTransparency; }, 10))
        << "the glass views are translucent";

    portal.setColorScheme(2);
    portal.setContrast(0);
    EXPECT_TRUE(test::drainUntil(
        [&] { return !window().windowTraits().isDark() && !window().windowTraits().reduceTransparency; }, 10));
    stop();
}

}  // namespace
