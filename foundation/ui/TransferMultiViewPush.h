#pragma once

#include <cstdint>
#include <memory>
#include <string>

class BookTransfer;
class QNMultiViewController;
class Settings;

namespace ui {
class ViewController;
}

// Opens the transfer screen: a four-tab container (remote sites, download
// progress, desktop backup, site-list settings) in its own navigation
// controller, presented over the screen that asks.
class TransferMultiViewPush {
public:
    TransferMultiViewPush() = delete;

    // Answers the container it presented.
    static std::shared_ptr<QNMultiViewController> pushMultiTransferViewWithViewController(
        ui::ViewController& viewController, int64_t startTab, const std::shared_ptr<Settings>& settings,
        const std::shared_ptr<BookTransfer>& bookTransfer, const std::string& downloadPath);
};
