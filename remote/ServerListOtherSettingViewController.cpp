#include "remote/ServerListOtherSettingViewController.h"

#include "foundation/BookCommon.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TableViewCell.h"
#include "remote/screens/BrowserSelectViewController.h"

std::shared_ptr<ui::TableViewCell> ServerListOtherSettingViewController::tableViewCellForRowAtIndexPath(
    ui::TableView& tv, const ui::IndexPath&) {
    auto cell = tv.dequeueReusableCell("setting");
    if (!cell) cell = std::make_shared<ui::TableViewCell>(ui::TableViewCellStyle::Default, "setting");
    cell->textLabel()->setText(BookCommon::localizedStringWithOnOff("Browser Types"));
    cell->setAccessoryType(ui::TableViewCellAccessoryType::DisclosureIndicator);
    return cell;
}

void ServerListOtherSettingViewController::tableViewDidSelectRowAtIndexPath(ui::TableView& tv,
                                                                            const ui::IndexPath& ip) {
    tv.deselectRowAtIndexPath(ip, true);
    // Inside the transfer container the screens go on the container's stack.
    auto nav = qnNavigationController();
    ui::NavigationController* target = nav ? nav.get() : navigationController();
    if (!target) return;
    target->pushViewController(std::make_shared<BrowserSelectViewController>(ui::TableViewStyle::Grouped), true);
}
