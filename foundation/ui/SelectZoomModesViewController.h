#pragma once

#include "platform/ui/TableViewController.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class Settings;

// Chooses which of the five zoom modes the viewer cycles through and in
// which order: the enabled modes (in order) above the disabled ones. Rows
// are deleted to disable a mode, tapped to enable it, dragged to reorder;
// every change is written to the settings file at once.
class SelectZoomModesViewController : public ui::TableViewController {
public:
    explicit SelectZoomModesViewController(ui::TableViewStyle style = ui::TableViewStyle::Grouped);

    const std::shared_ptr<Settings>& settings_() const { return settings_value_; }
    void setSettings_(std::shared_ptr<Settings> s) { settings_value_ = std::move(s); }

    // The localised names of the zoom modes, by mode number.
    static std::vector<std::string> zoomModeNames();

    // The modes in their current order, their names, and how many lead as enabled.
    const std::vector<int32_t>& selectItemNumberArray_() const { return numbers_; }
    const std::vector<std::string>& selectItemListArray_() const { return names_; }
    int32_t enableSelectedNum_() const { return enabled_; }

    void resetOrderList();
    // Disables the enabled mode on that row (section 0).
    void deleteItem(const ui::IndexPath& indexPath);

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewWillTransitionToSize(ui::Size size, const std::shared_ptr<ui::TransitionCoordinator>& coordinator) override;

    int numberOfSectionsInTableView(ui::TableView&) override { return 2; }
    int tableViewNumberOfRowsInSection(ui::TableView&, int section) override;
    std::optional<std::string> tableViewTitleForHeaderInSection(ui::TableView&, int section) override;
    std::shared_ptr<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView&,
                                                                      const ui::IndexPath& indexPath) override;
    ui::TableViewCellEditingStyle tableViewEditingStyleForRowAtIndexPath(ui::TableView&,
                                                                         const ui::IndexPath& indexPath) override;
    bool tableViewCommitsEditingStyle(ui::TableView&) override { return true; }
    void tableViewCommitEditingStyle(ui::TableView&, ui::TableViewCellEditingStyle style,
                                     const ui::IndexPath& indexPath) override;
    bool tableViewCanMoveRowAtIndexPath(ui::TableView&, const ui::IndexPath& indexPath) override;
    ui::IndexPath tableViewTargetIndexPathForMoveFromRowAtIndexPath(ui::TableView&, const ui::IndexPath& from,
                                                                    const ui::IndexPath& proposed) override;
    void tableViewMoveRowAtIndexPath(ui::TableView&, const ui::IndexPath& from, const ui::IndexPath& to) override;
    void tableViewDidSelectRowAtIndexPath(ui::TableView&, const ui::IndexPath& indexPath) override;

private:
    void enableItem(int row);

    std::shared_ptr<Settings> settings_value_;
    std::vector<std::string> names_;
    std::vector<int32_t> numbers_;
    int32_t enabled_ = 0;
};
