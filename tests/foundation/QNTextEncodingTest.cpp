#include "foundation/QNCharsetArray.h"
#include "foundation/QNTextEncoding.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <set>
#include <thread>

namespace {

// The default character set is process-wide: every test starts without one.
class QNTextEncodingTest : public ::testing::Test {
protected:
    void SetUp() override { QNTextEncoding::setDefaultCharset(std::nullopt); }
    void TearDown() override { QNTextEncoding::setDefaultCharset(std::nullopt); }
};

// 日本語.zip in Shift-JIS: not UTF-8.
const char kJapaneseSJIS[] = "\x93\xFA\x96\x7B\x8C\xEA.zip";
// ソ and 表 have 0x5C ("\") as their second byte.
const char kSoAndHyouSJIS[] = "\x83\x5C\x95\x5C";

}  // namespace

TEST_F(QNTextEncodingTest, CharsetListsHaveDefaultThen87NamesWith43Titles) {
    const auto names = QNCharsetArray::getCharsetArray();
    const auto titles = QNCharsetArray::getCharsetTitleArray();
    ASSERT_EQ(names.size(), 88u);
    ASSERT_EQ(titles.size(), 88u);
    EXPECT_EQ(names[0], "Default");
    EXPECT_EQ(titles[0], "Default");
    EXPECT_EQ(names[1], "shift_jis");
    EXPECT_EQ(titles[1], "Japanease(ShiftJIS)");
    EXPECT_EQ(names[87], "x-mac-dingbats");
    EXPECT_EQ(names[81], "x-mac-roman-latin1");
    EXPECT_EQ(titles[81], "Mac Roman");
    EXPECT_EQ(titles[42], "Latin Alphabet 9");
    EXPECT_EQ(titles[43], "utf-8");
    int differing = 0;
    for (size_t i = 1; i < names.size(); ++i) differing += names[i] != titles[i];
    EXPECT_EQ(differing, 43);
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), 88u);
}

TEST_F(QNTextEncodingTest, EveryListedNameConvertsExceptTheDocumentedUnknownOnes) {
    const std::set<std::string> unknown = {"x-mac-croatian", "x-mac-icelandic", "x-mac-romanian",
                                           "x-nextstep", "x-mac-symbol", "x-mac-dingbats"};
    const auto names = QNCharsetArray::getCharsetArray();
    for (size_t i = 1; i < names.size(); ++i) {
        EXPECT_EQ(QNTextEncoding::isKnownCharset(names[i]), unknown.count(names[i]) == 0) << names[i];
    }
    EXPECT_FALSE(QNTextEncoding::isKnownCharset("Default"));
    EXPECT_FALSE(QNTextEncoding::isKnownCharset(""));
    EXPECT_TRUE(QNTextEncoding::isKnownCharset("Shift_JIS"));  // any case
    EXPECT_FALSE(QNTextEncoding::stringWithCString("abc", "x-mac-croatian").has_value());
    EXPECT_FALSE(QNTextEncoding::stringWithCString("abc", "no-such-set").has_value());
}

TEST_F(QNTextEncodingTest, MacCharsetTitles) {
    EXPECT_EQ(QNCharsetArray::getCharSetNameWithIANACharSetname("macintosh"), "西ヨーロッパ言語");
    EXPECT_EQ(QNCharsetArray::getCharSetNameWithIANACharSetname("x-mac-japanese"), "日本語(Mac)");
    EXPECT_EQ(QNCharsetArray::getCharSetNameWithIANACharSetname("x-mac-trad-chinese"), "繁体字中国語 (Mac)");
    EXPECT_FALSE(QNCharsetArray::getCharSetNameWithIANACharSetname("shift_jis").has_value());
}

TEST_F(QNTextEncodingTest, ShiftJISKeepsBackslashAndTildeAndDecodes5CSecondBytes) {
    EXPECT_EQ(QNTextEncoding::stringWithCString(kSoAndHyouSJIS, "shift_jis"), "ソ表");
    EXPECT_EQ(QNTextEncoding::stringWithCString("a\\b~c", "shift_jis"), "a\\b~c");
    EXPECT_EQ(QNTextEncoding::stringWithCString("\x83\x5C\\~", "cp932"), "ソ\\~");
    EXPECT_EQ(QNTextEncoding::stringWithCString(kSoAndHyouSJIS, "x-mac-japanese"), "ソ表");
    // Detection finds it too (these bytes are not UTF-8).
    std::string enc;
    EXPECT_EQ(QNTextEncoding::stringWithCString("dir\\\x83\x5C.jpg", &enc), "dir\\ソ.jpg");
    EXPECT_EQ(enc, "shift_jis");
    // And it writes back the same bytes.
    EXPECT_EQ(QNTextEncoding::dataWithString("ソ表\\~", "shift_jis"), std::string(kSoAndHyouSJIS) + "\\~");
}

