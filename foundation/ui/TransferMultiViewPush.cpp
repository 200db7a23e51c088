#include "foundation/ui/TransferMultiViewPush.h"

#include "foundation/BookCommon.h"
#include "foundation/ui/QNMultiViewController.h"
#include "foundation/ui/QNTableViewController.h"
#include "foundation/ui/QNViewController.h"
#include "foundation/ui/TransferScreenFactory.h"
#include "platform/ui/NavigationController.h"

std::shared_ptr<QNMultiViewController> TransferMultiViewPush::pushMultiTransferViewWithViewController(
    ui::ViewController& viewController, int64_t startTab, const std::shared_ptr<Settings>& settings,
    const std::shared_ptr<BookTransfer>& bookTransfer, const std::string& downloadPath) {
    auto text = [](const char* key) { return BookCommon::localizedStringWithOnOff(key); };

    auto container = std::make_shared<QNMultiViewController>();
    container->setStartTab(startTab);
    container->setCloseButtonText(text("Close"));
    auto nav = std::make_shared<ui::NavigationController>(container);
    container->setTitle(text("Remote"));

    auto factory = TransferScreenFactory::installed();
    std::shared_ptr<ui::ViewController> serverList, progress, backup, configuration;
    if (factory) {
        serverList = factory->makeServerList(settings, bookTransfer, downloadPath);
        progress = factory->makeBookTransfer(settings, bookTransfer);
        backup = factory->makeSyncHostSelect();
        configuration = factory->makeServerListOtherSetting(settings, bookTransfer);
    }
    if (!serverList) serverList = std::make_shared<QNTableViewController>(ui::TableViewStyle::Grouped);
    if (!progress) progress = std::make_shared<QNViewController>();
    if (!backup) backup = std::make_shared<QNTableViewController>(ui::TableViewStyle::Grouped);
    if (!configuration) configuration = std::make_shared<QNTableViewController>(ui::TableViewStyle::Grouped);

    auto parent = viewController.shared_from_this();
    container->addTableViewController(serverList, parent, nav, ui::Image::named("tab_download"), text("Download"));
    container->addViewController(progress, parent, nav, ui::Image::named("tab_status"), text("Progress"));
    container->addTableViewController(backup, parent, nav, ui::Image::named("tab_backup"), text("Backup"));
    container->addTableViewController(configuration, parent, nav, ui::Image::named("tab_config"),
                                      text("Configuration"));
    container->setNavigationController(nav);
    BookCommon::lbCommonPresentViewController(viewController, nav, true);
    return container;
}
