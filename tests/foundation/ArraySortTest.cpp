#include "foundation/ArraySort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <numeric>
#include <random>
#include <thread>

namespace {

// The sort mode is process-wide; each test sets what it needs and leaves "old".
class ArraySortTest : public ::testing::Test {
protected:
    void TearDown() override { ArraySort::setSortMode(ArraySort::kOld); }

    static std::vector<std::string> sorted(std::vector<std::string> keys, int mode, bool isNSData = false) {
        ArraySort::setSortMode(mode);
        EXPECT_TRUE(ArraySort::quickSortArray(keys, nullptr, nullptr, isNSData));
        return keys;
    }
    static int cmp(const char* a, const char* b, int mode = ArraySort::kOld) { return ArraySort::compare(a, b, mode, false); }
};

using V = std::vector<std::string>;

}  // namespace

TEST_F(ArraySortTest, OldModeNumbersOfUpToEightDigitsComeFirst) {
    EXPECT_EQ(sorted({"file10", "file2", "file1"}, ArraySort::kOld), (V{"file1", "file2", "file10"}));
    // Leading zeros do not count: the comparison goes on to the next token.
    EXPECT_EQ(cmp("file010", "file10"), 0);
    EXPECT_LT(cmp("file010a", "file10b"), 0);
    // Numbers sort before every other byte, bytes are unsigned.
    EXPECT_LT(cmp("9", "!"), 0);
    EXPECT_LT(cmp("a", "\xE3\x81\x82"), 0);
    EXPECT_LT(cmp("page", "page1"), 0);
    // A run of nine digits: its first digit is a character, the other eight a
    // number. As a character "1" ranks after "/"; a number would rank before.
    EXPECT_GT(cmp("a123456789", "a/"), 0);
    EXPECT_LT(cmp("a12345678", "a/"), 0);
    EXPECT_LT(cmp("a123456789", "a123456790"), 0);
    EXPECT_LT(cmp("B", "a"), 0);
}

TEST_F(ArraySortTest, NaturalFastOrdersPunctuationNumbersLetters) {
    const int m = ArraySort::kNaturalFast;
    EXPECT_EQ(sorted({"vol2", "vol 2", "vol10", "vol1"}, m), (V{"vol 2", "vol1", "vol2", "vol10"}));
    EXPECT_GT(cmp("x_1", "x1", m), 0);
    EXPECT_LT(cmp("x-1", "x1", m), 0);  // "-" is punctuation
    EXPECT_LT(cmp("z", "\xC3\xA9", m), 0);  // bytes from 128 up rank with letters, above them
    // A run of 20 digits is no number: between numbers and letters.
    const std::string twenty = "a" + std::string(20, '1');
    EXPECT_LT(cmp("a5", twenty.c_str(), m), 0);
    EXPECT_LT(cmp(twenty.c_str(), "ab", m), 0);
    // 19 digits saturate at the largest signed 64-bit number.
    EXPECT_LT(cmp("9999999999999999999a", "9300000000000000000b", m), 0);
    EXPECT_LT(cmp("9223372036854775806", "9223372036854775807", m), 0);
    EXPECT_EQ(cmp("00012", "12", m), 0);
    EXPECT_LT(cmp("B", "a", m), 0);
}

TEST_F(ArraySortTest, NaturalModeNormalisesAndRanksSymbolsNumbersLetters) {
    const int m = ArraySort::kNatural;
    // The full-width two reads as 2 after NFKC; the original keys come back.
    EXPECT_EQ(sorted({"file10", "ｆｉｌｅ２", "file1"}, m), (V{"file1", "ｆｉｌｅ２", "file10"}));
    EXPECT_EQ(sorted({"abc", "1abc", "!abc"}, m), (V{"!abc", "1abc", "abc"}));
    EXPECT_EQ(sorted({"12b", "12a"}, m), (V{"12a", "12b"}));
    // An ended name keeps its last token's flags: a1 (number) after a1- (symbol).
    EXPECT_LT(cmp("a1-", "a1", m), 0);
    EXPECT_LT(cmp("a1", "a", m), 0);  // and a1 (number) before a (letter)
    // Unicode symbols rank with punctuation, decimal digits of other scripts
    // with numbers.
    EXPECT_LT(cmp("\xE2\x82\xAC" "5", "1", m), 0);        // € (Sc)
    EXPECT_LT(cmp("\xD9\xA1", "a", m), 0);                // ١ (Nd) before a letter
    EXPECT_LT(cmp("B", "a", m), 0);
    // A broken sequence ends the name: nothing is read past it.
    EXPECT_EQ(cmp("a\xFFzzz", "a", m), 0);
    EXPECT_EQ(cmp("x\xE3\x81", "x", m), 0);
    EXPECT_EQ(cmp("x\xC3", "x", m), 0);
    EXPECT_EQ(cmp("", "", m), 0);
    // Byte keys in this mode follow the naturalFast rules.
    EXPECT_EQ(sorted({"vol2", "vol 2"}, m, true), (V{"vol 2", "vol2"}));
}

