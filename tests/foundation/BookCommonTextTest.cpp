#include "foundation/BookCommon.h"

#include "foundation/LanguageTables.h"
#include "foundation/ResourceLocator.h"
#include "foundation/Settings.h"
#include "platform/core/Calendar.h"
#include "platform/core/DeviceProfile.h"
#include "platform/core/FileManager.h"
#include "platform/graphics/Image.h"
#include "platform/ui/Button.h"
#include "platform/ui/Image.h"
#include "platform/ui/Slider.h"
#include "tests/support/TestHome.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <set>

namespace {

void writeTable(const std::string& root, const std::string& code, const std::string& text) {
    std::filesystem::create_directories(root + "/" + code + ".lproj");
    std::ofstream(root + "/" + code + ".lproj/Localizable.strings", std::ios::binary) << text;
}

// Fixes "now" for the tests that speak of today and yesterday.
double gNow = 0;
double fixedNow() { return gNow; }

class TextTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = sys::DeviceProfile::current();
        BookCommon::localizedSet(0);
        LanguageTables::shared().reset();
    }
    void TearDown() override {
        sys::DeviceProfile::setCurrent(saved_);
        BookCommon::localizedSet(0);
        LanguageTables::shared().reset();
        sys::Date::setNowSource(nullptr);
    }
    void languages(std::vector<std::string> preferred) {
        sys::DeviceProfile p = sys::DeviceProfile::current();
        p.preferredLanguages = std::move(preferred);
        sys::DeviceProfile::setCurrent(p);
    }
    void profile(const char* name, const std::string& version = "18.0", bool camera = false) {
        auto p = sys::DeviceProfile::named(name);
        ASSERT_TRUE(p);
        p->systemVersion = version;
        p->hasCamera = camera;
        p->preferredLanguages = {"en-US"};
        sys::DeviceProfile::setCurrent(*p);
    }
    sys::DeviceProfile saved_;
};

// A small set of tables: English and Japanese, and a Korean folder is absent.
class LookupTest : public TextTest {
protected:
    void SetUp() override {
        TextTest::SetUp();
        writeTable(dir.path(), "en",
                   "\"_LOCALIZE\" = \"_YES\"; \"_INJAPANESE\" = \"_NO\"; \"Today\" = \"Today\";");
        writeTable(dir.path(), "ja",
                   "\"_LOCALIZE\" = \"_YES\"; \"_INJAPANESE\" = \"_YES\"; \"Today\" = \"今日\";");
        writeTable(dir.path(), "zh-Hant", "\"_INCHINESE\" = \"_YES\"; \"_INCHINESE_TRADITINAL\" = \"_YES\";");
        LanguageTables::shared().reset(dir.path());
    }
    test::TempDir dir{"lang"};
};

}  // namespace

TEST_F(LookupTest, ChoiceThenSystemLanguageThenTheKey) {
    languages({"ja-JP"});
    EXPECT_EQ(BookCommon::localizedStringWithOnOff("Today"), "今日");
    EXPECT_TRUE(BookCommon::isInJapanese());

    BookCommon::localizedSet(1);
    EXPECT_EQ(BookCommon::localizedStringWithOnOff("Today"), "Today");
    EXPECT_FALSE(BookCommon::isInJapanese());
    // The system's table still says the program is localised.
    EXPECT_TRUE(BookCommon::isCanLocalize());

    // Korean is chosen but not there: the system's language answers.
    BookCommon::localizedSet(3);
    EXPECT_EQ(BookCommon::localizedStringWithOnOff("Today"), "今日");

    // A key no table has shows as itself.
    EXPECT_EQ(BookCommon::localizedStringWithOnOff("No such text %d"), "No such text %d");

    BookCommon::localizedSet(5);
    EXPECT_TRUE(BookCommon::isIn_CN());
    EXPECT_TRUE(BookCommon::isIn_CNIsTraditional());
    EXPECT_FALSE(BookCommon::isIn_KR());
    // A table without the marker is no real localisation.
    languages({"zh-Hant-TW"});
    EXPECT_FALSE(BookCommon::isCanLocalize());

    // A language we have no table for falls back to English.
    BookCommon::localizedSet(0);
    languages({"fr-FR"});
    EXPECT_EQ(BookCommon::localizedStringWithOnOff("Today"), "Today");
}

