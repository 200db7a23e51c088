// The library edited through the whole program as a user would: a new
// folder, books moved into it, a book renamed from its file information,
// covers dragged into a user order that a restart keeps, a folder locked and
// opened with its passcode, and an inner archive expanded and read.
#include <gtest/gtest.h>

#include "app/LeafbrightProgram.h"
#include "app/NestlarkAppDelegate.h"
#include "foundation/BookCommon.h"
#include "library/ArchiveExtractViewController.h"
#include "library/BookshelfBookButton.h"
#include "library/FileConfigViewController.h"
#include "library/FolderDetailViewControllerEx.h"
#include "library/LocalFilelistViewController.h"
#include "platform/core/AppPaths.h"
#include "platform/graphics/Canvas.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Switch.h"
#include "platform/ui/TestDriver.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/Window.h"
#include "tests/app/ProgramRun.h"
#include "tests/support/TestHome.h"
#include "viewer/BookViewController.h"

#include <algorithm>
#include <filesystem>

namespace {

namespace fs = std::filesystem;

class LibraryEditProgramTest : public ProgramRun, public ::testing::WithParamInterface<const char*> {
protected:
    void SetUp() override {
        device = GetParam();
        if (!test::haveProgram("zip")) GTEST_SKIP() << "no zip";
        makeHome("edithome");
        src = std::make_unique<test::TempDir>("editpages");
        markNotFirstRun();
    }
    void page(const std::string& name, int n) {
        gfx::Canvas c(90, 120, 1.0);
        c.fillRect({0, 0, 90, 120}, gfx::Rgba{0.2 * n, 0.5, 1.0 - 0.2 * n, 1});
        ASSERT_TRUE(c.writePNG(src->file(name)));
    }
    void makeZip(const std::string& target, int n, const std::string& extra = "") {
        page("p.png", n);
        ASSERT_EQ(test::shell("cd '" + src->path() + "' && zip -q -X '" + target + "' p.png " + extra + " >/dev/null"), 0);
    }
    void play(const std::string& script) {
        std::string error;
        ASSERT_EQ(program->playScript(script, &error), 0) << error;
    }
    ui::NavigationController* nav() const { return program->delegate()->navigationController().get(); }
    ui::ViewController* top() const { return nav()->topViewController(); }
    LocalFilelistViewController* list() const { return dynamic_cast<LocalFilelistViewController*>(top()); }
    std::string at(ui::Point p) const { return std::to_string(int(p.x)) + " " + std::to_string(int(p.y)); }
    // The middle of a view, in window points.
    static ui::Point centre(ui::View& v) { return v.convertPointToWindow({v.bounds().width() / 2, v.bounds().height() / 2}); }
    // The shelf cover of the entry shown as `name`.
    BookshelfBookButton* cover(const std::string& name) const {
        int64_t index = -1;
        const auto& items = list()->itemList();
        for (size_t i = 0; i < items.size(); ++i)
            if (items[i]->filename() == name || items[i]->filename() == name + ".cbz") index = int64_t(i);
        ui::test::Driver d(*program->delegate()->window());
        for (auto* b : d.findAllOf<BookshelfBookButton>())
            if (index >= 0 && b->indexNo() == index) return b;
        return nullptr;
    }
    std::vector<std::string> shownOrder() const {
        std::vector<std::string> out;
        for (const auto& i : list()->itemList()) out.push_back(i->filename().value_or("?"));
        return out;
    }

    // The pictures of the run, kept in the build's test folder to look at.
    void keepShots() {
        const fs::path to = fs::path(::test::workDir()) / "snapshots" / ("library-edit-" + device);
        fs::remove_all(to);
        fs::create_directories(to);
        for (const auto& e : fs::directory_iterator(home->file("shots"))) fs::copy(e.path(), to / e.path().filename());
    }

