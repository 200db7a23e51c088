#include <gtest/gtest.h>

#include "platform/core/Calendar.h"
#include "platform/core/Date.h"
#include "platform/core/DateFormatter.h"
#include "platform/core/DeviceProfile.h"
#include "platform/core/TimeZone.h"

using sys::Calendar;
using sys::Date;
using sys::DateFormatter;
using sys::TimeZone;

namespace {

// 2024-12-31 23:59:59 in Tokyo, 14:59:59 UTC, a Tuesday.
constexpr double kNewYearsEveTokyo = 1735657199.0;

DateFormatter formatter(const std::string& pattern, const std::string& zone, const std::string& locale = "en_US_POSIX") {
    DateFormatter f;
    f.setDateFormat(pattern);
    f.setLocale(locale);
    f.setTimeZone(*TimeZone::named(zone));
    return f;
}

}  // namespace

TEST(DateTest, ReferenceDateArithmetic) {
    Date d = Date::fromTimeIntervalSinceReferenceDate(0);
    EXPECT_DOUBLE_EQ(d.timeIntervalSince1970(), 978307200.0);
    EXPECT_DOUBLE_EQ(Date(978307201.5).timeIntervalSinceReferenceDate(), 1.5);
    EXPECT_DOUBLE_EQ(Date(10).timeIntervalSinceDate(Date(4)), 6.0);
    EXPECT_LT(Date(1), Date(2));
    EXPECT_EQ(Date(3).dateByAddingTimeInterval(-1), Date(2));
}

TEST(DateTest, NowCanBeReplaced) {
    Date::setNowSource([] { return 86400.0 * 365; });
    EXPECT_EQ(Date::now(), Date(86400.0 * 365));
    EXPECT_DOUBLE_EQ(Date(86400.0 * 366).timeIntervalSinceNow(), 86400.0);
    Date::setNowSource(nullptr);
    EXPECT_GT(Date::now().timeIntervalSince1970(), 1.7e9);
}

TEST(TimeZoneTest, NamesAndAbbreviations) {
    auto jst = TimeZone::named("JST");
    ASSERT_TRUE(jst.has_value());
    EXPECT_EQ(jst->name(), "Asia/Tokyo");
    EXPECT_EQ(jst->secondsFromGMT(Date(kNewYearsEveTokyo)), 9 * 3600);

    // "EST" means New York, with its summer time.
    auto est = TimeZone::abbreviated("EST");
    ASSERT_TRUE(est.has_value());
    EXPECT_EQ(est->name(), "America/New_York");
    EXPECT_EQ(est->secondsFromGMT(Date(1720000000)), -4 * 3600);  // July
    EXPECT_TRUE(est->isDaylightSavingTime(Date(1720000000)));
    EXPECT_EQ(est->secondsFromGMT(Date(kNewYearsEveTokyo)), -5 * 3600);

    EXPECT_EQ(TimeZone::named("Europe/Paris")->secondsFromGMT(Date(1720000000)), 2 * 3600);
    EXPECT_EQ(TimeZone::named("GMT+09:30")->secondsFromGMT(Date(0)), 9 * 3600 + 1800);
    EXPECT_EQ(TimeZone::utc().secondsFromGMT(Date(1720000000)), 0);
    EXPECT_FALSE(TimeZone::named("Mars/Olympus").has_value());
    EXPECT_FALSE(TimeZone::named("").has_value());
    EXPECT_FALSE(TimeZone::abbreviated("Asia/Tokyo").has_value());
}

TEST(TimeZoneTest, LocalZoneComesFromTheDeviceProfile) {
    sys::DeviceProfile saved = sys::DeviceProfile::current();
    sys::DeviceProfile p = saved;
    p.timeZoneName = "Asia/Seoul";
    sys::DeviceProfile::setCurrent(p);
    EXPECT_EQ(TimeZone::local().name(), "Asia/Seoul");
    sys::DeviceProfile::setCurrent(saved);
}

TEST(DateFormatterTest, PatternsInNamedZones) {
    EXPECT_EQ(formatter("yyyy/MM/dd HH:mm:ss", "JST").stringFromDate(Date(kNewYearsEveTokyo)), "2024/12/31 23:59:59");
    EXPECT_EQ(formatter("yyyy/MM/dd HH:mm:ss", "UTC").stringFromDate(Date(kNewYearsEveTokyo)), "2024/12/31 14:59:59");
    EXPECT_EQ(formatter("yyyy-MM-dd'T'HH:mm:ss", "America/New_York").stringFromDate(Date(kNewYearsEveTokyo)),
              "2024-12-31T09:59:59");
    // One second later Tokyo is in the new year.
    EXPECT_EQ(formatter("yyyy/MM/dd HH:mm:ss", "JST").stringFromDate(Date(kNewYearsEveTokyo + 1)),
              "2025/01/01 00:00:00");
}

