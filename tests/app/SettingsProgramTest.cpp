// The settings screen through the whole program, as a user reaches it from
// the library's tool bar: the start-up lock set and taken off there, the
// list style and home folder showing in the library once back, and the
// reader's zoom modes, image filters, tap areas and keys changed there
// driving the reading screen.
#include <gtest/gtest.h>

#include "app/LeafbrightProgram.h"
#include "app/NestlarkAppDelegate.h"
#include "foundation/BookCommon.h"
#include "foundation/QNKeyChain.h"
#include "foundation/Settings.h"
#include "foundation/ui/ItemSelectViewController.h"
#include "foundation/ui/QNNoticeView.h"
#include "foundation/ui/QNTableView.h"
#include "foundation/ui/QNTableViewCellCustom.h"
#include "foundation/ui/QNTableViewData.h"
#include "library/FilelistBaseViewHeaderCell.h"
#include "library/LocalFilelistViewController.h"
#include "platform/core/PropertyList.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/BarButtonItem.h"
// The reader's controls: their screens, the reading screen and its pictures.
#include "foundation/PageTapConfig.h"
#include "foundation/ui/ItemSelectViewController.h"
#include "foundation/ui/SelectZoomModesViewController.h"
#include "foundation/ui/TextInputViewController.h"
#include "platform/core/FileManager.h"
#include "platform/ui/Button.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/TableViewCell.h"
#include "screens/KeyboardSettingViewController.h"
#include "screens/TapAreaSettingViewController.h"
#include "tests/app/ProgramShot.h"
#include "tests/support/TestHome.h"
#include "viewer/BookViewController.h"
#include "platform/ui/Label.h"
#include "platform/ui/SegmentedControl.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TestDriver.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/Window.h"
#include "screens/SettingViewControllerEx.h"
#include "screens/StartupPasscodeInputViewController.h"
#include "tests/app/ProgramRun.h"
#include "tests/app/ProgramShot.h"
#include "viewer/BookToolView.h"
#include "viewer/BookViewController.h"
#include "viewer/BookViewScreen.h"

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

