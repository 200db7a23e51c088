#pragma once

#include "foundation/BookHistory.h"
#include "platform/ui/TableViewController.h"

#include <memory>
#include <vector>

class LocalFilelistViewController;

// The reading history: the books opened last, newest first. Picking one
// stores it as the place to jump to, closes the screen and lets the list
// that opened it walk there (its folder, then the book).
class HistoryViewController : public ui::TableViewController {
public:
    explicit HistoryViewController(ui::TableViewStyle style = ui::TableViewStyle::Grouped);

    void setCalledViewController(std::weak_ptr<LocalFilelistViewController> vc) { called_ = std::move(vc); }
    const std::vector<BookHistory>& entries() const { return entries_; }
    // What picking row `index` does.
    void selectEntry(size_t index);

    void viewDidLoad() override;
    int numberOfSectionsInTableView(ui::TableView&) override { return 1; }
    int tableViewNumberOfRowsInSection(ui::TableView&, int section) override;
    std::shared_ptr<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView&, const ui::IndexPath&) override;
    std::optional<std::string> tableViewTitleForFooterInSection(ui::TableView&, int section) override;
    void tableViewDidSelectRowAtIndexPath(ui::TableView&, const ui::IndexPath&) override;

private:
    std::weak_ptr<LocalFilelistViewController> called_;
    std::vector<BookHistory> entries_;
};
