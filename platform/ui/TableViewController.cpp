#include "platform/ui/TableViewController.h"

namespace ui {

TableViewController::TableViewController(TableViewStyle style) : style_(style) {}

void TableViewController::loadView() {
    auto t = std::make_shared<TableView>(Screen::main().bounds(), style_);
    t->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
    t->setDataSource(this);
    t->setDelegate(this);
    setView(t);
}

TableView* TableViewController::tableView() { return static_cast<TableView*>(view()); }

std::shared_ptr<TableView> TableViewController::tableViewRef() {
    return std::static_pointer_cast<TableView>(viewRef());
}

RefreshControl* TableViewController::refreshControl() { return tableView()->refreshControl(); }

void TableViewController::setRefreshControl(std::shared_ptr<RefreshControl> rc) {
    tableView()->setRefreshControl(std::move(rc));
}

void TableViewController::viewWillAppear(bool animated) {
    ViewController::viewWillAppear(animated);
    TableView* t = tableView();
    if (!reloadedOnce_) {
        reloadedOnce_ = true;
        t->reloadData();
    } else if (clearsSelection_) {
        for (auto& ip : t->indexPathsForSelectedRows()) t->deselectRowAtIndexPath(ip, animated);
    }
}

void TableViewController::setEditing(bool editing, bool animated) {
    ViewController::setEditing(editing, animated);
    tableView()->setEditing(editing, animated);
}

std::shared_ptr<TableViewCell> TableViewController::tableViewCellForRowAtIndexPath(TableView& tv, const IndexPath& ip) {
    return tv.dequeueReusableCell("Cell", ip);
}

}  // namespace ui