class SettingsProgramTest : public ProgramRun {
protected:
    void SetUp() override {
        makeHome("settingshome");
        markNotFirstRun();
        std::ofstream(docs() + "/Alpha.cbz") << "PK";
        std::ofstream(docs() + "/Beta.cbz") << "PK";
    }
    void TearDown() override {
        keepShots("settings-");
        ProgramRun::TearDown();
    }
    // The book "Pages" of flat pages, opened from the library (the question
    // before opening answered with its first choice).
    void makePagesBook() {
        const std::string src = home->file("src");
        fs::create_directories(src);
        makeFlatBook(src, "Pages.cbz", 6, 300, 1000, [](int i) { return programtest::toRgba(programtest::kPage[i % 6]); });
    }
    void openPagesBook() {
        play("tap \"Pages\"\nwait 1\nsheet 0\nwait 2\n");
        ASSERT_TRUE(viewer());
    }
    // The reader's settings, from its menu.
    void openReaderSettings() {
        play(tapMiddle() + "wait 1\n");
        ui::View* gear = menuBarItem([](const ui::BarButtonItem& i) { return named(i, "settings"); });
        ASSERT_TRUE(gear);
        play("tap " + centreOf(*gear) + "\nwait 1\n");
        ASSERT_TRUE(dynamic_cast<SettingViewControllerEx*>(nav()->topViewController()));
    }
    // Taps the switch of the settings row of `key`, as a finger would.
    void tapSettingSwitch(const std::string& key) {
        auto* screen = dynamic_cast<SettingViewControllerEx*>(nav()->topViewController());
        ASSERT_TRUE(screen);
        QNTableView* table = screen->table();
        const auto& sections = table->sectionList();
        for (size_t sec = 0; sec < sections.size(); ++sec)
            for (size_t r = 0; r < sections[sec].size(); ++r) {
                if (sections[sec][r]->key() != key) continue;
                const ui::IndexPath ip{int(sec), int(r)};
                table->scrollToRowAtIndexPath(ip, ui::TableViewScrollPosition::Middle, false);
                play("wait 0.5\n");
                auto* cell = dynamic_cast<QNTableViewCellCustom*>(table->cellForRowAtIndexPath(ip));
                ASSERT_TRUE(cell && cell->sw());
                play("tap " + centreOf(*cell->sw()) + "\nwait 1\n");
                return;
            }
        FAIL() << "no row for " << key;
    }
    // The page (tall, fitted to the screen) lies above the page bar, all
    // of it on screen.
    void expectPageClearOfTheBar(const std::string& what) {
        BookViewController* v = viewer();
        ASSERT_TRUE(v) << what;
        ASSERT_TRUE(v->bookToolView()) << what << ": no page bar";
        ui::ImageView* page = v->imageViewDisplay();
        ASSERT_TRUE(page) << what;
        const double pageBottom = page->convertPointToWindow({0, page->bounds().height()}).y;
        const double barTop = v->bookToolView()->convertPointToWindow({0, 0}).y;
        EXPECT_LE(pageBottom, barTop + 0.5) << what << ": the bar covers the page's bottom";
    }
    LocalFilelistViewController* list() const {
        return dynamic_cast<LocalFilelistViewController*>(nav()->topViewController());
    }
    // The library tool bar's settings button (its last), tapped as a finger would.
    void openSettings() {
        ui::Toolbar* bar = nav()->toolbar();
        ASSERT_TRUE(bar && !bar->items().empty());
        ui::View* gear = nullptr;
        for (const auto& item : bar->items())
            if (ui::View* v = bar->viewForItem(item.get())) gear = v;
        ASSERT_TRUE(gear);
        play("tap " + centreOf(*gear) + "\nwait 1\n");
        ASSERT_TRUE(dynamic_cast<SettingViewControllerEx*>(nav()->topViewController()));
    }
    StartupPasscodeInputViewController* lockScreen() const {
        auto* n = nav();
        return n ? dynamic_cast<StartupPasscodeInputViewController*>(n->presentedViewController()) : nullptr;
    }
    static std::string storedLockWord() {
        auto d = sys::PropertyList::readDictionary(BookCommon::getSettingsFolder() + "/.globalsettings.lbs");
        return d ? d->getString("startupLock") : "";
    }
    static std::optional<std::string> storedHash() {
        std::string v;
        if (QNKeyChain::lookupPasswordWithAccount(StartupPasscodeInputViewController::kKeychainAccount,
                                                  StartupPasscodeInputViewController::kKeychainService,
                                                  &v) != QNKeyChain::Lookup::Found)
            return std::nullopt;
        return v;
    }
    // The text of the alert on screen (its message), or "" when none is.
    std::string alertMessage() const {
        ui::ViewController* vc = window().rootViewController().get();
        while (vc && vc->presentedViewController()) vc = vc->presentedViewController();
        if (auto* a = dynamic_cast<ui::AlertController*>(vc)) return a->message().value_or("");
        ui::test::Driver d(window());
        for (auto* n : d.findAllOf<QNNoticeView>())
            if (!n->isClosing()) return n->messageLabel()->text();
        return "";
    }
    // Taps segment `index` of the start-up lock row (other rows have an "Off" too).
    void tapLockSegment(int index) {
        auto* screen = dynamic_cast<SettingViewControllerEx*>(nav()->topViewController());
        ASSERT_TRUE(screen);
        QNTableView* table = screen->table();
        const auto& sections = table->sectionList();
        for (size_t sec = 0; sec < sections.size(); ++sec)
            for (size_t r = 0; r < sections[sec].size(); ++r) {
                if (sections[sec][r]->key() != "startupLock") continue;
                const ui::IndexPath ip{int(sec), int(r)};
                table->scrollToRowAtIndexPath(ip, ui::TableViewScrollPosition::Middle, false);
                play("wait 0.5\n");
                auto* cell = dynamic_cast<QNTableViewCellCustom*>(table->cellForRowAtIndexPath(ip));
                ASSERT_TRUE(cell && cell->seg());
                const ui::Rect seg = cell->seg()->segmentRect(index);
                const ui::Point p = cell->seg()->convertPointToWindow({seg.x() + seg.width() / 2, seg.y() + seg.height() / 2});
                play("tap " + std::to_string(p.x) + " " + std::to_string(p.y) + "\nwait 1\n");
                return;
            }
        FAIL() << "no start-up lock row";
    }
};

