#include "screens/KeyboardSettingViewController.h"

#include "foundation/BookCommon.h"
#include "foundation/ui/ItemSelectViewController.h"
#include "foundation/ui/QNAlertView.h"
#include "platform/ui/KeyCommand.h"
#include "platform/ui/NavigationController.h"
#include "screens/TapAreaSettingViewController.h"
#include "viewer/BookViewController.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace {

std::string tr(const char* text) { return BookCommon::localizedStringWithOnOff(text); }

constexpr int kShortcutSection = 0;
constexpr int kAddSection = 1;

// Keys the reading screen keeps for its own work whatever the list says:
// their entries are not shown, and stay in the file as they were.
bool keptByTheReader(const std::string& key) {
    const auto& own = BookViewController::ownKeys();
    return std::find(own.begin(), own.end(), key) != own.end();
}

}  // namespace

KeyboardSettingViewController::KeyboardSettingViewController(ui::TableViewStyle style)
    : ui::TableViewController(style) {}

std::vector<std::string> KeyboardSettingViewController::assignableKeys() { return BookViewController::shortcutKeys(); }

std::string KeyboardSettingViewController::keyTitle(const std::string& key) {
    if (key == ui::KeyInput::returnKey) return tr("Return");
    if (key == ui::KeyInput::backspace) return tr("Backspace");
    if (key == " ") return tr("Space");
    if (key.size() == 1 && std::isalpha(static_cast<unsigned char>(key[0])))
        return std::string(1, char(std::toupper(static_cast<unsigned char>(key[0]))));
    return key;
}

void KeyboardSettingViewController::viewDidLoad() {
    ui::TableViewController::viewDidLoad();
    setTitle(tr("Keyboard Shortcuts"));
    functions_ = TapAreaSettingViewController::functionTitles();
    shortcuts_.clear();
    const std::string folder = settings_value_ ? settings_value_->settingsFolder() : std::string();
    hidden_.clear();
    // A blank entry stands for a list the user emptied.
    for (auto& s : Settings::loadKeyboardShortcutSettings(folder)) {
        if (s.key.empty()) continue;
        (keptByTheReader(s.key) ? hidden_ : shortcuts_).push_back(std::move(s));
    }
    tableView()->setAllowsSelectionDuringEditing(true);
}

void KeyboardSettingViewController::viewWillAppear(bool animated) {
    ui::TableViewController::viewWillAppear(animated);
    if (auto* nav = navigationController()) nav->setToolbarHidden(true, animated);
    setEditing(true, false);
    tableView()->reloadData();
}

void KeyboardSettingViewController::viewDidAppear(bool animated) {
    ui::TableViewController::viewDidAppear(animated);
    if (auto row = std::exchange(askFunctionFor_, std::nullopt)) openFunctionPicker(*row);
}

int KeyboardSettingViewController::tableViewNumberOfRowsInSection(ui::TableView&, int section) {
    if (section == kShortcutSection) return int(shortcuts_.size());
    return freeKeys().empty() ? 0 : 1;
}

std::optional<std::string> KeyboardSettingViewController::tableViewTitleForHeaderInSection(ui::TableView&,
                                                                                         int section) {
    if (section == kShortcutSection) return tr("Keyboard Shortcuts");
    return std::nullopt;
}

std::shared_ptr<ui::TableViewCell> KeyboardSettingViewController::tableViewCellForRowAtIndexPath(
    ui::TableView& tv, const ui::IndexPath& ip) {
    auto cell = tv.dequeueReusableCell("Cell");
    if (!cell) cell = std::make_shared<ui::TableViewCell>(ui::TableViewCellStyle::Value1, "Cell");
    if (ip.section == kAddSection) {
        cell->textLabel()->setText(tr("Add Shortcut"));
        cell->detailTextLabel()->setText("");
        return cell;
    }
    const auto& s = shortcuts_[size_t(ip.row)];
    cell->textLabel()->setText(keyTitle(s.key));
    cell->detailTextLabel()->setText(TapAreaSettingViewController::functionTitle(functions_, s.command));
    return cell;
}

ui::TableViewCellEditingStyle KeyboardSettingViewController::tableViewEditingStyleForRowAtIndexPath(
    ui::TableView&, const ui::IndexPath& ip) {
    return ip.section == kShortcutSection ? ui::TableViewCellEditingStyle::Delete
                                          : ui::TableViewCellEditingStyle::Insert;
}

