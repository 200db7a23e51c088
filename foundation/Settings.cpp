#include "foundation/Settings.h"

#include "foundation/ArraySort.h"
#include "foundation/BookCommon.h"
#include "foundation/QNTextEncoding.h"
#include "foundation/StreamCacheCleaner.h"
#include "foundation/ThemeLoader.h"
#include "platform/core/FileManager.h"
#include "platform/core/PropertyList.h"

#include <algorithm>
#include <initializer_list>

namespace {

constexpr const char* kGlobalSettingsFile = ".globalsettings.lbs";
constexpr const char* kTapConfigFile = ".tapconfig.dat";
constexpr const char* kZoomSettingsFile = ".zoomsettings.lbs";
constexpr const char* kKeyboardFile = ".keyboard.lbs";

constexpr const char* kDefaultKeyResume = "resume_silent";
constexpr const char* kDefaultKeyLastFolder = "goto_lastfolder";

constexpr const char* kBookDefault = "_default";

struct Word {
    const char* text;
    int code;
};

// The code of a stored vocabulary word; anything that is not one of the
// words (a number included) takes the key's fallback.
int codeOf(const sys::PlistValue& v, std::initializer_list<Word> words, int fallback) {
    if (!v.isString()) return fallback;
    for (const auto& w : words) {
        if (v.asString() == w.text) return w.code;
    }
    return fallback;
}

bool isWord(const sys::PlistValue& v, const char* word) { return v.isString() && v.asString() == word; }

// Settings keys hold strings, numbers or booleans; any other type read from a
// file is treated as if the key were absent.
bool isScalar(const sys::PlistValue& v) { return v.isString() || v.isNumber(); }

int animationCode(const sys::PlistValue& v) {
    return codeOf(v, {{"fast", 1}, {"fastSwipeNoSlide", 2}, {"none", 3}}, 0);
}
int volumeButtonCode(const sys::PlistValue& v) {
    return codeOf(v, {{"up", 1}, {"down", 2}, {"doubleclick", 3}}, 0);
}
int backgroundColorCode(const sys::PlistValue& v) {
    return codeOf(v, {{"black", 0}, {"white", 1}, {"gray", 2}, {"light_gray", 3}, {"dark_gray", 4}}, 0);
}
int streamExpireCode(const sys::PlistValue& v) {
    return codeOf(v,
                  {{"24h", 0}, {"3days", 1}, {"7days", 2}, {"30days", 3}, {"90days", 4}, {"1year", 5}, {"3years", 6}},
                  3);
}
int pdfOptimizeCode(const sys::PlistValue& v) {
    return codeOf(v, {{"auto", 0}, {"text", 1}, {"image", 2}, {"smooth", 3}}, 0);
}
int localizeCode(const sys::PlistValue& v) {
    return codeOf(v, {{"ja", 2}, {"en", 1}, {"ko", 3}, {"zh-Hans", 4}, {"zh-Hant", 5}}, 0);
}
int downloadListTypeCode(const sys::PlistValue& v) { return codeOf(v, {{"link", 0}}, 1); }
int bookOpenActionCode(const sys::PlistValue& v) { return codeOf(v, {{"always", 0}, {"never", 2}}, 1); }
int rootModeCode(const sys::PlistValue& v) { return codeOf(v, {{"documents", 0}}, 1); }
int overWriteCode(const sys::PlistValue& v) { return codeOf(v, {{"skip", 0}, {"rename", 1}, {"overwrite", 2}}, 1); }
int pdfTrimmingCode(const sys::PlistValue& v) {
    return codeOf(v, {{"none", 0}, {"crop", 1}, {"trim", 2}, {"both", 3}}, 0);
}
int startupLockCode(const sys::PlistValue& v) { return codeOf(v, {{"passphrase", 1}, {"touchid", 2}}, 0); }
int bookToolViewCode(const sys::PlistValue& v) {
    return codeOf(v, {{"bottom_left", 1}, {"bottom_right", 2}, {"bottom", 3}}, 0);
}
int bookListStyleCode(const sys::PlistValue& v) { return codeOf(v, {{"simple", 0}, {"simple_remote", 2}}, 1); }
int smbLibraryCode(const sys::PlistValue& v) { return codeOf(v, {{"assmb", 1}, {"auto", 2}, {"auto2", 3}}, 0); }
int directorySortCode(const sys::PlistValue& v) { return codeOf(v, {{"file", 1}, {"mix", 2}}, 0); }
int sortModeCode(const sys::PlistValue& v) { return codeOf(v, {{"old", 0}, {"natural", 1}, {"naturalFast", 2}}, 3); }
int remoteThumbsCode(const sys::PlistValue& v) { return codeOf(v, {{"on", 1}, {"off", 2}}, 0); }
int clipBlankSpaceCode(const sys::PlistValue& v) {
    return codeOf(v, {{"none", 0}, {"normal", 1}, {"white", 2}, {"keepaspect", 3}}, 0);
}

const char* const kStreamExpireWords[] = {"24h", "3days", "7days", "30days", "90days", "1year", "3years"};

const char* const kImageFilterKeys[] = {
    "none",          "gamma",          "gamma_strong",      "invert_colors",     "invert_colors_gray",
    "mirror",        "monochrome",     "auto_contrast",     "sepia",             "virtual_color",
    "virtual_color_c2", "virtual_color_c10", "virtual_color_c11", "virtual_color_c17", "virtual_color_c20",
    "virtual_color_c21", "virtual_color_c23", "virtual_color_c25", "virtual_color_c26",
};
constexpr int kImageFilterCount = static_cast<int>(std::size(kImageFilterKeys));

struct FilterEntry {
    const char* key;
    const char* title;
};

const FilterEntry kBasicFilters[] = {
    {"none", "No Filter"},
    {"auto_contrast", "Automatic Contrast"},
    {"monochrome", "Monochrome"},
    {"sepia", "Sepia Tone"},
    {"gamma", "Image Gamma"},
    {"gamma_strong", "Image Gamma (Strong)"},
    {"invert_colors", "Invert"},
    {"invert_colors_gray", "Invert (Gray)"},
    {"mirror", "Mirror"},
};

const FilterEntry kPseudoColorFilters[] = {
    {"none", "No Filter"},
    {"virtual_color", "Pseudo Color"},
    {"virtual_color_c2", "Pseudo color(A)"},
    {"virtual_color_c10", "Pseudo color(B)"},
    {"virtual_color_c11", "Pseudo color(C)"},
    {"virtual_color_c17", "Pseudo color(D)"},
    {"virtual_color_c20", "Pseudo color(E)"},
    {"virtual_color_c21", "Pseudo color(F)"},
    {"virtual_color_c23", "Pseudo color(G)"},
    {"virtual_color_c25", "Pseudo color(H)"},
    {"virtual_color_c26", "Pseudo color(I)"},
};

const char* const kFunctionTitles[] = {
    "Menu",
    "Next page",
    "Previous page",
    "Switch Zoom Mode",
    "Move to Top Left",
    "Move to Top Right",
    "Move to Bottom Left",
    "Move to Bottom Right",
    "Move to Left Edge",
    "Move to Right Edge",
    "Move to Top",
    "Move to Bottom",
    "Close book",
    "Zoom In / Out",
    "Zoom In / Out",
    "Zoom In / Out",
    "Next Page (Single Page Only)",
    "Previous Page (Single Page Only)",
    "Change Double-Page Mode",
    "Switch Page Direction.",
    "Save Image",
    "Next Book",
    "Previous Book",
    "Switch to Another Reading Page",
};

std::string joinPath(const std::string& folder, const char* name) { return folder + "/" + name; }

}  // namespace

