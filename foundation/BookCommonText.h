#pragma once

#include "foundation/ShortcutItemModel.h"
#include "foundation/ToolbarItemModel.h"
#include "platform/core/Date.h"
#include "platform/graphics/Rgba.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ui {
class Button;
class Image;
class Slider;
class ViewController;
}  // namespace ui

// BookCommon's operations for localisation, date, size and time texts, tool bars and quick actions.
// Class operations only; reach them through BookCommon.
class BookCommonText {
public:
    // ---- Interface language -------------------------------------------------
    // The program's own choice: 1 "en", 2 "ja", 3 "ko", 4 "zh-Hans",
    // 5 "zh-Hant"; 0 and 6 follow the system's language.
    static void localizedSet(int choice);
    static int localizedChoice();
    // The folder code of a choice ("en" for 1 ...), "" for the others.
    static std::string languageCodeForChoice(int choice);

    // The text of `key` in the chosen language's table; a missing entry gives
    // the key itself. With no choice, or a choice whose table is absent, the
    // system's language decides. `value` is not used.
    static std::string localizedStringWithOnOff(const std::string& key, const std::string& value = "");

    static bool isInJapanese();
    static bool isIn_CN();
    static bool isIn_CNIsTraditional();
    static bool isIn_KR();
    // The system-language table (whatever the choice) marks itself as a real localisation.
    static bool isCanLocalize();

    // The choice, or from the system's first preferred language: ja 2, en 1,
    // ko 3, zh-Hans 4, zh-Hant 5, anything else 6.
    static int getLanguage();
    // The system's preferred languages, first first ("ja-JP", "zh-Hant-TW"...).
    static std::vector<std::string> systemPreferredLanguages();

    // ---- Dates ----------------------------------------------------------------
    // The modification date of a book's setting file, as "Today", "Yesterday"
    // or a date in the language's order; "" when the file has no date.
    static std::string getDateOfPageInfo(const std::string& bookName, const std::string& basePath);
    // The same text for a known modification date.
    static std::string dateTextOfPageInfo(sys::Date modified);
    // "Today", "Yesterday" or the medium date of the current locale.
    static std::string getLocalDateStringToday(sys::Date date);
    // "Today", "Yesterday", "2 Days", "3 Days" (looked up), else nothing.
    static std::optional<std::string> getLocalDateStringTodayShort(sys::Date date);
    // Year/month/day (Japanese, Korean) or month/day/year, then the time of day.
    static std::string getLocalDateString(sys::Date date);

    // ---- Numbers ----------------------------------------------------------------
    static std::string strSizeFormatFromValue(int64_t bytes);
    static std::string strSizeRateFormatFromValue(int64_t bytesPerSecond);
    static std::string strValueFormatFromValue(uint64_t value);
    static std::string strLeftTimeFromInt(int64_t seconds);

    // ---- Tool bars and quick actions --------------------------------------------
    // The facts the tool bars depend on; the operations below read them from
    // the device profile, the folder layout and the rotation lock.
    struct ToolbarFacts {
        bool isPad = false;
        double systemVersion = 17.0;
        bool cameraAvailable = false;
        bool isScanFolder = false;
        bool rotationLocked = false;
        bool rotationLockEnable = true;  // the pad allows the program's own lock
    };
    // The local file list's tool bar for a folder (nothing for no folder).
    static std::vector<ToolbarItemModel> arrayGetToolbarButtonItems(
        const std::optional<std::string>& currentFullPath, bool isRootView = false);
    static std::vector<ToolbarItemModel> arrayGetToolbarButtonItems(const ToolbarFacts& facts, bool hasPath);
    static std::vector<ToolbarItemModel> arrayGetToolbarButtonItemsForRemote();
    static std::vector<ToolbarItemModel> arrayGetToolbarButtonItemsForRemote(const ToolbarFacts& facts);

    // Replaces the program's quick actions: mode 2 the reading item, 1 the
    // reading item and the list item, anything else the list item.
    static void setShortcutMenu(int mode, const std::optional<std::string>& readingTitle);
    static std::vector<ShortcutItemModel> shortcutMenuItems();
    // The shortened title of the reading item (last element of a path or an address).
    static std::string shortcutTitleForBook(const std::string& pathOrUrl);

    // ---- Silent resume -----------------------------------------------------------
    static void setNextSilentResumeFlag();
    // YES once after the flag was set.
    static bool getNextSilentResumeFlag();

    // ---- Small helpers -----------------------------------------------------------
    static std::string getFileListIconImageName(bool isNew, bool isFin, bool isBookmark, bool isFolderTarget);
    // The flat artwork of an image ("_f" added), and its name.
    static std::shared_ptr<const ui::Image> imageNamed(const std::string& name);
    static std::string flatImageName(const std::string& name);
    // The program's plain wide button: white, or tinted when `white` is false.
    static std::shared_ptr<ui::Button> buttoniOS7Flat(bool white);
    // Track images stretched between caps of `capWidth`, and the thumb.
    static void setSliderImage(ui::Slider& slider, const std::shared_ptr<const ui::Image>& maximumTrackImage,
                               const std::shared_ptr<const ui::Image>& minimumTrackImage,
                               const std::shared_ptr<const ui::Image>& thumbImage, double capWidth);
    // Presents `present` over `viewController`, or dismisses what it presents.
    static void lbCommonPresentViewController(ui::ViewController& viewController,
                                              const std::shared_ptr<ui::ViewController>& present, bool animated);
    static void lbCommonDismissModalViewController(ui::ViewController& viewController, bool animated);
    // Push the About page or the reading statistics on the screen's
    // navigation controller, animated; nothing without one (or, for the
    // statistics, without the screens' factory installed).
    static void pushAboutViewController(ui::ViewController& viewController);
    static void pushStatisticsInformationViewController(ui::ViewController& viewController);
    // Asks for badge and alert notices when alerts are not yet allowed.
    static void setLocalNitificationSetting();
    // A 1 x 1 point image of one colour.
    static std::shared_ptr<const ui::Image> imageWithColor(const gfx::Rgba& color);
    static gfx::Rgba getLeafbrightBackgroundColor();
    static gfx::Rgba getLeafbrightTextColor();
    static std::string getHtmlWithMessage(const std::string& message, const std::string& title);
    // Stored SMB library choices of older versions mapped to the current ones.
    static int getDefaultSmbLibrary(int stored);

    // ---- Key-value text ----------------------------------------------------------
    // "key value" lines; the last matching line wins; nothing when no line matches.
    static std::optional<std::string> getValueFromTextConfFile(const std::string& data, const std::string& key);
    static int64_t getIntValueFromTextConfFile(const std::string& data, const std::string& key);
    // "#RRGGBB" as an opaque colour.
    static std::optional<gfx::Rgba> getIntColorFromTextConfFile(const std::string& data, const std::string& key);

protected:
    BookCommonText() = default;
};
