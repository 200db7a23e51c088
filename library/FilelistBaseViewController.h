#pragma once

#include "engine/ThumbsCreate.h"
#include "foundation/FilelistItem.h"
#include "foundation/ui/QNAlertViewDelegate.h"
#include "library/SortModeSelectedViewDelegate.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/RunLoop.h"
#include "platform/core/Thread.h"
#include "platform/ui/Button.h"
#include "platform/ui/SearchBar.h"
#include "platform/ui/TableViewController.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class BookshelfTopBottomAppendView;
class IndicatorWithBGView;
class Settings;
class FilelistBaseViewHeaderCell;

// The common base of the local and the remote file list: a table of three
// sections (a header row with the presentation switch, the sort selector
// and the search bar; the item rows; filler rows so that a short list
// still fills the screen), shown as a list or as a bookshelf, sorted by
// name, date, reading status or user order with folders grouped apart,
// filtered by the search text, with thumbnails made in the background
// while it is on screen. The subclasses supply the rows and the reactions.
class FilelistBaseViewController : public ui::TableViewController,
                                   public ui::SearchBarDelegate,
                                   public SortModeSelectedViewDelegate,
                                   public QNAlertViewDelegate,
                                   public ThumbsCreateDelegate {
public:
    using ItemRef = std::shared_ptr<FilelistItem>;
    using ItemList = std::vector<ItemRef>;

    // Row type codes shared by the lists.
    enum ItemType : int32_t {
        kTypeFolder = 0,
        kTypeBook = 1,
        kTypeImage = 2,
        kTypePdf = 3,
        kTypeTheme = 4,
        kTypeShortcut = 5,
        kTypeLibraryDownload = 6,
        kTypeDownloadFolder = 7,
        kTypeSharedDocuments = 8,
    };
    // Sort modes.
    enum SortMode : int { kSortName = 0, kSortDate = 1, kSortStatus = 2, kSortUser = 3 };
    static constexpr int64_t kUnsortedUserIndex = 2147483647;

    explicit FilelistBaseViewController(ui::TableViewStyle style = ui::TableViewStyle::Plain);
    ~FilelistBaseViewController() override;

    // ---- Properties ---------------------------------------------------------------
    const std::shared_ptr<Settings>& settings() const { return settings_; }
    int fileListViewMode() const { return fileListViewMode_; }
    void setFileListViewMode(int mode) { fileListViewMode_ = mode; }
    // Whether the bars are the bookshelf's dark ones (before system version
    // 26, whose bars have no background).
    bool darkBars() const;
    bool isStreamingMode() const { return isStreamingMode_; }
    void setIsStreamingMode(bool on) { isStreamingMode_ = on; }
    int sortMode() const { return sortMode_; }
    bool isSortDescendingOrder() const { return isSortDescendingOrder_; }
    bool isDateSortModeBookmarkDate() const { return isDateSortModeBookmarkDate_; }
    void setSortState(int mode, bool descending, bool bookmarkDate);
    bool isInLockedFolder() const { return isInLockedFolder_; }
    void setIsInLockedFolder(bool on) { isInLockedFolder_ = on; }
    bool isRootViewController() const { return isRootViewController_; }
    void setIsRootViewController(bool on) { isRootViewController_ = on; }
    bool navigationDirectionIsPush() const { return navigationDirectionIsPush_; }
    const ItemList& originalItemList() const { return originalItemList_; }
    // The rows shown: the original list filtered and sorted.
    const ItemList& itemList() const { return itemList_; }
    bool nextIsNotFileSelectView() const { return nextIsNotFileSelectView_; }
    void setNextIsNotFileSelectView(bool on) { nextIsNotFileSelectView_ = on; }
    bool isHeaderCellSetVisible() const { return isHeaderCellSetVisible_; }
    bool isEditMode() const { return isEditMode_; }
    const std::optional<std::string>& searchString() const { return searchString_; }
    int dummyCellCount() const { return dummyCellCount_; }
    ui::Rect actionSheetSourceRect() const { return actionSheetSourceRect_; }
    const ItemRef& lastSeletItem() const { return lastSeletItem_; }
    // The shelves drawn above the first and below the last row in the
    // bookshelf presentation (made on the first switch to it).
    BookshelfTopBottomAppendView* bgBookshelfAppendImageViewTop() const { return bgBookshelfAppendImageViewTop_.get(); }
    BookshelfTopBottomAppendView* bgBookshelfAppendImageViewBottom() const {
        return bgBookshelfAppendImageViewBottom_.get();
    }

    // ---- Hooks of the subclasses ----------------------------------------------------------
    // 0 local, 1 remote.
    virtual int getFilelistMode() const { return 0; }
    virtual ItemList getFileListArray() { return {}; }
    virtual void updateFileListArray() {}
    virtual void updateFileInfo() {}
    virtual void checkLastReadingMark() {}
    // Where the sort choice is kept; nothing: not kept.
    virtual std::optional<std::string> getSortConfigFile() { return std::nullopt; }
    virtual double getHeaderHeight() const { return 10.0; }
    virtual void setUserSortOrderToItemList() {}
    virtual void setBookListcontentInset() {}
    virtual bool isSelectedWithIndexNo(int64_t index) { (void)index; return false; }
    virtual bool isSelectDownloadMode() { return false; }
    virtual bool isCanEditItem(int64_t index) { (void)index; return true; }
    virtual bool isEnableDetailButton(int64_t index) { (void)index; return false; }
    // The header's two download-all buttons (remote lists only).
    virtual void onDownloadAll() {}
    virtual void onDownloadAllWithFolder() {}
    virtual void didSelectBook(int64_t index, const std::optional<ui::IndexPath>& indexPath);
    virtual void didSelectBookInEditModeWithIndexNo(int64_t index) { (void)index; }
    virtual void onRefresh();
    virtual void onSelectSortMode(int mode, bool isDescendingOrder, bool isDateSortModeBookmarkDate) override;
    // The header's presentation switch: the segment chosen.
    virtual void onChangeBookShelfMode(int segment);
    virtual void onSetSearchString(const std::string& text);
    virtual void onRotateView(bool landscape);
    // A cover held down, a finger moving after it and its release (the
    // bookshelf's drag to reorder); points are in `view`'s coordinates. A
    // long press answered false is over: its moves and its release are not
    // reported.
    virtual bool onLongPress(int64_t index, ui::Point point, ui::View* view) {
        (void)index, (void)point, (void)view;
        return false;
    }
    using ui::TableViewController::touchesMoved;
    virtual void touchesMoved(ui::Point point, ui::View* view) { (void)point, (void)view; }
    virtual void touchMovingFinish(ui::View* view) { (void)view; }
    virtual bool isDragging() const { return false; }

    // ---- Operations -----------------------------------------------------------------------
    void updateBaseFileList();
    void needUpdateFilelist();
    void createItemListFromOriginalItemList();
    void sortItemList();
    void changeBookshelfMode(int mode, bool reloadTable);
    std::string bookShelfModeSettingKey() const;
    int numberOfBooksInRow() const;
    double getCellHeight() const;
    int getRequiredDummyCellCount();
    // The extra shelves behind the table: made once, then placed after every
    // layout and scroll so they stay joined to the header and the last row.
    void loadBookshelfAppendBg();
    void updateBackgroundFollowScroll();
    // Thumbnails.
    void reCreateThumbs();
    void reloadThumbs(bool keepExisting);
    // The queueing run; `manual` marks the items for a manual reload.
    void thumbsCreateStart(bool manual);
    void thumbsReLoad();
    bool isThumbsRunActive() const { return thumbsCreateStartRunning_.load(); }
    void updateItem(const std::shared_ptr<ThumbsCreateImageObject>& entry) override;
    void finishReadBook();
    // Tool-bar actions.
    void onAboutBtn();
    void onStatisticsBtn();
    void onGoHomeBtn();
    void onHistoryBtn();
    void onMediaServerBtn();
    void onSettingsBtn();
    // The root list's one-time start-up work.
    void startUpLeafbright();

    // ---- Search bar ------------------------------------------------------------------------
    void searchBarTextDidBeginEditing(ui::SearchBar& bar) override;
    void searchBarTextDidChange(ui::SearchBar& bar, const std::string& text) override;
    void searchBarSearchButtonClicked(ui::SearchBar& bar) override;
    void searchBarCancelButtonClicked(ui::SearchBar& bar) override;
    void setupSearchMaskView();
    void tapSearchMaskView();
    ui::Button* searchMaskView() const { return searchMaskView_.get(); }
    // Ends any search at once: the field emptied, the keyboard and the mask
    // gone, every row listed again.
    void endSearch();

    // ---- Alerts ----------------------------------------------------------------------------
    void alertViewClickedButtonAtIndex(QNAlertView& alert, int64_t buttonIndex) override;

    // ---- Screen ----------------------------------------------------------------------------
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void viewDidLayoutSubviews() override;
    void viewWillTransitionToSize(ui::Size size, const std::shared_ptr<ui::TransitionCoordinator>& c) override;
    ui::StatusBarStyle preferredStatusBarStyle() const override;
    // The program's orientation rules (its own rotation lock included).
    unsigned supportedInterfaceOrientations() const override;

    // ---- Table -----------------------------------------------------------------------------
    int numberOfSectionsInTableView(ui::TableView&) override { return 3; }
    int tableViewNumberOfRowsInSection(ui::TableView&, int section) override;
    std::shared_ptr<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView&, const ui::IndexPath&) override;
    double tableViewHeightForRowAtIndexPath(ui::TableView&, const ui::IndexPath&) override;
    void tableViewDidSelectRowAtIndexPath(ui::TableView&, const ui::IndexPath&) override;
    // The keys' highlight stops on the entries of the list, not on the
    // header or the filler rows.
    bool tableViewCanFocusRowAtIndexPath(ui::TableView&, const ui::IndexPath&) override;
    bool tableViewCanEditRowAtIndexPath(ui::TableView&, const ui::IndexPath&) override;
    void scrollViewDidScroll(ui::ScrollView&) override;
    // The bookshelf covers report taps here (index into itemList, point in the cover).
    void onSingleTouch(int64_t index, ui::Point point, ui::View* view);
    // Keys on the bookshelf: the arrows move a highlight from cover to cover
    // (up and down a shelf; from none, the first cover of the first shelf in
    // sight) and keep it in sight, Return opens the highlighted cover as a
    // tap does. The list look leaves them to its table's rows.
    std::vector<ui::KeyCommand> keyCommands() const override;
    // The cover the keys have highlighted on the bookshelf, or -1.
    int64_t keyHighlightedItem() const { return keyItem_; }

    // ---- Sort keys (exposed for the sort tests) -------------------------------------------
    static std::string groupPrefix(int32_t type, int directorySortMode);
    static int64_t dateOffset(int32_t type, int directorySortMode);
    // Reads the sort choice file; nothing when it is missing or not a
    // dictionary. Values of the wrong type count as absent.
    struct SortChoice {
        int mode = 0;
        bool descendingOrder = false;
        bool bookmarkDate = false;
    };
    static std::optional<SortChoice> readSortChoice(const std::string& path);
    static bool writeSortChoice(const std::string& path, const SortChoice& choice);