// ---- State ---------------------------------------------------------------------------

struct Settings::State {
    bool loaded = false;  // readFromFile has run: only then are files written
    std::optional<sys::PlistDictionary> global;
    sys::PlistDictionary book;
    std::string targetBook;
    PageTapConfig tapConfig;
    std::array<int32_t, 5> zoomModeOrder{0, 1, 2, 3, 4};
    int32_t zoomModeEnableNum = 0;
    std::shared_ptr<ThemeLoader> themeLoader;
    // Kept apart from the dictionary: the user defaults may override them.
    bool isSilentResume = false;
    bool isGotoTheLastFolder = false;
};

Settings::Settings(std::string settingsFolder, sys::UserDefaults* defaults)
    : folder_(std::move(settingsFolder)),
      defaults_(defaults ? defaults : &sys::UserDefaults::standard()),
      state_(std::make_unique<State>()),
      values_(std::make_shared<const SettingsValues>()) {}

Settings::~Settings() = default;

std::shared_ptr<Settings> Settings::settings() {
    static std::shared_ptr<Settings> shared = std::make_shared<Settings>();
    return shared;
}

std::string Settings::settingsFolder() const { return folderPath(); }

std::string Settings::folderPath() const {
    return folder_.empty() ? BookCommon::getSettingsFolder() : folder_;
}

std::shared_ptr<const SettingsValues> Settings::snapshot() const {
    std::lock_guard<std::mutex> lock(snapshotMutex_);
    return values_;
}

// ---- Defaults ------------------------------------------------------------------------------

sys::PlistDictionary Settings::getDefaultSettings() const {
    const bool pad = BookCommon::getDeviceDisplayType() == 1;
    sys::PlistDictionary d;
    d.set("pageDirection", BookCommon::localizedStringWithOnOff("_VERTICAL") == "_YES" ? "left" : "right");
    d.set("isPageVerticalScroll", false);
    d.set("isSwapTapLeftRight", false);
    d.set("isSwipeToPage", true);
    d.set("isDivisionPage", true);
    d.set("isNoAspectFill", false);
    d.set("isPreRead", true);
    d.set("animation", "default");
    d.set("isOptimizeFilename", true);
    d.set("isDisableAutoScroll", false);
    d.set("isShowBadge", false);
    d.set("isDisplayZoomMode", true);
    d.set("imageFilter", "none");
    d.set("imageFilter2", "none");
    d.set("imageFilter3", "none");
    d.set("isSilentResume", false);
    d.set("isDisableBounce", false);
    d.set("volumeButton", "disable");
    d.set("isDoubleTruck", pad);
    d.set("defaultZoomMode", pad ? "fit" : "width");
    d.set("backgroundColor", pad ? "white" : "black");
    d.set("isShowStatusbar", pad);
    d.set("doubleTruckZoomMode", "fit");
    d.set("isGotoTheLastFolder", true);
    d.set("centerSpace", "1");
    d.set("isSingleViewFirstPage", false);
    d.set("isEnableSnap", false);
    d.set("isNotSelectOneFolder", true);
    d.set("isSelectFolder", true);
    d.set("isBookshelfMode", false);
    d.set("streamExpireDays", "30days");
    d.set("pdfOptimize", "auto");
    d.set("isSwitchSplitLeftRight", false);
    d.set("localizeSelect", "system");
    d.set("isFileDownloadOnlyDownloadFolder", false);
    d.set("downloadListType", "filename");
    d.set("showBookOpenActionSelect", "always");
    d.set("isDisplayFoldername", true);
    d.set("isEnablePagePreview", true);
    d.set("isExchangeDoublePage", false);
    d.set("filelistRootMode", "documents");
    d.set("overWriteMode", "rename");
    d.set("overWriteModeiTunes", "overwrite");
    d.set("pdfTrimming", "both");
    d.set("startupLock", "disable");
    d.set("bookToolView", BookCommon::isDeviceType4inchOrBigger() ? "bottom" : "none");
    d.set("isDoNotStorePasswords", false);
    d.set("bookListStyle", "detail");
    d.set("isEnableStreaming", true);
    d.set("isEnableMediaServer", true);
    d.set("micThreshold", -8.0);
    d.set("micDetectMode", 1);
    d.set("tapMargin", static_cast<double>(BookCommon::getDefaultTapMargin()));
    d.set("charset", "Default");
    d.set("smblib", "auto");
    d.set("directorySortMode", "file");
    d.set("iCloudEnable", false);
    d.set("sortMode", "old");
    d.set("isStatusbarBlack", true);
    d.set("remoteThumbsAutoLoad", "default");
    d.set("isHideDotFileSMB", true);
    d.set("clipBlankSpace", false);
    d.set("multipleSelectDownload", true);
    d.set("maximumNumberOfHistories", "10");
    return d;
}