TEST_F(TextTest, LanguageCodeFromChoiceOrSystem) {
    struct Case {
        const char* preferred;
        int language;
    };
    for (const auto& c : {Case{"ko-KR", 3}, Case{"zh-Hant-TW", 5}, Case{"zh-Hans-CN", 4}, Case{"fr-FR", 6},
                          Case{"ja-JP", 2}, Case{"en-GB", 1}, Case{"ja", 2}}) {
        languages({c.preferred});
        EXPECT_EQ(BookCommon::getLanguage(), c.language) << c.preferred;
    }
    languages({});
    EXPECT_EQ(BookCommon::getLanguage(), 6);
    languages({"fr-FR"});
    BookCommon::localizedSet(4);
    EXPECT_EQ(BookCommon::getLanguage(), 4);
    BookCommon::localizedSet(6);
    EXPECT_EQ(BookCommon::getLanguage(), 6);
    EXPECT_EQ(BookCommon::languageCodeForChoice(5), "zh-Hant");
    EXPECT_EQ(BookCommon::languageCodeForChoice(6), "");
}

// ---- Numbers ------------------------------------------------------------------------------

TEST(TextNumbers, SizesRatesCountsAndTimes) {
    EXPECT_EQ(BookCommon::strSizeFormatFromValue(0), "0Byte");
    EXPECT_EQ(BookCommon::strSizeFormatFromValue(1023), "1023Byte");
    EXPECT_EQ(BookCommon::strSizeFormatFromValue(1024), "1.00KB");
    EXPECT_EQ(BookCommon::strSizeFormatFromValue(1048575), "1024.00KB");
    EXPECT_EQ(BookCommon::strSizeFormatFromValue(1048576), "1.00MB");
    EXPECT_EQ(BookCommon::strSizeFormatFromValue((int64_t{1} << 30) - 1), "1024.00MB");
    EXPECT_EQ(BookCommon::strSizeFormatFromValue(int64_t{1} << 30), "1.00GB");
    EXPECT_EQ(BookCommon::strSizeFormatFromValue(int64_t{5} << 40), "5120.00GB");
    EXPECT_EQ(BookCommon::strSizeFormatFromValue(INT64_MAX), "8589934592.00GB");

    EXPECT_EQ(BookCommon::strSizeRateFormatFromValue(1023), "1023B/s");
    EXPECT_EQ(BookCommon::strSizeRateFormatFromValue(1536), "1.5KB/s");
    EXPECT_EQ(BookCommon::strSizeRateFormatFromValue(3 * 1048576), "3.0MB/s");

    EXPECT_EQ(BookCommon::strValueFormatFromValue(0), "0");
    EXPECT_EQ(BookCommon::strValueFormatFromValue(999), "999");
    EXPECT_EQ(BookCommon::strValueFormatFromValue(1000), "1,000");
    EXPECT_EQ(BookCommon::strValueFormatFromValue(1200005), "1,200,005");
    EXPECT_EQ(BookCommon::strValueFormatFromValue(123456), "123,456");
    EXPECT_EQ(BookCommon::strValueFormatFromValue(UINT64_MAX), "18,446,744,073,709,551,615");

    EXPECT_EQ(BookCommon::strLeftTimeFromInt(0), "00:00");
    EXPECT_EQ(BookCommon::strLeftTimeFromInt(59), "00:59");
    EXPECT_EQ(BookCommon::strLeftTimeFromInt(60), "01:00");
    EXPECT_EQ(BookCommon::strLeftTimeFromInt(3599), "59:59");
    EXPECT_EQ(BookCommon::strLeftTimeFromInt(3600), "01:00:00");
    EXPECT_EQ(BookCommon::strLeftTimeFromInt(100 * 3600 + 61), "100:01:01");
}

// ---- Dates --------------------------------------------------------------------------------

