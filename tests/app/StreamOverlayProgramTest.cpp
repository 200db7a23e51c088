// The whole program reading a comic in place from nginx on loopback, whose
// second page is slow to come: the server turns away the blocks that hold it
// (503, busy), so the stream keeps asking and the page waits. Turning to it
// shows the streaming overlay (block map, progress, Disconnect) over the
// reading screen; Disconnect gives the stream up, the load stops and the
// reader is back in the remote list. On the phone, pad and desktop profiles,
// in both looks, upright and turned, and in the glass of system 26, checked
// on the views and on the pictures the program's own script steps take.
#include <gtest/gtest.h>

#include "app/LeafbrightProgram.h"
#include "app/NestlarkAppDelegate.h"
#include "engine/RemoteStreamRead.h"
#include "engine/UrlListStream.h"
#include "foundation/BookCommon.h"
#include "foundation/ui/LiquidGlassView.h"
#include "foundation/ui/TransferScreenFactory.h"
#include "library/LocalFilelistViewController.h"
#include "library/MediaServerOpener.h"
#include "platform/core/DeviceProfile.h"
#include "platform/core/PropertyList.h"
#include "platform/graphics/Canvas.h"
#include "platform/graphics/Image.h"
#include "platform/graphics/ImageDecoder.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TestDriver.h"
#include "platform/ui/Window.h"
#include "remote/PushToMediaServer.h"
#include "remote/RemoteTransferScreenFactory.h"
#include "remote/ServerListViewControllerEx.h"
#include "remote/StreamStatusView.h"
#include "remote/StreamStatusViewBlockMap.h"
#include "remote/UrlListStreamRead.h"
#include "remote/screens/RemoteFileListViewController.h"
#include "remote/stream/HTTPURLStreamRead.h"
#include "tests/app/ProgramRun.h"
#include "tests/app/RemoteProgramServices.h"
#include "tests/app/ProgramShot.h"
#include "tests/support/NoiseBmp.h"
#include "tests/support/TestHome.h"
#include "tests/support/net/NginxServer.h"
#include "viewer/BookViewController.h"

#include <algorithm>
#include <filesystem>
#include <tuple>

namespace {

namespace fs = std::filesystem;

// A page of one colour.
void writePng(const std::string& path, int w, int h, gfx::Rgba c) {
    gfx::Canvas canvas(w, h, 1.0);
    canvas.fillRect({0, 0, double(w), double(h)}, c);
    ASSERT_TRUE(canvas.writePNG(path));
}

using programtest::Rgb;
using programtest::Shot;

int brightness(Rgb c) { return (c.r + c.g + c.b) / 3; }

using Param = std::tuple<std::string, bool, bool, bool>;  // device, dark look, turned, glass (system 26)

class StreamOverlayProgramTest : public ProgramRun, public ::testing::WithParamInterface<Param> {
protected:
    void SetUp() override {
        if (!test::haveProgram("zip")) GTEST_SKIP() << "no zip";
        if (test::NginxServer::program().empty()) GTEST_SKIP() << "nginx is not installed";
        std::tie(device, dark, turned, glass) = GetParam();
        makeHome("overlayhome-" + name());
        markNotFirstRun();
        src = std::make_unique<test::TempDir>("overlaypages");
        www = std::make_unique<test::TempDir>("overlaywww");
        fs::create_directories(www->file("comics"));
        writePng(src->file("p1.png"), 300, 400, gfx::Rgba::rgb(0.86, 0.16, 0.16));
        ASSERT_TRUE(test::writeNoiseBmp(src->file("p2.bmp"), 600, 7));
        writePng(src->file("p3.png"), 300, 400, gfx::Rgba::rgb(0.16, 0.27, 0.86));
        ASSERT_EQ(test::shell("cd '" + src->path() + "' && zip -q -X -0 '" + www->file("comics/Slow.cbz") +
                              "' p1.png p2.bmp p3.png >/dev/null 2>&1"),
                  0);
        bookSize = fs::file_size(www->file("comics/Slow.cbz"));
        ASSERT_GE(bookSize, 4 * RemoteStreamRead::kBlockSize) << "the noise page fills blocks 1 to 3";
        // The first block (the first page, the probe) and the end (the
        // directory) come; the blocks wholly inside the second page are
        // turned away as by a busy server.
        const uint64_t B = RemoteStreamRead::kBlockSize;
        refused = "^bytes=(" + std::to_string(B) + "|" + std::to_string(2 * B) + "|" + std::to_string(3 * B) + ")-";
        nginx.setLocationConfig("autoindex on; if ($http_range ~ \"" + refused + "\") { return 503; }");
        ASSERT_TRUE(nginx.start(www->path())) << nginx.lastError();
        // What the program's entry point registers.
        programtest::registerRemoteServices();
        StreamStatusViewBlockMap::registerWithViewer();
        StreamStatusView::registerWithViewer();
    }
    void TearDown() override {
        // The pictures outlive the home, for a look after the run.
        keepShots("overlay-");
        ProgramRun::TearDown();
        BookViewController::setStreamStatusOverlayFactory(nullptr);
        BookViewController::setBlockMapViewFactory(nullptr);
        programtest::unregisterRemoteServices();
        nginx.stop();
    }

