#pragma once

#include "library/SortModeSelectedView.h"
#include "platform/ui/Button.h"
#include "platform/ui/SearchBar.h"
#include "platform/ui/SegmentedControl.h"
#include "platform/ui/TableViewCell.h"

#include <memory>

class FilelistBaseViewController;

// The first row of a file list: the list / bookshelf switch, the sort
// selector, the search bar and the button that makes the thumbnails again.
// The list keeps it tucked under the navigation bar until pulled down.
class FilelistBaseViewHeaderCell : public ui::TableViewCell {
public:
    explicit FilelistBaseViewHeaderCell(const std::string& reuseIdentifier);

    void setupCellViews(FilelistBaseViewController* controller);
    void setListModeSelected();
    // The sort selector follows the controller's sort state.
    void updateStatus();
    void setHeaderHidden(bool hidden, bool animated);
    bool isHeaderHidden() const { return isHeaderHidden_; }

    ui::SegmentedControl* segmentListModeSelect() const { return segmentListModeSelect_.get(); }
    SortModeSelectedView* segmentSortModeSelect() const { return segmentSortModeSelect_.get(); }
    ui::SearchBar* searchBar() const { return searchBar_.get(); }
    ui::Button* thumbsReCreateButton() const { return thumbsReCreateButton_.get(); }

    void layoutSubviews() override;

private:
    FilelistBaseViewController* controller_ = nullptr;
    bool isHeaderHidden_ = false;
    std::shared_ptr<ui::SegmentedControl> segmentListModeSelect_;
    std::shared_ptr<SortModeSelectedView> segmentSortModeSelect_;
    std::shared_ptr<ui::SearchBar> searchBar_;
    std::shared_ptr<ui::Button> thumbsReCreateButton_;
    std::shared_ptr<ui::View> shelfView_;
    ui::Color searchFieldColor_;
};
