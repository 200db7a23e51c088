// The whole program on the virtual clock, driven by its own script steps as a
// user would drive it: books made by the zip tool and a folder of pictures are
// opened from the library, read, closed and reopened, and the list's rows
// follow the reading; a restart takes the reader back to the open book.
#include <gtest/gtest.h>

#include "app/LeafbrightProgram.h"
#include "app/NestlarkAppDelegate.h"
#include "app/SampleBook.h"
#include "engine/BookReaderEx.h"
#include "foundation/BookCommon.h"
#include "foundation/HistoryCollector.h"
#include "foundation/LastStatusRestore.h"
#include "foundation/StatisticsStore.h"
#include "library/ArchivePasswordViewController.h"
#include "library/FilelistBaseViewItemListModeCell.h"
#include "library/LocalFilelistViewController.h"
#include "platform/core/AppPaths.h"
#include "platform/core/Clock.h"
#include "platform/core/FileManager.h"
#include "platform/core/Keychain.h"
#include "platform/core/PropertyList.h"
#include "platform/core/RunLoop.h"
#include "platform/core/UserDefaults.h"
#include "platform/graphics/Canvas.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/Application.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TestDriver.h"
#include "platform/ui/Window.h"
#include "tests/app/ProgramRun.h"
#include "tests/support/PictureDecodeWatch.h"
#include "tests/support/TestHome.h"
#include "viewer/BookViewController.h"

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

void writePng(const std::string& path, int n) {
    gfx::Canvas c(90, 120, 1.0);
    c.fillRect({0, 0, 90, 120}, gfx::Rgba{0.12 * n, 0.4, 1.0 - 0.12 * n, 1});
    fs::create_directories(fs::path(path).parent_path());
    ASSERT_TRUE(c.writePNG(path));
}

class BookOpeningProgramTest : public ProgramRun {
protected:
    void SetUp() override {
        if (!test::haveProgram("zip")) GTEST_SKIP() << "no zip";
        makeHome("openhome");
        src = std::make_unique<test::TempDir>("openpages");
        markNotFirstRun();
    }

    // A zip in the library made by the zip tool from pictures made for it.
    void makeZip(const std::string& name, int pages, const std::string& password = "",
                 const std::string& extra = "") {
        std::string list;
        for (int i = 1; i <= pages; ++i) {
            const std::string page = "p" + std::to_string(i) + ".png";
            writePng(src->file(page), i);
            list += " " + page;
        }
        const std::string pw = password.empty() ? "" : " -P '" + password + "'";
        ASSERT_EQ(test::shell("cd '" + src->path() + "' && zip -q -X" + pw + " '" + docs() + "/" + name + "'" + list +
                              " " + extra + " >/dev/null 2>&1"),
                  0);
    }

    bool start() { return launch(); }
    void play(const std::string& script) {
        std::string error;
        ASSERT_EQ(program->playScript(script, &error), 0) << error;
    }
    ui::NavigationController* nav() const { return program->delegate()->navigationController().get(); }
    BookViewController* viewer() const { return dynamic_cast<BookViewController*>(nav()->topViewController()); }
    LocalFilelistViewController* list() const {
        return dynamic_cast<LocalFilelistViewController*>(nav()->topViewController());
    }
    ui::AlertController* sheet() const {
        ui::ViewController* vc = nav();
        while (vc && vc->presentedViewController()) vc = vc->presentedViewController();
        return dynamic_cast<ui::AlertController*>(vc);
    }
    std::vector<std::string> sheetTitles() const {
        std::vector<std::string> out;
        if (auto* s = sheet())
            for (const auto& a : s->actions()) out.push_back(a->title());
        return out;
    }
    // The list row showing `name`, as drawn now.
    FilelistBaseViewItemListModeCell* row(const std::string& name) const {
        ui::test::Driver d(*program->delegate()->window());
        for (auto* cell : d.findAllOf<FilelistBaseViewItemListModeCell>())
            if (cell->filenameLabel()->text() == name) return cell;
        return nullptr;
    }

    std::unique_ptr<test::TempDir> src;
};

