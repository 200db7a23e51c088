#include "servers/MediaServerViewController.h"

#include "foundation/BookCommon.h"

MediaServerViewController::MediaServerViewController() : ui::TableViewController(ui::TableViewStyle::Grouped) {}

void MediaServerViewController::viewDidLoad() {
    setTitle(BookCommon::localizedStringWithOnOff("MediaServer"));
}

std::string MediaServerViewController::statusText(int status) {
    switch (status) {
    case 2: return BookCommon::localizedStringWithOnOff("Starting");
    case 3: return BookCommon::localizedStringWithOnOff("Running");
    case 4: return BookCommon::localizedStringWithOnOff("Stopping");
    default: return BookCommon::localizedStringWithOnOff("Stopped");
    }
}

void MediaServerViewController::didChangeServerStatus(int status) {
    lastStatus_ = status;
    if (isViewLoaded()) tableView()->reloadData();
}

std::shared_ptr<ui::TableViewCell> MediaServerViewController::tableViewCellForRowAtIndexPath(ui::TableView& tv,
                                                                                           const ui::IndexPath& ip) {
    auto cell = tv.dequeueReusableCell("server");
    if (!cell) cell = std::make_shared<ui::TableViewCell>(ui::TableViewCellStyle::Value1, "server");
    cell->setSelectionStyle(ui::TableViewCellSelectionStyle::None);
    if (ip.row == 0) {
        cell->textLabel()->setText(BookCommon::localizedStringWithOnOff("HTTP Server"));
        cell->detailTextLabel()->setText(BookCommon::localizedStringWithOnOff("Not available"));
    } else {
        cell->textLabel()->setText(BookCommon::localizedStringWithOnOff("SMB Server"));
        cell->detailTextLabel()->setText(lastStatus_ == 0 || lastStatus_ == 1
                                             ? BookCommon::localizedStringWithOnOff("Not available")
                                             : statusText(lastStatus_));
    }
    return cell;
}

std::optional<std::string> MediaServerViewController::tableViewTitleForFooterInSection(ui::TableView&, int) {
    return BookCommon::localizedStringWithOnOff("The media servers are not available in this version.");
}
