// The whole program against nginx on loopback, driven as a user would: a
// site is added to the site list and browsed, a comic on it is read in
// place, its folder becomes a shortcut, and after a restart the shortcut
// leads back to the same folder and the history opens the remote book again.
#include <gtest/gtest.h>

#include "app/LeafbrightProgram.h"
#include "app/NestlarkAppDelegate.h"
#include "cloud/TrustedServer.h"
#include "engine/BookReaderEx.h"
#include "engine/RemoteStreamRead.h"
#include "foundation/BookCommon.h"
#include "foundation/LastStatusRestore.h"
#include "foundation/ui/TransferMultiViewPush.h"
#include "foundation/ui/TransferScreenFactory.h"
#include "library/ArchivePasswordViewController.h"
#include "library/IncludeFolderSelectViewController.h"
#include "library/LocalFilelistViewController.h"
#include "library/MediaServerOpener.h"
#include "platform/core/PropertyList.h"
#include "platform/graphics/Canvas.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TestDriver.h"
#include "platform/ui/Window.h"
#include "foundation/QNKeyChain.h"
#include "remote/MediaServerHostConfigViewController.h"
#include "remote/PushToMediaServer.h"
#include "remote/RemoteTransferScreenFactory.h"
#include "remote/UrlListStreamRead.h"
#include "remote/listing/GoogleDriveShareLink.h"
#include "remote/ServerListViewControllerEx.h"
#include "remote/screens/RemoteFileListViewController.h"
#include "remote/stream/HTTPURLStreamRead.h"
#include "tests/app/ProgramRun.h"
#include "tests/support/TestHome.h"
#include "tests/support/net/NginxServer.h"
#include "tests/support/net/TestCertificate.h"
#include "viewer/BookViewController.h"

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

class RemoteListProgramTest : public ProgramRun {
protected:
    void SetUp() override {
        if (!test::haveProgram("zip")) GTEST_SKIP() << "no zip";
        if (test::NginxServer::program().empty()) GTEST_SKIP() << "nginx is not installed";
        www = std::make_unique<test::TempDir>("remoteprogramwww");
        // A comic of four pages made by the zip tool, and a second folder.
        for (int i = 1; i <= 4; ++i) {
            gfx::Canvas c(90, 120, 1.0);
            c.fillRect({0, 0, 90, 120}, gfx::Rgba{0.2 * i, 0.5, 1.0 - 0.2 * i, 1});
            fs::create_directories(www->file("pages"));
            ASSERT_TRUE(c.writePNG(www->file("pages/p" + std::to_string(i) + ".png")));
        }
        fs::create_directories(www->file("comics/Older"));
        ASSERT_EQ(test::shell("cd '" + www->path() + "/pages' && zip -q -X ../comics/Story.cbz p1.png p2.png p3.png "
                              "p4.png >/dev/null 2>&1"),
                  0);
        ASSERT_EQ(test::shell("cp '" + www->file("comics/Story.cbz") + "' '" + www->file("comics/Older/Old.cbz") + "'"),
                  0);
        nginx.setLocationConfig("autoindex on;");
        ASSERT_TRUE(nginx.start(www->path())) << nginx.lastError();
        // What the program's entry point registers.
        HTTPURLStreamRead::registerWithEngine();
        UrlListStreamRead::registerWithEngine();
        PushToMediaServer::registerWithLibrary();
        RemoteTransferScreenFactory::install();
        makeHome("remotehome");
        markNotFirstRun();
    }
    void TearDown() override {
        keepShots("program-");
        ProgramRun::TearDown();
        MediaServerOpener::install(nullptr);
        UrlListStream::registerMaker({});
        TransferScreenFactory::install(nullptr);
        RemoteStreamRead::removeCache();
        nginx.stop();
    }

    void play(const std::string& script) {
        std::string error;
        ASSERT_EQ(program->playScript(script, &error), 0) << error;
    }
    ui::NavigationController* nav() const { return program->delegate()->navigationController().get(); }
    template <class T> T* top() const { return dynamic_cast<T*>(nav()->topViewController()); }
    // The navigation of the presented transfer screens, when shown.
    ui::NavigationController* presentedNav() const {
        ui::ViewController* vc = nav()->presentedViewController();
        return dynamic_cast<ui::NavigationController*>(vc);
    }
    std::vector<std::string> sheetTitles() const {
        std::vector<std::string> out;
        ui::ViewController* vc = nav();
        while (vc && vc->presentedViewController()) vc = vc->presentedViewController();
        if (auto* s = dynamic_cast<ui::AlertController*>(vc))
            for (const auto& a : s->actions()) out.push_back(a->title());
        return out;
    }
    std::string shot(const std::string& name) { return home->file("shots/" + name + ".png"); }
    // A shortcut named `title` to the site `url` in the documents folder.
    void writeShortcut(const std::string& title, const std::string& url) {
        fs::create_directories(docs());
        ASSERT_TRUE(sys::PropertyList::writeFile(
            sys::PlistValue(sys::PlistDictionary{{"url", sys::PlistValue(url)}, {"title", sys::PlistValue(title)}}),
            docs() + "/" + title + ".shortcut"));
    }
    // From the library: the shortcut's list, the streaming choice, and
    // `book` opened in place.
    void streamBook(const std::string& shortcut, const std::string& book) {
        play("tap \"" + shortcut + "\"\nwait 2\ntap \"Streaming\"\nwait 0.5\ntap \"" + book +
             "\"\nwait 1\nsheet 0\nwait 3\n");
    }

