#include "foundation/EncodeASCIIStringElements.h"
#include "foundation/OptimizeFilename.h"

#include <gtest/gtest.h>

#include <random>

TEST(OptimizeFilenameTest, LeadingGroupsAndSpacesGo) {
    std::optional<std::string> element;
    EXPECT_EQ(OptimizeFilename::getOptimizedString("[Group] (Vol) Name", &element), "Name");
    EXPECT_EQ(element, "Vol");
    EXPECT_EQ(OptimizeFilename::getOptimizedString("  【作者】（第1巻）［完］タイトル 上", &element), "タイトル 上");
    EXPECT_EQ(element, "完");
    // An empty group is removed but is no element.
    EXPECT_EQ(OptimizeFilename::getOptimizedString("()Name", &element), "Name");
    EXPECT_FALSE(element.has_value());
    // Groups later in the title stay.
    EXPECT_EQ(OptimizeFilename::getOptimizedString("Name (2019) [scan]", &element), "Name (2019) [scan]");
    EXPECT_FALSE(element.has_value());
    // The first closing mark ends the group.
    EXPECT_EQ(OptimizeFilename::getOptimizedString("[a]b]c"), "b]c");
    // An opening mark without its closing one stops the stripping.
    EXPECT_EQ(OptimizeFilename::getOptimizedString("[a] (unclosed name", &element), "(unclosed name");
    EXPECT_EQ(element, "a");
    // Marks of different pairs do not close each other.
    EXPECT_EQ(OptimizeFilename::getOptimizedString("(a] b"), "(a] b");
}

TEST(OptimizeFilenameTest, NothingLeftGivesTheWholeTitle) {
    EXPECT_EQ(OptimizeFilename::getOptimizedString("[Group]"), "[Group]");
    EXPECT_EQ(OptimizeFilename::getOptimizedString("[Group] (Vol) "), "[Group] (Vol) ");
    EXPECT_EQ(OptimizeFilename::getOptimizedString("   "), "   ");
    EXPECT_EQ(OptimizeFilename::getOptimizedString(""), "");
}

TEST(OptimizeFilenameTest, ExcludeRangeCountsCharactersAndIncludesTheEnd) {
    EXPECT_EQ(OptimizeFilename::subStringWithExcludeRange("abcdef", 0, 2), "def");
    EXPECT_EQ(OptimizeFilename::subStringWithExcludeRange("日本語abc", 0, 1), "語abc");
    EXPECT_EQ(OptimizeFilename::subStringWithExcludeRange("abc", 1, 0), "ac");
    EXPECT_EQ(OptimizeFilename::subStringWithExcludeRange("abc", 0, 10), "");
}

TEST(EncodeASCIIStringElementsTest, ScramblesReversibly) {
    EXPECT_EQ(EncodeASCIIStringElements::stringEncodeASCIIStringElements(""), "");
    EXPECT_EQ(EncodeASCIIStringElements::stringDecodeASCIIStringElements(""), "");

    const std::string id = "1AbC-xyz_09%zz";
    const std::string enc = EncodeASCIIStringElements::stringEncodeASCIIStringElements(id);
    EXPECT_NE(enc, id);
    EXPECT_EQ(enc.find('%'), std::string::npos);  // index 64 is written as "@"
    EXPECT_EQ(EncodeASCIIStringElements::stringDecodeASCIIStringElements(enc), id);

    // Separators pass through untouched in both directions.
    const std::string link = "abc/def:ghi.jkl";
    const std::string scrambled = EncodeASCIIStringElements::stringEncodeASCIIStringElements(link);
    for (size_t i : {3u, 7u, 11u}) EXPECT_EQ(scrambled[i], link[i]);
    EXPECT_EQ(EncodeASCIIStringElements::stringDecodeASCIIStringElements(scrambled), link);

    // "@" comes back as "%".
    EXPECT_EQ(EncodeASCIIStringElements::stringDecodeASCIIStringElements(
                  EncodeASCIIStringElements::stringEncodeASCIIStringElements("a@b")),
              "a%b");

    std::mt19937 rng(7);
    const std::string alphabet = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz_-%/:.?=&";
    for (int n = 0; n < 200; ++n) {
        std::string s;
        for (size_t k = rng() % 40; k > 0; --k) s += alphabet[rng() % alphabet.size()];
        ASSERT_EQ(EncodeASCIIStringElements::stringDecodeASCIIStringElements(
                      EncodeASCIIStringElements::stringEncodeASCIIStringElements(s)),
                  s);
    }
}
