#pragma once

#include "platform/core/RunLoop.h"
#include "platform/ui/IndexPath.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/TableViewCell.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace ui {

class RefreshControl;
class TableView;

enum class TableViewStyle { Plain = 0, Grouped = 1 };
enum class TableViewRowAnimation { Fade = 0, Right, Left, Top, Bottom, None, Middle, Automatic = 100 };
enum class TableViewScrollPosition { None = 0, Top, Middle, Bottom };
enum class TableViewSeparatorStyle { None = 0, SingleLine = 1 };

// What fills a table. The two counts and the cells are required.
class TableViewDataSource {
public:
    virtual ~TableViewDataSource() = default;
    virtual int numberOfSectionsInTableView(TableView&) { return 1; }
    virtual int tableViewNumberOfRowsInSection(TableView&, int section) = 0;
    virtual std::shared_ptr<TableViewCell> tableViewCellForRowAtIndexPath(TableView&, const IndexPath& indexPath) = 0;
    virtual std::optional<std::string> tableViewTitleForHeaderInSection(TableView&, int section) {
        (void)section;
        return std::nullopt;
    }
    virtual std::optional<std::string> tableViewTitleForFooterInSection(TableView&, int section) {
        (void)section;
        return std::nullopt;
    }
    virtual bool tableViewCanEditRowAtIndexPath(TableView&, const IndexPath&) { return true; }
    // Rows show a reorder grip while editing only when this answers true
    // (and tableViewMoveRowAtIndexPath takes the move).
    virtual bool tableViewCanMoveRowAtIndexPath(TableView&, const IndexPath&) { return false; }
    // Whether tableViewCommitEditingStyle does something: only then does a
    // swipe to the left offer to delete a row.
    virtual bool tableViewCommitsEditingStyle(TableView&) { return false; }
    virtual void tableViewCommitEditingStyle(TableView&, TableViewCellEditingStyle style, const IndexPath& indexPath) {
        (void)style;
        (void)indexPath;
    }
    virtual void tableViewMoveRowAtIndexPath(TableView&, const IndexPath& from, const IndexPath& to) {
        (void)from;
        (void)to;
    }
};

// How a table looks and what it reports. Every method is optional; the
// table is also a scroll view, so this is its scroll view delegate too.
class TableViewDelegate : public ScrollViewDelegate {
public:
    // kAutomaticDimension: the cell's own height (after an estimate).
    virtual double tableViewHeightForRowAtIndexPath(TableView& tv, const IndexPath& indexPath);
    virtual double tableViewHeightForHeaderInSection(TableView& tv, int section);
    virtual double tableViewHeightForFooterInSection(TableView& tv, int section);
    virtual std::shared_ptr<View> tableViewViewForHeaderInSection(TableView&, int section) {
        (void)section;
        return nullptr;
    }
    virtual std::shared_ptr<View> tableViewViewForFooterInSection(TableView&, int section) {
        (void)section;
        return nullptr;
    }
    virtual void tableViewWillDisplayCell(TableView&, TableViewCell&, const IndexPath&) {}
    virtual bool tableViewShouldHighlightRowAtIndexPath(TableView&, const IndexPath&) { return true; }
    // Whether the keys' highlight may stop on a row (headers and fillers
    // drawn as rows answer false).
    virtual bool tableViewCanFocusRowAtIndexPath(TableView&, const IndexPath&) { return true; }
    // May redirect the selection to another row, or refuse it (nullopt).
    virtual std::optional<IndexPath> tableViewWillSelectRowAtIndexPath(TableView&, const IndexPath& indexPath) {
        return indexPath;
    }
    virtual void tableViewDidSelectRowAtIndexPath(TableView&, const IndexPath&) {}
    virtual void tableViewDidDeselectRowAtIndexPath(TableView&, const IndexPath&) {}
    virtual void tableViewAccessoryButtonTappedForRowWithIndexPath(TableView&, const IndexPath&) {}
    // A row held still for the table's rowLongPressSeconds; `point` is in
    // the table's coordinates. The release that follows selects nothing.
    virtual void tableViewDidLongPressRowAtIndexPath(TableView&, const IndexPath&, Point point) { (void)point; }
    virtual TableViewCellEditingStyle tableViewEditingStyleForRowAtIndexPath(TableView&, const IndexPath&) {
        return TableViewCellEditingStyle::Delete;
    }
    virtual std::string tableViewTitleForDeleteConfirmationButtonForRowAtIndexPath(TableView&, const IndexPath&) {
        return "Delete";
    }
    virtual bool tableViewShouldIndentWhileEditingRowAtIndexPath(TableView&, const IndexPath&) { return true; }
    // Where a dragged row may land: the proposal, another row, or back
    // where it came from.
    virtual IndexPath tableViewTargetIndexPathForMoveFromRowAtIndexPath(TableView&, const IndexPath& from,
                                                                         const IndexPath& proposed) {
        (void)from;
        return proposed;
    }
};

