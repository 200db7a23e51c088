// The settings screen through the whole program, as a user reaches it from
// the library's tool bar: the start-up lock set and taken off there, and
// the list style and home folder showing in the library once back.
#include <gtest/gtest.h>

#include "app/LeafbrightProgram.h"
#include "app/NestlarkAppDelegate.h"
#include "foundation/BookCommon.h"
#include "foundation/QNKeyChain.h"
#include "foundation/Settings.h"
#include "foundation/ui/QNNoticeView.h"
#include "foundation/ui/QNTableView.h"
#include "foundation/ui/QNTableViewCellCustom.h"
#include "foundation/ui/QNTableViewData.h"
#include "library/LocalFilelistViewController.h"
#include "platform/core/PropertyList.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/BarButtonItem.h"
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

}  // namespace