TEST(DateFormatterTest, CalendarYearAndWeekYearDifferOnDecember31) {
    // "yyyy" is the year of the date; "YYYY" the year its week belongs to.
    EXPECT_EQ(formatter("yyyy/MM/dd", "JST").stringFromDate(Date(kNewYearsEveTokyo)), "2024/12/31");
    EXPECT_EQ(formatter("YYYY/MM/dd", "JST").stringFromDate(Date(kNewYearsEveTokyo)), "2025/12/31");
}

TEST(DateFormatterTest, SummerTimeChanges) {
    auto f = formatter("yyyy-MM-dd HH:mm:ss", "America/New_York");
    EXPECT_EQ(f.stringFromDate(Date(1710053999)), "2024-03-10 01:59:59");
    EXPECT_EQ(f.stringFromDate(Date(1710054000)), "2024-03-10 03:00:00");
    // In the autumn 01:30 happens twice; either is a fair reading.
    auto twice = f.dateFromString("2024-11-03 01:30:00");
    ASSERT_TRUE(twice.has_value());
    EXPECT_TRUE(*twice == Date(1730611800) || *twice == Date(1730615400));
    // In the spring 02:30 never happens: refused, as the parse is strict.
    EXPECT_FALSE(f.dateFromString("2024-03-10 02:30:00").has_value());
}

TEST(DateFormatterTest, ParsingIsStrict) {
    auto f = formatter("yyyy/MM/dd HH:mm:ss", "JST");
    EXPECT_EQ(f.dateFromString("2024/12/31 23:59:59"), Date(kNewYearsEveTokyo));
    EXPECT_FALSE(f.dateFromString("2024/12/31 23:59:59 trailing").has_value());
    EXPECT_FALSE(f.dateFromString("2024/02/30 10:00:00").has_value());
    EXPECT_FALSE(f.dateFromString("").has_value());
    EXPECT_FALSE(f.dateFromString("yesterday").has_value());

    auto iso = formatter("yyyy-MM-dd'T'HH:mm:ss", "UTC");
    EXPECT_EQ(iso.dateFromString("2024-12-31T14:59:59"), Date(kNewYearsEveTokyo));
}

TEST(DateFormatterTest, StylesAndTheLastSettingWins) {
    DateFormatter f;
    f.setLocale("en_US");
    f.setTimeZone(*TimeZone::named("JST"));
    EXPECT_EQ(f.stringFromDate(Date(kNewYearsEveTokyo)), "");  // nothing chosen yet
    f.setDateStyle(DateFormatter::Style::Medium);
    EXPECT_EQ(f.stringFromDate(Date(kNewYearsEveTokyo)), "Dec 31, 2024");
    f.setTimeStyle(DateFormatter::Style::Medium);
    std::string both = f.stringFromDate(Date(kNewYearsEveTokyo));
    EXPECT_EQ(both.rfind("Dec 31, 2024", 0), 0u) << both;
    EXPECT_NE(both.find("11:59:59"), std::string::npos) << both;
    EXPECT_NE(both.find("PM"), std::string::npos) << both;

    f.setDateFormat("MM/dd");
    EXPECT_EQ(f.stringFromDate(Date(kNewYearsEveTokyo)), "12/31");
    f.setDateStyle(DateFormatter::Style::Short);
    f.setTimeStyle(DateFormatter::Style::None);
    EXPECT_EQ(f.stringFromDate(Date(kNewYearsEveTokyo)), "12/31/24");

    f.setLocale("ja_JP");
    f.setDateStyle(DateFormatter::Style::Medium);
    EXPECT_EQ(f.stringFromDate(Date(kNewYearsEveTokyo)), "2024/12/31");
}

TEST(CalendarTest, ComponentsInAZone) {
    Calendar tokyo(*TimeZone::named("Asia/Tokyo"));
    sys::DateComponents c = tokyo.components(Date(kNewYearsEveTokyo + 0.9));
    EXPECT_EQ(c, (sys::DateComponents{2024, 12, 31, 23, 59, 59, 3}));
    Calendar utc(TimeZone::utc());
    EXPECT_EQ(utc.components(Date(kNewYearsEveTokyo)).hour, 14);
    EXPECT_EQ(utc.components(Date(0)), (sys::DateComponents{1970, 1, 1, 0, 0, 0, 5}));
    EXPECT_EQ(utc.components(Date(-1)).year, 1969);

    EXPECT_EQ(tokyo.dateFromComponents({2024, 12, 31, 23, 59, 59}), Date(kNewYearsEveTokyo));
    // Fields out of range carry over.
    EXPECT_EQ(utc.dateFromComponents({2024, 1, 32, 0, 0, 0}), utc.dateFromComponents({2024, 2, 1, 0, 0, 0}));
    EXPECT_EQ(utc.dateFromComponents({2025, 1, 1, 0, 0, 0})->timeIntervalSince1970(), 1735689600.0);
}
