#include "library/ThemeSelectViewController.h"

#include "foundation/BookCommon.h"
#include "foundation/ThemeLoader.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TableViewCell.h"

ThemeSelectViewController::ThemeSelectViewController() : ui::TableViewController(ui::TableViewStyle::Grouped) {}

void ThemeSelectViewController::viewDidLoad() {
    ui::TableViewController::viewDidLoad();
    setTitle(BookCommon::localizedStringWithOnOff("Theme"));
}

int ThemeSelectViewController::tableViewNumberOfRowsInSection(ui::TableView&, int section) {
    if (!themeLoader_ || section < 0 || section > 1) return 0;
    return static_cast<int>(themeLoader_->getNumTheme(section));
}

std::optional<std::string> ThemeSelectViewController::tableViewTitleForHeaderInSection(ui::TableView&, int section) {
    return BookCommon::localizedStringWithOnOff(section == 0 ? "Preset" : "Installed");
}

std::shared_ptr<ui::TableViewCell> ThemeSelectViewController::tableViewCellForRowAtIndexPath(ui::TableView& tv,
                                                                                          const ui::IndexPath& ip) {
    auto cell = tv.dequeueReusableCell("cell");
    if (!cell) cell = std::make_shared<ui::TableViewCell>(ui::TableViewCellStyle::Value1, "cell");
    cell->setAccessoryType(ui::TableViewCellAccessoryType::None);
    if (!themeLoader_) return cell;
    const int type = ip.section != 0 ? 1 : 0;
    cell->textLabel()->setText(themeLoader_->getThemeName(type, ip.row));
    cell->textLabel()->setFont(gfx::Font::system(14));
    if (auto* detail = cell->detailTextLabel()) detail->setFont(gfx::Font::system(14));
    if (ip.section == themeLoader_->getThemeType() && ip.row == themeLoader_->getThemeNo())
        cell->setAccessoryType(ui::TableViewCellAccessoryType::Checkmark);
    return cell;
}

void ThemeSelectViewController::tableViewDidSelectRowAtIndexPath(ui::TableView&, const ui::IndexPath& ip) {
    if (!themeLoader_) return;
    themeLoader_->changeTheme(ip.section != 0 ? 1 : 0, ip.row);
    if (auto* nav = navigationController()) nav->popViewController(true);
}

void ThemeSelectViewController::tableViewCommitEditingStyle(ui::TableView& tv, ui::TableViewCellEditingStyle style,
                                                            const ui::IndexPath& ip) {
    if (style != ui::TableViewCellEditingStyle::Delete || ip.section != 1 || !themeLoader_) return;
    const bool current = themeLoader_->getThemeType() == 1 && ip.row == themeLoader_->getThemeNo();
    if (!themeLoader_->uninstallTheme(ip.row)) return;
    tv.deleteRowsAtIndexPaths({ip}, ui::TableViewRowAnimation::Fade);
    if (current) {
        themeLoader_->changeTheme(0, 0);
        tv.reloadData();
    }
}
