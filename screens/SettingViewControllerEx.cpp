#include "screens/SettingViewControllerEx.h"

#include "foundation/ActiveLog.h"
#include "foundation/BookCommon.h"
#include "foundation/LBDebugLog.h"
#include "foundation/QNCharsetArray.h"
#include "foundation/QNKeyChain.h"
#include "foundation/Settings.h"
#include "foundation/ThemeLoader.h"
#include "library/LocalFilelistViewController.h"
#include "library/ThemeSelectViewController.h"
#include "foundation/ui/ItemSelectViewController.h"
#include "foundation/ui/QNAlertView.h"
#include "foundation/ui/QNTableViewData.h"
#include "foundation/ui/TextInputViewController.h"
#include "platform/core/UserDefaults.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Screen.h"
#include "platform/ui/SegmentedControl.h"
#include "platform/ui/Switch.h"
#include "platform/ui/TextField.h"
#include "foundation/ui/SelectZoomModesViewController.h"
#include "screens/KeyboardSettingViewController.h"
#include "screens/LogTextViewController.h"
#include "screens/StartupPasscodeInputViewController.h"
#include "screens/TapAreaSettingViewController.h"

#include <algorithm>
#include <any>
#include <utility>

namespace {

using RowDefinition = SettingViewControllerEx::RowDef;
using Choice = SettingViewControllerEx::Choice;

std::string tr(const char* text) { return BookCommon::localizedStringWithOnOff(text); }

// A choice's title as the row shows it: looked up, except the names of
// character sets and languages (the first choice, "Default" or "System",
// is looked up there too).
std::string choiceText(const RowDefinition& def, size_t index) {
    const char* title = def.choices[index].title;
    return def.literalTitles && index > 0 ? std::string(title) : tr(title);
}

// Which of the key's choices a stored value is: a value outside the list
// counts as the first choice, as the store reads it.
size_t choiceIndex(const RowDefinition& def, const sys::PlistValue& v) {
    for (size_t i = 0; i < def.choices.size(); ++i)
        if (v.isString() && v.asString() == def.choices[i].word) return i;
    return 0;
}

const std::vector<Choice> kZoomModes{
    {"width", "Fit to Width"}, {"height", "Fit to Height"}, {"fit", "Fit to Image"}, {"zoom", "Maximum Zoom"},
    {"user", "Custom Zoom"}};

// The character sets: their names as words, their titles as shown.
const std::vector<Choice>& charsetChoices() {
    static const std::vector<std::string> names = QNCharsetArray::getCharsetArray();
    static const std::vector<std::string> titles = QNCharsetArray::getCharsetTitleArray();
    static const std::vector<Choice> choices = [] {
        std::vector<Choice> out;
        for (size_t i = 0; i < names.size() && i < titles.size(); ++i) out.push_back({names[i].c_str(), titles[i].c_str()});
        return out;
    }();
    return choices;
}

// The image filters, the pseudo colours after the basic ones (whose list
// repeats "none"); a book's list starts with "-", the global filter. The
// titles are the tables' keys: they are looked up as the rows show them.
const std::vector<Choice>& filterChoices(bool forBook) {
    struct List {
        std::vector<std::string> words;
        std::vector<std::string> titles;
        std::vector<Choice> choices;
        explicit List(bool book)
            : words(Settings::getImageFilteKeyArray(book)), titles(Settings::getImageFilterTitleArray(book, false)) {
            const auto pseudoWords = Settings::getImageFilteKeyArrayPseudoColor(false);
            const auto pseudoTitles = Settings::getImageFilterTitleArrayPseudoColor(false, false);
            words.insert(words.end(), pseudoWords.begin() + 1, pseudoWords.end());
            titles.insert(titles.end(), pseudoTitles.begin() + 1, pseudoTitles.end());
            for (size_t i = 0; i < words.size() && i < titles.size(); ++i)
                choices.push_back({words[i].c_str(), titles[i].c_str()});
        }
    };
    static const List global(false);
    static const List book(true);
    return forBook ? book.choices : global.choices;
}

constexpr const char* kBookDefaultWord = SettingViewControllerEx::kBookDefault;

constexpr const char* kLanguageKey = "localizeSelect";

// A per-book switch: the global value, on or off.
const std::vector<Choice> kBookSwitch{{kBookDefaultWord, "Default"}, {"on", "On"}, {"off", "Off"}};

// A keyboard of digits for the number rows.
constexpr int64_t kNumberPad = 4;

}  // namespace

const std::vector<std::string>& SettingViewControllerEx::sectionTitles() {
    static const std::vector<std::string> titles{"Viewer", "Page Turning", "Image", "File List", "Other", "Remote"};
    return titles;
}