    std::unique_ptr<test::TempDir> www;
    test::NginxServer nginx;
};

TEST_F(RemoteListProgramTest, AddASiteReadARemoteComicMakeAShortcutAndComeBackAfterARestart) {
    const std::string site = nginx.url("/comics/");
    ASSERT_TRUE(launch());
    auto* library = top<LocalFilelistViewController>();
    ASSERT_TRUE(library);

    // The tool bar's transfer button opens the site list; a site is added.
    library->onDownLoadBtn();
    play("wait 1\ntap \"Add Site\"\nwait 1\ntap \"URL\"\ntype " + site + "\ntap \"Display Name\"\ntype Comics\n"
         "tap \"Save\"\nwait 1\nshot site-list\n");
    auto sites = ServerListViewControllerEx::readSites();
    ASSERT_EQ(sites.size(), 1u);
    EXPECT_EQ(sites[0].getString("url"), site);
    EXPECT_EQ(sites[0].getString("title"), "Comics");

    // Tapping it closes the transfer screens and lists the site.
    play("tap \"Comics\"\nwait 2\n");
    auto* remote = top<RemoteFileListViewController>();
    ASSERT_TRUE(remote);
    EXPECT_EQ(remote->targetURL(), site);
    EXPECT_EQ(remote->title(), "Comics");
    play("shot remote-list\n");
    program->delegate()->window()->setUserInterfaceStyle(ui::UserInterfaceStyle::Dark);
    play("wait 0.5\nshot remote-list-dark\n");
    program->delegate()->window()->setUserInterfaceStyle(ui::UserInterfaceStyle::Light);
    // The header's presentation switch: the bookshelf, then back to the list.
    play("tap \"Bookshelf\"\nwait 1\nshot remote-bookshelf\ntap \"Download\"\nwait 0.5\n");
    EXPECT_EQ(remote->fileListViewMode(), 0);
    EXPECT_TRUE(fs::exists(shot("remote-list")) && fs::exists(shot("remote-list-dark")));

    // Reading in place: streaming mode, the first page, then the next.
    play("tap \"Streaming\"\nwait 0.5\ntap \"Story.cbz\"\nwait 1\n");
    EXPECT_EQ(sheetTitles(), (std::vector<std::string>{"Read the first page", "Cancel"}));
    play("sheet 0\nwait 3\nkey space\nwait 1\nshot remote-reading\n");
    auto* viewer = top<BookViewController>();
    ASSERT_TRUE(viewer);
    EXPECT_EQ(viewer->fileName(), site + "Story.cbz");
    EXPECT_TRUE(viewer->isStreamingMode());
    EXPECT_EQ(viewer->page(), 1);
    // The book was read from the server, not downloaded into the library.
    EXPECT_FALSE(fs::exists(docs() + "/Story.cbz"));
    EXPECT_GE(nginx.requestCount("/comics/Story.cbz"), 1u);
    play("back\nwait 2\n");
    remote = top<RemoteFileListViewController>();
    ASSERT_TRUE(remote);

    // The folder becomes a shortcut in the library.
    remote->onActionButton(nullptr);
    play("wait 0.5\n");
    EXPECT_EQ(sheetTitles(), (std::vector<std::string>{"Create Shortcut", "Add Site to Server List", "Cancel"}));
    play("sheet 0\nwait 1\nshot shortcut-name\nalert 1\nwait 1\n");
    auto record = sys::PropertyList::readFile(docs() + "/Comics.shortcut");
    ASSERT_TRUE(record && record->isDictionary());
    EXPECT_EQ(record->asDictionary().getString("url"), site);

    // A restart comes back to the folder (the book was closed: nothing to
    // resume); back in the library, the shortcut row leads to the folder.
    stop();
    ASSERT_TRUE(launch());
    play("wait 2\n");
    ASSERT_TRUE(top<RemoteFileListViewController>());
    EXPECT_EQ(top<RemoteFileListViewController>()->targetURL(), site);
    EXPECT_EQ(sheetTitles(), std::vector<std::string>{});
    play("back\nwait 1\n");
    ASSERT_TRUE(top<LocalFilelistViewController>());
    play("tap \"Comics\"\nwait 2\nshot shortcut-opened\n");
    ASSERT_EQ(nav()->viewControllers().size(), 2u);
    remote = top<RemoteFileListViewController>();
    ASSERT_TRUE(remote);
    EXPECT_EQ(remote->targetURL(), site);
    EXPECT_EQ(remote->fileList().size(), 2u);

    // The history opens the remote book again, at the page it was left on.
    play("back\nwait 1\n");
    auto* root = top<LocalFilelistViewController>();
    ASSERT_TRUE(root);
    root->onHistoryBtn();
    play("wait 1\nshot history\ntap \"Story.cbz\"\nwait 4\nshot history-opened\n");
    // One list of the folder, the book above it.
    ASSERT_EQ(nav()->viewControllers().size(), 3u);
    viewer = top<BookViewController>();
    ASSERT_TRUE(viewer);
    EXPECT_EQ(viewer->fileName(), site + "Story.cbz");
    EXPECT_EQ(viewer->page(), 1);
}