TEST_F(QNTextEncodingTest, WithoutDefaultShiftJISNamesAreDetected) {
    std::string enc = "stale";
    EXPECT_EQ(QNTextEncoding::stringWithCString(kJapaneseSJIS, &enc), "日本語.zip");
    EXPECT_EQ(enc, "shift_jis");
    EXPECT_EQ(QNTextEncoding::stringWithCString("caf\xC3\xA9", &enc), "café");
    EXPECT_EQ(enc, "utf-8");
    EXPECT_EQ(QNTextEncoding::stringWithCString("", &enc), "");
    EXPECT_FALSE(QNTextEncoding::stringWithCString(nullptr, &enc).has_value());
}

TEST_F(QNTextEncodingTest, DefaultCharsetWinsOverValidUTF8) {
    // C3 A9 is "é" in UTF-8 and two half-width katakana in Shift-JIS.
    QNTextEncoding::setDefaultCharset(std::string("shift_jis"));
    std::string enc;
    EXPECT_EQ(QNTextEncoding::stringWithCString("\xC3\xA9", &enc), "\uFF83\uFF69");
    EXPECT_EQ(enc, "shift_jis");
    // Bytes the default cannot read fall through to UTF-8.
    EXPECT_EQ(QNTextEncoding::stringWithCString("\xF0\x9F\x98\x80", &enc), "😀");
    EXPECT_EQ(enc, "utf-8");
    // A default without a converter is skipped.
    QNTextEncoding::setDefaultCharset(std::string("x-mac-romanian"));
    EXPECT_EQ(QNTextEncoding::stringWithCString("\xC3\xA9", &enc), "é");
}

TEST_F(QNTextEncodingTest, LastStepTriesPlatformOrder) {
    std::string enc;
    // EUC-JP 日本: the FC CB pair has no Shift-JIS mapping.
    EXPECT_EQ(QNTextEncoding::stringWithCString("\xC6\xFC\xCB\xDC", &enc), "日本");
    EXPECT_EQ(enc, "euc-jp");
    // Latin-1 é before a dot is neither UTF-8 nor any CJK pair: windows-1252.
    EXPECT_EQ(QNTextEncoding::stringWithCString("caf\xE9.zip", &enc), "café.zip");
    EXPECT_EQ(enc, "windows-1252");

    const auto order = QNTextEncoding::getAvailableStringEncodings();
    ASSERT_GE(order.size(), 60u);
    EXPECT_EQ(order[0], "shift_jis");
    EXPECT_EQ(order[1], "euc-jp");
    const auto pos = [&](const char* n) { return std::find(order.begin(), order.end(), n) - order.begin(); };
    EXPECT_LT(pos("gb2312"), pos("gb18030"));
    EXPECT_LT(pos("gb18030"), pos("windows-1252"));
    EXPECT_LT(pos("windows-1252"), pos("utf-16"));
    for (const auto& n : order) EXPECT_TRUE(QNTextEncoding::isKnownCharset(n)) << n;
    EXPECT_EQ(std::set<std::string>(order.begin(), order.end()).size(), order.size());
}

TEST_F(QNTextEncodingTest, NamedDecodingFailsOnUnmappedBytes) {
    EXPECT_FALSE(QNTextEncoding::stringWithCString("caf\xE9", "us-ascii").has_value());
    EXPECT_FALSE(QNTextEncoding::stringWithCString("\x80", "shift_jis").has_value());
    EXPECT_FALSE(QNTextEncoding::stringWithCString("\xC0\xAF", "utf-8").has_value());  // overlong "/"
    EXPECT_EQ(QNTextEncoding::stringWithCString("caf\xE9", "ISO-8859-1"), "café");
    EXPECT_EQ(QNTextEncoding::stringWithCString("\xA2\xB6", "x-mac-ukrainian"), "Ґґ");
    EXPECT_EQ(QNTextEncoding::stringWithCString("\xB0\xA1", "cp949"), "가");
    EXPECT_EQ(QNTextEncoding::stringWithCString("\xA4\xA4", "big5"), "中");
    EXPECT_FALSE(QNTextEncoding::dataWithString("한", "shift_jis").has_value());
}

