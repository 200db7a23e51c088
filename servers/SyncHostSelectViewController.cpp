#include "servers/SyncHostSelectViewController.h"

#include "foundation/BookCommon.h"
#include "platform/ui/Label.h"
#include "platform/ui/TableViewCell.h"

std::string SyncHostSelectViewController::noHostText() {
    return BookCommon::localizedStringWithOnOff("No desktop backup host is available here.");
}

void SyncHostSelectViewController::viewDidLoad() {
    QNTableViewController::viewDidLoad();
    setTitle(BookCommon::localizedStringWithOnOff("Backup"));
}

int SyncHostSelectViewController::tableViewNumberOfRowsInSection(ui::TableView&, int) {
    return hosts_.empty() ? 1 : int(hosts_.size());
}

std::shared_ptr<ui::TableViewCell> SyncHostSelectViewController::tableViewCellForRowAtIndexPath(
    ui::TableView& table, const ui::IndexPath& ip) {
    auto cell = table.dequeueReusableCell("host");
    if (!cell) cell = std::make_shared<ui::TableViewCell>(ui::TableViewCellStyle::Default, "host");
    if (hosts_.empty()) {
        // Nothing to pick: the row only tells why the list is empty.
        cell->textLabel()->setText(noHostText());
        cell->textLabel()->setNumberOfLines(0);
        cell->textLabel()->setTextColor(ui::Color::secondaryLabel());
        cell->setSelectionStyle(ui::TableViewCellSelectionStyle::None);
    } else {
        cell->textLabel()->setText(hosts_[size_t(ip.row)]);
        cell->textLabel()->setTextColor(ui::Color::label());
        cell->setSelectionStyle(ui::TableViewCellSelectionStyle::Default);
    }
    return cell;
}
