#pragma once

#include "foundation/ui/ItemSelectViewControllerDelegate.h"
#include "foundation/ui/TextInputViewDelegate.h"
#include "platform/ui/TableViewController.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class Settings;

// Which viewer function each tap area of the reading screen runs (the
// corners, edges and quarters, a single and a double tap anywhere, the
// edges in the reading direction), and how wide the edge areas are. Each
// area is picked from the list of functions; every change is written to the
// settings folder at once and the reading screen uses it from its next tap.
class TapAreaSettingViewController : public ui::TableViewController,
                                     public ItemSelectViewControllerDelegate,
                                     public TextInputViewDelegate {
public:
    // The margin is a number of points within these bounds.
    static constexpr double kMinTapMargin = 0;
    static constexpr double kMaxTapMargin = 300;

    explicit TapAreaSettingViewController(ui::TableViewStyle style = ui::TableViewStyle::Grouped);

    void setSettings_(std::shared_ptr<Settings> s) { settings_value_ = std::move(s); }

    // The areas in the order shown: their titles and their fields of the tap
    // table (PageTapConfig::field).
    struct Area {
        std::string title;
        size_t field;
    };
    static std::vector<Area> areas();
    // "-" (no function) and the titles of functions 1-24.
    static std::vector<std::string> functionTitles();
    // The title of `function` among `titles` (as functionTitles() gives
    // them), "-" for one outside them.
    static std::string functionTitle(const std::vector<std::string>& titles, int64_t function);
    // The margin typed, when it is a number within the bounds.
    static std::optional<double> parseTapMargin(const std::string& text);

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    int numberOfSectionsInTableView(ui::TableView&) override { return 2; }
    int tableViewNumberOfRowsInSection(ui::TableView&, int section) override;
    std::optional<std::string> tableViewTitleForHeaderInSection(ui::TableView&, int section) override;
    std::shared_ptr<ui::TableViewCell> tableViewCellForRowAtIndexPath(ui::TableView&,
                                                                      const ui::IndexPath& indexPath) override;
    void tableViewDidSelectRowAtIndexPath(ui::TableView&, const ui::IndexPath& indexPath) override;

    void selectItem(int64_t item, const std::any& userData) override;
    bool onFinishTextInput(TextInputViewController& sender, const std::string& editTo,
                           const std::string& original) override;

private:
    std::string marginText() const;
    void tell(ui::ViewController* over, const std::string& message);

    std::shared_ptr<Settings> settings_value_;
    std::vector<Area> areas_;
    std::vector<std::string> functions_;
};
