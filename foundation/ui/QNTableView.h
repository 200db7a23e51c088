#pragma once

#include "foundation/ui/QNTableViewData.h"
#include "foundation/ui/QNTableViewDelegate.h"
#include "platform/ui/TableView.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

// A table that is its own data source and delegate over sections of row
// models (QNTableViewData). Screens fill it with rows, bind rows to the keys
// of their settings dictionary and hear row events through
// QNTableViewDelegate; the cells and their controls are its own business.
class QNTableView : public ui::TableView, public ui::TableViewDataSource, public ui::TableViewDelegate {
public:
    using Row = std::shared_ptr<QNTableViewData>;

    explicit QNTableView(const ui::Rect& frame = ui::Rect(), ui::TableViewStyle style = ui::TableViewStyle::Plain);

    // Appends the row to the section (made when missing).
    void addData(const Row& data, int section, ui::TableViewRowAnimation animation);
    // Inserts the row at the path, first adding empty sections up to the
    // path's section when there are fewer. A row index past the end appends.
    void insertDataAtIndexPath(const Row& data, const ui::IndexPath& indexPath, ui::TableViewRowAnimation animation);
    // Paths outside the model are ignored.
    void removeDataAtIndexPath(const ui::IndexPath& indexPath, ui::TableViewRowAnimation animation);
    // Empties the section one row at a time from the front; the section and
    // its titles stay.
    void removeDataAtSection(int section, ui::TableViewRowAnimation animation);
    // Rebuilds the row's cell from its (changed) model.
    void updateCellWithIndexPath(const ui::IndexPath& indexPath, ui::TableViewRowAnimation animation);
    // Puts a new model in place of the row's and rebuilds its cell.
    void replaceDataAtIndexPath(const Row& data, const ui::IndexPath& indexPath, ui::TableViewRowAnimation animation);

    // The title of a section (none: no title), padding the list with untitled
    // entries up to the index.
    void setSectionHeaderTitle(const std::optional<std::string>& title, int index);
    void setSectionFooterTitle(const std::optional<std::string>& title, int index);

    // 0 when the section is not in the model.
    int getRowsFromSection(int section) const;
    // Null outside the model.
    QNTableViewData* getDataFromIndexPath(const ui::IndexPath& indexPath) const;
    Row getDataRefFromIndexPath(const ui::IndexPath& indexPath) const;

    QNTableViewDelegate* qntableViewDelegate() const { return qnDelegate_; }
    void setQntableViewDelegate(QNTableViewDelegate* d) { qnDelegate_ = d; }

    const std::vector<std::vector<Row>>& sectionList() const { return sectionList_; }

    // From the cells.
    void onSwValueChangedWithIndexPath(const ui::IndexPath& indexPath, bool value);
    void onSegmentValueChangedWithIndexPath(const ui::IndexPath& indexPath, int64_t value);
    void onTextFieldValueChangedWithIndexPath(const ui::IndexPath& indexPath, const std::string& value);

    // --- Data source and delegate ---
    int numberOfSectionsInTableView(ui::TableView&) override;
    int tableViewNumberOfRowsInSection(ui::TableView&, int section) override;
    std::shared_ptr<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView&,
                                                                      const ui::IndexPath& indexPath) override;
    std::optional<std::string> tableViewTitleForHeaderInSection(ui::TableView&, int section) override;
    std::optional<std::string> tableViewTitleForFooterInSection(ui::TableView&, int section) override;
    bool tableViewCommitsEditingStyle(ui::TableView&) override { return true; }
    void tableViewCommitEditingStyle(ui::TableView&, ui::TableViewCellEditingStyle style,
                                     const ui::IndexPath& indexPath) override;
    ui::TableViewCellEditingStyle tableViewEditingStyleForRowAtIndexPath(ui::TableView&,
                                                                         const ui::IndexPath& indexPath) override;
    double tableViewHeightForRowAtIndexPath(ui::TableView& tv, const ui::IndexPath& indexPath) override;
    void tableViewDidSelectRowAtIndexPath(ui::TableView&, const ui::IndexPath& indexPath) override;
    void tableViewAccessoryButtonTappedForRowWithIndexPath(ui::TableView&, const ui::IndexPath& indexPath) override;

private:
    static std::optional<std::string> titleAt(const std::optional<std::vector<std::optional<std::string>>>& titles,
                                              int index);
    static void storeTitle(std::optional<std::vector<std::optional<std::string>>>& titles,
                           const std::optional<std::string>& title, int index);
    void configureCell(class QNTableViewCellCustom& cell, QNTableViewData& row, const ui::IndexPath& ip);

    std::vector<std::vector<Row>> sectionList_;
    std::optional<std::vector<std::optional<std::string>>> sectionHeaderTitles_;
    std::optional<std::vector<std::optional<std::string>>> sectionFooterTitles_;
    QNTableViewDelegate* qnDelegate_ = nullptr;
};