TEST_F(SettingsProgramTest, TheStartupLockIsSetAndTakenOffThroughTheSettingsScreen) {
    ASSERT_TRUE(launch());
    openSettings();
    // Two entries that differ set nothing.
    tapLockSegment(1);
    play("shot lock-first\ntype open sesame\nalert 1\nwait 1\n"
         "type open sesame!\nalert 1\nwait 1\nshot lock-mismatch\n");
    EXPECT_EQ(alertMessage(), "The passphrases do not match.");
    play("alert 0\nwait 1\n");
    EXPECT_FALSE(storedHash());
    EXPECT_NE(storedLockWord(), "passphrase");
    // Cancelling leaves it off too.
    tapLockSegment(1);
    play("alert 0\nwait 1\n");
    EXPECT_FALSE(storedHash());
    // So does a program ended while the question is up: the setting changes
    // only once a passphrase is confirmed.
    tapLockSegment(1);
    stop();
    EXPECT_NE(storedLockWord(), "passphrase");
    ASSERT_TRUE(launch());
    openSettings();
    // Twice the same: the lock is on, its hash kept where the launch reads it.
    tapLockSegment(1);
    play("type open sesame\nalert 1\nwait 1\ntype open sesame\nalert 1\nwait 1\n"
         "shot lock-set\nback\nwait 1\n");
    ASSERT_TRUE(storedHash());
    EXPECT_EQ(*storedHash(), BookCommon::passcodeToHash("open sesame"));
    EXPECT_EQ(storedLockWord(), "passphrase");
    EXPECT_FALSE(lockScreen());

    // Quit and start: the passphrase screen, over no library content.
    stop();
    ASSERT_TRUE(launch());
    ASSERT_TRUE(lockScreen());
    play("shot locked-start\ntype open sesam\nkey return\nwait 1\n");
    ASSERT_TRUE(lockScreen());
    EXPECT_EQ(lockScreen()->messageLabel()->text(), "Incorrect passphrase.");
    play("type open sesame\nkey return\nwait 1\nshot unlocked\n");
    EXPECT_FALSE(lockScreen());
    ASSERT_TRUE(list());
    ui::test::Driver driver(window());
    EXPECT_TRUE(driver.findByText("Alpha"));

    // Turning it off asks for it first: a wrong one keeps the lock.
    openSettings();
    tapLockSegment(0);
    play("shot unlock-ask\ntype nope\nalert 1\nwait 1\n");
    EXPECT_EQ(alertMessage(), "Incorrect passphrase.");
    play("alert 0\nwait 1\n");
    EXPECT_TRUE(storedHash());
    EXPECT_EQ(storedLockWord(), "passphrase");
    tapLockSegment(0);
    play("type open sesame\nalert 1\nwait 1\nback\nwait 1\n");
    EXPECT_FALSE(storedHash());
    EXPECT_EQ(storedLockWord(), "disable");
    stop();
    ASSERT_TRUE(launch());
    EXPECT_FALSE(lockScreen());
    ASSERT_TRUE(list());
}