TEST_F(ArraySortTest, ByteModeIsStrcmp) {
    EXPECT_EQ(sorted({"File2", "File10", "file1"}, ArraySort::kBytes), (V{"File10", "File2", "file1"}));
    EXPECT_LT(cmp("z", "\xC3\xA9", ArraySort::kBytes), 0);
    EXPECT_EQ(sorted({"b", "a"}, 7), (V{"a", "b"}));  // unknown modes compare bytes
}

TEST_F(ArraySortTest, CarriedArraysStayAligned) {
    for (int mode = 0; mode < 4; ++mode) {
        ArraySort::setSortMode(mode);
        V keys{"c10", "a", "c2"};
        std::vector<int64_t> sizes{10, 1, 2};
        std::vector<std::map<std::string, std::string>> infos{{{"name", "c10"}}, {{"name", "a"}}, {{"name", "c2"}}};
        ASSERT_TRUE(ArraySort::quickSortArray(keys, &sizes, &infos, false));
        for (size_t i = 0; i < keys.size(); ++i) {
            EXPECT_EQ(infos[i]["name"], keys[i]) << mode;
            EXPECT_EQ(sizes[i], keys[i] == "a" ? 1 : keys[i] == "c2" ? 2 : 10) << mode;
        }
        EXPECT_EQ(keys[0], "a");
    }
    // Byte keys with their NUL, as page readers pass them.
    ArraySort::setSortMode(ArraySort::kNaturalFast);
    V pages{std::string("p10.jpg\0", 8), std::string("p9.jpg\0", 7)};
    std::vector<int> global{0, 1};
    ASSERT_TRUE(ArraySort::quickSortArray(pages, &global, true));
    EXPECT_EQ(global, (std::vector<int>{1, 0}));
}

TEST_F(ArraySortTest, MismatchedCarriedArrayIsRefused) {
    V keys{"b", "a"};
    std::vector<int> shorter{1};
    EXPECT_FALSE(ArraySort::sortFileListArrayNSString(keys, &shorter));
    EXPECT_EQ(keys, (V{"b", "a"}));
    std::vector<double> values{2, 1};
    EXPECT_FALSE(ArraySort::sortDoubleArray(values, &shorter, nullptr, false));
}

TEST_F(ArraySortTest, RandomNamesSortAndStayAPermutation) {
    std::mt19937 rng(1234);
    const char* pieces[] = {"a", "B", "1", "01", "10", "2", " ", "-", "_", "!", "\xEF\xBC\x92", "\xE3\x81\x82",
                            "\xE2\x82\xAC", "123456789", "\xFF", "9999999999999999999999", "."};
    for (int mode = 0; mode < 4; ++mode) {
        ArraySort::setSortMode(mode);
        for (size_t n : {0u, 1u, 2u, 3u, 17u, 500u}) {
            V keys;
            for (size_t i = 0; i < n; ++i) {
                std::string k;
                for (size_t p = rng() % 5; p > 0; --p) k += pieces[rng() % std::size(pieces)];
                keys.push_back(k);
            }
            const V original = keys;
            std::vector<size_t> index(n);
            std::iota(index.begin(), index.end(), 0);
            ASSERT_TRUE(ArraySort::sortFileListArrayNSString(keys, &index));
            for (size_t i = 0; i < n; ++i) ASSERT_EQ(keys[i], original[index[i]]);
            std::vector<size_t> seen = index;
            std::sort(seen.begin(), seen.end());
            for (size_t i = 0; i < n; ++i) ASSERT_EQ(seen[i], i);
            if (mode == ArraySort::kNatural) continue;  // its order is checked on normalised keys below
            for (size_t i = 1; i < n; ++i) {
                ASSERT_LE(ArraySort::compare(keys[i - 1].c_str(), keys[i].c_str(), mode, false), 0)
                    << mode << ": " << keys[i - 1] << " / " << keys[i];
            }
        }
    }
}

