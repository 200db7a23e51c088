#include "LibraryTestSupport.h"

#include "foundation/ui/ColorDefine.h"
#include "foundation/ui/PopupMenuView.h"
#include "library/IncludeFolderSelectViewController.h"
#include "library/LibraryCommonToolbar.h"
#include "platform/graphics/PangoTextEngine.h"

#include <optional>
#include <tuple>
#include <vector>

using librarytest::LibraryTest;
using Picker = IncludeFolderSelectViewController;

namespace {

struct Choices : IncludeFolderSelectViewControllerDelegate {
    std::vector<std::tuple<std::optional<std::string>, bool>> got;
    void finishSelectIncludeFolder(const std::optional<std::string>& folder, ui::View* forView,
                                   bool isBookMarkded) override {
        EXPECT_TRUE(forView);
        got.emplace_back(folder, isBookMarkded);
    }
};

using librarytest::CountingServices;

class IncludeFolderSelectTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        book = join(documents(), "Omnibus.zip");
        touch(book);
    }
    void show(std::vector<std::string> folders) {
        auto root = std::make_shared<ui::ViewController>();
        nav = std::make_shared<ui::NavigationController>(root);
        window->setRootViewController(nav);
        driver->advance(0.5);
        picker = std::make_shared<Picker>(ui::TableViewStyle::Plain);
        picker->setSettings_(settings);
        picker->setFolderList_(std::move(folders));
        picker->setTargetFile_(book);
        picker->setDelegate(choices);
        nav->pushViewController(picker, true);
        driver->advance(1.0);
    }
    ui::TableViewCell* row(int n) { return picker->tableView()->cellForRowAtIndexPath({0, n}); }
    void choose(int n) { picker->tableViewDidSelectRowAtIndexPath(*picker->tableView(), {0, n}); }
    void savePosition(const std::string& folder) {
        ASSERT_TRUE(BookCommon::writeFilePageInfoWithFilename(book, 3, false, false, 0, false, 20, folder, false, false));
    }

    std::string book;
    std::shared_ptr<Choices> choices = std::make_shared<Choices>();
    std::shared_ptr<ui::NavigationController> nav;
    std::shared_ptr<Picker> picker;
};

TEST(IncludeFolderRows, LastComponentOverItsParentPath) {
    EXPECT_EQ(Picker::rowTitleForFolder("Vol 1", false), "Vol 1");
    EXPECT_EQ(Picker::rowSubtitleForFolder("Vol 1"), "/");
    EXPECT_EQ(Picker::rowTitleForFolder("Series/Arc/[Group] Chapter 2", false), "[Group] Chapter 2");
    EXPECT_EQ(Picker::rowTitleForFolder("Series/Arc/[Group] Chapter 2", true), "Chapter 2");
    EXPECT_EQ(Picker::rowSubtitleForFolder("Series/Arc/[Group] Chapter 2"), "Series/Arc/");
}

TEST_F(IncludeFolderSelectTest, FirstRowIsTheWholeBookThenOneRowPerFolder) {
    settings->setValueForKey("isOptimizeFilename", sys::PlistValue(false));
    show({"Vol 1", "Extras/[Group] Sketches"});
    EXPECT_EQ(picker->title(), "Select a folder");
    ASSERT_EQ(picker->tableViewNumberOfRowsInSection(*picker->tableView(), 0), 3);
    ASSERT_TRUE(row(0) && row(1) && row(2));
    EXPECT_EQ(row(0)->textLabel()->text(), "No specific folder");
    EXPECT_EQ(row(0)->detailTextLabel()->text(), "/");
    EXPECT_EQ(row(0)->textLabel()->textColor(), ColorDefine::blueTextColor());
    EXPECT_EQ(row(1)->textLabel()->text(), "Vol 1");
    EXPECT_EQ(row(2)->textLabel()->text(), "[Group] Sketches");
    EXPECT_EQ(row(2)->detailTextLabel()->text(), "Extras/");
    EXPECT_EQ(row(2)->textLabel()->textColor(), ColorDefine::label());
    EXPECT_FALSE(nav->isToolbarHidden());

    // Shortened titles follow the setting.
    settings->setValueForKey("isOptimizeFilename", sys::PlistValue(true));
    picker->tableView()->reloadData();
    driver->advance(0.1);
    EXPECT_EQ(row(2)->textLabel()->text(), "Sketches");
}

TEST_F(IncludeFolderSelectTest, WithoutASavedPositionNothingIsMarkedAndEveryChoiceStartsFresh) {
    show({"A", "B"});
    EXPECT_EQ(picker->bookMarkFolder_(), -1);
    for (int n = 1; n <= 2; ++n) EXPECT_EQ(row(n)->backgroundColor(), ColorDefine::background());
    choose(0);
    choose(1);
    choose(2);
    ASSERT_EQ(choices->got.size(), 3u);
    EXPECT_EQ(choices->got[0], std::make_tuple(std::optional<std::string>(), false));
    EXPECT_EQ(choices->got[1], std::make_tuple(std::optional<std::string>("A"), false));
    EXPECT_EQ(choices->got[2], std::make_tuple(std::optional<std::string>("B"), false));
    // The screen stays: the one who asked decides what comes next.
    EXPECT_EQ(nav->topViewController(), picker.get());
}

