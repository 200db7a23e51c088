#pragma once

#include "foundation/ui/TransferScreenFactory.h"

#include <functional>

// The remote sources' screens for the transfer container: the site list,
// the download progress and the site-list settings. The desktop backup tab
// belongs to the local network services, which hand their maker over at
// start-up (setSyncHostSelectMaker). Installed at start-up with install().
class RemoteTransferScreenFactory : public TransferScreenFactory {
public:
    using ScreenMaker = std::function<std::shared_ptr<ui::ViewController>()>;
    static void install();
    static void setSyncHostSelectMaker(ScreenMaker maker);

    std::shared_ptr<ui::ViewController> makeServerList(const std::shared_ptr<Settings>& settings,
                                                       const std::shared_ptr<BookTransfer>& bookTransfer,
                                                       const std::string& downloadPath) override;
    std::shared_ptr<ui::ViewController> makeBookTransfer(const std::shared_ptr<Settings>& settings,
                                                         const std::shared_ptr<BookTransfer>& bookTransfer) override;
    std::shared_ptr<ui::ViewController> makeSyncHostSelect() override;
    std::shared_ptr<ui::ViewController> makeServerListOtherSetting(
        const std::shared_ptr<Settings>& settings, const std::shared_ptr<BookTransfer>& bookTransfer) override;
};