const std::vector<SettingViewControllerEx::RowDef>& SettingViewControllerEx::rowDefs() {
    static const std::vector<RowDef> defs{
        // The stored word names the side the next page lies on: "left" is
        // read right to left.
        {0, "pageDirection", "Page Direction", kChoice, {{"right", "Left to Right"}, {"left", "Right to Left"}}},
        {0, "defaultZoomMode", "Zoom Mode", kChoice, kZoomModes},
        {0, "isDoubleTruck", "Two Pages in Landscape", kSwitch, {}},
        {0, "doubleTruckZoomMode", "Two-Page Zoom Mode", kChoice, kZoomModes},
        {0, "isSingleViewFirstPage", "First Page Alone", kSwitch, {}},
        {0, "isDivisionPage", "Split Wide Pages", kSwitch, {}},
        {0, "backgroundColor",
         "Background Color",
         kChoice,
         {{"black", "Black"}, {"white", "White"}, {"gray", "Gray"}, {"light_gray", "Light Gray"}, {"dark_gray", "Dark Gray"}}},
        {0, "isShowStatusbar", "Show Status Bar", kSwitch, {}},
        {0, "bookToolView",
         "Page Bar",
         kChoice,
         {{"none", "None"}, {"bottom", "Bottom"}, {"bottom_left", "Bottom Left"}, {"bottom_right", "Bottom Right"}}},
        {0, "isEnablePagePreview", "Page Preview", kSwitch, {}},
        {1, "isSwipeToPage", "Swipe to Turn Pages", kSwitch, {}},
        {1, "isPageVerticalScroll", "Vertical Scrolling", kSwitch, {}},
        {1, "isSwapTapLeftRight", "Swap Left and Right Taps", kSwitch, {}},
        {1, "animation",
         "Page Animation",
         kChoice,
         {{"default", "Default"}, {"fast", "Fast"}, {"fastSwipeNoSlide", "Fast, No Slide After Swipe"}, {"none", "None"}}},
        {1, "volumeButton",
         "Volume Buttons",
         kChoice,
         {{"disable", "Off"}, {"up", "Up for Next Page"}, {"down", "Down for Next Page"}, {"doubleclick", "Press Twice for Previous Page"}}},
        // Stored as "stretch to the screen": on keeps the pages' shape.
        {2, "isNoAspectFill", "Keep Aspect Ratio", kInvertedSwitch, {}},
        {2, "pdfTrimming",
         "PDF Margins",
         kChoice,
         {{"none", "Keep"}, {"crop", "Crop"}, {"trim", "Trim"}, {"both", "Crop and Trim"}}},
        {3, "bookListStyle", "List Style", kChoice, {{"detail", "Detail"}, {"simple", "Simple"}}},
        {3, "directorySortMode",
         "Folders",
         kChoice,
         {{"folder", "Folders First"}, {"file", "Files First"}, {"mix", "Mixed"}}},
        {3, "sortMode",
         "Name Order",
         kChoice,
         {{"old", "Numbers by Value"}, {"natural", "Natural"}, {"naturalFast", "Natural (Fast)"}}},
        {3, "isOptimizeFilename", "Shorten Titles", kSwitch, {}},
        {3, "isDisplayFoldername", "Folder Names on Shelves", kSwitch, {}},
        {3, "showBookOpenActionSelect",
         "Ask Before Opening",
         kChoice,
         {{"always", "Always"}, {"bookshelf", "Bookshelf Only"}, {"never", "Never"}}},
        {3, "filelistRootMode", "Home Folder", kChoice, {{"documents", "Documents"}, {"downloads", "Downloads"}}},
        {3, "isGotoTheLastFolder", "Open the Last Folder", kSwitch, {}},
        {3, "isSilentResume", "Resume Without Asking", kSwitch, {}},
        {4, "startupLock", "Start-up Lock", kChoice, {{"disable", "Off"}, {"passphrase", "Passphrase"}}},
        {4, "iCloudEnable", "Share Reading Positions", kSwitch, {}},
        {4, "isDoNotStorePasswords", "Do Not Store Passwords", kSwitch, {}},

        // ---- Reading: pages, bars and scrolling ----
        {kSectionViewer, "centerSpace", "Space Between Pages (%)", kNumber, {}, false, 0, 50},
        {kSectionViewer, "isExchangeDoublePage", "Swap the Two Pages", kSwitch, {}},
        {kSectionViewer, "isSwitchSplitLeftRight", "Swap Split Halves", kSwitch, {}},
        {kSectionViewer, "isStatusbarBlack", "Dark Status Bar", kSwitch, {}},
        {kSectionViewer, "isDisplayZoomMode", "Show Zoom Mode", kSwitch, {}},
        {kSectionViewer, "isShowBadge", "Page Number on the Icon", kSwitch, {}},
        {kSectionViewer, "isPreRead", "Load Pages Ahead", kSwitch, {}},
        {kSectionPageTurning, "isDisableAutoScroll", "Keep Scroll Position", kSwitch, {}},
        // Stored as "no bounce": on lets the page bounce at its edges.
        {kSectionPageTurning, "isDisableBounce", "Bounce at Edges", kInvertedSwitch, {}},
        {kSectionPageTurning, "isEnableSnap", "Stop at Page Edges", kSwitch, {}},
        {kSectionImage, "pdfOptimize",
         "PDF Rendering",
         kChoice,
         {{"auto", "Automatic"}, {"text", "Text"}, {"image", "Image"}, {"smooth", "Smooth"}}},
        {kSectionImage, "clipBlankSpace",
         "Crop Blank Space",
         kChoice,
         {{"none", "Off"}, {"normal", "Normal"}, {"white", "White Only"}, {"keepaspect", "Keep Aspect Ratio"}}},
        // Applied in turn.
        {kSectionImage, "imageFilter", "Image Filter 1", kChoice, filterChoices(false)},
        {kSectionImage, "imageFilter2", "Image Filter 2", kChoice, filterChoices(false)},
        {kSectionImage, "imageFilter3", "Image Filter 3", kChoice, filterChoices(false)},
        // ---- Lists ----
        {kSectionFileList, "isSelectFolder", "Choose a Folder in Books", kSwitch, {}},
        {kSectionFileList, "isNotSelectOneFolder", "Skip the Choice of One Folder", kSwitch, {}},
        {kSectionFileList, "maximumNumberOfHistories", "History Length", kNumber, {}, false, 1, 100},
        // ---- Remote servers, streaming and transfers ----
        {kSectionRemote, "streamExpireDays",
         "Keep Streamed Data",
         kChoice,
         {{"24h", "24 Hours"},
          {"3days", "3 Days"},
          {"7days", "7 Days"},
          {"30days", "30 Days"},
          {"90days", "90 Days"},
          {"1year", "1 Year"},
          {"3years", "3 Years"}}},
        {kSectionRemote, "remoteThumbsAutoLoad",
         "Load Remote Covers",
         kChoice,
         {{"default", "Automatic"}, {"on", "Always"}, {"off", "Never"}}},
        {kSectionRemote, "multipleSelectDownload", "Select Files to Download", kSwitch, {}},
        {kSectionRemote, "overWriteMode",
         "When a File Exists",
         kChoice,
         {{"skip", "Skip"}, {"rename", "Rename"}, {"overwrite", "Overwrite"}}},
        {kSectionRemote, "isFileDownloadOnlyDownloadFolder", "Download Only into Downloads", kSwitch, {}},
        {kSectionRemote, "downloadListType", "Names of Linked Files", kChoice, {{"link", "Link Text"}, {"filename", "File Name"}}},
        {kSectionRemote, "isHideDotFileSMB", "Hide Dot Files (SMB)", kSwitch, {}},
        {kSectionRemote, "smblib",
         "SMB Client",
         kChoice,
         {{"auto", "Automatic"}, {"auto2", "SMB2/3"}, {"assmb", "SMB1"}}},
        {kSectionRemote, "charset", "Character Set", kChoice, charsetChoices(), true},
        // ---- Language ----
        {kSectionOther, kLanguageKey,
         "Language",
         kChoice,
         {{"system", "System"},
          {"en", "English"},
          {"ja", "日本語"},
          {"ko", "한국어"},
          {"zh-Hans", "简体中文"},
          {"zh-Hant", "繁體中文"}},
         true},
    };
    return defs;
}

