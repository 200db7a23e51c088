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
    // The switch's and the search field's words in the program's language
    // (it may have changed since the header was made).
    void showTitles();
    // The sort selector follows the controller's sort state.
    void updateStatus();
    void setHeaderHidden(bool hidden, bool animated);
    bool isHeaderHidden() const { return isHeaderHidden_; }

    ui::SegmentedControl* segmentListModeSelect() const { return segmentListModeSelect_.get(); }
    SortModeSelectedView* segmentSortModeSelect() const { return segmentSortModeSelect_.get(); }
    ui::SearchBar* searchBar() const { return searchBar_.get(); }
    ui::Button* thumbsReCreateButton() const { return thumbsReCreateButton_.get(); }
    // Remote lists in list mode only; null otherwise.
    ui::Button* downloadAllButton() const { return downloadAllButton_.get(); }
    ui::Button* downloadAllWithFolderButton() const { return downloadAllWithFolderButton_.get(); }
    ui::View* separator1() const { return separator1_.get(); }
    ui::View* separator2() const { return separator2_.get(); }

    void layoutSubviews() override;

private:
    FilelistBaseViewController* controller_ = nullptr;
    bool isHeaderHidden_ = false;
    std::shared_ptr<ui::SegmentedControl> segmentListModeSelect_;
    std::shared_ptr<SortModeSelectedView> segmentSortModeSelect_;
    std::shared_ptr<ui::SearchBar> searchBar_;
    std::shared_ptr<ui::Button> thumbsReCreateButton_;
    std::shared_ptr<ui::Button> downloadAllButton_;
    std::shared_ptr<ui::Button> downloadAllWithFolderButton_;
    std::shared_ptr<ui::View> separator1_;
    std::shared_ptr<ui::View> separator2_;
    ui::Color searchFieldColor_;
    // The switch's own look, given back when the list leaves the shelves.
    ui::Color segmentBackground_;
    ui::Color segmentTint_;
};
