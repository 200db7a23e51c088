// The whole program on every device profile, turned as a user turns a device:
// the bookshelf and an open two-page spread are laid out again for the new
// shape of the window, a spread opened after a turn fills it, and a book read
// right to left opens at its top-right corner. Checked on the views and on
// the pictures the program's own script steps take.
#include <gtest/gtest.h>

#include "app/LeafbrightProgram.h"
#include "app/NestlarkAppDelegate.h"
#include "library/BookshelfBookButton.h"
#include "platform/core/FileManager.h"
#include "platform/core/PropertyList.h"
#include "platform/graphics/Canvas.h"
#include "platform/graphics/Image.h"
#include "platform/graphics/ImageDecoder.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Screen.h"
#include "platform/ui/TestDriver.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/Window.h"
#include "foundation/BookCommon.h"
#include "tests/app/ProgramRun.h"
#include "tests/app/ProgramShot.h"
#include "tests/support/TestHome.h"
#include "viewer/BookViewController.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>

namespace {

namespace fs = std::filesystem;

using programtest::kPage;
using programtest::Rgb;
using programtest::Shot;
using programtest::toRgba;
using programtest::writePng;

class ScreenTurnProgramTest : public ProgramRun, public ::testing::WithParamInterface<std::string> {
protected:
    void SetUp() override {
        if (!test::haveProgram("zip")) GTEST_SKIP() << "no zip";
        device = GetParam();
        makeHome("turnhome-" + device);
        markNotFirstRun();
        src = std::make_unique<test::TempDir>("turnpages");
    }

    // A book of `pages` flat pages (portrait, 600 x 800) in the library.
    void makeBook(const std::string& name, int pages, int firstColour = 0) {
        makeFlatBook(src->path(), name, pages, 600, 800, [&](int i) { return toRgba(kPage[(firstColour + i) % 6]); });
    }
    void play(const std::string& script) {
        std::string error;
        ASSERT_EQ(program->playScript(script, &error), 0) << error;
    }
    Shot shot(const std::string& name) const { return Shot(home->file("shots/" + name + ".png"), window()); }
    bool landscape() const { return window().bounds().width() > window().bounds().height(); }
    static const char* other(bool isLandscape) { return isLandscape ? "portrait" : "landscape"; }

    // The book buttons on screen, in window coordinates, by row.
    std::map<int, std::vector<ui::Rect>> shelfRows() const {
        std::map<int, std::vector<ui::Rect>> rows;
        ui::test::Driver d(window());
        const ui::Rect b = window().bounds();
        for (auto* button : d.findAllOf<BookshelfBookButton>()) {
            const ui::Rect r = button->convertRectTo(button->bounds(), nullptr);
            if (button->isHidden() || r.maxY() <= 0 || r.y() >= b.height()) continue;
            rows[int(r.y())].push_back(r);
        }
        return rows;
    }