const std::vector<SettingViewControllerEx::RowDef>& SettingViewControllerEx::bookRowDefs() {
    static const std::vector<RowDef> defs{
        {0, "pageDirection",
         "Page Direction",
         kChoice,
         {{kBookDefaultWord, "Default"}, {"right", "Left to Right"}, {"left", "Right to Left"}}},
        {0, "isDoubleTruck", "Two Pages in Landscape", kChoice, kBookSwitch},
        {0, "isSingleViewFirstPage", "First Page Alone", kChoice, kBookSwitch},
        {0, "isDivisionPage", "Split Wide Pages", kChoice, kBookSwitch},
        {0, "isSwitchSplitLeftRight", "Swap Split Halves", kChoice, kBookSwitch},
        {0, "centerSpace",
         "Space Between Pages (%)",
         kChoice,
         {{kBookDefaultWord, "Default"}, {"0", "0"}, {"1", "1"}, {"3", "3"}, {"5", "5"}, {"10", "10"}, {"15", "15"}},
         true},
        {1, "isPageVerticalScroll", "Vertical Scrolling", kChoice, kBookSwitch},
        {1, "isSwapTapLeftRight", "Swap Left and Right Taps", kChoice, kBookSwitch},
        // As on the global screen: on keeps the pages' shape (stored as
        // "stretch to the screen" off).
        {2,
         "isNoAspectFill",
         "Keep Aspect Ratio",
         kChoice,
         {{kBookDefaultWord, "Default"}, {"off", "On"}, {"on", "Off"}}},
        {2, "pdfTrimming",
         "PDF Margins",
         kChoice,
         {{kBookDefaultWord, "Default"}, {"none", "Keep"}, {"crop", "Crop"}, {"trim", "Trim"}, {"both", "Crop and Trim"}}},
        {2, "pdfOptimize",
         "PDF Rendering",
         kChoice,
         {{kBookDefaultWord, "Default"}, {"auto", "Automatic"}, {"text", "Text"}, {"image", "Image"}, {"smooth", "Smooth"}}},
        {2, "clipBlankSpace",
         "Crop Blank Space",
         kChoice,
         {{kBookDefaultWord, "Default"},
          {"none", "Off"},
          {"normal", "Normal"},
          {"white", "White Only"},
          {"keepaspect", "Keep Aspect Ratio"}}},
        {2, "imageFilter", "Image Filter 1", kChoice, filterChoices(true)},
        {2, "imageFilter2", "Image Filter 2", kChoice, filterChoices(true)},
        {2, "imageFilter3", "Image Filter 3", kChoice, filterChoices(true)},
    };
    return defs;
}

const std::vector<std::string>& SettingViewControllerEx::bookSettingKeys() {
    static const std::vector<std::string> keys = [] {
        std::vector<std::string> out;
        for (const auto& def : bookRowDefs()) out.push_back(def.key);
        return out;
    }();
    return keys;
}

