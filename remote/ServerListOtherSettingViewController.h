#pragma once

#include "foundation/ui/QNTableViewController.h"

#include <memory>

class BookTransfer;
class Settings;

// The site-list settings screen, tab 3 ("Configuration") of the transfer
// container. It opens the "Browser Types" switches of the server search and
// holds what its container hands it.
class ServerListOtherSettingViewController : public QNTableViewController {
public:
    // `style` 1 is the grouped table style.
    explicit ServerListOtherSettingViewController(int style)
        : QNTableViewController(style == 1 ? ui::TableViewStyle::Grouped : ui::TableViewStyle::Plain) {}

    void setSettings(std::shared_ptr<Settings> settings) { settings_ = std::move(settings); }
    const std::shared_ptr<Settings>& settings() const { return settings_; }
    void setBooktransfer(std::shared_ptr<BookTransfer> transfer) { bookTransfer_ = std::move(transfer); }
    const std::shared_ptr<BookTransfer>& bookTransfer() const { return bookTransfer_; }

    int numberOfSectionsInTableView(ui::TableView&) override { return 1; }
    int tableViewNumberOfRowsInSection(ui::TableView&, int) override { return 1; }
    std::shared_ptr<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView&, const ui::IndexPath&) override;
    void tableViewDidSelectRowAtIndexPath(ui::TableView& tv, const ui::IndexPath& ip) override;

private:
    std::shared_ptr<Settings> settings_;
    std::shared_ptr<BookTransfer> bookTransfer_;
};