// ---- Conversion --------------------------------------------------------------------------

void Settings::publishLocked() {
    auto v = std::make_shared<SettingsValues>();
    static const sys::PlistDictionary kEmpty;
    const sys::PlistDictionary& g = state_->global ? *state_->global : kEmpty;
    auto b = [&](const char* key) { return g.get(key).boolValue(); };

    v->tapConfig = state_->tapConfig;
    v->zoomModeOrder = state_->zoomModeOrder;
    v->zoomModeEnableNum = state_->zoomModeEnableNum;

    v->pageDirection = isWord(g.get("pageDirection"), "left") ? 0 : 1;
    v->isPageVerticalScroll = b("isPageVerticalScroll");
    v->isSwapTapLeftRight = b("isSwapTapLeftRight");
    v->isSwipeToPage = b("isSwipeToPage");
    v->isDivisionPage = b("isDivisionPage");
    v->isNoAspectFill = b("isNoAspectFill");
    v->isPreRead = b("isPreRead");
    v->animation = animationCode(g.get("animation"));
    v->isOptimizeFilename = b("isOptimizeFilename");
    v->isDisableAutoScroll = b("isDisableAutoScroll");
    v->isShowBadge = b("isShowBadge");
    v->isDisplayZoomMode = b("isDisplayZoomMode");
    v->imageFilter1 = imageFilterCode(g.get("imageFilter"));
    v->imageFilter2 = imageFilterCode(g.get("imageFilter2"));
    v->imageFilter3 = imageFilterCode(g.get("imageFilter3"));
    v->isDisableBounce = b("isDisableBounce");
    v->volumeButton = volumeButtonCode(g.get("volumeButton"));
    v->isDoubleTruck = b("isDoubleTruck");
    v->defaultZoomMode = zoomModeCode(g.get("defaultZoomMode"));
    v->backgroundColor = backgroundColorCode(g.get("backgroundColor"));
    v->isShowStatusbar = b("isShowStatusbar");
    v->doubleTruckZoomMode = zoomModeCode(g.get("doubleTruckZoomMode"));
    v->centerSpace = static_cast<double>(g.get("centerSpace").integerValue()) / 100.0;
    v->isSingleViewFirstPage = b("isSingleViewFirstPage");
    v->isEnableSnap = b("isEnableSnap");
    v->isNotSelectOneFolder = b("isNotSelectOneFolder");
    v->isSelectFolder = b("isSelectFolder");
    v->isBookshelfMode = b("isBookshelfMode");
    v->streamConfigExpireDays = streamExpireCode(g.get("streamExpireDays"));
    v->pdfOptimize = pdfOptimizeCode(g.get("pdfOptimize"));
    v->isSwitchSplitLeftRight = b("isSwitchSplitLeftRight");
    v->localizeSelect = localizeCode(g.get("localizeSelect"));
    v->isFileDownloadOnlyDownloadFolder = b("isFileDownloadOnlyDownloadFolder");
    v->downloadListType = downloadListTypeCode(g.get("downloadListType"));
    v->showBookOpenActionSelect = bookOpenActionCode(g.get("showBookOpenActionSelect"));
    v->isDisplayFoldername = b("isDisplayFoldername");
    v->isEnablePagePreview = b("isEnablePagePreview");
    v->isExchangeDoublePage = b("isExchangeDoublePage");
    v->filelistRootMode = rootModeCode(g.get("filelistRootMode"));
    v->overWriteMode = overWriteCode(g.get("overWriteMode"));
    v->overWriteModeiTunes = overWriteCode(g.get("overWriteModeiTunes"));
    v->pdfTrimming = pdfTrimmingCode(g.get("pdfTrimming"));
    v->startupLock = startupLockCode(g.get("startupLock"));
    v->bookToolView = bookToolViewCode(g.get("bookToolView"));
    v->isDoNotStorePasswords = b("isDoNotStorePasswords");
    v->bookListStyle = bookListStyleCode(g.get("bookListStyle"));
    v->isEnableStreaming = b("isEnableStreaming");
    v->isEnableMediaServer = b("isEnableMediaServer");
    v->micThreshold = g.get("micThreshold").doubleValue();
    v->micDetectMode = static_cast<int32_t>(g.get("micDetectMode").integerValue());
    v->tapMargin = g.get("tapMargin").doubleValue();
    v->defaultSmbLibrary = smbLibraryCode(g.get("smblib"));
    v->directorySortMode = directorySortCode(g.get("directorySortMode"));
    v->iCloudEnable = b("iCloudEnable");
    v->sortMode = sortModeCode(g.get("sortMode"));
    v->isStatusbarBlack = b("isStatusbarBlack");
    v->remoteThumbsAutoLoad = remoteThumbsCode(g.get("remoteThumbsAutoLoad"));
    v->isHideDotFileSMB = b("isHideDotFileSMB");
    v->clipBlankSpace = clipBlankSpaceCode(g.get("clipBlankSpace"));
    v->isMultipleSelectDownload = b("multipleSelectDownload");
    v->maximumNumberOfHistories = g.get("maximumNumberOfHistories").integerValue();

    state_->isSilentResume = b("isSilentResume");
    state_->isGotoTheLastFolder = b("isGotoTheLastFolder");
    v->isSilentResume = state_->isSilentResume;
    v->isGotoTheLastFolder = state_->isGotoTheLastFolder;

    // The open book's overlay: a value that is not "_default" replaces the
    // global one, so these follow every global change too.
    const sys::PlistDictionary& o = state_->book;
    bool exists = false;
    auto overlay = [&](const char* key) -> const sys::PlistValue* {
        const sys::PlistValue& value = o.get(key);
        if (isDefaultBookSetting(value)) return nullptr;
        exists = true;
        return &value;
    };
    auto on = [](const sys::PlistValue* value) { return getBoolValueFromBookSettingValue(*value); };
    const sys::PlistValue* x;
    v->pageDirection_Local = (x = overlay("pageDirection")) ? (isWord(*x, "left") ? 0 : 1) : v->pageDirection;
    v->isPageVerticalScroll_Local = (x = overlay("isPageVerticalScroll")) ? on(x) : v->isPageVerticalScroll;
    v->isSwapTapLeftRight_Local = (x = overlay("isSwapTapLeftRight")) ? on(x) : v->isSwapTapLeftRight;
    v->clipBlankSpace_Local = (x = overlay("clipBlankSpace")) ? clipBlankSpaceCode(*x) : v->clipBlankSpace;
    v->isDivisionPage_Local = (x = overlay("isDivisionPage")) ? on(x) : v->isDivisionPage;
    v->isNoAspectFill_Local = (x = overlay("isNoAspectFill")) ? on(x) : v->isNoAspectFill;
    v->centerSpace_Local =
        (x = overlay("centerSpace")) ? static_cast<double>(x->integerValue()) / 100.0 : v->centerSpace;
    v->pdfTrimming_Local = (x = overlay("pdfTrimming")) ? pdfTrimmingCode(*x) : v->pdfTrimming;
    v->isDoubleTruck_Local = (x = overlay("isDoubleTruck")) ? on(x) : v->isDoubleTruck;
    v->isSingleViewFirstPage_Local = (x = overlay("isSingleViewFirstPage")) ? on(x) : v->isSingleViewFirstPage;
    v->imageFilter_Local1 = (x = overlay("imageFilter")) ? imageFilterCode(*x) : v->imageFilter1;
    v->imageFilter_Local2 = (x = overlay("imageFilter2")) ? imageFilterCode(*x) : v->imageFilter2;
    v->imageFilter_Local3 = (x = overlay("imageFilter3")) ? imageFilterCode(*x) : v->imageFilter3;
    v->pdfOptimize_Local = (x = overlay("pdfOptimize")) ? pdfOptimizeCode(*x) : v->pdfOptimize;
    v->isSwitchSplitLeftRight_Local =
        (x = overlay("isSwitchSplitLeftRight")) ? on(x) : v->isSwitchSplitLeftRight;
    v->isExistBookSetting = exists;

    std::shared_ptr<const SettingsValues> published = std::move(v);
    std::lock_guard<std::mutex> lock(snapshotMutex_);
    values_ = std::move(published);
}