TEST_F(IncludeFolderSelectTest, TheFolderLastReadIsMarkedAndResumes) {
    // Real text for the snapshot.
    textScope.reset();
    textScope = std::make_unique<gfx::TextEngine::Scope>(std::make_shared<gfx::PangoTextEngine>());
    savePosition("Part 2/Chapter 5");
    show({"Part 1/Chapter 1", "Part 2/Chapter 5", "Part 2/Chapter 6"});
    EXPECT_EQ(picker->bookMarkFolder_(), 1);
    EXPECT_EQ(row(2)->backgroundColor(), ColorDefine::selectedBookBackground());
    EXPECT_EQ(row(1)->backgroundColor(), ColorDefine::background());
    EXPECT_EQ(row(3)->backgroundColor(), ColorDefine::background());
    choose(2);
    choose(3);
    ASSERT_EQ(choices->got.size(), 2u);
    EXPECT_EQ(choices->got[0], std::make_tuple(std::optional<std::string>("Part 2/Chapter 5"), true));
    EXPECT_EQ(choices->got[1], std::make_tuple(std::optional<std::string>("Part 2/Chapter 6"), false));
    ASSERT_TRUE(window->snapshot(snapshotPath("include-folder-select.png")));
}

TEST_F(IncludeFolderSelectTest, TheMarkIsWorkedOutAgainOnEveryAppearance) {
    savePosition("B");
    show({"A", "B", "C"});
    EXPECT_EQ(picker->bookMarkFolder_(), 1);
    auto cover = std::make_shared<ui::ViewController>();

    // Reading moved on to C meanwhile.
    nav->pushViewController(cover, false);
    savePosition("C");
    nav->popViewController(false);
    driver->advance(0.5);
    EXPECT_EQ(picker->bookMarkFolder_(), 2);
    EXPECT_EQ(row(3)->backgroundColor(), ColorDefine::selectedBookBackground());
    EXPECT_EQ(row(2)->backgroundColor(), ColorDefine::background());

    // A saved folder that is no longer listed keeps the mark found before.
    nav->pushViewController(cover, false);
    savePosition("Gone");
    nav->popViewController(false);
    driver->advance(0.5);
    EXPECT_EQ(picker->bookMarkFolder_(), 2);
}

TEST_F(IncludeFolderSelectTest, ToolBarMenuAndSettingsNeverOpenTogether) {
    auto services = std::make_shared<CountingServices>();
    LibraryServices::install(services);
    show({"A"});
    ASSERT_FALSE(picker->toolbarItems().empty());

    picker->toolbar()->onPopupMenu();
    ASSERT_TRUE(picker->popUpMenu_());
    ASSERT_EQ(picker->popUpMenu_()->itemList().size(), 3u);
    EXPECT_EQ(picker->popUpMenu_()->itemList()[0]->label()->text(), "About");
    EXPECT_EQ(picker->popUpMenu_()->itemList()[1]->label()->text(), "Home");
    EXPECT_EQ(picker->popUpMenu_()->itemList()[2]->label()->text(), "Starting the MediaServer");
    EXPECT_FALSE(nav->isInteractivePopEnabled());
    picker->toolbar()->onPopupMenu();  // a second tap makes no second menu
    picker->toolbar()->onSettingsBtn();
    EXPECT_EQ(services->settingsScreens, 0);
    EXPECT_EQ(nav->topViewController(), picker.get());

    // Escape closes the menu, not the screen under it; with none open
    // Settings opens.
    EXPECT_TRUE(driver->key(ui::KeyInput::escape));
    driver->advance(1.0);
    EXPECT_FALSE(picker->popUpMenu_());
    EXPECT_EQ(nav->topViewController(), picker.get());
    EXPECT_TRUE(nav->isInteractivePopEnabled());
    picker->toolbar()->onSettingsBtn();
    driver->advance(1.0);
    EXPECT_EQ(services->settingsScreens, 1);
    nav->popViewController(false);
    driver->advance(0.5);

    // Home goes back to the root screen.
    picker->toolbar()->onGoHomeBtn();
    driver->advance(1.0);
    EXPECT_EQ(nav->viewControllers().size(), 1u);
}

TEST_F(IncludeFolderSelectTest, TheRotationLockButtonFlipsTheLockAndItsPicture) {
    show({"A"});
    const bool before = BookCommon::isSoftwareRotationLock();
    picker->toolbar()->onRotationLock();
    EXPECT_NE(BookCommon::isSoftwareRotationLock(), before);
    picker->toolbar()->onRotationLock();
    EXPECT_EQ(BookCommon::isSoftwareRotationLock(), before);
}

}  // namespace
