// The remote list's menus, shortcuts and tool bar: the popup menu, the action sheet, links to the
// folder shown and the site added to the site list.
#include "remote/screens/RemoteFileListViewController.h"

#include "cloud/TrustedServer.h"
#include "cloud/HttpEasy.h"
#include "engine/RemoteStreamRead.h"
#include "engine/ThumbsCreate.h"
#include "foundation/ArraySort.h"
#include "foundation/BookCommon.h"
#include "foundation/LastStatusRestore.h"
#include "foundation/QNKeyChain.h"
#include "foundation/QNTextEncoding.h"
#include "foundation/AppDelegateServices.h"
#include "foundation/QNUrl.h"
#include "foundation/Settings.h"
#include "foundation/UrlPercent.h"
#include "foundation/ui/IndicatorWithBGView.h"
#include "foundation/ui/PopupMenuView.h"
#include "foundation/ui/QNActionSheet.h"
#include "foundation/ui/QNAlertView.h"
#include "foundation/ui/TransferMultiViewPush.h"
#include "library/ArchivePasswordViewController.h"
#include "library/BookshelfBookButton.h"
#include "library/LibraryServices.h"
#include "library/LibraryToolbar.h"
#include "library/LocalFilelistViewController.h"
#include "platform/core/FileManager.h"
#include "platform/core/Path.h"
#include "remote/BookTransfer.h"
#include "remote/BookTransferViewController.h"
#include "platform/core/PropertyList.h"
#include "platform/core/UserDefaults.h"
#include "platform/ui/Application.h"
#include "platform/ui/Button.h"
#include "platform/ui/Keyboard.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/NavigationItem.h"
#include "platform/ui/RefreshControl.h"
#include "platform/ui/SegmentedControl.h"
#include "platform/ui/TextField.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/Window.h"
#include "remote/OnlineFileStart.h"
#include "remote/listing/FileDownload.h"
#include "library/IncludeFolderSelectViewController.h"
#include "remote/listing/GoogleDriveShareLink.h"
#include "remote/screens/ShowHttpAuth.h"
#include "viewer/BookViewController.h"
#include "viewer/BrightnessSetting.h"

#include <algorithm>
#include <unordered_set>

namespace {

using Path = sys::Path;

std::string tr(const std::string& key) { return BookCommon::localizedStringWithOnOff(key); }

constexpr const char* kStreamModeKey = "isStreamMode";
constexpr const char* kNeverAskPdfKey = "NeverAskPdfStreamingNotice";

bool isCloud(const std::string& url) {
    return BookCommon::isGoogleDrive(url) || BookCommon::isOneDrive(url) || BookCommon::isDropbox(url) ||
           BookCommon::isBox(url);
}

}  // namespace

// ---- Menus, shortcuts, tool bar ------------------------------------------------------------------------

void RemoteFileListViewController::showToolBar() {
    auto* nav = navigationController();
    if (!nav) return;
    nav->toolbar()->setTranslucent(true);
    nav->toolbar()->setBarStyle(darkBars() ? ui::BarStyle::Black : ui::BarStyle::Default);
    styleStreamingSegment();
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    auto call = [weak](void (RemoteFileListViewController::*fn)()) {
        return [weak, fn](ui::BarButtonItem&) {
            if (auto self = std::dynamic_pointer_cast<RemoteFileListViewController>(weak.lock())) ((*self).*fn)();
        };
    };
    auto items = LibraryToolbar::items(
        BookCommon::arrayGetToolbarButtonItemsForRemote(), [&](ToolbarItemModel::Action a) -> ui::BarButtonItem::Action {
            using Action = ToolbarItemModel::Action;
            switch (a) {
            case Action::PopupMenu: return call(&RemoteFileListViewController::onPopupMenu);
            case Action::Settings: return call(&FilelistBaseViewController::onSettingsBtn);
            case Action::RotationLock: return call(&RemoteFileListViewController::onRotationLock);
            case Action::Brightness: return BrightnessSetting::toolbarAction(weak);
            case Action::ActionButton:
                return [weak](ui::BarButtonItem& item) {
                    if (auto self = std::dynamic_pointer_cast<RemoteFileListViewController>(weak.lock()))
                        self->onActionButton(item.shared_from_this());
                };
            case Action::Download: return call(&RemoteFileListViewController::onDownLoadBtn);
            default: return {};  // brightness comes with its panel
            }
        });
    setToolbarItems(items, false);
    nav->setToolbarHidden(false, true);
}

