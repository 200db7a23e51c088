#pragma once

#include "platform/core/Date.h"
#include "platform/graphics/Rgba.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// BookCommon's operations for the interface language and its tables, date, size and time
// texts, and small key-value text files.
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

    // ---- Stored choices -----------------------------------------------------------
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
