// Addresses handed to the running program, through the whole program: a
// file that is not a book is refused with a message and never copied in,
// and a question about a web link open as the start screen ends holds the
// library back until it is answered.
#include <gtest/gtest.h>

#include "app/LeafbrightProgram.h"
#include "app/NestlarkAppDelegate.h"
#include "engine/UnrarArchive.h"
#include "foundation/BookCommon.h"
#include "foundation/ui/QNNoticeView.h"
#include "library/LocalFilelistViewController.h"
#include "platform/core/PropertyList.h"
#include "platform/core/RunLoop.h"
#include "platform/core/Thread.h"
#include "platform/graphics/Canvas.h"
#include "platform/ui/Label.h"
#include "viewer/BookViewController.h"
#include "platform/ui/ShareService.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TestDriver.h"
#include "platform/ui/Window.h"
#include "tests/app/ProgramRun.h"
#include "tests/support/RarLibraryHold.h"

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <cstdlib>
#include <fstream>
#include <mutex>

namespace {

namespace fs = std::filesystem;

class HandedUrlProgramTest : public ProgramRun {
protected:
    void SetUp() override {
        makeHome("handedurl");
        markNotFirstRun();
        std::ofstream(docs() + "/Alpha.cbz") << "PK";
    }
    void TearDown() override {
        keepShots("handed-url-");
        ProgramRun::TearDown();
    }
    // The texts of the notice on screen ("" when none shows).
    std::pair<std::string, std::string> notice() const {
        ui::test::Driver d(window());
        for (auto* n : d.findAllOf<QNNoticeView>())
            if (!n->isClosing()) return {n->titleLabel()->text(), n->messageLabel()->text()};
        return {};
    }
    std::vector<std::string> documents() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(docs()))
            if (e.path().filename().string()[0] != '.') names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(HandedUrlProgramTest, FilesTheLibraryWouldNotShowAreRefusedWithAMessage) {
    test::TempDir outside("outside");
    std::ofstream(outside.file("hostname")) << "reader-desk\n";
    std::ofstream(outside.file("notes.txt")) << "notes";
    fs::create_directories(outside.file("Comics"));
    fs::create_directories(outside.file("pages"));
    makeFlatBook(outside.file("pages"), "Beta.cbz", 1, 60, 80, [](int) { return gfx::Rgba{0.2, 0.5, 0.8, 1}; });
    fs::rename(docs() + "/Beta.cbz", outside.file("Comics/Beta.cbz"));
    ASSERT_TRUE(launch());
    const auto before = documents();

    for (const std::string name : {"hostname", "notes.txt", "Comics"}) {
        play("open file://" + outside.file(name) + "\nwait 1\nshot refused-" + name + "\n");
        EXPECT_EQ(notice().first, name);
        EXPECT_EQ(notice().second, "This file is not a book and was not added to the library.");
        EXPECT_EQ(documents(), before) << name;
        // The script's "back" closes the message as Escape does.
        play(name == "Comics" ? "back\nwait 1\n" : "alert 0\nwait 1\n");
        EXPECT_EQ(notice().first, "");
    }
    EXPECT_TRUE(fs::exists(outside.file("hostname")));
    // The same from the command line of a later run, and /etc/hostname itself.
    if (fs::is_regular_file("/etc/hostname")) {
        play("open file:///etc/hostname\nwait 1\n");
        EXPECT_EQ(notice().second, "This file is not a book and was not added to the library.");
        play("alert 0\nwait 1\n");
        EXPECT_EQ(documents(), before);
    }
    // A book is taken as always.
    play("open file://" + outside.file("Comics/Beta.cbz") + "\nwait 1\n");
    EXPECT_TRUE(fs::exists(docs() + "/Beta.cbz"));
}

TEST_F(HandedUrlProgramTest, AWebLinkQuestionOpenWhenTheStartScreenEndsHoldsTheLibraryBack) {
    markNoticeSeen();
    program = std::make_unique<LeafbrightProgram>(headlessOptions());
    std::string error;
    ASSERT_TRUE(program->launch(true, &error)) << error;
    auto& app = *program->delegate();
    ASSERT_TRUE(app.isStartScreenShown());
    // Handed over while the launch animation runs.
    ASSERT_TRUE(app.openURL("lbhttp://127.0.0.1:9/books/"));
    sys::RunLoop::main().advance(3);
    EXPECT_EQ(notice().second, "Do you want to open this URL?");
    EXPECT_FALSE(app.isStartLBWindowDone()) << "the library waits for the answer";
    EXPECT_TRUE(app.isStartScreenShown());
    play("shot question-over-start\nalert 0\nwait 1\nshot library-after-no\n");
    EXPECT_TRUE(app.isStartLBWindowDone());
    ASSERT_TRUE(nav());
    EXPECT_TRUE(dynamic_cast<LocalFilelistViewController*>(nav()->topViewController()));
    EXPECT_EQ(notice().first, "");
}

// "Open in..." of the file information hands the book to the desktop's
// programs only from a window: a headless run opens nothing outside itself,
// even with a program to open it on the path.
TEST_F(HandedUrlProgramTest, AHeadlessRunOpensNothingOutsideItself) {
    test::TempDir bin("fakebin");
    std::ofstream(bin.file("xdg-open")) << "#!/bin/sh\necho \"$@\" >> '" << bin.file("opened") << "'\n";
    fs::permissions(bin.file("xdg-open"), fs::perms::owner_all);
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    ::setenv("PATH", (bin.path() + ":" + path).c_str(), 1);
    ASSERT_TRUE(launch());
    auto* list = dynamic_cast<LocalFilelistViewController*>(nav()->topViewController());
    ASSERT_TRUE(list);
    int64_t alpha = -1;
    for (size_t i = 0; i < list->itemList().size(); ++i)
        if (list->itemList()[i]->filename() == "Alpha.cbz") alpha = int64_t(i);
    ASSERT_GE(alpha, 0);
    list->didSelectDetailBtn(alpha);
    play("wait 1\ntap \"Open in...\"\nwait 1\nshot open-in\n");
    EXPECT_FALSE(ui::ShareService::shared()->openIn(docs() + "/Alpha.cbz", {}));
    ::setenv("PATH", path.c_str(), 1);
}

// Files dropped on the window: every book comes in, the last one opens,
// and a file that is no book is refused with a message.
TEST_F(HandedUrlProgramTest, DroppedBooksComeInAndTheLastOneOpens) {
    test::TempDir outside("dropped");
    for (const char* n : {"One.cbz", "Two.cbz"})
        makeFlatBook(outside.path(), n, 2, 60, 80, [](int i) { return gfx::Rgba{0.2 * i, 0.5, 0.8, 1}; });
    // makeFlatBook stores its books in the library: move them out first.
    for (const char* n : {"One.cbz", "Two.cbz"}) fs::rename(docs() + "/" + n, outside.file(n));
    std::ofstream(outside.file("notes.txt")) << "notes";
    std::ofstream(outside.file("Broken.cbz")) << "PK\x03\x04 not a zip at all";
    ASSERT_TRUE(launch());
    program->delegate()->openDroppedFiles(
        {outside.file("One.cbz"), outside.file("Broken.cbz"), outside.file("notes.txt"), outside.file("Two.cbz")});
    play("wait 2\nshot dropped\n");
    EXPECT_TRUE(fs::exists(docs() + "/One.cbz"));
    EXPECT_TRUE(fs::exists(docs() + "/Two.cbz"));
    EXPECT_FALSE(fs::exists(docs() + "/notes.txt"));
    EXPECT_FALSE(fs::exists(docs() + "/Broken.cbz")) << "a book that does not open was copied in";
    EXPECT_TRUE(fs::exists(outside.file("One.cbz"))) << "copied, never moved";
    ASSERT_TRUE(viewer());
    EXPECT_EQ(viewer()->fileName(), docs() + "/Two.cbz");
    // A message for each file not taken.
    std::vector<std::string> told;
    for (auto* n : ui::test::Driver(window()).findAllOf<QNNoticeView>())
        if (!n->isClosing()) told.push_back(n->titleLabel()->text() + ": " + n->messageLabel()->text());
    std::sort(told.begin(), told.end());
    play("alert 0\nwait 1\nalert 0\nwait 1\n");
    EXPECT_EQ(told, (std::vector<std::string>{"Broken.cbz: No viewable pages available.",
                                             "notes.txt: This file is not a book and was not added to the library."}));

    // A folder of pictures dropped is a book too, a folder without one is refused.
    fs::create_directories(outside.file("Scans"));
    fs::create_directories(outside.file("Empty"));
    for (const char* n : {"a.png", "b.png"}) {
        gfx::Canvas c(60, 80, 1.0);
        c.fillRect({0, 0, 60, 80}, gfx::Rgba{0.8, 0.3, 0.2, 1});
        ASSERT_TRUE(c.writePNG(outside.file(std::string("Scans/") + n)));
    }
    program->delegate()->openDroppedFiles({outside.file("Scans"), outside.file("Empty")});
    play("wait 2\n");
    ASSERT_TRUE(viewer());
    EXPECT_EQ(viewer()->fileName(), docs() + "/Scans/a.png");
    EXPECT_FALSE(fs::exists(docs() + "/Empty"));
    EXPECT_EQ(notice().first, "Empty");
}

// RAR books dropped (the last one handed over as a book given to the
// running program is) are tried on a worker: the window does not wait
// while UnRAR decodes elsewhere (the cover maker, a preload), and once it
// is free the good book comes in and opens, the broken one is refused.
TEST_F(HandedUrlProgramTest, DroppedRarBooksDoNotWaitForTheRarLibraryBusyElsewhere) {
    if (!test::haveProgram("rar")) GTEST_SKIP() << "no rar packer";
    test::TempDir outside("droppedrar");
    for (const char* n : {"01.png", "02.png"}) {
        gfx::Canvas c(60, 80, 1.0);
        c.fillRect({0, 0, 60, 80}, gfx::Rgba{0.3, 0.6, 0.2, 1});
        ASSERT_TRUE(c.writePNG(outside.file(n)));
    }
    ASSERT_EQ(test::shell("cd '" + outside.path() + "' && rar a -idq Plain.cbr 01.png 02.png >/dev/null 2>&1"), 0);
    std::ofstream(outside.file("Broken.cbr")) << "Rar! not a rar at all";
    ASSERT_TRUE(launch());
    // The library held as a decode holds it; let go once the drop has
    // answered (or, should the drop wait for it, after ten seconds).
    test::RarLibraryHold held;
    program->delegate()->openDroppedFiles({outside.file("Broken.cbr"), outside.file("Plain.cbr")});
    const bool opened = viewer() != nullptr;
    const std::string told = notice().first;
    held.release();
    EXPECT_FALSE(held.heldOut()) << "the drop waited for the library";
    EXPECT_FALSE(opened);
    EXPECT_EQ(told, "");
    play("wait 2\n");
    ASSERT_TRUE(viewer());
    EXPECT_EQ(viewer()->fileName(), docs() + "/Plain.cbr");
    EXPECT_FALSE(fs::exists(docs() + "/Broken.cbr"));
    EXPECT_EQ(notice().first, "Broken.cbr");
}

}  // namespace
