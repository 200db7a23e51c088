#include "library/FolderSelectViewController.h"

#include "foundation/ArraySort.h"
#include "foundation/BookCommon.h"
#include "foundation/Settings.h"
#include "foundation/ui/ColorDefine.h"
#include "library/LibraryServices.h"
#include "platform/core/FileManager.h"
#include "platform/core/Path.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/TransitionCoordinator.h"

namespace {

constexpr const char* kCellIdentifier = "Cell";
constexpr const char* kLockPrefix = ".lock_";

std::string tr(const char* key) { return BookCommon::localizedStringWithOnOff(key); }

std::string stripLockPrefix(const std::string& name) {
    if (name.size() > 6 && name.compare(0, 6, kLockPrefix) == 0) return name.substr(6);
    return name;
}

}  // namespace

FolderSelectViewController::FolderSelectViewController(ui::TableViewStyle style) : ui::TableViewController(style) {}

std::vector<std::string> FolderSelectViewController::readFolderNames(const std::string& folder, bool isRoot) {
    std::vector<std::string> names;
    auto entries = sys::FileManager::entriesOfDirectory(folder);
    if (!entries) return names;
    const bool inBooksRoot = folder == BookCommon::getBooksRootFolder();
    for (const auto& e : *entries) {
        if (isRoot && e.name == ".SpecialDir") continue;
        if (!e.name.empty() && e.name[0] == '.' && !BookCommon::isFolderNameChangedForLock(e.name)) continue;
        // A link to a folder elsewhere would let a move leave the library.
        if (e.type != sys::FileManager::FileType::Directory) continue;
        if (inBooksRoot && e.name == "Inbox") continue;
        names.push_back(e.name);
    }
    ArraySort::sortFileListArrayNSString(names, nullptr);
    return names;
}

bool FolderSelectViewController::hasExtraRow() const { return settings_value_ && isRoot_value_; }

// ---- Screen -------------------------------------------------------------------------------------

void FolderSelectViewController::viewDidLoad() {
    ui::TableViewController::viewDidLoad();
    const bool downloadsHome = settings_value_ && settings_value_->filelistRootMode() != 0;
    if (!basePath_value_)
        basePath_value_ = downloadsHome ? BookCommon::getBooksTempRoot() : BookCommon::getBooksRootFolder();
    const std::string& base = *basePath_value_;
    const std::string last = sys::Path::lastPathComponent(base);
    if (base == BookCommon::getBooksTempRoot())
        setTitle(downloadsHome ? tr("HOME") : BookCommon::getTempFolderName());
    else if (last == ".BookLibrary")
        setTitle(tr("Library"));
    else
        setTitle(stripLockPrefix(last));
    filelistArray_value_ = readFolderNames(base, isRoot_value_);
}

void FolderSelectViewController::viewWillAppear(bool animated) {
    ui::TableViewController::viewWillAppear(animated);
    if (auto* nav = navigationController()) nav->setToolbarHidden(false, animated);
}

void FolderSelectViewController::viewDidAppear(bool animated) {
    ui::TableViewController::viewDidAppear(animated);
    std::weak_ptr<ui::ViewController> weak = weak_from_this();
    auto call = [weak](void (FolderSelectViewController::*fn)()) {
        return [weak, fn](ui::BarButtonItem&) {
            if (auto self = std::static_pointer_cast<FolderSelectViewController>(weak.lock())) ((*self).*fn)();
        };
    };
    setToolbarItems({ui::BarButtonItem::flexibleSpace(),
                     ui::BarButtonItem::withTitle(tr("Cancel"), ui::BarButtonItemStyle::Plain,
                                                  call(&FolderSelectViewController::onCancel)),
                     ui::BarButtonItem::flexibleSpace(),
                     ui::BarButtonItem::withTitle(selectFolderText_value_, ui::BarButtonItemStyle::Done,
                                                  call(&FolderSelectViewController::onChoose)),
                     ui::BarButtonItem::flexibleSpace()},
                    false);
    if (auto* nav = navigationController()) nav->toolbar()->setBarStyle(ui::BarStyle::Default);
}

void FolderSelectViewController::viewWillTransitionToSize(ui::Size size,
                                                          const std::shared_ptr<ui::TransitionCoordinator>& c) {
    ui::TableViewController::viewWillTransitionToSize(size, c);
    auto alongside = [size](const ui::TransitionCoordinatorContext&) { BookCommon::viewWillTransitionToSize(size); };
    if (c)
        c->animateAlongsideTransition(alongside);
    else
        alongside(ui::TransitionCoordinatorContext{});
}

void FolderSelectViewController::onChoose() {
    auto keep = shared_from_this();
    if (auto d = delegate_.lock()) d->finishSelectFolder(*this, basePath_value_);
}

void FolderSelectViewController::onCancel() {
    auto keep = shared_from_this();
    if (auto d = delegate_.lock()) d->finishSelectFolder(*this, std::nullopt);
}

