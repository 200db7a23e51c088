// The whole program driven from a desktop keyboard: Escape closes or goes
// back from every screen and panel (the welcome page, the settings, the
// pass-code and password screens, the brightness panel, the transfer
// screens and the remote lists, the bookmark list), Return answers a
// page's or an alert's default button, and while an alert is up no key
// reaches the reading screen beneath it.
#include <gtest/gtest.h>

#include "app/LeafbrightProgram.h"
#include "app/NestlarkAppDelegate.h"
#include "foundation/FolderLockInfo.h"
#include "foundation/ui/QNAlertView.h"
#include "library/ArchivePasswordViewController.h"
#include "library/LocalFilelistViewController.h"
#include "platform/core/PropertyList.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Pasteboard.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/TestDriver.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/Window.h"
#include "remote/screens/RemoteFileListViewController.h"
#include "screens/PassCodeInputViewEx.h"
#include "screens/SettingViewControllerEx.h"
#include "tests/app/ProgramRun.h"
#include "tests/app/ProgramShot.h"
#include "tests/app/RemoteProgramServices.h"
#include "tests/support/TestHome.h"
#include "tests/support/net/NginxServer.h"
#include "viewer/BookViewController.h"
#include "viewer/BrightnessSetting.h"

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;
using programtest::kPage;
using programtest::toRgba;

class KeysProgramTest : public ProgramRun {
protected:
    void SetUp() override {
        if (!test::haveProgram("zip")) GTEST_SKIP() << "no zip";
        device = "desktop";
        makeHome("keys");
        src = std::make_unique<test::TempDir>("keyspages");
        programtest::registerRemoteServices();
    }
    void TearDown() override {
        BrightnessSetting::getBrightnessSetting()->resetForTesting();
        programtest::unregisterRemoteServices();
        keepShots("keys-");
        ProgramRun::TearDown();
    }
    ui::ViewController* presented() const {
        ui::ViewController* vc = window().rootViewController().get();
        ui::ViewController* top = nullptr;
        while (vc && vc->presentedViewController()) top = vc = vc->presentedViewController();
        return top;
    }
    template <class T>
    T* top() const {
        return nav() ? dynamic_cast<T*>(nav()->topViewController()) : nullptr;
    }
    LocalFilelistViewController* library() const { return top<LocalFilelistViewController>(); }
    ui::View* libraryToolButton(const char* imagePart) const {
        ui::Toolbar* bar = nav()->toolbar();
        if (!bar) return nullptr;
        for (const auto& item : bar->items())
            if (item->image() && item->image()->name().find(imagePart) != std::string::npos)
                return bar->viewForItem(item.get());
        return nullptr;
    }
    void openMenu() {
        play(tapMiddle() + "wait 1\n");
        ASSERT_TRUE(viewer() && viewer()->isOpenBar());
    }

    std::unique_ptr<test::TempDir> src;
};