    std::unique_ptr<test::TempDir> src;
};

TEST_P(LibraryEditProgramTest, FolderMoveRenameReorderLockExpandAndFileInformation) {
    makeZip(docs() + "/Alpha.cbz", 1);
    makeZip(docs() + "/Beta.cbz", 2);
    makeZip(docs() + "/Gamma.cbz", 3);
    page("q.png", 4);
    ASSERT_EQ(test::shell("cd '" + src->path() + "' && zip -q -X inner.zip q.png"), 0);
    makeZip(docs() + "/Bundle.zip", 5, "inner.zip");
    ASSERT_TRUE(launch());
    ASSERT_TRUE(list());

    // A new folder, and two books moved into it through the folder picker.
    play("tap \"Edit\"\nwait 1\n");
    ASSERT_TRUE(list()->isEditMode());
    // The new-folder button is the tool bar's first.
    auto* bar = nav()->toolbar();
    ASSERT_FALSE(bar->items().empty());
    ui::View* newFolder = bar->viewForItem(bar->items().front().get());
    ASSERT_TRUE(newFolder);
    play("tap " + at(centre(*newFolder)) + "\nwait 1\nshot edit-new-folder\n");
    ASSERT_TRUE(fs::is_directory(docs() + "/Untitled Folder"));
    play("tap \"Alpha\"\ntap \"Beta\"\nshot edit-selected\ntap \"Move\"\nwait 1\nshot move-picker\n"
         "tap \"Untitled Folder\"\nwait 1\ntap \"Move to this folder\"\nwait 2\nshot moved\n");
    EXPECT_TRUE(fs::exists(docs() + "/Untitled Folder/Alpha.cbz"));
    EXPECT_TRUE(fs::exists(docs() + "/Untitled Folder/Beta.cbz"));
    ASSERT_TRUE(list());
    EXPECT_FALSE(list()->isEditMode());

    // The file information of a book (a long press on its cover), and a rename there.
    play("tap \"Bookshelf\"\nwait 1\n");
    ASSERT_TRUE(cover("Gamma"));
    const std::string gamma = at(centre(*cover("Gamma")));
    play("drag " + gamma + " " + gamma + "\nwait 1\nshot file-information\n");
    ASSERT_TRUE(dynamic_cast<FileConfigViewController*>(top()));
    play("tap \"Gamma.cbz\"\nwait 1\n");
    for (int i = 0; i < 5; ++i) play("key backspace\n");
    play("type Delta\nkey return\nwait 1\nshot renamed\n");
    EXPECT_TRUE(fs::exists(docs() + "/Delta.cbz"));
    EXPECT_FALSE(fs::exists(docs() + "/Gamma.cbz"));
    play("back\nwait 2\n");
    ASSERT_TRUE(list());
    // Nothing stays under the old name, in the library or in the caches;
    // the list shows the new one.
    for (const std::string& where : {docs(), sys::AppPaths::caches()})
        for (const auto& e : fs::recursive_directory_iterator(where))
            EXPECT_EQ(e.path().filename().string().find(".Gamma."), std::string::npos) << e.path();
    EXPECT_TRUE(cover("Delta"));

    // Dragging a cover forward in edit mode makes the user order.
    play("tap \"Edit\"\nwait 1\n");
    const std::vector<std::string> before = shownOrder();
    ASSERT_GE(before.size(), 3u);
    ASSERT_TRUE(cover(before[0]) && cover(before[2]));
    play("drag " + at(centre(*cover(before[0]))) + " " + at(centre(*cover(before[2]))) + "\nwait 1\nshot dragged\n");
    const std::vector<std::string> after = shownOrder();
    EXPECT_EQ(after[2], before[0]);
    EXPECT_EQ(after[0], before[1]);
    EXPECT_EQ(list()->sortMode(), 3);
    play("tap \"Done\"\nwait 1\n");
    stop();
    ASSERT_TRUE(launch());
    ASSERT_TRUE(list());
    EXPECT_EQ(shownOrder(), after);

    // Locking the folder from its information, then opening it with the passcode.
    ASSERT_TRUE(cover("Untitled Folder"));
    const std::string folder = at(centre(*cover("Untitled Folder")));
    play("drag " + folder + " " + folder + "\nwait 1\n");
    ASSERT_TRUE(dynamic_cast<FolderDetailViewControllerEx*>(top()));
    ui::View* lockSwitch = top()->view()->viewWithTag(FolderDetailViewControllerEx::kTagLockSwitch);
    ASSERT_TRUE(lockSwitch);
    play("tap " + at(centre(*lockSwitch)) + "\nwait 1\ntype 1234\nwait 1\nshot folder-locked\nback\nwait 2\n");
    ASSERT_TRUE(fs::is_directory(docs() + "/.lock_Untitled Folder"));
    EXPECT_TRUE(BookCommon::isFolderLocked(docs() + "/.lock_Untitled Folder"));
    play("tap \"Untitled Folder\"\nwait 1\nshot passcode\ntype 1234\nwait 2\nshot locked-open\n");
    ASSERT_TRUE(list());
    EXPECT_EQ(list()->pathFromBooks(), ".lock_Untitled Folder");
    EXPECT_EQ(list()->itemList().size(), 2u);
    play("back\nwait 1\n");

    // The inner archive: a tap on it expands it next to the book and opens
    // it as a tap on it in the library would (its sheet, then the page);
    // closed, the list of entries is back with it marked, and a second tap
    // opens the same copy. Back in the library, it is listed.
    play("tap \"List\"\nwait 1\ntap \"Bundle\"\nwait 1\nsheet 0\nwait 2\nsheet 0\nwait 2\nshot extract\n");
    auto* extract = dynamic_cast<ArchiveExtractViewController*>(top());
    ASSERT_TRUE(extract);
    auto sheet = [&]() -> ui::AlertController* {
        ui::ViewController* vc = nav();
        while (vc && vc->presentedViewController()) vc = vc->presentedViewController();
        return dynamic_cast<ui::AlertController*>(vc);
    };
    play("tap \"inner.zip\"\nwait 2\nshot extracted\n");
    EXPECT_TRUE(extract->isExtracted(0));
    EXPECT_TRUE(fs::exists(docs() + "/inner.zip"));
    ASSERT_TRUE(sheet()) << "the extracted book is not offered to read";
    EXPECT_EQ(sheet()->alertTitle().value_or(""), "inner.zip");
    play("sheet 0\nwait 2\nshot inner-read\n");
    auto* viewer = dynamic_cast<BookViewController*>(top());
    ASSERT_TRUE(viewer);
    EXPECT_EQ(viewer->fileName(), docs() + "/inner.zip");
    play("back\nwait 1\n");
    ASSERT_EQ(top(), extract);
    EXPECT_TRUE(extract->isExtracted(0));
    play("tap \"inner.zip\"\nwait 2\n");
    ASSERT_TRUE(sheet());
    EXPECT_EQ(sheet()->alertTitle().value_or(""), "inner.zip");
    EXPECT_FALSE(fs::exists(docs() + "/inner 2.zip")) << "extracted a second time";
    play("sheet 0\nwait 2\n");
    ASSERT_TRUE(dynamic_cast<BookViewController*>(top()));
    EXPECT_EQ(static_cast<BookViewController*>(top())->fileName(), docs() + "/inner.zip");
    play("back\nwait 1\nback\nwait 1\nshot library-after-extract\n");
    ASSERT_TRUE(list());
    const auto shown = shownOrder();
    EXPECT_NE(std::find(shown.begin(), shown.end(), "inner.zip"), shown.end())
        << "the library does not list the extracted book";
    keepShots();
}

INSTANTIATE_TEST_SUITE_P(Devices, LibraryEditProgramTest, ::testing::Values("phone", "pad", "desktop"));

}  // namespace
