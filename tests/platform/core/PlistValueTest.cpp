#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/core/PlistValue.h"

using sys::PlistArray;
using sys::PlistDictionary;
using sys::PlistValue;

namespace {

constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
constexpr auto kMin = std::numeric_limits<std::int64_t>::min();

}  // namespace

TEST(PlistValueTest, BoolValueOfStringsFollowsThePlatform) {
    for (const char* yes : {"YES", "yes", "true", "T", "t", "Y", "1", "9", "  +0001", "\t-007", "00000000002", " y"})
        EXPECT_TRUE(PlistValue(yes).boolValue()) << yes;
    for (const char* no : {"NO", "no", "false", "0", "00", "+0", "-0", "", "   ", "0x1", "0.5", "abc", "-", "on"})
        EXPECT_FALSE(PlistValue(no).boolValue()) << no;
}

TEST(PlistValueTest, BoolValueOfNumbersAndOtherTypes) {
    EXPECT_FALSE(PlistValue(0).boolValue());
    EXPECT_TRUE(PlistValue(-1).boolValue());
    EXPECT_TRUE(PlistValue(std::numeric_limits<std::uint64_t>::max()).boolValue());
    EXPECT_FALSE(PlistValue(0.0).boolValue());
    EXPECT_TRUE(PlistValue(0.25).boolValue());
    EXPECT_TRUE(PlistValue(true).boolValue());
    EXPECT_FALSE(PlistValue(false).boolValue());
    EXPECT_FALSE(PlistValue().boolValue());
    EXPECT_FALSE(PlistValue(sys::Date(5)).boolValue());
    EXPECT_FALSE(PlistValue(PlistArray{PlistValue(1)}).boolValue());
}

