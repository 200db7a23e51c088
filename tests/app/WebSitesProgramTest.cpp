// The whole program against the web servers people share books from, each
// in its stock configuration on loopback: Apache's fancy and plain index
// pages, caddy's file browser (links written "./Name/"), nginx's autoindex,
// Apache's mod_dav behind Digest, nginx's WebDAV, a WebDAV server that
// writes its folders' addresses without their final "/" (our scripted peer:
// none of the stock servers here does), and python's http.server (no
// ranges). As
// a user would: the site is added in the site editor, listed, a non-ASCII
// folder entered, the comic in it read in place and then downloaded; every
// listing shows the folder's own entries only.
#include <gtest/gtest.h>

#include "app/LeafbrightProgram.h"
#include "app/NestlarkAppDelegate.h"
#include "cloud/HttpAuthCache.h"
#include "engine/BookReaderEx.h"
#include "library/LocalFilelistViewController.h"
#include "platform/core/RunLoop.h"
#include "platform/graphics/Canvas.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Switch.h"
#include "platform/ui/TestDriver.h"
#include "platform/ui/Window.h"
#include "remote/BookTransfer.h"
#include "remote/OnlineFileStart.h"
#include "remote/ServerListViewControllerEx.h"
#include "remote/screens/RemoteFileListViewController.h"
#include "tests/app/ProgramRun.h"
#include "tests/app/RemoteProgramServices.h"
#include "tests/support/TestHome.h"
#include "tests/support/net/CaddyServer.h"
#include "tests/support/net/DavTestServer.h"
#include "tests/support/net/FaultHttpServer.h"
#include "tests/support/net/LocalHttpServer.h"
#include "tests/support/net/NginxServer.h"
#include "viewer/BookViewController.h"

#include <algorithm>
#include <filesystem>

namespace {

namespace fs = std::filesystem;

enum class Server { ApacheFancy, ApachePlain, Caddy, Nginx, ApacheDavDigest, NginxDav, DavWithoutSlash, Python };

struct Case {
    const char* name;
    Server server;
};

const char* const kLongName = "Top of the pile, volume one hundred.cbz";
const char* const kFolder = "漫画 Books";
// A name that reads as escaped: servers escape it each their own way.
const char* const kOddFolder = "a%20b#c";

class WebSitesProgramTest : public ProgramRun, public ::testing::WithParamInterface<Case> {
protected:
    void SetUp() override {
        if (!test::haveProgram("zip")) GTEST_SKIP() << "no zip";
        HttpAuthCache::clear();
        www = std::make_unique<test::TempDir>("websiteswww");
        test::TempDir pages("websitespages");
        for (int i = 1; i <= 4; ++i) {
            gfx::Canvas c(90, 120, 1.0);
            c.fillRect({0, 0, 90, 120}, gfx::Rgba{0.2 * i, 0.5, 1.0 - 0.2 * i, 1});
            ASSERT_TRUE(c.writePNG(pages.file("p" + std::to_string(i) + ".png")));
        }
        fs::create_directories(www->file(kFolder));
        ASSERT_EQ(test::shell("cd '" + pages.path() + "' && zip -q -X '" + www->file(std::string(kFolder) + "/Story.cbz") +
                              "' p1.png p2.png p3.png p4.png >/dev/null 2>&1"),
                  0);
        ASSERT_EQ(test::shell("cp '" + www->file(std::string(kFolder) + "/Story.cbz") + "' '" + www->file(kLongName) + "'"),
                  0);
        fs::create_directories(www->file(kOddFolder));
        fs::copy_file(www->file(std::string(kFolder) + "/Story.cbz"), www->file(std::string(kOddFolder) + "/In.cbz"));
        startServer();
        programtest::registerRemoteServices();
        makeHome(std::string("websites-") + GetParam().name);
        markNotFirstRun();
    }
    void TearDown() override {
        keepShots(std::string("web-") + GetParam().name + "-");
        ProgramRun::TearDown();
        programtest::unregisterRemoteServices();
        HttpAuthCache::clear();
    }

