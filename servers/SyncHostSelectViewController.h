#pragma once

#include "foundation/ui/QNTableViewController.h"

#include <string>
#include <vector>

// The transfer screen's "Backup" tab: the desktop hosts the library can be
// backed up to, one row each. No desktop backup host exists for this
// program, so the list is empty, and its one row says so instead of
// showing nothing.
class SyncHostSelectViewController : public QNTableViewController {
public:
    explicit SyncHostSelectViewController(ui::TableViewStyle style = ui::TableViewStyle::Grouped)
        : QNTableViewController(style) {}

    // The hosts found (their shown names); none here.
    const std::vector<std::string>& hosts() const { return hosts_; }
    // The row shown when there is no host.
    static std::string noHostText();

    void viewDidLoad() override;
    int numberOfSectionsInTableView(ui::TableView&) override { return 1; }
    int tableViewNumberOfRowsInSection(ui::TableView&, int) override;
    std::shared_ptr<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView&, const ui::IndexPath&) override;

private:
    std::vector<std::string> hosts_;
};
