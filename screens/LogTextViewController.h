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
    std::shared_ptr<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView&, const ui::IndexPath&) override;

private:
    std::string title_;
    std::vector<std::string> lines_;
};
