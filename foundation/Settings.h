#pragma once

#include "foundation/PageTapConfig.h"
#include "foundation/SettingsValues.h"
#include "platform/core/PlistValue.h"
#include "platform/core/UserDefaults.h"

#include <array>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class ThemeLoader;

// The user's preferences: one string-keyed property-list dictionary kept in
// ".globalsettings.lbs" of the settings folder, converted into typed values
// that the engine, the viewer and the lists read; the tap-area table
// (".tapconfig.dat") and the zoom-mode list (".zoomsettings.lbs") beside it;
// and the overlay of the book that is open, which some display settings take
// their values from.
//
// The main thread changes the store; reading threads (page loads, preloads,
// thumbnails) call the typed getters at any time. Every conversion is
// published as one immutable SettingsValues, so a reader never sees half of
// a change; snapshot() gives a whole set for work that reads several values.
class Settings {
public:
    // Zoom-mode codes.
    enum ZoomMode { kZoomDoNotChange = -1, kZoomUser = 0, kZoomZoom = 1, kZoomWidth = 2, kZoomHeight = 3, kZoomFit = 4 };

    struct KeyboardShortcut {
        std::string key;
        int command = 0;
        bool operator==(const KeyboardShortcut&) const = default;
    };

    // A store over the given settings folder; "" means the program's settings
    // folder. The store is empty until readFromFile.
    // `defaults` holds the resume and last-folder keys (the standard user
    // defaults when not given).
    explicit Settings(std::string settingsFolder = {}, sys::UserDefaults* defaults = nullptr);
    ~Settings();
    Settings(const Settings&) = delete;
    Settings& operator=(const Settings&) = delete;

    // The process's store, made on first use.
    static std::shared_ptr<Settings> settings();

    std::string settingsFolder() const;

    // ---- Loading and saving ---------------------------------------------------
    void readFromFile();
    void saveToFile();
    sys::PlistDictionary getDefaultSettings() const;
    void dictionaryToPropaty();
    void updateSettingsFromDefaultKey();
    void checkNoMenuSetting();

    // ---- The global dictionary --------------------------------------------------
    sys::PlistDictionary globalSettings() const;
    // The stored value; null when absent.
    sys::PlistValue valueForKey(const std::string& key) const;
    bool boolValueForKey(const std::string& key) const;
    double floatValueForKey(const std::string& key) const;
    int64_t integerValueForKey(const std::string& key) const;
    // True when the stored value is the string `value`.
    bool isValueForKey(const std::string& key, const std::string& value) const;
    // Changes one value (a null value removes it) and converts again; the
    // settings screens call saveToFile when they are done.
    void setValueForKey(const std::string& key, const sys::PlistValue& value);

    // ---- Typed readings of one key ----------------------------------------------
    int getRootFileViewMode() const;
    int getBookToolviewStyle() const;
    int getStreamConfigExpireDays() const;
    int getZoomModeWithKey(const std::string& key) const;
    int getVolumeButtonWithKey(const std::string& key) const;
    int getOverWriteMode() const;
    int getOverWriteModeiTunes() const;
    int getBgColorWithValue() const;
    int getDownloadListType() const;
    int getBookListStyle() const;
    bool getIsBookshelfMode() const;
    int getZoomModeForUseWithRotation(bool landscape) const;

    // ---- Setters that save ----------------------------------------------------------
    void setBookshelfMode(bool on);
    void setTapMargin(double margin);
    void setMicThreshold(double threshold);
    void setMicDetectMode(int mode);
    // 0 "24h" ... 6 "3years"; any other code changes nothing (but still saves).
    void setStreamExpireDays(int code);
    void setDoNotStorePassword(bool on);
    void set_iCloudSyncEnable(bool on);
    void setSortModeToOld();
    void setSmbSignatureRequiredSetting();

    // ---- Zoom list and tap table -----------------------------------------------------
    void setZoomModeEnableNum(int count);  // no save
    int getZoomModeEnableNum() const;
    std::array<int32_t, 5> getZoomModeOrderList() const;
    // The zoom picker's edit; saved by the next saveToFile.
    void setZoomModeOrderList(const std::array<int32_t, 5>& order);
    PageTapConfig tapConfig() const;
    // The tap screen's edit; saved by the next saveToFile.
    void setTapConfig(const PageTapConfig& config);

    // ---- User defaults -------------------------------------------------------------
    void setSilentResume();
    void setGotoThelastFolder();
    bool getIsSilentResume() const;
    bool getIsGotoThelastFolder() const;

    // ---- Class operations -----------------------------------------------------------
    // The shortcuts of ".keyboard.lbs" in the settings folder ("" = the
    // program's), or the default five when there are none.
    static std::vector<KeyboardShortcut> loadKeyboardShortcutSettings(const std::string& settingsFolder = {});
    static std::vector<KeyboardShortcut> defaultKeyboardShortcuts();
    // Writes the keyboard screen's list as ".keyboard.lbs" (an array of
    // {"key", "command"}); false when it could not be written. A list with
    // nothing in it is kept as one blank entry, since a file without entries
    // reads as the default shortcuts.
    static bool saveKeyboardShortcutSettings(const std::vector<KeyboardShortcut>& shortcuts,
                                             const std::string& settingsFolder = {});
    // Appends the titles of functions 1-24 in the interface language.
    static void addFunctionNameToMutableArray(std::vector<std::string>& titles);

