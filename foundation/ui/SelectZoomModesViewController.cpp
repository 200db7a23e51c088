#include "foundation/ui/SelectZoomModesViewController.h"

#include "foundation/BookCommon.h"
#include "foundation/Settings.h"
#include "platform/ui/TransitionCoordinator.h"

#include <algorithm>

namespace {
constexpr int kModes = 5;
}

SelectZoomModesViewController::SelectZoomModesViewController(ui::TableViewStyle style)
    : ui::TableViewController(style) {}

std::vector<std::string> SelectZoomModesViewController::zoomModeNames() {
    std::vector<std::string> out;
    for (const char* key : {"Custom Zoom", "Maximum Zoom", "Fit to Width", "Fit to Height", "Fit to Image"})
        out.push_back(BookCommon::localizedStringWithOnOff(key));
    return out;
}

void SelectZoomModesViewController::viewDidLoad() {
    ui::TableViewController::viewDidLoad();
    const auto names = zoomModeNames();
    std::array<int32_t, 5> order{4, 1, 2, 3, 0};
    enabled_ = kModes;
    if (settings_value_) {
        order = settings_value_->getZoomModeOrderList();
        enabled_ = int32_t(std::clamp(settings_value_->getZoomModeEnableNum(), 0, kModes));
    }
    names_.clear();
    numbers_.clear();
    for (int i = 0; i < kModes; ++i) {
        const int32_t mode = order[size_t(i)];
        numbers_.push_back(mode);
        names_.push_back(mode >= 0 && mode < kModes ? names[size_t(mode)] : std::string());
    }
    setTitle(BookCommon::localizedStringWithOnOff("Zoom Modes"));
    tableView()->setAllowsSelectionDuringEditing(true);
}

void SelectZoomModesViewController::viewWillAppear(bool animated) {
    ui::TableViewController::viewWillAppear(animated);
    setEditing(true, false);
}

void SelectZoomModesViewController::viewWillTransitionToSize(
    ui::Size size, const std::shared_ptr<ui::TransitionCoordinator>& coordinator) {
    ui::TableViewController::viewWillTransitionToSize(size, coordinator);
    if (coordinator)
        coordinator->animateAlongsideTransition(
            [size](const ui::TransitionCoordinatorContext&) { BookCommon::viewWillTransitionToSize(size); });
    else
        BookCommon::viewWillTransitionToSize(size);
}

void SelectZoomModesViewController::resetOrderList() {
    if (!settings_value_) return;
    std::array<int32_t, 5> order{};
    for (int i = 0; i < kModes && i < int(numbers_.size()); ++i) order[size_t(i)] = numbers_[size_t(i)];
    settings_value_->setZoomModeOrderList(order);
    settings_value_->setZoomModeEnableNum(enabled_);
    settings_value_->saveToFile();
}

int SelectZoomModesViewController::tableViewNumberOfRowsInSection(ui::TableView&, int section) {
    return section == 0 ? enabled_ : int(numbers_.size()) - enabled_;
}

std::optional<std::string> SelectZoomModesViewController::tableViewTitleForHeaderInSection(ui::TableView&,
                                                                                         int section) {
    return BookCommon::localizedStringWithOnOff(section == 0 ? "Enabled Modes" : "Disabled Modes");
}

std::shared_ptr<ui::TableViewCell> SelectZoomModesViewController::tableViewCellForRowAtIndexPath(
    ui::TableView& tv, const ui::IndexPath& indexPath) {
    auto cell = tv.dequeueReusableCell("Cell");
    if (!cell) cell = std::make_shared<ui::TableViewCell>(ui::TableViewCellStyle::Default, "Cell");
    const int entry = indexPath.section == 0 ? indexPath.row : enabled_ + indexPath.row;
    cell->textLabel()->setText(entry >= 0 && entry < int(names_.size()) ? names_[size_t(entry)] : std::string());
    cell->textLabel()->setFont(gfx::Font::system(16));
    cell->setSelectionStyle(ui::TableViewCellSelectionStyle::Blue);
    return cell;
}

ui::TableViewCellEditingStyle SelectZoomModesViewController::tableViewEditingStyleForRowAtIndexPath(
    ui::TableView&, const ui::IndexPath& indexPath) {
    return indexPath.section == 0 ? ui::TableViewCellEditingStyle::Delete : ui::TableViewCellEditingStyle::Insert;
}