void RemoteFileListViewController::styleStreamingSegment() {
    if (!streamingSelectSegment_) return;
    // The chosen segment keeps its light thumb; the other is written on the
    // bar itself, light over the shelf as the bar's title (its dark bar, or
    // from system version 26 the shelf through a bar without background).
    streamingSelectSegment_->setTitleColor(fileListViewMode() == 1 ? ui::Color::whiteColor() : ui::Color::label(),
                                           ui::ControlStateNormal);
    streamingSelectSegment_->setTitleColor(ui::Color::label(), ui::ControlStateSelected);
}

void RemoteFileListViewController::onPopupMenu() {
    auto* nav = navigationController();
    if (popUpMenuView_ || !nav) return;
    popUpMenuView_ = std::make_shared<PopupMenuView>();
    popUpMenuView_->setDelegate(this);
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    auto call = [weak](auto fn) {
        return [weak, fn] {
            if (auto self = std::dynamic_pointer_cast<RemoteFileListViewController>(weak.lock())) ((*self).*fn)();
        };
    };
    popUpMenuView_->addItem("About", ui::Image::named("toolbar_infomation_w"),
                            call(&FilelistBaseViewController::onAboutBtn));
    popUpMenuView_->addItem("Home", ui::Image::named("toolbar_home_w"), call(&FilelistBaseViewController::onGoHomeBtn));
    if (auto back = returnToViewController())
        popUpMenuView_->addItem(back->title(), ui::Image::named("toolbar_return_w"),
                                call(&RemoteFileListViewController::onGoLocalBtn));
    popUpMenuView_->addItem(tr("History"), ui::Image::named("toolbar_history"),
                            call(&RemoteFileListViewController::onHistoryBtn));
    popUpMenuView_->addItem(tr("Starting the MediaServer"), ui::Image::named("toolbar_mediaserver_w"),
                            call(&FilelistBaseViewController::onMediaServerBtn));
    ui::View* navView = nav->view();
    const ui::Rect safe = BookCommon::getScreentSafeRect(*navView);
    ui::Point origin = nav->toolbar()->convertPointTo({0, 0}, navView);
    origin.x += navView->safeAreaInsets().left;
    if (sys::DeviceProfile::current().systemMajorVersion() >= 26) origin = {safe.origin.x, safe.size.height};
    popUpMenuView_->setSize(safe, origin);
    popUpMenuView_->addPopupView(*navView);
    nav->setInteractivePopEnabled(false);
}

void RemoteFileListViewController::onHistoryBtn() {
    // The history jumps through the library's root screen: the chosen book
    // is opened from there, whichever list asked.
    auto services = LibraryServices::installed();
    auto* nav = navigationController();
    if (!services || !nav || nav->viewControllers().empty()) return;
    auto root = std::dynamic_pointer_cast<LocalFilelistViewController>(nav->viewControllers().front());
    if (!root) return;
    if (auto screen = services->makeHistoryViewController(root))
        BookCommon::lbCommonPresentViewController(*this, screen, true);
}

std::vector<ui::KeyCommand> RemoteFileListViewController::keyCommands() const {
    // An open menu takes the keys alone.
    if (popUpMenuView_) return PopupMenuView::keyCommandsOfOwner(popUpMenuView_.get());
    return FilelistBaseViewController::keyCommands();
}

void RemoteFileListViewController::onRemovePopup() {
    popUpMenuView_.reset();
    if (auto* nav = navigationController()) nav->setInteractivePopEnabled(true);
}

void RemoteFileListViewController::onRotationLock() {
    BookCommon::setSoftwareRotationLock(!BookCommon::isSoftwareRotationLock());
    showToolBar();
}

void RemoteFileListViewController::onGoLocalBtn() {
    auto back = returnToViewController();
    if (auto* nav = navigationController(); nav && back) nav->popToViewController(back.get(), true);
}

void RemoteFileListViewController::jumpStart() {
    if (auto* nav = navigationController()) nav->popToRootViewController(false);
}