    void play(const std::string& script) {
        std::string error;
        ASSERT_EQ(program->playScript(script, &error), 0) << error;
    }
    ui::Window& window() const { return *program->delegate()->window(); }
    ui::NavigationController* nav() const { return program->delegate()->navigationController().get(); }
    BookViewController* viewer() const { return dynamic_cast<BookViewController*>(nav()->topViewController()); }
    std::string name() const {
        return device + (dark ? "-dark" : "-light") + (turned ? "-turned" : "") + (glass ? "-glass" : "");
    }
    ui::Rect inWindow(const ui::View& v) const { return v.convertRectTo(v.bounds(), nullptr); }
    // The streaming overlay on the reading screen, if any.
    StreamStatusView* shownOverlay() const {
        for (const auto& v : viewer()->view()->subviews())
            if (auto* o = dynamic_cast<StreamStatusView*>(v.get())) return o;
        return nullptr;
    }
    // Requests the server turned away so far.
    size_t refusals() const {
        const auto all = nginx.requests();
        return size_t(std::count_if(all.begin(), all.end(), [](const auto& r) { return r.status == 503; }));
    }

    bool dark = false, turned = false, glass = false;
    std::unique_ptr<test::TempDir> src, www;
    test::NginxServer nginx;
    std::string refused;
    uintmax_t bookSize = 0;
};

TEST_P(StreamOverlayProgramTest, ASlowPageShowsTheOverlayAndDisconnectLeavesTheBook) {
    ASSERT_TRUE(sys::PropertyList::writeFile(
        sys::PlistDictionary{{"pageDirection", sys::PlistValue(std::string(turned ? "left" : "right"))},
                             {"defaultZoomMode", sys::PlistValue("fit")},
                             {"isDoubleTruck", sys::PlistValue(false)}},
        BookCommon::getSettingsFolder() + "/.globalsettings.lbs"));
    useHome();
    ASSERT_TRUE(ServerListViewControllerEx::writeSites({sys::PlistDictionary{
        {"url", sys::PlistValue(nginx.url("/comics/"))}, {"title", sys::PlistValue("Comics")}}}));
    ASSERT_TRUE(launch());
    if (dark) window().setUserInterfaceStyle(ui::UserInterfaceStyle::Dark);
    if (ui::test::Driver(window()).findByText("What's new")) play("tap \"Close\"\nwait 1\n");
    play(std::string("rotate ") + (turned ? "landscape" : "portrait") + "\nwait 1\n");
    auto* library = dynamic_cast<LocalFilelistViewController*>(nav()->topViewController());
    ASSERT_TRUE(library);
    library->onDownLoadBtn();
    play("wait 1\ntap \"Comics\"\nwait 2\ntap \"Streaming\"\nwait 0.5\ntap \"Slow.cbz\"\nwait 1\nsheet 0\nwait 3\n");
    ASSERT_TRUE(viewer());
    ASSERT_TRUE(viewer()->isStreamingMode());
    ASSERT_EQ(viewer()->page(), 0);
    ui::ViewController* list = nav()->viewControllers().size() >= 2
                                   ? nav()->viewControllers()[nav()->viewControllers().size() - 2].get()
                                   : nullptr;
    ASSERT_TRUE(dynamic_cast<RemoteFileListViewController*>(list)) << "the book was opened from the remote list";
    EXPECT_GT(refusals(), 0u) << "the stream has met the busy blocks";

    if (glass) {
        // The system's look from version 26 on.
        sys::DeviceProfile p = sys::DeviceProfile::current();
        p.systemVersion = "26.0";
        sys::DeviceProfile::setCurrent(p);
    }
    // The next page is not here: the overlay comes over the reading screen.
    viewer()->doFunction(2);
    play("wait 1\nshot " + name() + "-overlay\n");
    StreamStatusView* overlay = shownOverlay();
    ASSERT_TRUE(overlay) << "a page on its way shows the streaming overlay";
    const std::shared_ptr<ui::View> keep = overlay->view();  // looked at after the screen lets it go
    EXPECT_EQ(overlay->superview(), viewer()->view());
    EXPECT_EQ(viewer()->page(), 0) << "still on the first page";
    const ui::Rect w = window().bounds();
    const ui::Rect panel = inWindow(*overlay->panel());
    EXPECT_NEAR(panel.x() + panel.width() / 2, w.width() / 2, 1) << "centred";
    EXPECT_GE(panel.y(), 0);
    EXPECT_LE(panel.maxY(), w.height());
    EXPECT_GT(panel.y(), w.height() / 2) << "under the activity indicator";
    const uint64_t blocks = (bookSize + RemoteStreamRead::kBlockSize - 1) / RemoteStreamRead::kBlockSize;
    const auto& map = overlay->blockMap()->map();
    ASSERT_EQ(map.size(), blocks) << "one cell per block of the book";
    EXPECT_NE(map[0], 0) << "the first page's block is here";
    EXPECT_EQ(map[1], 0);
    EXPECT_EQ(map[2], 0);
    EXPECT_EQ(map[3], 0);
    const uint64_t here = overlay->blockMap()->cachedCount();
    EXPECT_EQ(overlay->progressLabel()->text(), std::to_string(here * 100 / blocks) + "%")
        << "the book's share in the cache";
    {
        Shot s(home->file("shots/" + name() + "-overlay.png"), window());
        ASSERT_TRUE(s);
        const Rgb fill = s.at(panel.x() + 6, panel.maxY() - 4);
        if (glass)
            EXPECT_TRUE(dynamic_cast<LiquidGlassView*>(overlay->panel().get())) << "the glass panel";
        else if (dark)
            EXPECT_LT(brightness(fill), 90) << "a dark panel in the dark look";
        else
            EXPECT_GT(brightness(fill), 200) << "a light panel in the light look";
        const ui::Rect button = inWindow(*overlay->disconnectButton());
        EXPECT_GE(button.y(), panel.y());
        EXPECT_LE(button.maxY(), panel.maxY());
        const ui::Rect strip = inWindow(*overlay->blockMap());
        // The first block is drawn in the map's colour at the reading side.
        const double firstX = turned ? strip.maxX() - 2 : strip.x() + 2;
        const Rgb cached = s.at(firstX, strip.y() + strip.height() / 2);
        EXPECT_GT(cached.b, 200) << "block 0 is drawn as here";
        EXPECT_LT(cached.r, 140);
    }

    // Disconnect: the stream is given up, the waiting move ends by closing
    // the book, and the reader is back in the list the book came from.
    const size_t before = refusals();
    play("tap \"Disconnect\"\nwait 2\nshot " + name() + "-after\n");
    EXPECT_EQ(viewer(), nullptr) << "the book is closed";
    EXPECT_EQ(nav()->topViewController(), list);
    EXPECT_TRUE(ui::test::Driver(window()).findByText("Slow.cbz"));
    EXPECT_EQ(overlay->superview(), nullptr);
    // The stream asks no more: time passes and nothing more is turned away.
    play("wait 20\n");
    nginx.waitForRequests(nginx.requests().size());
    EXPECT_LE(refusals(), before + 1) << "at most the request on its way when Disconnect was tapped";
}

INSTANTIATE_TEST_SUITE_P(DevicesLooksTurns, StreamOverlayProgramTest,
                         ::testing::Values(Param{"phone", false, false, false}, Param{"phone", true, true, false},
                                           Param{"pad", true, false, false}, Param{"pad", false, true, false},
                                           Param{"desktop", false, false, false}, Param{"desktop", true, true, false},
                                           Param{"phone", false, false, true}, Param{"pad", true, true, true}),
                         [](const ::testing::TestParamInfo<Param>& i) {
                             return std::get<0>(i.param) + (std::get<1>(i.param) ? "Dark" : "Light") +
                                    (std::get<2>(i.param) ? "Turned" : "Upright") + (std::get<3>(i.param) ? "Glass" : "");
                         });

}  // namespace
