#include "tests/app/ProgramRun.h"

#include "app/LBStartViewController.h"
#include "app/LBStartViewControllerOldOS.h"
#include "app/NestlarkAppDelegate.h"
#include "app/ProgramOptions.h"
#include "app/SampleBook.h"
#include "foundation/BookCommon.h"
#include "foundation/Settings.h"
#include "foundation/ThemeLoader.h"
#include "library/ArchiveExtractViewController.h"
#include "library/BookshelfBookButton.h"
#include "library/LocalFilelistViewController.h"
#include "library/ThemeSelectViewController.h"
#include "viewer/BookViewController.h"
#include "platform/core/PropertyList.h"
#include "platform/core/RunLoop.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/Application.h"
#include "platform/ui/Button.h"
#include "platform/ui/NavigationBar.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TestDriver.h"
#include "platform/ui/WebView.h"
#include "platform/ui/Window.h"

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

std::string noticeVersion(const std::string& docs) {
    auto a = sys::PropertyList::readArray(docs + "/.notice.lbs");
    return a && !a->empty() && (*a)[0].isString() ? (*a)[0].asString() : "";
}

class StartScreenProgramTest : public ProgramRun {
protected:
    void SetUp() override {
        makeHome("starthome");
        showStartScreens = true;
    }
    ui::Window& window() const { return *program->delegate()->window(); }
    LBStartViewController* start() const {
        return dynamic_cast<LBStartViewController*>(window().rootViewController().get());
    }
    void play(const std::string& script) {
        std::string error;
        ASSERT_EQ(program->playScript(script, &error), 0) << error;
    }
};

TEST_F(StartScreenProgramTest, ANewHomeAnimatesShowsTheWelcomePageAndOnlyThenTheLibrary) {
    ASSERT_TRUE(launch());
    // One second of animation has run: the notice is up and waits.
    ASSERT_TRUE(start());
    EXPECT_TRUE(program->delegate()->isStartScreenShown());
    EXPECT_FALSE(program->delegate()->isStartLBWindowDone());
    ASSERT_TRUE(start()->webView()) << "no notice page";
    EXPECT_EQ(start()->noticePage(), "welcome_en");
    EXPECT_EQ(noticeVersion(docs()), LEAFBRIGHT_VERSION);
    sys::RunLoop::main().advance(5);
    EXPECT_FALSE(program->delegate()->isStartLBWindowDone()) << "the notice waits for Close";
    play("shot welcome\ntap \"Close\"\nwait 1\nshot library-after-welcome\n");
    EXPECT_TRUE(program->delegate()->isStartLBWindowDone());
    ASSERT_TRUE(program->delegate()->rootList());
    // The library got its sample book and theme only now.
    EXPECT_TRUE(std::filesystem::exists(docs() + "/" + SampleBook::kThemeName));
    ui::test::Driver d(window());
    EXPECT_TRUE(d.findByText("Leafbright Harbour"));

    // The same version again: the animation, then the library at once.
    stop();
    ASSERT_TRUE(launch());
    sys::RunLoop::main().advance(0.5);
    EXPECT_TRUE(program->delegate()->isStartLBWindowDone());
    EXPECT_TRUE(program->delegate()->rootList());
}

