// The transfer screen's "Backup" tab through the whole program, reached
// from the library's download button: no desktop backup host exists here,
// and its one row says so.
#include <gtest/gtest.h>

#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TableViewCell.h"
#include "platform/ui/TestDriver.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/Window.h"
#include "servers/SyncHostSelectViewController.h"
#include "tests/app/DownloadProgramRun.h"

namespace {

class BackupTabProgramTest : public DownloadProgramRun {
protected:
    void SetUp() override { makeDownloadHome("backuptab"); }
    void TearDown() override {
        keepShots("backup-tab-");
        DownloadProgramRun::TearDown();
    }
};

TEST_F(BackupTabProgramTest, TheBackupTabSaysThatNoHostIsAvailable) {
    for (const char* profile : {"phone", "desktop"}) {
        device = profile;
        ASSERT_TRUE(launch());
        // The download button: the library tool bar's second button.
        ui::Toolbar* bar = nav()->toolbar();
        std::vector<ui::View*> buttons;
        for (const auto& item : bar->items())
            if (ui::View* v = bar->viewForItem(item.get()); v && !item->isSpace()) buttons.push_back(v);
        ASSERT_GE(buttons.size(), 2u);
        ui::View* download = buttons[1];
        play("tap " + centreOf(*download) + "\nwait 1\ntap \"Backup\"\nwait 1\nshot " + device + "\n");
        ui::test::Driver d(window());
        SyncHostSelectViewController* backup = nullptr;
        for (ui::View* v = d.findByText(SyncHostSelectViewController::noHostText()); v && !backup; v = v->superview())
            if (auto* table = dynamic_cast<ui::TableView*>(v))
                backup = dynamic_cast<SyncHostSelectViewController*>(table->dataSource());
        ASSERT_TRUE(backup) << device << ": the row is shown by the backup screen";
        EXPECT_TRUE(backup->hosts().empty());
        ASSERT_EQ(backup->tableView()->numberOfRowsInSection(0), 1);
        ui::TableViewCell* row = backup->tableView()->cellForRowAtIndexPath({0, 0});
        ASSERT_TRUE(row);
        EXPECT_EQ(row->textLabel()->text(), "No desktop backup host is available here.");
        EXPECT_EQ(row->selectionStyle(), ui::TableViewCellSelectionStyle::None);
        // Tapping it opens nothing.
        play("tap \"No desktop backup host is available here.\"\nwait 1\n");
        EXPECT_TRUE(d.findByText(SyncHostSelectViewController::noHostText()));
        stop();
    }
}

}  // namespace
