// A book brought in from elsewhere on the computer, through the whole
// program from the site list's "Import from Files": our own walk through
// the home folder where no portal runs (headless), and the desktop's file
// chooser through a stand-in portal on a session bus of the test's own.
// Either way the book is copied into the library on the import worker, the
// transfer screens close and the book opens.
#include <gtest/gtest.h>

#include "app/NestlarkAppDelegate.h"
#include "library/DocumentBrowserViewController.h"
#include "library/LocalFilelistViewController.h"
#include "platform/core/PortalFileChooser.h"
#include "platform/core/RunLoop.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TestDriver.h"
#include "platform/ui/Window.h"
#include "foundation/ui/TransferScreenFactory.h"
#include "remote/RemoteTransferScreenFactory.h"
#include "remote/ServerListViewControllerEx.h"
#include "tests/app/ProgramRun.h"
#include "tests/support/FakePortal.h"
#include "tests/support/PrivateSessionBus.h"
#include "tests/support/VirtualClockTest.h"
#include "viewer/BookViewController.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;
using Entry = DocumentBrowserViewController::Entry;

class DocumentImportProgramTest : public ProgramRun {
protected:
    void SetUp() override {
        RemoteTransferScreenFactory::install();
        makeHome("docimport");
        markNotFirstRun();
        userHome = std::make_unique<test::TempDir>("pickerhome");
        elsewhere = std::make_unique<test::TempDir>("pickerelsewhere");
        if (const char* h = std::getenv("HOME")) savedHome = h;
        ::setenv("HOME", userHome->path().c_str(), 1);
    }
    void TearDown() override {
        sys::PortalFileChooser::install(nullptr);
        keepShots("document-import-");
        ProgramRun::TearDown();
        TransferScreenFactory::install(nullptr);
        if (savedHome) ::setenv("HOME", savedHome->c_str(), 1);
        else ::unsetenv("HOME");
    }
    // A book of two flat pages at `path` (made in the library, then moved there).
    void bookAt(const std::string& path, double shade) {
        const std::string name = fs::path(path).filename().string();
        fs::create_directories(home->file("pages-" + name));
        makeFlatBook(home->file("pages-" + name), name, 2, 60, 80,
                     [shade](int i) { return gfx::Rgba{shade, 0.2 * i, 0.5, 1}; });
        fs::create_directories(fs::path(path).parent_path());
        fs::rename(docs() + "/" + name, path);
    }

    std::unique_ptr<test::TempDir> userHome;
    std::unique_ptr<test::TempDir> elsewhere;
    std::optional<std::string> savedHome;
};