void Settings::dictionaryToPropaty() {
    int language, sortCode;
    std::optional<std::string> charset;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        publishLocked();
        static const sys::PlistDictionary kEmpty;
        const sys::PlistDictionary& g = state_->global ? *state_->global : kEmpty;
        language = localizeCode(g.get("localizeSelect"));
        sortCode = sortModeCode(g.get("sortMode"));
        const sys::PlistValue& c = g.get("charset");
        if (c.isString() && c.asString() != "Default") charset = c.asString();
    }
    // Process-wide services that follow the settings.
    BookCommon::localizedSet(language);
    ArraySort::setSortMode(sortCode);
    if (charset)
        QNTextEncoding::setDefaultCharset(charset);
    else
        QNTextEncoding::setDefaultLanguage();
}

void Settings::setLocalPropaty() {
    std::lock_guard<std::mutex> lock(stateMutex_);
    publishLocked();
}

// ---- Loading and saving -----------------------------------------------------------------

void Settings::readFromFile() {
    auto theme = std::make_shared<ThemeLoader>();
    theme->loadSetting();
    // Defaults depend on the language tables and the device only: made
    // before taking the lock.
    sys::PlistDictionary defaults = getDefaultSettings();
    const std::string folder = folderPath();
    int expireCode;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        State& s = *state_;
        s.themeLoader = std::move(theme);
        if (!s.global) s.global.emplace();

        // Keys of the file that the defaults do not know are left out; values
        // of a type no setting has count as absent.
        auto stored = sys::PropertyList::readDictionary(joinPath(folder, kGlobalSettingsFile));
        for (const auto& [key, fallback] : defaults) {
            const sys::PlistValue* value = stored ? stored->find(key) : nullptr;
            s.global->set(key, value && isScalar(*value) ? *value : fallback);
        }

        auto tapBytes = sys::FileManager::contentsOfFile(joinPath(folder, kTapConfigFile), PageTapConfig::kByteSize + 1);
        auto tap = tapBytes ? PageTapConfig::fromBytes(*tapBytes) : std::nullopt;
        if (tap) {
            s.tapConfig = *tap;
            s.tapConfig.ensureMenuReachable();
        } else {
            s.tapConfig = PageTapConfig::defaultTable();
        }

        s.zoomModeOrder = {0, 1, 2, 3, 4};
        s.zoomModeEnableNum = 3;
        auto zoom = sys::PropertyList::readArray(joinPath(folder, kZoomSettingsFile));
        // The count lives in entry 1: a shorter list is no list. Entries that
        // are not numbers (or number texts) make the file unusable.
        bool usable = zoom && zoom->size() >= 2 &&
                      std::all_of(zoom->begin(), zoom->end(), [](const sys::PlistValue& e) { return isScalar(e); });
        if (usable) {
            // There are five modes. None enabled is a choice the zoom-mode
            // picker allows (the zoom switch then always gives custom zoom),
            // and it must survive a restart as saved.
            s.zoomModeEnableNum = static_cast<int32_t>(std::clamp<int64_t>((*zoom)[1].integerValue(), 0, 5));
            for (size_t i = 0; i < 5 && zoom->size() > i + 4; ++i) {
                s.zoomModeOrder[i] = static_cast<int32_t>(std::clamp<int64_t>((*zoom)[i + 4].integerValue(), 0, 4));
            }
        }
        int seen[5] = {0, 0, 0, 0, 0};
        for (int32_t m : s.zoomModeOrder) ++seen[m];
        if (!std::all_of(std::begin(seen), std::end(seen), [](int n) { return n == 1; })) {
            s.zoomModeOrder = {0, 1, 2, 3, 4};
            s.zoomModeEnableNum = 3;
        }
        s.loaded = true;
    }
    dictionaryToPropaty();
    updateSettingsFromDefaultKey();
    expireCode = snapshot()->streamConfigExpireDays;
    StreamCacheCleaner::removeStreamConfigWithDays(expireCode);
}