TEST_F(KeysProgramTest, EscapeLeavesTheWelcomePageAndEveryLibraryScreen) {
    showStartScreens = true;
    fs::create_directories(docs() + "/Private");
    ASSERT_TRUE(FolderLockInfo::lockedWithPasscode("1234", false).writeToFolder(docs() + "/Private"));
    fs::create_directories(docs() + "/Comics");
    ASSERT_TRUE(launch());
    for (int i = 0; i < 30 && !program->delegate()->isStartScreenShown(); ++i) play("wait 0.1\n");
    ASSERT_TRUE(ui::test::Driver(window()).findByText("Close")) << "no welcome page";
    play("key escape\nwait 2\n");
    ASSERT_TRUE(library()) << "Escape did not close the welcome page";
    EXPECT_FALSE(ui::test::Driver(window()).findByText("Close"));

    // The popup menu closes first, on the root list and in a folder; then
    // a folder goes back to its parent.
    library()->onPopupMenu();
    play("wait 1\n");
    ASSERT_TRUE(library()->popUpMenuView());
    play("key escape\nwait 1\n");
    ASSERT_TRUE(library());
    EXPECT_FALSE(library()->popUpMenuView()) << "Escape left the root list's menu open";
    play("tap \"Comics\"\nwait 1\n");
    ASSERT_EQ(nav()->viewControllers().size(), 2u);
    library()->onPopupMenu();
    play("wait 1\nkey escape\nwait 1\n");
    ASSERT_EQ(nav()->viewControllers().size(), 2u) << "Escape left the folder under its menu";
    EXPECT_FALSE(library()->popUpMenuView());
    play("key escape\nwait 1\n");
    EXPECT_EQ(nav()->viewControllers().size(), 1u);

    // The settings go back to the library (and keep what was changed).
    library()->onSettingsBtn();
    play("wait 1\n");
    ASSERT_TRUE(top<SettingViewControllerEx>());
    play("key escape\nwait 1\n");
    EXPECT_TRUE(library()) << "Escape did not leave the settings";
    // Pressed while they still slide in, Escape is not lost.
    library()->onSettingsBtn();
    play("key escape\nwait 1\n");
    EXPECT_TRUE(library()) << "Escape pressed during the slide was lost";

    // The brightness panel closes.
    ui::View* brightness = libraryToolButton("brightness");
    ASSERT_TRUE(brightness);
    play("tap " + centreOf(*brightness) + "\nwait 1\n");
    ASSERT_TRUE(BrightnessSetting::getBrightnessSetting()->brightnessSettingView());
    play("key escape\nwait 1\n");
    EXPECT_FALSE(BrightnessSetting::getBrightnessSetting()->brightnessSettingView());

    // A locked folder's pass-code screen is cancelled: the folder stays shut.
    play("tap \"Private\"\nwait 1\n");
    ASSERT_TRUE(dynamic_cast<PassCodeInputViewEx*>(presented())) << "no pass-code screen";
    play("key escape\nwait 1\n");
    EXPECT_FALSE(presented());
    EXPECT_EQ(nav()->viewControllers().size(), 1u);

    // The transfer screens: a screen pushed in them goes back, their first
    // one closes them.
    library()->onDownLoadBtn();
    play("wait 1\ntap \"Add Site\"\nwait 1\n");
    ASSERT_TRUE(presented());
    auto* transfers = dynamic_cast<ui::NavigationController*>(presented());
    ASSERT_TRUE(transfers);
    ASSERT_EQ(transfers->viewControllers().size(), 2u);
    play("key escape\nwait 1\n");
    ASSERT_EQ(presented(), static_cast<ui::ViewController*>(transfers));
    EXPECT_EQ(transfers->viewControllers().size(), 1u);
    play("key escape\nwait 1\n");
    EXPECT_FALSE(presented()) << "Escape did not close the transfer screens";
}

TEST_F(KeysProgramTest, EscapeLeavesARemoteListAndTheBookPasswordScreen) {
    markNotFirstRun();
    test::TempDir www("keyswww");
    fs::create_directories(www.path() + "/comics/Series");
    std::ofstream(www.path() + "/comics/Series/a.txt") << "a";
    test::NginxServer nginx;
    nginx.setLocationConfig("autoindex on;");
    ASSERT_TRUE(nginx.start(www.path())) << nginx.lastError();
    ASSERT_TRUE(sys::PropertyList::writeFile(
        sys::PlistValue(sys::PlistDictionary{{"url", sys::PlistValue(nginx.url("/comics/"))},
                                             {"title", sys::PlistValue(std::string("Comics"))}}),
        docs() + "/Comics.shortcut"));
    // A zip locked with a password.
    gfx::Canvas c(60, 80, 1.0);
    c.fillRect({0, 0, 60, 80}, toRgba(kPage[0]));
    ASSERT_TRUE(c.writePNG(src->file("p1.png")));
    ASSERT_EQ(test::shell("cd '" + src->path() + "' && zip -q -X -P secret '" + docs() + "/Locked.cbz' p1.png"), 0);
    // The book before it by name.
    makeFlatBook(src->path(), "Key.cbz", 2, 60, 80, [](int i) { return toRgba(kPage[i]); });
    ASSERT_TRUE(launch());

    play("tap \"Comics\"\nwait 2\n");
    ASSERT_TRUE(top<RemoteFileListViewController>());
    play("tap \"Series\"\nwait 2\n");
    ASSERT_EQ(nav()->viewControllers().size(), 3u);
    // Its popup menu closes first: the list stays, not fetched again.
    top<RemoteFileListViewController>()->onPopupMenu();
    play("wait 1\n");
    ASSERT_TRUE(top<RemoteFileListViewController>()->popUpMenuView());
    play("key escape\nwait 1\n");
    ASSERT_EQ(nav()->viewControllers().size(), 3u) << "Escape left the list under its menu";
    EXPECT_FALSE(top<RemoteFileListViewController>()->popUpMenuView());
    play("key escape\nwait 1\n");
    EXPECT_EQ(nav()->viewControllers().size(), 2u);
    EXPECT_TRUE(top<RemoteFileListViewController>());
    play("key escape\nwait 1\n");
    EXPECT_TRUE(library()) << "Escape did not leave the remote list";

    play("tap \"Locked\"\nwait 1\nsheet 0\nwait 2\n");
    ASSERT_TRUE(top<ArchivePasswordViewController>());
    play("key escape\nwait 1\n");
    EXPECT_TRUE(library()) << "Escape did not leave the password screen";
    EXPECT_FALSE(viewer());

    // Reached from the book before it (the next book's key), the password
    // screen has its bar as from the library, and the library has it back.
    play("tap \"Key\"\nwait 1\nsheet 0\nwait 2\n");
    ASSERT_TRUE(viewer());
    ASSERT_TRUE(nav()->isNavigationBarHidden());
    play("key n\nwait 3\n");
    ASSERT_TRUE(top<ArchivePasswordViewController>()) << "the next book did not ask for its password";
    EXPECT_FALSE(nav()->isNavigationBarHidden()) << "the password screen has no bar";
    EXPECT_TRUE(ui::test::Driver(window()).findByText("Password"));
    play("key escape\nwait 1\n");
    ASSERT_TRUE(library());
    EXPECT_FALSE(nav()->isNavigationBarHidden()) << "the library came back without its bar";
    EXPECT_TRUE(ui::test::Driver(window()).findByText("Edit"));
}