void RemoteFileListViewController::didSelectMediaServer(const sys::PlistDictionary& site) {
    auto back = returnToViewController();
    auto* nav = navigationController();
    if (!back || !nav) return;
    nav->popToViewController(back.get(), false);
    if (auto local = std::dynamic_pointer_cast<LocalFilelistViewController>(back)) local->didSelectMediaServer(site);
}

void RemoteFileListViewController::onActionButton(const ui::BarButtonItem::Ref& item) {
    if (popUpMenuView_) return;
    auto sheet = std::make_shared<QNActionSheet>();
    sheet->setTitle(title());
    sheet->setUserTag(kTagShortcutSheet);
    sheet->addButtonWithTitle(tr("Create Shortcut"));
    const bool cloud = targetURL_ && isCloud(*targetURL_);
    if (!cloud) sheet->addButtonWithTitle(tr("Add Site to Server List"));
    sheet->addButtonWithTitle(tr("Cancel"));
    sheet->setCancelButtonIndex(cloud ? 1 : 2);
    sheet->setDelegate(std::weak_ptr<QNActionSheetDelegate>(std::dynamic_pointer_cast<QNActionSheetDelegate>(selfRef())));
    if (item) sheet->showInView(view(), *this, item);
    else sheet->showInView(view(), *this, actionSheetSourceRect());
}

void RemoteFileListViewController::actionSheetClickedButtonAtIndex(QNActionSheet& sheet, int64_t buttonIndex) {
    if (sheet.userTag() == kTagResumeSheet) {
        // Answered: the next start does not ask again.
        const std::string lastFile = BookCommon::getLastBookSettingFilePath();
        const auto* book = std::any_cast<std::string>(&sheet.userInfo());
        if (book && LocalFilelistViewController::readLastBookPath(lastFile) == *book)
            sys::FileManager::removeItem(lastFile);
    }
    if (buttonIndex == sheet.cancelButtonIndex()) return;
    if (sheet.userTag() == kTagResumeSheet) {
        if (const auto* book = std::any_cast<std::string>(&sheet.userInfo())) resumeLastReading(*book);
        return;
    }
    if (sheet.userTag() != kTagShortcutSheet) return;
    if (buttonIndex == 0) {
        auto alert = std::make_shared<QNAlertView>(tr("Please enter shortcut name"), "",
                                                   std::weak_ptr<QNAlertViewDelegate>(selfRef()), tr("Cancel"),
                                                   std::vector<std::string>{tr("OK")});
        alert->setAlertViewStyle(QNAlertView::kStylePlainText);
        alert->setUserTag(kTagShortcutName);
        alert->show();
    } else if (buttonIndex == 1) {
        addSiteToServerList();
    }
}

void RemoteFileListViewController::willPresentAlertView(QNAlertView& alert) {
    if (alert.userTag() != kTagShortcutName) return;
    if (auto* field = alert.textFieldAtIndex(0)) field->setText(title());
}

std::optional<std::string> RemoteFileListViewController::shortcutFileName(const std::string& typed) {
    std::string name = typed;
    std::replace(name.begin(), name.end(), '/', '_');
    auto confined = BookCommon::confinePathComponent(name + ".shortcut");
    if (!confined || name.empty() || name[0] == '.' || confined->size() > 255) return std::nullopt;
    return confined;
}

sys::PlistDictionary RemoteFileListViewController::makeSiteRecord(const std::string& siteTitle) {
    const std::string url = targetURL_.value_or("");
    std::string decoded = UrlPercent::decoded(url);
    if (!QNTextEncoding::stringWithCString(decoded.c_str(), std::string(QNTextEncoding::kUTF8)) ||
        decoded.find('\0') != std::string::npos)
        decoded = url;
    sys::PlistDictionary record{{"url", sys::PlistValue(decoded)},
                                {"title", sys::PlistValue(siteTitle)},
                                {"id", sys::PlistValue(BookCommon::createUUID())}};
    if (fixUsername_) record.set("username", sys::PlistValue(*fixUsername_));
    if (otherSetting_) record.set("other", sys::PlistValue(*otherSetting_));
    return record;
}