void Settings::saveToFile() {
    dictionaryToPropaty();
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        saveToFileLocked();
    }
    setSilentResume();
    setGotoThelastFolder();
}

void Settings::saveToFileLocked() {
    State& s = *state_;
    // Before the first load the tables are empty: writing them would replace
    // the user's files with blanks.
    if (!s.loaded) return;
    const std::string folder = folderPath();
    sys::FileManager::createDirectory(folder, true);
    if (s.global) sys::PropertyList::writeFile(*s.global, joinPath(folder, kGlobalSettingsFile));
    s.tapConfig.ensureMenuReachable();
    sys::FileManager::writeFile(joinPath(folder, kTapConfigFile), s.tapConfig.toBytes());
    sys::PlistArray zoom;
    zoom.emplace_back(static_cast<int64_t>(zoomModeCode(s.global ? s.global->get("defaultZoomMode") : sys::PlistValue())));
    zoom.emplace_back(static_cast<int64_t>(s.zoomModeEnableNum));
    zoom.emplace_back(int64_t{0});
    zoom.emplace_back(int64_t{0});
    for (int32_t m : s.zoomModeOrder) zoom.emplace_back(static_cast<int64_t>(m));
    sys::PropertyList::writeFile(sys::PlistValue(std::move(zoom)), joinPath(folder, kZoomSettingsFile));
    publishLocked();
}

void Settings::updateSettingsFromDefaultKey() {
    bool lastFolder = getIsGotoThelastFolder();
    bool resume = getIsSilentResume();
    std::lock_guard<std::mutex> lock(stateMutex_);
    if (!state_->global) state_->global.emplace();
    state_->global->set("isGotoTheLastFolder", lastFolder);
    state_->global->set("isSilentResume", resume);
    publishLocked();
}

void Settings::checkNoMenuSetting() {
    std::lock_guard<std::mutex> lock(stateMutex_);
    state_->tapConfig.ensureMenuReachable();
    publishLocked();
}

// ---- The global dictionary ----------------------------------------------------------------

sys::PlistDictionary Settings::globalSettings() const {
    std::lock_guard<std::mutex> lock(stateMutex_);
    return state_->global ? *state_->global : sys::PlistDictionary();
}

sys::PlistValue Settings::valueForKey(const std::string& key) const { return valueForKey(key, false); }

bool Settings::boolValueForKey(const std::string& key) const { return valueForKey(key).boolValue(); }

double Settings::floatValueForKey(const std::string& key) const { return valueForKey(key).doubleValue(); }

int64_t Settings::integerValueForKey(const std::string& key) const { return valueForKey(key).integerValue(); }

bool Settings::isValueForKey(const std::string& key, const std::string& value) const {
    sys::PlistValue v = valueForKey(key);
    return v.isString() && v.asString() == value;
}

void Settings::setValueForKey(const std::string& key, const sys::PlistValue& value) {
    std::lock_guard<std::mutex> lock(stateMutex_);
    if (!state_->global) state_->global.emplace();
    state_->global->set(key, value);
    publishLocked();
}

// ---- Typed readings of one key ----------------------------------------------------------------

int Settings::getRootFileViewMode() const { return rootModeCode(valueForKey("filelistRootMode")); }
int Settings::getBookToolviewStyle() const { return bookToolViewCode(valueForKey("bookToolView")); }
int Settings::getStreamConfigExpireDays() const { return streamExpireCode(valueForKey("streamExpireDays")); }
int Settings::getZoomModeWithKey(const std::string& key) const { return zoomModeCode(valueForKey(key)); }
int Settings::getVolumeButtonWithKey(const std::string& key) const { return volumeButtonCode(valueForKey(key)); }
int Settings::getOverWriteMode() const { return overWriteCode(valueForKey("overWriteMode")); }
int Settings::getOverWriteModeiTunes() const { return overWriteCode(valueForKey("overWriteModeiTunes")); }
int Settings::getBgColorWithValue() const { return backgroundColorCode(valueForKey("backgroundColor")); }
int Settings::getDownloadListType() const { return downloadListTypeCode(valueForKey("downloadListType")); }
int Settings::getBookListStyle() const { return bookListStyleCode(valueForKey("bookListStyle")); }
bool Settings::getIsBookshelfMode() const { return boolValueForKey("isBookshelfMode"); }