TEST_F(RemoteListProgramTest, ARestartRebuildsTheRemoteFoldersAndOffersTheBookBeingRead) {
    const std::string site = nginx.url("/comics/");
    writeShortcut("Comics", site);
    ASSERT_TRUE(launch());
    play("tap \"Comics\"\nwait 2\ntap \"Streaming\"\nwait 0.5\ntap \"Older\"\nwait 2\n");
    auto* older = top<RemoteFileListViewController>();
    ASSERT_TRUE(older);
    EXPECT_EQ(older->targetURL(), site + "Older/");
    play("tap \"Old.cbz\"\nwait 1\nsheet 0\nwait 3\nkey space\nwait 1\nkey space\nwait 1\n");
    ASSERT_TRUE(top<BookViewController>());
    EXPECT_EQ(top<BookViewController>()->page(), 2);

    // The program ends while the book is open.
    stop();
    ASSERT_TRUE(launch());
    play("wait 2\n");
    const auto& stack = nav()->viewControllers();
    ASSERT_EQ(stack.size(), 3u);
    auto* first = dynamic_cast<RemoteFileListViewController*>(stack[1].get());
    auto* second = dynamic_cast<RemoteFileListViewController*>(stack[2].get());
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->targetURL(), site);
    EXPECT_EQ(second->targetURL(), site + "Older/");
    EXPECT_EQ(sheetTitles(), (std::vector<std::string>{"Yes", "No"}));
    // The library holds only the shortcut, but its first-start help stays
    // with it: not over the lists the restore put in front.
    EXPECT_FALSE(ui::test::Driver(window()).findByText("Welcome to Leafbright"));
    // Ended again while the question is up: the next start asks again.
    stop();
    ASSERT_TRUE(launch());
    play("wait 2\n");
    ASSERT_EQ(nav()->viewControllers().size(), 3u);
    EXPECT_EQ(sheetTitles(), (std::vector<std::string>{"Yes", "No"}));
    play("sheet 0\nwait 3\n");
    auto* viewer = top<BookViewController>();
    ASSERT_TRUE(viewer);
    EXPECT_EQ(viewer->fileName(), site + "Older/Old.cbz");
    EXPECT_EQ(viewer->page(), 2);
}

TEST_F(RemoteListProgramTest, AShortcutsSiteEditorRenamesItAndKeepsThePasswordInTheKeyChain) {
    const std::string site = nginx.url("/comics/");
    useHome();
    QNKeyChain::addOrUpdatePassword("pw", "site-7", "MediaServer");
    // An answer typed earlier for the site's address, under its user.
    ASSERT_TRUE(QNKeyChain::addOrUpdateAccountWithURL(site, "reader", "typed-pw"));
    ASSERT_TRUE(sys::PropertyList::writeFile(
        sys::PlistValue(sys::PlistDictionary{{"url", sys::PlistValue(site)},
                                             {"title", sys::PlistValue("Comics")},
                                             {"username", sys::PlistValue("reader")},
                                             {"id", sys::PlistValue("site-7")}}),
        docs() + "/Comics.shortcut"));
    ASSERT_TRUE(launch());
    auto* library = top<LocalFilelistViewController>();
    ASSERT_TRUE(library);
    int64_t row = -1;
    for (size_t i = 0; i < library->itemList().size(); ++i)
        if (library->itemList()[i]->filename() == "Comics.shortcut") row = int64_t(i);
    ASSERT_GE(row, 0);
    library->openShortcutSiteEditor(row);
    play("wait 1\nshot shortcut-editor\n");
    auto* editor = top<MediaServerHostConfigViewController>();
    ASSERT_TRUE(editor);
    EXPECT_EQ(editor->value("url"), site);
    EXPECT_EQ(editor->value("name"), "Comics");
    EXPECT_EQ(editor->value("user"), "reader");
    EXPECT_EQ(editor->value("password"), "pw");

    // A new name and password; the address stays.
    play("tap \"Display Name\"\nkey backspace\nkey backspace\nkey backspace\nkey backspace\nkey backspace\n"
         "key backspace\ntype Weekly\ntap \"Password\"\nkey backspace\nkey backspace\ntype new-pw\n"
         "tap \"Save\"\nwait 1\n");
    EXPECT_TRUE(top<LocalFilelistViewController>());
    EXPECT_FALSE(fs::exists(docs() + "/Comics.shortcut"));
    auto record = sys::PropertyList::readFile(docs() + "/Weekly.shortcut");
    ASSERT_TRUE(record && record->isDictionary());
    EXPECT_EQ(record->asDictionary().getString("title"), "Weekly");
    EXPECT_EQ(record->asDictionary().getString("url"), site);
    EXPECT_EQ(record->asDictionary().getString("id"), "site-7");
    EXPECT_FALSE(record->asDictionary().contains("password"));
    EXPECT_EQ(QNKeyChain::getPasswordWithAccount("site-7", std::string("MediaServer")), "new-pw");
    // Kept once, as the site's own.
    QNKeyChain::OptString user, typed;
    EXPECT_FALSE(QNKeyChain::getAccountWithURL(site + "a.cbz", &user, &typed));

    // A name that cannot name a file keeps the file; its contents still change.
    library->saveShortcut(site + "Older/", std::string("../out"), std::nullopt, std::nullopt, std::nullopt);
    EXPECT_FALSE(fs::exists(docs() + "/../out.shortcut"));
    record = sys::PropertyList::readFile(docs() + "/Weekly.shortcut");
    ASSERT_TRUE(record && record->isDictionary());
    EXPECT_EQ(record->asDictionary().getString("url"), site + "Older/");
}

