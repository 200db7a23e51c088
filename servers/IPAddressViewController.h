#pragma once

#include "foundation/QNNetworkInfo.h"
#include "platform/ui/TableViewController.h"

#include <optional>
#include <string>

// This machine's IPv4 address on each kind of interface, written the way
// another machine must type it: the media-server screen wraps each address
// in its scheme ("http://") and port (":8080/"). The interfaces are read once,
// when the view loads. A server that listens on one address only is reached
// there alone: given that address, the list shows it and nothing else.
class IPAddressViewController : public ui::TableViewController {
public:
    explicit IPAddressViewController(ui::TableViewStyle style = ui::TableViewStyle::Plain)
        : ui::TableViewController(style) {}

    const std::string& prefix() const { return prefix_; }
    void setPrefix(std::string prefix) { prefix_ = std::move(prefix); }
    const std::string& suffix() const { return suffix_; }
    void setSuffix(std::string suffix) { suffix_ = std::move(suffix); }
    // The one address listened on ("" for every address of the machine).
    const std::string& listenAddress() const { return listenAddress_; }
    void setListenAddress(std::string address) { listenAddress_ = std::move(address); }

    // "Not connected" for no address, else prefix + address + suffix.
    std::string getDisplayString(const std::optional<std::string>& address) const;
    // Tests hand a fixed interface list; the system's is read otherwise.
    void setNetworkInfo(QNNetworkInfo info) { info_ = std::move(info); }
    const std::optional<QNNetworkInfo>& networkInfo() const { return info_; }

    void viewDidLoad() override;
    void viewWillTransitionToSize(ui::Size size, const std::shared_ptr<ui::TransitionCoordinator>& coordinator) override;
    int numberOfSectionsInTableView(ui::TableView&) override { return 1; }
    int tableViewNumberOfRowsInSection(ui::TableView&, int) override { return listenAddress_.empty() ? 4 : 1; }
    std::shared_ptr<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView&, const ui::IndexPath&) override;

private:
    std::optional<QNNetworkInfo> info_;
    std::string prefix_;
    std::string suffix_;
    std::string listenAddress_;
};
