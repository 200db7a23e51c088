// The whole program shares a library folder through its HTTP media server,
// then reads that folder back over loopback as any other site: listed
// through the site list and a comic read in place. Quitting stops the
// server.
#include <gtest/gtest.h>

#include "app/LeafbrightProgram.h"
#include "app/NestlarkAppDelegate.h"
#include "engine/RemoteStreamRead.h"
#include "foundation/ui/TransferScreenFactory.h"
#include "library/FolderSelectViewController.h"
#include "library/LocalFilelistViewController.h"
#include "library/MediaServerOpener.h"
#include "platform/core/UserDefaults.h"
#include "platform/graphics/Canvas.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/NavigationController.h"
#include "remote/PushToMediaServer.h"
#include "remote/RemoteTransferScreenFactory.h"
#include "remote/UrlListStreamRead.h"
#include "remote/screens/RemoteFileListViewController.h"
#include "remote/stream/HTTPURLStreamRead.h"
#include "servers/MediaServerMain.h"
#include "servers/MediaServerViewController.h"
#include "tests/app/ProgramRun.h"
#include "tests/support/TestHome.h"
#include "tests/support/net/ReservedPort.h"
#include "viewer/BookViewController.h"

#include <filesystem>

namespace {

namespace fs = std::filesystem;

class MediaServerProgramTest : public ProgramRun {
protected:
    void SetUp() override {
        if (!test::haveProgram("zip") || !test::haveProgram("curl")) GTEST_SKIP() << "no zip or curl";
        pages = std::make_unique<test::TempDir>("mediaserverpages");
        for (int i = 1; i <= 3; ++i) {
            gfx::Canvas c(90, 120, 1.0);
            c.fillRect({0, 0, 90, 120}, gfx::Rgba{0.3 * i, 0.5, 1.0 - 0.3 * i, 1});
            ASSERT_TRUE(c.writePNG(pages->file("p" + std::to_string(i) + ".png")));
        }
        HTTPURLStreamRead::registerWithEngine();
        UrlListStreamRead::registerWithEngine();
        PushToMediaServer::registerWithLibrary();
        RemoteTransferScreenFactory::install();
        makeHome("mediaserverhome");
        markNotFirstRun();
        fs::create_directories(docs() + "/Shared");
        ASSERT_EQ(test::shell("cd '" + pages->path() + "' && zip -q -X '" + docs() +
                              "/Shared/Story.cbz' p1.png p2.png p3.png >/dev/null 2>&1"),
                  0);
        // A port on loopback for the server to be told to listen on, held
        // until the test ends so that no other test takes it first.
        reserved = std::make_unique<test::ReservedPort>();
        ASSERT_NE(reserved->port(), 0);
        port = static_cast<uint16_t>(reserved->port());
    }
    void TearDown() override {
        ProgramRun::TearDown();
        MediaServerMain::releaseMediaServer();
        MediaServerOpener::install(nullptr);
        UrlListStream::registerMaker({});
        TransferScreenFactory::install(nullptr);
        RemoteStreamRead::removeCache();
    }
    void play(const std::string& script) {
        std::string error;
        ASSERT_EQ(program->playScript(script, &error), 0) << error;
    }
    ui::NavigationController* nav() const { return program->delegate()->navigationController().get(); }
    template <class T> T* top() const { return dynamic_cast<T*>(nav()->topViewController()); }
    std::vector<std::string> sheetTitles() const {
        std::vector<std::string> out;
        ui::ViewController* vc = nav();
        while (vc && vc->presentedViewController()) vc = vc->presentedViewController();
        if (auto* s = dynamic_cast<ui::AlertController*>(vc))
            for (const auto& a : s->actions()) out.push_back(a->title());
        return out;
    }

    std::unique_ptr<test::TempDir> pages;
    std::unique_ptr<test::ReservedPort> reserved;
    uint16_t port = 0;
};

TEST_F(MediaServerProgramTest, ShareAFolderThenListAndReadItFromTheServer) {
    ASSERT_TRUE(launch());
    sys::UserDefaults::standard().setObject(sys::PlistValue("127.0.0.1:" + std::to_string(port)),
                                            MediaServerViewController::kListenKey);
    auto* library = top<LocalFilelistViewController>();
    ASSERT_TRUE(library);
    EXPECT_FALSE(MediaServerMain::hasSharedMediaServer() && MediaServerMain::sharedMediaServer()->isRunning());

    // The media-server screen: switching the server on asks for the folder.
    library->onMediaServerBtn();
    play("wait 1\n");
    ASSERT_TRUE(top<MediaServerViewController>());
    EXPECT_TRUE(nav()->isToolbarHidden()) << "the library's tool bar stays below the screen, empty";
    play("tap \"HTTP Server\"\nwait 1\ntap \"Shared\"\nwait 1\n");
    ASSERT_TRUE(top<FolderSelectViewController>());
    play("tap \"Share This Folder\"\nwait 1\n");
    ASSERT_TRUE(top<MediaServerViewController>());
    EXPECT_TRUE(nav()->isToolbarHidden());
    auto server = MediaServerMain::sharedMediaServer();
    ASSERT_TRUE(server->isRunning()) << server->lastError();
    const std::string site = "http://127.0.0.1:" + std::to_string(port) + "/";
    EXPECT_EQ(MediaServerViewController::serverURL(), site);

    // Back in the library, the shared folder is added as a site and read.
    play("back\nwait 1\n");
    library = top<LocalFilelistViewController>();
    ASSERT_TRUE(library);
    EXPECT_FALSE(nav()->isToolbarHidden()) << "the library's tool bar is back";
    library->onDownLoadBtn();
    play("wait 1\ntap \"Add Site\"\nwait 1\ntap \"URL\"\ntype " + site +
         "\ntap \"Display Name\"\ntype Here\ntap \"Save\"\nwait 1\ntap \"Here\"\nwait 2\n");
    auto* remote = top<RemoteFileListViewController>();
    ASSERT_TRUE(remote);
    EXPECT_EQ(remote->targetURL(), site);
    ASSERT_EQ(remote->fileList().size(), 1u);
    play("tap \"Streaming\"\nwait 0.5\ntap \"Story.cbz\"\nwait 1\n");
    EXPECT_EQ(sheetTitles(), (std::vector<std::string>{"Read the first page", "Cancel"}));
    play("sheet 0\nwait 3\nkey space\nwait 1\n");
    auto* viewer = top<BookViewController>();
    ASSERT_TRUE(viewer);
    EXPECT_EQ(viewer->fileName(), site + "Story.cbz");
    EXPECT_TRUE(viewer->isStreamingMode());
    EXPECT_EQ(viewer->page(), 1);

    // Quitting releases the server: nothing listens afterwards.
    stop();
    EXPECT_FALSE(server->isRunning());
    EXPECT_NE(test::shell("curl -s -f -o /dev/null '" + site + "Story.cbz'"), 0);
}

}  // namespace