TEST_F(DocumentImportProgramTest, OurOwnScreenWalksTheHomeFolderAndThePickedBookIsCopiedInAndOpens) {
    bookAt(userHome->file("Comics/Vol 1.cbz"), 0.9);
    bookAt(userHome->file(".hidden/Secret.cbz"), 0.1);
    bookAt(elsewhere->file("Leak.cbz"), 0.1);
    std::ofstream(userHome->file("Comics/notes.txt")) << "notes";
    std::ofstream(userHome->file("Guide.pdf")) << "%PDF-1.4\n";
    fs::create_directories(userHome->file("Empty"));
    // Links leading out of the home folder are never offered.
    fs::create_directory_symlink(elsewhere->path(), userHome->file("Outside"));
    fs::create_symlink(elsewhere->file("Leak.cbz"), userHome->file("Leak.cbz"));
    fs::create_symlink(userHome->file("Comics/Vol 1.cbz"), userHome->file("Same.cbz"));
    // A different book of the same name is already in the library.
    std::ofstream(docs() + "/Vol 1.cbz") << "PK-other";

    ASSERT_TRUE(launch());
    openSiteList();
    play("shot site-list\ntap \"Import from Files\"\nwait 1\nshot home-level\n");
    auto* top = presentedTop<DocumentBrowserViewController>();
    ASSERT_TRUE(top) << "no screen of our own without a portal";
    EXPECT_EQ(top->title(), "Home");
    EXPECT_EQ(top->entries(), (std::vector<Entry>{{"Comics", true, 0},
                                                  {"Empty", true, 0},
                                                  {"Guide.pdf", false, 9},
                                                  {"Same.cbz", false, fs::file_size(userHome->file("Comics/Vol 1.cbz"))}}));
    // A level with nothing to show says so.
    play("tap \"Empty\"\nwait 1\nshot empty-level\n");
    top = presentedTop<DocumentBrowserViewController>();
    ASSERT_TRUE(top);
    EXPECT_TRUE(top->entries().empty());
    EXPECT_TRUE(ui::test::Driver(window()).findByText("No folders or books to show here."));
    presentedNav()->popViewController(false);
    play("wait 1\n");
    play("tap \"Comics\"\nwait 1\nshot comics-level\n");
    top = presentedTop<DocumentBrowserViewController>();
    ASSERT_TRUE(top);
    ASSERT_EQ(top->entries().size(), 1u);
    EXPECT_EQ(top->entries()[0].name, "Vol 1.cbz");
    // It opens as a tap on it in the library would: the phone asks how first.
    play("tap \"Vol 1.cbz\"\nwait 2\nshot opened\nsheet 0\nwait 2\nshot reading\n");
    EXPECT_FALSE(presentedNav()) << "the transfer screens stayed";
    ASSERT_TRUE(viewer());
    EXPECT_EQ(viewer()->fileName(), docs() + "/Vol 1(2).cbz");
    EXPECT_EQ(test::readFile(docs() + "/Vol 1(2).cbz"), test::readFile(userHome->file("Comics/Vol 1.cbz")));
    EXPECT_EQ(test::readFile(docs() + "/Vol 1.cbz"), "PK-other");
    EXPECT_TRUE(fs::exists(userHome->file("Comics/Vol 1.cbz"))) << "copied, never moved";
}

// The pick returns at once: the copy is made on the import worker, as a
// book handed over is, and the program ending meanwhile gives it up, leaving
// nothing in the library.
TEST_F(DocumentImportProgramTest, ThePickedBookIsCopiedOnAWorkerAndTheEndGivesTheCopyUp) {
    bookAt(userHome->file("Big.cbz"), 0.4);
    ASSERT_TRUE(launch());
    openSiteList();
    std::function<ServerListViewControllerEx*(ui::ViewController*)> find = [&](ui::ViewController* vc) {
        if (auto* s = dynamic_cast<ServerListViewControllerEx*>(vc)) return s;
        for (const auto& child : vc->childViewControllers())
            if (auto* s = find(child.get())) return s;
        return static_cast<ServerListViewControllerEx*>(nullptr);
    };
    auto* sites = find(presentedNav());
    ASSERT_TRUE(sites);
    sites->didPickDocument(userHome->file("Big.cbz"));
    EXPECT_TRUE(program->delegate()->isImporting());
    EXPECT_FALSE(fs::exists(docs() + "/Big.cbz"));
    stop();
    EXPECT_TRUE(fs::exists(userHome->file("Big.cbz")));
    for (const auto& entry : fs::directory_iterator(docs())) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name != "Big.cbz" && name.rfind(".import-", 0) != 0) << "left in the library: " << name;
    }
}