TEST_F(KeysProgramTest, EscapeLeavesTheReadersPanelsAndNoKeyReachesItUnderAnAlert) {
    markNotFirstRun();
    makeFlatBook(src->path(), "Pages.cbz", 6, 300, 400, [](int i) { return toRgba(kPage[i % 6]); });
    writeGlobalSettings({{"isDoubleTruck", sys::PlistValue(false)}});
    ASSERT_TRUE(launch());
    play("tap \"Pages\"\nwait 1\nsheet 0\nwait 2\n");
    ASSERT_TRUE(viewer());

    // The bookmark list, from the menu: Escape closes it and the menu.
    openMenu();
    ui::View* list = menuBarItem([](const ui::BarButtonItem& i) { return i.systemItem() == ui::BarButtonSystemItem::Bookmarks; });
    ASSERT_TRUE(list);
    play("tap " + centreOf(*list) + "\nwait 1\n");
    ASSERT_TRUE(viewer()->bookMarkViewController());
    play("key escape\nwait 1\n");
    EXPECT_FALSE(presented()) << "Escape did not close the bookmark list";
    EXPECT_FALSE(viewer()->bookMarkViewController());
    EXPECT_FALSE(viewer()->isOpenBar());

    // The settings, from the menu: back to the page.
    openMenu();
    ui::View* settingsButton = menuBarItem([](const ui::BarButtonItem& i) { return named(i, "settings"); });
    ASSERT_TRUE(settingsButton);
    play("tap " + centreOf(*settingsButton) + "\nwait 1\n");
    ASSERT_TRUE(top<SettingViewControllerEx>());
    play("key escape\nwait 1\n");
    ASSERT_TRUE(viewer()) << "Escape did not leave the settings";
    // Pressed while they still slide in, Escape is not lost.
    openMenu();
    settingsButton = menuBarItem([](const ui::BarButtonItem& i) { return named(i, "settings"); });
    ASSERT_TRUE(settingsButton);
    play("tap " + centreOf(*settingsButton) + "\nkey escape\nwait 1\n");
    ASSERT_TRUE(viewer()) << "Escape pressed as the settings slid in was lost";

    // The brightness panel, from the menu.
    openMenu();
    ui::View* brightness = menuBarItem([](const ui::BarButtonItem& i) { return named(i, "brightness"); });
    ASSERT_TRUE(brightness);
    play("tap " + centreOf(*brightness) + "\nwait 1\n");
    ASSERT_TRUE(BrightnessSetting::getBrightnessSetting()->brightnessSettingView());
    play("key space\nwait 1\n");
    EXPECT_EQ(viewer()->page(), 0) << "a key under the panel turned the page";
    play("key escape\nwait 1\n");
    EXPECT_FALSE(BrightnessSetting::getBrightnessSetting()->brightnessSettingView());

    // An alert over the page (a link the system cannot open): the keys that
    // turn pages stay with it, Return answers its "OK".
    auto alert = std::make_shared<QNAlertView>("", "Error opening URL.", std::weak_ptr<QNAlertViewDelegate>(), "OK",
                                               std::vector<std::string>{});
    alert->show(viewer());
    play("wait 1\n");
    auto shown = [&] { return ui::test::Driver(window()).findByText("Error opening URL.") != nullptr; };
    ASSERT_TRUE(shown());
    play("key space\nwait 1\nkey right\nwait 1\nkey pagedown\nwait 1\nkey n\nwait 1\n");
    EXPECT_EQ(viewer()->page(), 0) << "a key under the alert turned the page";
    ASSERT_TRUE(shown());
    play("key return\nwait 1\n");
    EXPECT_FALSE(shown()) << "Return did not answer the alert";
    play("key space\nwait 2\n");
    EXPECT_EQ(viewer()->page(), 1) << "back in front, the page takes its keys";
}

