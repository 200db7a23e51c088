#include "foundation/LanguageTables.h"

#include "tests/support/TestHome.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace {

void writeFile(const std::string& path, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

std::string utf16(const std::u16string& text, bool bigEndian, bool bom) {
    std::string out;
    auto put = [&](char16_t u) {
        char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
        if (bigEndian) {
            out.push_back(hi);
            out.push_back(lo);
        } else {
            out.push_back(lo);
            out.push_back(hi);
        }
    };
    if (bom) put(0xFEFF);
    for (char16_t u : text) put(u);
    return out;
}

}  // namespace

TEST(LanguageTablesParse, EntriesCommentsAndEscapes) {
    auto r = LanguageTables::parse(
        "/* header comment\n spanning lines */\n"
        "\"Today\" = \"Today\";\n"
        "// line comment \"ignored\" = \"x\";\n"
        "\"quote\" = \"say \\\"hi\\\"\\n\\tdone \\\\ end\";\n"
        "\"unicode\" = \"\\U65E5\\u672c\";\n"
        "\"emoji\" = \"\\UD83D\\UDE00\";\n"
        "bare_key = bare.value;\n"
        "\"self\";\n"
        "\"Today\" = \"Later wins\";\n");
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.entries.at("Today"), "Later wins");
    EXPECT_EQ(r.entries.at("quote"), "say \"hi\"\n\tdone \\ end");
    EXPECT_EQ(r.entries.at("unicode"), "日本");
    EXPECT_EQ(r.entries.at("emoji"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(r.entries.at("bare_key"), "bare.value");
    EXPECT_EQ(r.entries.at("self"), "self");
    EXPECT_EQ(r.entries.count("line comment \"ignored\""), 0u);
    EXPECT_EQ(r.entries.size(), 6u);
}

TEST(LanguageTablesParse, ByteOrderMarksAndUtf16) {
    std::u16string text = u"\"Days\" = \"%d 日\";\n\"k\" = \"v\";";
    for (bool big : {false, true}) {
        for (bool bom : {true, false}) {
            auto r = LanguageTables::parse(utf16(text, big, bom));
            EXPECT_EQ(r.error, "") << big << bom;
            EXPECT_EQ(r.entries["Days"], "%d 日") << big << bom;
            EXPECT_EQ(r.entries["k"], "v");
        }
    }
    auto r8 = LanguageTables::parse("\xEF\xBB\xBF\"a\" = \"\xC3\xA9\";");
    EXPECT_EQ(r8.error, "");
    EXPECT_EQ(r8.entries["a"], "é");
}

TEST(LanguageTablesParse, MalformedTextKeepsWhatCameBefore) {
    auto missingSemicolon = LanguageTables::parse("\"a\" = \"1\";\n\"b\" = \"2\"\n\"c\" = \"3\";");
    EXPECT_NE(missingSemicolon.error, "");
    EXPECT_EQ(missingSemicolon.entries.size(), 1u);
    EXPECT_EQ(missingSemicolon.entries["a"], "1");

    auto unterminated = LanguageTables::parse("\"a\" = \"1\";\n\"b\" = \"never closed;");
    EXPECT_NE(unterminated.error, "");
    EXPECT_EQ(unterminated.entries.size(), 1u);

    auto comment = LanguageTables::parse("\"a\" = \"1\"; /* open");
    EXPECT_NE(comment.error, "");
    EXPECT_EQ(comment.entries.size(), 1u);

    EXPECT_EQ(LanguageTables::parse("").entries.size(), 0u);
    EXPECT_EQ(LanguageTables::parse("").error, "");
    // A lone trailing backslash must not read past the end.
    EXPECT_NE(LanguageTables::parse("\"a\" = \"\\").error, "");
}

class LanguageTablesDir : public ::testing::Test {
protected:
    void SetUp() override {
        writeFile(dir.file("en.lproj/Localizable.strings"), "\"Today\" = \"Today\";");
        writeFile(dir.file("ja.lproj/Localizable.strings"), "\"Today\" = \"今日\";");
        writeFile(dir.file("zh-Hant.lproj/Localizable.strings"), "\"Today\" = \"今天\";");
        std::filesystem::create_directories(dir.file("ko.lproj"));  // folder without a table
        LanguageTables::shared().reset(dir.path());
    }
    void TearDown() override { LanguageTables::shared().reset(); }
    test::TempDir dir{"lang"};
};

TEST_F(LanguageTablesDir, LookupAndAvailability) {
    auto& t = LanguageTables::shared();
    EXPECT_EQ(t.lookup("ja", "Today").value_or(""), "今日");
    EXPECT_FALSE(t.lookup("ja", "Missing").has_value());
    EXPECT_FALSE(t.lookup("fr", "Today").has_value());
    EXPECT_TRUE(t.hasLanguage("ko"));
    EXPECT_FALSE(t.lookup("ko", "Today").has_value());
    EXPECT_FALSE(t.hasLanguage("../en"));
    EXPECT_FALSE(t.hasLanguage(""));
    EXPECT_EQ(t.availableLanguages(), (std::vector<std::string>{"en", "ja", "ko", "zh-Hant"}));
}

TEST_F(LanguageTablesDir, BestLanguageForPreferredList) {
    auto& t = LanguageTables::shared();
    EXPECT_EQ(t.bestLanguage({"ja-JP"}), "ja");
    EXPECT_EQ(t.bestLanguage({"zh-Hant-TW"}), "zh-Hant");
    EXPECT_EQ(t.bestLanguage({"zh-TW"}), "zh-Hant");
    EXPECT_EQ(t.bestLanguage({"zh_HK"}), "zh-Hant");
    EXPECT_EQ(t.bestLanguage({"zh-CN"}), "en");  // no simplified table here
    EXPECT_EQ(t.bestLanguage({"fr-FR", "ja"}), "ja");
    EXPECT_EQ(t.bestLanguage({"fr-FR"}), "en");
    EXPECT_EQ(t.bestLanguage({}), "en");
}
