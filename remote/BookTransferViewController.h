#pragma once

#include "foundation/ui/QNViewController.h"

#include <memory>

class BookTransfer;
class Settings;

// The download progress screen, tab 1 ("Progress") of the transfer
// container. Its rows arrive with the transfer queue; for now it holds the
// queue and settings its container hands it.
class BookTransferViewController : public QNViewController {
public:
    BookTransferViewController() = default;

    void setSettings_(std::shared_ptr<Settings> settings) { settings_ = std::move(settings); }
    const std::shared_ptr<Settings>& settings() const { return settings_; }
    void setBookTransfer_(std::shared_ptr<BookTransfer> transfer) { bookTransfer_ = std::move(transfer); }
    const std::shared_ptr<BookTransfer>& bookTransfer() const { return bookTransfer_; }

private:
    std::shared_ptr<Settings> settings_;
    std::shared_ptr<BookTransfer> bookTransfer_;
};
