#pragma once

#include "foundation/ui/ItemSelectViewControllerDelegate.h"
#include "foundation/ui/QNAlertViewDelegate.h"
#include "foundation/ui/QNTableView.h"
#include "foundation/ui/QNTableViewDelegate.h"
#include "foundation/ui/TextInputViewDelegate.h"
#include "platform/core/PlistDictionary.h"
#include "platform/ui/ViewController.h"

#include <memory>
#include <string>
#include <vector>

class Settings;

// The settings screen: one row per setting, made from the settings' keys
// and the words each key may hold (a switch for on/off keys, segments for
// two or three words that fit the screen's width, else a list to pick from;
// a number typed on a screen of its own, refused outside its range). Changes
// are kept on the screen and saved when it is left. Type 0 (and 2, from the
// reader) edits the program's settings; type 1 the open book's own values
// over them, each of which can go back to the global one.
//
// The start-up lock takes effect at once: choosing the passphrase asks for
// it twice and keeps its hash in the key chain, turning the lock off asks
// for it first and forgets it.
class SettingViewControllerEx : public ui::ViewController,
                                public QNTableViewDelegate,
                                public QNAlertViewDelegate,
                                public ItemSelectViewControllerDelegate,
                                public TextInputViewDelegate {
public:
    // kInvertedSwitch shows on when the stored value is off: the key names
    // the opposite of the row's title ("isNoAspectFill", "Keep Aspect Ratio").
    // kNumber is a whole number kept as its decimal string.
    enum Kind { kSwitch, kInvertedSwitch, kChoice, kNumber };
    struct Choice {
        const char* word;
        const char* title;
    };
    struct RowDef {
        int section;
        const char* key;
        const char* title;
        Kind kind;
        std::vector<Choice> choices;  // kChoice only
        // The choices' titles are shown as they are (names of character sets).
        bool literalTitles = false;
        // kNumber only: the range a typed value must lie in.
        int minimum = 0;
        int maximum = 0;
    };
    // The sections of the program's settings.
    enum Section { kSectionViewer, kSectionPageTurning, kSectionImage, kSectionFileList, kSectionOther, kSectionRemote };

    explicit SettingViewControllerEx(ui::TableViewStyle style = ui::TableViewStyle::Grouped);

    void setSettings_(std::shared_ptr<Settings> settings) { settings_ = std::move(settings); }
    void setSettingViewType(int type) { settingViewType_ = type; }
    int settingViewType() const { return settingViewType_; }

    static const std::vector<RowDef>& rowDefs();
    static const std::vector<std::string>& sectionTitles();
    // The rows of the per-book screen: the keys a book may override, each
    // with "Default" (the global value) first.
    static const std::vector<RowDef>& bookRowDefs();
    // The rows this screen shows (by its type).
    const std::vector<RowDef>& activeRowDefs() const;
    // The overlay keys "Use Global Settings" sets back to "_default".
    static const std::vector<std::string>& bookSettingKeys();
    static constexpr const char* kBookDefault = "_default";
    // The key of the per-book screen's row that puts every key back to the
    // global value.
    static constexpr const char* kResetRowKey = "resetBookSettings";
    // Whether a row of these segment titles fits a screen `width` wide.
    static bool segmentsFit(const std::vector<std::string>& titles, double width);
    // The values being edited (the screen's copy).
    const std::shared_ptr<sys::PlistDictionary>& values() const { return values_; }
    QNTableView* table() const { return table_.get(); }
    // Sets one value as a row would (a word of the key's list, or a boolean).
    void setValue(const std::string& key, const sys::PlistValue& value);
    // Writes the edited values into the settings and saves them.
    void saveChanges();
    // The title shown for the key's stored word ("" when none matches).
    std::string choiceTitle(const RowDef& def) const;

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    // The key of the row that opens the bookshelf theme list.
    static constexpr const char* kThemeRowKey = "theme";
    void tableViewDidSelectRowAtIndexPath(QNTableView& table, const ui::IndexPath& indexPath,
                                          QNTableViewData* data) override;
    void tableViewValueChangedWithIndexPath(QNTableView& table, const ui::IndexPath& indexPath,
                                            const sys::PlistValue& value) override;
    void alertViewClickedButtonAtIndex(QNAlertView& alert, int64_t buttonIndex) override;
    // A choice from a row's list (the user data is the row's key).
    void selectItem(int64_t item, const std::any& userData) override;
    // A number typed for a row (the user info is the row's key): refused
    // with a message unless it is a whole number in the row's range.
    bool onFinishTextInput(TextInputViewController& sender, const std::string& editTo,
                           const std::string& original) override;

    // The questions of the start-up lock (their alerts' user tags).
    enum LockQuestion : int64_t { kAskNewPassphrase = 1, kAskPassphraseAgain = 2, kAskPassphraseToUnlock = 3 };

private:
    void buildRows();
    // The language chosen: kept at once, and the screen shown again in it.
    void languageChanged();
    // The start-up lock row moved: asks what the change needs.
    void startupLockChanged();
    void askPassphrase(LockQuestion question, const std::string& message);
    void tellLock(const std::string& message);
    // Shows `word` on the lock row and keeps it as the stored value (the
    // lock and its setting change together, saved at once).
    void showStartupLock(const std::string& word, bool save);
    void refreshRow(const std::string& key);
    // Shows the key's value on its row (switch, segment or detail text).
    void showValue(QNTableViewData& row, const RowDef& def) const;
    const RowDef* defOf(const std::string& key) const;
    void openChoiceList(const RowDef& def);
    void openNumberInput(const RowDef& def);
    void resetBookSettings();
    // Whether the key's row shows segments (else it opens a list).
    bool showsSegments(const RowDef& def) const;
    std::string currentThemeTitle() const;

    std::shared_ptr<Settings> settings_;
    int settingViewType_ = 0;
    std::shared_ptr<QNTableView> table_;
    ui::TableViewStyle style_;
    std::shared_ptr<sys::PlistDictionary> values_;
    sys::PlistDictionary original_;
    // The hash of the first of the two entries of a new passphrase.
    std::string newPassphraseHash_;

public:
    // ---- How the reader is driven: the zoom modes the zoom switch cycles
    // through, the tap areas and the keyboard shortcuts, each on a screen of
    // its own that saves at once. (The three image filters, applied in turn,
    // are rows of the key lists.)
    static constexpr const char* kZoomModesRowKey = "zoomModes";
    static constexpr const char* kTapAreasRowKey = "tapAreas";
    static constexpr const char* kKeyboardRowKey = "keyboardShortcuts";
    // The keys of these rows that the screen of `type` shows.
    static std::vector<std::string> readingControlRowKeys(int type);

private:
    void buildReadingControlRows();
    // True when the row was one of these and was handled.
    bool selectReadingControlRow(const std::string& key);
    // The zoom modes the switch cycles through, as their row shows them.
    std::string zoomModesDetail() const;

public:
    // ---- The activity log and the debug log: their switches are user
    // defaults, written as they move; a row shows each log's text.
    static constexpr const char* kActivityLogKey = "enable_crashlog";
    static constexpr const char* kDebugLogKey = "enable_bookmarktest";
    static constexpr const char* kShowActivityLogRowKey = "showActivityLog";
    static constexpr const char* kShowDebugLogRowKey = "showDebugLog";

private:
    void buildLogRows();
    // True when the row was one of these and was handled.
    bool selectLogRow(const std::string& key);
    bool logSwitchChanged(const std::string& key);
    std::shared_ptr<sys::PlistDictionary> logSwitches_;
};
