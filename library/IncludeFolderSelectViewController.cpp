#include "library/IncludeFolderSelectViewController.h"

#include "foundation/BookCommon.h"
#include "library/LibraryToolbar.h"
#include "foundation/OptimizeFilename.h"
#include "foundation/Settings.h"
#include "foundation/ui/AboutViewControllerEx.h"
#include "foundation/ui/ColorDefine.h"
#include "foundation/ui/PopupMenuView.h"
#include "library/LibraryServices.h"
#include "platform/core/DeviceProfile.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/TransitionCoordinator.h"
#include "viewer/BrightnessSetting.h"

namespace {

constexpr const char* kCellIdentifier = "Cell";

}  // namespace

IncludeFolderSelectViewController::IncludeFolderSelectViewController(ui::TableViewStyle style)
    : ui::TableViewController(style) {}

IncludeFolderSelectViewController::~IncludeFolderSelectViewController() {
    if (popUpMenu_value_) popUpMenu_value_->setDelegate(nullptr);
}

// ---- Rows ---------------------------------------------------------------------------------------

std::string IncludeFolderSelectViewController::rowTitleForFolder(const std::string& folder, bool optimize) {
    const size_t slash = folder.rfind('/');
    const std::string last = slash == std::string::npos ? folder : folder.substr(slash + 1);
    return optimize ? OptimizeFilename::getOptimizedString(last) : last;
}

std::string IncludeFolderSelectViewController::rowSubtitleForFolder(const std::string& folder) {
    const size_t slash = folder.rfind('/');
    if (slash == std::string::npos) return "/";
    return folder.substr(0, slash) + "/";
}

int IncludeFolderSelectViewController::tableViewNumberOfRowsInSection(ui::TableView&, int) {
    return static_cast<int>(folderList_value_.size()) + 1;
}

std::shared_ptr<ui::TableViewCell> IncludeFolderSelectViewController::tableViewCellForRowAtIndexPath(
    ui::TableView& tv, const ui::IndexPath& ip) {
    auto cell = tv.dequeueReusableCell(kCellIdentifier);
    if (!cell) cell = std::make_shared<ui::TableViewCell>(ui::TableViewCellStyle::Subtitle, kCellIdentifier);
    ui::Label* title = cell->textLabel();
    ui::Label* subtitle = cell->detailTextLabel();
    title->setFont(gfx::Font::system(14));
    title->setLineBreakMode(ui::LineBreakMode::TruncateMiddle);
    if (subtitle) {
        subtitle->setFont(gfx::Font::system(14));
        subtitle->setLineBreakMode(ui::LineBreakMode::TruncateMiddle);
    }
    if (ip.row == 0) {
        title->setText(BookCommon::localizedStringWithOnOff("No specific folder"));
        title->setTextColor(ColorDefine::blueTextColor());
        if (subtitle) subtitle->setText("/");
    } else {
        const std::string& folder = folderList_value_[size_t(ip.row - 1)];
        const bool optimize = settings_value_ && settings_value_->isOptimizeFilename();
        title->setText(rowTitleForFolder(folder, optimize));
        title->setTextColor(ColorDefine::label());
        if (subtitle) subtitle->setText(rowSubtitleForFolder(folder));
    }
    cell->setAccessoryType(ui::TableViewCellAccessoryType::None);
    return cell;
}

void IncludeFolderSelectViewController::tableViewWillDisplayCell(ui::TableView&, ui::TableViewCell& cell,
                                                                 const ui::IndexPath& ip) {
    const bool marked = ip.row >= 1 && ip.row - 1 == bookMarkFolder_value_;
    cell.setBackgroundColor(marked ? ColorDefine::selectedBookBackground() : ColorDefine::background());
}

void IncludeFolderSelectViewController::tableViewDidSelectRowAtIndexPath(ui::TableView&, const ui::IndexPath& ip) {
    auto keep = shared_from_this();
    auto d = delegate_.lock();
    if (!d) return;
    if (ip.row == 0) {
        d->finishSelectIncludeFolder(std::nullopt, view(), false);
        return;
    }
    const size_t index = size_t(ip.row - 1);
    if (index >= folderList_value_.size()) return;
    d->finishSelectIncludeFolder(folderList_value_[index], view(), int64_t(index) == bookMarkFolder_value_);
}

// ---- Screen -------------------------------------------------------------------------------------

void IncludeFolderSelectViewController::viewDidLoad() {
    ui::TableViewController::viewDidLoad();
    setTitle(BookCommon::localizedStringWithOnOff("Select a folder"));
    bookMarkFolder_value_ = -1;
}

void IncludeFolderSelectViewController::readBookMarkFolder() {
    std::string target;
    BookCommon::getFilePageInfoWithFilename(targetFile_value_, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                            &target, nullptr, settings_value_ && settings_value_->iCloudEnable(),
                                            nullptr, false);
    if (target.empty()) {
        bookMarkFolder_value_ = -1;
        return;
    }
    // A saved folder that is no longer listed keeps the highlight found before.
    for (size_t i = 0; i < folderList_value_.size(); ++i) {
        if (folderList_value_[i] == target) {
            bookMarkFolder_value_ = int64_t(i);
            return;
        }
    }
}