// A vertical list of rows in sections, each section with an optional header
// and footer title; the rows are cells the data source makes (and takes
// back from the reuse pool). Only the rows in sight have cells. Rows and
// sections are inserted, deleted and reloaded with an optional fade; the
// data source must already hold the new counts, else the table reloads
// whole and logs the mismatch. While editing, rows show delete or insert
// controls and reorder grips; outside editing a swipe to the left offers to
// delete a row.
class TableView : public ScrollView {
public:
    static constexpr double kAutomaticDimension = -1;

    explicit TableView(TableViewStyle style = TableViewStyle::Plain);
    TableView(const Rect& frame, TableViewStyle style);
    ~TableView() override;

    TableViewStyle style() const { return style_; }
    TableViewDataSource* dataSource() const { return dataSource_; }
    void setDataSource(TableViewDataSource* d);
    TableViewDelegate* delegate() const { return tableDelegate_; }
    void setDelegate(TableViewDelegate* d);

    // --- Geometry ---
    double rowHeight() const { return rowHeight_; }
    void setRowHeight(double h);
    double estimatedRowHeight() const { return estimatedRowHeight_; }
    void setEstimatedRowHeight(double h) { estimatedRowHeight_ = h > 0 ? h : TableViewCell::kDefaultHeight; }
    double sectionHeaderHeight() const { return sectionHeaderHeight_; }
    void setSectionHeaderHeight(double h);
    double sectionFooterHeight() const { return sectionFooterHeight_; }
    void setSectionFooterHeight(double h);
    TableViewSeparatorStyle separatorStyle() const { return separatorStyle_; }
    void setSeparatorStyle(TableViewSeparatorStyle s);
    Color separatorColor() const { return separatorColor_; }
    void setSeparatorColor(const Color& c);
    EdgeInsets separatorInset() const { return separatorInset_; }
    void setSeparatorInset(const EdgeInsets& i);
    View* tableHeaderView() const { return headerView_.get(); }
    void setTableHeaderView(std::shared_ptr<View> v);
    View* tableFooterView() const { return footerView_.get(); }
    void setTableFooterView(std::shared_ptr<View> v);
    RefreshControl* refreshControl() const { return refresh_.get(); }
    void setRefreshControl(std::shared_ptr<RefreshControl> rc);
    // A view behind every row that stays put while the rows scroll, sized
    // to the table's bounds.
    View* backgroundView() const { return backgroundView_.get(); }
    void setBackgroundView(View::Ref v);

    // --- Data ---
    void reloadData();
    int numberOfSections() const { return int(sections_.size()); }
    int numberOfRowsInSection(int section) const;
    Rect rectForRowAtIndexPath(const IndexPath& ip) const;
    Rect rectForSection(int section) const;
    Rect rectForHeaderInSection(int section) const;
    Rect rectForFooterInSection(int section) const;
    // In content coordinates; nullopt between rows.
    std::optional<IndexPath> indexPathForRowAtPoint(Point p) const;
    std::optional<IndexPath> indexPathForCell(const TableViewCell& cell) const;
    // The cell of a row in sight, or null.
    TableViewCell* cellForRowAtIndexPath(const IndexPath& ip);
    std::vector<TableViewCell*> visibleCells();
    std::vector<IndexPath> indexPathsForVisibleRows();
    // The header or footer view shown for a section now, or null.
    View* headerViewForSection(int section);
    View* footerViewForSection(int section);

    // --- Reuse ---
    std::shared_ptr<TableViewCell> dequeueReusableCell(const std::string& identifier);
    // A factory makes cells for an identifier the pool has none of.
    void registerCell(const std::string& identifier,
                      std::function<std::shared_ptr<TableViewCell>(const std::string&)> factory);
    std::shared_ptr<TableViewCell> dequeueReusableCell(const std::string& identifier, const IndexPath& ip);

    // --- Updates ---
    void beginUpdates();
    void endUpdates();
    void performBatchUpdates(const std::function<void()>& updates, std::function<void(bool)> completion = {});
    void insertRowsAtIndexPaths(const std::vector<IndexPath>& ips, TableViewRowAnimation a);
    void deleteRowsAtIndexPaths(const std::vector<IndexPath>& ips, TableViewRowAnimation a);
    void reloadRowsAtIndexPaths(const std::vector<IndexPath>& ips, TableViewRowAnimation a);
    void moveRowAtIndexPath(const IndexPath& from, const IndexPath& to);
    void insertSections(const std::vector<int>& sections, TableViewRowAnimation a);
    void deleteSections(const std::vector<int>& sections, TableViewRowAnimation a);
    void reloadSections(const std::vector<int>& sections, TableViewRowAnimation a);
    static constexpr double kUpdateDuration = 0.3;