// ---- Table --------------------------------------------------------------------------------------

int FolderSelectViewController::tableViewNumberOfRowsInSection(ui::TableView&, int) {
    return static_cast<int>(filelistArray_value_.size()) + (hasExtraRow() ? 1 : 0);
}

std::shared_ptr<ui::TableViewCell> FolderSelectViewController::tableViewCellForRowAtIndexPath(
    ui::TableView& tv, const ui::IndexPath& ip) {
    auto cell = tv.dequeueReusableCell(kCellIdentifier);
    if (!cell) cell = std::make_shared<ui::TableViewCell>(ui::TableViewCellStyle::Default, kCellIdentifier);
    ui::Label* title = cell->textLabel();
    title->setFont(gfx::Font::system(14));
    title->setLineBreakMode(ui::LineBreakMode::TruncateMiddle);
    cell->setAccessoryType(ui::TableViewCellAccessoryType::DisclosureIndicator);
    if (ip.row < static_cast<int>(filelistArray_value_.size())) {
        const std::string& name = filelistArray_value_[size_t(ip.row)];
        const std::string full = sys::Path::stringByAppendingPathComponent(*basePath_value_, name);
        title->setText(stripLockPrefix(name));
        title->setTextColor(ColorDefine::blueTextColor());
        const char* image = BookCommon::isFolderLocked(full)       ? "folder_l"
                            : BookCommon::isFolderScanFiles(full) ? "folder_scan"
                                                                  : "folder";
        cell->imageView()->setImage(BookCommon::imageNamed(image));
    } else {
        const bool downloadsHome = settings_value_ && settings_value_->filelistRootMode() != 0;
        title->setText(downloadsHome ? tr("Shared Documents") : BookCommon::getTempFolderName());
        title->setTextColor(ui::Color::rgb(1.0, 0.5, 0.0));
        cell->imageView()->setImage(BookCommon::imageNamed(downloadsHome ? "folder_documents" : "folder_temp"));
    }
    return cell;
}

void FolderSelectViewController::tableViewDidSelectRowAtIndexPath(ui::TableView& tv, const ui::IndexPath& ip) {
    tv.deselectRowAtIndexPath(ip, true);
    if (ip.row >= static_cast<int>(filelistArray_value_.size())) {
        if (!hasExtraRow()) return;
        const bool downloadsHome = settings_value_ && settings_value_->filelistRootMode() != 0;
        moveToFolder(downloadsHome ? BookCommon::getBooksDocumentsFolder() : BookCommon::getBooksTempRoot());
        return;
    }
    const std::string full =
        sys::Path::stringByAppendingPathComponent(*basePath_value_, filelistArray_value_[size_t(ip.row)]);
    std::string hash;
    bool touchID = false;
    if (!BookCommon::isFolderLocked(full, &hash, &touchID)) {
        moveToFolder(full);
        return;
    }
    PassCodeTarget target{hash, full, "", 1};
    auto services = LibraryServices::installed();
    if (touchID && services) {
        services->requestPasscode(target, std::static_pointer_cast<PassCodeRequetDelegate>(
                                              std::static_pointer_cast<FolderSelectViewController>(shared_from_this())));
        return;
    }
    finishRequestPasscode(target, false);
}

void FolderSelectViewController::moveToFolder(const std::string& folder) {
    auto* nav = navigationController();
    if (!nav) return;
    auto next = std::make_shared<FolderSelectViewController>(ui::TableViewStyle::Plain);
    next->delegate_ = delegate_;
    next->selectFolderText_value_ = selectFolderText_value_;
    next->settings_value_ = settings_value_;
    next->userTag_ = userTag_;
    next->basePath_value_ = folder;
    next->isRoot_value_ = false;
    nav->pushViewController(next, true);
}

// ---- Passcode -----------------------------------------------------------------------------------

void FolderSelectViewController::finishRequestPasscode(const PassCodeTarget& request, bool isSuccess) {
    if (isSuccess) {
        moveToFolder(request.path);
        return;
    }
    auto services = LibraryServices::installed();
    if (!services) return;
    PassCodeTarget target = request;
    target.pathFromBooks.clear();
    target.actionID = 1;
    auto self = std::static_pointer_cast<FolderSelectViewController>(shared_from_this());
    auto screen = services->makePassCodeInputView(target, std::static_pointer_cast<PassCodeInputViewExDelegate>(self));
    if (screen) BookCommon::lbCommonPresentViewController(*this, screen, true);
}

void FolderSelectViewController::cancelRequestPasscode(const PassCodeTarget&) {}

void FolderSelectViewController::passCodeInputComplete(int64_t, const std::string& path, const std::string&,
                                                       const std::string&) {
    moveToFolder(path);
}

void FolderSelectViewController::passCodeInputCancel(int64_t) {}