    void startServer() {
        switch (GetParam().server) {
        case Server::ApacheFancy:
        case Server::ApachePlain:
            if (test::LocalHttpServer::apacheProgram().empty()) GTEST_SKIP() << "apache2 is not installed";
            ASSERT_TRUE(apache.startApache(www->path(), "reader", "s3cret", GetParam().server == Server::ApacheFancy))
                << apache.lastError();
            site = apache.url("/");
            break;
        case Server::Python:
            ASSERT_TRUE(apache.startPython(www->path())) << apache.lastError();
            site = apache.url("/");
            break;
        case Server::Caddy:
            if (!test::CaddyServer::haveCaddy()) GTEST_SKIP() << "caddy is not installed";
            ASSERT_TRUE(caddy.start(www->path())) << caddy.lastError();
            site = caddy.url("/");
            break;
        case Server::Nginx:
            if (test::NginxServer::program().empty()) GTEST_SKIP() << "nginx is not installed";
            nginx.setLocationConfig("autoindex on;");
            ASSERT_TRUE(nginx.start(www->path())) << nginx.lastError();
            site = nginx.url("/");
            break;
        case Server::ApacheDavDigest:
            if (!test::DavTestServer::haveApache()) GTEST_SKIP() << "Apache's mod_dav is not installed";
            ASSERT_TRUE(dav.startApacheDigest(www->path(), "reader", "s3cret")) << dav.lastError();
            site = dav.url("/dav/");
            break;
        case Server::NginxDav:
            if (!test::DavTestServer::haveNginxDav()) GTEST_SKIP() << "nginx's dav-ext module is not installed";
            ASSERT_TRUE(dav.startNginx(www->path())) << dav.lastError();
            site = dav.url("/dav/");
            break;
        case Server::DavWithoutSlash:
            davPeer = std::make_unique<test::FaultHttpServer>(www->path());
            davPeer->setDavFolderSlash(false);
            ASSERT_TRUE(davPeer->start());
            site = davPeer->url("/");
            break;
        }
    }
    bool isDav() const {
        const Server s = GetParam().server;
        return s == Server::ApacheDavDigest || s == Server::NginxDav || s == Server::DavWithoutSlash;
    }
    bool withPassword() const { return GetParam().server == Server::ApacheDavDigest; }
    template <class T> T* top() const { return dynamic_cast<T*>(nav()->topViewController()); }
    std::vector<std::string> rowNames() const {
        std::vector<std::string> out;
        if (auto* list = top<RemoteFileListViewController>())
            for (const auto& item : list->itemList()) out.push_back(item->filename().value_or(""));
        std::sort(out.begin(), out.end());
        return out;
    }
    bool shows(const std::string& text) const { return ui::test::Driver(window()).findByText(text) != nullptr; }

