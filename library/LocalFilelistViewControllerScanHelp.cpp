// The local list's scan button (its sheet and "Archive This Folder") and the
// help shown over a nearly empty library on its first start.
#include "library/LocalFilelistViewController.h"

#include "foundation/ThemeLoader.h"
#include "library/ThemeSelectViewController.h"

#include "library/LocalBookOpener.h"

#include "foundation/ActiveLog.h"
#include "engine/BookReaderEx.h"
#include "foundation/BookCommon.h"
#include "library/LibraryToolbar.h"
#include "foundation/BookHistory.h"
#include "foundation/HistoryCollector.h"
#include "foundation/StatisticsStore.h"
#include "foundation/ui/QNAlertView.h"
#include "viewer/BookViewController.h"
#include "foundation/LastStatusRestore.h"
#include "foundation/Settings.h"
#include "foundation/iCloudKeyValueStoreCommon.h"
#include "foundation/ui/IndicatorWithBGView.h"
#include "foundation/ui/PopupMenuView.h"
#include "foundation/ui/TextInputViewController.h"
#include "engine/ZipCreate.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "library/FolderDetailViewControllerEx.h"
#include "library/LibraryServices.h"
#include "library/MediaServerOpener.h"
#include "foundation/QNKeyChain.h"
#include "foundation/QNUrl.h"
#include "foundation/ui/TransferMultiViewPush.h"
#include "platform/core/FileManager.h"
#include "platform/core/Path.h"
#include "platform/core/PropertyList.h"
#include "platform/ui/Application.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/NavigationItem.h"
#include "platform/ui/Window.h"
#include "viewer/BrightnessSetting.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>

namespace {

using sys::Path;

std::string join(const std::string& folder, const std::string& name) {
    return Path::stringByAppendingPathComponent(folder, name);
}

}  // namespace

void LocalFilelistViewController::onScanBtn(const ui::BarButtonItem::Ref& item) {
    if (popUpMenuView_) return;
    removeInitialHelpView();
    auto tr = [](const char* key) { return BookCommon::localizedStringWithOnOff(key); };
    auto sheet = std::make_shared<QNActionSheet>();
    sheet->setTitle(tr("Scanning book"));
    sheet->setUserTag(kTagScanSheet);
    ScanSheetButtons buttons;
    if (BookCommon::isFolderScanFiles(folderPath())) {
        sheet->addButtonWithTitle(tr("Add Pages"));
        sheet->addButtonWithTitle(tr("Archive This Folder"));
        sheet->addButtonWithTitle(tr("Cancel"));
        sheet->setCancelButtonIndex(2);
        buttons = {0, 1, -1};
    } else {
        sheet->addButtonWithTitle(tr("Scan New Book"));
        sheet->addButtonWithTitle(tr("Cancel"));
        sheet->setCancelButtonIndex(1);
        buttons = {-1, -1, 0};
    }
    sheet->setUserInfo(buttons);
    sheet->setDelegate(std::weak_ptr<QNActionSheetDelegate>(std::static_pointer_cast<QNActionSheetDelegate>(selfRef())));
    if (item)
        sheet->showInView(view(), *this, item);
    else
        sheet->showInView(view(), *this, actionSheetSourceRect());
}

void LocalFilelistViewController::answerScanSheet(const ScanSheetButtons& buttons, int64_t buttonIndex) {
    auto* nav = navigationController();
    const std::string folder = folderPath();
    if (buttonIndex == buttons.newBookScan || buttonIndex == buttons.addPage) {
        const bool newBook = buttonIndex == buttons.newBookScan;
        auto services = LibraryServices::installed();
        auto screen = services ? services->makeScanScreen(newBook, folder) : nullptr;
        if (!screen || !nav) return;
        BookCommon::setRotationTempUnlock(true);
        setNextIsNotFileSelectView(true);
        if (newBook) {
            nav->pushViewController(screen, true);
            return;
        }
        std::weak_ptr<ui::NavigationController> weakNav =
            std::dynamic_pointer_cast<ui::NavigationController>(nav->shared_from_this());
        sys::RunLoop::main().schedule(0.1, [weakNav, screen] {
            if (auto n = weakNav.lock()) n->pushViewController(screen, true);
        });
        return;
    }
    if (buttonIndex == buttons.archive) {
        if (ui::Window* window = ui::Application::shared().keyWindow()) {
            archiveIndicator_ = std::make_shared<IndicatorWithBGView>();
            window->addSubview(archiveIndicator_);
            archiveIndicator_->setPosition();
            archiveIndicator_->startAnimating();
        }
        std::weak_ptr<ui::ViewController> weak = weak_from_this();
        sys::RunLoop::main().schedule(0.0, [weak] {
            if (auto self = std::dynamic_pointer_cast<LocalFilelistViewController>(weak.lock())) self->archiveCreate();
        });
    }
}