TEST_F(BookOpeningProgramTest, ReadCloseAndResumeABookThenARestartTakesTheReaderBack) {
    makeZip("Zed.cbz", 2);
    makeZip("Story.cbz", 6);
    ASSERT_TRUE(start());
    ASSERT_TRUE(row("Story"));
    ASSERT_TRUE(row("Zed"));
    EXPECT_EQ(row("Story")->pageLabel()->text(), "");

    // First open: there is nothing to resume.
    play("tap \"Story\"\nwait 1\n");
    EXPECT_EQ(sheetTitles(), (std::vector<std::string>{"Read the first page", "Cancel"}));
    // The script's back answers the sheet as Escape does, so the row opens
    // again; right after the sheet's button it waits for the book coming in
    // and closes it, rather than being refused while the sheet goes.
    play("back\nwait 1\n");
    EXPECT_TRUE(sheetTitles().empty());
    play("tap \"Story\"\nsheet 0\nback\nwait 1\n");
    EXPECT_FALSE(viewer()) << "the book stayed open";
    play("tap \"Story\"\nwait 1\n");
    EXPECT_EQ(sheetTitles(), (std::vector<std::string>{"Read the first page", "Cancel"}));
    play("sheet 0\nwait 2\nkey space\nwait 1\nkey space\nwait 1\n");
    ASSERT_TRUE(viewer());
    EXPECT_EQ(viewer()->page(), 2);
    // A book deleted from outside meanwhile is gone from the list on return.
    fs::remove(docs() + "/Zed.cbz");
    play("shot reading\nback\nwait 2\nshot after-reading\n");
    ASSERT_TRUE(list());
    EXPECT_FALSE(row("Zed"));
    ASSERT_TRUE(row("Story"));
    EXPECT_EQ(row("Story")->pageLabel()->text(), "3/6");
    EXPECT_TRUE(list()->itemList()[0]->isLastReadingFile());

    // Second open resumes where reading stopped.
    play("tap \"Story\"\nwait 1\n");
    EXPECT_EQ(sheetTitles(), (std::vector<std::string>{"Resume(From page 3)", "Read the first page", "Cancel"}));
    play("sheet 0\nwait 2\nkey space\nwait 1\n");
    ASSERT_TRUE(viewer());
    EXPECT_EQ(viewer()->page(), 3);

    // The program ends while the book is open; the next start offers it again.
    stop();
    ASSERT_TRUE(start());
    EXPECT_EQ(sheetTitles(), (std::vector<std::string>{"Yes", "No"}));
    play("sheet 0\nwait 2\nshot restarted\n");
    ASSERT_TRUE(viewer());
    EXPECT_EQ(viewer()->fileName(), docs() + "/Story.cbz");
    EXPECT_EQ(viewer()->page(), 3);
}

TEST_F(BookOpeningProgramTest, AnEncryptedZipOpensWithTheRightPassword) {
    makeZip("Locked.cbz", 3, "open sesame");
    ASSERT_TRUE(start());
    // The sheet's button pressed while it still slides in is taken once it is
    // in; pressed again, the step fails rather than doing nothing.
    std::string error;
    EXPECT_NE(program->playScript("tap \"Locked\"\nsheet 0\nsheet 0\n", &error), 0);
    EXPECT_NE(error.find("button 0 was not taken"), std::string::npos) << error;
    play("wait 2\n");
    auto* ask = dynamic_cast<ArchivePasswordViewController*>(nav()->topViewController());
    ASSERT_TRUE(ask);
    // What is typed shows as dots.
    play("type nope\nwait 0.1\nshot password-typed\n");
    ASSERT_TRUE(ask->textField_());
    EXPECT_EQ(ask->textField_()->text(), "nope");
    EXPECT_EQ(ask->textField_()->displayText().find("nope"), std::string::npos) << "the password shows as typed";
    EXPECT_EQ(ask->textField_()->displayText(), "\u2022\u2022\u2022\u2022");
    play("key return\nwait 2\n");
    ask = dynamic_cast<ArchivePasswordViewController*>(nav()->topViewController());
    ASSERT_TRUE(ask);
    EXPECT_EQ(ask->label_()->text(), "The password you entered is incorrect.");
    // Asked again, the screen has no tool bar, as the first time.
    EXPECT_TRUE(nav()->isToolbarHidden()) << "the library's tool bar stays under the password screen";
    play("type open sesame\nkey return\nwait 2\nshot encrypted-open\n");
    ASSERT_TRUE(viewer());
    EXPECT_EQ(viewer()->bookReader()->getPageNum(), 3);
}