const std::vector<SettingViewControllerEx::RowDef>& SettingViewControllerEx::activeRowDefs() const {
    return settingViewType_ == 1 ? bookRowDefs() : rowDefs();
}

bool SettingViewControllerEx::segmentsFit(const std::vector<std::string>& titles, double width) {
    ui::SegmentedControl probe;
    for (size_t i = 0; i < titles.size(); ++i) probe.insertSegment(titles[i], int(i), false);
    const double needed = probe.sizeThatFits(ui::Size{width, 44}).width;
    // The grouped table's insets and the cell's own margins on both sides.
    return needed <= width - 2 * 20.0 - 2 * 16.0;
}

SettingViewControllerEx::SettingViewControllerEx(ui::TableViewStyle style) : style_(style) {}

void SettingViewControllerEx::loadView() {
    table_ = std::make_shared<QNTableView>(ui::Rect(), style_);
    table_->setQntableViewDelegate(this);
    setView(table_);
}

void SettingViewControllerEx::viewDidLoad() {
    setTitle(settingViewType_ == 1 ? tr("Book Settings") : tr("Settings"));
    values_ = std::make_shared<sys::PlistDictionary>();
    if (settings_ && settingViewType_ == 1) {
        // The book's own words; a key it leaves to the global value shows
        // "Default".
        const sys::PlistDictionary own = settings_->bookSettings();
        for (const auto& key : bookSettingKeys()) {
            const sys::PlistValue& v = own.get(key);
            values_->set(key, v.isString() && !Settings::isDefaultBookSetting(v) ? v : sys::PlistValue(kBookDefault));
        }
    } else if (settings_) {
        for (const auto& def : rowDefs()) {
            sys::PlistValue v = settings_->valueForKey(def.key);
            if (def.kind == kSwitch || def.kind == kInvertedSwitch) v = sys::PlistValue(v.boolValue());
            if (def.kind == kNumber) v = sys::PlistValue(std::to_string(v.integerValue()));
            values_->set(def.key, v);
        }
    }
    original_ = *values_;
    buildRows();
}

std::string SettingViewControllerEx::choiceTitle(const RowDef& def) const {
    const sys::PlistValue& v = values_ ? values_->get(def.key) : sys::PlistValue::null();
    if (def.kind == kNumber) return v.isString() ? v.asString() : std::to_string(v.integerValue());
    if (def.choices.empty()) return "";
    return choiceText(def, choiceIndex(def, v));
}

const SettingViewControllerEx::RowDef* SettingViewControllerEx::defOf(const std::string& key) const {
    for (const auto& def : activeRowDefs())
        if (key == def.key) return &def;
    return nullptr;
}

bool SettingViewControllerEx::showsSegments(const RowDef& def) const {
    if (def.kind != kChoice || def.choices.size() > 3) return false;
    std::vector<std::string> titles;
    for (size_t i = 0; i < def.choices.size(); ++i) titles.push_back(choiceText(def, i));
    // The narrower side of the screen: the rows are made once, and a turn
    // of the device must not cut them off.
    const ui::Rect screen = ui::Screen::main().bounds();
    double width = std::min(screen.width(), screen.height());
    if (table_ && table_->bounds().width() > 0) width = std::min(width, table_->bounds().width());
    return segmentsFit(titles, width);
}

void SettingViewControllerEx::showValue(QNTableViewData& row, const RowDef& def) const {
    const sys::PlistValue& v = values_->get(def.key);
    if (def.kind == kSwitch || def.kind == kInvertedSwitch) {
        const bool stored = v.boolValue();
        row.setValue(sys::PlistValue(def.kind == kInvertedSwitch ? !stored : stored));
        if (auto sw = row.sw()) sw->setOn(row.value().boolValue(), false);
    } else if (row.style() == QNTableViewData::kStyleSegment) {
        row.setValue(sys::PlistValue(int64_t(choiceIndex(def, v))));
    } else {
        row.setDetailText(choiceTitle(def));
    }
}

