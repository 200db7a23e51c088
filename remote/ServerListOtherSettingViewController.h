#pragma once

#include "foundation/ui/QNTableViewController.h"

#include <memory>

class BookTransfer;
class Settings;

// The site-list settings screen, tab 3 ("Configuration") of the transfer
// container. Its rows arrive with the remote sources; for now it holds what
// its container hands it.
class ServerListOtherSettingViewController : public QNTableViewController {
public:
    // `style` 1 is the grouped table style.
    explicit ServerListOtherSettingViewController(int style)
        : QNTableViewController(style == 1 ? ui::TableViewStyle::Grouped : ui::TableViewStyle::Plain) {}

    void setSettings(std::shared_ptr<Settings> settings) { settings_ = std::move(settings); }
    const std::shared_ptr<Settings>& settings() const { return settings_; }
    void setBooktransfer(std::shared_ptr<BookTransfer> transfer) { bookTransfer_ = std::move(transfer); }
    const std::shared_ptr<BookTransfer>& bookTransfer() const { return bookTransfer_; }

private:
    std::shared_ptr<Settings> settings_;
    std::shared_ptr<BookTransfer> bookTransfer_;
};
