#include "foundation/BookCommonText.h"

#include "foundation/BookCommon.h"
#include "foundation/LanguageTables.h"
#include "foundation/OptimizeFilename.h"
#include "foundation/QNTextEncoding.h"
#include "foundation/QNUrl.h"
#include "foundation/ui/AboutViewControllerEx.h"
#include "foundation/ui/AuxiliaryScreenFactory.h"
#include "platform/core/Calendar.h"
#include "platform/core/DateFormatter.h"
#include "platform/core/DeviceProfile.h"
#include "platform/core/FileManager.h"
#include "platform/core/PlistValue.h"
#include "platform/core/Unicode.h"
#include "platform/graphics/Image.h"
#include "platform/ui/Button.h"
#include "platform/ui/Image.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Slider.h"
#include "platform/ui/TableView.h"
#include "platform/ui/UserNotificationCenter.h"
#include "platform/ui/ViewController.h"

#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace {

std::atomic<int> gLanguageChoice{0};
std::atomic<bool> gNextSilentResume{false};

std::mutex gShortcutMutex;
std::vector<ShortcutItemModel> gShortcutItems;

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

// ---- Tool bars ----------------------------------------------------------------------

namespace {

using Item = ToolbarItemModel;
using Action = ToolbarItemModel::Action;

Item P() { return Item::button("toolbar_popup", Action::PopupMenu); }
Item D() { return Item::button("toolbar_download", Action::Download); }
Item B() { return Item::button("toolbar_brightness", Action::Brightness); }
Item T() { return Item::button("toolbar_settings", Action::Settings); }
Item A() { return Item::button("toolbar_tag", Action::ActionButton); }
Item F() { return Item::flexibleSpace(); }
Item X() { return Item::fixedSpace(20); }

Item S(const BookCommonText::ToolbarFacts& f) {
    return Item::button(f.isScanFolder ? "toolbar_book" : "toolbar_camera", Action::Scan);
}

// The rotation-lock button, or on a pad that cannot lock, the space it leaves.
Item R(const BookCommonText::ToolbarFacts& f) {
    if (f.isPad && f.systemVersion >= 9.0 && !f.rotationLockEnable) return X();
    return Item::button(f.rotationLocked ? "toolbar_rotationlocked" : "toolbar_rotationlock", Action::RotationLock);
}

}  // namespace

namespace {

BookCommonText::ToolbarFacts currentToolbarFacts(const std::optional<std::string>& folder) {
    sys::DeviceProfile profile = sys::DeviceProfile::current();
    BookCommonText::ToolbarFacts f;
    f.isPad = profile.isPad();
    f.systemVersion = std::strtod(profile.systemVersion.c_str(), nullptr);
    f.cameraAvailable = profile.hasCamera;
    f.isScanFolder = folder && BookCommon::isFolderScanFiles(*folder);
    f.rotationLocked = BookCommon::isSoftwareRotationLock();
    f.rotationLockEnable = BookCommon::isIpadRotationLockEnable();
    return f;
}

}  // namespace

std::vector<ToolbarItemModel> BookCommonText::arrayGetToolbarButtonItems(const std::optional<std::string>& currentFullPath,
                                                                        bool /*isRootView*/) {
    return arrayGetToolbarButtonItems(currentToolbarFacts(currentFullPath), currentFullPath.has_value());
}

std::vector<ToolbarItemModel> BookCommonText::arrayGetToolbarButtonItemsForRemote() {
    return arrayGetToolbarButtonItemsForRemote(currentToolbarFacts(std::nullopt));
}

std::vector<ToolbarItemModel> BookCommonText::arrayGetToolbarButtonItems(const ToolbarFacts& f, bool hasPath) {
    const bool modern = f.systemVersion >= 26.0;
    const bool scan = hasPath && f.cameraAvailable && (!f.isPad || f.systemVersion >= 8.0);
    std::vector<Item> items;
    auto add = [&](std::initializer_list<Item> list) { items.insert(items.end(), list); };
    if (!f.isPad) {
        add({P(), F()});
        if (hasPath) add({D(), F()});
        if (scan) add({S(f), F()});
        if (modern)
            add({B(), R(f), T()});
        else
            add({B(), F(), R(f), F(), T()});
        return items;
    }
    if (!hasPath) {
        if (modern)
            add({P(), F(), R(f), B(), T()});
        else
            add({P(), F(), R(f), X(), B(), X(), T()});
        return items;
    }
    add({P(), X(), D(), F()});
    if (scan) add({S(f), X()});
    if (modern)
        add({R(f), B(), T()});
    else
        add({R(f), X(), B(), X(), T()});
    return items;
}