// However a book is opened (the sheet's first page, a plain tap, the next
// book from the reader, a book handed over while the library is up, the
// resume after a restart), its pages are decoded on workers, the reading
// screen's loading indicator up meanwhile: a large picture never holds the
// window.
TEST_F(BookOpeningProgramTest, NoPageIsDecodedOnTheMainThreadHoweverABookIsOpened) {
    makeZip("Alpha.cbz", 2);
    makeZip("Beta.cbz", 2);
    makeZip("Given.cbz", 1);
    ASSERT_TRUE(sys::FileManager::moveItem(docs() + "/Given.cbz", src->file("Given.cbz")));
    test::PictureDecodeWatch decodes;
    ASSERT_TRUE(start());
    auto shown = [this](const std::string& name) {
        return viewer() && viewer()->fileName() == docs() + "/" + name && !viewer()->isFirstViewLoading() &&
               viewer()->bookReader()->loadedPage() && viewer()->bookReader()->loadedPage()->image;
    };

    play("tap \"Alpha\"\nwait 1\nsheet 0\nwait 2\n");
    EXPECT_TRUE(shown("Alpha.cbz")) << "the sheet's first page";
    play("key space\nwait 1\n");
    ASSERT_TRUE(viewer());
    viewer()->goNextBook();
    play("wait 2\n");
    EXPECT_TRUE(shown("Beta.cbz")) << "the next book";
    play("back\nwait 2\n");

    ASSERT_TRUE(program->delegate()->openURL(LeafbrightProgram::targetURL(src->file("Given.cbz"))));
    play("wait 2\n");
    EXPECT_TRUE(shown("Given.cbz")) << "a book handed over";

    // The program ends with the book open and starts again with the sheet
    // never shown: the restart's question, then a plain tap.
    stop();
    writeGlobalSettings(sys::PlistDictionary{{"showBookOpenActionSelect", sys::PlistValue("never")}});
    ASSERT_TRUE(start());
    play("sheet 0\nwait 2\n");
    EXPECT_TRUE(shown("Given.cbz")) << "the book read when the program ended";
    play("back\nwait 2\ntap \"Alpha\"\nwait 2\n");
    EXPECT_TRUE(shown("Alpha.cbz")) << "a plain tap";

    EXPECT_GE(decodes.started(), 4);
    EXPECT_EQ(decodes.onMainThread(), 0) << "a page was decoded on the main thread";
}

TEST_F(BookOpeningProgramTest, AZipInsideAZipIsAskedAboutAndAFolderBookOpensAtThePictureTapped) {
    writePng(src->file("inner/i1.png"), 1);
    ASSERT_EQ(test::shell("cd '" + src->path() + "/inner' && zip -q -X ../inner.zip i1.png"), 0);
    makeZip("Bundle.zip", 2, "", "inner.zip");
    for (int i = 1; i <= 3; ++i) writePng(docs() + "/Sketches/0" + std::to_string(i) + ".png", i + 3);
    ASSERT_TRUE(start());
    play("tap \"Bundle\"\nwait 1\nsheet 0\nwait 2\n");
    ASSERT_TRUE(sheet());
    EXPECT_EQ(sheet()->alertTitle(), "This file includes another archive. Do you want to extract it?");
    play("shot inner-archive\nsheet 1\nwait 2\n");
    ASSERT_TRUE(viewer());
    EXPECT_EQ(viewer()->bookReader()->getPageNum(), 2);
    play("back\nwait 2\n");

    play("tap \"Sketches\"\nwait 2\ntap \"02.png\"\nwait 1\n");
    EXPECT_EQ(sheetTitles(), (std::vector<std::string>{"Open Selected Image", "Save to Pictures", "Cancel"}));
    play("sheet 0\nwait 2\n");
    ASSERT_TRUE(viewer());
    EXPECT_EQ(viewer()->bookReader()->getPageNum(), 3);
    EXPECT_EQ(viewer()->page(), 1);
    // The window names the book by its folder, not by the picture read.
    EXPECT_EQ(program->windowTitle(), "Sketches \u2014 2/3");
    play("back\nwait 2\n");
    ASSERT_TRUE(list());
    EXPECT_EQ(list()->pathFromBooks(), "Sketches");
}

// A 7z book read on screen gets its small page pictures for the preview
// strip and the seek preview: the page cache builder takes the pages the
// screen's reader has extracted.
TEST_F(BookOpeningProgramTest, ASevenZipBookGetsItsPagePictures) {
    if (!test::haveProgram("7z")) GTEST_SKIP() << "no 7z";
    std::string list;
    for (int i = 1; i <= 5; ++i) {
        writePng(src->file("s" + std::to_string(i) + ".png"), i);
        list += " s" + std::to_string(i) + ".png";
    }
    ASSERT_EQ(test::shell("cd '" + src->path() + "' && 7z a -t7z -ms=on '" + docs() + "/Seven.cb7'" + list +
                          " >/dev/null 2>&1"),
              0);
    ASSERT_TRUE(start());
    play("tap \"Seven\"\nwait 1\nsheet 0\nwait 1\n");
    // The solid archive's question first.
    play("alert 0\nwait 2\n");
    ASSERT_TRUE(viewer());
    const std::string cache = BookCommon::getBookCacheDir(docs() + "/Seven.cb7", false);
    for (int i = 0; i < 20 && !fs::exists(cache + "/cache.complete"); ++i) play("wait 1\n");
    for (int i = 1; i <= 5; ++i) EXPECT_TRUE(fs::exists(cache + "/s" + std::to_string(i) + ".png.jpg")) << i;
    EXPECT_TRUE(fs::exists(cache + "/cache.complete"));
    play(tapMiddle() + "wait 1\nshot seven-menu\n");
}

}  // namespace