// In the dark the whole welcome page is dark, not only behind its text; an
// open page follows the appearance as it changes, scrolled where it was read.
TEST_F(StartScreenProgramTest, TheWelcomePageIsDarkAllOverAndFollowsTheAppearance) {
    program = std::make_unique<LeafbrightProgram>(headlessOptions());
    std::string error;
    ASSERT_TRUE(program->launch(true, &error)) << error;
    window().setUserInterfaceStyle(ui::UserInterfaceStyle::Dark);
    sys::RunLoop::main().advance(1.5);
    ASSERT_TRUE(start() && start()->webView()) << "no notice page";
    ui::WebView* web = start()->webView();
    auto pixel = [&](double x, double y) {
        play("wait 0.1\n");
        window().render();
        auto& fb = window().framebuffer();
        const uint32_t v = fb.pixel(int(x * fb.scale()), int(y * fb.scale()));
        const int a = int(gfx::alphaOf(v));
        auto un = [a](uint32_t c) { return a ? int((c * 255 + a / 2) / uint32_t(a)) : 0; };
        return std::array<int, 3>{un(gfx::redOf(v)), un(gfx::greenOf(v)), un(gfx::blueOf(v))};
    };
    auto is = [](std::array<int, 3> p, int grey) {
        return std::abs(p[0] - grey) <= 6 && std::abs(p[1] - grey) <= 6 && std::abs(p[2] - grey) <= 6;
    };
    auto text = [](std::array<int, 3> p) {
        return std::to_string(p[0]) + "," + std::to_string(p[1]) + "," + std::to_string(p[2]);
    };
    play("wait 0.5\nshot welcome-dark\n");
    ui::Rect f = web->convertRectTo(web->bounds(), nullptr);
    ASSERT_LT(web->documentSize().height + 40, f.height()) << "the page reaches the bottom: nothing to look at there";
    EXPECT_TRUE(is(pixel(f.x() + 4, f.y() + 4), 0x33)) << text(pixel(f.x() + 4, f.y() + 4));
    EXPECT_TRUE(is(pixel(f.x() + 20, f.maxY() - 12), 0x33)) << "below the text: " << text(pixel(f.x() + 20, f.maxY() - 12));

    // Turned to a landscape phone, the page is read a little way down; the
    // desktop turns light.
    play("rotate landscape\nwait 1\n");
    f = web->convertRectTo(web->bounds(), nullptr);
    ui::ScrollView* scroll = web->scrollView();
    const double down = std::min(30.0, scroll->contentSize().height - scroll->bounds().height());
    ASSERT_GT(down, 10) << "the whole page fits: nothing to scroll";
    scroll->setContentOffset({0, down});
    window().setUserInterfaceStyle(ui::UserInterfaceStyle::Light);
    play("wait 0.5\nshot welcome-light-landscape\n");
    EXPECT_TRUE(is(pixel(f.x() + 4, f.y() + 4), 0xFF)) << "the page kept its dark colours: "
                                                       << text(pixel(f.x() + 4, f.y() + 4));
    EXPECT_EQ(scroll->contentOffset().y, down);
    window().setUserInterfaceStyle(ui::UserInterfaceStyle::Dark);
    play("wait 0.5\n");
    EXPECT_TRUE(is(pixel(f.x() + 4, f.y() + 4), 0x33)) << text(pixel(f.x() + 4, f.y() + 4));
    EXPECT_EQ(scroll->contentOffset().y, down);
    keepShots("start-");
}

TEST_F(StartScreenProgramTest, AFileHandedOverDuringTheNoticeOpensOnceItIsClosedWithoutAQuestion) {
    if (!test::haveProgram("zip") || !test::haveProgram("convert")) GTEST_SKIP() << "zip or ImageMagick missing";
    const std::string src = home->file("src");
    std::filesystem::create_directories(src);
    ASSERT_EQ(test::shell("cd '" + src + "' && convert -size 60x80 xc:'#3366cc' p1.png && convert -size 60x80 "
                          "xc:'#cc6633' p2.png && zip -q Handed.cbz p1.png p2.png"),
              0);
    ASSERT_TRUE(launch(src + "/Handed.cbz"));
    std::string error;
    ASSERT_TRUE(program->openTarget(&error)) << error;
    ASSERT_TRUE(start() && start()->webView());
    play("tap \"Close\"\nwait 2\n");
    auto* nav = program->delegate()->navigationController().get();
    ASSERT_TRUE(nav);
    auto* viewer = dynamic_cast<BookViewController*>(nav->topViewController());
    ASSERT_TRUE(viewer) << "the handed book is not open";
    EXPECT_NE(viewer->fileName().find("Handed.cbz"), std::string::npos);
    // Under the book, a first run's library as ever: the sample book and
    // theme are in it and the version is recorded.
    EXPECT_TRUE(std::filesystem::exists(docs() + "/" + SampleBook::kInstalledName));
    EXPECT_TRUE(std::filesystem::exists(docs() + "/" + SampleBook::kThemeName));
    EXPECT_FALSE(SampleBook::isFirstRun()) << "the version was not recorded";
    nav->popViewController(false);
    sys::RunLoop::main().advance(1);
    ui::test::Driver d(window());
    EXPECT_TRUE(d.findByText("Leafbright Harbour"));
    EXPECT_TRUE(d.findByText("Handed"));
}