TEST_F(QNTextEncodingTest, LanguageRuleComparesWholeText) {
    QNTextEncoding::setDefaultLanguage(std::string("ko"));
    EXPECT_EQ(QNTextEncoding::defaultCharset(), "shift_jis");
    QNTextEncoding::setDefaultLanguage(std::string("kr"));
    EXPECT_EQ(QNTextEncoding::defaultCharset(), "euc-kr");
    QNTextEncoding::setDefaultLanguage(std::string("zh-Hans"));
    EXPECT_EQ(QNTextEncoding::defaultCharset(), "gb18030");
    QNTextEncoding::setDefaultLanguage(std::string("zh-Hant"));
    EXPECT_EQ(QNTextEncoding::defaultCharset(), "big5");
    QNTextEncoding::setDefaultLanguage(std::string("zh-Hant-TW"));
    EXPECT_EQ(QNTextEncoding::defaultCharset(), "shift_jis");
    QNTextEncoding::setDefaultLanguage(std::nullopt);
    EXPECT_EQ(QNTextEncoding::defaultCharset(), "");
}

TEST_F(QNTextEncodingTest, OverlongDefaultIsIgnored) {
    QNTextEncoding::setDefaultCharset(std::string("big5"));
    QNTextEncoding::setDefaultCharset(std::string(127, 'x'));
    EXPECT_EQ(QNTextEncoding::defaultCharset(), "big5");
    QNTextEncoding::setDefaultCharset(std::string(126, 'x'));
    EXPECT_EQ(QNTextEncoding::defaultCharset(), std::string(126, 'x'));
    QNTextEncoding::setDefaultCharset(std::nullopt);
    EXPECT_EQ(QNTextEncoding::defaultCharset(), "");
}

TEST_F(QNTextEncodingTest, SystemLanguageFromEnvironment) {
    const char* vars[] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};
    std::vector<std::pair<std::string, std::optional<std::string>>> saved;
    for (const char* v : vars) {
        const char* old = std::getenv(v);
        saved.emplace_back(v, old ? std::optional<std::string>(old) : std::nullopt);
        ::unsetenv(v);
    }
    EXPECT_EQ(QNTextEncoding::systemPreferredLanguage(), "en");
    ::setenv("LANG", "ja_JP.UTF-8", 1);
    EXPECT_EQ(QNTextEncoding::systemPreferredLanguage(), "ja");
    ::setenv("LC_ALL", "zh_TW.UTF-8", 1);
    EXPECT_EQ(QNTextEncoding::systemPreferredLanguage(), "zh-Hant");
    ::setenv("LANGUAGE", "zh_CN:en", 1);
    EXPECT_EQ(QNTextEncoding::systemPreferredLanguage(), "zh-Hans");
    QNTextEncoding::setDefaultLanguage();
    EXPECT_EQ(QNTextEncoding::defaultCharset(), "gb18030");
    for (const auto& [name, value] : saved) {
        if (value) ::setenv(name.c_str(), value->c_str(), 1);
        else ::unsetenv(name.c_str());
    }
}

TEST_F(QNTextEncodingTest, DefaultChangesWhileWorkersDecode) {
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < 3; ++t) {
        workers.emplace_back([&] {
            while (!stop.load()) {
                auto s = QNTextEncoding::stringWithCString("\xC3\xA9");
                if (!s || (*s != "é" && *s != "\uFF83\uFF69")) ++bad;
            }
        });
    }
    for (int i = 0; i < 2000; ++i) {
        QNTextEncoding::setDefaultCharset(i % 2 ? std::optional<std::string>("shift_jis") : std::nullopt);
    }
    stop = true;
    for (auto& w : workers) w.join();
    EXPECT_EQ(bad.load(), 0);
}

TEST_F(QNTextEncodingTest, ASCIIOnly) {
    EXPECT_TRUE(QNTextEncoding::isASCIIOnlyString(""));
    EXPECT_TRUE(QNTextEncoding::isASCIIOnlyString("Vol.1 ~ [x]"));
    EXPECT_FALSE(QNTextEncoding::isASCIIOnlyString("caf\xC3\xA9"));
}