void SettingViewControllerEx::buildRows() {
    const auto& titles = sectionTitles();
    if (settingViewType_ == 1) {
        for (int s = 0; s < 3; ++s) table_->setSectionHeaderTitle(tr(titles[size_t(s)].c_str()), s);
    } else {
        for (size_t s = 0; s < titles.size(); ++s) table_->setSectionHeaderTitle(tr(titles[s].c_str()), int(s));
    }
    for (const auto& def : activeRowDefs()) {
        auto row = std::make_shared<QNTableViewData>();
        row->setKey(def.key);
        row->setText(tr(def.title));
        if (def.kind == kSwitch || def.kind == kInvertedSwitch) {
            const bool inverted = def.kind == kInvertedSwitch;
            row->setStyle(QNTableViewData::kStyleSwitch);
            row->assignDictionary(values_, def.key, {sys::PlistValue(inverted), sys::PlistValue(!inverted)});
            row->setSelectionStyle(0);
        } else if (showsSegments(def)) {
            row->setStyle(QNTableViewData::kStyleSegment);
            std::vector<std::string> list;
            std::vector<sys::PlistValue> words;
            for (size_t i = 0; i < def.choices.size(); ++i) {
                list.push_back(choiceText(def, i));
                words.emplace_back(def.choices[i].word);
            }
            row->setSelectionList(list);
            row->assignDictionary(values_, def.key, words);
            row->setIsDisplayedInTwoLines(true);
            row->setSelectionStyle(0);
        } else {
            row->setStyle(QNTableViewData::kStyleValue1);
            row->setAccessoryType(int64_t(ui::TableViewCellAccessoryType::DisclosureIndicator));
            row->setSelectionStyle(int64_t(ui::TableViewCellSelectionStyle::Default));
        }
        showValue(*row, def);
        table_->addData(row, def.section, ui::TableViewRowAnimation::None);
    }
    // The book's settings all go back to the global ones.
    if (settingViewType_ == 1) {
        auto row = std::make_shared<QNTableViewData>();
        row->setKey(kResetRowKey);
        row->setText(tr("Use the Global Settings"));
        row->setSelectionStyle(int64_t(ui::TableViewCellSelectionStyle::Default));
        table_->addData(row, 3, ui::TableViewRowAnimation::None);
    }
    // The bookshelf's theme: a list of its own, chosen there and kept at once.
    if (settingViewType_ != 1 && settings_ && settings_->themeLoader()) {
        auto row = std::make_shared<QNTableViewData>();
        row->setKey(kThemeRowKey);
        row->setText(tr("Theme"));
        row->setStyle(QNTableViewData::kStyleValue1);
        row->setDetailText(currentThemeTitle());
        row->setAccessoryType(int64_t(ui::TableViewCellAccessoryType::DisclosureIndicator));
        row->setSelectionStyle(int64_t(ui::TableViewCellSelectionStyle::Default));
        table_->addData(row, 3, ui::TableViewRowAnimation::None);
    }
    buildReadingControlRows();
    buildLogRows();
}

std::string SettingViewControllerEx::currentThemeTitle() const {
    auto theme = settings_ ? settings_->themeLoader() : nullptr;
    if (!theme) return "";
    if (theme->getThemeType() == 1) return theme->themeName();
    return theme->getThemeName(0, theme->getThemeNo());
}

void SettingViewControllerEx::viewWillAppear(bool animated) {
    ui::ViewController::viewWillAppear(animated);
    // The list's tool bar has nothing for this screen and would cover its
    // last row.
    if (auto* nav = navigationController()) nav->setToolbarHidden(true, animated);
    // Back from the theme list or the zoom modes: show what was chosen there
    // (the other rows show their values as they change).
    if (!table_) return;
    const auto& sections = table_->sectionList();
    for (size_t s = 0; s < sections.size(); ++s)
        for (size_t r = 0; r < sections[s].size(); ++r) {
            const std::string& key = sections[s][r]->key();
            if (key == kThemeRowKey) sections[s][r]->setDetailText(currentThemeTitle());
            else if (key == kZoomModesRowKey) sections[s][r]->setDetailText(zoomModesDetail());
            else continue;
            table_->updateCellWithIndexPath({int(s), int(r)}, ui::TableViewRowAnimation::None);
        }
}

void SettingViewControllerEx::refreshRow(const std::string& key) {
    const RowDef* def = defOf(key);
    const auto& sections = table_->sectionList();
    for (size_t s = 0; s < sections.size(); ++s) {
        for (size_t r = 0; r < sections[s].size(); ++r) {
            if (sections[s][r]->key() != key) continue;
            if (def) showValue(*sections[s][r], *def);
            table_->updateCellWithIndexPath({int(s), int(r)}, ui::TableViewRowAnimation::None);
        }
    }
}

void SettingViewControllerEx::setValue(const std::string& key, const sys::PlistValue& value) {
    if (!values_) return;
    values_->set(key, value);
    if (table_) refreshRow(key);
}

void SettingViewControllerEx::tableViewDidSelectRowAtIndexPath(QNTableView& table, const ui::IndexPath& ip,
                                                               QNTableViewData* data) {
    table.deselectRowAtIndexPath(ip, true);
    if (!data) return;
    if (selectReadingControlRow(data->key()) || selectLogRow(data->key())) return;
    if (data->key() == kThemeRowKey && settings_) {
        auto picker = std::make_shared<ThemeSelectViewController>();
        picker->setThemeLoader(settings_->themeLoader());
        if (auto* nav = navigationController()) nav->pushViewController(picker, true);
        return;
    }
    if (data->key() == kResetRowKey) return resetBookSettings();
    if (data->style() != QNTableViewData::kStyleValue1) return;
    const RowDef* def = defOf(data->key());
    if (!def) return;
    if (def->kind == kChoice) openChoiceList(*def);
    else if (def->kind == kNumber) openNumberInput(*def);
}

void SettingViewControllerEx::openChoiceList(const RowDef& def) {
    auto list = std::make_shared<ItemSelectViewController>(ui::TableViewStyle::Grouped);
    std::vector<std::string> titles;
    for (size_t i = 0; i < def.choices.size(); ++i) titles.push_back(choiceText(def, i));
    list->setItemListArray_(std::move(titles));
    list->setSelectedLine_(int64_t(choiceIndex(def, values_->get(def.key))));
    list->setTitle(tr(def.title));
    list->setUserData_(std::string(def.key));
    list->setDelegate(std::dynamic_pointer_cast<SettingViewControllerEx>(shared_from_this()));
    if (auto* nav = navigationController()) nav->pushViewController(list, true);
}