std::vector<ToolbarItemModel> BookCommonText::arrayGetToolbarButtonItemsForRemote(const ToolbarFacts& f) {
    const bool modern = f.systemVersion >= 26.0;
    if (!f.isPad) {
        if (modern) return {P(), F(), D(), F(), A(), F(), B(), R(f), T()};
        return {P(), F(), D(), F(), A(), F(), B(), F(), R(f), F(), T()};
    }
    if (modern) return {P(), X(), D(), X(), A(), F(), R(f), X(), B(), T()};
    return {P(), X(), D(), X(), A(), F(), R(f), X(), B(), X(), T()};
}

// ---- Quick actions -------------------------------------------------------------------

std::string BookCommonText::shortcutTitleForBook(const std::string& pathOrUrl) {
    std::string title;
    if (QNUrl::isURL(pathOrUrl)) {
        auto url = QNUrl::URLWithString(pathOrUrl);
        std::string last = QNUrl::lastPathComponentOf(url ? url->path() : pathOrUrl);
        std::string bytes = QNUrl::getCStringWithEncodedUrl(last);
        if (!bytes.empty() && bytes.back() == '\0') bytes.pop_back();
        if (auto utf8 = QNTextEncoding::stringWithCString(bytes.c_str(), QNTextEncoding::kUTF8)) {
            title = *utf8;
        } else if (auto sjis = QNTextEncoding::stringWithCString(bytes.c_str(), QNTextEncoding::kShiftJIS)) {
            title = *sjis;
        } else {
            title = QNTextEncoding::stringWithCString(bytes.c_str()).value_or(last);
        }
    } else {
        title = QNUrl::lastPathComponentOf(pathOrUrl);
    }
    return OptimizeFilename::getOptimizedString(title);
}

void BookCommonText::setShortcutMenu(int mode, const std::optional<std::string>& readingTitle) {
    if (sys::DeviceProfile::current().systemMajorVersion() < 9) return;
    ShortcutItemModel reading;
    reading.title = localizedStringWithOnOff("Continue Reading");
    reading.subtitle = readingTitle ? shortcutTitleForBook(*readingTitle) : std::string();
    reading.systemIconName = "play";
    reading.userInfo = {{"key", "reading"}};
    ShortcutItemModel list;
    list.title = localizedStringWithOnOff("File List");
    list.templateImageName = "shortcuticon_filelist";
    list.userInfo = {{"key", "filelist"}};
    std::vector<ShortcutItemModel> items;
    if (mode == 2) {
        items = {reading};
    } else if (mode == 1) {
        items = {reading, list};
    } else {
        items = {list};
    }
    std::lock_guard<std::mutex> lock(gShortcutMutex);
    gShortcutItems = std::move(items);
}

std::vector<ShortcutItemModel> BookCommonText::shortcutMenuItems() {
    std::lock_guard<std::mutex> lock(gShortcutMutex);
    return gShortcutItems;
}

// ---- Silent resume -------------------------------------------------------------------

void BookCommonText::setNextSilentResumeFlag() { gNextSilentResume.store(true); }

bool BookCommonText::getNextSilentResumeFlag() { return gNextSilentResume.exchange(false); }

// ---- Small helpers -------------------------------------------------------------------

std::string BookCommonText::flatImageName(const std::string& name) {
    return sys::DeviceProfile::current().systemMajorVersion() >= 7 ? name + "_f" : name;
}

std::shared_ptr<const ui::Image> BookCommonText::imageNamed(const std::string& name) {
    return ui::Image::named(flatImageName(name));
}