void KeyboardSettingViewController::tableViewCommitEditingStyle(ui::TableView&, ui::TableViewCellEditingStyle style,
                                                               const ui::IndexPath& ip) {
    if (style == ui::TableViewCellEditingStyle::Delete && ip.section == kShortcutSection) removeShortcut(ip.row);
    else if (style == ui::TableViewCellEditingStyle::Insert && ip.section == kAddSection) openKeyPicker();
}

void KeyboardSettingViewController::tableViewDidSelectRowAtIndexPath(ui::TableView& tv, const ui::IndexPath& ip) {
    tv.deselectRowAtIndexPath(ip, true);
    if (ip.section == kAddSection) openKeyPicker();
    else openFunctionPicker(ip.row);
}

std::vector<std::string> KeyboardSettingViewController::freeKeys() const {
    std::vector<std::string> keys;
    for (auto& k : assignableKeys())
        if (std::none_of(shortcuts_.begin(), shortcuts_.end(), [&](const auto& s) { return s.key == k; }))
            keys.push_back(k);
    return keys;
}

void KeyboardSettingViewController::openKeyPicker() {
    auto* nav = navigationController();
    const auto keys = freeKeys();
    if (!nav || keys.empty()) return;
    std::vector<std::string> titles;
    for (const auto& k : keys) titles.push_back(keyTitle(k));
    auto picker = std::make_shared<ItemSelectViewController>(ui::TableViewStyle::Plain);
    picker->setTitle(tr("Key"));
    picker->setItemListArray_(titles);
    picker->setSelectedLine_(-1);
    picker->setUserData_(PickFor{kPickKey, 0});
    picker->setDelegate(std::weak_ptr<ItemSelectViewControllerDelegate>(
        std::dynamic_pointer_cast<KeyboardSettingViewController>(shared_from_this())));
    nav->pushViewController(picker, true);
}

void KeyboardSettingViewController::openFunctionPicker(int row) {
    auto* nav = navigationController();
    if (!nav || row < 0 || size_t(row) >= shortcuts_.size()) return;
    auto picker = std::make_shared<ItemSelectViewController>(ui::TableViewStyle::Plain);
    picker->setTitle(keyTitle(shortcuts_[size_t(row)].key));
    picker->setItemListArray_(functions_);
    picker->setSelectedLine_(shortcuts_[size_t(row)].command);
    picker->setUserData_(PickFor{kPickFunction, row});
    picker->setDelegate(std::weak_ptr<ItemSelectViewControllerDelegate>(
        std::dynamic_pointer_cast<KeyboardSettingViewController>(shared_from_this())));
    nav->pushViewController(picker, true);
}

void KeyboardSettingViewController::selectItem(int64_t item, const std::any& userData) {
    const PickFor* pick = std::any_cast<PickFor>(&userData);
    if (!pick || item < 0) return;
    if (pick->what == kPickKey) {
        const auto keys = freeKeys();
        if (size_t(item) >= keys.size()) return;
        shortcuts_.push_back({keys[size_t(item)], 0});
        askFunctionFor_ = int(shortcuts_.size()) - 1;
    } else {
        if (pick->row < 0 || size_t(pick->row) >= shortcuts_.size() || size_t(item) >= functions_.size()) return;
        shortcuts_[size_t(pick->row)].command = int(item);
    }
    save();
    if (tableView()) tableView()->reloadData();
}

void KeyboardSettingViewController::removeShortcut(int row) {
    if (row < 0 || size_t(row) >= shortcuts_.size()) return;
    shortcuts_.erase(shortcuts_.begin() + row);
    save();
    if (tableView()) tableView()->reloadData();
}

void KeyboardSettingViewController::save() {
    const std::string folder = settings_value_ ? settings_value_->settingsFolder() : std::string();
    std::vector<Settings::KeyboardShortcut> all = hidden_;
    all.insert(all.end(), shortcuts_.begin(), shortcuts_.end());
    if (Settings::saveKeyboardShortcutSettings(all, folder)) return;
    QNAlertView::showMessage(tr("Keyboard Shortcuts"), tr("The shortcuts could not be saved."), this);
}
