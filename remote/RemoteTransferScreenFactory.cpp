#include "remote/RemoteTransferScreenFactory.h"

#include "foundation/AppDelegateServices.h"
#include "remote/BookTransferViewController.h"
#include "remote/ServerListOtherSettingViewController.h"
#include "remote/ServerListViewControllerEx.h"

namespace {
constexpr int kGroupedStyle = 1;

// A screen that opens the transfer tabs without a queue of its own (the
// library) gets the application's one queue.
std::shared_ptr<BookTransfer> queueOrShared(const std::shared_ptr<BookTransfer>& queue) {
    if (queue) return queue;
    auto services = AppDelegateServices::installed();
    return services ? services->transferQueue() : nullptr;
}
}  // namespace

void RemoteTransferScreenFactory::install() {
    TransferScreenFactory::install(std::make_shared<RemoteTransferScreenFactory>());
}

std::shared_ptr<ui::ViewController> RemoteTransferScreenFactory::makeServerList(
    const std::shared_ptr<Settings>& settings, const std::shared_ptr<BookTransfer>& bookTransfer,
    const std::string& downloadPath) {
    auto screen = std::make_shared<ServerListViewControllerEx>(kGroupedStyle);
    screen->setSettings(settings);
    screen->setBookTransfer(queueOrShared(bookTransfer));
    screen->setDownloadPath(downloadPath);
    return screen;
}

std::shared_ptr<ui::ViewController> RemoteTransferScreenFactory::makeBookTransfer(
    const std::shared_ptr<Settings>& settings, const std::shared_ptr<BookTransfer>& bookTransfer) {
    auto screen = std::make_shared<BookTransferViewController>();
    screen->setSettings_(settings);
    screen->setBookTransfer_(queueOrShared(bookTransfer));
    return screen;
}

namespace {
RemoteTransferScreenFactory::ScreenMaker& syncHostSelectMaker() {
    static RemoteTransferScreenFactory::ScreenMaker maker;
    return maker;
}
}  // namespace

void RemoteTransferScreenFactory::setSyncHostSelectMaker(ScreenMaker maker) { syncHostSelectMaker() = std::move(maker); }

std::shared_ptr<ui::ViewController> RemoteTransferScreenFactory::makeSyncHostSelect() {
    return syncHostSelectMaker() ? syncHostSelectMaker()() : nullptr;
}

std::shared_ptr<ui::ViewController> RemoteTransferScreenFactory::makeServerListOtherSetting(
    const std::shared_ptr<Settings>& settings, const std::shared_ptr<BookTransfer>& bookTransfer) {
    auto screen = std::make_shared<ServerListOtherSettingViewController>(kGroupedStyle);
    screen->setSettings(settings);
    screen->setBooktransfer(queueOrShared(bookTransfer));
    return screen;
}
