#pragma once

#include <memory>
#include <string>

class BookTransfer;
class Settings;

namespace ui {
class ViewController;
}

// Makes the screens of the transfer container's tabs. They belong to the
// remote-source and desktop-sync layers above this one, which install a
// factory at start-up. A tab whose screen is not made (no factory, or a
// null answer) shows an empty screen of the same kind.
class TransferScreenFactory {
public:
    virtual ~TransferScreenFactory() = default;

    // Tab 0: the remote-site list (a grouped table screen).
    virtual std::shared_ptr<ui::ViewController> makeServerList(const std::shared_ptr<Settings>& settings,
                                                               const std::shared_ptr<BookTransfer>& bookTransfer,
                                                               const std::string& downloadPath) = 0;
    // Tab 1: the download progress screen.
    virtual std::shared_ptr<ui::ViewController> makeBookTransfer(const std::shared_ptr<Settings>& settings,
                                                                 const std::shared_ptr<BookTransfer>& bookTransfer) = 0;
    // Tab 2: the desktop backup host list (a grouped table screen).
    virtual std::shared_ptr<ui::ViewController> makeSyncHostSelect() = 0;
    // Tab 3: the site-list settings (a grouped table screen).
    virtual std::shared_ptr<ui::ViewController> makeServerListOtherSetting(
        const std::shared_ptr<Settings>& settings, const std::shared_ptr<BookTransfer>& bookTransfer) = 0;

    static void install(std::shared_ptr<TransferScreenFactory> factory);
    static std::shared_ptr<TransferScreenFactory> installed();
};