    // --- Selection ---
    bool allowsSelection() const { return allowsSelection_; }
    void setAllowsSelection(bool on) { allowsSelection_ = on; }
    bool allowsSelectionDuringEditing() const { return allowsSelectionDuringEditing_; }
    void setAllowsSelectionDuringEditing(bool on) { allowsSelectionDuringEditing_ = on; }
    bool allowsMultipleSelection() const { return allowsMultipleSelection_; }
    void setAllowsMultipleSelection(bool on) { allowsMultipleSelection_ = on; }
    std::optional<IndexPath> indexPathForSelectedRow() const;
    std::vector<IndexPath> indexPathsForSelectedRows() const;
    // Programmatic: the delegate hears nothing.
    void selectRowAtIndexPath(const std::optional<IndexPath>& ip, bool animated, TableViewScrollPosition position);
    void deselectRowAtIndexPath(const IndexPath& ip, bool animated);
    void scrollToRowAtIndexPath(const IndexPath& ip, TableViewScrollPosition position, bool animated);

    // --- Keys ---
    // The row the keys have highlighted, drawn as selected, while it stays
    // the selection; none once anything else changed the selection.
    std::optional<IndexPath> keyHighlightedRow() const;
    // Moves the highlight `step` rows on among the rows that may take it
    // (from none: the first row in sight) and scrolls it into view; at either
    // end it stays. False when no row can take it.
    bool moveKeyHighlight(int step);
    // Chooses the highlighted row as a tap on it does; false without one.
    bool chooseKeyHighlightedRow();
    // Up, Down and Return for the table of the window's front screen
    // (the largest list in sight): false when that is no table taking them.
    static bool highlightForKey(Window& window, const std::string& input);

    // How long a row is held still before the delegate hears of a long press
    // instead of a tap; 0 (the default): rows take no long presses.
    double rowLongPressSeconds() const { return rowLongPressSeconds_; }
    void setRowLongPressSeconds(double seconds) { rowLongPressSeconds_ = seconds; }

    // --- Editing ---
    bool isEditing() const { return editing_; }
    void setEditing(bool editing, bool animated = false);
    // The row dragged by its grip now, if any.
    std::optional<IndexPath> reorderingFrom() const;

    // --- From cells (their touches and controls) ---
    void cellTouchBegan(TableViewCell& cell, const Touch& touch);
    void cellTapped(TableViewCell& cell, const Touch& touch);
    // The finger left the row's place, or the touch was taken away.
    void cellTouchAbandoned();
    Point cellTouchStart() const { return cellTouchStart_; }
    void swipedToDelete(TableViewCell& cell);
    void deleteConfirmed(TableViewCell& cell);
    void editingControlTapped(TableViewCell& cell);
    void accessoryButtonTapped(TableViewCell& cell);
    void reorderTouch(TableViewCell& cell, const Touch& touch, TouchPhase phase);
    // Hides a delete button offered after a swipe.
    void hideDeleteConfirmation(bool animated);
    // From the refresh control.
    void refreshStateDidChange();

    // --- View ---
    void layoutSubviews() override;
    void setBounds(const Rect& bounds) override;
    bool touchesShouldCancelInContentView(View* contentView) override;
    // A row whose cell its data source made see-through still takes taps.
    View* hitTest(Point point, const Event* event) override;

protected:
    void didScroll() override;

private:
    struct Section {
        int rows = 0;
        double top = 0;
        double headerHeight = 0;
        double footerHeight = 0;
        std::vector<double> rowY;
        std::vector<double> rowHeight;
        std::vector<char> measured;
        std::optional<std::string> headerTitle;
        std::optional<std::string> footerTitle;
        double rowsEnd() const { return rowY.empty() ? top + headerHeight : rowY.back() + rowHeight.back(); }
        double bottom() const { return rowsEnd() + footerHeight; }
    };
    // The header (or footer) view of `section` in `views`, asked of the
    // delegate or made from `title` when first wanted; false when there is none.
    bool sectionEndView(std::map<int, std::shared_ptr<View>>& views, int section, bool header,
                        const std::optional<std::string>& title);
    // Takes the views of sections not `wanted` out of the table.
    void dropSectionEndViews(std::map<int, std::shared_ptr<View>>& views, const std::set<int>& wanted);
    // The rows are asked for again at the next layout.
    void reloadOnNextLayout();
    // The table header or footer view in `slot` gives way to `v`.
    void replaceTableEndView(std::shared_ptr<View>& slot, std::shared_ptr<View> v);
    struct Update {
        enum Kind { InsertRows, DeleteRows, ReloadRows, MoveRow, InsertSections, DeleteSections, ReloadSections } kind;
        std::vector<IndexPath> paths;
        std::vector<int> sections;
        IndexPath to;
        TableViewRowAnimation animation = TableViewRowAnimation::None;
    };
    struct Reorder {
        std::shared_ptr<TableViewCell> cell;
        IndexPath from;
        IndexPath target;
        double touchStartY = 0;
        double cellStartY = 0;
        bool wasScrollEnabled = true;
    };

