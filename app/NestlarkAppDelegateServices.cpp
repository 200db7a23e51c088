// The application delegate's screens of other layers: what the lower layers ask it to make.
#include "app/NestlarkAppDelegate.h"

#include "app/BookImport.h"
#include "app/CrashReportAlertPresenter.h"
#include "app/LBStartViewController.h"
#include "app/LBStartViewControllerOldOS.h"
#include "app/LeafbrightProgram.h"
#include "app/SampleBook.h"
#include "cloud/CloudService.h"
#include "cloud/GoogleDriveAPI.h"
#include "engine/BookReaderEx.h"
#include "engine/ThumbsCreate.h"
#include "foundation/ActiveLog.h"
#include "foundation/BookCommon.h"
#include "foundation/LastStatusRestore.h"
#include "foundation/NetworkIndicatorWithKey.h"
#include "foundation/QNKeyChain.h"
#include "foundation/Settings.h"
#include "foundation/UrlPercent.h"
#include "foundation/ui/AuxiliaryScreenFactory.h"
#include "foundation/ui/ColorDefine.h"
#include "foundation/ui/QNAlertView.h"
#include "foundation/ui/QNNoticeView.h"
#include "library/LocalBookOpener.h"
#include "library/LocalFilelistViewController.h"
#include "library/PreparedBookOpen.h"
#include "remote/BookTransfer.h"
#include "remote/RemoteTransferScreenFactory.h"
#include "platform/core/AppPaths.h"
#include "platform/core/Clock.h"
#include "platform/core/FileManager.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/Path.h"
#include "platform/core/PropertyList.h"
#include "platform/core/RunLoop.h"
#include "platform/core/UserDefaults.h"
#include "platform/core/Unicode.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/Application.h"
#include "platform/ui/Image.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Keyboard.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Window.h"
#include "screens/AuxiliaryScreenMaker.h"
#include "screens/JacketTrimController.h"
#include "screens/MicSettingViewController.h"
#include "screens/HistoryViewController.h"
#include "screens/PassCodeInputViewEx.h"
#include "screens/PassCodeRequet.h"
#include "screens/SettingViewControllerEx.h"
#include "screens/StartupPasscodeInputViewController.h"
#include "servers/MediaServerMain.h"
#include "servers/MediaServerViewController.h"
#include "servers/SyncHostSelectViewController.h"
#include "smb/CIFSStackManager.h"
#include "viewer/BookViewController.h"
#include "viewer/BrightnessSetting.h"
#include "viewer/MicInput.h"
#include "viewer/SoundMicInput.h"

#include <atomic>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <utility>
#include <vector>

// ---- Screens of other layers --------------------------------------------------------------------

std::shared_ptr<ui::ViewController> NestlarkAppDelegate::makeHistoryViewController(
    std::weak_ptr<LocalFilelistViewController> calledViewController) {
    auto history = std::make_shared<HistoryViewController>(ui::TableViewStyle::Grouped);
    history->setCalledViewController(std::move(calledViewController));
    return std::make_shared<ui::NavigationController>(history);
}

std::shared_ptr<ui::ViewController> NestlarkAppDelegate::makeMediaServerViewController(std::shared_ptr<Settings> s) {
    auto screen = std::make_shared<MediaServerViewController>();
    screen->setSettings(std::move(s));
    cifsStackDelegate_ = screen;
    return screen;
}

std::shared_ptr<BookTransfer> NestlarkAppDelegate::makeBookTransfer(std::shared_ptr<Settings> s) {
    auto transfer = std::make_shared<BookTransfer>();
    transfer->setSettings_(s ? std::move(s) : settings_);
    std::weak_ptr<ui::NavigationController> nav = navigationController_;
    // A finished file shows when the user goes back to a list.
    transfer->setFinishedObserver([nav](const TransferItem&) {
        if (auto n = nav.lock()) LocalFilelistViewController::setNeedUpdateFlag(n.get());
    });
    transfer->restoreState();
    return transfer;
}

std::shared_ptr<ui::ViewController> NestlarkAppDelegate::makeSettingViewController(std::shared_ptr<Settings> s,
                                                                                  int settingViewType) {
    auto screen = std::make_shared<SettingViewControllerEx>(ui::TableViewStyle::Grouped);
    screen->setSettings_(std::move(s));
    screen->setSettingViewType(settingViewType);
    return screen;
}

void NestlarkAppDelegate::requestPasscode(const PassCodeTarget& target, std::weak_ptr<PassCodeRequetDelegate> delegate) {
    auto request = std::make_shared<PassCodeRequet>();
    request->setPassCodeHash(target.passCodeHash);
    request->setPath(target.path);
    request->setPathFromBooks(target.pathFromBooks);
    request->setActionID(target.actionID);
    request->setDelegate(std::move(delegate));
    request->requestPasscode();
}

std::shared_ptr<ui::ViewController> NestlarkAppDelegate::makePassCodeInputView(
    const PassCodeTarget& target, std::weak_ptr<PassCodeInputViewExDelegate> delegate) {
    auto screen = std::make_shared<PassCodeInputViewEx>();
    screen->setPassCodeHash_(target.passCodeHash);
    screen->setPath_(target.path);
    screen->setPathFromBooks_(target.pathFromBooks);
    screen->setActionID_(target.actionID);
    screen->setDelegate(std::move(delegate));
    return screen;
}