TEST_F(RemoteListProgramTest, AFolderOfPicturesOnTheServerIsReadAsOneBookFromThePictureTapped) {
    for (int i : {1, 2, 10}) {
        gfx::Canvas c(60, 80, 1.0);
        c.fillRect({0, 0, 60, 80}, gfx::Rgba{0.08 * i, 0.3, 0.6, 1});
        fs::create_directories(www->file("pics"));
        ASSERT_TRUE(c.writePNG(www->file("pics/" + std::to_string(i) + ".png")));
    }
    const std::string site = nginx.url("/pics/");
    writeShortcut("Pics", site);
    ASSERT_TRUE(launch());
    streamBook("Pics", "2.png");
    auto* viewer = top<BookViewController>();
    ASSERT_TRUE(viewer);
    // Natural order: 1, 2, 10; the book starts at the picture tapped.
    EXPECT_EQ(viewer->bookReader()->getPageNum(), 3);
    EXPECT_EQ(viewer->page(), 1);
    play("key space\nwait 2\n");
    EXPECT_EQ(top<BookViewController>()->page(), 2);
    EXPECT_GE(nginx.requestCount("/pics/10.png"), 1u);
    EXPECT_FALSE(fs::exists(docs() + "/2.png")) << "read in place, not downloaded";
}

// A book whose address the site sends to another server gets no cover (a
// cover is fetched only from the site itself), and it is asked for once
// while its list is shown, through the list's reloads and the shelf.
TEST_F(RemoteListProgramTest, ACoverWhoseRedirectIsRefusedIsAskedForOnce) {
    test::NginxServer other;
    ASSERT_TRUE(other.start(www->path())) << other.lastError();
    ASSERT_EQ(test::shell("cp '" + www->file("comics/Story.cbz") + "' '" + www->file("comics/Away.cbz") + "'"), 0);
    test::NginxServer site;
    site.setLocationConfig("autoindex on;");
    site.setServerConfig("location = /comics/Away.cbz { return 302 " + other.url("/comics/Story.cbz") + "; }");
    ASSERT_TRUE(site.start(www->path())) << site.lastError();
    writeGlobalSettings(sys::PlistDictionary{{"remoteThumbsAutoLoad", sys::PlistValue(std::string("on"))}});
    writeShortcut("Covers", site.url("/comics/"));
    ASSERT_TRUE(launch());
    play("tap \"Covers\"\nwait 5\ntap \"Bookshelf\"\nwait 3\ntap \"Download\"\nwait 3\n");
    ASSERT_TRUE(top<RemoteFileListViewController>());
    // The site's own book has its cover.
    EXPECT_GE(site.requestCount("/comics/Story.cbz"), 1u);
    EXPECT_EQ(site.requestCount("/comics/Away.cbz"), 1u);
    EXPECT_TRUE(other.requests().empty());
}

