#pragma once

#include "library/SortModeSelectedViewDelegate.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/View.h"

#include <array>
#include <memory>
#include <string>

class FilelistBaseViewController;

// The row of four sort buttons in a file list's header: Name, Date (or
// Bookmark), Status and User (Original on a remote list). The selected one
// shows an arrow for the direction; a second tap on it flips the direction,
// and on the date button cycles creation date / bookmark date as well.
class SortModeSelectedView : public ui::View {
public:
    explicit SortModeSelectedView(FilelistBaseViewController* controller);

    int selectedIndex() const { return selectedIndex_; }
    void setSelectedIndex(int index);
    bool isDescendingOrder() const { return isDescendingOrder_; }
    void setIsDescendingOrder(bool on);
    bool isDateSortModeBookmarkDate() const { return isDateSortModeBookmarkDate_; }
    void setIsDateSortModeBookmarkDate(bool on) { isDateSortModeBookmarkDate_ = on; }
    SortModeSelectedViewDelegate* delegate() const { return delegate_; }
    void setDelegate(SortModeSelectedViewDelegate* d) { delegate_ = d; }

    // The tap on button `tag`.
    void onButtonSelect(int tag);
    void updateLabel();
    // The text a button shows now (arrow included when selected).
    std::string labelText(int index) const;
    ui::Button* button(int index) const { return buttons_[size_t(index)].get(); }

    void layoutSubviews() override;

private:
    std::string title(int index) const;
    bool isBookshelf() const;

    std::array<std::shared_ptr<ui::Button>, 4> buttons_;
    std::array<std::shared_ptr<ui::Label>, 4> texts_;
    FilelistBaseViewController* fileSelectViewController_;
    bool isDescendingOrder_ = false;
    bool isDateSortModeBookmarkDate_ = false;
    int selectedIndex_ = 0;
    SortModeSelectedViewDelegate* delegate_ = nullptr;
};