int Settings::getZoomModeForUseWithRotation(bool landscape) const {
    if (landscape && boolValueForKey("isDoubleTruck")) return getZoomModeWithKey("doubleTruckZoomMode");
    return getZoomModeWithKey("defaultZoomMode");
}

// ---- Setters that save ------------------------------------------------------------------------

void Settings::setBookshelfMode(bool on) {
    setValueForKey("isBookshelfMode", on);
    saveToFile();
}

void Settings::setTapMargin(double margin) {
    setValueForKey("tapMargin", margin);
    saveToFile();
}

void Settings::setMicThreshold(double threshold) {
    setValueForKey("micThreshold", threshold);
    saveToFile();
}

void Settings::setMicDetectMode(int mode) {
    setValueForKey("micDetectMode", static_cast<int64_t>(mode));
    saveToFile();
}

void Settings::setStreamExpireDays(int code) {
    // Only the seven periods exist; any other code, negative ones included,
    // leaves the stored period as it is.
    if (code >= 0 && code < static_cast<int>(std::size(kStreamExpireWords)))
        setValueForKey("streamExpireDays", kStreamExpireWords[code]);
    saveToFile();
}

void Settings::setDoNotStorePassword(bool on) {
    setValueForKey("isDoNotStorePasswords", on);
    saveToFile();
}

void Settings::set_iCloudSyncEnable(bool on) {
    setValueForKey("iCloudEnable", on);
    saveToFile();
}

void Settings::setSortModeToOld() {
    setValueForKey("sortMode", "old");
    ArraySort::setSortMode(0);
    saveToFile();
}

void Settings::setSmbSignatureRequiredSetting() {
    setValueForKey("smblib", "auto2");
    saveToFile();
}

// ---- Zoom list and tap table --------------------------------------------------------------------

void Settings::setZoomModeEnableNum(int count) {
    std::lock_guard<std::mutex> lock(stateMutex_);
    state_->zoomModeEnableNum = count;
    publishLocked();
}

int Settings::getZoomModeEnableNum() const {
    std::lock_guard<std::mutex> lock(stateMutex_);
    return state_->zoomModeEnableNum;
}

std::array<int32_t, 5> Settings::getZoomModeOrderList() const {
    std::lock_guard<std::mutex> lock(stateMutex_);
    return state_->zoomModeOrder;
}

void Settings::setZoomModeOrderList(const std::array<int32_t, 5>& order) {
    std::lock_guard<std::mutex> lock(stateMutex_);
    state_->zoomModeOrder = order;
    publishLocked();
}

PageTapConfig Settings::tapConfig() const {
    std::lock_guard<std::mutex> lock(stateMutex_);
    return state_->tapConfig;
}

void Settings::setTapConfig(const PageTapConfig& config) {
    std::lock_guard<std::mutex> lock(stateMutex_);
    state_->tapConfig = config;
    publishLocked();
}

// ---- User defaults ---------------------------------------------------------------------------------

void Settings::setSilentResume() {
    bool value;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        value = state_->isSilentResume;
    }
    defaults_->setBool(value, kDefaultKeyResume);
    defaults_->synchronize();
}

void Settings::setGotoThelastFolder() {
    bool value;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        value = state_->isGotoTheLastFolder;
    }
    defaults_->setBool(value, kDefaultKeyLastFolder);
    defaults_->synchronize();
}

bool Settings::getIsSilentResume() const {
    sys::PlistValue stored = defaults_->objectForKey(kDefaultKeyResume);
    if (!stored.isNull()) return stored.boolValue();
    std::lock_guard<std::mutex> lock(stateMutex_);
    return state_->isSilentResume;
}

bool Settings::getIsGotoThelastFolder() const {
    sys::PlistValue stored = defaults_->objectForKey(kDefaultKeyLastFolder);
    if (!stored.isNull()) return stored.boolValue();
    std::lock_guard<std::mutex> lock(stateMutex_);
    return state_->isGotoTheLastFolder;
}

// ---- Class operations ---------------------------------------------------------------------------------

std::vector<Settings::KeyboardShortcut> Settings::defaultKeyboardShortcuts() {
    return {{" ", 2}, {"\r", 15}, {std::string(1, '\b'), 3}, {"b", 23}, {"n", 22}};
}

std::vector<Settings::KeyboardShortcut> Settings::loadKeyboardShortcutSettings(const std::string& settingsFolder) {
    std::string folder = settingsFolder.empty() ? BookCommon::getSettingsFolder() : settingsFolder;
    std::vector<KeyboardShortcut> list;
    if (auto stored = sys::PropertyList::readArray(joinPath(folder, kKeyboardFile))) {
        for (const auto& entry : *stored) {
            if (!entry.isDictionary()) continue;
            const sys::PlistValue& key = entry.get("key");
            const sys::PlistValue& command = entry.get("command");
            if (!key.isString() || !command.isNumber()) continue;
            list.push_back({key.asString(), static_cast<int>(command.integerValue())});
        }
    }
    return list.empty() ? defaultKeyboardShortcuts() : list;
}

bool Settings::saveKeyboardShortcutSettings(const std::vector<KeyboardShortcut>& shortcuts,
                                            const std::string& settingsFolder) {
    std::string folder = settingsFolder.empty() ? BookCommon::getSettingsFolder() : settingsFolder;
    sys::PlistArray list;
    for (const auto& s : shortcuts) {
        if (s.key.empty()) continue;
        list.emplace_back(sys::PlistDictionary{{"key", sys::PlistValue(s.key)},
                                               {"command", sys::PlistValue(static_cast<int64_t>(s.command))}});
    }
    // No key matches an empty one: the user's empty list stays empty.
    if (list.empty())
        list.emplace_back(sys::PlistDictionary{{"key", sys::PlistValue(std::string())},
                                               {"command", sys::PlistValue(int64_t{0})}});
    sys::FileManager::createDirectory(folder, true);
    return sys::PropertyList::writeFile(sys::PlistValue(std::move(list)), joinPath(folder, kKeyboardFile));
}

