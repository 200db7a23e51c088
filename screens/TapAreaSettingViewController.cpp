#include "screens/TapAreaSettingViewController.h"

#include "foundation/BookCommon.h"
#include "foundation/PageTapConfig.h"
#include "foundation/Settings.h"
#include "foundation/ui/ItemSelectViewController.h"
#include "foundation/ui/QNAlertView.h"
#include "foundation/ui/TextInputViewController.h"
#include "platform/ui/NavigationController.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

std::string tr(const char* text) { return BookCommon::localizedStringWithOnOff(text); }

constexpr int kAreaSection = 0;
constexpr int kMarginSection = 1;

}  // namespace

TapAreaSettingViewController::TapAreaSettingViewController(ui::TableViewStyle style) : ui::TableViewController(style) {}

std::vector<TapAreaSettingViewController::Area> TapAreaSettingViewController::areas() {
    // In the order a tap is resolved: the first area that holds the point and
    // has a function runs it.
    return {
        {tr("Top Left Corner"), 0},
        {tr("Top Right Corner"), 1},
        {tr("Bottom Left Corner"), 2},
        {tr("Bottom Right Corner"), 3},
        {tr("Edge Toward the Next Page"), 14},
        {tr("Edge Toward the Previous Page"), 15},
        {tr("Left Edge"), 4},
        {tr("Right Edge"), 5},
        {tr("Top Edge"), 6},
        {tr("Bottom Edge"), 7},
        {tr("Top Left Quarter"), 8},
        {tr("Top Right Quarter"), 9},
        {tr("Bottom Left Quarter"), 10},
        {tr("Bottom Right Quarter"), 11},
        {tr("Single Tap"), 12},
        {tr("Double Tap"), 13},
    };
}

std::vector<std::string> TapAreaSettingViewController::functionTitles() {
    std::vector<std::string> titles{"-"};
    Settings::addFunctionNameToMutableArray(titles);
    return titles;
}

std::string TapAreaSettingViewController::functionTitle(const std::vector<std::string>& titles, int64_t function) {
    return function >= 0 && size_t(function) < titles.size() ? titles[size_t(function)] : std::string("-");
}

std::optional<double> TapAreaSettingViewController::parseTapMargin(const std::string& text) {
    const char* begin = text.c_str();
    while (*begin == ' ') ++begin;
    if (!*begin) return std::nullopt;
    char* end = nullptr;
    const double v = std::strtod(begin, &end);
    while (end && *end == ' ') ++end;
    if (!end || *end || !std::isfinite(v) || v < kMinTapMargin || v > kMaxTapMargin) return std::nullopt;
    return v;
}

void TapAreaSettingViewController::viewDidLoad() {
    ui::TableViewController::viewDidLoad();
    setTitle(tr("Tap Areas"));
    areas_ = areas();
    functions_ = functionTitles();
}

void TapAreaSettingViewController::viewWillAppear(bool animated) {
    ui::TableViewController::viewWillAppear(animated);
    if (auto* nav = navigationController()) nav->setToolbarHidden(true, animated);
    tableView()->reloadData();
}

int TapAreaSettingViewController::tableViewNumberOfRowsInSection(ui::TableView&, int section) {
    return section == kAreaSection ? int(areas_.size()) : 1;
}

std::optional<std::string> TapAreaSettingViewController::tableViewTitleForHeaderInSection(ui::TableView&, int section) {
    return section == kAreaSection ? tr("Function of Each Area") : tr("Tap Margin");
}

std::string TapAreaSettingViewController::marginText() const {
    char text[32];
    std::snprintf(text, sizeof text, "%g", settings_value_ ? settings_value_->tapMargin() : 0.0);
    return text;
}

std::shared_ptr<ui::TableViewCell> TapAreaSettingViewController::tableViewCellForRowAtIndexPath(
    ui::TableView& tv, const ui::IndexPath& ip) {
    auto cell = tv.dequeueReusableCell("Cell");
    if (!cell) cell = std::make_shared<ui::TableViewCell>(ui::TableViewCellStyle::Value1, "Cell");
    cell->setAccessoryType(ui::TableViewCellAccessoryType::DisclosureIndicator);
    if (ip.section == kMarginSection) {
        cell->textLabel()->setText(tr("Width of the Edge Areas"));
        cell->detailTextLabel()->setText(marginText());
        return cell;
    }
    const Area& area = areas_[size_t(ip.row)];
    const int32_t function = settings_value_ ? settings_value_->tapConfig().field(area.field) : 0;
    cell->textLabel()->setText(area.title);
    cell->detailTextLabel()->setText(functionTitle(functions_, function));
    return cell;
}

void TapAreaSettingViewController::tableViewDidSelectRowAtIndexPath(ui::TableView& tv, const ui::IndexPath& ip) {
    tv.deselectRowAtIndexPath(ip, true);
    auto* nav = navigationController();
    if (!nav || !settings_value_) return;
    auto self = std::dynamic_pointer_cast<TapAreaSettingViewController>(shared_from_this());
    if (ip.section == kMarginSection) {
        auto input = std::make_shared<TextInputViewController>();
        input->setTitle(tr("Tap Margin"));
        input->setTextLabel_(tr("Points from each edge (0 to 300)"));
        input->setTextToEdit_(marginText());
        input->setDelegate(std::weak_ptr<TextInputViewDelegate>(self));
        nav->pushViewController(input, true);
        return;
    }
    if (ip.row < 0 || size_t(ip.row) >= areas_.size()) return;
    const Area& area = areas_[size_t(ip.row)];
    auto picker = std::make_shared<ItemSelectViewController>(ui::TableViewStyle::Plain);
    picker->setTitle(area.title);
    picker->setItemListArray_(functions_);
    picker->setSelectedLine_(settings_value_->tapConfig().field(area.field));
    picker->setUserData_(area.field);
    picker->setDelegate(std::weak_ptr<ItemSelectViewControllerDelegate>(self));
    nav->pushViewController(picker, true);
}

void TapAreaSettingViewController::selectItem(int64_t item, const std::any& userData) {
    const size_t* field = std::any_cast<size_t>(&userData);
    if (!field || !settings_value_ || item < 0 || size_t(item) >= functions_.size()) return;
    PageTapConfig table = settings_value_->tapConfig();
    table.setField(*field, int32_t(item));
    settings_value_->setTapConfig(table);
    // Saving keeps the menu within a single tap's reach: the table saved may
    // differ from the one chosen.
    settings_value_->saveToFile();
    if (tableView()) tableView()->reloadData();
    if (!(settings_value_->tapConfig() == table))
        tell(this, tr("No area opens the menu: a single tap anywhere opens it."));
}

bool TapAreaSettingViewController::onFinishTextInput(TextInputViewController& sender, const std::string& editTo,
                                                     const std::string&) {
    const auto margin = parseTapMargin(editTo);
    if (!margin) {
        tell(&sender, tr("Enter a number of points from 0 to 300."));
        return false;
    }
    if (settings_value_) settings_value_->setTapMargin(*margin);
    if (tableView()) tableView()->reloadData();
    return true;
}

void TapAreaSettingViewController::tell(ui::ViewController* over, const std::string& message) {
    QNAlertView::showMessage(tr("Tap Areas"), message, over);
}
