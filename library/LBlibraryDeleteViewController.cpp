#include "library/LBlibraryDeleteViewController.h"

#include "foundation/BookCommon.h"
#include "platform/core/FileManager.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TransitionCoordinator.h"

#include <sys/stat.h>

LBlibraryDeleteViewController::LBlibraryDeleteViewController(ui::TableViewStyle style)
    : ui::TableViewController(style) {}

bool LBlibraryDeleteViewController::removeLibraryFolder(const std::string& path) {
    struct stat st{};
    if (path.empty() || ::lstat(path.c_str(), &st) != 0) return false;
    if (S_ISLNK(st.st_mode)) return ::unlink(path.c_str()) == 0;
    if (!S_ISDIR(st.st_mode)) return false;
    return sys::FileManager::removeItem(path);
}

void LBlibraryDeleteViewController::viewDidLoad() {
    ui::TableViewController::viewDidLoad();
    setTitle(BookCommon::localizedStringWithOnOff("Leafbright Library"));
}

void LBlibraryDeleteViewController::viewWillTransitionToSize(ui::Size size,
                                                             const std::shared_ptr<ui::TransitionCoordinator>& c) {
    ui::TableViewController::viewWillTransitionToSize(size, c);
    auto alongside = [size](const ui::TransitionCoordinatorContext&) { BookCommon::viewWillTransitionToSize(size); };
    if (c)
        c->animateAlongsideTransition(alongside);
    else
        alongside(ui::TransitionCoordinatorContext{});
}

std::shared_ptr<ui::TableViewCell> LBlibraryDeleteViewController::tableViewCellForRowAtIndexPath(
    ui::TableView& tv, const ui::IndexPath&) {
    auto cell = tv.dequeueReusableCell("Cell");
    if (!cell) cell = std::make_shared<ui::TableViewCell>(ui::TableViewCellStyle::Default, "Cell");
    cell->textLabel()->setText(BookCommon::localizedStringWithOnOff("Remove This Folder"));
    return cell;
}

void LBlibraryDeleteViewController::tableViewDidSelectRowAtIndexPath(ui::TableView& tv, const ui::IndexPath& ip) {
    auto keep = shared_from_this();
    tv.deselectRowAtIndexPath(ip, true);
    removeLibraryFolder(targetPath_value_);
    if (auto* nav = navigationController()) nav->popViewController(true);
}
