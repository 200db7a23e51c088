// The whole program as a reader meets the reading screen's menu: a tap in
// the middle of the page opens the menu sheet, which survives a turn of the
// screen; the page slider brings up the thumbnail strip, which scrolls and
// jumps; the last page offers the next book of the list and opens it; and
// the sheet's close button closes the book. On the phone, pad and desktop
// profiles, in both looks and both reading directions, checked on the views
// and on the pictures the program's own script steps take. A book read in
// place from nginx on loopback shows on the menu which of its blocks are
// already here.
#include <gtest/gtest.h>

#include "app/LeafbrightProgram.h"
#include "app/NestlarkAppDelegate.h"
#include "engine/RemoteStreamRead.h"
#include "engine/UrlListStream.h"
#include "foundation/BookCommon.h"
#include "foundation/ui/TransferScreenFactory.h"
#include "library/LocalFilelistViewController.h"
#include "library/MediaServerOpener.h"
#include "platform/core/PropertyList.h"
#include "platform/graphics/Canvas.h"
#include "platform/graphics/Image.h"
#include "platform/graphics/ImageDecoder.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TestDriver.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/Window.h"
#include "remote/PushToMediaServer.h"
#include "remote/RemoteTransferScreenFactory.h"
#include "remote/ServerListViewControllerEx.h"
#include "remote/StreamStatusViewBlockMap.h"
#include "remote/UrlListStreamRead.h"
#include "remote/stream/HTTPURLStreamRead.h"
#include "tests/app/ProgramRun.h"
#include "tests/app/ProgramShot.h"
#include "tests/app/RemoteProgramServices.h"
#include "tests/support/TestHome.h"
#include "tests/support/net/NginxServer.h"
#include "viewer/BookViewController.h"

#include <algorithm>
#include <filesystem>
#include <tuple>

namespace {

namespace fs = std::filesystem;

using programtest::kPage;
using programtest::Rgb;
using programtest::Shot;
using programtest::toRgba;
using programtest::writePng;

Rgb dimmed(Rgb c, double keep) { return {int(c.r * keep), int(c.g * keep), int(c.b * keep)}; }

using Param = std::tuple<std::string, bool, std::string>;  // device, dark look, page direction

class ViewerMenuProgramTest : public ProgramRun, public ::testing::WithParamInterface<Param> {
protected:
    void SetUp() override {
        if (!test::haveProgram("zip")) GTEST_SKIP() << "no zip";
        device = std::get<0>(GetParam());
        dark = std::get<1>(GetParam());
        direction = std::get<2>(GetParam());
        makeHome("menuhome-" + device + (dark ? "-dark-" : "-light-") + direction);
        markNotFirstRun();
        src = std::make_unique<test::TempDir>("menupages");
    }
    void TearDown() override {
        keepShots("menu-");
        ProgramRun::TearDown();
    }

    void makeBook(const std::string& name, int pages, int firstColour) {
        makeFlatBook(src->path(), name, pages, 600, 800, [&](int i) { return toRgba(kPage[(firstColour + i) % 6]); });
    }
    Shot shot(const std::string& name) const { return Shot(home->file("shots/" + name + ".png"), window()); }
    std::string prefix() const { return device + (dark ? "-dark-" : "-light-") + direction + "-"; }
    ui::Rect inWindow(const ui::View& v) const { return v.convertRectTo(v.bounds(), nullptr); }
    static ui::Point centre(const ui::Rect& r) { return {r.x() + r.width() / 2, r.y() + r.height() / 2}; }
    std::string tapAt(ui::Point p) const {
        return "tap " + std::to_string(int(p.x)) + " " + std::to_string(int(p.y)) + "\n";
    }
    void expectInside(const ui::View& v, const char* what) const {
        const ui::Rect r = inWindow(v);
        const ui::Rect w = window().bounds();
        EXPECT_GE(r.x(), -1) << what;
        EXPECT_GE(r.y(), -1) << what;
        EXPECT_LE(r.maxX(), w.width() + 1) << what;
        EXPECT_LE(r.maxY(), w.height() + 1) << what;
    }
    // The sheet's controls stand inside the window, in their order from the top.
    void expectSheetLaidOut() const {
        BookViewController* v = viewer();
        ASSERT_TRUE(v && v->isOpenBar());
        expectInside(*v->closeButton(), "close button");
        expectInside(*v->sliderPage(), "slider");
        expectInside(*v->labelPageJump(), "page label");
        expectInside(*v->bvToolbar(), "tool bar");
        const ui::Rect close = inWindow(*v->closeButton());
        const ui::Rect slider = inWindow(*v->sliderPage());
        const ui::Rect bar = inWindow(*v->bvToolbar());
        EXPECT_LT(close.maxY(), slider.y());
        EXPECT_LE(slider.maxY(), bar.y() + 1);
        EXPECT_GT(slider.width(), window().bounds().width() * 0.5) << "the slider spans the screen";
    }

