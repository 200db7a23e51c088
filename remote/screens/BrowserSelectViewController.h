#pragma once

#include "platform/ui/TableViewController.h"

// "Browser Types": four switches that turn the server search's discovery
// methods on and off. Each flag is true when its method is switched off;
// a missing key reads as on. Every change is written through at once, and
// the server search reads the same keys when it starts searching.
class BrowserSelectViewController : public ui::TableViewController {
public:
    static constexpr const char* kDisableLBSyncKey = "isDisableLBSync";
    static constexpr const char* kDisableMSBrowsingKey = "isDisableMSBrowsing";
    static constexpr const char* kDisableBonjourKey = "isDisableBonjour";
    static constexpr const char* kDisableSSDPKey = "isDisableSSDP";

    explicit BrowserSelectViewController(ui::TableViewStyle style = ui::TableViewStyle::Plain)
        : ui::TableViewController(style) {}

    bool isDisableLBSync() const { return isDisableLBSync_; }
    bool isDisableMSBrowsing() const { return isDisableMSBrowsing_; }
    bool isDisableBonjour() const { return isDisableBonjour_; }
    bool isDisableSSDP() const { return isDisableSSDP_; }

    void onSelectLBMEdiaServer(bool on);
    void onSelectMSBrowsing(bool on);
    void onSelectBonjour(bool on);
    void onSelectSSDP(bool on);

    void loadFromFile();
    void SaveToFile() const;

    void viewDidLoad() override;
    void viewWillTransitionToSize(ui::Size size, const std::shared_ptr<ui::TransitionCoordinator>& coordinator) override;
    int numberOfSectionsInTableView(ui::TableView&) override { return 1; }
    int tableViewNumberOfRowsInSection(ui::TableView&, int) override { return 4; }
    std::shared_ptr<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView&, const ui::IndexPath&) override;

private:
    bool isDisableLBSync_ = false;
    bool isDisableMSBrowsing_ = false;
    bool isDisableBonjour_ = false;
    bool isDisableSSDP_ = false;
};
