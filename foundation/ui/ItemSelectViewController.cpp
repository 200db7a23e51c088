#include "foundation/ui/ItemSelectViewController.h"

#include "foundation/BookCommon.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TransitionCoordinator.h"

ItemSelectViewController::ItemSelectViewController(ui::TableViewStyle style) : ui::TableViewController(style) {}

std::optional<int64_t> ItemSelectViewController::reportedItemForLine(int64_t line) const {
    if (!indexes_) return line;
    for (size_t k = 0; k < indexes_->size(); ++k)
        if ((*indexes_)[k] == line) return int64_t(k);
    return std::nullopt;
}

int64_t ItemSelectViewController::itemForLine(int64_t line) const { return reportedItemForLine(line).value_or(line); }

void ItemSelectViewController::viewWillAppear(bool animated) {
    ui::TableViewController::viewWillAppear(animated);
    if (ui::NavigationController* nav = navigationController()) nav->setToolbarHidden(true, true);
}

void ItemSelectViewController::viewWillTransitionToSize(ui::Size size,
                                                        const std::shared_ptr<ui::TransitionCoordinator>& coordinator) {
    ui::TableViewController::viewWillTransitionToSize(size, coordinator);
    if (coordinator)
        coordinator->animateAlongsideTransition(
            [size](const ui::TransitionCoordinatorContext&) { BookCommon::viewWillTransitionToSize(size); });
    else
        BookCommon::viewWillTransitionToSize(size);
}

int ItemSelectViewController::tableViewNumberOfRowsInSection(ui::TableView&, int) { return int(items_.size()); }

std::shared_ptr<ui::TableViewCell> ItemSelectViewController::tableViewCellForRowAtIndexPath(
    ui::TableView& tv, const ui::IndexPath& indexPath) {
    auto cell = tv.dequeueReusableCell("Cell");
    if (!cell) cell = std::make_shared<ui::TableViewCell>(ui::TableViewCellStyle::Default, "Cell");
    const int64_t line = indexPath.row;
    const int64_t item = itemForLine(line);
    // An index list may name items the title list does not have.
    cell->textLabel()->setText(item >= 0 && size_t(item) < items_.size() ? items_[size_t(item)] : std::string());
    cell->setAccessoryType(item == selected_ ? ui::TableViewCellAccessoryType::Checkmark
                                             : ui::TableViewCellAccessoryType::None);
    if (images_) cell->imageView()->setImage(size_t(line) < images_->size() ? (*images_)[size_t(line)] : nullptr);
    return cell;
}

void ItemSelectViewController::tableViewDidSelectRowAtIndexPath(ui::TableView&, const ui::IndexPath& indexPath) {
    auto keep = shared_from_this();
    if (auto item = reportedItemForLine(indexPath.row))
        if (auto d = delegate_.lock()) d->selectItem(*item, userData_value_);
    if (ui::NavigationController* nav = navigationController()) nav->popViewController(true);
}