    bool dark = false;
    std::string direction;
    std::unique_ptr<test::TempDir> src;
};

TEST_P(ViewerMenuProgramTest, MenuJumpStripNextBookAndClose) {
    makeBook("Alpha.cbz", 5, 0);
    makeBook("Beta.cbz", 3, 3);
    writeGlobalSettings({{"pageDirection", sys::PlistValue(direction)},
                         {"defaultZoomMode", sys::PlistValue("fit")},
                         {"isDoubleTruck", sys::PlistValue(false)},
                         {"isEnablePagePreview", sys::PlistValue(true)}});
    ASSERT_TRUE(launch());
    if (dark) window().setUserInterfaceStyle(ui::UserInterfaceStyle::Dark);
    // A page of news about the version may come first.
    closeWhatsNew();
    play("rotate portrait\nwait 1\nshot " + prefix() + "start\ntap \"Alpha\"\nwait 1\nsheet 0\nwait 2\n");
    ASSERT_TRUE(viewer());
    ASSERT_EQ(viewer()->page(), 0);
    const ui::Rect w = window().bounds();

    // A tap in the middle of the page opens the sheet over a dimmed page.
    play(tapMiddle() + "wait 1\nshot " + prefix() + "menu\n");
    ASSERT_TRUE(viewer()->isOpenBar());
    expectSheetLaidOut();
    EXPECT_EQ(viewer()->labelPageJump()->text(), "Page 1/5");
    EXPECT_NE(viewer()->labelFilename()->text().find("Alpha"), std::string::npos);
    {
        Shot s = shot(prefix() + "menu");
        ASSERT_TRUE(s);
        const ui::Rect close = inWindow(*viewer()->closeButton());
        const ui::Rect slider = inWindow(*viewer()->sliderPage());
        const double y = (close.maxY() + 40 + slider.y() - 40) / 2;
        EXPECT_TRUE(s.is(w.width() / 2, y, dimmed(kPage[0], 0.4), 25)) << "the page shows dimmed behind the sheet";
        EXPECT_FALSE(s.is(centre(close).x, centre(close).y, kPage[0])) << "the close button is drawn";
    }

    // The detail menu stands in the middle of the page area over the sheet;
    // its close button takes it away and leaves the sheet.
    viewer()->onDetailMenuBtn();
    play("wait 1\nshot " + prefix() + "detail\n");
    {
        ui::View* menu = viewer()->detailMenu();
        ASSERT_TRUE(menu);
        expectInside(*menu, "detail menu");
        const ui::Rect r = inWindow(*menu);
        const ui::Rect area = viewer()->view()->convertRectTo(viewer()->getScreenRectWithoutBookToolView(), nullptr);
        EXPECT_NEAR(centre(r).x, centre(area).x, 1);
        EXPECT_NEAR(centre(r).y, centre(area).y, 1);
        Shot s = shot(prefix() + "detail");
        ASSERT_TRUE(s);
        // Darker than the dimmed page around it, with its entries drawn.
        const Rgb inside = s.at(r.x() + 8, r.maxY() - 8);
        const Rgb outside = s.at(r.x() - 8, r.maxY() - 8);
        EXPECT_LT(inside.r + inside.g + inside.b, outside.r + outside.g + outside.b);
        ASSERT_EQ(menu->subviews().size(), 4u);
        const ui::Rect entry = inWindow(*menu->subviews()[2]);
        EXPECT_FALSE(s.is(centre(entry).x, centre(entry).y, s.at(r.x() + 8, r.maxY() - 8), 10))
            << "the slideshow entry is drawn";
        play(tapAt(centre(inWindow(*menu->subviews()[0]))) + "wait 1\n");
        EXPECT_EQ(viewer()->detailMenu(), nullptr);
        EXPECT_TRUE(viewer()->isOpenBar());
        EXPECT_EQ(viewer()->blockMapView(), nullptr) << "a book on this machine has no block map";
    }

    // Turned with the sheet open, the sheet is laid out for the new shape.
    play("rotate landscape\nwait 2\nshot " + prefix() + "menu-landscape\n");
    if (window().bounds().width() > window().bounds().height()) {
        expectSheetLaidOut();
        Shot s = shot(prefix() + "menu-landscape");
        ASSERT_TRUE(s);
        // The tool bar's icons stand whole inside the bar (a phone's bar is
        // lower on its side) and clear of the sensor housing.
        ui::Toolbar* bar = viewer()->bvToolbar();
        const ui::Rect b = inWindow(*bar);
        const ui::EdgeInsets safe = window().windowSafeAreaInsets();
        for (const auto& item : bar->subviews()) {
            const ui::Rect r = inWindow(*item);
            EXPECT_GE(r.y(), b.y() - 0.5);
            EXPECT_LE(r.maxY(), b.maxY() + 0.5);
            EXPECT_GE(r.x(), safe.left - 0.5);
            EXPECT_LE(r.maxX(), window().bounds().width() - safe.right + 0.5);
        }
        int lit = 0;
        for (double x = b.x() + 1; x < b.maxX() - 1; x += 1)
            if (s.is(x, b.maxY() - 0.7, {255, 255, 255}, 60)) ++lit;
        EXPECT_EQ(lit, 0) << "no icon reaches the bar's lower edge";
    }
    play("rotate portrait\nwait 2\n");
    expectSheetLaidOut();

    // Touching the slider brings up the thumbnail strip under the close button.
    ui::test::Driver d(window());
    ui::Slider* slider = viewer()->sliderPage();
    const ui::Point thumb = centre(slider->convertRectTo(slider->thumbRect(), nullptr));
    const double towardsEnd = direction == "left" ? -1 : 1;  // read right to left the slider is reversed
    d.drag(thumb, {thumb.x + towardsEnd * inWindow(*slider).width() * 0.5, thumb.y}, 0.3);
    d.advance(1);
    BookPagePreView* strip = viewer()->pagePreView();
    ASSERT_TRUE(strip);
    EXPECT_GT(viewer()->sliderPageNumber(), 0) << "the slider moved";
    EXPECT_EQ(strip->getTargetPage(), std::min(viewer()->sliderPageNumber(), 4));
    EXPECT_EQ(viewer()->page(), 0) << "releasing the slider does not jump";
    expectInside(*strip, "strip");
    EXPECT_GE(inWindow(*strip).y(), inWindow(*viewer()->closeButton()).maxY());
    play("wait 1\nshot " + prefix() + "strip\n");

    // Scrolled, the strip names another page to the slider and the label.
    const int before = strip->getTargetPage();
    const ui::Rect sr = inWindow(*strip);
    const double cell = strip->cellSize().width + strip->gap();
    // Page numbers grow to the right when reading left to right: pulling the
    // row to the right brings the page before into the middle.
    const double pull = direction == "left" ? -1 : 1;
    d.drag({sr.x() + sr.width() / 2, sr.y() + sr.height() / 2},
           {sr.x() + sr.width() / 2 + pull * cell * 1.2, sr.y() + sr.height() / 2}, 0.5);
    d.advance(2);
    ASSERT_EQ(viewer()->pagePreView(), strip);
    EXPECT_EQ(strip->getTargetPage(), before - 1) << "one cell back";
    EXPECT_EQ(int(viewer()->sliderPage()->value()), strip->getTargetPage());

    // Tapping the last page's thumbnail (pulled into view) jumps there and closes the sheet.
    ui::Button* last = nullptr;
    for (int tries = 0; tries < 4 && !last; ++tries) {
        for (int i = 0; i < strip->numPageView(); ++i) {
            ui::Button* b = strip->pageButton(i);
            const double x = centre(inWindow(*b)).x;
            if (b->tag() == 4 && !b->isHidden() && x > 10 && x < w.width() - 10) last = b;
        }
        if (last) break;
        d.drag({sr.x() + sr.width() / 2, sr.y() + sr.height() / 2},
               {sr.x() + sr.width() / 2 - pull * cell * 1.2, sr.y() + sr.height() / 2}, 0.5);
        d.advance(2);
    }
    ASSERT_TRUE(last) << "the last page has a thumbnail";
    play(tapAt(centre(inWindow(*last))) + "wait 2\nshot " + prefix() + "jumped\n");
    EXPECT_FALSE(viewer()->isOpenBar());
    EXPECT_EQ(viewer()->page(), 4);
    EXPECT_TRUE(shot(prefix() + "jumped").is(w.width() / 2, w.height() / 2, kPage[4]));

    // A page turn past the last page offers the next book on the side pages turn to.
    const ui::Point forward{direction == "left" ? 8.0 : w.width() - 8, w.height() / 2};
    play(tapAt(forward) + "wait 0.5\nshot " + prefix() + "nextbook\n");
    ui::Button* next = viewer()->buttonNextBook();
    ASSERT_TRUE(next) << "the next book is offered";
    EXPECT_FALSE(viewer()->buttonNextBookIsPrevious());
    const ui::Rect nb = inWindow(*next);
    if (direction == "left")
        EXPECT_LT(nb.x(), w.width() / 2);
    else
        EXPECT_GT(nb.x(), w.width() / 2);
    play(tapAt(centre(nb)) + "wait 3\nshot " + prefix() + "beta\n");
    ASSERT_TRUE(viewer());
    EXPECT_NE(viewer()->fileName().find("Beta"), std::string::npos) << "the next book is open";
    EXPECT_TRUE(shot(prefix() + "beta").is(w.width() / 2, w.height() / 2, kPage[3]));

    // The sheet's close button closes the book.
    play(tapMiddle() + "wait 1\n");
    ASSERT_TRUE(viewer() && viewer()->isOpenBar());
    play(tapAt(centre(inWindow(*viewer()->closeButton()))) + "wait 2\nshot " + prefix() + "closed\n");
    EXPECT_EQ(viewer(), nullptr) << "back in the library";
}

// A comic on nginx, read in place: its pages and, after them, enough
// incompressible bytes that the book spans several blocks of the stream cache.
class ViewerMenuStreamProgramTest : public ViewerMenuProgramTest {
protected:
    void SetUp() override {
        ViewerMenuProgramTest::SetUp();
        if (IsSkipped()) return;
        if (test::NginxServer::program().empty()) GTEST_SKIP() << "nginx is not installed";
        www = std::make_unique<test::TempDir>("menustreamwww");
        fs::create_directories(www->file("comics"));
        std::string list;
        for (int i = 0; i < 3; ++i) {
            const std::string page = "s-p" + std::to_string(i) + ".png";
            writePng(src->file(page), 300, 400, kPage[i]);
            list += " '" + page + "'";
        }
        ASSERT_EQ(test::shell("cd '" + src->path() + "' && head -c 1200000 /dev/urandom > zz-notes.bin && zip -q -X -0 '" +
                              www->file("comics/Story.cbz") + "'" + list + " zz-notes.bin >/dev/null 2>&1"),
                  0);
        bookSize = fs::file_size(www->file("comics/Story.cbz"));
        nginx.setLocationConfig("autoindex on;");
        ASSERT_TRUE(nginx.start(www->path())) << nginx.lastError();
        programtest::registerRemoteServices();
        StreamStatusViewBlockMap::registerWithViewer();
    }
    void TearDown() override {
        ViewerMenuProgramTest::TearDown();
        BookViewController::setBlockMapViewFactory(nullptr);
        programtest::unregisterRemoteServices();
        nginx.stop();
    }