void SettingViewControllerEx::selectItem(int64_t item, const std::any& userData) {
    const auto* key = std::any_cast<std::string>(&userData);
    const RowDef* def = key ? defOf(*key) : nullptr;
    if (!def || item < 0 || size_t(item) >= def->choices.size()) return;
    setValue(*key, sys::PlistValue(def->choices[size_t(item)].word));
    if (*key == kLanguageKey && settingViewType_ != 1) languageChanged();
}

void SettingViewControllerEx::languageChanged() {
    if (!settings_ || !values_ || !table_) return;
    const sys::PlistValue& word = values_->get(kLanguageKey);
    if (original_.get(kLanguageKey) == word) return;
    // The texts are looked up in the language the settings name: kept now,
    // not only when the screen is left.
    settings_->setValueForKey(kLanguageKey, word);
    settings_->saveToFile();
    original_.set(kLanguageKey, word);
    setTitle(tr("Settings"));
    // The back button names the library's screen beneath: in the new
    // language too.
    if (auto* nav = navigationController())
        if (auto* list = dynamic_cast<LocalFilelistViewController*>(nav->viewControllerBelow(this))) list->setScreenTitles();
    for (int s = int(table_->sectionList().size()) - 1; s >= 0; --s)
        table_->removeDataAtSection(s, ui::TableViewRowAnimation::None);
    buildRows();
}

void SettingViewControllerEx::openNumberInput(const RowDef& def) {
    auto input = std::make_shared<TextInputViewController>();
    input->setTitle(tr(def.title));
    input->setTextLabel_(tr(def.title));
    input->setTextToEdit_(choiceTitle(def));
    input->setKeybordType_(kNumberPad);
    input->setUserInfo(std::string(def.key));
    input->setDelegate(std::dynamic_pointer_cast<SettingViewControllerEx>(shared_from_this()));
    if (auto* nav = navigationController()) nav->pushViewController(input, true);
}

bool SettingViewControllerEx::onFinishTextInput(TextInputViewController& sender, const std::string& editTo,
                                                const std::string&) {
    const auto* key = std::any_cast<std::string>(&sender.userInfo());
    const RowDef* def = key ? defOf(*key) : nullptr;
    if (!def) return true;
    // Digits only, a few of them: no sign, no spaces, nothing that overflows.
    const bool digits = !editTo.empty() && editTo.size() <= 6 &&
                        std::all_of(editTo.begin(), editTo.end(), [](char c) { return c >= '0' && c <= '9'; });
    const int number = digits ? std::stoi(editTo) : -1;
    if (!digits || number < def->minimum || number > def->maximum) {
        std::string message = tr("Enter a number from %d to %d.");
        for (int bound : {def->minimum, def->maximum}) {
            const size_t at = message.find("%d");
            if (at != std::string::npos) message.replace(at, 2, std::to_string(bound));
        }
        QNAlertView::showMessage(tr(def->title), message, &sender);
        return false;
    }
    setValue(*key, sys::PlistValue(std::to_string(number)));
    return true;
}

void SettingViewControllerEx::resetBookSettings() {
    for (const auto& key : bookSettingKeys()) setValue(key, sys::PlistValue(kBookDefault));
}

void SettingViewControllerEx::saveChanges() {
    if (!settings_ || !values_) return;
    bool changed = false;
    for (const auto& [key, value] : *values_) {
        if (original_.get(key) == value) continue;
        // The start-up lock follows its passphrase and is saved with it, once
        // confirmed: a choice still waiting for the passphrase is not kept.
        if (settingViewType_ == 0 && key == "startupLock") continue;
        changed = true;
        if (settingViewType_ == 1) {
            settings_->setBookSettingValue(key, value);
        } else if (key == "streamExpireDays") {
            // Keys with setters of their own.
            if (const RowDef* def = defOf(key)) settings_->setStreamExpireDays(int(choiceIndex(*def, value)));
        } else if (key == "iCloudEnable") {
            settings_->set_iCloudSyncEnable(value.boolValue());
        } else if (key == "sortMode" && value.isString() && value.asString() == "old") {
            settings_->setSortModeToOld();
        } else {
            settings_->setValueForKey(key, value);
        }
    }
    if (!changed) return;
    // One write for all (the user defaults' copies included).
    if (settingViewType_ == 1) settings_->saveBookSettingsToFile();
    else settings_->saveToFile();
    original_ = *values_;
}

void SettingViewControllerEx::viewWillDisappear(bool animated) {
    ui::ViewController::viewWillDisappear(animated);
    // Leaving for a list of choices is not leaving the settings.
    auto* nav = navigationController();
    const bool covered = nav && nav->topViewController() != this &&
                         std::any_of(nav->viewControllers().begin(), nav->viewControllers().end(),
                                     [this](const auto& vc) { return vc.get() == this; });
    if (!covered) saveChanges();
}

// ---- The start-up lock ---------------------------------------------------------------------------

namespace {
constexpr const char* kStartupLockKey = "startupLock";
constexpr const char* kLockOff = "disable";
constexpr const char* kLockPassphrase = "passphrase";
}  // namespace

void SettingViewControllerEx::tableViewValueChangedWithIndexPath(QNTableView& table, const ui::IndexPath& ip,
                                                                 const sys::PlistValue&) {
    auto row = table.getDataRefFromIndexPath(ip);
    if (row && logSwitchChanged(row->key())) return;
    if (row && row->key() == kStartupLockKey && settingViewType_ == 0) startupLockChanged();
}