TEST_F(SettingsProgramTest, ZoomModesFiltersTapAreasAndKeysChangedInTheSettingsDriveTheReader) {
    if (!test::haveProgram("zip")) GTEST_SKIP() << "no zip";
    test::TempDir src("settingspages");
    makeFlatBook(src.path(), "Pages.cbz", 6, 300, 400, [](int i) { return programtest::toRgba(programtest::kPage[i % 6]); });
    writeGlobalSettings({{"defaultZoomMode", sys::PlistValue("fit")},
                         {"isDoubleTruck", sys::PlistValue(false)},
                         {"bookToolView", sys::PlistValue("none")},
                         {"isShowStatusbar", sys::PlistValue(false)}});
    ASSERT_TRUE(launch());
    auto settings = program->delegate()->settings();
    openSettings();

    // Zoom modes: "Fit to Image" on, "Custom Zoom" off; the row says what cycles.
    play("tap \"Zoom Modes\"\nwait 1\n");
    ASSERT_TRUE(dynamic_cast<SelectZoomModesViewController*>(nav()->topViewController()));
    play("tap \"Fit to Image\"\nwait 1\ntap \"Custom Zoom\"\nwait 1\nshot zoom-modes\nback\nwait 1\n");
    EXPECT_EQ(settings->getZoomModeEnableNum(), 3);
    EXPECT_EQ(settings->getZoomModeOrderList()[0], 1);
    ui::test::Driver driver(window());
    EXPECT_TRUE(driver.findByText("Maximum Zoom, Fit to Width, Fit to Image"));

    // Filters 2 and 3 from the whole list (slot 1 stays off).
    play("tap \"Image Filter 2\"\nwait 1\n");
    auto* picker = dynamic_cast<ItemSelectViewController*>(nav()->topViewController());
    ASSERT_TRUE(picker);
    EXPECT_EQ(picker->itemListArray_().size(), 19u) << "every filter, the pseudo colours too";
    play("shot filters\ntap \"Monochrome\"\nwait 1\ntap \"Image Filter 3\"\nwait 1\ntap \"Invert\"\nwait 1\n");
    EXPECT_TRUE(driver.findByText("Monochrome"));

    // Tap areas: the top edge turns the page, the bottom edge switches the zoom.
    play("tap \"Tap Areas\"\nwait 1\ntap \"Top Edge\"\nwait 1\ntap \"Next page\"\nwait 1\n"
         "tap \"Bottom Edge\"\nwait 1\ntap \"Switch Zoom Mode\"\nwait 1\nshot tap-areas\n");
    EXPECT_EQ(settings->tapConfig().tapTopEdge, 2);
    EXPECT_EQ(settings->tapConfig().tapBottomEdge, 4);
    auto tapFile = sys::FileManager::contentsOfFile(BookCommon::getSettingsFolder() + "/.tapconfig.dat");
    ASSERT_TRUE(tapFile);
    auto stored = PageTapConfig::fromBytes(*tapFile);
    ASSERT_TRUE(stored);
    EXPECT_EQ(*stored, settings->tapConfig());
    // The menu stays a single tap away while no area opens it, and saying so.
    play("tap \"Single Tap\"\nwait 1\ntap \"Next page\"\nwait 1\n");
    EXPECT_EQ(alertMessage(), "No area opens the menu: a single tap anywhere opens it.");
    play("alert 0\nwait 1\n");
    EXPECT_EQ(settings->tapConfig().tapSingle, PageTapConfig::kMenu);

    // The margin: a width beyond its bounds is refused with a message and
    // the screen stays; one within them is kept.
    const double margin = settings->tapMargin();
    play("tap \"Width of the Edge Areas\"\nwait 1\n");
    auto* input = dynamic_cast<TextInputViewController*>(nav()->topViewController());
    ASSERT_TRUE(input);
    input->textField_()->setText("");
    play("type 500\nkey return\nwait 1\nshot margin-refused\n");
    EXPECT_EQ(alertMessage(), "Enter a number of points from 0 to 300.");
    play("alert 0\nwait 1\n");
    EXPECT_EQ(nav()->topViewController(), static_cast<ui::ViewController*>(input));
    EXPECT_EQ(settings->tapMargin(), margin);
    // Just past either bound, whole or not.
    for (const char* past : {"-1", "-0.5", "300.5", "301"}) {
        input->textField_()->becomeFirstResponder();
        input->textField_()->setText("");
        play(std::string("type ") + past + "\nkey return\nwait 1\n");
        EXPECT_EQ(alertMessage(), "Enter a number of points from 0 to 300.") << past;
        play("alert 0\nwait 1\n");
        ASSERT_EQ(nav()->topViewController(), static_cast<ui::ViewController*>(input)) << past << " was taken";
        EXPECT_EQ(settings->tapMargin(), margin) << past;
    }
    // Both bounds are taken.
    for (const char* kept : {"0", "300", "40"}) {
        if (!input) {
            play("tap \"Width of the Edge Areas\"\nwait 1\n");
            input = dynamic_cast<TextInputViewController*>(nav()->topViewController());
            ASSERT_TRUE(input) << kept;
        }
        input->textField_()->becomeFirstResponder();
        input->textField_()->setText("");
        play(std::string("type ") + kept + "\nkey return\nwait 1\n");
        ASSERT_TRUE(dynamic_cast<TapAreaSettingViewController*>(nav()->topViewController())) << kept;
        EXPECT_EQ(settings->tapMargin(), std::stod(kept));
        input = nullptr;
    }
    play("back\nwait 1\n");

    // Keys: J turns the page; Return (150% zoom by default) goes.
    play("tap \"Keyboard Shortcuts\"\nwait 1\ntap \"Add Shortcut\"\nwait 1\ntap \"J\"\nwait 1\n");
    ASSERT_TRUE(dynamic_cast<ItemSelectViewController*>(nav()->topViewController())) << "no function asked for";
    play("tap \"Next page\"\nwait 1\n");
    auto* keys = dynamic_cast<KeyboardSettingViewController*>(nav()->topViewController());
    ASSERT_TRUE(keys);
    ui::TableView* keyTable = keys->tableView();
    int returnRow = -1;
    for (size_t r = 0; r < keys->shortcuts().size(); ++r)
        if (keys->shortcuts()[r].key == "\r") returnRow = int(r);
    ASSERT_GE(returnRow, 0);
    keyTable->layoutIfNeeded();
    ui::TableViewCell* returnCell = keyTable->cellForRowAtIndexPath({0, returnRow});
    ASSERT_TRUE(returnCell && returnCell->editingControl());
    play("tap " + centreOf(*returnCell->editingControl()) + "\nwait 1\n");
    ASSERT_TRUE(returnCell->deleteConfirmationButton());
    play("tap " + centreOf(*returnCell->deleteConfirmationButton()) + "\nwait 1\nshot keys\n");
    auto keyFile = sys::PropertyList::readArray(BookCommon::getSettingsFolder() + "/.keyboard.lbs");
    ASSERT_TRUE(keyFile);
    bool hasJ = false, hasReturn = false;
    for (const auto& e : *keyFile) {
        if (e.get("key").asString() == "j" && e.get("command").integerValue() == 2) hasJ = true;
        if (e.get("key").asString() == "\r") hasReturn = true;
    }
    EXPECT_TRUE(hasJ);
    EXPECT_FALSE(hasReturn);
    play("back\nwait 1\nback\nwait 1\n");
    ASSERT_TRUE(list());

    // The reader: the page through both filters (grey, then inverted).
    play("tap \"Pages\"\nwait 1\nsheet 0\nwait 2\nshot reader\n");
    ASSERT_TRUE(viewer());
    const ui::Rect w = window().bounds();
    {
        programtest::Shot shot(home->file("shots") + "/reader.png", window());
        ASSERT_TRUE(shot);
        const programtest::Rgb p = shot.at(w.width() / 2, w.height() / 2);
        EXPECT_NEAR(p.r, p.g, 12) << "not grey: the second filter was not applied";
        EXPECT_NEAR(p.g, p.b, 12);
        EXPECT_GT(p.r, 150) << "dark grey: the third filter was not applied";
    }
    // The zoom switch (the bottom edge now) cycles the modes in their new order.
    ASSERT_EQ(viewer()->zoomMode(), BookViewController::kZoomFitImage);
    const std::string bottomEdge = "tap " + std::to_string(int(w.width() / 2)) + " " + std::to_string(int(w.height() - 10)) + "\n";
    play(bottomEdge + "wait 1\n");
    EXPECT_EQ(viewer()->zoomMode(), BookViewController::kZoomMaximum);
    play(bottomEdge + "wait 1\n");
    EXPECT_EQ(viewer()->zoomMode(), BookViewController::kZoomFitWidth);
    play(bottomEdge + "wait 1\n");
    EXPECT_EQ(viewer()->zoomMode(), BookViewController::kZoomFitImage);
    EXPECT_EQ(viewer()->page(), 0);
    // The top edge turns the page; so does J.
    play("tap " + std::to_string(int(w.width() / 2)) + " 8\nwait 1\n");
    EXPECT_EQ(viewer()->page(), 1);
    play("key j\nwait 1\n");
    EXPECT_EQ(viewer()->page(), 2);
    // Return no longer zooms.
    const double zoom = viewer()->scrollView()->zoomScale();
    play("key return\nwait 1\n");
    EXPECT_EQ(viewer()->scrollView()->zoomScale(), zoom);
    EXPECT_EQ(viewer()->page(), 2);
}

