#pragma once

#include "platform/ui/TableViewController.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

// The reading statistics: since when they are counted and how many books
// and pages have been read since. The counts are read again each time the
// screen appears, so a book read in between shows.
class StatisticsInformationViewController : public ui::TableViewController {
public:
    explicit StatisticsInformationViewController(ui::TableViewStyle style = ui::TableViewStyle::Grouped);

    // Title and value of each row, as shown.
    const std::vector<std::pair<std::string, std::string>>& rows() const { return rows_; }
    void reloadStatistics();

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    int tableViewNumberOfRowsInSection(ui::TableView&, int section) override;
    std::shared_ptr<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView&, const ui::IndexPath&) override;
    bool tableViewShouldHighlightRowAtIndexPath(ui::TableView&, const ui::IndexPath&) override { return false; }

private:
    std::vector<std::pair<std::string, std::string>> rows_;
};