    void didReceiveMemoryWarning();
    std::shared_ptr<ThemeLoader> themeLoader() const;
    void setThemeLoader(std::shared_ptr<ThemeLoader> loader);

    // ---- The open book's overlay --------------------------------------------------------
    // Loads the overlay of a book (a path or an address), converting an old
    // array file first.
    void setTargetBook(const std::string& pathOrUrl);
    std::string targetBook() const;
    sys::PlistDictionary bookSettings() const;
    // The per-book screens' edit of one overlay value (a null value removes it).
    void setBookSettingValue(const std::string& key, const sys::PlistValue& value);
    void saveBookSettingsToFile();
    void setLocalPropaty();
    sys::PlistValue valueForKey(const std::string& key, bool forBookSettings) const;
    int getImageFilterWithValue(bool forBookSettings, const std::string& key) const;
    double getCenterSpaceFloatValue(bool forBookSettings) const;
    int getPdfOptimize(bool forBookSettings) const;
    int getPdfTrimming(bool forBookSettings) const;
    int getClipBlankSpaceMode(bool forBookSettings) const;
    // The viewer's switches: into the overlay when the book overrides the
    // key, else into the global settings; saved either way.
    void setPageDirection(int direction);
    void setDoubleTruck(bool on);

    static bool isDefaultBookSetting(const sys::PlistValue& value);
    static bool getBoolValueFromBookSettingValue(const sys::PlistValue& value);
    // -1 "_default", 0 "off", 1 "on"; other numbers store nothing.
    static void setBooksettingBoolValue(sys::PlistDictionary& dict, const std::string& key, int value);
    // Rewrites an old array file of the book as the dictionary file.
    static void convertBookSettingToNewFile(const std::string& bookPath);

    // ---- Vocabularies --------------------------------------------------------------
    static int zoomModeCode(const sys::PlistValue& value);
    static int imageFilterCode(const sys::PlistValue& value);
    static std::string getImageFilterKeyWithFilterValue(int code);
    // The filters' titles, looked up in the interface language unless
    // `localized` is false (then the keys of the language tables).
    static std::vector<std::string> getImageFilterTitleArray(bool withDefault, bool localized = true);
    static std::vector<std::string> getImageFilteKeyArray(bool withDefault);
    static std::vector<std::string> getImageFilterTitleArrayPseudoColor(bool withDefault, bool localized = true);
    static std::vector<std::string> getImageFilteKeyArrayPseudoColor(bool withDefault);
    static std::optional<std::string> getImageFilterNameWithSettingkey(const std::string& key,
                                                                       const std::vector<std::string>& keys,
                                                                       const std::vector<std::string>& titles);
    static std::optional<std::string> getImageFilterNameWithSettingkey(const std::optional<std::string>& key);

    // ---- Typed values ----------------------------------------------------------------
    std::shared_ptr<const SettingsValues> snapshot() const;

    bool isExistBookSetting() const { return snapshot()->isExistBookSetting; }
    bool isSwapTapLeftRight() const { return snapshot()->isSwapTapLeftRight; }
    bool isSwipeToPage() const { return snapshot()->isSwipeToPage; }
    bool isDivisionPage() const { return snapshot()->isDivisionPage; }
    bool isNoAspectFill() const { return snapshot()->isNoAspectFill; }
    bool isPreRead() const { return snapshot()->isPreRead; }
    bool isOptimizeFilename() const { return snapshot()->isOptimizeFilename; }
    bool isDisableAutoScroll() const { return snapshot()->isDisableAutoScroll; }
    bool isShowBadge() const { return snapshot()->isShowBadge; }
    bool isDisplayZoomMode() const { return snapshot()->isDisplayZoomMode; }
    bool isDisableBounce() const { return snapshot()->isDisableBounce; }
    bool isDoubleTruck() const { return snapshot()->isDoubleTruck; }
    bool isSingleViewFirstPage() const { return snapshot()->isSingleViewFirstPage; }
    bool isShowStatusbar() const { return snapshot()->isShowStatusbar; }
    bool isEnableSnap() const { return snapshot()->isEnableSnap; }
    bool isNotSelectOneFolder() const { return snapshot()->isNotSelectOneFolder; }
    bool isSelectFolder() const { return snapshot()->isSelectFolder; }
    bool isSwitchSplitLeftRight() const { return snapshot()->isSwitchSplitLeftRight; }
    bool isDisplayFoldername() const { return snapshot()->isDisplayFoldername; }
    bool isEnablePagePreview() const { return snapshot()->isEnablePagePreview; }
    bool isDoNotStorePasswords() const { return snapshot()->isDoNotStorePasswords; }
    bool isEnableStreaming() const { return snapshot()->isEnableStreaming; }
    bool isEnableMediaServer() const { return snapshot()->isEnableMediaServer; }
    bool isExchangeDoublePage() const { return snapshot()->isExchangeDoublePage; }
    bool isPageVerticalScroll() const { return snapshot()->isPageVerticalScroll; }
    bool isSwapTapLeftRight_Local() const { return snapshot()->isSwapTapLeftRight_Local; }
    bool isDivisionPage_Local() const { return snapshot()->isDivisionPage_Local; }
    bool isNoAspectFill_Local() const { return snapshot()->isNoAspectFill_Local; }
    bool isDoubleTruck_Local() const { return snapshot()->isDoubleTruck_Local; }
    bool isSingleViewFirstPage_Local() const { return snapshot()->isSingleViewFirstPage_Local; }
    bool isSwitchSplitLeftRight_Local() const { return snapshot()->isSwitchSplitLeftRight_Local; }
    bool isPageVerticalScroll_Local() const { return snapshot()->isPageVerticalScroll_Local; }
    bool iCloudEnable() const { return snapshot()->iCloudEnable; }
    bool isStatusbarBlack() const { return snapshot()->isStatusbarBlack; }
    bool isHideDotFileSMB() const { return snapshot()->isHideDotFileSMB; }
    bool isMultipleSelectDownload() const { return snapshot()->isMultipleSelectDownload; }
    bool isFileDownloadOnlyDownloadFolder() const { return snapshot()->isFileDownloadOnlyDownloadFolder; }

