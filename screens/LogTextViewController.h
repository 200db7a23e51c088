#pragma once

#include "platform/ui/TableViewController.h"

#include <string>
#include <vector>

// Shows a log's text, a row per line, as it was when the screen was made.
class LogTextViewController : public ui::TableViewController {
public:
    LogTextViewController(std::string title, const std::string& text);

    const std::vector<std::string>& lines() const { return lines_; }

    void viewDidLoad() override;
    int tableViewNumberOfRowsInSection(ui::TableView&, int) override { return int(lines_.size()); }
    // Long lines wrap: the row is as high as its line needs.
    double tableViewHeightForRowAtIndexPath(ui::TableView& tv, const ui::IndexPath& ip) override;
    std::shared_ptr<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView&, const ui::IndexPath&) override;

private:
    std::string title_;
    std::vector<std::string> lines_;
};
