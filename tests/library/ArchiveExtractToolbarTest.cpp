// The archive extract screen carries the library's common tool bar: its
// popup menu (About, Home, the media server), Settings only while no popup is
// open, the rotation lock, and the popup closing on Escape and when the screen
// goes or turns.
#include "LibraryTestSupport.h"

#include "foundation/ui/PopupMenuView.h"
#include "library/ArchiveExtractViewController.h"
#include "library/LibraryCommonToolbar.h"
#include "platform/ui/BarButtonItem.h"

using librarytest::LibraryTest;

namespace {

using librarytest::CountingServices;

class ArchiveExtractToolbarTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        LibraryServices::install(services);
        auto root = std::make_shared<ui::ViewController>();
        nav = std::make_shared<ui::NavigationController>(root);
        window->setRootViewController(nav);
        driver->advance(0.5);
        screen = std::make_shared<ArchiveExtractViewController>();
        screen->setArchiveFile_(join(documents(), "outer.zip"));
        screen->setPreFileListArray_({"inner.cbz", "pages/01.jpg"});
        screen->setSettings_(settings);
        nav->pushViewController(screen, true);
        driver->advance(1.0);
    }
    void TearDown() override {
        LibraryServices::install(nullptr);
        LibraryTest::TearDown();
    }
    LibraryCommonToolbar& bar() { return *screen->toolbar(); }
    PopupMenuView* popup() { return bar().popUpMenu(); }

    std::shared_ptr<CountingServices> services = std::make_shared<CountingServices>();
    std::shared_ptr<ui::NavigationController> nav;
    std::shared_ptr<ArchiveExtractViewController> screen;
};

TEST_F(ArchiveExtractToolbarTest, TheMenuOpensOnceAndItsEntriesLeadWhereTheListsDo) {
    ASSERT_TRUE(screen->toolbar());
    ASSERT_FALSE(screen->toolbarItems().empty()) << "no tool bar once the screen is up";
    EXPECT_FALSE(nav->isToolbarHidden());

    bar().onPopupMenu();
    ASSERT_TRUE(popup());
    ASSERT_EQ(popup()->itemList().size(), 3u);
    EXPECT_EQ(popup()->itemList()[0]->label()->text(), "About");
    EXPECT_EQ(popup()->itemList()[1]->label()->text(), "Home");
    EXPECT_EQ(popup()->itemList()[2]->label()->text(), "Starting the MediaServer");
    EXPECT_FALSE(nav->isInteractivePopEnabled()) << "a swipe back under the menu";
    PopupMenuView* first = popup();
    bar().onPopupMenu();
    EXPECT_EQ(popup(), first) << "a second tap made a second menu";
    // Settings wait until the menu is closed.
    bar().onSettingsBtn();
    driver->advance(1.0);
    EXPECT_EQ(services->settingsScreens, 0);
    EXPECT_EQ(nav->topViewController(), screen.get());

    // The media server entry: the menu closes and the screen is pushed.
    bar().onRemovePopup();
    EXPECT_TRUE(nav->isInteractivePopEnabled());
    bar().onMediaServerBtn();
    driver->advance(1.0);
    EXPECT_EQ(services->mediaScreens, 1);
    nav->popViewController(false);
    driver->advance(0.5);

    bar().onSettingsBtn();
    driver->advance(1.0);
    EXPECT_EQ(services->settingsScreens, 1);
    nav->popViewController(false);
    driver->advance(0.5);

    bar().onAboutBtn();
    driver->advance(1.0);
    EXPECT_NE(nav->topViewController(), screen.get());
    nav->popViewController(false);
    driver->advance(0.5);

    // Home goes back to the library's root.
    bar().onGoHomeBtn();
    driver->advance(1.0);
    EXPECT_EQ(nav->viewControllers().size(), 1u);
    EXPECT_FALSE(popup());
}

TEST_F(ArchiveExtractToolbarTest, TheMenuClosesWhenTheScreenGoesOrTurns) {
    bar().onPopupMenu();
    ASSERT_TRUE(popup());
    ASSERT_TRUE(window->rotate(ui::InterfaceOrientation::LandscapeLeft));
    driver->advance(1.0);
    EXPECT_FALSE(popup()) << "the menu stayed at the old size";
    EXPECT_TRUE(nav->isInteractivePopEnabled());

    // Escape closes the menu, not the screen under it.
    bar().onPopupMenu();
    ASSERT_TRUE(popup());
    EXPECT_TRUE(driver->key(ui::KeyInput::escape));
    driver->advance(1.0);
    EXPECT_FALSE(popup()) << "Escape left the menu open";
    EXPECT_EQ(nav->topViewController(), screen.get()) << "Escape went back under the menu";

    bar().onPopupMenu();
    ASSERT_TRUE(popup());
    nav->popViewController(false);
    driver->advance(1.0);
    EXPECT_FALSE(popup()) << "the menu outlived its screen";
}

TEST_F(ArchiveExtractToolbarTest, TheRotationLockButtonFlipsTheLockAndRebuildsTheBar) {
    const bool before = BookCommon::isSoftwareRotationLock();
    const auto itemsBefore = screen->toolbarItems();
    bar().onRotationLock();
    EXPECT_NE(BookCommon::isSoftwareRotationLock(), before);
    EXPECT_NE(screen->toolbarItems(), itemsBefore) << "the button still shows the old state";
    bar().onRotationLock();
    EXPECT_EQ(BookCommon::isSoftwareRotationLock(), before);
}

}  // namespace