TEST_F(TextTest, TodayYesterdayAndDaysAgo) {
    languages({"en-US"});
    // Noon on 2024-03-15 in every time zone within eleven hours of UTC.
    const sys::Date now(1710504000.0);
    gNow = now.timeIntervalSince1970();
    sys::Date::setNowSource(fixedNow);
    const double day = 86400;
    EXPECT_EQ(BookCommon::getLocalDateStringTodayShort(now).value_or("?"), "Today");
    EXPECT_EQ(BookCommon::getLocalDateStringTodayShort(now.dateByAddingTimeInterval(-day)).value_or("?"),
              "Yesterday");
    EXPECT_EQ(BookCommon::getLocalDateStringTodayShort(now.dateByAddingTimeInterval(-2 * day)).value_or("?"),
              "2 Days");
    EXPECT_EQ(BookCommon::getLocalDateStringTodayShort(now.dateByAddingTimeInterval(-3 * day)).value_or("?"),
              "3 Days");
    EXPECT_FALSE(BookCommon::getLocalDateStringTodayShort(now.dateByAddingTimeInterval(-4 * day)).has_value());
    EXPECT_FALSE(BookCommon::getLocalDateStringTodayShort(now.dateByAddingTimeInterval(day)).has_value());

    EXPECT_EQ(BookCommon::getLocalDateStringToday(now), "Today");
    EXPECT_EQ(BookCommon::getLocalDateStringToday(now.dateByAddingTimeInterval(-day)), "Yesterday");
    std::string older = BookCommon::getLocalDateStringToday(now.dateByAddingTimeInterval(-30 * day));
    EXPECT_NE(older.find("2024"), std::string::npos) << older;

    EXPECT_EQ(BookCommon::dateTextOfPageInfo(now), "Today");
    EXPECT_EQ(BookCommon::dateTextOfPageInfo(now.dateByAddingTimeInterval(-day)), "Yesterday");
    EXPECT_EQ(BookCommon::dateTextOfPageInfo(now.dateByAddingTimeInterval(-10 * day)), "Mar. 05, 2024");

    // The Japanese table makes "Today" Japanese and the order year first.
    BookCommon::localizedSet(2);
    EXPECT_EQ(BookCommon::getLocalDateStringTodayShort(now).value_or("?"), "今日");
    EXPECT_EQ(BookCommon::getLocalDateStringTodayShort(now.dateByAddingTimeInterval(-2 * day)).value_or("?"),
              "2日前");
    EXPECT_EQ(BookCommon::dateTextOfPageInfo(now.dateByAddingTimeInterval(-10 * day)), "2024/03/05");
}

TEST_F(TextTest, DatesUseTheCalendarYearAtNewYear) {
    languages({"en-US"});
    gNow = 1710504000.0;
    sys::Date::setNowSource(fixedNow);
    // 2024-12-30 is in the first week of 2025: a week-year pattern would say 2025.
    const sys::Date lateDecember(1735560000.0);
    BookCommon::localizedSet(2);
    EXPECT_EQ(BookCommon::dateTextOfPageInfo(lateDecember), "2024/12/30");
    BookCommon::localizedSet(4);
    EXPECT_EQ(BookCommon::dateTextOfPageInfo(lateDecember), "12/30/2024");
    BookCommon::localizedSet(1);
    EXPECT_EQ(BookCommon::dateTextOfPageInfo(lateDecember), "Dec. 30, 2024");
    // 2021-01-01 still belongs to the last week of 2020.
    const sys::Date newYear(1609502400.0);
    EXPECT_EQ(BookCommon::dateTextOfPageInfo(newYear), "Jan. 01, 2021");
}

TEST_F(TextTest, LocalDateStringOrder) {
    languages({"en-US"});
    sys::Calendar calendar;
    auto date = calendar.dateFromComponents({2023, 7, 4, 9, 5, 3, 0});
    ASSERT_TRUE(date);
    BookCommon::localizedSet(1);
    EXPECT_EQ(BookCommon::getLocalDateString(*date), "07/04/2023 09:05:03");
    BookCommon::localizedSet(3);
    EXPECT_EQ(BookCommon::getLocalDateString(*date), "2023/07/04 09:05:03");
}