TEST_F(ArraySortTest, DegenerateInputsSortWithoutDeepStacks) {
    ArraySort::setSortMode(ArraySort::kOld);
    for (int shape = 0; shape < 3; ++shape) {
        V keys;
        for (int i = 0; i < 20000; ++i) {
            const int v = shape == 0 ? i : shape == 1 ? 20000 - i : 7;
            keys.push_back("p" + std::to_string(v));
        }
        ASSERT_TRUE(ArraySort::sortFileListArrayNSString(keys, nullptr));
        for (size_t i = 1; i < keys.size(); ++i) ASSERT_LE(ArraySort::compare(keys[i - 1].c_str(), keys[i].c_str(), 0, false), 0);
    }
}

TEST_F(ArraySortTest, EncodedNamesSortByTheirDecodedText) {
    ArraySort::setSortMode(ArraySort::kOld);
    V names{"vol%2010.zip", "vol%202.zip", "%E6%BC%AB.zip", "bad%zz.zip"};
    std::vector<int> ids{10, 2, 3, 4};
    ASSERT_TRUE(ArraySort::sortFileListArrayNSStringEncoded(names, &ids));
    // "bad%zz" does not decode and sorts as it is; %E6%BC%AB is 漫.
    EXPECT_EQ(names, (V{"bad%zz.zip", "vol%202.zip", "vol%2010.zip", "%E6%BC%AB.zip"}));
    EXPECT_EQ(ids, (std::vector<int>{4, 2, 10, 3}));
}

TEST_F(ArraySortTest, NumberSortsCarryArraysBothWays) {
    std::vector<int64_t> dates{30, 10, INT64_MIN, 20, INT64_MAX};
    std::vector<std::string> items{"c", "a", "min", "b", "max"};
    std::vector<int> rows{3, 1, 0, 2, 4};
    ASSERT_TRUE(ArraySort::sortIntegerArray(dates, &items, &rows, false));
    EXPECT_EQ(items, (std::vector<std::string>{"min", "a", "b", "c", "max"}));
    EXPECT_EQ(rows, (std::vector<int>{0, 1, 2, 3, 4}));
    ASSERT_TRUE(ArraySort::sortIntegerArray(dates, &items, nullptr, true));
    EXPECT_EQ(items, (std::vector<std::string>{"max", "c", "b", "a", "min"}));

    std::vector<double> sizes{2.5, -1.0, 2.25};
    std::vector<char> tags{'x', 'y', 'z'};
    ASSERT_TRUE(ArraySort::sortDoubleArray(sizes, &tags, nullptr, true));
    EXPECT_EQ(tags, (std::vector<char>{'x', 'z', 'y'}));
}

TEST_F(ArraySortTest, ModeChangesDuringASortDoNotMixOrders) {
    std::atomic<bool> stop{false};
    std::thread flipper([&] {
        for (int i = 0; !stop.load(); ++i) ArraySort::setSortMode(i % 2 ? ArraySort::kOld : ArraySort::kBytes);
    });
    for (int round = 0; round < 50; ++round) {
        V keys;
        for (int i = 0; i < 300; ++i) keys.push_back("f" + std::to_string((i * 7919) % 300));
        ASSERT_TRUE(ArraySort::sortFileListArrayNSString(keys, nullptr));
        bool inOld = true, inBytes = true;
        for (size_t i = 1; i < keys.size(); ++i) {
            inOld = inOld && ArraySort::compare(keys[i - 1].c_str(), keys[i].c_str(), ArraySort::kOld, false) <= 0;
            inBytes = inBytes && ArraySort::compare(keys[i - 1].c_str(), keys[i].c_str(), ArraySort::kBytes, false) <= 0;
        }
        ASSERT_TRUE(inOld || inBytes);
    }
    stop = true;
    flipper.join();
}
