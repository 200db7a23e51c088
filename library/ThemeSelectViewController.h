#pragma once

#include "platform/ui/TableViewController.h"

#include <memory>

class ThemeLoader;

// The list of bookshelf themes: the two presets, then the installed
// themes. A tap switches to the theme and goes back; an installed theme can
// be deleted with a swipe (deleting the current one switches to "Default
// Style").
class ThemeSelectViewController : public ui::TableViewController {
public:
    ThemeSelectViewController();

    const std::shared_ptr<ThemeLoader>& themeLoader() const { return themeLoader_; }
    void setThemeLoader(std::shared_ptr<ThemeLoader> loader) { themeLoader_ = std::move(loader); }

    void viewDidLoad() override;

    int numberOfSectionsInTableView(ui::TableView&) override { return 2; }
    int tableViewNumberOfRowsInSection(ui::TableView&, int section) override;
    std::optional<std::string> tableViewTitleForHeaderInSection(ui::TableView&, int section) override;
    std::shared_ptr<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView& tv, const ui::IndexPath& ip) override;
    void tableViewDidSelectRowAtIndexPath(ui::TableView& tv, const ui::IndexPath& ip) override;
    bool tableViewCanEditRowAtIndexPath(ui::TableView&, const ui::IndexPath& ip) override { return ip.section == 1; }
    bool tableViewCommitsEditingStyle(ui::TableView&) override { return true; }
    void tableViewCommitEditingStyle(ui::TableView& tv, ui::TableViewCellEditingStyle style,
                                     const ui::IndexPath& ip) override;

private:
    std::shared_ptr<ThemeLoader> themeLoader_;
};
