#pragma once

// Who hears the sort selector's taps: the list screen, which sorts and
// stores the choice.
class SortModeSelectedViewDelegate {
public:
    virtual ~SortModeSelectedViewDelegate() = default;
    virtual void onSelectSortMode(int mode, bool isDescendingOrder, bool isDateSortModeBookmarkDate) = 0;
};
