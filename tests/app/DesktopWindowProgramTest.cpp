// The whole program in a desktop window whose size the user changes: made
// smaller or larger, back from full screen, turned from wide to tall, an
// open page is laid out again for the new size at once (whole on screen,
// and the arrow keys still turn pages). Checked on the views and on the
// pictures the program's own script steps take.
#include <gtest/gtest.h>

#include "app/LeafbrightProgram.h"
#include "app/NestlarkAppDelegate.h"
#include "platform/core/PropertyList.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Window.h"
#include "tests/app/ProgramRun.h"
#include "tests/app/ProgramShot.h"
#include "tests/support/TestHome.h"
#include "engine/BookPage.h"
#include "viewer/BookViewController.h"

#include <algorithm>
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

    // The arrows turn pages of the page laid out for this size.
    const int before = viewer()->page();
    play("key right\nwait 2\n");
    EXPECT_NE(viewer()->page(), before) << "an arrow panned instead of turning the page";
}

}  // namespace