TEST(PlistValueTest, IntegerValueReadsLeadingDigitsAndSaturates) {
    EXPECT_EQ(PlistValue("42abc").integerValue(), 42);
    EXPECT_EQ(PlistValue("  -17").integerValue(), -17);
    EXPECT_EQ(PlistValue("+8").integerValue(), 8);
    EXPECT_EQ(PlistValue("abc").integerValue(), 0);
    EXPECT_EQ(PlistValue("- 5").integerValue(), 0);
    EXPECT_EQ(PlistValue("3.9").integerValue(), 3);
    EXPECT_EQ(PlistValue("9223372036854775807").integerValue(), kMax);
    EXPECT_EQ(PlistValue("-9223372036854775808").integerValue(), kMin);
    EXPECT_EQ(PlistValue("9223372036854775808").integerValue(), kMax);
    EXPECT_EQ(PlistValue("99999999999999999999999").integerValue(), kMax);
    EXPECT_EQ(PlistValue("-99999999999999999999999").integerValue(), kMin);

    EXPECT_EQ(PlistValue(3.9).integerValue(), 3);
    EXPECT_EQ(PlistValue(-3.9).integerValue(), -3);
    EXPECT_EQ(PlistValue(1e300).integerValue(), kMax);
    EXPECT_EQ(PlistValue(-1e300).integerValue(), kMin);
    EXPECT_EQ(PlistValue(std::nan("")).integerValue(), 0);
    EXPECT_EQ(PlistValue(true).integerValue(), 1);
    EXPECT_EQ(PlistValue(std::numeric_limits<std::uint64_t>::max()).integerValue(), kMax);
    EXPECT_EQ(PlistValue(std::numeric_limits<std::uint64_t>::max()).unsignedIntegerValue(),
              std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(PlistValue(-1).unsignedIntegerValue(), std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(PlistValue(sys::Date(100)).integerValue(), 0);
}

TEST(PlistValueTest, DoubleValueReadsTheLeadingNumber) {
    EXPECT_DOUBLE_EQ(PlistValue("3.5kg").doubleValue(), 3.5);
    EXPECT_DOUBLE_EQ(PlistValue(" -0.25").doubleValue(), -0.25);
    EXPECT_DOUBLE_EQ(PlistValue(".5").doubleValue(), 0.5);
    EXPECT_DOUBLE_EQ(PlistValue("1e3").doubleValue(), 1000.0);
    EXPECT_DOUBLE_EQ(PlistValue("2e").doubleValue(), 2.0);
    EXPECT_DOUBLE_EQ(PlistValue("2e-x").doubleValue(), 2.0);
    EXPECT_DOUBLE_EQ(PlistValue("abc").doubleValue(), 0.0);
    EXPECT_DOUBLE_EQ(PlistValue(".").doubleValue(), 0.0);
    EXPECT_TRUE(std::isinf(PlistValue("1e999").doubleValue()));
    EXPECT_DOUBLE_EQ(PlistValue("1e-999").doubleValue(), 0.0);
    EXPECT_DOUBLE_EQ(PlistValue(-7).doubleValue(), -7.0);
    EXPECT_DOUBLE_EQ(PlistValue(true).doubleValue(), 1.0);
}

TEST(PlistValueTest, EqualityIsTyped) {
    EXPECT_EQ(PlistValue(5), PlistValue(5u));
    EXPECT_EQ(PlistValue(5), PlistValue(5.0));
    EXPECT_NE(PlistValue(5), PlistValue(5.5));
    EXPECT_NE(PlistValue(5), PlistValue("5"));
    EXPECT_NE(PlistValue("1"), PlistValue(true));
    EXPECT_NE(PlistValue(1), PlistValue(true));
    EXPECT_EQ(PlistValue(true), PlistValue(true));
    // The same 64 bits mean different numbers.
    EXPECT_NE(PlistValue(-1), PlistValue(std::numeric_limits<std::uint64_t>::max()));
    EXPECT_NE(PlistValue(std::numeric_limits<std::uint64_t>::max()), PlistValue(-1));
    // 2^63 is not INT64_MAX, though a double cannot tell them apart.
    EXPECT_NE(PlistValue(kMax), PlistValue(9223372036854775808.0));
    EXPECT_NE(PlistValue("ab"), PlistValue::data("ab"));
    EXPECT_EQ(PlistValue(sys::Date(1.5)), PlistValue(sys::Date(1.5)));
    EXPECT_NE(PlistValue(sys::Date(1.5)), PlistValue(1.5));
    EXPECT_NE(PlistValue(), PlistValue(""));

    PlistValue a(PlistArray{PlistValue(1), PlistValue("x"), PlistValue(PlistDictionary{{"k", PlistValue(2)}})});
    PlistValue b(PlistArray{PlistValue(1.0), PlistValue("x"), PlistValue(PlistDictionary{{"k", PlistValue(2u)}})});
    PlistValue c(PlistArray{PlistValue(1), PlistValue("x"), PlistValue(PlistDictionary{{"k", PlistValue("2")}})});
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
}

TEST(PlistValueTest, TypedViewsOfTheWrongTypeAreEmpty) {
    PlistValue number(3);
    EXPECT_TRUE(number.asString().empty());
    EXPECT_TRUE(number.asArray().empty());
    EXPECT_TRUE(number.asDictionary().empty());
    EXPECT_TRUE(number.asData().empty());
    EXPECT_FALSE(number.asDate().has_value());
    EXPECT_EQ(number.arrayPointer(), nullptr);
    EXPECT_TRUE(number.at(0).isNull());
    EXPECT_TRUE(number.get("k").isNull());
    EXPECT_TRUE(number.isNumber());
    EXPECT_TRUE(PlistValue(false).isNumber());
    EXPECT_FALSE(PlistValue("3").isNumber());

    PlistValue list(PlistArray{PlistValue("a")});
    EXPECT_EQ(list.at(0).asString(), "a");
    EXPECT_TRUE(list.at(1).isNull());
    list.arrayPointer()->push_back(PlistValue(2));
    EXPECT_EQ(list.at(1).integerValue(), 2);
}

TEST(PlistValueTest, DictionaryGettersTreatWrongTypesAsAbsent) {
    PlistDictionary d;
    d.set("s", "text");
    d.set("n", 7);
    d.set("r", 2.75);
    d.set("b", true);
    d.set("ns", "12");
    d.set("bs", "YES");
    d.set("a", PlistArray{PlistValue(1)});
    d.set("dt", sys::Date(10));
    d.set("data", PlistValue::data("xyz"));

    EXPECT_EQ(d.getString("s"), "text");
    EXPECT_EQ(d.getString("n", "none"), "none");
    EXPECT_EQ(d.getString("missing", "none"), "none");
    EXPECT_EQ(d.getInteger("n"), 7);
    EXPECT_EQ(d.getInteger("r"), 2);
    EXPECT_EQ(d.getInteger("b"), 1);
    EXPECT_EQ(d.getInteger("ns", -1), -1);
    EXPECT_DOUBLE_EQ(d.getDouble("r"), 2.75);
    EXPECT_DOUBLE_EQ(d.getDouble("s", 1.5), 1.5);
    EXPECT_TRUE(d.getBool("b"));
    EXPECT_TRUE(d.getBool("n"));
    EXPECT_FALSE(d.getBool("bs"));
    EXPECT_TRUE(d.getBool("bs", true));
    // The loose reading is still there for "whatever is stored".
    EXPECT_TRUE(d.get("bs").boolValue());
    EXPECT_EQ(d.get("ns").integerValue(), 12);

    EXPECT_TRUE(d.getArray("a").has_value());
    EXPECT_FALSE(d.getArray("s").has_value());
    EXPECT_FALSE(d.getDictionary("a").has_value());
    EXPECT_EQ(d.getDate("dt"), sys::Date(10));
    EXPECT_FALSE(d.getDate("n").has_value());
    EXPECT_EQ(d.getData("data")->size(), 3u);
    EXPECT_FALSE(d.getData("s").has_value());
}

TEST(PlistValueTest, DictionaryKeepsKeysSortedAndNullRemoves) {
    PlistDictionary d;
    d.set("zeta", 1);
    d.set("Alpha", 2);
    d.set("beta", 3);
    d.set("_x", 4);
    EXPECT_EQ(d.keys(), (std::vector<std::string>{"Alpha", "_x", "beta", "zeta"}));

    d.set("beta", PlistValue());
    EXPECT_FALSE(d.contains("beta"));
    EXPECT_EQ(d.size(), 3u);
    EXPECT_TRUE(d.remove("zeta"));
    EXPECT_FALSE(d.remove("zeta"));

    d["new"] = "v";
    EXPECT_EQ(d.getString("new"), "v");
    d.set("Alpha", "replaced");
    EXPECT_EQ(d.getString("Alpha"), "replaced");
    EXPECT_EQ(d.find("nothing"), nullptr);
}