    std::unique_ptr<test::TempDir> www;
    test::NginxServer nginx;
    uintmax_t bookSize = 0;
};

TEST_P(ViewerMenuStreamProgramTest, TheMenuOfAStreamedBookShowsItsBlockMap) {
    writeGlobalSettings({{"pageDirection", sys::PlistValue(direction)},
                         {"defaultZoomMode", sys::PlistValue("fit")},
                         {"isDoubleTruck", sys::PlistValue(false)}});
    const std::string site = nginx.url("/comics/");
    useHome();
    ASSERT_TRUE(ServerListViewControllerEx::writeSites(
        {sys::PlistDictionary{{"url", sys::PlistValue(site)}, {"title", sys::PlistValue("Comics")}}}));
    ASSERT_TRUE(launch());
    if (dark) window().setUserInterfaceStyle(ui::UserInterfaceStyle::Dark);
    closeWhatsNew();
    play("rotate portrait\nwait 1\n");
    auto* library = dynamic_cast<LocalFilelistViewController*>(nav()->topViewController());
    ASSERT_TRUE(library);
    library->onDownLoadBtn();
    play("wait 1\ntap \"Comics\"\nwait 2\ntap \"Streaming\"\nwait 0.5\ntap \"Story.cbz\"\nwait 1\nsheet 0\nwait 3\n");
    ASSERT_TRUE(viewer());
    ASSERT_TRUE(viewer()->isStreamingMode());
    const ui::Rect w = window().bounds();

    play(tapMiddle() + "wait 1\nshot " + prefix() + "stream-menu\n");
    expectSheetLaidOut();
    auto* map = dynamic_cast<StreamStatusViewBlockMap*>(viewer()->blockMapView());
    ASSERT_TRUE(map) << "the sheet of a streamed book has a block map";
    const std::shared_ptr<ui::View> keep = map->view();  // looked at after the sheet lets it go
    const uint64_t blocks = (bookSize + RemoteStreamRead::kBlockSize - 1) / RemoteStreamRead::kBlockSize;
    EXPECT_GE(blocks, 5u);
    ASSERT_EQ(map->map().size(), blocks) << "one cell per block of the book";
    EXPECT_GE(map->cachedCount(), 1u) << "the blocks of the first page are here";
    EXPECT_NE(map->map().front(), 0) << "the first page's block";
    expectInside(*map, "block map");
    const ui::Rect strip = inWindow(*map);
    const ui::Rect bar = inWindow(*viewer()->bvToolbar());
    EXPECT_NEAR(strip.maxY(), bar.y(), 0.5) << "along the top of the tool bar";
    EXPECT_GT(strip.width(), w.width() * 0.8);
    {
        // The loaded blocks are drawn in the map's colour.
        Shot s = shot(prefix() + "stream-menu");
        ASSERT_TRUE(s);
        int loaded = 0;
        for (double x = strip.x() + 1; x < strip.maxX() - 1; x += 2)
            if (s.is(x, strip.y() + 2.5, {89, 166, 255}, 30)) ++loaded;
        EXPECT_GT(loaded, 0);
    }

    // Turned, the map stays along the tool bar and clear of the sensor housing.
    play("rotate landscape\nwait 2\nshot " + prefix() + "stream-menu-landscape\n");
    if (window().bounds().width() > window().bounds().height()) {
        ASSERT_EQ(viewer()->blockMapView(), map);
        const ui::Rect turned = inWindow(*map);
        const ui::EdgeInsets safe = window().windowSafeAreaInsets();
        EXPECT_NEAR(turned.maxY(), inWindow(*viewer()->bvToolbar()).y(), 0.5);
        EXPECT_GE(turned.x(), safe.left - 0.5);
        EXPECT_LE(turned.maxX(), window().bounds().width() - safe.right + 0.5);
    }
    play("rotate portrait\nwait 2\n");

    // Closing the sheet takes the map with it.
    play(tapMiddle() + "wait 1\n");
    EXPECT_FALSE(viewer()->isOpenBar());
    EXPECT_EQ(viewer()->blockMapView(), nullptr);
    EXPECT_EQ(map->superview(), nullptr);
}

// Every device, both looks, both reading directions.
const auto kDevicesLooksDirections = ::testing::Combine(::testing::Values("phone", "pad", "desktop"), ::testing::Bool(),
                                                        ::testing::Values("left", "right"));
std::string nameOf(const ::testing::TestParamInfo<Param>& i) {
    return std::get<0>(i.param) + (std::get<1>(i.param) ? "Dark" : "Light") +
           (std::get<2>(i.param) == "left" ? "RightToLeft" : "LeftToRight");
}

INSTANTIATE_TEST_SUITE_P(DevicesLooksDirections, ViewerMenuStreamProgramTest, kDevicesLooksDirections, nameOf);
INSTANTIATE_TEST_SUITE_P(DevicesLooksDirections, ViewerMenuProgramTest, kDevicesLooksDirections, nameOf);

}  // namespace