TEST_F(TextTest, DateOfPageInfoReadsTheSettingFile) {
    languages({"en-US"});
    test::TempDir dir{"books"};
    std::string book = dir.file("Story.cbz");
    ASSERT_TRUE(sys::FileManager::writeFile(book, "PK"));
    EXPECT_EQ(BookCommon::getDateOfPageInfo("Story.cbz", dir.path()), "");  // never read: no setting file
    std::string settingFile = BookCommon::getBookSettingFile(book, true);
    ASSERT_TRUE(sys::FileManager::writeFile(settingFile, "x"));
    sys::Calendar calendar;
    auto when = calendar.dateFromComponents({2022, 11, 20, 12, 0, 0, 0});
    ASSERT_TRUE(when);
    ASSERT_TRUE(sys::FileManager::setModificationDate(settingFile, *when));
    BookCommon::localizedSet(1);
    EXPECT_EQ(BookCommon::getDateOfPageInfo("Story.cbz", dir.path()), "Nov. 20, 2022");
}

// ---- Tool bars -------------------------------------------------------------------------------

namespace {

// The tool bar as letters: P popup, D download, S scan, B brightness,
// R rotation lock, T settings, A action, F flexible space, X fixed space.
std::string letters(const std::vector<ToolbarItemModel>& items) {
    std::string out;
    for (const auto& i : items) {
        using A = ToolbarItemModel::Action;
        switch (i.kind) {
        case ToolbarItemModel::Kind::FlexibleSpace: out += 'F'; continue;
        case ToolbarItemModel::Kind::FixedSpace: out += 'X'; continue;
        case ToolbarItemModel::Kind::Button: break;
        }
        switch (i.action) {
        case A::PopupMenu: out += 'P'; break;
        case A::Download: out += 'D'; break;
        case A::Scan: out += 'S'; break;
        case A::Brightness: out += 'B'; break;
        case A::RotationLock: out += 'R'; break;
        case A::Settings: out += 'T'; break;
        case A::ActionButton: out += 'A'; break;
        case A::None: out += '?'; break;
        }
    }
    return out;
}

}  // namespace

TEST(Toolbars, LocalListLayouts) {
    using Facts = BookCommon::ToolbarFacts;
    auto local = [](Facts f, bool path) { return letters(BookCommon::arrayGetToolbarButtonItems(f, path)); };
    Facts phone{false, 18.0, false, false, false, true};
    EXPECT_EQ(local(phone, true), "PFDFBFRFT");
    EXPECT_EQ(local(phone, false), "PFBFRFT");
    Facts phoneCamera = phone;
    phoneCamera.cameraAvailable = true;
    EXPECT_EQ(local(phoneCamera, true), "PFDFSFBFRFT");
    EXPECT_EQ(local(phoneCamera, false), "PFBFRFT");  // no folder: nowhere to scan into
    Facts phone26 = phoneCamera;
    phone26.systemVersion = 26.0;
    EXPECT_EQ(local(phone26, true), "PFDFSFBRT");

    Facts pad{true, 18.0, false, false, false, true};
    EXPECT_EQ(local(pad, false), "PFRXBXT");
    EXPECT_EQ(local(pad, true), "PXDFRXBXT");
    pad.cameraAvailable = true;
    EXPECT_EQ(local(pad, true), "PXDFSXRXBXT");
    Facts pad26 = pad;
    pad26.systemVersion = 26.0;
    EXPECT_EQ(local(pad26, false), "PFRBT");
    EXPECT_EQ(local(pad26, true), "PXDFSXRBT");
    // A pad that cannot lock its rotation shows a space where the button was.
    Facts noLock = pad;
    noLock.rotationLockEnable = false;
    EXPECT_EQ(local(noLock, true), "PXDFSXXXBXT");
    // ...but only from system version 9 on.
    noLock.systemVersion = 8.0;
    EXPECT_EQ(local(noLock, true), "PXDFSXRXBXT");
    // A pad scans only from system version 8 on.
    noLock.systemVersion = 7.0;
    EXPECT_EQ(local(noLock, true), "PXDFRXBXT");
}