TEST_F(DocumentImportProgramTest, NothingOutsideTheHomeFolderIsOfferedOrTaken) {
    fs::create_directories(userHome->file("Books"));
    bookAt(elsewhere->file("Leak.cbz"), 0.1);
    fs::create_directory_symlink(elsewhere->path(), userHome->file("Books/Out"));
    EXPECT_TRUE(DocumentBrowserViewController::readEntries(userHome->path(), userHome->file("Books")).empty());
    // A level that is itself outside shows nothing, however it was reached.
    EXPECT_TRUE(DocumentBrowserViewController::readEntries(userHome->path(), userHome->file("Books/Out")).empty());
    EXPECT_TRUE(DocumentBrowserViewController::readEntries(userHome->path(), userHome->file("Books/..")).size() == 1);
    EXPECT_FALSE(DocumentBrowserViewController::isInside(userHome->path(), userHome->file("Books/Out/Leak.cbz")));
    EXPECT_FALSE(DocumentBrowserViewController::isInside(userHome->path(), userHome->path() + "/../x"));
    EXPECT_TRUE(DocumentBrowserViewController::isInside(userHome->path(), userHome->file("Books")));
    // A row whose file became a link out of the home folder after it was listed is not taken.
    bookAt(userHome->file("Books/Now.cbz"), 0.5);
    ASSERT_TRUE(launch());
    openSiteList();
    play("tap \"Import from Files\"\nwait 1\ntap \"Books\"\nwait 1\n");
    auto* top = presentedTop<DocumentBrowserViewController>();
    ASSERT_TRUE(top);
    ASSERT_EQ(top->entries().size(), 1u);
    fs::remove(userHome->file("Books/Now.cbz"));
    fs::create_symlink(elsewhere->file("Leak.cbz"), userHome->file("Books/Now.cbz"));
    play("tap \"Now.cbz\"\nwait 2\n");
    EXPECT_FALSE(fs::exists(docs() + "/Now.cbz"));
    EXPECT_FALSE(fs::exists(docs() + "/Leak.cbz"));
    EXPECT_FALSE(viewer());
}

TEST_F(DocumentImportProgramTest, TheDesktopsFileChooserIsAskedFirstAndOurScreenServesWhenItCannotAsk) {
    if (!test::haveProgram("dbus-daemon")) GTEST_SKIP() << "no dbus-daemon";
    test::PrivateSessionBus bus;
    ASSERT_TRUE(bus.start());
    test::FakePortal portal(bus.address);
    ASSERT_TRUE(portal.owned());
    bookAt(elsewhere->file("Moon River.cbz"), 0.7);
    auto chooser = std::make_shared<sys::PortalFileChooser>(bus.address);
    chooser->setParentWindow("x11:2c00004");
    sys::PortalFileChooser::install(chooser);

    ASSERT_TRUE(launch());
    openSiteList();
    // Closed without a choice: the site list stays as it was.
    portal.answer(test::FakePortal::Answer::Cancel);
    play("tap \"Import from Files\"\n");
    ASSERT_TRUE(test::drainUntil([&] { return portal.calls().size() == 1 && !chooser->isOpen(); }, 10));
    play("wait 1\n");
    EXPECT_TRUE(presentedNav());
    EXPECT_FALSE(presentedTop<DocumentBrowserViewController>());
    // A copy: the loop below would otherwise walk a list already freed.
    const auto calls = portal.calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].title, "Import from Files");
    EXPECT_EQ(calls[0].parentWindow, "x11:2c00004");
    bool cbz = false;
    for (const auto& [kind, text] : calls[0].filter) cbz = cbz || (kind == 0 && text == "*.cbz");
    EXPECT_TRUE(cbz);

    // The portal has no way to ask: our own screen instead.
    portal.answer(test::FakePortal::Answer::Fail);
    play("tap \"Import from Files\"\n");
    ASSERT_TRUE(test::drainUntil([&] { return portal.calls().size() == 2 && !chooser->isOpen(); }, 10));
    play("wait 1\n");
    EXPECT_TRUE(presentedTop<DocumentBrowserViewController>());
    presentedNav()->popViewController(false);
    play("wait 1\n");

    // A book chosen in the desktop's chooser.
    portal.answer(test::FakePortal::Answer::Pick, {"file://" + elsewhere->file("Moon%20River.cbz")});
    play("tap \"Import from Files\"\n");
    ASSERT_TRUE(test::drainUntil([&] { return portal.calls().size() == 3 && !chooser->isOpen(); }, 10));
    play("wait 2\nshot portal-opened\nsheet 0\nwait 2\n");
    EXPECT_FALSE(presentedNav());
    ASSERT_TRUE(viewer());
    EXPECT_EQ(viewer()->fileName(), docs() + "/Moon River.cbz");
    EXPECT_TRUE(fs::exists(elsewhere->file("Moon River.cbz")));
}

}  // namespace