// A book the trusted site sends on to another server, whose certificate is
// not trusted, does not open, and the message names that server.
TEST_F(RemoteListProgramTest, ABookSentToAServerWithAnUntrustedCertificateNamesIt) {
    test::TempDir conf("sitetls"), otherConf("othertls");
    std::string cert, key, otherCert, otherKey;
    ASSERT_TRUE(test::makeSelfSignedCertificate(conf.path(), &cert, &key));
    ASSERT_TRUE(test::makeSelfSignedCertificate(otherConf.path(), &otherCert, &otherKey));
    test::NginxServer other;
    other.setTls(otherCert, otherKey);
    ASSERT_TRUE(other.start(www->path())) << other.lastError();
    ASSERT_EQ(test::shell("cp '" + www->file("comics/Story.cbz") + "' '" + www->file("comics/Away.cbz") + "'"), 0);
    test::NginxServer site;
    site.setTls(cert, key);
    site.setLocationConfig("autoindex on;");
    site.setServerConfig("location = /comics/Away.cbz { return 302 " + other.url("/comics/Story.cbz") + "; }");
    ASSERT_TRUE(site.start(www->path())) << site.lastError();
    ASSERT_TRUE(TrustedServer::trust(site.url("/"), test::publicKeyOf(cert)));
    writeShortcut("Secure", site.url("/comics/"));
    ASSERT_TRUE(launch());
    streamBook("Secure", "Away.cbz");
    EXPECT_FALSE(top<BookViewController>());
    EXPECT_TRUE(ui::test::Driver(window()).findByText("Server Certificate Untrusted.\n\n(127.0.0.1:" +
                                                      std::to_string(other.port()) + ")"));
    EXPECT_GE(site.requestCount("/comics/Away.cbz"), 1u);
}

TEST_F(RemoteListProgramTest, ASiteChosenFromARemoteListOpensAboveTheLibraryScreen) {
    const std::string site = nginx.url("/comics/");
    useHome();
    ASSERT_TRUE(ServerListViewControllerEx::writeSites(
        {sys::PlistDictionary{{"url", sys::PlistValue(site)}, {"title", sys::PlistValue("Comics")}},
         sys::PlistDictionary{{"url", sys::PlistValue(site + "Older/")}, {"title", sys::PlistValue("Older ones")}}}));
    ASSERT_TRUE(launch());
    top<LocalFilelistViewController>()->onDownLoadBtn();
    play("wait 1\ntap \"Comics\"\nwait 2\n");
    auto* remote = top<RemoteFileListViewController>();
    ASSERT_TRUE(remote);
    // The remote list's transfer button, then the other site.
    TransferMultiViewPush::pushMultiTransferViewWithViewController(*remote, 0, remote->settings(), nullptr,
                                                                   remote->downloadPath());
    play("wait 1\ntap \"Older ones\"\nwait 2\n");
    ASSERT_EQ(nav()->viewControllers().size(), 2u);
    remote = top<RemoteFileListViewController>();
    ASSERT_TRUE(remote);
    EXPECT_EQ(remote->targetURL(), site + "Older/");
    EXPECT_EQ(remote->title(), "Older ones");
}

TEST_F(RemoteListProgramTest, AnEncryptedComicOnTheServerAsksForItsPassword) {
    ASSERT_EQ(test::shell("cd '" + www->path() + "/pages' && zip -q -X -P 'open sesame' ../comics/Locked.cbz p1.png "
                          "p2.png >/dev/null 2>&1"),
              0);
    const std::string site = nginx.url("/comics/");
    writeShortcut("Comics", site);
    ASSERT_TRUE(launch());
    streamBook("Comics", "Locked.cbz");
    ASSERT_TRUE(top<ArchivePasswordViewController>());
    play("type nope\nkey return\nwait 3\n");
    ASSERT_TRUE(top<ArchivePasswordViewController>()) << "a wrong password asks again";
    play("type open sesame\nkey return\nwait 3\n");
    auto* viewer = top<BookViewController>();
    ASSERT_TRUE(viewer);
    EXPECT_EQ(viewer->fileName(), site + "Locked.cbz");
    EXPECT_EQ(viewer->bookReader()->getPageNum(), 2);
    EXPECT_EQ(nav()->viewControllers().size(), 3u) << "no password screen is left behind";
}

TEST_F(RemoteListProgramTest, ASiteThatCannotBeListedIsToldAndNothingIsPushed) {
    writeShortcut("Gone", nginx.url("/nothing-here/"));
    writeShortcut("Empty", nginx.url("/pages/none/"));
    fs::create_directories(www->file("pages/none"));
    ASSERT_TRUE(launch());
    play("tap \"Gone\"\nwait 2\n");
    EXPECT_EQ(nav()->viewControllers().size(), 1u);
    EXPECT_TRUE(program->delegate()->window() &&
                ui::test::Driver(*program->delegate()->window()).findByText("Connection Failed.\n(HTTP 404)"));
    play("tap \"OK\"\nwait 1\ntap \"Empty\"\nwait 2\n");
    EXPECT_EQ(nav()->viewControllers().size(), 1u);
    EXPECT_TRUE(ui::test::Driver(*program->delegate()->window())
                    .findByText("There are no downloadable files on the site."));
}

