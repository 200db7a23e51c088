#pragma once

#include "foundation/ui/TransferScreenFactory.h"

// The remote sources' screens for the transfer container: the site list,
// the download progress and the site-list settings. The desktop backup tab
// belongs to the local network services and is not made here. Installed at
// start-up with install().
class RemoteTransferScreenFactory : public TransferScreenFactory {
public:
    static void install();

    std::shared_ptr<ui::ViewController> makeServerList(const std::shared_ptr<Settings>& settings,
                                                       const std::shared_ptr<BookTransfer>& bookTransfer,
                                                       const std::string& downloadPath) override;
    std::shared_ptr<ui::ViewController> makeBookTransfer(const std::shared_ptr<Settings>& settings,
                                                         const std::shared_ptr<BookTransfer>& bookTransfer) override;
    std::shared_ptr<ui::ViewController> makeSyncHostSelect() override;
    std::shared_ptr<ui::ViewController> makeServerListOtherSetting(
        const std::shared_ptr<Settings>& settings, const std::shared_ptr<BookTransfer>& bookTransfer) override;
};