namespace {
// The stored site's password follows the new record; typed ones never do.
void copySitePassword(const std::optional<std::string>& fixID, const std::string& newID) {
    if (!fixID) return;
    auto pw = QNKeyChain::getPasswordWithAccount(*fixID, std::string(RemoteFileListViewController::kSiteKeychainService));
    if (pw && !pw->empty())
        QNKeyChain::addOrUpdatePassword(*pw, newID, RemoteFileListViewController::kSiteKeychainService);
}
}  // namespace

bool RemoteFileListViewController::createLink(const std::string& name) {
    auto file = shortcutFileName(name);
    bool ok = false;
    sys::PlistDictionary record;
    if (file && !downloadPath_.empty()) {
        record = makeSiteRecord(name);
        ok = sys::PropertyList::writeFile(sys::PlistValue(record), Path::stringByAppendingPathComponent(downloadPath_, *file));
    }
    if (!ok) {
        showAlert(tr("Error Creating Shortcut"));
        return false;
    }
    LocalFilelistViewController::setNeedUpdateFlag(navigationController());
    copySitePassword(fixID_, record.getString("id"));
    return true;
}

void RemoteFileListViewController::onSameNameLinkCreate(const std::string& name) {
    auto alert = std::make_shared<QNAlertView>("", tr("Shortcut Already Exists"),
                                               std::weak_ptr<QNAlertViewDelegate>(selfRef()), tr("Cancel"),
                                               std::vector<std::string>{tr("Overwrite"), tr("Rename")});
    alert->setUserTag(kTagShortcutExists);
    alert->setUserInfo(name);
    alert->show();
}

bool RemoteFileListViewController::addSiteToServerList() {
    const std::string file = Path::stringByAppendingPathComponent(BookCommon::getSettingsFolder(), ".hostslist.lbs");
    auto list = sys::PropertyList::readFile(file);
    if (!list || !list->isArray()) return false;
    auto record = makeSiteRecord(title());
    sys::PlistArray sites = list->asArray();
    sites.insert(sites.begin(), sys::PlistValue(record));
    if (!sys::PropertyList::writeFile(sys::PlistValue(sites), file)) return false;
    copySitePassword(fixID_, record.getString("id"));
    return true;
}

void RemoteFileListViewController::alertViewClickedButtonAtIndex(QNAlertView& alert, int64_t buttonIndex) {
    const bool cancel = buttonIndex == alert.cancelButtonIndex();
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    switch (alert.userTag()) {
    case kTagPdfNotice:
        if (cancel) return;
        if (buttonIndex == 2) {
            sys::UserDefaults::standard().setBool(true, kNeverAskPdfKey);
            sys::UserDefaults::standard().synchronize();
        }
        sys::RunLoop::main().schedule(0.1, [weak] {
            auto self = std::dynamic_pointer_cast<RemoteFileListViewController>(weak.lock());
            if (self && self->lastSeletItem_)
                self->startOnlineFile(self->lastSeletItem_, std::nullopt, false, false, self->targetFolderTemp_,
                                      self->targetFolderOffsetTemp_, ui::Rect{});
        });
        return;
    case kTagShortcutName: {
        if (cancel) return;
        std::string name;
        if (auto* field = alert.textFieldAtIndex(0)) name = field->text();
        std::replace(name.begin(), name.end(), '/', '_');
        auto file = shortcutFileName(name);
        if (file && sys::FileManager::fileExists(Path::stringByAppendingPathComponent(downloadPath_, *file))) {
            sys::RunLoop::main().schedule(0.0, [weak, name] {
                if (auto self = std::dynamic_pointer_cast<RemoteFileListViewController>(weak.lock()))
                    self->onSameNameLinkCreate(name);
            });
            return;
        }
        createLink(name);
        return;
    }
    case kTagShortcutExists: {
        const auto* name = std::any_cast<std::string>(&alert.userInfo());
        if (!name || cancel) return;
        if (buttonIndex == 1) {
            createLink(*name);
        } else {
            auto again = std::make_shared<QNAlertView>(tr("Please enter shortcut name"), "",
                                                       std::weak_ptr<QNAlertViewDelegate>(selfRef()), tr("Cancel"),
                                                       std::vector<std::string>{tr("OK")});
            again->setAlertViewStyle(QNAlertView::kStylePlainText);
            again->setUserTag(kTagShortcutName);
            again->show();
        }
        return;
    }
    case kTagUntrusted: {
        cancelListDownload();
        if (cancel) return;
        const auto* url = std::any_cast<std::string>(&alert.userInfo());
        if (!url || *url != untrustedServer_.url) return;
        if (buttonIndex == 1) TrustedServer::trust(*url, untrustedServer_.publicKey);
        const bool ownSite = HttpEasy::sameOrigin(siteURL_.value_or(targetURL_.value_or("")), *url);
        getOnce(*url, std::nullopt, ownSite ? rawUsername_ : std::nullopt, ownSite ? rawPassword_ : std::nullopt, false,
                true);
        return;
    }
    case kTagRequireSmb2:
        if (cancel) return;
        if (settings()) settings()->setSmbSignatureRequiredSetting();
        showAlert(tr("Settings have been changed. Please try again."));
        return;
    default: FilelistBaseViewController::alertViewClickedButtonAtIndex(alert, buttonIndex);
    }
}

