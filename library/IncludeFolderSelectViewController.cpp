#include "library/IncludeFolderSelectViewController.h"

#include "foundation/BookCommon.h"
#include "foundation/OptimizeFilename.h"
#include "foundation/Settings.h"
#include "foundation/ui/ColorDefine.h"
#include "foundation/ui/PopupMenuView.h"
#include "library/LibraryCommonToolbar.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/TransitionCoordinator.h"
#include "viewer/BrightnessSetting.h"

namespace {

constexpr const char* kCellIdentifier = "Cell";

}  // namespace

IncludeFolderSelectViewController::IncludeFolderSelectViewController(ui::TableViewStyle style)
    : ui::TableViewController(style) {}

IncludeFolderSelectViewController::~IncludeFolderSelectViewController() = default;

void IncludeFolderSelectViewController::setSettings_(std::shared_ptr<Settings> s) {
    settings_value_ = std::move(s);
    if (toolbar_) toolbar_->setSettings(settings_value_);
}

PopupMenuView* IncludeFolderSelectViewController::popUpMenu_() const {
    return toolbar_ ? toolbar_->popUpMenu() : nullptr;
}

std::vector<ui::KeyCommand> IncludeFolderSelectViewController::keyCommands() const {
    return PopupMenuView::keyCommandsOfOwner(popUpMenu_());
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
    toolbar_ = LibraryCommonToolbar::create(weak_from_this());
    toolbar_->setSettings(settings_value_);
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
    if (toolbar_) toolbar_->setupToolbarItems(false);
    if (auto* nav = navigationController()) {
        nav->toolbar()->setTranslucent(true);
        nav->toolbar()->setBarStyle(ui::BarStyle::Default);
    }
}

void IncludeFolderSelectViewController::viewWillDisappear(bool animated) {
    ui::TableViewController::viewWillDisappear(animated);
    if (toolbar_) toolbar_->removePopup();
}

void IncludeFolderSelectViewController::viewWillTransitionToSize(
    ui::Size size, const std::shared_ptr<ui::TransitionCoordinator>& coordinator) {
    ui::TableViewController::viewWillTransitionToSize(size, coordinator);
    std::weak_ptr<LibraryCommonToolbar> toolbar = toolbar_;
    auto alongside = [toolbar, size](const ui::TransitionCoordinatorContext&) {
        BookCommon::viewWillTransitionToSize(size);
        if (auto brightness = BrightnessSetting::getBrightnessSetting()) brightness->setOrientation_iOS8();
        if (auto bar = toolbar.lock()) bar->removePopup();
    };
    if (coordinator)
        coordinator->animateAlongsideTransition(alongside);
    else
        alongside(ui::TransitionCoordinatorContext{});
}