TEST_F(RemoteListProgramTest, TheNextBookFromTheReaderIsTheNextRowAndAfterTheLastTheFirst) {
    fs::create_directories(www->file("pair"));
    for (const char* name : {"A.cbz", "B.cbz"})
        ASSERT_EQ(test::shell("cp '" + www->file("comics/Story.cbz") + "' '" + www->file(std::string("pair/") + name) + "'"),
                  0);
    const std::string site = nginx.url("/pair/");
    writeShortcut("Pair", site);
    ASSERT_TRUE(launch());
    streamBook("Pair", "A.cbz");
    ASSERT_TRUE(top<BookViewController>());
    top<BookViewController>()->goNextBook();
    play("wait 3\n");
    ASSERT_TRUE(top<BookViewController>());
    EXPECT_EQ(top<BookViewController>()->fileName(), site + "B.cbz");
    EXPECT_EQ(top<BookViewController>()->page(), 0);
    top<BookViewController>()->goNextBook();
    play("wait 3\n");
    ASSERT_TRUE(top<BookViewController>());
    EXPECT_EQ(top<BookViewController>()->fileName(), site + "A.cbz");
    // One list and one reader: the readers before went away.
    EXPECT_EQ(nav()->viewControllers().size(), 3u);
}

TEST_F(RemoteListProgramTest, TheHistoryOpenedFromARemoteListOpensAnotherSitesBook) {
    const std::string site = nginx.url("/comics/");
    writeShortcut("Comics", site);
    ASSERT_TRUE(launch());
    streamBook("Comics", "Story.cbz");
    play("back\nwait 2\ntap \"Older\"\nwait 2\n");
    auto* older = top<RemoteFileListViewController>();
    ASSERT_TRUE(older);
    older->onHistoryBtn();
    play("wait 1\ntap \"Story.cbz\"\nwait 4\n");
    auto* viewer = top<BookViewController>();
    ASSERT_TRUE(viewer);
    EXPECT_EQ(viewer->fileName(), site + "Story.cbz");
    // The jump went through the root: its folder's list, then the book.
    EXPECT_EQ(nav()->viewControllers().size(), 3u);
}

}  // namespace

namespace {

// Folder addresses without their final "/": one handed to the program and
// one stored in a shortcut both list their folder, and the books in them
// are read from that folder (not from the one above).
TEST_F(RemoteListProgramTest, AFolderAddressWithoutItsFinalSlashStillOpensTheFolder) {
    const std::string older = nginx.url("/comics/Older");
    writeShortcut("Older", older);
    ASSERT_TRUE(launch());
    play("wait 1\n");

    // Handed over: asked about as a folder, then listed.
    ASSERT_TRUE(program->delegate()->openURL("lbhttp://" + nginx.url("/comics").substr(7)));
    play("wait 0.5\nshot folder-address-question\n");
    ui::test::Driver driver(*program->delegate()->window());
    EXPECT_TRUE(driver.findByText("Do you want to open this URL?"));
    play("tap \"Yes\"\nwait 2\n");
    auto* remote = top<RemoteFileListViewController>();
    ASSERT_TRUE(remote);
    EXPECT_EQ(remote->targetURL(), nginx.url("/comics/"));
    EXPECT_EQ(remote->fileList().size(), 2u);
    play("back\nwait 1\n");
    ASSERT_TRUE(top<LocalFilelistViewController>());

    // Stored: the shortcut's folder, and its book read in place from there.
    play("tap \"Older\"\nwait 2\n");
    remote = top<RemoteFileListViewController>();
    ASSERT_TRUE(remote);
    ASSERT_EQ(remote->fileList().size(), 1u);
    EXPECT_EQ(remote->fileList()[0], older + "/Old.cbz");
    play("tap \"Streaming\"\nwait 0.5\ntap \"Old.cbz\"\nwait 1\nsheet 0\nwait 3\nshot folder-address-book\n");
    auto* viewer = top<BookViewController>();
    ASSERT_TRUE(viewer);
    EXPECT_EQ(viewer->fileName(), older + "/Old.cbz");
    EXPECT_EQ(viewer->bookReader()->getPageNum(), 4);
}

}  // namespace

