#pragma once

#include "platform/ui/TableViewController.h"
#include "smb/CIFSStackManagerDelegate.h"

#include <memory>
#include <string>

class Settings;

// The on-device servers' screen. The HTTP and SMB servers are not part of
// this build, so the screen says so; it still follows the SMB stack's
// state while it is shown.
class MediaServerViewController : public ui::TableViewController, public CIFSStackManagerDelegate {
public:
    MediaServerViewController();

    void setSettings(std::shared_ptr<Settings> settings) { settings_ = std::move(settings); }
    int lastServerStatus() const { return lastStatus_; }
    // The text the status row shows for a server state.
    static std::string statusText(int status);

    void didChangeServerStatus(int status) override;

    void viewDidLoad() override;
    int numberOfSectionsInTableView(ui::TableView&) override { return 1; }
    int tableViewNumberOfRowsInSection(ui::TableView&, int) override { return 2; }
    std::shared_ptr<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView&, const ui::IndexPath&) override;
    std::optional<std::string> tableViewTitleForFooterInSection(ui::TableView&, int section) override;

private:
    std::shared_ptr<Settings> settings_;
    int lastStatus_ = 1;
};
