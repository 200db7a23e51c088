// The whole program, driven as a user would from the site list: the web
// browser opens on a blank page, goes to a page on nginx, a tap on a book
// link asks and "Yes" downloads the book into the library; and the server
// search lists a minidlna peer answering in a network namespace the test
// makes (the program searches from the namespace's other side).
#include <gtest/gtest.h>

#include "app/LeafbrightProgram.h"
#include "app/NestlarkAppDelegate.h"
#include "foundation/BookCommon.h"
#include "foundation/ui/TransferScreenFactory.h"
#include "library/LocalFilelistViewController.h"
#include "platform/core/RunLoop.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TestDriver.h"
#include "platform/ui/Window.h"
#include "remote/BookTransfer.h"
#include "remote/MediaServerHostConfigViewController.h"
#include "remote/RemoteTransferScreenFactory.h"
#include "remote/screens/MediaServerAutodetectionController.h"
#include "remote/screens/WebBrowseController.h"
#include "remote/transfer/HttpDownload.h"
#include "tests/app/DownloadProgramRun.h"
#include "tests/support/TestHome.h"
#include "tests/support/VirtualClockTest.h"
#include "tests/support/net/MiniDlnaServer.h"
#include "tests/support/net/NetNamespacePair.h"
#include "tests/support/net/NginxServer.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>

namespace {

namespace fs = std::filesystem;

using test::readFile;

class WebBrowserProgramTest : public DownloadProgramRun {
protected:
    void SetUp() override { makeDownloadHome("browserhome"); }
    void TearDown() override {
        keepShots("program-");
        DownloadProgramRun::TearDown();
    }
};

TEST_F(WebBrowserProgramTest, ABookLinkOnAWebPageIsAskedAboutAndDownloadedIntoTheLibrary) {
    if (test::NginxServer::program().empty()) GTEST_SKIP() << "nginx is not installed";
    if (!test::haveProgram("zip")) GTEST_SKIP() << "no zip";
    www = std::make_unique<test::TempDir>("browserwww");
    std::ofstream(www->file("index.html")) << "<html><head><title>Free Comics</title></head><body>"
                                              "<h1>Free Comics</h1><p id=\"book\"><a href=\"files/Moon.cbz\">Moon "
                                              "(comic)</a></p><p id=\"pdf\"><a href=\"files/Guide.pdf\">Guide "
                                              "(PDF)</a></p></body></html>";
    fs::create_directories(www->file("files"));
    std::ofstream(www->file("files/page.txt")) << std::string(40000, 'm');
    ASSERT_EQ(test::shell("cd '" + www->file("files") + "' && zip -q -X Moon.cbz page.txt >/dev/null 2>&1"), 0);
    const std::string book = readFile(www->file("files/Moon.cbz"));
    ASSERT_FALSE(book.empty());
    ASSERT_TRUE(nginx.start(www->path())) << nginx.lastError();

    ASSERT_TRUE(launch());
    openSiteList();
    play("shot site-list\ntap \"Web Browser\"\nwait 1\n");
    auto* browser = presentedTop<WebBrowseController>();
    ASSERT_TRUE(browser);
    EXPECT_EQ(browser->webView()->URL(), WebBrowseController::kBlankPage);
    ASSERT_TRUE(browser->isAddressBarShown());

    // The address typed without its scheme.
    const std::string address = nginx.url("/index.html").substr(std::string("http://").size());
    ui::test::Driver driver(*app().window());
    play("wait 1\n");
    driver.tap(*browser->addressField());
    play("type " + address + "\nkey return\nwait 2\nshot browser-page\n");
    EXPECT_EQ(browser->title(), "Free Comics");

    ui::Rect link = browser->webView()->rectForElement("#book");
    ASSERT_FALSE(link.isNull());
    ui::Point at = browser->webView()->scrollView()->convertPointToWindow({link.x() + 8, link.y() + link.height() / 2});
    play("tap " + std::to_string(int(at.x)) + " " + std::to_string(int(at.y)) + "\nwait 1\nshot browser-question\n");
    ASSERT_TRUE(driver.findByText("Do you want to download \"Moon.cbz\"?"));
    play("tap \"Yes\"\nwait 1\n");
    ASSERT_TRUE(sys::RunLoop::main().runUntil(
        [&] { return app().bookTransfer() && !app().bookTransfer()->isActive(); }, 60));
    // Into the folder the library showed.
    const auto& recent = app().bookTransfer()->getRecentCue();
    ASSERT_EQ(recent.size(), 1u);
    EXPECT_EQ(recent[0]->source, nginx.url("/files/Moon.cbz"));
    EXPECT_EQ(fs::path(recent[0]->savePath), fs::path(docs()));
    EXPECT_TRUE(readFile(docs() + "/Moon.cbz") == book);
    EXPECT_EQ(browser->webView()->URL(), nginx.url("/index.html"));
}

TEST_F(WebBrowserProgramTest, TheServerSearchListsAMinidlnaPeer) {
    if (!test::MiniDlnaServer::installed()) GTEST_SKIP() << "minidlna is not installed";
    test::NetNamespacePair pair;
    if (!pair.create()) GTEST_SKIP() << pair.lastError();
    test::MiniDlnaServer dlna;
    ASSERT_TRUE(dlna.start(pair, 1, "Living Room Media")) << dlna.lastError();
    test::NetNamespacePair::Enter in(pair, 0);
    ASSERT_TRUE(in.ok());

    ASSERT_TRUE(launch());
    openSiteList();
    play("tap \"Server Search\"\nwait 0.5\n");
    auto* search = presentedTop<MediaServerAutodetectionController>();
    ASSERT_TRUE(search);
    // The answer comes from a real peer: real time passes, the clock stands.
    ASSERT_TRUE(test::drainUntil([&] { return !search->foundServers().empty(); }, 9)) << dlna.log();
    play("wait 0.2\nshot server-search\ntap \"Living Room Media\"\nwait 1\n");
    auto* editor = presentedTop<MediaServerHostConfigViewController>();
    ASSERT_TRUE(editor);
    EXPECT_EQ(editor->value("url"), "http://10.77.0.2/");
    EXPECT_EQ(editor->value("name"), "Living Room Media");
}

}  // namespace