void Settings::addFunctionNameToMutableArray(std::vector<std::string>& titles) {
    const char* const zoomSteps[] = {"(130%)", "(150%)", "(200%)"};
    for (int i = 0; i < 24; ++i) {
        std::string title = BookCommon::localizedStringWithOnOff(kFunctionTitles[i]);
        int number = i + 1;
        if (number >= 14 && number <= 16) title += zoomSteps[number - 14];
        titles.push_back(std::move(title));
    }
}

void Settings::didReceiveMemoryWarning() {
    if (auto theme = themeLoader()) theme->didReceiveMemoryWarning();
}

std::shared_ptr<ThemeLoader> Settings::themeLoader() const {
    std::lock_guard<std::mutex> lock(stateMutex_);
    return state_->themeLoader;
}

void Settings::setThemeLoader(std::shared_ptr<ThemeLoader> loader) {
    std::lock_guard<std::mutex> lock(stateMutex_);
    state_->themeLoader = std::move(loader);
}

// ---- The open book's overlay ------------------------------------------------------------------------

void Settings::setTargetBook(const std::string& pathOrUrl) {
    if (!BookCommon::isURL(pathOrUrl)) convertBookSettingToNewFile(pathOrUrl);
    std::string file = BookCommon::getBookSettingsFilename(pathOrUrl, true, false);
    sys::PlistDictionary overlay;
    if (!file.empty()) {
        if (auto stored = sys::PropertyList::readDictionary(file)) {
            // Overlay values are strings (numbers are kept: they read as "not
            // default" and "off"); anything else counts as absent.
            for (const auto& [key, value] : *stored) {
                if (isScalar(value)) overlay.set(key, value);
            }
        }
    }
    std::lock_guard<std::mutex> lock(stateMutex_);
    state_->targetBook = pathOrUrl;
    state_->book = std::move(overlay);
    publishLocked();
}

std::string Settings::targetBook() const {
    std::lock_guard<std::mutex> lock(stateMutex_);
    return state_->targetBook;
}

sys::PlistDictionary Settings::bookSettings() const {
    std::lock_guard<std::mutex> lock(stateMutex_);
    return state_->book;
}

void Settings::setBookSettingValue(const std::string& key, const sys::PlistValue& value) {
    std::lock_guard<std::mutex> lock(stateMutex_);
    state_->book.set(key, value);
    publishLocked();
}

void Settings::saveBookSettingsToFile() {
    std::lock_guard<std::mutex> lock(stateMutex_);
    saveBookSettingsLocked();
}

void Settings::saveBookSettingsLocked() {
    if (state_->targetBook.empty()) return;
    std::string file = BookCommon::getBookSettingsFilename(state_->targetBook, true, false);
    if (!file.empty()) sys::PropertyList::writeFile(state_->book, file);
    publishLocked();
}

sys::PlistValue Settings::valueForKey(const std::string& key, bool forBookSettings) const {
    std::lock_guard<std::mutex> lock(stateMutex_);
    if (forBookSettings) return state_->book.get(key);
    return state_->global ? state_->global->get(key) : sys::PlistValue();
}

int Settings::getImageFilterWithValue(bool forBookSettings, const std::string& key) const {
    return imageFilterCode(valueForKey(key, forBookSettings));
}

double Settings::getCenterSpaceFloatValue(bool forBookSettings) const {
    return static_cast<double>(valueForKey("centerSpace", forBookSettings).integerValue()) / 100.0;
}

int Settings::getPdfOptimize(bool forBookSettings) const {
    return pdfOptimizeCode(valueForKey("pdfOptimize", forBookSettings));
}

int Settings::getPdfTrimming(bool forBookSettings) const {
    return pdfTrimmingCode(valueForKey("pdfTrimming", forBookSettings));
}

int Settings::getClipBlankSpaceMode(bool forBookSettings) const {
    return clipBlankSpaceCode(valueForKey("clipBlankSpace", forBookSettings));
}

void Settings::setPageDirection(int direction) {
    const char* word = direction == 0 ? "left" : direction == 1 ? "right" : nullptr;
    bool toOverlay;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        toOverlay = !isDefaultBookSetting(state_->book.get("pageDirection"));
        if (word) {
            if (toOverlay) {
                state_->book.set("pageDirection", word);
            } else {
                if (!state_->global) state_->global.emplace();
                state_->global->set("pageDirection", word);
            }
        }
    }
    if (toOverlay)
        saveBookSettingsToFile();
    else
        saveToFile();
}

void Settings::setDoubleTruck(bool on) {
    bool toOverlay;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        toOverlay = !isDefaultBookSetting(state_->book.get("isDoubleTruck"));
        if (toOverlay) {
            state_->book.set("isDoubleTruck", on ? "on" : "off");
        } else {
            if (!state_->global) state_->global.emplace();
            state_->global->set("isDoubleTruck", on);
        }
    }
    if (toOverlay)
        saveBookSettingsToFile();
    else
        saveToFile();
}

bool Settings::isDefaultBookSetting(const sys::PlistValue& value) {
    return value.isNull() || isWord(value, kBookDefault);
}

bool Settings::getBoolValueFromBookSettingValue(const sys::PlistValue& value) { return isWord(value, "on"); }

