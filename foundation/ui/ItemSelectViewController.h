#pragma once

#include "foundation/ui/ItemSelectViewControllerDelegate.h"
#include "platform/ui/Image.h"
#include "platform/ui/TableViewController.h"

#include <any>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Asks the user for one line of a list, the current one checked. An index
// list may give each item its display line; the screen reports the item
// (not the line) and goes back.
class ItemSelectViewController : public ui::TableViewController {
public:
    explicit ItemSelectViewController(ui::TableViewStyle style = ui::TableViewStyle::Plain);

    const std::vector<std::string>& itemListArray_() const { return items_; }
    void setItemListArray_(std::vector<std::string> items) { items_ = std::move(items); }
    // The display line of each item, by item position; none: item = line.
    const std::optional<std::vector<int64_t>>& itemIndexArray_() const { return indexes_; }
    void setItemIndexArray_(std::optional<std::vector<int64_t>> indexes) { indexes_ = std::move(indexes); }
    int64_t selectedLine_() const { return selected_; }
    void setSelectedLine_(int64_t item) { selected_ = item; }
    std::shared_ptr<ItemSelectViewControllerDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<ItemSelectViewControllerDelegate> d) { delegate_ = std::move(d); }
    // Images by display line.
    const std::optional<std::vector<ui::ImageRef>>& itemImageArray_() const { return images_; }
    void setItemImageArray_(std::optional<std::vector<ui::ImageRef>> images) { images_ = std::move(images); }
    const std::any& userData_() const { return userData_value_; }
    void setUserData_(std::any d) { userData_value_ = std::move(d); }

    // The item shown on a display line, and the one a tap on it reports
    // (none when an index list names no item for the line).
    int64_t itemForLine(int64_t line) const;
    std::optional<int64_t> reportedItemForLine(int64_t line) const;

    void viewWillAppear(bool animated) override;
    void viewWillTransitionToSize(ui::Size size, const std::shared_ptr<ui::TransitionCoordinator>& coordinator) override;
    int tableViewNumberOfRowsInSection(ui::TableView&, int section) override;
    std::shared_ptr<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView&,
                                                                      const ui::IndexPath& indexPath) override;
    void tableViewDidSelectRowAtIndexPath(ui::TableView&, const ui::IndexPath& indexPath) override;

private:
    std::vector<std::string> items_;
    std::optional<std::vector<int64_t>> indexes_;
    int64_t selected_ = 0;
    std::weak_ptr<ItemSelectViewControllerDelegate> delegate_;
    std::optional<std::vector<ui::ImageRef>> images_;
    std::any userData_value_;
};