namespace {

// A comic of two inner folders on the server: opened afresh it offers its
// folders, the one picked is read in place, and reading on past its last
// page opens the next folder of the same book.
TEST_F(RemoteListProgramTest, AnInnerFolderOfARemoteComicIsChosenAndTheNextFolderFollows) {
    fs::create_directories(www->file("parts/Part1"));
    fs::create_directories(www->file("parts/Part2"));
    for (const char* p : {"p1.png", "p2.png"}) fs::copy_file(www->file(std::string("pages/") + p), www->file(std::string("parts/Part1/") + p));
    for (const char* p : {"p3.png", "p4.png"}) fs::copy_file(www->file(std::string("pages/") + p), www->file(std::string("parts/Part2/") + p));
    ASSERT_EQ(test::shell("cd '" + www->file("parts") + "' && zip -q -X -r ../comics/Parts.cbz Part1 Part2 >/dev/null 2>&1"), 0);
    const std::string site = nginx.url("/comics/");
    writeShortcut("Comics", site);
    ASSERT_TRUE(launch());
    streamBook("Comics", "Parts.cbz");
    play("shot remote-inner-folders\n");
    auto* picker = top<IncludeFolderSelectViewController>();
    ASSERT_TRUE(picker) << "the folders are offered";
    EXPECT_EQ(picker->folderList_(), (std::vector<std::string>{"Part1", "Part2"}));
    play("tap \"Part2\"\nwait 3\n");
    auto* viewer = top<BookViewController>();
    ASSERT_TRUE(viewer);
    EXPECT_EQ(viewer->fileName(), site + "Parts.cbz");
    EXPECT_EQ(viewer->bookReader()->getTargetFolder(), std::optional<std::string>("Part2"));
    EXPECT_EQ(viewer->bookReader()->getPageNum(), 2);
    EXPECT_FALSE(fs::exists(docs() + "/Parts.cbz")) << "read in place";
    play("back\nwait 1\nback\nwait 1\n");

    // Part1 from the picker, then the reader's next book: Part2 of the same book.
    ASSERT_TRUE(top<RemoteFileListViewController>());
    play("tap \"Parts.cbz\"\nwait 1\nsheet 0\nwait 3\ntap \"Part1\"\nwait 3\n");
    viewer = top<BookViewController>();
    ASSERT_TRUE(viewer);
    EXPECT_EQ(viewer->bookReader()->getTargetFolder(), std::optional<std::string>("Part1"));
    viewer->goNextBook();
    play("wait 4\n");
    viewer = top<BookViewController>();
    ASSERT_TRUE(viewer);
    EXPECT_EQ(viewer->bookReader()->getTargetFolder(), std::optional<std::string>("Part2"));
    EXPECT_EQ(viewer->page(), 0);

    // The whole book, chosen in the picker, opens without asking again.
    play("back\nwait 1\n");
    while (nav()->viewControllers().size() > 2) nav()->popViewController(false);
    play("wait 1\ntap \"Parts.cbz\"\nwait 1\nsheet 0\nwait 3\n");
    ASSERT_TRUE(top<IncludeFolderSelectViewController>());
    top<IncludeFolderSelectViewController>()->tableViewDidSelectRowAtIndexPath(*top<IncludeFolderSelectViewController>()->tableView(), {0, 0});
    play("wait 3\n");
    viewer = top<BookViewController>();
    ASSERT_TRUE(viewer);
    EXPECT_EQ(viewer->bookReader()->getPageNum(), 4);
}

}  // namespace

namespace {

// A Google Drive folder shared by link, from nginx standing in for the
// Drive site: a shortcut to the link's pseudo address lists the folder and
// its comic is read in place from the public download address.
TEST_F(RemoteListProgramTest, AComicInASharedDriveFolderIsReadInPlace) {
    fs::create_directories(www->file("drive/folders"));
    fs::create_directories(www->file("files"));
    ASSERT_EQ(test::shell("cp '" + www->file("comics/Story.cbz") + "' '" + www->file("files/DRV1") + "'"), 0);
    std::string base = nginx.url("");
    if (base.back() == '/') base.pop_back();
    std::ofstream(www->file("drive/folders/SHAREDX"))
        << "<html><head><title>Club shelf</title></head><body><div class=\"KL4NAf\" data-x>Story.cbz</div>"
           "<c-data id=i0 jsdata=\"KCtMme;DRV1;x\"></c-data></body></html>";
    nginx.stop();
    nginx.setLocationConfig("autoindex on; default_type text/html;");
    nginx.setServerConfig("location = /download { default_type application/octet-stream; try_files /files/$arg_id =404; }");
    ASSERT_TRUE(nginx.start(www->path())) << nginx.lastError();
    base = nginx.url("");
    if (base.back() == '/') base.pop_back();
    GoogleDriveShareLink::setWebBaseForTesting(base);
    GoogleDriveShareLink::setDownloadBaseForTesting(base);
    struct RealDriveBack {
        ~RealDriveBack() {
            GoogleDriveShareLink::setWebBaseForTesting("");
            GoogleDriveShareLink::setDownloadBaseForTesting("");
        }
    } realDriveBack;
    const auto shared = ServerListViewControllerEx::shareLinkAddress(base + "/drive/folders/SHAREDX");
    ASSERT_TRUE(shared);
    fs::create_directories(docs());
    ASSERT_TRUE(sys::PropertyList::writeFile(
        sys::PlistValue(sys::PlistDictionary{{"url", sys::PlistValue(*shared)}, {"title", sys::PlistValue("Club")}}),
        docs() + "/Club.shortcut"));
    ASSERT_TRUE(launch());
    play("tap \"Club\"\nwait 2\ntap \"Streaming\"\nwait 0.5\nshot shared-drive-folder\ntap \"Story.cbz\"\nwait 1\nsheet 0\n"
         "wait 3\nshot shared-drive-reading\n");
    auto* viewer = top<BookViewController>();
    ASSERT_TRUE(viewer);
    EXPECT_EQ(viewer->bookReader()->getPageNum(), 4);
    EXPECT_GE(nginx.requestCount("/download?id=DRV1"), 1u);
    EXPECT_FALSE(fs::exists(docs() + "/Story.cbz")) << "read in place";

    // The link as Drive's "Copy link" gives it, added with "Add Site", lists
    // the same folder.
    play("back\nwait 1\nback\nwait 1\n");
    auto* library = top<LocalFilelistViewController>();
    ASSERT_TRUE(library);
    library->onDownLoadBtn();
    play("wait 1\ntap \"Add Site\"\nwait 1\ntap \"URL\"\ntype " + base +
         "/drive/folders/SHAREDX?usp=sharing\ntap \"Display Name\"\ntype Shelf\ntap \"Save\"\nwait 1\n"
         "tap \"Shelf\"\nwait 2\nshot shared-drive-site\n");
    auto* remote = top<RemoteFileListViewController>();
    ASSERT_TRUE(remote);
    ASSERT_EQ(remote->fileList().size(), 1u);
    EXPECT_TRUE(GoogleDriveShareLink::isPseudoFileURL(remote->fileList()[0]));
    EXPECT_EQ(remote->targetURL().value_or("").rfind(GoogleDriveShareLink::kPseudoPrefix, 0), 0u);
}

}  // namespace