TEST(Toolbars, ImagesFollowState) {
    BookCommon::ToolbarFacts f;
    f.cameraAvailable = true;
    f.isScanFolder = true;
    f.rotationLocked = true;
    auto items = BookCommon::arrayGetToolbarButtonItems(f, true);
    ASSERT_EQ(letters(items), "PFDFSFBFRFT");
    EXPECT_EQ(items[4].imageName, "toolbar_book");
    EXPECT_EQ(items[8].imageName, "toolbar_rotationlocked");
    f.isScanFolder = false;
    f.rotationLocked = false;
    items = BookCommon::arrayGetToolbarButtonItems(f, true);
    EXPECT_EQ(items[4].imageName, "toolbar_camera");
    EXPECT_EQ(items[8].imageName, "toolbar_rotationlock");
    EXPECT_EQ(items[0].imageName, "toolbar_popup");
}

TEST(Toolbars, RemoteListLayouts) {
    using Facts = BookCommon::ToolbarFacts;
    auto remote = [](Facts f) { return letters(BookCommon::arrayGetToolbarButtonItemsForRemote(f)); };
    EXPECT_EQ(remote({false, 18.0, false, false, false, true}), "PFDFAFBFRFT");
    EXPECT_EQ(remote({false, 26.0, false, false, false, true}), "PFDFAFBRT");
    EXPECT_EQ(remote({true, 18.0, false, false, false, true}), "PXDXAFRXBXT");
    EXPECT_EQ(remote({true, 26.0, false, false, false, true}), "PXDXAFRXBT");
    EXPECT_EQ(remote({true, 18.0, false, false, false, false}), "PXDXAFXXBXT");
}

TEST_F(TextTest, ToolbarFromTheCurrentDevice) {
    profile("phone", "18.0", false);
    EXPECT_EQ(letters(BookCommon::arrayGetToolbarButtonItems(std::nullopt)), "PFBFRFT");
    EXPECT_EQ(letters(BookCommon::arrayGetToolbarButtonItems(std::string("/x"))), "PFDFBFRFT");
    profile("pad", "26.0", true);
    EXPECT_EQ(letters(BookCommon::arrayGetToolbarButtonItemsForRemote()).substr(0, 6), "PXDXAF");
}

// ---- Quick actions and one-shot flags -----------------------------------------------------------

TEST_F(TextTest, QuickActions) {
    profile("phone");
    BookCommon::setShortcutMenu(1, std::string("/library/[Circle] (Vol 2) Night Sky.zip"));
    auto items = BookCommon::shortcutMenuItems();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].title, "Continue Reading");
    EXPECT_EQ(items[0].subtitle, "Night Sky.zip");
    EXPECT_EQ(items[0].systemIconName, "play");
    EXPECT_EQ(items[0].userInfo.at("key"), "reading");
    EXPECT_EQ(items[1].title, "File List");
    EXPECT_EQ(items[1].templateImageName, "shortcuticon_filelist");
    EXPECT_EQ(items[1].userInfo.at("key"), "filelist");
    EXPECT_EQ(items[1].type, "static");

    BookCommon::setShortcutMenu(2, std::string("http://127.0.0.1/books/%E5%A4%9C%E7%A9%BA.zip"));
    items = BookCommon::shortcutMenuItems();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].subtitle, "夜空.zip");

    // Shift-JIS bytes in the address decode too.
    EXPECT_EQ(BookCommon::shortcutTitleForBook("ftp://127.0.0.1/%96%E9%8B%F3.zip"), "夜空.zip");

    BookCommon::setShortcutMenu(0, std::nullopt);
    items = BookCommon::shortcutMenuItems();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].userInfo.at("key"), "filelist");

    // Before system version 9 there are no quick actions to set.
    profile("phone", "8.4");
    BookCommon::setShortcutMenu(1, std::string("/a.zip"));
    EXPECT_EQ(BookCommon::shortcutMenuItems().size(), 1u);
}