void SettingViewControllerEx::startupLockChanged() {
    const sys::PlistValue& v = values_->get(kStartupLockKey);
    const bool wantsLock = v.isString() && v.asString() == kLockPassphrase;
    if (wantsLock) {
        newPassphraseHash_.clear();
        askPassphrase(kAskNewPassphrase, tr("Enter a new passphrase"));
    } else if (StartupPasscodeInputViewController::isPassphraseStored()) {
        askPassphrase(kAskPassphraseToUnlock, tr("Enter the passphrase"));
    } else {
        showStartupLock(kLockOff, true);
    }
}

void SettingViewControllerEx::askPassphrase(LockQuestion question, const std::string& message) {
    auto self = std::dynamic_pointer_cast<SettingViewControllerEx>(shared_from_this());
    auto alert = std::make_shared<QNAlertView>(tr("Start-up Lock"), message, std::weak_ptr<QNAlertViewDelegate>(self),
                                               tr("Cancel"), std::vector<std::string>{tr("OK")});
    alert->setAlertViewStyle(QNAlertView::kStyleSecureText);
    alert->setUserTag(question);
    alert->show(this);
}

void SettingViewControllerEx::tellLock(const std::string& message) {
    QNAlertView::showMessage(tr("Start-up Lock"), message, this);
}

void SettingViewControllerEx::alertViewClickedButtonAtIndex(QNAlertView& alert, int64_t buttonIndex) {
    const int64_t question = alert.userTag();
    if (question != kAskNewPassphrase && question != kAskPassphraseAgain && question != kAskPassphraseToUnlock) return;
    ui::TextField* field = alert.textFieldAtIndex(0);
    const std::string typed = field ? field->text() : "";
    const bool ok = buttonIndex != alert.cancelButtonIndex();
    const char* account = StartupPasscodeInputViewController::kKeychainAccount;
    const char* service = StartupPasscodeInputViewController::kKeychainService;
    switch (question) {
        case kAskNewPassphrase:
            if (!ok) return showStartupLock(kLockOff, false);
            if (typed.empty()) {
                showStartupLock(kLockOff, false);
                return tellLock(tr("The passphrase cannot be empty."));
            }
            newPassphraseHash_ = BookCommon::passcodeToHash(typed);
            return askPassphrase(kAskPassphraseAgain, tr("Enter the passphrase again"));
        case kAskPassphraseAgain: {
            const std::string first = std::exchange(newPassphraseHash_, std::string());
            if (!ok) return showStartupLock(kLockOff, false);
            if (first.empty() || BookCommon::passcodeToHash(typed) != first) {
                showStartupLock(kLockOff, false);
                return tellLock(tr("The passphrases do not match."));
            }
            if (!QNKeyChain::addOrUpdatePassword(first, account, service)) {
                showStartupLock(kLockOff, false);
                return tellLock(tr("The password store is locked. Unlock it and try again."));
            }
            return showStartupLock(kLockPassphrase, true);
        }
        case kAskPassphraseToUnlock: {
            if (!ok) return showStartupLock(kLockPassphrase, false);
            std::string stored;
            const auto found = QNKeyChain::lookupPasswordWithAccount(account, service, &stored);
            if (found == QNKeyChain::Lookup::NotFound) return showStartupLock(kLockOff, true);
            if (found != QNKeyChain::Lookup::Found) {
                showStartupLock(kLockPassphrase, false);
                return tellLock(tr("The password store is locked. Unlock it and try again."));
            }
            if (stored != BookCommon::passcodeToHash(typed)) {
                showStartupLock(kLockPassphrase, false);
                return tellLock(tr("Incorrect passphrase."));
            }
            if (!QNKeyChain::deletePasswordWithAccount(account, service)) {
                showStartupLock(kLockPassphrase, false);
                return tellLock(tr("The password store is locked. Unlock it and try again."));
            }
            return showStartupLock(kLockOff, true);
        }
        default: return;
    }
}

void SettingViewControllerEx::showStartupLock(const std::string& word, bool save) {
    if (!values_) return;
    values_->set(kStartupLockKey, sys::PlistValue(word));
    if (table_) {
        const auto& sections = table_->sectionList();
        for (size_t s = 0; s < sections.size(); ++s)
            for (size_t r = 0; r < sections[s].size(); ++r) {
                if (sections[s][r]->key() != kStartupLockKey) continue;
                sections[s][r]->setValue(sys::PlistValue(int64_t(word == kLockPassphrase ? 1 : 0)));
                table_->updateCellWithIndexPath({int(s), int(r)}, ui::TableViewRowAnimation::None);
            }
    }
    if (!save || !settings_) return;
    // The key chain has changed already: the setting follows it now, not
    // only when the screen is left.
    settings_->setValueForKey(kStartupLockKey, sys::PlistValue(word));
    settings_->saveToFile();
    original_.set(kStartupLockKey, sys::PlistValue(word));
}

// ---- How the reader is driven: zoom modes, tap areas, keys ---------------------------------------

std::vector<std::string> SettingViewControllerEx::readingControlRowKeys(int type) {
    // The zoom modes, tap areas and keys belong to no single book.
    if (type == 1) return {};
    return {kZoomModesRowKey, kTapAreasRowKey, kKeyboardRowKey};
}