    void setup();
    void rebuildGeometry(bool keepMeasured);
    void relayoutPositions();
    double rowHeightAt(const IndexPath& ip, Section& s, int row);
    void layoutVisible(bool fadeInNew);
    void layoutHeadersAndFooters();
    std::shared_ptr<TableViewCell> makeCell(const IndexPath& ip);
    void configureCell(TableViewCell& cell, const IndexPath& ip);
    void recycle(const std::shared_ptr<TableViewCell>& cell);
    // Every row's cell back to the pool before the rows are made again, but
    // the one holding the first responder, kept in the table for its row
    // (`edited_`) so the field being edited keeps the keys; let go by
    // `releaseEdited` where no row took it back.
    void recycleAllCells();
    void releaseEdited();
    void queue(Update u);
    void applyUpdates();
    bool selectable() const;
    bool canTakeKeyHighlight(const IndexPath& ip);
    void setKeyRow(std::optional<IndexPath> ip);
    // The row `step` (+1 or -1) away from `ip` in reading order, if any.
    std::optional<IndexPath> rowBeside(const IndexPath& ip, int step) const;
    // Selects as a tap does (the delegate hears of it); `cell` is the
    // tapped row's, whose pressed look goes.
    void selectAsTapped(const IndexPath& ip, TableViewCell* cell);
    IndexPath proposedTargetFor(double centerY) const;
    void layoutReorderedCells();
    double contentWidth() const { return bounds().width(); }

    TableViewStyle style_;
    TableViewDataSource* dataSource_ = nullptr;
    TableViewDelegate* tableDelegate_ = nullptr;
    double rowHeight_ = TableViewCell::kDefaultHeight;
    double estimatedRowHeight_ = TableViewCell::kDefaultHeight;
    double sectionHeaderHeight_ = kAutomaticDimension;
    double sectionFooterHeight_ = kAutomaticDimension;
    TableViewSeparatorStyle separatorStyle_ = TableViewSeparatorStyle::SingleLine;
    Color separatorColor_ = Color::separator();
    EdgeInsets separatorInset_{0, 16, 0, 0};
    std::shared_ptr<View> headerView_;
    std::shared_ptr<View> footerView_;
    std::shared_ptr<RefreshControl> refresh_;
    View::Ref backgroundView_;

    std::vector<Section> sections_;
    bool loaded_ = false;
    double laidOutWidth_ = -1;
    std::map<IndexPath, std::shared_ptr<TableViewCell>> cells_;
    struct EditedRow {
        IndexPath row;
        std::shared_ptr<TableViewCell> cell;
    };
    std::optional<EditedRow> edited_;
    // The row the data source is asked a cell for.
    std::optional<IndexPath> makingRow_;
    std::map<std::string, std::vector<std::shared_ptr<TableViewCell>>> pool_;
    std::map<std::string, std::function<std::shared_ptr<TableViewCell>(const std::string&)>> factories_;
    std::map<int, std::shared_ptr<View>> headers_;
    std::map<int, std::shared_ptr<View>> footers_;
    std::set<IndexPath> selected_;
    std::optional<IndexPath> keyRow_;
    bool allowsSelection_ = true;
    bool allowsSelectionDuringEditing_ = false;
    bool allowsMultipleSelection_ = false;
    bool editing_ = false;
    int updateDepth_ = 0;
    std::vector<Update> pending_;
    bool inLayout_ = false;
    Point cellTouchStart_;
    double rowLongPressSeconds_ = 0;
    sys::RunLoop::TimerRef longPressTimer_;
    // The long press of the touch under way has been reported.
    bool longPressed_ = false;
    std::weak_ptr<TableViewCell> confirming_;
    std::unique_ptr<Reorder> reorder_;
};

}  // namespace ui