void IncludeFolderSelectViewController::viewWillAppear(bool animated) {
    ui::TableViewController::viewWillAppear(animated);
    readBookMarkFolder();
    tableView()->reloadData();
    if (auto* nav = navigationController()) nav->setToolbarHidden(false, animated);
}

void IncludeFolderSelectViewController::viewDidAppear(bool animated) {
    ui::TableViewController::viewDidAppear(animated);
    setupToolbarItems(false);
    if (auto* nav = navigationController()) {
        nav->toolbar()->setTranslucent(true);
        nav->toolbar()->setBarStyle(ui::BarStyle::Default);
    }
}

void IncludeFolderSelectViewController::viewWillDisappear(bool animated) {
    ui::TableViewController::viewWillDisappear(animated);
    if (popUpMenu_value_) popUpMenu_value_->removePopup();
}

void IncludeFolderSelectViewController::viewWillTransitionToSize(
    ui::Size size, const std::shared_ptr<ui::TransitionCoordinator>& coordinator) {
    ui::TableViewController::viewWillTransitionToSize(size, coordinator);
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    auto alongside = [weak, size](const ui::TransitionCoordinatorContext&) {
        BookCommon::viewWillTransitionToSize(size);
        if (auto brightness = BrightnessSetting::getBrightnessSetting()) brightness->setOrientation_iOS8();
        auto self = std::static_pointer_cast<IncludeFolderSelectViewController>(weak.lock());
        if (self && self->popUpMenu_value_) self->popUpMenu_value_->removePopup();
    };
    if (coordinator)
        coordinator->animateAlongsideTransition(alongside);
    else
        alongside(ui::TransitionCoordinatorContext{});
}

// ---- Tool bar -----------------------------------------------------------------------------------

void IncludeFolderSelectViewController::setupToolbarItems(bool animated) {
    std::vector<ui::BarButtonItem::Ref> items;
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    auto call = [weak](void (IncludeFolderSelectViewController::*fn)()) {
        return [weak, fn](ui::BarButtonItem&) {
            if (auto self = std::static_pointer_cast<IncludeFolderSelectViewController>(weak.lock())) ((*self).*fn)();
        };
    };
    items = LibraryToolbar::items(
        BookCommon::arrayGetToolbarButtonItems(std::nullopt, false),
        [&](ToolbarItemModel::Action a) -> ui::BarButtonItem::Action {
            using Action = ToolbarItemModel::Action;
            switch (a) {
            case Action::PopupMenu: return call(&IncludeFolderSelectViewController::onPopupMenu);
            case Action::Settings: return call(&IncludeFolderSelectViewController::onSettingsBtn);
            case Action::RotationLock: return call(&IncludeFolderSelectViewController::onRotationLock);
            case Action::Download: return call(&IncludeFolderSelectViewController::onDownLoadBtn);
            case Action::Brightness: return BrightnessSetting::toolbarAction(weak);
            default: return {};
            }
        });
    setToolbarItems(items, animated);
}

void IncludeFolderSelectViewController::onPopupMenu() {
    auto* nav = navigationController();
    if (popUpMenu_value_ || !nav) return;
    popUpMenu_value_ = std::make_shared<PopupMenuView>();
    popUpMenu_value_->setDelegate(this);
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    auto call = [weak](void (IncludeFolderSelectViewController::*fn)()) {
        return [weak, fn] {
            if (auto self = std::static_pointer_cast<IncludeFolderSelectViewController>(weak.lock())) ((*self).*fn)();
        };
    };
    popUpMenu_value_->addItem("About", ui::Image::named("toolbar_infomation_w"),
                              call(&IncludeFolderSelectViewController::onAboutBtn));
    popUpMenu_value_->addItem("Home", ui::Image::named("toolbar_home_w"),
                              call(&IncludeFolderSelectViewController::onGoHomeBtn));
    popUpMenu_value_->addItem(BookCommon::localizedStringWithOnOff("Starting the MediaServer"),
                              ui::Image::named("toolbar_mediaserver_w"),
                              call(&IncludeFolderSelectViewController::onMediaServerBtn));
    popUpMenu_value_->popUpFromToolbar(*nav, *view());
}

void IncludeFolderSelectViewController::onRemovePopup() {
    popUpMenu_value_.reset();
    if (auto* nav = navigationController()) nav->setInteractivePopEnabled(true);
}

void IncludeFolderSelectViewController::onAboutBtn() {
    if (auto* nav = navigationController()) nav->pushViewController(std::make_shared<AboutViewControllerEx>(), true);
}

void IncludeFolderSelectViewController::onGoHomeBtn() {
    if (auto* nav = navigationController()) nav->popToRootViewController(true);
}

void IncludeFolderSelectViewController::onMediaServerBtn() {
    auto services = LibraryServices::installed();
    auto* nav = navigationController();
    if (!services || !nav) return;
    if (auto screen = services->makeMediaServerViewController(settings_value_)) nav->pushViewController(screen, true);
}

void IncludeFolderSelectViewController::onSettingsBtn() {
    if (popUpMenu_value_) return;
    auto services = LibraryServices::installed();
    auto* nav = navigationController();
    if (!services || !nav) return;
    if (auto screen = services->makeSettingViewController(settings_value_, 0)) nav->pushViewController(screen, true);
}

void IncludeFolderSelectViewController::onRotationLock() {
    BookCommon::setSoftwareRotationLock(!BookCommon::isSoftwareRotationLock());
    setupToolbarItems(true);
}
