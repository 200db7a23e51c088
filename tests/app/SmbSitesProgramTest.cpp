// The whole program against smbd on loopback, as a new user meets SMB: a site
// smb://127.0.0.1:PORT/ is added with the default settings, its shares are
// listed (a share named 本棚 among them), a comic is read in place, a folder
// of pictures is read as a book, and the comic is downloaded into the
// library; once from a server that speaks only SMB2 and later, once from
// one that speaks only SMB1.
#include <gtest/gtest.h>

#include "app/LeafbrightProgram.h"
#include "app/NestlarkAppDelegate.h"
#include "engine/BookReaderEx.h"
#include "library/LocalFilelistViewController.h"
#include "platform/core/RunLoop.h"
#include "platform/core/UserDefaults.h"
#include "platform/ui/TestDriver.h"
#include "platform/graphics/Canvas.h"
#include "platform/ui/NavigationController.h"
#include "remote/BookTransfer.h"
#include "remote/protocols/SmbClientChoice.h"
#include "remote/protocols/SmbDfsCredentials.h"
#include "remote/screens/RemoteFileListViewController.h"
#include "remote/stream/SmbStreamRead.h"
#include "smb/CIFSStackClient.h"
#include "tests/app/ProgramRun.h"
#include "tests/app/RemoteProgramServices.h"
#include "tests/support/TestHome.h"
#include "tests/support/net/NetNamespacePair.h"
#include "tests/support/net/SambaServer.h"
#include "tests/support/net/SmbPeer.h"
#include "viewer/BookViewController.h"

#include <algorithm>
#include <filesystem>

namespace {

namespace fs = std::filesystem;
using test::SmbPeer;

class SmbSitesProgramTest : public ProgramRun {
protected:
    void SetUp() override {
        skip_ = SmbPeer::skipReason();
        if (!skip_.empty()) GTEST_SKIP() << skip_;
        if (!test::haveProgram("zip")) GTEST_SKIP() << "no zip";
        pages_ = std::make_unique<test::TempDir>("smbprogrampages");
        for (int i = 1; i <= 4; ++i) {
            gfx::Canvas c(90, 120, 1.0);
            c.fillRect({0, 0, 90, 120}, gfx::Rgba{0.2 * i, 0.5, 1.0 - 0.2 * i, 1});
            ASSERT_TRUE(c.writePNG(pages_->file("p" + std::to_string(i) + ".png")));
        }
        ASSERT_EQ(test::shell("cd '" + pages_->path() + "' && zip -q -X Story.cbz p1.png p2.png p3.png p4.png"), 0);
        programtest::registerRemoteServices();
        SmbStreamRead::registerWithEngine();
        CIFSStackClient::registerWithRemote();
        makeHome("smbsites");
        markNotFirstRun();
    }
    void TearDown() override {
        keepShots("smb-");
        ProgramRun::TearDown();
        RemoteStreamRead::registerStreamClass(RemoteStreamRead::kSMB, nullptr);
        programtest::unregisterRemoteServices();
    }
    template <class T> T* top() const { return dynamic_cast<T*>(nav()->topViewController()); }
    std::vector<std::string> rows() const {
        std::vector<std::string> out;
        if (auto* list = top<RemoteFileListViewController>())
            for (const auto& item : list->itemList()) out.push_back(item->filename().value_or(""));
        std::sort(out.begin(), out.end());
        return out;
    }

    // A server of the given kind with the comic and three pictures on "books".
    std::unique_ptr<SmbPeer> server(const std::string& lines) {
        auto peer = std::make_unique<SmbPeer>();
        test::shell("mkdir -p '" + peer->booksDir() + "/Comics' '" + peer->booksDir() + "/Pics' && cp '" +
                    pages_->file("Story.cbz") + "' '" + peer->booksDir() + "/Comics/' && cp '" + pages_->file("p1.png") +
                    "' '" + peer->booksDir() + "/Pics/01.png' && cp '" + pages_->file("p2.png") + "' '" +
                    peer->booksDir() + "/Pics/02.png' && cp '" + pages_->file("p3.png") + "' '" + peer->booksDir() +
                    "/Pics/03.png'");
        peer->openUp();
        EXPECT_TRUE(peer->start(lines)) << peer->error();
        return peer;
    }