TEST_F(SettingsProgramTest, ListStyleAndHomeFolderShowOnReturnFromSettings) {
    ASSERT_TRUE(launch());
    ASSERT_TRUE(list());
    ui::TableView* table = list()->tableView();
    EXPECT_EQ(table->rectForRowAtIndexPath({1, 0}).height(), 80);

    openSettings();
    play("tap \"Simple\"\nwait 1\nback\nwait 1\nshot simple\n");
    ASSERT_TRUE(list());
    // Every row of the list at the simple style's height, at once.
    EXPECT_EQ(list()->tableView()->rectForRowAtIndexPath({1, 0}).height(), 60);
    EXPECT_EQ(list()->tableView()->rectForRowAtIndexPath({1, 1}).height(), 60);

    // The home folder: the library now starts at the downloads.
    EXPECT_EQ(list()->pathFromBooks(), "");
    openSettings();
    play("tap \"Downloads\"\nwait 1\nback\nwait 1\nshot downloads-home\n");
    ASSERT_TRUE(list());
    EXPECT_EQ(list()->pathFromBooks(), "*");
    ui::test::Driver driver(window());
    EXPECT_FALSE(driver.findByText("Alpha"));
    EXPECT_TRUE(driver.findByText(BookCommon::localizedStringWithOnOff("Shared Documents")));
}