namespace {

// Addresses handed to the program at start-up and answered while the
// start screen's notice still shows: the library takes them up once it is
// built, a folder (even without its final "/") as a remote list, a file as
// a download into the temporary folder.
TEST_F(RemoteListProgramTest, AddressesAnsweredBeforeTheLibraryIsBuiltAreTakenUpByIt) {
    showStartScreens = true;
    ASSERT_TRUE(launch(nginx.url("/comics")));
    std::string error;
    ASSERT_TRUE(program->openTarget(&error)) << error;
    ASSERT_FALSE(program->delegate()->isStartLBWindowDone()) << "the notice is expected to wait";
    play("wait 0.5\ntap \"Yes\"\nwait 0.5\ntap \"Close\"\nwait 3\nshot startup-folder\n");
    auto* remote = top<RemoteFileListViewController>();
    ASSERT_TRUE(remote);
    EXPECT_EQ(remote->targetURL(), nginx.url("/comics/"));
    EXPECT_EQ(remote->fileList().size(), 2u);
    stop();

    ASSERT_TRUE(launch(nginx.url("/comics/Story.cbz")));
    ASSERT_TRUE(program->openTarget(&error)) << error;
    play("wait 0.5\ntap \"Yes\"\nwait 0.5\n");
    if (!program->delegate()->isStartLBWindowDone()) play("tap \"Close\"\n");
    play("wait 1\n");
    ASSERT_TRUE(program->delegate()->bookTransfer());
    ASSERT_TRUE(sys::RunLoop::main().runUntil([&] { return fs::exists(BookCommon::getBooksTempRoot() + "/Story.cbz"); }, 30));
    EXPECT_EQ(fs::file_size(BookCommon::getBooksTempRoot() + "/Story.cbz"), fs::file_size(www->file("comics/Story.cbz")));
}

TEST_F(RemoteListProgramTest, NamesOfLinkedFilesChosenInTheSettingsNameTheRemoteListNowAndAfterARestart) {
    // A page of links whose texts are not the files' names.
    fs::create_directories(www->file("links"));
    ASSERT_EQ(test::shell("cp '" + www->file("comics/Story.cbz") + "' '" + www->file("links/Story.cbz") + "'"), 0);
    std::ofstream(www->file("links/index.html")) << "<html><body><a href=\"Story.cbz\">My Favourite Story</a></body></html>";
    writeShortcut("Links", nginx.url("/links/"));
    ASSERT_TRUE(launch());
    play("tap \"Links\"\nwait 2\n");
    ASSERT_TRUE(top<RemoteFileListViewController>());
    EXPECT_FALSE(ui::test::Driver(window()).findByText("My Favourite Story")) << "file names out of the box";
    play("back\nwait 1\n");
    ASSERT_TRUE(top<LocalFilelistViewController>());
    top<LocalFilelistViewController>()->onSettingsBtn();
    play("wait 1\ntap \"Link Text\"\nwait 1\nback\nwait 1\ntap \"Links\"\nwait 2\nshot link-text\n");
    ASSERT_TRUE(top<RemoteFileListViewController>());
    EXPECT_TRUE(ui::test::Driver(window()).findByText("My Favourite Story"));
    stop();
    quickAction = "filelist";
    ASSERT_TRUE(launch());
    if (!top<RemoteFileListViewController>()) play("tap \"Links\"\nwait 2\n");
    play("shot link-text-restart\n");
    EXPECT_TRUE(ui::test::Driver(window()).findByText("My Favourite Story"));
}

}  // namespace
