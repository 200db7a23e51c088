#pragma once

#include "foundation/Settings.h"
#include "foundation/ui/ItemSelectViewControllerDelegate.h"
#include "platform/ui/TableViewController.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

// The keyboard shortcuts of the reading screen: which viewer function each
// key runs. A shortcut's function is picked from the list of functions; a
// key is added from the keys the reading screen takes (letters, digits,
// Return, Backspace; the arrows, space and the page keys keep their own
// work) and removed with its delete control. Every change is written to
// the settings folder at once; the reading screen reads the list each time
// it comes back to the front.
class KeyboardSettingViewController : public ui::TableViewController, public ItemSelectViewControllerDelegate {
public:
    explicit KeyboardSettingViewController(ui::TableViewStyle style = ui::TableViewStyle::Grouped);

    void setSettings_(std::shared_ptr<Settings> s) { settings_value_ = std::move(s); }
    const std::vector<Settings::KeyboardShortcut>& shortcuts() const { return shortcuts_; }

    // The keys a shortcut may use, and the name shown for one.
    static std::vector<std::string> assignableKeys();
    static std::string keyTitle(const std::string& key);

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
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
    void tableViewDidSelectRowAtIndexPath(ui::TableView&, const ui::IndexPath& indexPath) override;

    void selectItem(int64_t item, const std::any& userData) override;

    // The row's shortcut goes (section 0).
    void removeShortcut(int row);

private:
    // What a picker was opened for.
    enum Pick : int { kPickKey = 1, kPickFunction = 2 };
    struct PickFor {
        Pick what;
        int row;
    };
    void openFunctionPicker(int row);
    void openKeyPicker();
    std::vector<std::string> freeKeys() const;
    void save();

    std::shared_ptr<Settings> settings_value_;
    std::vector<Settings::KeyboardShortcut> shortcuts_;
    // Entries of keys the reader keeps for itself, saved as they were.
    std::vector<Settings::KeyboardShortcut> hidden_;
    std::vector<std::string> functions_;
    // A key just added: its function is asked for once the key list is gone.
    std::optional<int> askFunctionFor_;
};