TEST_F(SettingsProgramTest, ThePageBarChosenInTheReaderShowsAtOnceAndAfterARestart) {
    writeGlobalSettings({{"bookToolView", sys::PlistValue("none")},
                         {"defaultZoomMode", sys::PlistValue("fit")},
                         {"isDoubleTruck", sys::PlistValue(false)}});
    makePagesBook();
    ASSERT_TRUE(launch());
    openPagesBook();
    EXPECT_FALSE(viewer()->bookToolView());
    openReaderSettings();
    // Four positions do not fit a phone's row: they are a list.
    play("tap \"Page Bar\"\nwait 1\ntap \"Bottom\"\nwait 1\nback\nwait 2\nshot page-bar-on\n");
    expectPageClearOfTheBar("back from the settings");
    stop();
    quickAction = "filelist";
    ASSERT_TRUE(launch());
    openPagesBook();
    play("wait 1\nshot page-bar-restart\n");
    expectPageClearOfTheBar("after a restart");
}

TEST_F(SettingsProgramTest, FoldersFirstChosenFromItsListOrdersTheLibraryNowAndAfterARestart) {
    fs::create_directories(docs() + "/Zeta");
    // A narrow phone: the three choices do not fit beside each other.
    device = "phone-se";
    ASSERT_TRUE(launch());
    ASSERT_TRUE(list());
    auto firstTitle = [&] {
        ui::test::Driver driver(window());
        ui::View* zeta = driver.findByText("Zeta");
        ui::View* alpha = driver.findByText("Alpha");
        if (!zeta || !alpha) return std::string("?");
        return driver.centerOf(*zeta).y < driver.centerOf(*alpha).y ? std::string("Zeta") : std::string("Alpha");
    };
    EXPECT_EQ(firstTitle(), "Alpha") << "files first out of the box";
    openSettings();
    play("tap \"Folders\"\nwait 1\nshot folders-list\n");
    ASSERT_TRUE(dynamic_cast<ItemSelectViewController*>(nav()->topViewController()));
    play("tap \"Folders First\"\nwait 1\nback\nwait 1\nshot folders-first\n");
    ASSERT_TRUE(list());
    EXPECT_EQ(firstTitle(), "Zeta");
    stop();
    ASSERT_TRUE(launch());
    ASSERT_TRUE(list());
    play("shot folders-first-restart\n");
    EXPECT_EQ(firstTitle(), "Zeta");
}

