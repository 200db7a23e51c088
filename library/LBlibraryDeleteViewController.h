#pragma once

#include "platform/ui/TableViewController.h"

#include <memory>
#include <string>

// The library site entry's screen: one row that removes the entry's folder
// from this device, then closes.
class LBlibraryDeleteViewController : public ui::TableViewController {
public:
    explicit LBlibraryDeleteViewController(ui::TableViewStyle style = ui::TableViewStyle::Grouped);

    const std::string& targetPath_() const { return targetPath_value_; }
    void setTargetPath_(const std::string& p) { targetPath_value_ = p; }

    // Removes `path` only when it is a real folder (a link in its place is
    // removed itself, never followed); false when nothing was removed.
    static bool removeLibraryFolder(const std::string& path);

    void viewDidLoad() override;
    void viewWillTransitionToSize(ui::Size size, const std::shared_ptr<ui::TransitionCoordinator>& coordinator) override;
    int tableViewNumberOfRowsInSection(ui::TableView&, int) override { return 1; }
    double tableViewHeightForRowAtIndexPath(ui::TableView&, const ui::IndexPath&) override { return 80; }
    std::shared_ptr<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView&, const ui::IndexPath&) override;
    void tableViewDidSelectRowAtIndexPath(ui::TableView&, const ui::IndexPath& ip) override;

private:
    std::string targetPath_value_;
};