void SelectZoomModesViewController::tableViewCommitEditingStyle(ui::TableView&, ui::TableViewCellEditingStyle style,
                                                               const ui::IndexPath& indexPath) {
    if (style == ui::TableViewCellEditingStyle::Delete && indexPath.section == 0) {
        deleteItem(indexPath);
    } else if (style == ui::TableViewCellEditingStyle::Insert && indexPath.section == 1) {
        // The plus does what a tap on the row does.
        enableItem(indexPath.row);
    }
}

bool SelectZoomModesViewController::tableViewCanMoveRowAtIndexPath(ui::TableView&, const ui::IndexPath& indexPath) {
    return indexPath.section == 0;
}

ui::IndexPath SelectZoomModesViewController::tableViewTargetIndexPathForMoveFromRowAtIndexPath(
    ui::TableView&, const ui::IndexPath& from, const ui::IndexPath& proposed) {
    if (proposed.section != 0) return from;
    return proposed;
}

void SelectZoomModesViewController::tableViewMoveRowAtIndexPath(ui::TableView&, const ui::IndexPath& from,
                                                               const ui::IndexPath& to) {
    if (from.section != 0 || to.section != 0) return;
    if (from.row < 0 || from.row >= enabled_ || to.row < 0 || to.row >= enabled_ || from.row == to.row) return;
    std::string name = names_[size_t(from.row)];
    int32_t number = numbers_[size_t(from.row)];
    names_.erase(names_.begin() + from.row);
    numbers_.erase(numbers_.begin() + from.row);
    names_.insert(names_.begin() + to.row, name);
    numbers_.insert(numbers_.begin() + to.row, number);
    resetOrderList();
}

void SelectZoomModesViewController::deleteItem(const ui::IndexPath& indexPath) {
    if (enabled_ <= 0) return;
    if (indexPath.section != 0 || indexPath.row < 0 || indexPath.row >= enabled_) return;
    const int row = indexPath.row;
    std::string name = names_[size_t(row)];
    int32_t number = numbers_[size_t(row)];
    names_.erase(names_.begin() + row);
    numbers_.erase(numbers_.begin() + row);
    // The front of the disabled part: right after the remaining enabled ones.
    names_.insert(names_.begin() + (enabled_ - 1), name);
    numbers_.insert(numbers_.begin() + (enabled_ - 1), number);
    --enabled_;
    ui::TableView* tv = tableView();
    tv->beginUpdates();
    tv->deleteRowsAtIndexPaths({ui::IndexPath::forRow(row, 0)}, ui::TableViewRowAnimation::Fade);
    tv->insertRowsAtIndexPaths({ui::IndexPath::forRow(0, 1)}, ui::TableViewRowAnimation::Fade);
    tv->endUpdates();
    resetOrderList();
}

void SelectZoomModesViewController::enableItem(int row) {
    if (enabled_ >= kModes) return;
    const int entry = enabled_ + row;
    if (row < 0 || entry >= int(numbers_.size())) return;
    std::string name = names_[size_t(entry)];
    int32_t number = numbers_[size_t(entry)];
    names_.erase(names_.begin() + entry);
    numbers_.erase(numbers_.begin() + entry);
    names_.insert(names_.begin() + enabled_, name);
    numbers_.insert(numbers_.begin() + enabled_, number);
    ++enabled_;
    resetOrderList();
    ui::TableView* tv = tableView();
    tv->beginUpdates();
    tv->deleteRowsAtIndexPaths({ui::IndexPath::forRow(row, 1)}, ui::TableViewRowAnimation::Fade);
    tv->insertRowsAtIndexPaths({ui::IndexPath::forRow(enabled_ - 1, 0)}, ui::TableViewRowAnimation::Fade);
    tv->endUpdates();
}

void SelectZoomModesViewController::tableViewDidSelectRowAtIndexPath(ui::TableView& tv,
                                                                    const ui::IndexPath& indexPath) {
    if (indexPath.section == 0) {
        deleteItem(indexPath);
        return;
    }
    tv.deselectRowAtIndexPath(indexPath, false);
    enableItem(indexPath.row);
}