TEST_F(SettingsProgramTest, PagesStretchedFromTheReadersSettingsAtOnceAndAfterARestart) {
    writeGlobalSettings({{"defaultZoomMode", sys::PlistValue("fit")}, {"isDoubleTruck", sys::PlistValue(false)}});
    makePagesBook();
    ASSERT_TRUE(launch());
    openPagesBook();
    // The page's colour at the left edge of the window, halfway down: a tall
    // page that keeps its shape leaves the background there.
    auto pageAtLeftEdge = [&](const std::string& name) {
        play("shot " + name + "\n");
        programtest::Shot shot(home->file("shots/" + name + ".png"), window());
        return shot && shot.is(4, window().bounds().height() / 2, programtest::kPage[0]);
    };
    EXPECT_FALSE(pageAtLeftEdge("shape-kept")) << "a tall page keeps its shape out of the box";
    openReaderSettings();
    tapSettingSwitch("isNoAspectFill");
    play("back\nwait 2\n");
    ASSERT_TRUE(viewer());
    EXPECT_TRUE(pageAtLeftEdge("stretched")) << "stretched to the screen on return";
    stop();
    quickAction = "filelist";
    ASSERT_TRUE(launch());
    openPagesBook();
    EXPECT_TRUE(pageAtLeftEdge("stretched-restart")) << "stretched after a restart";
}

TEST_F(SettingsProgramTest, TheDirectionAndTheFirstPageAloneChangedInOneVisitBothShowOnReturn) {
    device = "desktop";
    writeGlobalSettings({{"defaultZoomMode", sys::PlistValue("fit")}, {"isDoubleTruck", sys::PlistValue(true)},
                         {"pageDirection", sys::PlistValue("right")}});
    fs::create_directories(home->file("src"));
    makeFlatBook(home->file("src"), "Pages.cbz", 6, 300, 400,
                 [](int i) { return programtest::toRgba(programtest::kPage[i % 6]); });
    ASSERT_TRUE(launch());
    openPagesBook();
    play("key pagedown\nwait 2\n");
    ASSERT_EQ(viewer()->page(), 2);
    ASSERT_TRUE(viewer()->displayBookPage()->is2PageLoaded);

    openReaderSettings();
    play("tap \"Right to Left\"\nwait 1\n");
    tapSettingSwitch("isSingleViewFirstPage");
    play("back\nwait 2\nshot both-changed\n");
    ASSERT_TRUE(viewer());
    // Pages 1 and 2 now, read from right to left: page 2 on the left.
    EXPECT_EQ(viewer()->page(), 1) << "the first page alone did not pair the pages anew";
    EXPECT_TRUE(viewer()->displayBookPage()->is2PageLoaded);
    const ui::Rect w = window().bounds();
    programtest::Shot shot(home->file("shots/both-changed.png"), window());
    EXPECT_TRUE(shot.is(w.width() * 0.3, w.height() / 2, programtest::kPage[2]));
    EXPECT_TRUE(shot.is(w.width() * 0.7, w.height() / 2, programtest::kPage[1]));
    play("key home\nwait 2\n");
    EXPECT_EQ(viewer()->page(), 0);
    EXPECT_FALSE(viewer()->displayBookPage()->is2PageLoaded) << "the first page is not alone";
}