    std::unique_ptr<test::TempDir> src;
};

TEST_P(ScreenTurnProgramTest, TheBookshelfFillsTheWidthOfTheTurnedScreen) {
    for (int i = 1; i <= 14; ++i) makeBook("Shelf " + std::to_string(100 + i) + ".cbz", 1, 1);
    ASSERT_TRUE(launch());
    const bool wasLandscape = landscape();
    play("tap \"Bookshelf\"\nwait 2\nshot shelf-before\n");
    auto before = shelfRows();
    ASSERT_FALSE(before.empty());
    const size_t perRowBefore = before.begin()->second.size();

    play(std::string("rotate ") + other(wasLandscape) + "\nwait 2\nshot shelf-turned\n");
    ASSERT_NE(landscape(), wasLandscape);
    const ui::Rect w = window().bounds();
    auto rows = shelfRows();
    ASSERT_FALSE(rows.empty());
    const auto& first = rows.begin()->second;
    // More books to a row on the wider screen, fewer on the narrower, and the
    // row spread over the whole width (not bunched on one side).
    if (wasLandscape) EXPECT_LT(first.size(), perRowBefore);
    else EXPECT_GT(first.size(), perRowBefore);
    double left = w.width(), right = 0;
    for (const auto& r : first) left = std::min(left, r.x()), right = std::max(right, r.maxX());
    EXPECT_LT(left, w.width() * 0.2);
    EXPECT_GT(right, w.width() * 0.8);
    EXPECT_LE(right, w.width());

    // The picture has the turned shape, and the cover at the end of the row is in it.
    Shot s = shot("shelf-turned");
    ASSERT_TRUE(s);
    EXPECT_EQ(s.width() > s.height(), !wasLandscape);
    const ui::Rect last = *std::max_element(first.begin(), first.end(),
                                            [](const ui::Rect& a, const ui::Rect& b) { return a.x() < b.x(); });
    EXPECT_TRUE(s.is(last.x() + last.width() / 2, last.y() + last.height() / 2, kPage[1])) << "a cover at the right end";
}

TEST_P(ScreenTurnProgramTest, AnOpenSpreadIsLaidOutAgainAndASpreadOpenedAfterATurnFillsTheScreen) {
    makeBook("Pages.cbz", 6);
    writeGlobalSettings({{"isDoubleTruck", sys::PlistValue(true)}, {"defaultZoomMode", sys::PlistValue("fit")}});
    ASSERT_TRUE(launch());
    play("rotate portrait\nwait 1\ntap \"Pages\"\nwait 1\nsheet 0\nwait 2\nshot single\n");
    ASSERT_TRUE(viewer());
    EXPECT_FALSE(viewer()->displayBookPage()->is2PageLoaded);
    ui::Rect w = window().bounds();
    EXPECT_TRUE(shot("single").is(w.width() / 2, w.height() / 2, kPage[0]));

    // Turned with the book open: both pages, side by side, first on the left.
    play("rotate landscape\nwait 2\nshot spread\n");
    w = window().bounds();
    ASSERT_GT(w.width(), w.height());
    ASSERT_TRUE(viewer()->displayBookPage()->is2PageLoaded);
    const ui::Rect page = viewer()->scrollView()->frame();
    EXPECT_NEAR(page.width(), viewer()->view()->bounds().width(), 1.0) << "the page area is the turned screen";
    Shot spread = shot("spread");
    ASSERT_TRUE(spread);
    EXPECT_GT(spread.width(), spread.height());
    EXPECT_TRUE(spread.is(w.width() * 0.3, w.height() / 2, kPage[0]));
    EXPECT_TRUE(spread.is(w.width() * 0.7, w.height() / 2, kPage[1]));

    // Turned back: one page, whole, and a tap at the right edge turns it.
    play("rotate portrait\nwait 2\nshot back\n");
    w = window().bounds();
    EXPECT_FALSE(viewer()->displayBookPage()->is2PageLoaded);
    const int shown = viewer()->page();
    const ui::Rect image = viewer()->imageViewDisplay()->convertRectTo(viewer()->imageViewDisplay()->bounds(), nullptr);
    EXPECT_GE(image.x(), -1.0);
    EXPECT_LE(image.maxX(), w.width() + 1.0) << "the page is not cut off";
    Shot back = shot("back");
    EXPECT_TRUE(back.is(w.width() / 2, w.height() / 2, kPage[shown]));
    play("tap " + std::to_string(int(w.width() - 8)) + " " + std::to_string(int(w.height() / 2)) + "\nwait 2\n");
    EXPECT_EQ(viewer()->page(), shown + 1);

    // Turned while the settings cover the book (only the screen in front is
    // told): back on screen, the book is laid out for the turned screen, a
    // spread in landscape and one page in portrait, whole and fitted.
    auto fitted = [&](const char* when) {
        ui::ScrollView* sv = viewer()->scrollView();
        const ui::Rect area = sv->convertRectTo(sv->bounds(), nullptr);
        ASSERT_TRUE(viewer()->imageViewDisplay()) << when;
        const ui::Rect r = viewer()->imageViewDisplay()->convertRectTo(viewer()->imageViewDisplay()->bounds(), nullptr);
        EXPECT_GE(r.x(), area.x() - 1.0) << when;
        EXPECT_GE(r.y(), area.y() - 1.0) << when;
        EXPECT_LE(r.maxX(), area.maxX() + 1.0) << when << ": the page is not cut off";
        EXPECT_LE(r.maxY(), area.maxY() + 1.0) << when << ": the page is not cut off";
        EXPECT_TRUE(std::abs(r.width() - area.width()) < 2 || std::abs(r.height() - area.height()) < 2)
            << when << ": the page fits the area, " << r.width() << " x " << r.height() << " in " << area.width()
            << " x " << area.height();
    };
    viewer()->onSettingsBtn();
    play("wait 1\nrotate landscape\nwait 1\nback\nwait 2\n");
    ASSERT_TRUE(viewer());
    EXPECT_TRUE(viewer()->displayBookPage()->is2PageLoaded) << "turned to landscape under the settings";
    fitted("turned to landscape under the settings");
    viewer()->onSettingsBtn();
    play("wait 1\nrotate portrait\nwait 1\nback\nwait 2\n");
    ASSERT_TRUE(viewer());
    EXPECT_FALSE(viewer()->displayBookPage()->is2PageLoaded) << "turned to portrait under the settings";
    EXPECT_EQ(viewer()->page(), shown + 1) << "turned back, the page read before the turn";
    fitted("turned to portrait under the settings");
    // Under the bookmark list the book hears of the turn itself, and is laid
    // out once.
    viewer()->showBookmarkList();
    play("wait 1\nrotate landscape\nwait 1\nback\nwait 2\n");
    ASSERT_TRUE(viewer());
    EXPECT_TRUE(viewer()->displayBookPage()->is2PageLoaded) << "turned to landscape under the bookmarks";
    fitted("turned to landscape under the bookmarks");
    play("rotate portrait\nwait 2\n");

    // Closed, turned, opened again: the spread fills the landscape screen.
    play("back\nwait 2\nrotate landscape\nwait 1\ntap \"Pages\"\nwait 1\nsheet 1\nwait 2\nshot reopened\n");
    ASSERT_TRUE(viewer());
    w = window().bounds();
    ASSERT_TRUE(viewer()->displayBookPage()->is2PageLoaded);
    Shot again = shot("reopened");
    EXPECT_TRUE(again.is(w.width() * 0.3, w.height() / 2, kPage[0]));
    EXPECT_TRUE(again.is(w.width() * 0.7, w.height() / 2, kPage[1])) << "no half of the screen left blank";
}

TEST_P(ScreenTurnProgramTest, ABookReadRightToLeftOpensAtItsTopRightCorner) {
    // One wide page: blue on its left half, red on its right.
    writePng(src->file("wide.png"), 1600, 800, kPage[2], kPage[0]);
    zipBook(src->path(), "Manga.cbz", " wide.png");
    writeGlobalSettings({{"pageDirection", sys::PlistValue("left")},
                         {"defaultZoomMode", sys::PlistValue("height")},
                         {"isDoubleTruck", sys::PlistValue(false)}});
    ASSERT_TRUE(launch());
    play("rotate portrait\nwait 1\ntap \"Manga\"\nwait 1\nsheet 0\nwait 2\nshot manga\n");
    ASSERT_TRUE(viewer());
    ui::ScrollView* sv = viewer()->scrollView();
    ASSERT_GT(sv->contentSize().width, sv->bounds().width() + 10) << "the page is wider than the screen";
    EXPECT_NEAR(sv->contentOffset().x, sv->contentSize().width - sv->bounds().width(), 1.0);
    EXPECT_NEAR(sv->contentOffset().y, 0, 1.0);
    const ui::Rect w = window().bounds();
    Shot s = shot("manga");
    ASSERT_TRUE(s);
    EXPECT_TRUE(s.is(w.width() / 2, w.height() / 2, kPage[0])) << "the right half of the page is shown";
}

// The program's rotation lock holds on every screen: locked in the library
// (its tool bar's lock) the reading screen does not turn either, and the
// reading screen's own lock button unlocks it and locks it again.
TEST_P(ScreenTurnProgramTest, TheRotationLockHoldsWhileReading) {
    makeBook("Pages.cbz", 3);
    ASSERT_TRUE(launch());
    play("rotate portrait\nwait 1\n");
    auto lockIn = [](ui::Toolbar* bar) -> ui::View* {
        if (!bar) return nullptr;
        for (const auto& item : bar->items())
            if (named(*item, "rotationlock")) return bar->viewForItem(item.get());
        return nullptr;
    };
    ui::View* lock = lockIn(nav()->toolbar());
    // A tablet of this kind turns by the system's own lock alone.
    if (!lock) GTEST_SKIP() << "no rotation lock offered on " << device;
    play("tap " + centreOf(*lock) + "\nwait 1\n");
    ASSERT_TRUE(BookCommon::isSoftwareRotationLock());
    std::string error;
    EXPECT_NE(program->playScript("rotate landscape\n", &error), 0) << "the library turned";

    play("tap \"Pages\"\nwait 1\nsheet 0\nwait 2\n");
    ASSERT_TRUE(viewer());
    EXPECT_NE(program->playScript("rotate landscape\n", &error), 0) << "the reading screen turned";
    EXPECT_NE(error.find("does not turn"), std::string::npos) << error;
    play("wait 1\nshot locked\n");
    Shot s = shot("locked");
    ASSERT_TRUE(s);
    EXPECT_LT(s.width(), s.height());

    // The reading screen's lock: unlocked, it turns; locked in landscape, it stays so.
    auto readerLock = [&] { return menuBarItem([](const ui::BarButtonItem& i) { return named(i, "rotationlock"); }); };
    play(tapMiddle() + "wait 1\n");
    ASSERT_TRUE(readerLock());
    play("tap " + centreOf(*readerLock()) + "\nwait 1\n");
    EXPECT_FALSE(BookCommon::isSoftwareRotationLock());
    play(tapMiddle() + "wait 1\nrotate landscape\nwait 1\n");
    EXPECT_TRUE(landscape());
    play(tapMiddle() + "wait 1\n");
    ASSERT_TRUE(readerLock());
    play("tap " + centreOf(*readerLock()) + "\nwait 1\n");
    EXPECT_TRUE(BookCommon::isSoftwareRotationLock());
    EXPECT_NE(program->playScript("rotate portrait\n", &error), 0) << "the reading screen turned";
    play("wait 1\nshot locked-landscape\n");
    Shot wide = shot("locked-landscape");
    ASSERT_TRUE(wide);
    EXPECT_GT(wide.width(), wide.height());
}

// While a page is being trimmed into the book's cover, the screen keeps the
// orientation it was opened in (the trimming screen over the reading one,
// on every device), and turns again once it is closed.
TEST_P(ScreenTurnProgramTest, TheCoverBeingTrimmedHoldsTheScreen) {
    makeBook("Pages.cbz", 3);
    ASSERT_TRUE(launch());
    const bool wasLandscape = landscape();
    play("tap \"Pages\"\nwait 1\nsheet 0\nwait 2\n" + tapMiddle() + "wait 1\n");
    ASSERT_TRUE(viewer());
    viewer()->onSetJacketBtn();
    play("wait 1\n");
    ASSERT_TRUE(ui::test::Driver(window()).findByText("Done")) << "no trimming screen";
    std::string error;
    EXPECT_NE(program->playScript(std::string("rotate ") + other(wasLandscape) + "\n", &error), 0)
        << "the trimming screen turned";
    EXPECT_EQ(landscape(), wasLandscape);
    play("tap \"Cancel\"\nwait 1\n");
    play(std::string("rotate ") + other(wasLandscape) + "\nwait 1\n");
    EXPECT_NE(landscape(), wasLandscape);
}

INSTANTIATE_TEST_SUITE_P(EveryDevice, ScreenTurnProgramTest,
                         ::testing::Values("phone", "phone-se", "pad", "desktop"),
                         [](const ::testing::TestParamInfo<std::string>& i) {
                             std::string n = i.param;
                             n.erase(std::remove(n.begin(), n.end(), '-'), n.end());
                             return n;
                         });

}  // namespace
