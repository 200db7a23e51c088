#include "foundation/BookCommonText.h"

#include "foundation/BookCommon.h"
#include "foundation/LanguageTables.h"
#include "platform/core/Calendar.h"
#include "platform/core/DateFormatter.h"
#include "platform/core/DeviceProfile.h"
#include "platform/core/FileManager.h"
#include "platform/core/PlistValue.h"
#include "platform/core/Unicode.h"

#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

namespace {

std::atomic<int> gLanguageChoice{0};

const char* const kChoiceCodes[] = {"", "en", "ja", "ko", "zh-Hans", "zh-Hant"};

std::string format(const char* fmt, auto... args) {
    char buf[128];
    int n = std::snprintf(buf, sizeof buf, fmt, args...);
    if (n < 0) return {};
    if (static_cast<size_t>(n) < sizeof buf) return std::string(buf, static_cast<size_t>(n));
    std::string out(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(out.data(), out.size(), fmt, args...);
    out.resize(static_cast<size_t>(n));
    return out;
}

// The table the system's language picks, as the platform's main bundle would.
std::string systemTableCode() {
    return LanguageTables::shared().bestLanguage(BookCommonText::systemPreferredLanguages());
}

std::string lookupOrKey(const std::string& code, const std::string& key) {
    return LanguageTables::shared().lookup(code, key).value_or(key);
}

}  // namespace

// ---- Interface language ---------------------------------------------------------

void BookCommonText::localizedSet(int choice) { gLanguageChoice.store(choice); }

int BookCommonText::localizedChoice() { return gLanguageChoice.load(); }

std::string BookCommonText::languageCodeForChoice(int choice) {
    if (choice >= 1 && choice <= 5) return kChoiceCodes[choice];
    return {};
}

std::string BookCommonText::localizedStringWithOnOff(const std::string& key, const std::string& /*value*/) {
    std::string code = languageCodeForChoice(gLanguageChoice.load());
    if (!code.empty() && LanguageTables::shared().hasLanguage(code)) return lookupOrKey(code, key);
    return lookupOrKey(systemTableCode(), key);
}

bool BookCommonText::isInJapanese() { return localizedStringWithOnOff("_INJAPANESE") == "_YES"; }
bool BookCommonText::isIn_CN() { return localizedStringWithOnOff("_INCHINESE") == "_YES"; }
bool BookCommonText::isIn_CNIsTraditional() { return localizedStringWithOnOff("_INCHINESE_TRADITINAL") == "_YES"; }
bool BookCommonText::isIn_KR() { return localizedStringWithOnOff("_INKOREAN") == "_YES"; }
bool BookCommonText::isCanLocalize() { return lookupOrKey(systemTableCode(), "_LOCALIZE") == "_YES"; }

int BookCommonText::getLanguage() {
    int choice = gLanguageChoice.load();
    if (choice != 0 && choice != 6) return choice;
    auto preferred = systemPreferredLanguages();
    if (preferred.empty()) return 6;
    const std::string& first = preferred.front();
    std::string base = first.substr(0, first.find('-'));
    if (base == "ja") return 2;
    if (base == "en") return 1;
    if (base == "ko") return 3;
    if (first.find("zh-Hans") != std::string::npos) return 4;
    if (first.find("zh-Hant") != std::string::npos) return 5;
    return 6;
}

std::vector<std::string> BookCommonText::systemPreferredLanguages() {
    return sys::DeviceProfile::current().preferredLanguages;
}

// ---- Dates ------------------------------------------------------------------------

namespace {

constexpr double kOneDay = 86400.0;

// Formats `date` and, when it is today's or yesterday's text in the same
// formatter, the looked-up "Today" or "Yesterday" instead.
std::optional<std::string> todayOrYesterday(const sys::DateFormatter& f, sys::Date date, std::string* text) {
    std::string t = f.stringFromDate(date);
    if (text) *text = t;
    sys::Date now = sys::Date::now();
    if (t == f.stringFromDate(now)) return BookCommonText::localizedStringWithOnOff("Today");
    if (t == f.stringFromDate(now.dateByAddingTimeInterval(-kOneDay)))
        return BookCommonText::localizedStringWithOnOff("Yesterday");
    return std::nullopt;
}

}  // namespace

std::string BookCommonText::getDateOfPageInfo(const std::string& bookName, const std::string& basePath) {
    std::string book = basePath.empty() ? bookName : basePath + "/" + bookName;
    auto modified = sys::FileManager::modificationDate(BookCommon::getBookSettingFile(book, false));
    return modified ? dateTextOfPageInfo(*modified) : std::string();
}

std::string BookCommonText::dateTextOfPageInfo(sys::Date modified) {
    sys::DateFormatter f;
    f.setLocale("en_US");
    // "yyyy" is the calendar year; the week year would show the coming year
    // on the last days of December.
    if (isInJapanese() || isIn_KR())
        f.setDateFormat("yyyy/MM/dd");
    else if (isIn_CN())
        f.setDateFormat("MM/dd/yyyy");
    else
        f.setDateFormat("MMM. dd, yyyy");
    std::string text;
    if (auto word = todayOrYesterday(f, modified, &text)) return *word;
    return text;
}

std::string BookCommonText::getLocalDateStringToday(sys::Date date) {
    sys::DateFormatter f;
    f.setDateStyle(sys::DateFormatter::Style::Medium);
    f.setTimeStyle(sys::DateFormatter::Style::None);
    std::string text;
    if (auto word = todayOrYesterday(f, date, &text)) return *word;
    return text;
}

std::optional<std::string> BookCommonText::getLocalDateStringTodayShort(sys::Date date) {
    sys::DateFormatter f;
    f.setLocale("en_US");
    f.setDateFormat("yyyy/MM/dd");
    if (auto word = todayOrYesterday(f, date, nullptr)) return word;
    std::string text = f.stringFromDate(date);
    sys::Date now = sys::Date::now();
    for (int days : {2, 3}) {
        if (text == f.stringFromDate(now.dateByAddingTimeInterval(-kOneDay * days))) {
            std::string fmt = localizedStringWithOnOff("%d Days");
            // The looked-up text is a format: only its first "%d" is honoured.
            auto at = fmt.find("%d");
            if (at == std::string::npos) return fmt;
            return fmt.substr(0, at) + std::to_string(days) + fmt.substr(at + 2);
        }
    }
    return std::nullopt;
}

std::string BookCommonText::getLocalDateString(sys::Date date) {
    sys::DateComponents c = sys::Calendar().components(date);
    std::string day = (isInJapanese() || isIn_KR()) ? format("%04d/%02d/%02d", c.year, c.month, c.day)
                                                     : format("%02d/%02d/%04d", c.month, c.day, c.year);
    return day + format(" %02d:%02d:%02d", c.hour, c.minute, c.second);
}

// ---- Numbers ----------------------------------------------------------------------

std::string BookCommonText::strSizeFormatFromValue(int64_t bytes) {
    if (bytes <= 1023) return format("%" PRId64 "Byte", bytes);
    if (bytes < 1048576) return format("%.2fKB", static_cast<double>(bytes) / 1024.0);
    if (bytes >= (int64_t{1} << 30)) return format("%.2fGB", static_cast<double>(bytes >> 10) / 1024.0 / 1024.0);
    return format("%.2fMB", static_cast<double>(bytes) / 1024.0 / 1024.0);
}

std::string BookCommonText::strSizeRateFormatFromValue(int64_t bytesPerSecond) {
    if (bytesPerSecond <= 1023) return format("%" PRId64 "B/s", bytesPerSecond);
    if (bytesPerSecond < 1048576) return format("%.1fKB/s", static_cast<double>(bytesPerSecond) / 1024.0);
    return format("%.1fMB/s", static_cast<double>(bytesPerSecond) / 1024.0 / 1024.0);
}

std::string BookCommonText::strValueFormatFromValue(uint64_t value) {
    std::string digits = std::to_string(value);
    std::string out;
    for (size_t i = 0; i < digits.size(); ++i) {
        size_t remaining = digits.size() - i;
        if (i != 0 && remaining % 3 == 0) out.push_back(',');
        out.push_back(digits[i]);
    }
    return out;
}

std::string BookCommonText::strLeftTimeFromInt(int64_t seconds) {
    if (seconds < 60) return format("00:%02" PRId64, seconds);
    if (seconds < 3600) return format("%02" PRId64 ":%02" PRId64, seconds / 60, seconds % 60);
    return format("%02" PRId64 ":%02" PRId64 ":%02" PRId64, seconds / 3600, (seconds / 60) % 60, seconds % 60);
}

// ---- Stored choices ------------------------------------------------------------------

int BookCommonText::getDefaultSmbLibrary(int stored) {
    if (stored == 2) return 1;
    if (stored == 3) return 0;
    return stored;
}

// ---- Key-value text ------------------------------------------------------------------

std::optional<std::string> BookCommonText::getValueFromTextConfFile(const std::string& data, const std::string& key) {
    constexpr size_t kLimit = 127;
    if (key.empty()) return std::nullopt;
    std::optional<std::string> found;
    size_t pos = 0;
    const size_t n = data.size();
    while (pos < n) {
        size_t end = pos;
        while (end < n && data[end] != '\r' && data[end] != '\n') ++end;
        size_t p = pos;
        while (p < end && (data[p] == ' ' || data[p] == '\t')) ++p;
        size_t keyStart = p;
        while (p < end && data[p] != ' ' && data[p] != '\t') ++p;
        size_t keyLength = p - keyStart;
        if (keyLength < kLimit && data.compare(keyStart, keyLength, key) == 0 && keyLength == key.size()) {
            while (p < end && (data[p] == ' ' || data[p] == '\t')) ++p;
            size_t valueStart = p;
            while (p < end && data[p] != '\t') ++p;
            std::string value = data.substr(valueStart, p - valueStart);
            if (value.size() < kLimit) {
                if (!value.empty() && value.back() == '"') value.pop_back();
                if (!value.empty() && value.front() == '"') value.erase(0, 1);
                if (sys::Unicode::isValidUtf8(value)) found = value;
            }
        }
        pos = end + 1;
    }
    return found;
}

int64_t BookCommonText::getIntValueFromTextConfFile(const std::string& data, const std::string& key) {
    auto value = getValueFromTextConfFile(data, key);
    // Read as the platform reads a string's integer value: a sign, digits, saturating.
    return value ? sys::PlistValue(*value).integerValue() : 0;
}

std::optional<gfx::Rgba> BookCommonText::getIntColorFromTextConfFile(const std::string& data, const std::string& key) {
    auto value = getValueFromTextConfFile(data, key);
    if (!value || value->size() < 7 || (*value)[0] != '#') return std::nullopt;
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return 0;
    };
    auto component = [&](size_t i) {
        return static_cast<double>(nibble((*value)[i]) * 16 + nibble((*value)[i + 1])) / 255.0;
    };
    return gfx::Rgba::rgb(component(1), component(3), component(5));
}