protected:
    void setIsEditMode(bool on) { isEditMode_ = on; }
    // The lists themselves, for the subclasses' edits.
    ItemList& mutableItemList() { return itemList_; }
    ItemList& mutableOriginalItemList() { return originalItemList_; }
    // The item cell's slot filling, shared by both presentations.
    void fillItemCell(ui::TableViewCell& cell, int row);
    void setTintColor(bool bookshelf);
    // System version 26 and later: the colour of the navigation bar's title
    // and buttons, light over the shelf, the label colour over the list.
    void setNewerBarForeground(bool bookshelf);
    void loadSortState();
    FilelistBaseViewHeaderCell* headerCell();
    ItemRef lastSeletItem_;
    std::optional<ui::IndexPath> lastSelectIndexPath_;
    ui::Rect actionSheetSourceRect_;
    std::shared_ptr<IndicatorWithBGView> activityIndicator_;

private:
    void changeSortModeDo();
    void applyDateSort(int directorySortMode);
    void registerCloudChanges(bool on);
    void stopThumbsRun();
    void applyNewerBarLook();
    void moveShelfHighlight(int step);
    void showShelfHighlight(ui::TableViewCell& cell);

    std::shared_ptr<Settings> settings_;
    int fileListViewMode_ = 0;
    bool isStreamingMode_ = false;
    int sortMode_ = kSortName;
    bool isSortDescendingOrder_ = false;
    bool isDateSortModeBookmarkDate_ = false;
    bool isInLockedFolder_ = false;
    bool isRootViewController_ = false;
    bool navigationDirectionIsPush_ = true;
    ItemList originalItemList_;
    ItemList itemList_;
    bool nextIsNotFileSelectView_ = false;
    bool isHeaderCellSetVisible_ = false;
    bool isEditMode_ = false;
    bool isEndStartupFunction_ = false;
    int64_t keyItem_ = -1;
    int dummyCellCount_ = 0;
    std::shared_ptr<ui::Button> searchMaskView_;
    std::optional<std::string> searchString_;
    ui::SearchBar* searchBarTemp_ = nullptr;
    bool viewWillAppearFirstDone_ = false;
    std::optional<sys::NotificationCenter::Token> cloudToken_;
    std::shared_ptr<BookshelfTopBottomAppendView> bgBookshelfAppendImageViewTop_;
    std::shared_ptr<BookshelfTopBottomAppendView> bgBookshelfAppendImageViewBottom_;

    // The thumbnail run: one worker owned by the screen, joined before the
    // screen goes away or off screen.
    std::mutex thumbsLock_;
    std::atomic<bool> thumbsCreateStartRunning_{false};
    std::atomic<bool> thumbsCreateStartCancel_{false};
    sys::Thread thumbsThread_;
    sys::RunLoop::TimerRef thumbsReloadTimer_;
};