    // Adds the site with the default settings, then lists, reads and downloads from it.
    void useSite(const SmbPeer& peer, const std::string& name) {
        ASSERT_TRUE(launch());
        auto* library = top<LocalFilelistViewController>();
        ASSERT_TRUE(library);
        library->onDownLoadBtn();
        play("wait 1\ntap \"Add Site\"\nwait 1\ntap \"URL\"\ntype smb://" + peer.server() +
             "/\ntap \"Display Name\"\ntype " + name + "\ntap \"User Name\"\ntype " + SmbPeer::kUser +
             "\ntap \"Password\"\ntype " + SmbPeer::kPassword + "\ntap \"Save\"\nwait 1\n");
        // The shares, the non-ASCII one among them.
        play("tap \"" + name + "\"\nwait 3\nshot " + name + "-shares\n");
        ASSERT_TRUE(top<RemoteFileListViewController>()) << "the site is listed";
        EXPECT_EQ(rows(), (std::vector<std::string>{"books", "locked", "public", "sealed", "本棚"}));
        play("tap \"books\"\nwait 2\ntap \"Comics\"\nwait 2\nshot " + name + "-folder\n");
        EXPECT_EQ(rows(), std::vector<std::string>{"Story.cbz"});

        // Read in place.
        play("tap \"Streaming\"\nwait 0.5\ntap \"Story.cbz\"\nwait 1\nsheet 0\nwait 3\nkey space\nwait 1\nshot " + name +
             "-reading\n");
        auto* viewer = top<BookViewController>();
        ASSERT_TRUE(viewer) << "the comic opens in place";
        EXPECT_TRUE(viewer->isStreamingMode());
        EXPECT_EQ(viewer->bookReader()->getPageNum(), 4);
        EXPECT_EQ(viewer->page(), 1);
        EXPECT_FALSE(fs::exists(docs() + "/Story.cbz"));

        // Downloaded into the library.
        play("back\nwait 2\ntap \"Download\"\nwait 0.5\ntap \"Story.cbz\"\nwait 0.5\ntap \"Download Selected File\"\nwait "
             "1\n");
        auto& app = *program->delegate();
        ASSERT_TRUE(app.bookTransfer());
        EXPECT_TRUE(sys::RunLoop::main().runUntil(
            [&] { return !app.bookTransfer()->isActive() && fs::exists(docs() + "/Story.cbz"); }, 30));
        EXPECT_EQ(test::readFile(docs() + "/Story.cbz"), test::readFile(pages_->file("Story.cbz")));

        // Back at the share, its folder of pictures read as one book.
        play("back\nwait 1\nback\nwait 1\n");
        readPictures(name);
    }
    // From the share's folder list: the pictures read as one book, page by page.
    void readPictures(const std::string& name) {
        play("tap \"Pics\"\nwait 2\ntap \"Streaming\"\nwait 0.5\ntap \"02.png\"\nwait 1\nsheet 0\nwait 3\nshot " + name + "-pictures\n");
        auto* viewer = top<BookViewController>();
        ASSERT_TRUE(viewer) << "the pictures open as a book";
        EXPECT_EQ(viewer->bookReader()->getPageNum(), 3);
    }