std::string SettingViewControllerEx::zoomModesDetail() const {
    if (!settings_) return "";
    const auto names = SelectZoomModesViewController::zoomModeNames();
    const auto order = settings_->getZoomModeOrderList();
    const int enabled = std::clamp(settings_->getZoomModeEnableNum(), 0, int(order.size()));
    std::string detail;
    for (int i = 0; i < enabled; ++i) {
        const int mode = order[size_t(i)];
        if (mode < 0 || size_t(mode) >= names.size()) continue;
        detail += (detail.empty() ? "" : ", ") + names[size_t(mode)];
    }
    return detail.empty() ? "-" : detail;
}

void SettingViewControllerEx::buildReadingControlRows() {
    for (const auto& key : readingControlRowKeys(settingViewType_)) {
        auto row = std::make_shared<QNTableViewData>();
        row->setKey(key);
        const bool zoomModes = key == kZoomModesRowKey;
        if (zoomModes) row->setText(tr("Zoom Modes"));
        else if (key == kTapAreasRowKey) row->setText(tr("Tap Areas"));
        else row->setText(tr("Keyboard Shortcuts"));
        row->setStyle(QNTableViewData::kStyleValue1);
        row->setDetailText(zoomModes ? zoomModesDetail() : "");
        row->setAccessoryType(int64_t(ui::TableViewCellAccessoryType::DisclosureIndicator));
        row->setSelectionStyle(int64_t(ui::TableViewCellSelectionStyle::Default));
        table_->addData(row, zoomModes ? kSectionViewer : kSectionPageTurning, ui::TableViewRowAnimation::None);
    }
}

bool SettingViewControllerEx::selectReadingControlRow(const std::string& key) {
    const auto keys = readingControlRowKeys(settingViewType_);
    if (std::find(keys.begin(), keys.end(), key) == keys.end()) return false;
    auto* nav = navigationController();
    if (!nav || !settings_) return true;
    if (key == kZoomModesRowKey) {
        auto screen = std::make_shared<SelectZoomModesViewController>(ui::TableViewStyle::Grouped);
        screen->setSettings_(settings_);
        nav->pushViewController(screen, true);
    } else if (key == kTapAreasRowKey) {
        auto screen = std::make_shared<TapAreaSettingViewController>();
        screen->setSettings_(settings_);
        nav->pushViewController(screen, true);
    } else {
        auto screen = std::make_shared<KeyboardSettingViewController>();
        screen->setSettings_(settings_);
        nav->pushViewController(screen, true);
    }
    return true;
}

// ---- The activity log and the debug log ----------------------------------------------------------

void SettingViewControllerEx::buildLogRows() {
    if (settingViewType_ != 0) return;
    auto& defaults = sys::UserDefaults::standard();
    logSwitches_ = std::make_shared<sys::PlistDictionary>();
    const std::pair<const char*, const char*> switches[] = {{kActivityLogKey, "Activity Log"},
                                                            {kDebugLogKey, "Debug Log"}};
    for (const auto& [key, title] : switches) {
        logSwitches_->set(key, sys::PlistValue(defaults.boolForKey(key)));
        auto row = std::make_shared<QNTableViewData>();
        row->setKey(key);
        row->setText(tr(title));
        row->setStyle(QNTableViewData::kStyleSwitch);
        row->assignDictionary(logSwitches_, key, {sys::PlistValue(false), sys::PlistValue(true)});
        row->setValue(logSwitches_->get(key));
        row->setSelectionStyle(0);
        table_->addData(row, kSectionOther, ui::TableViewRowAnimation::None);
    }
    const std::pair<const char*, const char*> shows[] = {{kShowActivityLogRowKey, "Show the Activity Log"},
                                                         {kShowDebugLogRowKey, "Show the Debug Log"}};
    for (const auto& [key, title] : shows) {
        auto row = std::make_shared<QNTableViewData>();
        row->setKey(key);
        row->setText(tr(title));
        row->setStyle(QNTableViewData::kStyleValue1);
        row->setAccessoryType(int64_t(ui::TableViewCellAccessoryType::DisclosureIndicator));
        row->setSelectionStyle(int64_t(ui::TableViewCellSelectionStyle::Default));
        table_->addData(row, kSectionOther, ui::TableViewRowAnimation::None);
    }
}

bool SettingViewControllerEx::logSwitchChanged(const std::string& key) {
    if (!logSwitches_ || (key != kActivityLogKey && key != kDebugLogKey)) return false;
    const bool on = logSwitches_->get(key).boolValue();
    auto& defaults = sys::UserDefaults::standard();
    defaults.setBool(on, key);
    defaults.synchronize();
    // The activity log starts now rather than at the next start.
    if (on && key == kActivityLogKey) ActiveLog::createInstance();
    return true;
}

bool SettingViewControllerEx::selectLogRow(const std::string& key) {
    if (key != kShowActivityLogRowKey && key != kShowDebugLogRowKey) return false;
    auto* nav = navigationController();
    if (!nav) return true;
    const bool activity = key == kShowActivityLogRowKey;
    const std::string text = activity ? ActiveLog::getActiveLog() : LBDebugLog::getDebugLog().value_or("");
    nav->pushViewController(std::make_shared<LogTextViewController>(tr(activity ? "Activity Log" : "Debug Log"), text),
                            true);
    return true;
}