// ---- Screen -------------------------------------------------------------------------------------------

void RemoteFileListViewController::viewDidLoad() {
    FilelistBaseViewController::viewDidLoad();
    // A folder's name (the row tapped, a page's title, a site's name) is
    // shown as it is: it was decoded, if ever, where it was read. Only a
    // list titled by its address shows that address's last component,
    // decoded.
    const bool titledByAddress = listTitle_ && ((targetURL_ && *listTitle_ == *targetURL_) ||
                                                listTitle_->find("://") != std::string::npos);
    std::optional<std::string> t = titledByAddress ? lastUrlComponentString(listTitle_) : listTitle_;
    if (targetURL_ && isCloud(*targetURL_)) {
        auto u = QNUrl::URLWithString(*targetURL_);
        if (u && u->path() == "/") {
            if (BookCommon::isGoogleDrive(*targetURL_)) t = "Google Drive";
            else if (BookCommon::isOneDrive(*targetURL_)) t = "OneDrive";
            else if (BookCommon::isDropbox(*targetURL_)) t = "Dropbox";
            else t = "Box";
        }
    }
    setTitle(t.value_or(""));
    // A row held as long as a cover on the shelf is a long press too.
    tableView()->setRowLongPressSeconds(BookshelfBookButton::kLongPressSeconds);
    setIsStreamingMode(sys::UserDefaults::standard().boolForKey(kStreamModeKey));
    streamingSelectSegment_ = std::make_shared<ui::SegmentedControl>(
        std::vector<std::string>{tr("Download"), tr("Streaming")});
    streamingSelectSegment_->setSelectedSegmentIndex(isStreamingMode() ? 1 : 0);
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    streamingSelectSegment_->addAction(ui::ControlEventValueChanged, [weak](ui::Control& c) {
        auto self = std::dynamic_pointer_cast<RemoteFileListViewController>(weak.lock());
        auto* seg = dynamic_cast<ui::SegmentedControl*>(&c);
        if (self && seg) self->selectStreamMode(seg->selectedSegmentIndex());
    });
    ui::Rect f = streamingSelectSegment_->frame();
    f.size = streamingSelectSegment_->sizeThatFits({200, 30});
    streamingSelectSegment_->setFrame(f);
    navigationItem()->setRightBarButtonItem(ui::BarButtonItem::withCustomView(streamingSelectSegment_));

    downloadButton_ = std::make_shared<ui::Button>(ui::ButtonType::Custom);
    downloadButton_->titleLabel()->setFont(gfx::Font::system(BookCommon::isDeviceType5_5inch() ? 17 : 15));
    downloadButton_->setTitleColor(ui::Color::whiteColor());
    downloadButton_->setBackgroundImage(BookCommon::imageWithColor(gfx::Rgba{48 / 255.0, 134 / 255.0, 181 / 255.0, 1}));
    downloadButton_->setBackgroundImage(BookCommon::imageWithColor(gfx::Rgba{150 / 255.0, 150 / 255.0, 150 / 255.0, 1}),
                                        ui::ControlStateHighlighted);
    downloadButton_->setAlpha(0);
    downloadButton_->addAction(ui::ControlEventTouchUpInside, [weak](ui::Control&) {
        if (auto self = std::dynamic_pointer_cast<RemoteFileListViewController>(weak.lock())) self->onDownloadButton();
    });
    if (auto* nav = navigationController()) nav->view()->addSubview(downloadButton_);
}