TEST_F(KeysProgramTest, TheKeyboardAloneOpensReadsAndClosesABookAndCtrlQEndsTheRun) {
    showStartScreens = true;
    fs::create_directories(docs());
    makeFlatBook(src->path(), "Pages.cbz", 3, 300, 400, [](int i) { return toRgba(kPage[i % 6]); });
    ASSERT_TRUE(launch());
    for (int i = 0; i < 30 && !program->delegate()->isStartScreenShown(); ++i) play("wait 0.1\n");
    play("key escape\nwait 2\n");
    ASSERT_TRUE(library()) << "Escape did not close the welcome page";
    const auto& items = library()->itemList();
    size_t at = 0;
    while (at < items.size() && items[at]->filename() != "Pages.cbz") ++at;
    ASSERT_LT(at, items.size());
    for (size_t i = 0; i <= at; ++i) play("key down\n");
    play("key return\nwait 2\n");
    // A question about how to open it is answered from the keys too.
    if (!viewer() && presented()) play("key down\nkey return\nwait 2\n");
    ASSERT_TRUE(viewer()) << "Return did not open the highlighted book";
    play("key pagedown\nwait 1\n");
    EXPECT_GT(viewer()->page(), 0);
    play("key escape\nwait 2\n");
    ASSERT_TRUE(library()) << "Escape did not close the book";

    // A site is added from the keys: its pasted address, Tab to the next
    // field, Return to leave the field and Return again to save.
    ui::test::Driver keys(window());
    library()->onDownLoadBtn();
    play("wait 1\nkey down\nkey return\nwait 1\n");
    ui::Pasteboard::setText("http://192.168.1.20:8080/comics/");
    keys.key(ui::KeyInput::tab);
    keys.key("v", ui::KeyModifierControl);
    keys.key(ui::KeyInput::tab);
    keys.type("My comics");
    play("key return\nkey return\nwait 1\n");
    auto* transfers = dynamic_cast<ui::NavigationController*>(presented());
    ASSERT_TRUE(transfers);
    EXPECT_EQ(transfers->viewControllers().size(), 1u) << "Return did not save the site";
    EXPECT_TRUE(keys.findByText("My comics"));
    play("key escape\nwait 1\n");
    ASSERT_TRUE(library());

    // Ctrl+Q ends the run as closing the window does, with an alert in
    // front too; a plain q does not.
    keys.key("q");
    EXPECT_FALSE(LeafbrightProgram::stopRequested());
    auto alert = std::make_shared<QNAlertView>("", "Saved.", std::weak_ptr<QNAlertViewDelegate>(), "OK",
                                               std::vector<std::string>{});
    alert->show();
    play("wait 1\n");
    EXPECT_TRUE(keys.key("q", ui::KeyModifierControl));
    EXPECT_TRUE(LeafbrightProgram::stopRequested());
    // The run takes its termination path: no later step is played.
    play("tap \"OK\"\nwait 1\n");
    EXPECT_TRUE(keys.findByText("Saved."));
}