void Settings::setBooksettingBoolValue(sys::PlistDictionary& dict, const std::string& key, int value) {
    if (value == -1)
        dict.set(key, kBookDefault);
    else if (value == 0)
        dict.set(key, "off");
    else if (value == 1)
        dict.set(key, "on");
}

void Settings::convertBookSettingToNewFile(const std::string& bookPath) {
    std::string oldFile = BookCommon::getBookSettingsFilename(bookPath, false, true);
    if (oldFile.empty()) return;
    auto old = sys::PropertyList::readArray(oldFile);
    if (!old) return;

    sys::PlistDictionary converted;
    auto pick = [&](const char* key, int64_t value, std::initializer_list<std::pair<int, const char*>> table) {
        for (const auto& [code, word] : table) {
            if (value == code) {
                converted.set(key, word);
                return;
            }
        }
    };
    const std::initializer_list<std::pair<int, const char*>> boolean = {{-1, kBookDefault}, {0, "off"}, {1, "on"}};
    for (size_t i = 0; i < old->size() && i < 10; ++i) {
        const sys::PlistValue& entry = (*old)[i];
        if (!entry.isNumber()) continue;  // the old file held numbers only
        int64_t n = entry.integerValue();
        switch (i) {
        case 0: pick("pageDirection", n, {{1, "left"}, {0, "right"}, {-1, kBookDefault}}); break;
        case 1: pick("isSwapTapLeftRight", n, boolean); break;
        case 2: pick("isDoubleTruck", n, boolean); break;
        case 3: pick("isDivisionPage", n, boolean); break;
        case 4: pick("isSwitchSplitLeftRight", n, boolean); break;
        case 5:
            pick("imageFilter", n,
                 {{-1, kBookDefault},
                  {0, "none"},
                  {1, "gamma"},
                  {2, "gamma_strong"},
                  {3, "invert_colors"},
                  {4, "mirror"},
                  {5, "monochrome"},
                  {6, "auto_contrast"}});
            break;
        case 6:
            if (n < 0)
                converted.set("centerSpace", kBookDefault);
            else
                pick("centerSpace", n, {{0, "0"}, {1, "1"}, {2, "3"}, {3, "5"}, {4, "10"}, {5, "15"}});
            break;
        case 7: pick("isSingleViewFirstPage", n, boolean); break;
        case 8: pick("pdfOptimize", n, {{-1, kBookDefault}, {0, "auto"}, {1, "text"}, {2, "image"}, {3, "smooth"}}); break;
        case 9: pick("pdfTrimming", n, {{-1, kBookDefault}, {0, "none"}, {1, "crop"}, {2, "trim"}, {3, "both"}}); break;
        }
    }

    std::string newFile = BookCommon::getBookSettingsFilename(bookPath, true, false);
    if (newFile.empty()) return;
    // A dictionary file already there was written later than the array one:
    // it stays. The old file goes only once its contents are safe.
    bool kept = sys::FileManager::fileExists(newFile) || sys::PropertyList::writeFile(converted, newFile);
    if (kept) sys::FileManager::removeItem(oldFile);
}

// ---- Vocabularies ---------------------------------------------------------------------------------

int Settings::zoomModeCode(const sys::PlistValue& value) {
    return codeOf(value, {{"do_not_change", -1}, {"user", 0}, {"zoom", 1}, {"width", 2}, {"height", 3}, {"fit", 4}},
                  2);
}

int Settings::imageFilterCode(const sys::PlistValue& value) {
    if (!value.isString()) return 0;
    for (int i = 0; i < kImageFilterCount; ++i) {
        if (value.asString() == kImageFilterKeys[i]) return i;
    }
    return 0;
}

std::string Settings::getImageFilterKeyWithFilterValue(int code) {
    if (code >= 1 && code < kImageFilterCount) return kImageFilterKeys[code];
    return "none";
}

namespace {

template <size_t N>
std::vector<std::string> filterColumn(const FilterEntry (&list)[N], bool withDefault, bool titles, bool localized) {
    std::vector<std::string> out;
    if (withDefault) out.push_back(titles ? "-" : kBookDefault);
    for (const auto& e : list)
        out.push_back(!titles ? e.key : localized ? BookCommon::localizedStringWithOnOff(e.title) : e.title);
    return out;
}

}  // namespace

std::vector<std::string> Settings::getImageFilterTitleArray(bool withDefault, bool localized) {
    return filterColumn(kBasicFilters, withDefault, true, localized);
}

std::vector<std::string> Settings::getImageFilteKeyArray(bool withDefault) {
    return filterColumn(kBasicFilters, withDefault, false, false);
}

std::vector<std::string> Settings::getImageFilterTitleArrayPseudoColor(bool withDefault, bool localized) {
    return filterColumn(kPseudoColorFilters, withDefault, true, localized);
}

std::vector<std::string> Settings::getImageFilteKeyArrayPseudoColor(bool withDefault) {
    return filterColumn(kPseudoColorFilters, withDefault, false, false);
}

std::optional<std::string> Settings::getImageFilterNameWithSettingkey(const std::string& key,
                                                                      const std::vector<std::string>& keys,
                                                                      const std::vector<std::string>& titles) {
    for (size_t i = 0; i < keys.size() && i < titles.size(); ++i) {
        if (keys[i] == key) return titles[i];
    }
    return std::nullopt;
}

std::optional<std::string> Settings::getImageFilterNameWithSettingkey(const std::optional<std::string>& key) {
    if (!key || *key == kBookDefault) return std::string("-");
    if (auto title = getImageFilterNameWithSettingkey(*key, getImageFilteKeyArray(false), getImageFilterTitleArray(false)))
        return title;
    return getImageFilterNameWithSettingkey(*key, getImageFilteKeyArrayPseudoColor(false),
                                            getImageFilterTitleArrayPseudoColor(false));
}