    int pageDirection() const { return snapshot()->pageDirection; }
    int animation() const { return snapshot()->animation; }
    int imageFilter1() const { return snapshot()->imageFilter1; }
    int imageFilter2() const { return snapshot()->imageFilter2; }
    int imageFilter3() const { return snapshot()->imageFilter3; }
    int volumeButton() const { return snapshot()->volumeButton; }
    int doubleTruckZoomMode() const { return snapshot()->doubleTruckZoomMode; }
    int backgroundColor() const { return snapshot()->backgroundColor; }
    int pdfOptimize() const { return snapshot()->pdfOptimize; }
    int localizeSelect() const { return snapshot()->localizeSelect; }
    int downloadListType() const { return snapshot()->downloadListType; }
    int showBookOpenActionSelect() const { return snapshot()->showBookOpenActionSelect; }
    int filelistRootMode() const { return snapshot()->filelistRootMode; }
    int overWriteMode() const { return snapshot()->overWriteMode; }
    int overWriteModeiTunes() const { return snapshot()->overWriteModeiTunes; }
    int pdfTrimming() const { return snapshot()->pdfTrimming; }
    int bookToolView() const { return snapshot()->bookToolView; }
    int defaultZoomMode() const { return snapshot()->defaultZoomMode; }
    int bookListStyle() const { return snapshot()->bookListStyle; }
    int pageDirection_Local() const { return snapshot()->pageDirection_Local; }
    int pdfTrimming_Local() const { return snapshot()->pdfTrimming_Local; }
    int imageFilter_Local1() const { return snapshot()->imageFilter_Local1; }
    int imageFilter_Local2() const { return snapshot()->imageFilter_Local2; }
    int imageFilter_Local3() const { return snapshot()->imageFilter_Local3; }
    int pdfOptimize_Local() const { return snapshot()->pdfOptimize_Local; }
    int clipBlankSpace_Local() const { return snapshot()->clipBlankSpace_Local; }
    int streamConfigExpireDays() const { return snapshot()->streamConfigExpireDays; }
    int micDetectMode() const { return snapshot()->micDetectMode; }
    int defaultSmbLibrary() const { return snapshot()->defaultSmbLibrary; }
    int remoteThumbsAutoLoad() const { return snapshot()->remoteThumbsAutoLoad; }
    int clipBlankSpace() const { return snapshot()->clipBlankSpace; }
    int directorySortMode() const { return snapshot()->directorySortMode; }
    int sortMode() const { return snapshot()->sortMode; }
    int startupLock() const { return snapshot()->startupLock; }
    double centerSpace() const { return snapshot()->centerSpace; }
    double centerSpace_Local() const { return snapshot()->centerSpace_Local; }
    double tapMargin() const { return snapshot()->tapMargin; }
    double micThreshold() const { return snapshot()->micThreshold; }
    int64_t maximumNumberOfHistories() const { return snapshot()->maximumNumberOfHistories; }

private:
    struct State;

    // Converts the dictionaries into a new set of values and publishes it.
    // Callers hold stateMutex_.
    void publishLocked();
    void saveToFileLocked();
    void saveBookSettingsLocked();
    std::string folderPath() const;

    const std::string folder_;
    sys::UserDefaults* const defaults_;
    mutable std::mutex stateMutex_;  // the dictionaries, the tables, the theme
    std::unique_ptr<State> state_;
    mutable std::mutex snapshotMutex_;  // only the pointer below
    std::shared_ptr<const SettingsValues> values_;
};