    std::unique_ptr<test::TempDir> pages_;
    std::string skip_;
};

TEST_F(SmbSitesProgramTest, ANewSiteOnAnSmb2OnlyServer) {
    auto peer = server("  server min protocol = SMB2_02\n");
    useSite(*peer, "Modern");
    EXPECT_EQ(SmbClientChoice::remembered(peer->server()), SmbClientChoice::Library::Stack);
}

TEST_F(SmbSitesProgramTest, ANewSiteOnAnSmb1OnlyServer) {
    auto peer = server("  server min protocol = NT1\n  server max protocol = NT1\n");
    useSite(*peer, "Old");
    EXPECT_EQ(SmbClientChoice::remembered(peer->server()), SmbClientChoice::Library::Own);
}

// The SMB1 client asked for by the setting ("assmb"), on a server that
// speaks only SMB2: the first listing of the site offers to change the
// setting, and after the change the site lists.
TEST_F(SmbSitesProgramTest, TheSmb1SettingOnAnSmb2ServerOffersToChangeIt) {
    auto peer = server("  server min protocol = SMB2_02\n");
    writeGlobalSettings({{"smblib", sys::PlistValue("assmb")}});
    ASSERT_TRUE(launch());
    auto* library = top<LocalFilelistViewController>();
    ASSERT_TRUE(library);
    library->onDownLoadBtn();
    play("wait 1\ntap \"Add Site\"\nwait 1\ntap \"URL\"\ntype smb://" + peer->server() +
         "/\ntap \"Display Name\"\ntype Modern\ntap \"User Name\"\ntype " + SmbPeer::kUser + "\ntap \"Password\"\ntype " +
         SmbPeer::kPassword + "\ntap \"Save\"\nwait 1\ntap \"Modern\"\nwait 3\nshot offer\n");
    EXPECT_FALSE(top<RemoteFileListViewController>());
    play("alert 1\nwait 1\nshot changed\nalert 0\nwait 1\n");
    EXPECT_EQ(program->delegate()->settings()->defaultSmbLibrary(), 3) << "the setting is now the SMB2/3 library";
    library = top<LocalFilelistViewController>();
    ASSERT_TRUE(library);
    library->onDownLoadBtn();
    play("wait 1\ntap \"Modern\"\nwait 3\n");
    ASSERT_TRUE(top<RemoteFileListViewController>()) << "the site lists after the change";
    EXPECT_EQ(rows(), (std::vector<std::string>{"books", "locked", "public", "sealed", "本棚"}));
}

// A share of the site holds a DFS link "far" to a share of a second server
// (another loopback address): a tap on it asks before the site's user name
// and password go there, naming that server; "Send" lists it and reads a
// book from it in place, "Don't Send" (asked again once the answer is
// forgotten) keeps them back, and is not asked again.
TEST_F(SmbSitesProgramTest, ADfsLinkToAnotherServerAsksBeforeTheSiteCredentialsGoThere) {
    // In a network namespace of the test's own, whose loopback is given the
    // second address; the program's threads are made inside it.
    test::NetNamespacePair pair;
    if (!pair.create()) GTEST_SKIP() << pair.lastError();
    ASSERT_EQ(pair.run(1, "ip addr add 127.0.0.2/8 dev lo"), 0);
    test::NetNamespacePair::Enter inside(pair, 1);
    ASSERT_TRUE(inside.ok());
    test::TempDir root("smbdfs");
    const std::string r = root.path();
    fs::create_directories(r + "/dfs");
    fs::create_directories(r + "/far/Far Folder");
    fs::copy_file(pages_->file("Story.cbz"), r + "/far/Far Folder/Story.cbz");
    fs::create_symlink("msdfs:127.0.0.2\\far", r + "/dfs/far");
    test::shell("chmod -R a+rX '" + r + "'");
    for (fs::path p = r; p.has_relative_path() && p != p.root_path(); p = p.parent_path())
        fs::permissions(p, fs::perms::others_exec, fs::perm_options::add);
    const std::vector<test::SambaServer::User> users = {{SmbPeer::kUser, SmbPeer::kPassword}};
    test::SambaServer site;
    ASSERT_TRUE(site.startSmbd("", 0, {{"dfs", r + "/dfs", false, false, "  msdfs root = yes\n"}}, users))
        << site.lastError();
    test::SambaServer far;
    far.setAddress("127.0.0.2");
    ASSERT_TRUE(far.startSmbd("", site.port(), {{"far", r + "/far", false, false, ""}}, users)) << far.lastError();
    const std::string farServer = "127.0.0.2:" + std::to_string(site.port());

    ASSERT_TRUE(launch());
    auto* library = top<LocalFilelistViewController>();
    ASSERT_TRUE(library);
    library->onDownLoadBtn();
    play("wait 1\ntap \"Add Site\"\nwait 1\ntap \"URL\"\ntype smb://127.0.0.1:" + std::to_string(site.port()) +
         "/\ntap \"Display Name\"\ntype Linked\ntap \"User Name\"\ntype " + SmbPeer::kUser +
         "\ntap \"Password\"\ntype " + SmbPeer::kPassword + "\ntap \"Save\"\nwait 1\ntap \"Linked\"\nwait 3\n"
         "tap \"dfs\"\nwait 3\nshot dfs-share\n");
    ASSERT_EQ(rows(), std::vector<std::string>{"far"});
    play("tap \"far\"\nwait 3\nshot dfs-question\n");
    ui::test::Driver driver(window());
    EXPECT_TRUE(driver.findByText("Another Server: " + farServer)) << "the question names the other server";
    ASSERT_EQ(rows(), std::vector<std::string>{"far"}) << "still the link's share";

    // Sent: the other server's share lists, and a book there reads in place.
    play("alert 1\nwait 3\n");
    EXPECT_EQ(rows(), std::vector<std::string>{"Far Folder"});
    play("tap \"Far Folder\"\nwait 2\ntap \"Streaming\"\nwait 0.5\ntap \"Story.cbz\"\nwait 1\nsheet 0\nwait 3\n"
         "shot dfs-reading\n");
    auto* viewer = top<BookViewController>();
    ASSERT_TRUE(viewer) << "the comic on the other server opens in place";
    EXPECT_EQ(viewer->bookReader()->getPageNum(), 4);

    // Not sent: the link's share is not listed, and the next tap does not ask.
    play("back\nwait 1\nback\nwait 1\nback\nwait 1\n");
    ASSERT_EQ(rows(), std::vector<std::string>{"far"});
    sys::UserDefaults::standard().removeObjectForKey("SmbDfsCredentials");
    play("tap \"far\"\nwait 3\n");
    ASSERT_TRUE(driver.findByText("Another Server: " + farServer));
    play("alert 0\nwait 3\nshot dfs-refused\n");
    EXPECT_EQ(rows(), std::vector<std::string>{"far"});
    EXPECT_FALSE(driver.findByText("Another Server: " + farServer));
    play("alert 0\nwait 1\ntap \"far\"\nwait 3\n");
    EXPECT_FALSE(driver.findByText("Another Server: " + farServer)) << "asked again after \"Don't Send\"";
    EXPECT_EQ(SmbDfsCredentials::answer("127.0.0.1:" + std::to_string(site.port()), farServer),
              SmbDfsCredentials::Answer::DontSend);
    EXPECT_EQ(rows(), std::vector<std::string>{"far"});
}

}  // namespace
