#pragma once

#include "platform/ui/ViewController.h"

#include <memory>

class BookTransfer;
class Settings;

// The site-list settings screen, tab 3 ("Configuration") of the transfer
// container. Its rows arrive with the remote sources; for now it holds what
// its container hands it.
class ServerListOtherSettingViewController : public ui::ViewController {
public:
    // `style` 1 is the grouped table style.
    explicit ServerListOtherSettingViewController(int style) : style_(style) {}

    int style() const { return style_; }
    void setSettings(std::shared_ptr<Settings> settings) { settings_ = std::move(settings); }
    const std::shared_ptr<Settings>& settings() const { return settings_; }
    void setBooktransfer(std::shared_ptr<BookTransfer> transfer) { bookTransfer_ = std::move(transfer); }
    const std::shared_ptr<BookTransfer>& bookTransfer() const { return bookTransfer_; }

private:
    int style_;
    std::shared_ptr<Settings> settings_;
    std::shared_ptr<BookTransfer> bookTransfer_;
};
