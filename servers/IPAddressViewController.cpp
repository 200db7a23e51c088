#include "servers/IPAddressViewController.h"

#include "foundation/BookCommon.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TableViewCell.h"
#include "platform/ui/TransitionCoordinator.h"

namespace {
std::string tr(const std::string& key) { return BookCommon::localizedStringWithOnOff(key); }
}  // namespace

std::string IPAddressViewController::getDisplayString(const std::optional<std::string>& address) const {
    if (!address) return tr("Not connected");
    return prefix_ + *address + suffix_;
}

void IPAddressViewController::viewDidLoad() {
    ui::TableViewController::viewDidLoad();
    if (!info_) info_.emplace();
}

void IPAddressViewController::viewWillTransitionToSize(ui::Size size,
                                                       const std::shared_ptr<ui::TransitionCoordinator>& coordinator) {
    ui::TableViewController::viewWillTransitionToSize(size, coordinator);
    auto alongside = [size](const ui::TransitionCoordinatorContext&) { BookCommon::viewWillTransitionToSize(size); };
    if (coordinator)
        coordinator->animateAlongsideTransition(alongside);
    else
        alongside(ui::TransitionCoordinatorContext{});
}

std::shared_ptr<ui::TableViewCell> IPAddressViewController::tableViewCellForRowAtIndexPath(ui::TableView& tv,
                                                                                         const ui::IndexPath& ip) {
    auto cell = tv.dequeueReusableCell("Cell");
    if (!cell) cell = std::make_shared<ui::TableViewCell>(ui::TableViewCellStyle::Value1, "Cell");
    cell->setSelectionStyle(ui::TableViewCellSelectionStyle::None);
    static const char* const kTitles[] = {"Wifi", "Cellular", "Bridge", "VPN"};
    if (ip.row < 0 || ip.row > 3) return cell;
    std::optional<std::string> address;
    if (info_) {
        switch (ip.row) {
        case 0: address = info_->ipAddressWifi(); break;
        case 1: address = info_->ipAddress3G(); break;
        case 2: address = info_->ipAddressBridge(); break;
        default: address = info_->ipAddressVPN(); break;
        }
    }
    cell->textLabel()->setText(tr(kTitles[ip.row]));
    cell->detailTextLabel()->setText(getDisplayString(address));
    return cell;
}
