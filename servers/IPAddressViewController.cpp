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
    auto addressOf = [this](int row) -> std::optional<std::string> {
        if (!info_) return std::nullopt;
        switch (row) {
        case 0: return info_->ipAddressWifi();
        case 1: return info_->ipAddress3G();
        case 2: return info_->ipAddressBridge();
        default: return info_->ipAddressVPN();
        }
    };
    if (!listenAddress_.empty()) {
        // The one address listened on, under its interface's name where it is one of them.
        std::string title = tr("Listen on");
        for (int row = 0; row < 4; ++row)
            if (addressOf(row) == listenAddress_) title = tr(kTitles[row]);
        const bool v6 = listenAddress_.find(':') != std::string::npos;
        cell->textLabel()->setText(title);
        cell->detailTextLabel()->setText(getDisplayString(v6 ? "[" + listenAddress_ + "]" : listenAddress_));
        return cell;
    }
    if (ip.row < 0 || ip.row > 3) return cell;
    cell->textLabel()->setText(tr(kTitles[ip.row]));
    cell->detailTextLabel()->setText(getDisplayString(addressOf(ip.row)));
    return cell;
}