// A zip holding another book, given on the command line as the program
// starts (behind the welcome page, or while the launch animation runs over
// a library that would resume another book), is offered to expand as a tap
// on it in the library offers it: no "No viewable pages", no resume question.
TEST_F(StartScreenProgramTest, AZipHoldingAnotherGivenAtStartIsOfferedToExpandAsFromTheLibrary) {
    if (!test::haveProgram("zip") || !test::haveProgram("convert")) GTEST_SKIP() << "zip or ImageMagick missing";
    const std::string src = home->file("src");
    std::filesystem::create_directories(src);
    ASSERT_EQ(test::shell("cd '" + src + "' && convert -size 60x80 xc:'#3366cc' p1.png && convert -size 60x80 "
                          "xc:'#cc6633' p2.png && zip -q -X Inner.cbz p1.png p2.png && zip -q -X Outer.zip Inner.cbz"),
              0);
    auto nav = [&] { return program->delegate()->navigationController().get(); };
    auto presented = [&]() -> ui::AlertController* {
        ui::ViewController* vc = nav();
        while (vc && vc->presentedViewController()) vc = vc->presentedViewController();
        return dynamic_cast<ui::AlertController*>(vc);
    };
    const std::string question = "This file includes another archive. Do you want to extract it?";
    auto expectTheQuestion = [&](const char* when) {
        ASSERT_TRUE(presented()) << when << ": nothing asked";
        EXPECT_EQ(presented()->alertTitle().value_or(""), question) << when;
        ui::test::Driver d(window());
        EXPECT_FALSE(d.findByText("No viewable pages available.")) << when;
        EXPECT_FALSE(d.findByText("Resume reading book?")) << when;
        EXPECT_FALSE(dynamic_cast<BookViewController*>(nav()->topViewController())) << when;
    };

    std::filesystem::create_directories(docs());
    std::filesystem::copy_file(src + "/Inner.cbz", docs() + "/Earlier.cbz");

    // The first start: the welcome page, then the question.
    ASSERT_TRUE(launch(src + "/Outer.zip"));
    std::string error;
    ASSERT_TRUE(program->openTarget(&error)) << error;
    ASSERT_TRUE(start() && start()->webView());
    play("tap \"Close\"\nwait 2\nshot expand-at-start\n");
    expectTheQuestion("behind the welcome page");
    // Cancelled; another book is read and left open, to be resumed next time.
    play("sheet 2\nwait 1\ntap \"Earlier\"\nwait 1\nsheet 0\nwait 2\n");
    ASSERT_TRUE(dynamic_cast<BookViewController*>(nav()->topViewController()));
    stop();

    // The next start, the book given while the launch animation runs.
    program = std::make_unique<LeafbrightProgram>(headlessOptions(src + "/Outer.zip"));
    ASSERT_TRUE(program->launch(true, &error)) << error;
    ASSERT_TRUE(program->delegate()->isStartScreenShown());
    ASSERT_TRUE(program->openTarget(&error)) << error;
    play("wait 2\n");
    expectTheQuestion("during the launch animation");
    play("sheet 0\nwait 1\n");
    EXPECT_TRUE(dynamic_cast<ArchiveExtractViewController*>(nav()->topViewController())) << "Expand shows no entries";
    // The window is named after the archive whose contents it shows.
    EXPECT_EQ(program->windowTitle(), "Outer.zip \u2014 Leafbright");
}