void RemoteFileListViewController::viewWillAppear(bool animated) {
    needUpdateFilelist();
    if (downloadButton_ && !downloadButton_->superview())
        if (auto* nav = navigationController()) nav->view()->addSubview(downloadButton_);
    if (settings() && settings()->isMultipleSelectDownload()) {
        setDownloadButtonRect(isLandscapeNow());
        // Room below the last row, so that it can scroll clear of the button.
        const double h = BookCommon::getDeviceDisplayType() == 1 ? 200.0 : 139.0;
        tableView()->setTableFooterView(std::make_shared<ui::View>(ui::Rect{0, 0, tableView()->bounds().width(), h}));
    } else {
        tableView()->setTableFooterView(nullptr);
    }
    FilelistBaseViewController::viewWillAppear(animated);
}

void RemoteFileListViewController::viewDidAppear(bool animated) {
    showToolBar();
    FilelistBaseViewController::viewDidAppear(animated);
    auto* nav = navigationController();
    if (nav) nav->setInteractivePopEnabled(true);
    if (LastStatusRestore::getRestoreMode()) {
        auto next = makeChild();
        const long n = LastStatusRestore::getRemoteListViewStachCount(*this, navigationStackForStatus());
        if (LastStatusRestore::restoreRemoteViewController(*next, n + 1)) {
            if (nav) nav->pushViewController(next, false);
            return;
        }
        const std::string lastFile = BookCommon::getLastBookSettingFilePath();
        const auto last = LocalFilelistViewController::readLastBookPath(lastFile);
        LastStatusRestore::setRestoreMode(0);
        const bool silent = settings() && settings()->getIsSilentResume();
        // Asked about, the book stays recorded until the question is
        // answered: a run that ends meanwhile asks again at the next start.
        if (!last || silent) sys::FileManager::removeItem(lastFile);
        if (last) {
            const std::string book = *last;
            if (silent) {
                sys::RunLoop::main().schedule(0.0, [weak = weak_from_this(), book] {
                    if (auto self = std::dynamic_pointer_cast<RemoteFileListViewController>(weak.lock()))
                        self->resumeLastReading(book);
                });
            } else {
                auto sheet = std::make_shared<QNActionSheet>();
                sheet->setTitle(tr("Resume reading book?"));
                sheet->addButtonWithTitle(tr("Yes"));
                sheet->addButtonWithTitle(tr("No"));
                sheet->setCancelButtonIndex(1);
                sheet->setUserTag(kTagResumeSheet);
                sheet->setUserInfo(book);
                sheet->setDelegate(std::weak_ptr<QNActionSheetDelegate>(
                    std::dynamic_pointer_cast<QNActionSheetDelegate>(selfRef())));
                sheet->showInView(view(), *this, actionSheetSourceRect());
            }
        }
    } else {
        LastStatusRestore::updateLastStatusRemote(*this);
    }
    observeKeyboard(true);
    if (LastStatusRestore::getJumpMode()) {
        const auto book = LastStatusRestore::getJumpBook();
        bool here = false;
        for (const auto& item : itemList()) here = here || (book && item->remoteURL() == book);
        const auto folder = LastStatusRestore::getRemoteFolder();
        if (!here && folder && targetURL_ != folder) {
            // A book of another folder (chosen in the history over this
            // list): the library's root opens that folder, then the book.
            jumpStart();
            return;
        }
        if (book) resumeLastReading(*book);
        LastStatusRestore::setJumpMode(false);
        LastStatusRestore::setForceEnableGotoLastFoler(false);
    }
}

void RemoteFileListViewController::viewWillDisappear(bool animated) {
    if (isLoading_ && fileDownload_) fileDownload_->cancelFileListDownload();
    if (onlinefileStart_) onlinefileStart_->viewWillDisappear();
    FilelistBaseViewController::viewWillDisappear(animated);
    if (downloadButton_) {
        auto button = downloadButton_;
        ui::View::animate(0.2, [button] { button->setAlpha(0); });
    }
    if (popUpMenuView_) popUpMenuView_->removePopup();
    observeKeyboard(false);
}