TEST(TextFlags, SilentResumeIsOneShot) {
    EXPECT_FALSE(BookCommon::getNextSilentResumeFlag());
    BookCommon::setNextSilentResumeFlag();
    BookCommon::setNextSilentResumeFlag();
    EXPECT_TRUE(BookCommon::getNextSilentResumeFlag());
    EXPECT_FALSE(BookCommon::getNextSilentResumeFlag());
}

// ---- Small helpers ------------------------------------------------------------------------------

TEST(TextHelpers, IconsHtmlColoursAndSmbLibrary) {
    EXPECT_EQ(BookCommon::getFileListIconImageName(true, true, true, true), "book_folder_fin_b");
    EXPECT_EQ(BookCommon::getFileListIconImageName(true, false, true, true), "book_folder_read1_b");
    EXPECT_EQ(BookCommon::getFileListIconImageName(false, true, false, true), "book_folder_fin");
    EXPECT_EQ(BookCommon::getFileListIconImageName(true, false, false, true), "book_folder_read1");
    EXPECT_EQ(BookCommon::getFileListIconImageName(true, true, true, false), "book_new_b");
    EXPECT_EQ(BookCommon::getFileListIconImageName(false, true, true, false), "book_fin_b");
    EXPECT_EQ(BookCommon::getFileListIconImageName(false, false, true, false), "book_read1_b");
    EXPECT_EQ(BookCommon::getFileListIconImageName(true, true, false, false), "book_new");
    EXPECT_EQ(BookCommon::getFileListIconImageName(false, true, false, false), "book_fin");
    EXPECT_EQ(BookCommon::getFileListIconImageName(false, false, false, false), "book_read1");

    std::string html = BookCommon::getHtmlWithMessage("<p>Hi</p>", "Note");
    EXPECT_EQ(html.find("<html><head><meta http-equiv=\"content-type\" content=\"text/html; charset=utf-8\">"), 0u);
    EXPECT_NE(html.find("<title>Note</title><body><p>Hi</p></body>"), std::string::npos);
    EXPECT_NE(html.find("user-scalable=no\" />"), std::string::npos);

    EXPECT_EQ(BookCommon::getLeafbrightBackgroundColor(), gfx::Rgba::rgb(47 / 255.0, 188 / 255.0, 234 / 255.0));
    EXPECT_EQ(BookCommon::getLeafbrightTextColor(), gfx::Rgba::rgb(0, 122 / 255.0, 1.0));

    EXPECT_EQ(BookCommon::getDefaultSmbLibrary(2), 1);
    EXPECT_EQ(BookCommon::getDefaultSmbLibrary(3), 0);
    EXPECT_EQ(BookCommon::getDefaultSmbLibrary(1), 1);
    EXPECT_EQ(BookCommon::getDefaultSmbLibrary(0), 0);
    EXPECT_EQ(BookCommon::getDefaultSmbLibrary(7), 7);
}