TEST_F(StartScreenProgramTest, AnEarlierVersionGetsTheUpdatePageAndLinksLeaveForTheBrowser) {
    markNotFirstRun();
    std::filesystem::create_directories(docs());
    sys::PropertyList::writeFile(sys::PlistArray{sys::PlistValue(std::string("0.0.1"))}, docs() + "/.notice.lbs");
    std::vector<std::string> opened;
    ASSERT_TRUE(launch());
    ui::Application::shared().setURLOpener({[](const std::string&) { return true; },
                                            [&opened](const std::string& url) {
                                                opened.push_back(url);
                                                return true;
                                            },
                                            {}});
    ASSERT_TRUE(start() && start()->webView());
    EXPECT_EQ(start()->noticePage(), "update_en");
    EXPECT_EQ(noticeVersion(docs()), LEAFBRIGHT_VERSION);

    // A web link goes to the system and the notice stays; the page's own loads go on.
    auto decide = [&](const std::string& url, ui::NavigationType type, bool targetFrame = true) {
        ui::NavigationAction action{url, type, targetFrame};
        ui::NavigationActionPolicy policy = ui::NavigationActionPolicy::Allow;
        start()->webViewDecidePolicyForNavigationAction(*start()->webView(), action,
                                                        [&policy](ui::NavigationActionPolicy p) { policy = p; });
        return policy;
    };
    EXPECT_EQ(decide("HTTPS://leafbright.example/news", ui::NavigationType::LinkActivated),
              ui::NavigationActionPolicy::Cancel);
    EXPECT_EQ(decide("mailto:team@leafbright.example", ui::NavigationType::LinkActivated),
              ui::NavigationActionPolicy::Cancel);
    EXPECT_EQ(decide("https://leafbright.example/frame", ui::NavigationType::Other),
              ui::NavigationActionPolicy::Allow);
    EXPECT_EQ(decide("file:///res/welcome.png", ui::NavigationType::Other), ui::NavigationActionPolicy::Allow);
    sys::RunLoop::main().advance(0.1);
    EXPECT_EQ(opened, (std::vector<std::string>{"HTTPS://leafbright.example/news", "mailto:team@leafbright.example"}));
    EXPECT_TRUE(start()) << "the notice is still there";

    // Without a mail program a mailto link stays in the page.
    ui::Application::shared().setURLOpener({});
    EXPECT_EQ(decide("mailto:team@leafbright.example", ui::NavigationType::LinkActivated),
              ui::NavigationActionPolicy::Allow);
    start()->onCloseButton();
    sys::RunLoop::main().advance(0.5);
    EXPECT_TRUE(program->delegate()->rootList());
}

TEST_F(StartScreenProgramTest, ASavedRotationLockHandsOverAtOnceWithoutANotice) {
    markNotFirstRun();
    sys::PropertyList::writeFile(sys::PlistArray{sys::PlistValue(int64_t(3)), sys::PlistValue(true)},
                                 BookCommon::getSettingsFolder() + "/.orientation.lbs");
    ASSERT_TRUE(launch());
    EXPECT_TRUE(program->delegate()->isStartLBWindowDone());
    EXPECT_TRUE(program->delegate()->rootList());
    EXPECT_FALSE(std::filesystem::exists(docs() + "/.notice.lbs")) << "the notice is not checked on this path";
}

TEST(StartScreenPages, PagesFollowTheInterfaceLanguageAndCarryTheirColours) {
    EXPECT_EQ(LBStartViewController::noticePageName(true, 3), "welcome_ko");
    EXPECT_EQ(LBStartViewController::noticePageName(false, 5), "update_zh-Hant");
    EXPECT_EQ(LBStartViewController::noticePageName(true, 1), "welcome_en");
    EXPECT_EQ(LBStartViewController::noticePageName(true, 6), "welcome_en");
    for (const char* lang : {"en", "ja", "ko", "zh-Hans", "zh-Hant"}) {
        const std::string dark = LBStartViewController::noticeHtml(std::string("welcome_") + lang, true);
        ASSERT_FALSE(dark.empty()) << lang;
        EXPECT_NE(dark.find("#333333"), std::string::npos) << lang;
        EXPECT_NE(dark.find(LEAFBRIGHT_VERSION), std::string::npos) << lang;
        EXPECT_EQ(dark.find("<BG>"), std::string::npos) << lang;
        EXPECT_EQ(dark.find("__LANG__"), std::string::npos) << lang;
        EXPECT_NE(LBStartViewController::noticeHtml(std::string("welcome_") + lang, false).find("#FFFFFF"),
                  std::string::npos);
    }
    EXPECT_EQ(LBStartViewController::noticeHtml("welcome_xx", false), "");
}

