#pragma once

#include "platform/ui/RefreshControl.h"
#include "platform/ui/TableView.h"
#include "platform/ui/ViewController.h"

#include <memory>

namespace ui {

// A screen whose view is a table, with itself as the table's data source
// and delegate. Subclasses answer the table's questions. On appearing it
// clears the selection (animated) unless told not to; editing the screen
// edits the table.
class TableViewController : public ViewController, public TableViewDataSource, public TableViewDelegate {
public:
    explicit TableViewController(TableViewStyle style = TableViewStyle::Plain);

    TableView* tableView();
    std::shared_ptr<TableView> tableViewRef();
    TableViewStyle tableViewStyle() const { return style_; }
    bool clearsSelectionOnViewWillAppear() const { return clearsSelection_; }
    void setClearsSelectionOnViewWillAppear(bool on) { clearsSelection_ = on; }
    RefreshControl* refreshControl();
    void setRefreshControl(std::shared_ptr<RefreshControl> rc);

    void loadView() override;
    void viewWillAppear(bool animated) override;
    void setEditing(bool editing, bool animated) override;

    // Empty table by default.
    int tableViewNumberOfRowsInSection(TableView&, int) override { return 0; }
    std::shared_ptr<TableViewCell> tableViewCellForRowAtIndexPath(TableView&, const IndexPath&) override;

private:
    TableViewStyle style_;
    bool clearsSelection_ = true;
    bool reloadedOnce_ = false;
};

}  // namespace ui
