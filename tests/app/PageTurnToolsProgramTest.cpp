// The whole program as a reader meets the reading screen's hands-free and
// comfort tools: a slideshow started from the menu sheet turns the pages on
// the clock; bookmarks added from the sheet's tool bar are listed and jumped
// to after the program starts again; and the library's Brightness button
// dims the screen, which stays dimmed in the next run.
#include <gtest/gtest.h>

#include "app/LeafbrightProgram.h"
#include "app/NestlarkAppDelegate.h"
#include "foundation/BookCommon.h"
#include "platform/core/PropertyList.h"
#include "platform/core/UserDefaults.h"
#include "platform/graphics/Canvas.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Slider.h"
#include "platform/ui/TestDriver.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/Window.h"
#include "tests/app/ProgramRun.h"
#include "tests/app/ProgramShot.h"
#include "tests/support/TestHome.h"
#include "viewer/BookMarkIndex.h"
#include "viewer/BookViewController.h"
#include "viewer/BrightnessSetting.h"

#include <filesystem>

namespace {

namespace fs = std::filesystem;

class PageTurnToolsProgramTest : public ProgramRun {
protected:
    void SetUp() override {
        if (!test::haveProgram("zip")) GTEST_SKIP() << "no zip";
        makeHome("pageturntools");
        markNotFirstRun();
        src = std::make_unique<test::TempDir>("pageturnpages");
    }
    void TearDown() override {
        BrightnessSetting::getBrightnessSetting()->resetForTesting();
        ui::Screen::main().reset();
        ProgramRun::TearDown();
    }
    void makeBook(const std::string& name, int pages) {
        makeFlatBook(src->path(), name, pages, 300, 400, [](int i) { return gfx::Rgba{0.2 + 0.1 * i, 0.5, 0.3, 1}; });
    }
    void openAlpha() {
        closeWhatsNew();
        play("tap \"Alpha\"\nwait 1\nsheet 0\nwait 2\n");
    }
    std::unique_ptr<test::TempDir> src;
};

TEST_F(PageTurnToolsProgramTest, SlideshowBookmarksAndBrightness) {
    makeBook("Alpha.cbz", 6);
    writeGlobalSettings({{"defaultZoomMode", sys::PlistValue("fit")}, {"isDoubleTruck", sys::PlistValue(false)}});
    ASSERT_TRUE(launch());

    // The library's Brightness button: the panel, its slider dims the screen.
    auto* bar = nav()->toolbar();
    ASSERT_TRUE(bar);
    ui::View* brightnessButton = nullptr;
    for (const auto& item : bar->items())
        if (item->image() && item->image()->name().find("brightness") != std::string::npos)
            brightnessButton = bar->viewForItem(item.get());
    ASSERT_TRUE(brightnessButton);
    play("tap " + centreOf(*brightnessButton) + "\nwait 1\n");
    auto brightness = BrightnessSetting::getBrightnessSetting();
    ASSERT_TRUE(brightness->slider());
    brightness->slider()->setValue(50);
    brightness->setBrightness();
    play("tap 5 300\nwait 1\n");
    EXPECT_FALSE(brightness->brightnessSettingView());
    const double level = ui::Screen::main().brightness();
    EXPECT_NEAR(level, 0.2 / 0.7, 0.01);
    ASSERT_TRUE(brightness->dimmingView());
    EXPECT_FALSE(brightness->dimmingView()->isHidden()) << "the screen is dimmed";
    // The level is the screen's: what is laid over the library dims as much,
    // the brightness panel and a presented screen too.
    play("shot dim-library\n");
    programtest::Shot library(home->file("shots/dim-library.png"), window());
    ASSERT_TRUE(library);
    const double midX = window().bounds().width() / 2, lowY = window().bounds().height() - 120;
    EXPECT_LT(library.at(midX, lowY).g, 150);
    play("tap " + centreOf(*brightnessButton) + "\nwait 1\nshot dim-panel\n");
    ASSERT_TRUE(brightness->panel());
    programtest::Shot panel(home->file("shots/dim-panel.png"), window());
    const ui::Point corner = brightness->panel()->convertPointToWindow({12, 12});
    EXPECT_LT(panel.at(corner.x, corner.y).g, 150) << "the panel shows at full brightness";
    play("tap 5 300\nwait 1\n");
    openSiteList();
    play("wait 1\nshot dim-sites\n");
    programtest::Shot sites(home->file("shots/dim-sites.png"), window());
    EXPECT_LT(sites.at(midX, lowY).g, 150) << "the screen presented over the library shows at full brightness";
    keepShots("brightness-");
    presentedNav()->presentingViewController()->dismiss(false);
    play("wait 1\n");

    // A slideshow from the menu sheet's button turns pages on the clock.
    openAlpha();
    ASSERT_TRUE(viewer());
    ASSERT_EQ(viewer()->page(), 0);
    sys::UserDefaults::standard().setDouble(0.5, "SlideShowTimeToScroll");
    sys::UserDefaults::standard().setDouble(0.5, "SlideShowTimeToPage");
    play(tapMiddle() + "wait 1\n");
    ASSERT_TRUE(viewer()->isOpenBar());
    ASSERT_TRUE(viewer()->btnSlideShow());
    play("tap " + centreOf(*viewer()->btnSlideShow()) + "\nwait 1\ntap \"Start\"\nwait 3\n");
    EXPECT_TRUE(viewer()->isSlidershowMode());
    EXPECT_GE(viewer()->page(), 2) << "the pages turn by themselves";
    play(tapMiddle() + "wait 1\ntap \"Stop\"\nwait 1\n");
    EXPECT_FALSE(viewer()->isSlidershowMode());

    // A bookmark from the sheet's tool bar, on the page the show stopped at.
    const int marked = viewer()->page();
    play(tapMiddle() + "wait 1\n");
    ASSERT_TRUE(viewer()->isOpenBar());
    ui::View* add = nullptr;
    for (const auto& item : viewer()->bvToolbar()->items())
        if (item->systemItem() == ui::BarButtonSystemItem::Add) add = viewer()->bvToolbar()->viewForItem(item.get());
    ASSERT_TRUE(add);
    play("tap " + centreOf(*add) + "\nwait 1\n");
    const std::string bookPath = docs() + "/Alpha.cbz";
    ASSERT_EQ(BookMarkIndex::read(BookCommon::getBookMarkIndexFile(bookPath, false)).size(), 1u);

    // The list from the sheet's tool bar jumps back to it.
    if (viewer()->isOpenBar()) play(tapMiddle() + "wait 1\n");
    viewer()->movePage(4, marked == 0 ? 3 : 0, viewer()->page());
    play("wait 1\n" + tapMiddle() + "wait 1\n");
    ASSERT_NE(viewer()->page(), marked);
    ASSERT_TRUE(viewer()->isOpenBar());
    ui::View* list = nullptr;
    for (const auto& item : viewer()->bvToolbar()->items())
        if (item->systemItem() == ui::BarButtonSystemItem::Bookmarks) list = viewer()->bvToolbar()->viewForItem(item.get());
    ASSERT_TRUE(list);
    play("tap " + centreOf(*list) + "\nwait 1\n");
    ASSERT_TRUE(viewer()->bookMarkViewController());
    play("tap \"[Page " + std::to_string(marked + 1) + "]\"\nwait 2\n");
    EXPECT_EQ(viewer()->page(), marked) << "the bookmark jumps to its page";

    // Another run: the dimming and the bookmark are still there.
    stop();
    ASSERT_TRUE(launch());
    EXPECT_NEAR(ui::Screen::main().brightness(), level, 0.01);
    ASSERT_TRUE(brightness->dimmingView());
    EXPECT_FALSE(brightness->dimmingView()->isHidden());
    EXPECT_EQ(BookMarkIndex::read(BookCommon::getBookMarkIndexFile(bookPath, false)).size(), 1u);
}

}  // namespace