// The sample theme, installed with a tap on every device in both looks.
using ThemeParam = std::tuple<std::string, bool>;
class ThemeProgramTest : public ProgramRun, public ::testing::WithParamInterface<ThemeParam> {
protected:
    void SetUp() override {
        device = std::get<0>(GetParam());
        dark = std::get<1>(GetParam());
        makeHome("themehome-" + device + (dark ? "-dark" : "-light"));
    }
    ui::Window& window() const { return *program->delegate()->window(); }
    void play(const std::string& script) {
        std::string error;
        ASSERT_EQ(program->playScript(script, &error), 0) << error;
    }
    // Straight channels of the last picture at a window point.
    std::array<int, 3> pixel(ui::Point p) {
        auto& fb = window().framebuffer();
        const uint32_t v = fb.pixel(int(p.x * fb.scale()), int(p.y * fb.scale()));
        const int a = int(gfx::alphaOf(v));
        auto un = [a](uint32_t c) { return a ? int((c * 255 + a / 2) / uint32_t(a)) : 0; };
        return {un(gfx::redOf(v)), un(gfx::greenOf(v)), un(gfx::blueOf(v))};
    }
    static bool near(std::array<int, 3> p, int r, int g, int b, int tol = 10) {
        return std::abs(p[0] - r) <= tol && std::abs(p[1] - g) <= tol && std::abs(p[2] - b) <= tol;
    }
    bool dark = false;
};

TEST_P(ThemeProgramTest, TappingTheSampleThemeInstallsItAndTheShelfAndBarsTakeIt) {
    ASSERT_TRUE(launch());
    if (dark) window().setUserInterfaceStyle(ui::UserInterfaceStyle::Dark);
    const std::string tag = device + (dark ? "-dark-" : "-light-");
    play("tap \"Bookshelf\"\nwait 1\nshot " + tag + "shelf-default\n");
    // The theme's cover shows its picture, not its name.
    EXPECT_FALSE(ui::test::Driver(window()).findByText("Leafbright Harbour"));
    BookshelfBookButton* themeCover = nullptr;
    if (auto* shelf = dynamic_cast<LocalFilelistViewController*>(program->delegate()->navigationController()->topViewController())) {
        const auto& items = shelf->itemList();
        for (size_t i = 0; i < items.size(); ++i) {
            if (items[i]->filename() != "Leafbright Harbour.lbt") continue;
            for (auto* c : ui::test::Driver(window()).findAllOf<BookshelfBookButton>())
                if (c->indexNo() == int64_t(i) && c->superview() && !c->isHidden()) themeCover = c;
        }
    }
    ASSERT_TRUE(themeCover);
    play("tap " + centreOf(*themeCover) + "\nwait 1\nshot " + tag +
         "theme-installed\nalert 0\nwait 0.5\ntap \"Harbour\"\nwait 1\nshot " + tag + "shelf-harbour\n");
    auto settings = program->delegate()->settings();
    ASSERT_TRUE(settings && settings->themeLoader());
    EXPECT_EQ(settings->themeLoader()->themeName(), "Harbour");
    auto* nav = program->delegate()->navigationController().get();
    auto* list = dynamic_cast<LocalFilelistViewController*>(nav->topViewController());
    ASSERT_TRUE(list);
    ASSERT_EQ(list->fileListViewMode(), 1);

    auto check = [&](const std::string& when) {
        window().render();
        // A shelf row below the books: the theme's night-blue wall, not our wood.
        auto* tv = list->tableView();
        const ui::Rect filler = tv->rectForRowAtIndexPath({2, 0});
        const ui::Point wall = tv->convertPointToWindow({filler.x() + filler.width() / 2, filler.y() + 40});
        EXPECT_FALSE(near(pixel(wall), 74, 49, 31)) << when << ": still the drawn wooden shelf";
        const auto w = pixel(wall);
        EXPECT_GT(w[2], w[0] + 30) << when << ": the wall is not the theme's blue";
        // The bar's picture and the bar colour of the theme.
        ui::NavigationBar* bar = nav->navigationBar();
        const ui::Rect b = bar->convertRectTo(bar->bounds(), nullptr);
        EXPECT_TRUE(near(pixel({b.x() + 3, b.y() + b.height() / 2}), 0x16, 0x30, 0x4f)) << when;
        EXPECT_EQ(nav->view()->tintColor(), ui::Color(gfx::Rgba::rgb(1.0, 0xd4 / 255.0, 0x79 / 255.0))) << when;
    };
    check("upright");
    play("rotate landscape\nwait 1\nshot " + tag + "shelf-harbour-landscape\n");
    check("turned");
}

INSTANTIATE_TEST_SUITE_P(EveryDevice, ThemeProgramTest,
                         ::testing::Combine(::testing::Values("phone", "pad", "desktop"), ::testing::Bool()),
                         [](const auto& info) {
                             return std::get<0>(info.param) + (std::get<1>(info.param) ? "Dark" : "Light");
                         });

}  // namespace