TEST(TextConf, KeyValueLines) {
    const std::string data =
        "  title\t \"My Theme\"\r\n"
        "width 320\n"
        "\tcolor #1a2B3c\r"
        "width  640 trailing words\tignored\n"
        "widths 1\n"
        "bad #12\n"
        "odd #zz0011\n"
        "empty\n";
    EXPECT_EQ(BookCommon::getValueFromTextConfFile(data, "title").value_or("?"), "My Theme");
    // The last matching line wins; a value runs to a tab, not to a space.
    EXPECT_EQ(BookCommon::getValueFromTextConfFile(data, "width").value_or("?"), "640 trailing words");
    EXPECT_EQ(BookCommon::getIntValueFromTextConfFile(data, "width"), 640);
    EXPECT_EQ(BookCommon::getIntValueFromTextConfFile(data, "widths"), 1);
    EXPECT_EQ(BookCommon::getIntValueFromTextConfFile(data, "missing"), 0);
    EXPECT_FALSE(BookCommon::getValueFromTextConfFile(data, "wid").has_value());
    EXPECT_FALSE(BookCommon::getValueFromTextConfFile(data, "").has_value());
    EXPECT_EQ(BookCommon::getValueFromTextConfFile(data, "empty").value_or("?"), "");

    auto color = BookCommon::getIntColorFromTextConfFile(data, "color");
    ASSERT_TRUE(color);
    EXPECT_EQ(*color, gfx::Rgba::rgb(0x1a / 255.0, 0x2b / 255.0, 0x3c / 255.0));
    EXPECT_FALSE(BookCommon::getIntColorFromTextConfFile(data, "bad").has_value());
    EXPECT_FALSE(BookCommon::getIntColorFromTextConfFile(data, "width").has_value());
    EXPECT_EQ(*BookCommon::getIntColorFromTextConfFile(data, "odd"), gfx::Rgba::rgb(0, 0, 0x11 / 255.0));

    // Keys and values of 127 bytes or more are not read.
    std::string longKey(127, 'k');
    std::string longValue(127, 'v');
    EXPECT_FALSE(BookCommon::getValueFromTextConfFile(longKey + " 1\n", longKey).has_value());
    EXPECT_EQ(BookCommon::getValueFromTextConfFile(longKey.substr(1) + " 1\n", longKey.substr(1)).value_or("?"), "1");
    EXPECT_FALSE(BookCommon::getValueFromTextConfFile("k " + longValue, "k").has_value());
    EXPECT_EQ(BookCommon::getValueFromTextConfFile("k " + longValue.substr(1), "k").value_or("?"), longValue.substr(1));
    // A later line that cannot be read leaves the earlier one; text that is
    // not UTF-8 is not a value.
    EXPECT_EQ(BookCommon::getValueFromTextConfFile("k a\nk " + longValue, "k").value_or("?"), "a");
    EXPECT_FALSE(BookCommon::getValueFromTextConfFile("k \xff\xfe", "k").has_value());
    EXPECT_EQ(BookCommon::getIntValueFromTextConfFile("n -42x", "n"), -42);
    EXPECT_EQ(BookCommon::getIntValueFromTextConfFile("n 99999999999999999999999", "n"), INT64_MAX);
}

TEST_F(TextTest, ViewHelpers) {
    profile("phone");
    EXPECT_EQ(BookCommon::flatImageName("toolbar_popup"), "toolbar_popup_f");
    profile("phone", "6.1");
    EXPECT_EQ(BookCommon::flatImageName("toolbar_popup"), "toolbar_popup");

    auto white = BookCommon::buttoniOS7Flat(true);
    auto tinted = BookCommon::buttoniOS7Flat(false);
    ASSERT_TRUE(white && tinted);
    const ui::Color blue(BookCommon::getLeafbrightTextColor());
    EXPECT_EQ(white->buttonType(), ui::ButtonType::Custom);
    EXPECT_TRUE(white->titleColor(ui::ControlStateNormal) == ui::Color::whiteColor());
    EXPECT_TRUE(white->titleColor(ui::ControlStateHighlighted) == blue);
    EXPECT_TRUE(tinted->titleColor(ui::ControlStateNormal) == blue);
    EXPECT_TRUE(tinted->titleColor(ui::ControlStateHighlighted) == ui::Color::whiteColor());
    auto background = white->backgroundImage(ui::ControlStateHighlighted);
    ASSERT_TRUE(background);
    EXPECT_EQ(background->capInsets(), (ui::EdgeInsets{14, 14, 14, 14}));
    EXPECT_FALSE(background->isPlaceholder());
    EXPECT_FALSE(tinted->backgroundImage(ui::ControlStateNormal)->isPlaceholder());

    ui::Slider slider;
    auto track = BookCommon::imageWithColor(gfx::Rgba::rgb(1, 0, 0));
    auto thumb = BookCommon::imageWithColor(gfx::Rgba::rgb(0, 0, 1));
    BookCommon::setSliderImage(slider, track, track, thumb, 5);
    EXPECT_EQ(slider.thumbImage(ui::ControlStateNormal), thumb);

    EXPECT_EQ(track->size().width, 1);
    EXPECT_EQ(track->size().height, 1);
    auto bitmap = track->bitmap(1.0);
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(bitmap->width(), 1);
    EXPECT_EQ(bitmap->pixels()[0], gfx::Rgba::rgb(1, 0, 0).argb32());
}