TEST_F(KeysProgramTest, TheWheelScrollsAPageThatCanScrollAndTurnsItAtTheEdge) {
    markNotFirstRun();
    makeFlatBook(src->path(), "Pages.cbz", 6, 300, 400, [](int i) { return toRgba(kPage[i % 6]); });
    // A long page: fitted to the width it scrolls down a long way.
    programtest::writePng(src->file("long.png"), 300, 2400, kPage[3]);
    zipBook(src->path(), "Long.cbz", " long.png 'Pages.cbz-p0.png' 'Pages.cbz-p1.png'");
    writeGlobalSettings({{"isDoubleTruck", sys::PlistValue(false)}, {"defaultZoomMode", sys::PlistValue("fit")}});
    ASSERT_TRUE(launch());
    play("tap \"Pages\"\nwait 1\nsheet 0\nwait 2\n");
    ASSERT_TRUE(viewer());
    const ui::Rect w = window().bounds();
    const ui::Point middle{w.width() / 2, w.height() / 2};
    auto wheel = [&](double dx, double dy, unsigned modifiers = 0) {
        ui::ScrollView::dispatchWheel(window(), middle, dx, dy, modifiers);
        play("wait 1\n");
    };

    // At fit zoom a notch down turns onwards, a notch up back.
    wheel(0, 40);
    EXPECT_EQ(viewer()->page(), 1) << "a notch down at fit zoom did not turn the page";
    wheel(0, 40);
    EXPECT_EQ(viewer()->page(), 2);
    wheel(0, -40);
    EXPECT_EQ(viewer()->page(), 1);
    // Small steps of a touchpad add up to one turn, not one each.
    for (int i = 0; i < 3; ++i) ui::ScrollView::dispatchWheel(window(), middle, 0, 12, 0);
    play("wait 0.2\n");
    EXPECT_EQ(viewer()->page(), 1);
    ui::ScrollView::dispatchWheel(window(), middle, 0, 12, 0);
    play("wait 1\n");
    EXPECT_EQ(viewer()->page(), 2);
    // Sideways, as the arrows: right is onwards in a book read left to right.
    wheel(40, 0);
    EXPECT_EQ(viewer()->page(), 3);
    wheel(-40, 0);
    EXPECT_EQ(viewer()->page(), 2);
    // With ctrl the wheel zooms and turns nothing.
    wheel(0, -1, ui::KeyModifierControl);
    EXPECT_EQ(viewer()->page(), 2);
    EXPECT_GT(viewer()->scrollView()->zoomScale(), viewer()->scrollView()->minimumZoomScale());
    play("back\nwait 2\n");

    // A page that can scroll scrolls first; at its bottom the next notch
    // turns. The long page fitted to the width (as the zoom-mode key would).
    play("tap \"Long\"\nwait 1\nsheet 0\nwait 2\n");
    ASSERT_TRUE(viewer());
    ASSERT_EQ(viewer()->page(), 0);
    viewer()->setZoomTo(BookViewController::kZoomFitWidth,
                        viewer()->getZoomScaleTo(BookViewController::kZoomFitWidth));
    play("wait 2\n");
    ui::ScrollView* sv = viewer()->scrollView();
    ASSERT_GT(sv->contentSize().height, sv->bounds().height() + 200) << "the long page does not scroll";
    const double before = sv->contentOffset().y;
    wheel(0, 40);
    EXPECT_EQ(viewer()->page(), 0) << "the wheel turned a page it could scroll";
    EXPECT_GT(viewer()->scrollView()->contentOffset().y, before);
    for (int i = 0; i < 200 && viewer()->page() == 0; ++i) wheel(0, 200);
    EXPECT_EQ(viewer()->page(), 1) << "at its bottom the wheel did not turn the page";
}

TEST_F(KeysProgramTest, KeysAndTapAreasChangedFromTheReadingScreensSettingsWorkOnReturn) {
    markNotFirstRun();
    makeFlatBook(src->path(), "Pages.cbz", 6, 300, 400, [](int i) { return toRgba(kPage[i % 6]); });
    writeGlobalSettings({{"isDoubleTruck", sys::PlistValue(false)}, {"bookToolView", sys::PlistValue("none")},
                         {"isShowStatusbar", sys::PlistValue(false)}});
    ASSERT_TRUE(launch());
    play("tap \"Pages\"\nwait 1\nsheet 0\nwait 2\n");
    ASSERT_TRUE(viewer());

    // The settings from the menu: N turns the page, the bottom edge goes back.
    openMenu();
    ui::View* settingsButton = menuBarItem([](const ui::BarButtonItem& i) { return named(i, "settings"); });
    ASSERT_TRUE(settingsButton);
    play("tap " + centreOf(*settingsButton) + "\nwait 1\n");
    ASSERT_TRUE(top<SettingViewControllerEx>());
    play("tap \"Keyboard Shortcuts\"\nwait 1\ntap \"N\"\nwait 1\ntap \"Next page\"\nwait 1\nshot reader-keys\nback\nwait 1\n"
         "tap \"Tap Areas\"\nwait 1\ntap \"Bottom Edge\"\nwait 1\ntap \"Previous page\"\nwait 1\nback\nwait 1\n"
         "back\nwait 2\n");
    ASSERT_TRUE(viewer());
    play("key n\nwait 1\nkey n\nwait 1\n");
    EXPECT_EQ(viewer()->page(), 2);
    const ui::Rect w = window().bounds();
    play("tap " + std::to_string(int(w.width() / 2)) + " " + std::to_string(int(w.height() - 8)) + "\nwait 1\n");
    EXPECT_EQ(viewer()->page(), 1);
}

}  // namespace