bool LocalFilelistViewController::archiveCreate() {
    const std::string folder = folderPath();
    std::vector<std::string> pages;
    if (auto entries = readDirectoryEntries(folder))
        for (const auto& e : *entries)
            if (!e.isDirectory && Path::pathExtension(e.name) == "jpg") pages.push_back(e.name);
    const std::string name = Path::lastPathComponent(folder) + ".zip";
    const std::string zip = join(Path::stringByDeletingLastPathComponent(folder), name);
    const bool ok = ZipCreate::createZip(zip, folder, pages);
    auto tr = [](const char* key) { return BookCommon::localizedStringWithOnOff(key); };
    auto alert = ok ? std::make_shared<QNAlertView>(name, tr("Archive File Created"), std::weak_ptr<QNAlertViewDelegate>(),
                                                    tr("OK"), std::vector<std::string>{})
                    : std::make_shared<QNAlertView>(tr("Error Creating Archive File"), "",
                                                    std::weak_ptr<QNAlertViewDelegate>(), tr("OK"),
                                                    std::vector<std::string>{});
    alert->show();
    if (ok) setNeedUpdateFlag(navigationController());
    if (archiveIndicator_) {
        archiveIndicator_->stopAnimating();
        archiveIndicator_->removeFromSuperview();
        archiveIndicator_.reset();
    }
    return ok;
}

void LocalFilelistViewController::AddIniticalHelpView() {
    if (initialHelpView_) return;
    // The help sits on the window, so it is this list's only while the list
    // is in front: a screen pushed or presented over it as it appeared (the
    // restore of the last folder, remote list or book) keeps it away. Such a
    // screen has already taken this list through viewWillDisappear, which
    // would not come again to remove it.
    if (appearance() != ui::ViewController::Appearance::Appeared) return;
    if (auto* nav = navigationController(); nav && nav->topViewController() != this) return;
    ui::Window* window = view() ? view()->window() : nullptr;
    if (!window) window = ui::Application::shared().keyWindow();
    auto image = ui::Image::named("bk_download_help");
    if (!window || !image) return;
    auto help = std::make_shared<ui::ImageView>(image);
    auto addLabel = [&](const char* key, ui::Rect frame) {
        auto label = std::make_shared<ui::Label>(frame);
        label->setText(BookCommon::localizedStringWithOnOff(key));
        label->setFont(gfx::Font::system(16));
        label->setTextColor(ui::Color::whiteColor());
        label->setTextAlignment(ui::TextAlignment::Left);
        label->setBackgroundColor(ui::Color::clear());
        help->addSubview(label);
    };
    addLabel("Welcome to Leafbright", ui::Rect(26, 40, 235, 50));
    addLabel("Tap to import books.", ui::Rect(65, 76, 235, 50));
    initialHelpView_ = help;
    window->addSubview(help);
    layoutInitialStartupHelpView(window->bounds().size);
    help->setAlpha(0);
    std::weak_ptr<ui::View> weak = help;
    ui::View::animate(0.3, [weak] {
        if (auto v = weak.lock()) v->setAlpha(1);
    });
}

void LocalFilelistViewController::removeInitialHelpView() {
    if (!initialHelpView_) return;
    initialHelpView_->removeFromSuperview();
    initialHelpView_.reset();
}

void LocalFilelistViewController::layoutInitialStartupHelpView(ui::Size area) {
    if (!initialHelpView_) return;
    ui::Size size = initialHelpView_->frame().size;
    initialHelpView_->setFrame(
        ui::Rect(double(int64_t(area.width / 20)), area.height - size.height - 45, size.width, size.height));
}