std::shared_ptr<ui::Button> BookCommonText::buttoniOS7Flat(bool white) {
    auto button = std::make_shared<ui::Button>(ui::ButtonType::Custom);
    const ui::EdgeInsets caps{14, 14, 14, 14};
    auto background = ui::Image::named(white ? "button_220x38w" : "button_220x38f");
    if (background) background = background->resizableImage(caps);
    button->setBackgroundImage(background, ui::ControlStateNormal);
    button->setBackgroundImage(background, ui::ControlStateHighlighted);
    const ui::Color blue(getLeafbrightTextColor());
    const ui::Color whiteColor = ui::Color::whiteColor();
    button->setTitleColor(white ? whiteColor : blue, ui::ControlStateNormal);
    button->setTitleColor(white ? blue : whiteColor, ui::ControlStateHighlighted);
    return button;
}

void BookCommonText::setSliderImage(ui::Slider& slider, const std::shared_ptr<const ui::Image>& maximumTrackImage,
                                    const std::shared_ptr<const ui::Image>& minimumTrackImage,
                                    const std::shared_ptr<const ui::Image>& thumbImage, double capWidth) {
    const ui::EdgeInsets caps{0, capWidth, 0, capWidth};
    auto stretch = [&](const std::shared_ptr<const ui::Image>& image) -> std::shared_ptr<const ui::Image> {
        return image ? image->resizableImage(caps) : nullptr;
    };
    slider.setMaximumTrackImage(stretch(maximumTrackImage), ui::ControlStateNormal);
    slider.setMinimumTrackImage(stretch(minimumTrackImage), ui::ControlStateNormal);
    slider.setThumbImage(thumbImage, ui::ControlStateNormal);
}

void BookCommonText::lbCommonPresentViewController(ui::ViewController& viewController,
                                                   const std::shared_ptr<ui::ViewController>& present, bool animated) {
    if (present) viewController.present(present, animated);
}

void BookCommonText::lbCommonDismissModalViewController(ui::ViewController& viewController, bool animated) {
    viewController.dismiss(animated);
}

void BookCommonText::pushAboutViewController(ui::ViewController& viewController) {
    if (auto* nav = viewController.navigationController())
        nav->pushViewController(std::make_shared<AboutViewControllerEx>(), true);
}

void BookCommonText::pushStatisticsInformationViewController(ui::ViewController& viewController) {
    auto* nav = viewController.navigationController();
    auto factory = AuxiliaryScreenFactory::installed();
    if (!nav || !factory) return;
    if (auto screen = factory->makeStatisticsInformationViewController(ui::TableViewStyle::Grouped))
        nav->pushViewController(screen, true);
}

void BookCommonText::setLocalNitificationSetting() {
    if (!BookCommon::isOS8()) return;
    auto centre = ui::UserNotificationCenter::shared();
    if (!centre || (centre->authorizedOptions() & ui::UserNotificationCenter::OptionAlert)) return;
    centre->requestAuthorization(ui::UserNotificationCenter::OptionBadge | ui::UserNotificationCenter::OptionAlert,
                                 [](bool) {});
}

std::shared_ptr<const ui::Image> BookCommonText::imageWithColor(const gfx::Rgba& color) {
    return ui::Image::withBitmap(gfx::Image::make(1, 1, {color.argb32()}));
}

std::string BookCommonText::getFileListIconImageName(bool isNew, bool isFin, bool isBookmark, bool isFolderTarget) {
    if (isFolderTarget) {
        std::string name = isFin ? "book_folder_fin" : "book_folder_read1";
        return isBookmark ? name + "_b" : name;
    }
    std::string name = isNew ? "book_new" : (isFin ? "book_fin" : "book_read1");
    return isBookmark ? name + "_b" : name;
}

gfx::Rgba BookCommonText::getLeafbrightBackgroundColor() {
    return gfx::Rgba::rgb(47.0 / 255.0, 188.0 / 255.0, 234.0 / 255.0);
}

gfx::Rgba BookCommonText::getLeafbrightTextColor() { return gfx::Rgba::rgb(0.0, 122.0 / 255.0, 1.0); }

std::string BookCommonText::getHtmlWithMessage(const std::string& message, const std::string& title) {
    return "<html><head><meta http-equiv=\"content-type\" content=\"text/html; charset=utf-8\">"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1, maximum-scale=1, "
           "user-scalable=no\" /><meta name=\"format-detection\" content=\"telephone=no\"><title>" +
           title + "</title><body>" + message + "</body>";
}

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