TEST_F(SettingsProgramTest, TheLanguageChosenFromItsListShowsInTheLibraryNowAndAfterARestart) {
    ASSERT_TRUE(launch());
    const std::string home = BookCommon::localizedStringWithOnOff("HOME");
    auto inJapanese = [](const char* text) {
        BookCommon::localizedSet(2);
        std::string t = BookCommon::localizedStringWithOnOff(text);
        BookCommon::localizedSet(0);
        return t;
    };
    const std::string japanese = inJapanese("HOME");
    const std::string settingsTitle = inJapanese("Settings");
    const std::string languageRow = inJapanese("Language");
    ASSERT_NE(home, japanese);
    // The list pulled down to its header (made now, in English).
    auto showHeader = [&] {
        ui::TableView* table = list()->tableView();
        table->setContentOffset(table->minimumContentOffset(), false);
        play("wait 0.5\n");
        return ui::test::Driver(window()).findFirst<FilelistBaseViewHeaderCell>();
    };
    ASSERT_TRUE(list());
    ASSERT_TRUE(showHeader());
    openSettings();
    play("tap \"Language\"\nwait 1\ntap \"日本語\"\nwait 1\nshot japanese-settings\n");
    // The settings screen itself is shown again in the language chosen.
    auto* settingsScreen = dynamic_cast<SettingViewControllerEx*>(nav()->topViewController());
    ASSERT_TRUE(settingsScreen);
    EXPECT_EQ(settingsScreen->title(), settingsTitle);
    ui::test::Driver shown(window());
    EXPECT_TRUE(shown.findByText(languageRow)) << "the rows stayed in English";
    EXPECT_FALSE(shown.findByText("Language"));
    EXPECT_TRUE(shown.findByText(japanese)) << "the back button still names the library in English";
    play("back\nwait 1\nshot japanese\n");
    ASSERT_TRUE(list());
    EXPECT_EQ(list()->title(), japanese);
    // So is the header above the list, made while it was English: the
    // list/bookshelf switch and the search field.
    {
        auto* header = showHeader();
        ASSERT_TRUE(header);
        EXPECT_EQ(header->segmentListModeSelect()->titleForSegment(0), inJapanese("List"));
        EXPECT_EQ(header->segmentListModeSelect()->titleForSegment(1), inJapanese("Bookshelf"));
        EXPECT_EQ(header->searchBar()->placeholder(), inJapanese("Search"));
        EXPECT_EQ(header->searchBar()->cancelButton()->currentTitle(), inJapanese("Cancel"));
    }
    stop();
    makePagesBook();
    ASSERT_TRUE(launch());
    ASSERT_TRUE(list());
    play("shot japanese-restart\n");
    EXPECT_EQ(list()->title(), japanese);
    // The reader has no title: the back button over its settings is the
    // system's own word, in the language chosen too.
    openPagesBook();
    openReaderSettings();
    EXPECT_TRUE(ui::test::Driver(window()).findByText(inJapanese("Back"))) << "the back button is not in Japanese";
    EXPECT_FALSE(ui::test::Driver(window()).findByText("Back"));
    BookCommon::localizedSet(0);
}

TEST_F(SettingsProgramTest, VolumeButtonsChosenFromTheirListTurnPagesNowAndAfterARestart) {
    writeGlobalSettings({{"defaultZoomMode", sys::PlistValue("fit")}, {"isDoubleTruck", sys::PlistValue(false)}});
    makePagesBook();
    ASSERT_TRUE(launch());
    openPagesBook();
    const int first = viewer()->page();
    play("volume up\nwait 2\n");
    EXPECT_EQ(viewer()->page(), first) << "the buttons are off out of the box";
    openReaderSettings();
    // Four choices: a list, not segments cut off at the row's edge.
    play("tap \"Volume Buttons\"\nwait 1\n");
    ASSERT_TRUE(dynamic_cast<ItemSelectViewController*>(nav()->topViewController()));
    play("tap \"Up for Next Page\"\nwait 1\nback\nwait 2\nvolume up\nwait 2\nshot volume-turned\n");
    ASSERT_TRUE(viewer());
    EXPECT_EQ(viewer()->page(), first + 1);
    stop();
    quickAction = "filelist";
    ASSERT_TRUE(launch());
    openPagesBook();
    const int reopened = viewer()->page();
    play("volume up\nwait 2\nshot volume-turned-restart\n");
    EXPECT_EQ(viewer()->page(), reopened + 1);
}

}  // namespace
