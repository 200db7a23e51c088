// The local list's secondary actions through the whole program: the
// first-start help over a nearly empty library, the temporary folder's name
// screen, a cloud shortcut renamed from its detail button, and a scan
// folder archived from the scan sheet.
#include <gtest/gtest.h>

#include "app/LeafbrightProgram.h"
#include "app/NestlarkAppDelegate.h"
#include "foundation/BookCommon.h"
#include "foundation/ui/TextInputViewController.h"
#include "library/LocalFilelistViewController.h"
#include "platform/core/PropertyList.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TestDriver.h"
#include "platform/ui/TextField.h"
#include "platform/ui/Window.h"
#include "tests/app/ProgramRun.h"
#include "tests/support/TestHome.h"

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

class LocalListActionsProgramTest : public ProgramRun {
protected:
    void SetUp() override {
        makeHome("localactions");
        markNotFirstRun();
    }
    void TearDown() override {
        if (home && fs::exists(home->file("shots"))) {
            const fs::path keep = fs::path(::test::workDir()) / "snapshots";
            fs::create_directories(keep);
            for (const auto& e : fs::directory_iterator(home->file("shots")))
                fs::copy_file(e.path(), keep / ("program-" + e.path().filename().string()),
                              fs::copy_options::overwrite_existing);
        }
        ProgramRun::TearDown();
    }
    void play(const std::string& script) {
        std::string error;
        ASSERT_EQ(program->playScript(script, &error), 0) << error;
    }
    ui::NavigationController* nav() const { return program->delegate()->navigationController().get(); }
    LocalFilelistViewController* list() const { return dynamic_cast<LocalFilelistViewController*>(nav()->topViewController()); }
    ui::Window& window() const { return *program->delegate()->window(); }
    void typeName(const std::string& name) {
        auto* input = dynamic_cast<TextInputViewController*>(nav()->topViewController());
        ASSERT_TRUE(input);
        input->textField_()->setText(name);
        input->textFieldDidEnd(*input->textField_());
        play("wait 1\n");
    }
};

TEST_F(LocalListActionsProgramTest, HelpTemporaryFolderNameCloudShortcutAndScanFolderArchive) {
    // A first start: nothing but the sample book, and the help over it.
    ASSERT_TRUE(launch());
    play("wait 1\nshot first-start-help\n");
    ASSERT_TRUE(list());
    ui::test::Driver driver(window());
    ASSERT_TRUE(list()->initialHelpView());
    EXPECT_TRUE(driver.findByText("Welcome to Leafbright"));
    window().setUserInterfaceStyle(ui::UserInterfaceStyle::Dark);
    play("wait 0.5\nshot first-start-help-dark\n");
    window().setUserInterfaceStyle(ui::UserInterfaceStyle::Light);
    list()->onPopupMenu();
    play("wait 0.5\n");
    EXPECT_FALSE(list()->initialHelpView());
    stop();

    // Downloads, a cloud shortcut and a scan folder in the library.
    fs::create_directories(BookCommon::getBooksTempRoot());
    std::ofstream(BookCommon::getBooksTempRoot() + "/fetched.cbz") << "PK";
    ASSERT_TRUE(sys::PropertyList::writeFile(
        sys::PlistValue(sys::PlistDictionary{{"url", sys::PlistValue("box://acct/Comics/")},
                                             {"title", sys::PlistValue("Box comics")}}),
        docs() + "/Box comics.shortcut"));
    fs::create_directories(docs() + "/Scan1");
    ASSERT_TRUE(sys::PropertyList::writeFile(sys::PlistValue(sys::PlistDictionary{}), docs() + "/Scan1/.scan.lbs"));
    for (const char* p : {"0001.jpg", "0002.jpg"}) std::ofstream(docs() + "/Scan1/" + p) << "scanned " << p;
    ASSERT_TRUE(launch());
    // The new run has a window of its own: the first run's driver is done.
    ui::test::Driver again(window());
    play("wait 1\n");
    ASSERT_TRUE(list());
    list()->setFileListViewMode(0);
    list()->tableView()->reloadData();
    play("wait 0.5\n");

    // The temporary folder's detail: its shown name.
    auto indexOf = [&](const std::string& pathFromBooks) {
        const auto& items = list()->itemList();
        for (size_t i = 0; i < items.size(); ++i)
            if (items[i]->pathFromBooks() == pathFromBooks) return int64_t(i);
        return int64_t(-1);
    };
    ASSERT_GE(indexOf("*"), 0);
    list()->didSelectDetailBtn(indexOf("*"));
    play("wait 1\nshot temporary-folder-name\n");
    typeName("Arrivals");
    EXPECT_EQ(BookCommon::getTempFolderName(), "Arrivals");
    play("wait 1\n");
    EXPECT_TRUE(again.findByText("Arrivals (1)"));

    // The cloud shortcut's detail: its name.
    ASSERT_GE(indexOf("Box comics.shortcut"), 0);
    list()->didSelectDetailBtn(indexOf("Box comics.shortcut"));
    play("wait 1\nshot cloud-shortcut-name\n");
    typeName("Cloud shelf");
    EXPECT_TRUE(fs::exists(docs() + "/Cloud shelf.shortcut"));
    EXPECT_FALSE(fs::exists(docs() + "/Box comics.shortcut"));

    // The scan folder: Archive This Folder from the scan sheet.
    play("tap \"Scan1\"\nwait 1\n");
    ASSERT_TRUE(list());
    EXPECT_EQ(list()->pathFromBooks(), "Scan1");
    list()->onScanBtn(nullptr);
    play("wait 0.5\nshot scan-sheet\ntap \"Archive This Folder\"\nwait 1\nshot archive-created\n");
    EXPECT_TRUE(again.findByText("Archive File Created"));
    EXPECT_TRUE(fs::exists(docs() + "/Scan1.zip"));
    play("tap \"OK\"\nback\nwait 1\n");
    EXPECT_TRUE(again.findByText("Scan1.zip") || again.findByText("Scan1"));
}

}  // namespace