    std::unique_ptr<test::TempDir> www;
    test::LocalHttpServer apache;
    test::CaddyServer caddy;
    test::NginxServer nginx;
    test::DavTestServer dav;
    std::unique_ptr<test::FaultHttpServer> davPeer;
    std::string site;
};

TEST_P(WebSitesProgramTest, ASiteIsAddedListedAndItsComicReadInPlaceAndDownloaded) {
    ASSERT_TRUE(launch());
    auto* library = top<LocalFilelistViewController>();
    ASSERT_TRUE(library);
    library->onDownLoadBtn();
    std::string editor = "wait 1\ntap \"Add Site\"\nwait 1\ntap \"URL\"\ntype " + site +
                         "\ntap \"Display Name\"\ntype Books\n";
    if (withPassword()) editor += "tap \"User Name\"\ntype reader\ntap \"Password\"\ntype s3cret\n";
    play(editor);
    if (isDav()) {
        auto* webDav = ui::test::Driver(window()).findFirst<ui::Switch>();
        ASSERT_TRUE(webDav);
        play("tap " + centreOf(*webDav) + "\nwait 0.5\n");
    }
    play("shot site-editor\ntap \"Save\"\nwait 1\n");
    auto sites = ServerListViewControllerEx::readSites();
    ASSERT_EQ(sites.size(), 1u);
    EXPECT_EQ(sites[0].getString("url"), site);
    if (isDav()) {
        ASSERT_TRUE(sites[0].getDictionary("other") && sites[0].getDictionary("other")->getBool("isWebDav"));
    }

    // The site: its own two entries, nothing of the page's navigation.
    play("tap \"Books\"\nwait 3\nshot site\n");
    ASSERT_TRUE(top<RemoteFileListViewController>()) << "the site is listed";
    EXPECT_EQ(rowNames(), (std::vector<std::string>{kLongName, kOddFolder, kFolder}));

    // The folder whose name reads as escaped is titled and shown as it is,
    // and lists.
    play("tap \"" + std::string(kOddFolder) + "\"\nwait 3\nshot odd-folder\n");
    auto* odd = top<RemoteFileListViewController>();
    ASSERT_TRUE(odd);
    EXPECT_EQ(odd->title(), kOddFolder);
    EXPECT_TRUE(ui::test::Driver(window()).findByText(kOddFolder)) << "the title shows the name";
    EXPECT_EQ(rowNames(), std::vector<std::string>{"In.cbz"});
    play("back\nwait 1\n");

    // The non-ASCII folder, then its comic read in place.
    play("tap \"Streaming\"\nwait 0.5\ntap \"" + std::string(kFolder) + "\"\nwait 3\nshot folder\n");
    auto* folder = top<RemoteFileListViewController>();
    ASSERT_TRUE(folder);
    EXPECT_EQ(rowNames(), std::vector<std::string>{"Story.cbz"});
    if (davPeer) {
        // The folder named without its "/" was asked for with it.
        std::vector<std::string> asked;
        for (const auto& r : davPeer->requests())
            if (r.method == "PROPFIND") asked.push_back(r.path);
        EXPECT_EQ(asked, (std::vector<std::string>{"/", "/a%2520b%23c/", "/%E6%BC%AB%E7%94%BB%20Books/"}));
    }
    const std::string book = folder->fileList().empty() ? std::string() : folder->fileList()[0];
    play("tap \"Story.cbz\"\nwait 1\nsheet 0\n");
    if (GetParam().server == Server::Python) {
        // Ranges ignored: said so, and nothing opens.
        play("wait 3\nshot no-ranges\n");
        EXPECT_TRUE(shows(OnlineFileStart::kUnsupportedServerMessage));
        EXPECT_FALSE(top<BookViewController>());
        play("tap \"OK\"\nwait 1\n");
    } else {
        play("wait 3\nkey space\nwait 2\nshot reading\n");
        auto* viewer = top<BookViewController>();
        ASSERT_TRUE(viewer) << "the comic opens in place";
        EXPECT_EQ(viewer->fileName(), book);
        EXPECT_EQ(viewer->bookReader()->getPageNum(), 4);
        EXPECT_EQ(viewer->page(), 1);
        play("back\nwait 2\n");
    }
    EXPECT_FALSE(fs::exists(docs() + "/Story.cbz")) << "read in place, not downloaded";

    // Downloaded into the library, byte for byte.
    ASSERT_TRUE(top<RemoteFileListViewController>());
    play("tap \"Download\"\nwait 0.5\ntap \"Story.cbz\"\nwait 0.5\ntap \"Download Selected File\"\nwait 1\n");
    auto& app = *program->delegate();
    ASSERT_TRUE(app.bookTransfer());
    const bool done = sys::RunLoop::main().runUntil(
        [&] { return !app.bookTransfer()->isActive() && fs::exists(docs() + "/Story.cbz"); }, 30);
    play("shot downloaded\n");
    ASSERT_TRUE(done) << test::shell("find '" + lib() + "' -name '*.cbz' >&2");
    EXPECT_EQ(test::readFile(docs() + "/Story.cbz"), test::readFile(www->file(std::string(kFolder) + "/Story.cbz")));

    // The protected WebDAV server asked once for the whole visit.
    if (withPassword()) {
        EXPECT_EQ(dav.statusCount(401), 1u) << testing::PrintToString(dav.requests());
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, WebSitesProgramTest,
                         ::testing::Values(Case{"ApacheFancyIndex", Server::ApacheFancy},
                                           Case{"ApachePlainIndex", Server::ApachePlain},
                                           Case{"CaddyBrowse", Server::Caddy}, Case{"NginxAutoindex", Server::Nginx},
                                           Case{"ApacheDavDigest", Server::ApacheDavDigest},
                                           Case{"NginxDav", Server::NginxDav},
                                           Case{"DavWithoutSlash", Server::DavWithoutSlash},
                                           Case{"PythonHttpServer", Server::Python}),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
